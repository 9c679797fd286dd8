// The real executable under hostile input at each of its entry points, with
// the simulator playing the desktop application: frames on standard input
// and on the pipe, the runtime endpoint file, the registration documents and
// the command line. Every case checks the specified answer: exit code,
// standard output byte for byte (nothing, the relayed frames, or the one
// error reply), standard error empty on its own pipe, and what reached the
// application.
#include <gtest/gtest.h>

#include "integration/host_fixture.h"
#include "integration/simulator.h"
#include "main/framing.h"
#include "support/memory_channel.h"
#include "windows/unique_handle.h"

namespace host::test {
namespace {

std::string nested(int depth, std::string_view inner = "") {
  return std::string(depth, '[') + std::string(inner) + std::string(depth, ']');
}

std::wstring hex(std::string_view bytes) {
  static constexpr wchar_t digits[] = L"0123456789abcdef";
  std::wstring out;
  for (const char c : bytes) {
    out.push_back(digits[std::uint8_t(c) >> 4]);
    out.push_back(digits[std::uint8_t(c) & 15]);
  }
  return out;
}

std::string read_bytes(const std::wstring& path) {
  win::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
  if (!file) return "<unreadable " + std::to_string(::GetLastError()) + ">";
  std::string bytes;
  char chunk[65536];
  DWORD got = 0;
  while (::ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  return bytes;
}

bool has_line_starting(const std::vector<std::string>& lines, std::string_view prefix) {
  for (const auto& line : lines) {
    if (line.starts_with(prefix)) return true;
  }
  return false;
}

// A bad frame from either side is no failure of the relay: it ends quietly.
// Every case ends in a refused frame, so that the host stops on its own
// while the peer keeps its end open.
struct FrameCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> forwarded;  // bodies, compact, that must come out on the other side
};

const std::vector<FrameCase>& frame_cases() {
  static const std::vector<FrameCase> cases = {
      {"length 0xFFFFFFFF", header_bytes(0xFFFFFFFF) + "[1]", {}},
      {"length 0x80000000", header_bytes(0x80000000) + "[1]", {}},
      {"small length in the wrong byte order", std::string("\x00\x00\x00\x03", 4) + "[1]", {}},
      {"127 nested arrays pass, then a zero length", frame_bytes(nested(127, " 7 ")) + header_bytes(0),
       {nested(127, "7")}},
      {"128 nested arrays", frame_bytes(nested(128)), {}},
      {"overlong UTF-8 in a string", frame_bytes("\"\xC0\xAF\""), {}},
      {"lone surrogate escape", frame_bytes(R"(["\uD83D"])"), {}},
      {"byte-order mark", frame_bytes("\xEF\xBB\xBF[]"), {}},
      {"JSON followed by NUL", frame_bytes(std::string("[]\0", 3)), {}},
      {"number beyond the float range", frame_bytes("[1e309]"), {}},
      {"body with a stray NUL inside", frame_bytes(std::string("[1,\0]", 5)), {}},
      {"a good frame, then a 4 GiB header", frame_bytes(R"({"b":1, "a":2})") + header_bytes(0xFFFFFFFF),
       {R"({"a":2,"b":1})"}},
  };
  return cases;
}

std::string frames_of(const std::vector<std::string>& bodies) {
  std::string out;
  for (const auto& b : bodies) out += frame_bytes(b);
  return out;
}

class HostileInput : public HostFixture {
 public:
  // For the arrangements of the case tables.
  using HostFixture::app_dir;
  using HostFixture::write_app_file;

  std::unique_ptr<Simulator> start_app(std::vector<std::wstring> args) {
    auto app = std::make_unique<Simulator>(appdata(), std::move(args));
    EXPECT_TRUE(app->ready());
    return app;
  }

  // The runtime endpoint file the simulator published, with `member`
  // (a name, a colon and a value) added before its closing brace.
  void add_to_runtime_file(std::string_view member) {
    std::string text = read_bytes(app_dir() + L"\\browser-context-runtime.json");
    ASSERT_TRUE(text.ends_with("}")) << text;
    text.pop_back();
    text += ",";
    text += member;
    text += "}";
    write_app_file(L"browser-context-runtime.json", text);
  }

  // The relay refused before it started: the one error reply, exit code 1,
  // and the application saw no handshake.
  void expect_error_reply(const Outcome& outcome, Simulator* app) {
    EXPECT_EQ(outcome.exit_code, 1u);
    EXPECT_TRUE(outcome.out == error_reply_bytes()) << "standard output: " << testing::PrintToString(outcome.out);
    EXPECT_EQ(outcome.err, "");
    if (app) {
      app->process().kill();
      EXPECT_FALSE(has_line_starting(app->lines(), "handshake")) << "the application was reached";
      EXPECT_FALSE(has_line_starting(app->lines(), "recv")) << "the application was sent something";
    }
  }
};

TEST_F(HostileInput, FramesOnStandardInputEndTheRelayQuietly) {
  for (const auto& c : frame_cases()) {
    SCOPED_TRACE(c.name);
    auto app = start_app({L"maintenance"});  // logs what it receives, sends nothing
    auto host = start_host({approved_w});
    ASSERT_TRUE(app->wait_for_line("handshake ok"));
    ASSERT_TRUE(host->write_stdin(c.bytes));
    // The host stops on the bad frame itself: its standard input stays open.
    EXPECT_EQ(host->wait(wait_limit), 0u);
    EXPECT_TRUE(host->err().wait_for_end(wait_limit));
    EXPECT_EQ(host->out().contents(), "");
    EXPECT_EQ(host->err().contents(), "");
    EXPECT_EQ(app->wait(), 0u);
    std::vector<std::string> expected;
    for (const auto& body : c.forwarded) expected.push_back("recv " + std::to_string(body.size()) + " " + body);
    EXPECT_EQ(app->received(), expected);
    EXPECT_EQ(app->lines().back(), "closed eof");
  }
}

TEST_F(HostileInput, FramesOnThePipeEndTheRelayQuietly) {
  for (const auto& c : frame_cases()) {
    SCOPED_TRACE(c.name);
    auto app = start_app({L"send-hex", hex(c.bytes)});
    // The browser stays silent and keeps standard input open: the pipe alone
    // ends the relay.
    auto host = start_host({approved_w});
    EXPECT_EQ(host->wait(wait_limit), 0u);
    EXPECT_TRUE(host->out().wait_for_end(wait_limit));
    EXPECT_TRUE(host->err().wait_for_end(wait_limit));
    EXPECT_TRUE(host->out().contents() == frames_of(c.forwarded))
        << "standard output: " << testing::PrintToString(host->out().contents());
    EXPECT_EQ(host->err().contents(), "");
    EXPECT_EQ(app->wait(), 0u);
    EXPECT_TRUE(app->received().empty()) << "the browser sent nothing, so nothing may reach the application";
  }
}

TEST_F(HostileInput, EndpointFileWithAMillionNestedBracketsInAnUnknownMemberStillConnects) {
  auto app = start_app({L"maintenance"});
  std::string deep = R"("deep":)";
  for (int i = 0; i < 1'000'000; ++i) deep += i % 2 == 0 ? "[" : "{\"k\":";
  deep += "null";
  for (int i = 1'000'000; i-- > 0;) deep += i % 2 == 0 ? "]" : "}";
  add_to_runtime_file(deep);
  auto host = start_host({approved_w}, /*close_stdin=*/true);
  EXPECT_TRUE(app->wait_for_line("handshake ok"));
  EXPECT_EQ(host->wait(wait_limit), 0u);
  EXPECT_TRUE(host->err().wait_for_end(wait_limit));
  EXPECT_EQ(host->out().contents(), "");
  EXPECT_EQ(host->err().contents(), "");
}

// 100 MB through the real file reader: a valid file whose unknown member is
// one long string connects; the same size of brackets never closed is a
// parse fault like any other, answered with the error reply.
TEST_F(HostileInput, HundredMegabyteEndpointFiles) {
  constexpr std::size_t size = 100'000'000;
  {
    SCOPED_TRACE("valid, one long unknown string");
    auto app = start_app({L"maintenance"});
    add_to_runtime_file("\"pad\":\"" + std::string(size, 'p') + "\"");
    auto host = start_host({approved_w}, /*close_stdin=*/true);
    EXPECT_TRUE(app->wait_for_line("handshake ok"));
    EXPECT_EQ(host->wait(wait_limit), 0u);
    EXPECT_TRUE(host->err().wait_for_end(wait_limit));
    EXPECT_EQ(host->out().contents(), "");
    EXPECT_EQ(host->err().contents(), "");
  }
  {
    SCOPED_TRACE("brackets opened and never closed");
    auto app = start_app({L"maintenance"});
    add_to_runtime_file("\"open\":" + std::string(size, '['));
    expect_error_reply(run_host({approved_w}), app.get());
  }
}

TEST_F(HostileInput, EndpointFilesThatCannotConnectGetTheErrorReply) {
  struct Case {
    const char* name;
    std::function<void(HostileInput&)> arrange;
  };
  const Case cases[] = {
      {"empty endpoint", [](HostileInput& t) { t.write_app_file(L"browser-context-runtime.json", R"({"endpoint":"","nonce":"n"})"); }},
      {"invalid UTF-8 in the endpoint",
       [](HostileInput& t) { t.write_app_file(L"browser-context-runtime.json", "{\"endpoint\":\"\xFF\",\"nonce\":\"n\"}"); }},
      {"the runtime file is a folder",
       [](HostileInput& t) {
         ::DeleteFileW((t.app_dir() + L"\\browser-context-runtime.json").c_str());
         ASSERT_TRUE(::CreateDirectoryW((t.app_dir() + L"\\browser-context-runtime.json").c_str(), nullptr));
       }},
      {"a nonce too long for the handshake frame",
       [](HostileInput& t) { t.add_to_runtime_file("\"nonce\":\"" + std::string(MAX_FRAME_LEN, 'n') + "\""); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto app = start_app({L"maintenance"});
    c.arrange(*this);
    expect_error_reply(run_host({approved_w}), app.get());
    ::RemoveDirectoryW((app_dir() + L"\\browser-context-runtime.json").c_str());
  }
}

TEST_F(HostileInput, RuntimeFileHeldWithoutSharingGetsTheErrorReply) {
  auto app = start_app({L"maintenance"});
  win::UniqueHandle held(::CreateFileW((app_dir() + L"\\browser-context-runtime.json").c_str(), GENERIC_READ, 0,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  expect_error_reply(run_host({approved_w}), app.get());
}

TEST_F(HostileInput, WithoutAppDataTheRelayGetsTheErrorReplyAndPrepareUpdatePrintsNothing) {
  for (const wchar_t* first : {approved_w.c_str(), L"--prepare-update"}) {
    ChildOptions options;
    options.program = program_directory() + L"\\browser-context-host.exe";
    options.arguments = {first};
    options.environment[L"APPDATA"] = std::nullopt;
    options.close_stdin_at_start = true;
    ChildProcess host(options);
    ASSERT_TRUE(host.started());
    const bool relay = first == approved_w.c_str();
    EXPECT_EQ(host.wait(wait_limit), 1u);
    EXPECT_TRUE(host.out().wait_for_end(wait_limit));
    EXPECT_TRUE(host.err().wait_for_end(wait_limit));
    EXPECT_TRUE(host.out().contents() == (relay ? error_reply_bytes() : std::string()));
    EXPECT_EQ(host.err().contents(), "");
  }
}

// Arguments that are neither a switch nor the approved origin. A live
// application is waiting: had any of them been taken for a switch or for the
// origin, it would see a connection.
TEST_F(HostileInput, ArgumentsThatAreNeitherASwitchNorTheOriginAreRefusedBeforeAnythingIsRead) {
  const std::vector<std::vector<std::wstring>> cases = {
      {L"--help"},
      {L"/?"},
      {L"-h"},
      {L"--version"},
      {L"--PREPARE-UPDATE"},
      {L"--Repair-Registration"},
      {L"--REMOVE-REGISTRATION"},
      {L"--prepare-update "},
      {L" --prepare-update"},
      {L"--prepare-update\t"},
      {L"--remove-registration=1"},
      {L"--repair-registration:yes"},
      {L"\u2014prepare-update"},  // an em dash
      {L"\uFF0D\uFF0Dprepare-update"},  // full-width hyphens
      {L"prepare-update"},
      {L"x", L"--prepare-update"},
      {L"x", approved_w},
      {L"", approved_w},
      {L" " + approved_w},
      {approved_w + L" "},
      {approved_w + std::wstring(1, wchar_t(0xD800))},  // an unpaired surrogate after the origin
      {std::wstring(1, wchar_t(0xDC00)) + approved_w},
      {L"chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakh\u0430/"},  // Cyrillic a
      {L"chrome-extension://\uFF4EMHGOCNLEEBKOMCLCPBBDBINPGPBAKHM/"},
      {L"moz-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/"},
      {L"chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/?x"},
      {L"chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/x"},
      {L"\"" + approved_w + L"\""},
      {std::wstring(30000, L'a')},
  };
  auto app = start_app({L"echo"});
  for (const auto& args : cases) {
    SCOPED_TRACE(testing::Message() << "argument count " << args.size() << " first length " << args[0].size());
    const auto outcome = run_host(args);
    EXPECT_EQ(outcome.exit_code, 1u);
    EXPECT_TRUE(outcome.out == error_reply_bytes()) << "standard output: " << testing::PrintToString(outcome.out);
    EXPECT_EQ(outcome.err, "");
  }
  expect_error_reply(run_host({L"--Prepare-Update"}), app.get());
}

// The registration switches with documents that are not this
// installation's, or not JSON at all: exit code 1 (0 where the marker cannot
// be read: nothing registered), nothing printed, and both documents as they
// were.
TEST_F(HostileInput, RegistrationDocumentsThatAreRefusedChangeNothing) {
  const std::string marker = R"({"enabled":true,"host":"com.velmorantix.browser_context"})";
  const std::string manifest =
      R"({"allowed_origins":["chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/"],)"
      R"("description":"Velmorantix coding context pilot","name":"com.velmorantix.browser_context","path":"C:\\old.exe"})";
  std::string deep_marker = nested(1'000'000);
  struct Case {
    const char* name;
    std::optional<std::string> marker;    // nullopt: a folder of that name
    std::optional<std::string> manifest;  // nullopt: a folder of that name
    DWORD exit_code;
  };
  const Case cases[] = {
      {"marker cut short", marker.substr(0, marker.size() - 1), manifest, 1},
      {"marker with a byte-order mark", "\xEF\xBB\xBF" + marker, manifest, 1},
      {"marker nested a million deep", deep_marker, manifest, 1},
      {"marker host with invalid UTF-8", "{\"enabled\":true,\"host\":\"com.velmorantix.browser_context\xFF\"}",
       manifest, 1},
      {"marker host with an escaped NUL", R"({"enabled":true,"host":"com.velmorantix.browser_context\u0000"})",
       manifest, 1},
      {"marker is a folder", std::nullopt, manifest, 0},
      {"manifest nested a million deep", marker, nested(1'000'000), 1},
      {"manifest 128 deep in an unknown member",
       marker, manifest.substr(0, manifest.size() - 1) + ",\"x\":" + nested(127) + "}", 1},
      {"manifest with invalid UTF-8", marker, "{\"name\":\"\xC3\"}", 1},
      {"manifest is a folder", marker, std::nullopt, 1},
      {"manifest allowing a second origin", marker,
       R"({"allowed_origins":["chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/","chrome-extension://x/"],)"
       R"("description":"Velmorantix coding context pilot","name":"com.velmorantix.browser_context"})",
       1},
  };
  const std::wstring marker_file = L"browser-context-registration.json";
  const std::wstring manifest_file = L"com.velmorantix.browser_context.json";
  const auto place = [&](const std::wstring& name, const std::optional<std::string>& bytes) {
    const std::wstring path = app_dir() + L"\\" + name;
    ::DeleteFileW(path.c_str());
    ::RemoveDirectoryW(path.c_str());
    if (bytes) {
      write_app_file(name, *bytes);
    } else {
      ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr));
    }
  };
  for (const auto& c : cases) {
    for (const wchar_t* sw : {L"--repair-registration", L"--remove-registration"}) {
      SCOPED_TRACE(testing::Message() << c.name << ", " << testing::PrintToString(std::wstring(sw)));
      place(marker_file, c.marker);
      place(manifest_file, c.manifest);
      const auto outcome = run_host({sw});
      EXPECT_EQ(outcome.exit_code, c.exit_code);
      EXPECT_EQ(outcome.out, "");
      EXPECT_EQ(outcome.err, "");
      if (c.marker) {
        EXPECT_TRUE(read_bytes(app_dir() + L"\\" + marker_file) == *c.marker) << "marker changed";
      }
      if (c.manifest) {
        EXPECT_TRUE(read_bytes(app_dir() + L"\\" + manifest_file) == *c.manifest) << "manifest changed";
      }
    }
  }
  ::RemoveDirectoryW((app_dir() + L"\\" + marker_file).c_str());
  ::RemoveDirectoryW((app_dir() + L"\\" + manifest_file).c_str());
}

}  // namespace
}  // namespace host::test
