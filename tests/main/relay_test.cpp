#include "main/relay.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <thread>

#include "main/framing.h"
#include "support/memory_channel.h"
#include "support/memory_connection.h"
#include "support/relay_run.h"

namespace host {
namespace {

using namespace std::chrono_literals;
using test::frame_bytes;

constexpr auto bound = 20s;

using test::RelayRun;

TEST(Relay, CarriesMessagesBothWaysInCanonicalForm) {
  RelayRun run;
  run.start();
  run.browser_in->push(frame_bytes(R"({"z":1, "a":[1.0]})") + frame_bytes("[1e2]"));
  run.connection->from_app->push(frame_bytes(R"({ "b" : true , "a" : null })"));
  const std::string to_app = frame_bytes(R"({"a":[1.0],"z":1})") + frame_bytes("[100.0]");
  const std::string to_browser = frame_bytes(R"({"a":null,"b":true})");
  ASSERT_TRUE(run.connection->to_app->wait_for_size(to_app.size(), bound));
  ASSERT_TRUE(run.browser_out.stream.wait_for_size(to_browser.size(), bound));

  run.browser_in->close();  // the browser goes away: the worker ends the relay
  EXPECT_TRUE(run.finish());
  run.expect_worker_ended();
  EXPECT_EQ(run.connection->to_app->contents(), to_app);
  EXPECT_EQ(run.browser_out.stream.contents(), to_browser);
  EXPECT_EQ(run.connection->effective_shutdowns, 1);
}

TEST(Relay, ApplicationAnsweringFirstReachesTheBrowserAtOnce) {
  RelayRun run;
  run.start();
  run.connection->from_app->push(frame_bytes(R"({"type":"hello"})"));
  EXPECT_TRUE(run.browser_out.stream.wait_for_size(4 + 16, bound));
  run.connection->from_app->close();
  EXPECT_TRUE(run.finish());
  EXPECT_EQ(run.browser_out.stream.contents(), frame_bytes(R"({"type":"hello"})"));
  run.browser_in->close();
  run.expect_worker_ended();
}

// Every ending in which reading from the application fails, or the worker
// stops, is a normal end with nothing more sent to either side.
TEST(Relay, QuietEndings) {
  struct Case {
    const char* name;
    std::function<void(RelayRun&)> provoke;
  };
  const Case cases[] = {
      {"application closes", [](RelayRun& r) { r.connection->from_app->close(); }},
      {"application sends an oversized header",
       [](RelayRun& r) { r.connection->from_app->push(test::header_bytes(MAX_FRAME_LEN + 1) + "{}"); }},
      {"application sends invalid JSON", [](RelayRun& r) { r.connection->from_app->push(frame_bytes("{\"a\":")); }},
      {"application pipe fails",
       [](RelayRun& r) { r.connection->from_app->abort(HostError::os(win_error::broken_pipe)); }},
      {"browser closes standard input", [](RelayRun& r) { r.browser_in->close(); }},
      {"browser sends a zero-length frame", [](RelayRun& r) { r.browser_in->push(test::header_bytes(0)); }},
      {"browser sends invalid JSON", [](RelayRun& r) { r.browser_in->push(frame_bytes("nul")); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RelayRun run;
    run.start();
    c.provoke(run);
    EXPECT_TRUE(run.finish());
    EXPECT_EQ(run.browser_out.stream.contents(), "");
    EXPECT_EQ(run.connection->to_app->contents(), "");
    EXPECT_EQ(run.connection->effective_shutdowns, 1);
    // A worker still blocked on the browser is left to the process's end;
    // here the browser goes away so that the test can see it end.
    run.browser_in->close();
    run.expect_worker_ended();
  }
}

TEST(Relay, FailedWriteToTheBrowserIsTheResult) {
  RelayRun run;
  run.browser_out.fail_from_now();
  run.start();
  run.connection->from_app->push(frame_bytes("[1]"));
  auto result = run.finish();
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is_os(win_error::no_data));
  run.browser_in->close();
  run.expect_worker_ended();
}

TEST(Relay, ManyMessagesBothWaysAtOnceKeepTheirOrder) {
  RelayRun run;
  run.start();
  std::mt19937 random(7);
  std::string to_app_expected, to_browser_expected;
  std::string from_browser, from_app;
  for (int i = 0; i < 2000; ++i) {
    const std::string pad(random() % 3000, char('a' + i % 26));
    const std::string body = "{\"seq\":" + std::to_string(i) + ",\"pad\":\"" + pad + "\"}";
    from_browser += frame_bytes(body);
    to_app_expected += frame_bytes("{\"pad\":\"" + pad + "\",\"seq\":" + std::to_string(i) + "}");
    from_app += frame_bytes("[" + std::to_string(i) + ",\"" + pad + "\"]");
    to_browser_expected += frame_bytes("[" + std::to_string(i) + ",\"" + pad + "\"]");
  }
  std::thread browser([&] {
    for (std::size_t at = 0; at < from_browser.size(); at += 4093) run.browser_in->push(from_browser.substr(at, 4093));
  });
  std::thread app([&] {
    for (std::size_t at = 0; at < from_app.size(); at += 5003) run.connection->from_app->push(from_app.substr(at, 5003));
  });
  browser.join();
  app.join();
  ASSERT_TRUE(run.connection->to_app->wait_for_size(to_app_expected.size(), bound));
  ASSERT_TRUE(run.browser_out.stream.wait_for_size(to_browser_expected.size(), bound));
  run.connection->from_app->close();
  EXPECT_TRUE(run.finish());
  run.browser_in->close();
  run.expect_worker_ended();
  EXPECT_EQ(run.connection->to_app->contents(), to_app_expected);
  EXPECT_EQ(run.browser_out.stream.contents(), to_browser_expected);
}

}  // namespace
}  // namespace host
