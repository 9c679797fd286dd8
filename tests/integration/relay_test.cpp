// The relay end to end: the real host between a test playing the browser and
// the simulator playing the desktop application.
#include <random>

#include "integration/host_fixture.h"
#include "integration/simulator.h"
#include "main/framing.h"
#include "support/memory_channel.h"

namespace host::test {
namespace {

// Splits standard output into frame bodies; a trailing partial frame stays out.
std::vector<std::string> bodies(const std::string& bytes) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (bytes.size() - at >= 4) {
    const std::uint32_t n = std::uint8_t(bytes[at]) | std::uint8_t(bytes[at + 1]) << 8 |
                            std::uint8_t(bytes[at + 2]) << 16 | std::uint32_t(std::uint8_t(bytes[at + 3])) << 24;
    if (bytes.size() - at - 4 < n) break;
    out.push_back(bytes.substr(at + 4, n));
    at += 4 + n;
  }
  return out;
}

std::string recv_line(std::string_view body) { return "recv " + std::to_string(body.size()) + " " + std::string(body); }

class Relay : public HostFixture {
 protected:
  std::unique_ptr<Simulator> start_app(std::vector<std::wstring> args) {
    auto app = std::make_unique<Simulator>(appdata(), std::move(args));
    EXPECT_TRUE(app->ready());
    return app;
  }
};

TEST_F(Relay, EchoBothWaysInCanonicalFormThenTheBrowserLeaves) {
  auto app = start_app({L"echo"});
  auto host = start_host({approved_w, L"--ignored"});
  ASSERT_TRUE(app->wait_for_line("handshake ok"));
  ASSERT_TRUE(host->write_stdin(frame_bytes(R"({"z":1, "a":[1.0]})")));
  ASSERT_TRUE(host->out().wait_for_size(4 + 17, wait_limit));
  EXPECT_EQ(host->out().contents(), frame_bytes(R"({"a":[1.0],"z":1})"));

  host->close_stdin();
  EXPECT_EQ(host->wait(wait_limit), 0u);
  EXPECT_EQ(app->wait(), 0u);
  EXPECT_EQ(app->received(), std::vector<std::string>{recv_line(R"({"a":[1.0],"z":1})")});
  EXPECT_EQ(host->err().contents(), "");
}

TEST_F(Relay, MessagesKeepTheirOrderAndTheLimitHoldsOnBothChannels) {
  auto app = start_app({L"echo"});
  auto host = start_host({approved_w});
  std::string sent, expected;
  for (int i = 0; i < 50; ++i) {
    const std::string body = "[" + std::to_string(i) + "]";
    sent += frame_bytes(body);
    expected += frame_bytes(body);
  }
  // The largest frame, both ways: a string of MAX_FRAME_LEN - 2 bytes.
  const std::string largest = "\"" + std::string(MAX_FRAME_LEN - 2, 'L') + "\"";
  sent += frame_bytes(largest);
  expected += frame_bytes(largest);
  ASSERT_TRUE(host->write_stdin(sent));
  ASSERT_TRUE(host->out().wait_for_size(expected.size(), wait_limit));
  EXPECT_TRUE(host->out().contents() == expected) << "frames lost, changed or reordered";

  // One byte over the limit ends the relay quietly, the body unread.
  ASSERT_TRUE(host->write_stdin(header_bytes(MAX_FRAME_LEN + 1)));
  EXPECT_EQ(host->wait(wait_limit), 0u);
  EXPECT_EQ(host->out().contents().size(), expected.size()) << "no error reply after a bad browser frame";
}

TEST_F(Relay, ApplicationAnsweringFirstReachesTheBrowserAtOnce) {
  auto app = start_app({L"answer-first"});
  auto host = start_host({approved_w});
  ASSERT_TRUE(host->out().wait_for_size(4 + 16, wait_limit));
  EXPECT_EQ(host->out().contents(), frame_bytes(R"({"type":"hello"})"));
  host->close_stdin();
  EXPECT_EQ(host->wait(wait_limit), 0u);
}

// Each way the application can end the relay: exit code 0 and nothing on
// standard output.
TEST_F(Relay, ApplicationEndings) {
  for (const wchar_t* behaviour : {L"close-after-handshake", L"bad-size", L"bad-json"}) {
    SCOPED_TRACE(testing::Message() << behaviour);
    auto app = start_app({behaviour});
    auto host = start_host({approved_w});
    EXPECT_EQ(host->wait(wait_limit), 0u);
    EXPECT_EQ(host->out().contents(), "");
    EXPECT_EQ(host->err().contents(), "");
  }
}

TEST_F(Relay, BrowserEndings) {
  struct Case {
    const char* name;
    std::string input;
  };
  const Case cases[] = {
      {"closes at once", ""},
      {"invalid JSON", frame_bytes("{\"a\" 1}")},
      {"zero length", header_bytes(0)},
      {"cut in the header", std::string("\x05\x00", 2)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto app = start_app({L"echo"});
    auto host = start_host({approved_w});
    ASSERT_TRUE(host->write_stdin(c.input));
    host->close_stdin();
    EXPECT_EQ(host->wait(wait_limit), 0u);
    EXPECT_EQ(host->out().contents(), "");
    EXPECT_EQ(app->wait(), 0u);
    EXPECT_TRUE(app->received().empty());
  }
}

TEST_F(Relay, BrowserClosingStandardOutputWhileTheApplicationSendsIsExitCode1) {
  auto app = start_app({L"flood", L"100000"});
  auto host = start_host({approved_w}, /*close_stdin=*/false, /*collect_stdout=*/false);
  ASSERT_FALSE(host->read_stdout_some().empty());
  host->close_stdout_reader();
  EXPECT_EQ(host->wait(wait_limit), 1u);
  EXPECT_EQ(host->err().contents(), "");
}

TEST_F(Relay, FailuresBeforeTheRelayGetTheErrorReply) {
  // A runtime file whose pipe does not exist (a stale file).
  write_app_file(L"browser-context-runtime.json", R"({"endpoint":"\\\\.\\pipe\\velmorantix-gone","nonce":"n"})");
  auto stale = run_host({approved_w});
  EXPECT_EQ(stale.exit_code, 1u);
  EXPECT_EQ(stale.out, error_reply_bytes());

  // Every pipe instance busy: refused at once, not waited for.
  auto busy = start_app({L"busy"});
  auto outcome = run_host({approved_w});
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_EQ(outcome.out, error_reply_bytes());
  EXPECT_EQ(outcome.err, "");
}

TEST_F(Relay, ThousandsOfRandomMessagesBothWaysAtOnce) {
  auto app = start_app({L"echo"});
  auto host = start_host({approved_w});
  std::mt19937 random(20261210);
  std::string sent;
  std::vector<std::string> expected;
  for (int i = 0; i < 3000; ++i) {
    const std::string body = "{\"i\":" + std::to_string(i) + ",\"p\":\"" + std::string(random() % 4000, 'x') + "\"}";
    sent += frame_bytes(body);
    expected.push_back(body);
  }
  // Written from another thread while this one lets the output collect, so
  // both directions are busy at once.
  std::thread browser([&] { EXPECT_TRUE(host->write_stdin(sent)); });
  std::size_t expected_size = 0;
  for (const auto& b : expected) expected_size += 4 + b.size();
  EXPECT_TRUE(host->out().wait_for_size(expected_size, wait_limit * 4));
  browser.join();
  EXPECT_TRUE(bodies(host->out().contents()) == expected) << "messages lost, changed or reordered";
  host->close_stdin();
  EXPECT_EQ(host->wait(wait_limit), 0u);
}

TEST_F(Relay, EitherSideClosingAtARandomMomentEndsAsSpecified) {
  std::mt19937 random(42);
  for (int run = 0; run < 40; ++run) {
    SCOPED_TRACE(testing::Message() << "run " << run);
    auto app = start_app({L"flood", std::to_wstring(random() % 200)});
    auto host = start_host({approved_w});
    ASSERT_TRUE(app->wait_for_line("handshake ok"));
    const int messages = int(random() % 20);
    for (int i = 0; i < messages; ++i) host->write_stdin(frame_bytes("[" + std::to_string(i) + "]"));
    const bool browser_leaves = random() % 2;
    if (browser_leaves) {
      host->close_stdin();
    } else {
      app->process().kill();
    }
    const auto code = host->wait(wait_limit);
    ASSERT_TRUE(code.has_value()) << "the host did not end";
    EXPECT_EQ(*code, 0u);
    // Whatever reached standard output is whole frames, never the error reply.
    const auto out = host->out().contents();
    EXPECT_EQ(out.find("enable Browser connection"), std::string::npos);
  }
}

TEST_F(Relay, PrepareUpdateSendsExactlyTwoFrames) {
  auto app = start_app({L"maintenance"});
  const auto outcome = run_host({L"--prepare-update", L"extra"});
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(app->wait(), 0u);
  EXPECT_TRUE(app->wait_for_line("handshake ok"));
  EXPECT_EQ(app->received(), std::vector<std::string>{recv_line(
                                 R"({"operation":"prepareUpdate","protocol":{"major":1,"minor":0},"type":"maintenance"})")});
}

TEST_F(Relay, PrepareUpdateFailuresAreExitCode1WithoutOutput) {
  const auto no_file = run_host({L"--prepare-update"});
  EXPECT_EQ(no_file.exit_code, 1u);
  EXPECT_EQ(no_file.out + no_file.err, "");

  write_app_file(L"browser-context-runtime.json", R"({"endpoint":"\\\\.\\pipe\\velmorantix-gone","nonce":"n"})");
  const auto no_pipe = run_host({L"--prepare-update"});
  EXPECT_EQ(no_pipe.exit_code, 1u);
  EXPECT_EQ(no_pipe.out + no_pipe.err, "");
}

}  // namespace
}  // namespace host::test
