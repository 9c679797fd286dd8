// nm-client end to end: the test types into nm-client as a developer would,
// nm-client starts the real host, and the simulator plays the desktop
// application on the other side.
#include "integration/host_fixture.h"
#include "integration/simulator.h"
#include "main/framing.h"

namespace host::test {
namespace {

const std::string ended_normally = "nm-client: host ended, exit code 0\n";

class NmClient : public HostFixture {
 protected:
  std::unique_ptr<Simulator> start_app(std::vector<std::wstring> args) {
    auto app = std::make_unique<Simulator>(appdata(), std::move(args));
    EXPECT_TRUE(app->ready());
    return app;
  }

  std::unique_ptr<ChildProcess> start_client(std::vector<std::wstring> arguments) {
    ChildOptions options;
    options.program = program_directory() + L"\\nm-client.exe";
    options.arguments = std::move(arguments);
    options.environment[L"APPDATA"] = appdata();
    auto client = std::make_unique<ChildProcess>(options);
    EXPECT_TRUE(client->started()) << "could not start nm-client: error " << client->start_error();
    return client;
  }

  // Waits, bounded, until standard output holds exactly these lines.
  static bool wait_for_output(ChildProcess& client, const std::string& lines) {
    return client.out().wait_until([&](const std::string& out) { return out.size() >= lines.size(); }, wait_limit) &&
           client.out().contents() == lines;
  }

  static std::string recv_line(std::string_view body) {
    return "recv " + std::to_string(body.size()) + " " + std::string(body);
  }
};

TEST_F(NmClient, EachLineGoesOutAsAFrameAndEachFrameComesBackAsOneCanonicalLine) {
  auto app = start_app({L"answer-first"});
  auto client = start_client({L"--linger-ms", L"0"});
  // The application speaks first: printed before anything was typed.
  ASSERT_TRUE(wait_for_output(*client, "{\"type\":\"hello\"}\n")) << client->out().contents();

  std::string expected = "{\"type\":\"hello\"}\n";
  const std::pair<std::string, std::string> exchanges[] = {
      {"{\"z\":1, \"a\":[1.0, 1e2, -0]}\n", R"({"a":[1.0,100.0,-0.0],"z":1})"},
      {"  {\"text\":\"caf\\u00e9 \\/ \\ud83d\\ude00\"}\r\n", "{\"text\":\"caf\xC3\xA9 / \xF0\x9F\x98\x80\"}"},
      {"7\n", "7"},
  };
  for (const auto& [typed, canonical] : exchanges) {
    ASSERT_TRUE(client->write_stdin(typed));
    expected += canonical + "\n";
    ASSERT_TRUE(wait_for_output(*client, expected)) << client->out().contents();
  }
  client->close_stdin();
  EXPECT_EQ(client->wait(wait_limit), 0u);
  ASSERT_TRUE(client->err().wait_for_end(wait_limit));
  EXPECT_TRUE(client->err().contents().ends_with(ended_normally)) << client->err().contents();
  EXPECT_EQ(app->wait(), 0u);
  // The application got the host's compact form of each line.
  std::vector<std::string> received;
  for (const auto& [typed, canonical] : exchanges) received.push_back(recv_line(canonical));
  EXPECT_EQ(app->received(), received);
}

TEST_F(NmClient, LinesThatAreNotJsonOrDoNotFitAFrameAreRefusedAndTheRestStillGoes) {
  auto app = start_app({L"echo"});
  auto client = start_client({L"--linger-ms", L"0"});
  const std::string largest = "\"" + std::string(MAX_FRAME_LEN - 2, 'L') + "\"";
  std::string growing = "[1e5";  // 4 bytes each as typed, 9 as the host writes them
  while (growing.size() + 5 <= MAX_FRAME_LEN) growing += ",1e5";
  growing += "]";
  const std::string input = "{\"a\":\n"                                      // 1
                            "\n"                                             // 2: blank, skipped
                            "[1]\n"                                          // 3
                            "\"" + std::string(MAX_FRAME_LEN, 'x') + "\"\n"  // 4: over the limit as typed
                            + growing + "\n"                                 // 5: over it once forwarded
                            + largest + "\n"                                 // 6: exactly the limit
                            "{\"b\":2}\n";                                   // 7
  ASSERT_TRUE(client->write_stdin(input));
  ASSERT_TRUE(wait_for_output(*client, "[1]\n" + largest + "\n{\"b\":2}\n")) << client->out().contents().size();
  client->close_stdin();
  EXPECT_EQ(client->wait(wait_limit), 5u);
  ASSERT_TRUE(client->err().wait_for_end(wait_limit));
  const std::string err = client->err().contents();
  for (const std::string note : {"nm-client: line 1 not sent: not JSON: ",
                                 "nm-client: line 4 not sent: the line has 524290 bytes, more than one frame holds",
                                 "nm-client: line 5 not sent: the host would forward it as ",
                                 "nm-client: 3 line(s) refused and not sent\n", ended_normally.c_str()}) {
    EXPECT_NE(err.find(note), std::string::npos) << note << "\nin:\n" << err;
  }
  EXPECT_EQ(err.find("line 2"), std::string::npos) << err;
  EXPECT_EQ(app->wait(), 0u);
  EXPECT_EQ(app->received().size(), 3u);
}

TEST_F(NmClient, AMessagesFileIsSentWholeAndTheAnswersAwaitedBeforeTheEnd) {
  auto app = start_app({L"echo"});
  write_app_file(L"messages.txt", "{\"n\":1}\r\n{\"n\":2}\r\n{\"n\":3}");
  // The answers arrive long before the host has been quiet for 5 s.
  auto client = start_client({L"--linger-ms", L"5000", app_dir() + L"\\messages.txt"});
  EXPECT_EQ(client->wait(wait_limit), 0u);
  ASSERT_TRUE(client->out().wait_for_end(wait_limit));
  EXPECT_EQ(client->out().contents(), "{\"n\":1}\n{\"n\":2}\n{\"n\":3}\n");
  ASSERT_TRUE(client->err().wait_for_end(wait_limit));
  EXPECT_TRUE(client->err().contents().ends_with(ended_normally)) << client->err().contents();
  EXPECT_EQ(app->wait(), 0u);
}

TEST_F(NmClient, FailuresToSetTheRelayUpShowTheErrorReplyAsSuch) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<Simulator>()> set_up;
  };
  const std::vector<Case> cases = {
      {"no runtime file", [] { return nullptr; }},
      {"a stale runtime file",
       [this] {
         write_app_file(L"browser-context-runtime.json", R"({"endpoint":"\\\\.\\pipe\\velmorantix-gone","nonce":"n"})");
         return nullptr;
       }},
      {"every pipe instance busy", [this] { return start_app({L"busy"}); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto app = c.set_up();
    // Its input stays open: the host's end alone ends nm-client.
    auto client = start_client({});
    EXPECT_EQ(client->wait(wait_limit), 1u);
    ASSERT_TRUE(client->out().wait_for_end(wait_limit));
    EXPECT_EQ(client->out().contents(),
              R"({"error":"Open Velmorantix and enable Browser connection","protocol":{"major":1,"minor":0},"type":"error"})"
              "\n");
    ASSERT_TRUE(client->err().wait_for_end(wait_limit));
    const std::string err = client->err().contents();
    EXPECT_NE(err.find("nm-client: the last frame is the host's fixed error reply"), std::string::npos) << err;
    EXPECT_TRUE(err.ends_with("nm-client: host ended, exit code 1\n")) << err;
    if (app) app->process().close_stdin();
  }
}

TEST_F(NmClient, TheApplicationEndingTheRelayEndsNmClientWhileItsInputIsStillOpen) {
  for (const wchar_t* behaviour : {L"close-after-handshake", L"bad-size", L"bad-json"}) {
    SCOPED_TRACE(testing::Message() << "simulator behaviour " << std::wstring(behaviour).size());
    auto app = start_app({behaviour});
    auto client = start_client({});
    ASSERT_TRUE(client->write_stdin("{\"waiting\":true}\n"));
    EXPECT_EQ(client->wait(wait_limit), 4u);
    ASSERT_TRUE(client->out().wait_for_end(wait_limit));
    EXPECT_EQ(client->out().contents(), "") << "a refused frame from the application is not printed";
    ASSERT_TRUE(client->err().wait_for_end(wait_limit));
    const std::string err = client->err().contents();
    EXPECT_NE(err.find("the relay ended from the application's side"), std::string::npos) << err;
    EXPECT_TRUE(err.ends_with(ended_normally)) << err;
    EXPECT_EQ(app->wait(), 0u);
  }
}

TEST_F(NmClient, CommandLineAndStartFailuresHaveTheirOwnExitCodes) {
  struct Case {
    std::vector<std::wstring> arguments;
    DWORD code;
    std::string note;
  };
  const std::vector<Case> cases = {
      {{L"--origin", L"x"}, 2, "nm-client: unknown option --origin\nusage: nm-client.exe"},
      {{L"--linger-ms", L"soon"}, 2, "nm-client: --linger-ms needs a number"},
      {{L"--host", app_dir() + L"\\no-such-host.exe"}, 3, "nm-client: cannot start "},
      {{app_dir() + L"\\no-such-messages.txt"}, 3, "nm-client: cannot open "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    auto client = start_client(c.arguments);
    EXPECT_EQ(client->wait(wait_limit), c.code);
    ASSERT_TRUE(client->err().wait_for_end(wait_limit));
    EXPECT_TRUE(client->err().contents().starts_with(c.note)) << client->err().contents();
    ASSERT_TRUE(client->out().wait_for_end(wait_limit));
    EXPECT_EQ(client->out().contents(), "");
  }
}

TEST_F(NmClient, AProgramThatBreaksTheHostsRulesIsCalledOut) {
  // The simulator in the host's place: it takes the origin for a bad
  // command line, complains on its standard error and exits with 2.
  auto client = start_client({L"--host", program_directory() + L"\\app-simulator.exe"});
  EXPECT_EQ(client->wait(wait_limit), 6u);
  ASSERT_TRUE(client->err().wait_for_end(wait_limit));
  const std::string err = client->err().contents();
  EXPECT_NE(err.find("bytes to its standard error"), std::string::npos) << err;
  EXPECT_TRUE(err.ends_with("nm-client: host ended, exit code 2\n")) << err;
}

}  // namespace
}  // namespace host::test
