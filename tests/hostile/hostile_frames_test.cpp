// Hostile frames from either side of the relay, natively on in-memory
// channels: each case is what the peer sends and what must come out on the
// other side before the relay ends quietly. Also the heap use that a
// header can provoke, watched through the replaced operator new.
#include <gtest/gtest.h>

#include <future>

#include "main/framing.h"
#include "main/relay.h"
#include "support/allocation_counter.h"
#include "support/memory_channel.h"
#include "support/memory_connection.h"
#include "support/relay_run.h"

namespace host {
namespace {

using namespace std::chrono_literals;
using test::frame_bytes;
using test::header_bytes;

constexpr auto bound = 20s;

std::string nested(int depth, std::string_view inner = "") {
  return std::string(depth, '[') + std::string(inner) + std::string(depth, ']');
}

struct HostileFrame {
  const char* name;
  std::string sent;       // the peer's bytes, after which its stream ends
  std::string forwarded;  // what must reach the other side
};

const std::vector<HostileFrame>& hostile_frames() {
  static const std::vector<HostileFrame> cases = {
      {"length 0xFFFFFFFF", header_bytes(0xFFFFFFFF) + "[1]", ""},
      {"length 0x80000000", header_bytes(0x80000000) + "[1]", ""},
      {"length 1 MiB", header_bytes(1 << 20) + "[1]", ""},
      {"small length in the wrong byte order", std::string("\x00\x00\x00\x03", 4) + "[1]", ""},
      {"127 nested arrays pass", frame_bytes(nested(127)), frame_bytes(nested(127))},
      {"127 nested with whitespace come out compact", frame_bytes(" " + nested(127, " 1 ") + " "),
       frame_bytes(nested(127, "1"))},
      {"128 nested arrays", frame_bytes(nested(128)), ""},
      {"an object inside 127 arrays", frame_bytes(nested(127, "{}")), ""},
      {"a frame full of open brackets", frame_bytes(std::string(MAX_FRAME_LEN, '[')), ""},
      {"overlong UTF-8 in a string", frame_bytes("\"\xC0\xAF\""), ""},
      {"UTF-8 of a surrogate", frame_bytes("\"\xED\xA0\x80\""), ""},
      {"truncated UTF-8 sequence", frame_bytes("\"\xE2\x82\""), ""},
      {"lone high surrogate escape", frame_bytes(R"(["\uD83D"])"), ""},
      {"lone low surrogate escape", frame_bytes(R"(["\uDE00"])"), ""},
      {"raw control character in a string", frame_bytes("\"a\x01\""), ""},
      {"byte-order mark", frame_bytes("\xEF\xBB\xBF[]"), ""},
      {"JSON followed by NUL", frame_bytes(std::string("[]\0", 3)), ""},
      {"number beyond the float range", frame_bytes("[1e309]"), ""},
      {"NaN literal", frame_bytes("[NaN]"), ""},
      {"body shorter than its header", header_bytes(100) + "[1,2,3]", ""},
      {"a good frame, then a 4 GiB header", frame_bytes(R"({"b":1,"a":2})") + header_bytes(0xFFFFFFFF),
       frame_bytes(R"({"a":2,"b":1})")},
      {"a good frame, then 128 nested", frame_bytes("[true]") + frame_bytes(nested(128)), frame_bytes("[true]")},
  };
  return cases;
}

using test::RelayRun;

TEST(HostileFrames, FromTheBrowserEndTheRelayQuietlyAfterWhatWasValid) {
  for (const auto& c : hostile_frames()) {
    SCOPED_TRACE(c.name);
    RelayRun run;
    run.start();
    run.browser_in->push(c.sent);
    run.browser_in->close();
    const auto result = run.finish_within_bound();
    ASSERT_TRUE(result.has_value()) << "the relay did not end";
    EXPECT_TRUE(*result) << "a bad browser frame is not a failure of the relay";
    EXPECT_TRUE(run.connection->to_app->contents() == c.forwarded) << "the application got the wrong bytes";
    EXPECT_EQ(run.browser_out.stream.contents(), "") << "nothing goes back to the browser";
    EXPECT_EQ(run.connection->effective_shutdowns, 1);
  }
}

TEST(HostileFrames, FromTheApplicationEndTheRelayQuietlyAfterWhatWasValid) {
  for (const auto& c : hostile_frames()) {
    SCOPED_TRACE(c.name);
    RelayRun run;
    run.start();
    run.connection->from_app->push(c.sent);
    run.connection->from_app->close();
    const auto result = run.finish_within_bound();
    ASSERT_TRUE(result.has_value()) << "the relay did not end";
    EXPECT_TRUE(*result) << "a bad application frame ends the relay normally";
    EXPECT_TRUE(run.browser_out.stream.contents() == c.forwarded) << "the browser got the wrong bytes";
    EXPECT_EQ(run.connection->to_app->contents(), "") << "nothing goes back to the application";
    EXPECT_EQ(run.connection->effective_shutdowns, 1);
  }
}

TEST(HostileFrameHeader, RefusedLengthsUpTo4GiBReserveNoBodyBuffer) {
  for (const std::uint32_t length : {0u, std::uint32_t(MAX_FRAME_LEN + 1), 1u << 20, 0x7FFFFFFFu, 0x80000000u,
                                     0xFFFFFFFEu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(testing::Message() << "announced " << length);
    test::ScriptedReader in(header_bytes(length) + std::string(4096, '1'));
    std::size_t largest = 0;
    {
      test::AllocationWatch watch;
      auto frame = read_frame(in);
      largest = watch.largest_request();
      ASSERT_FALSE(frame);
      EXPECT_TRUE(frame.error().is(ErrorKind::InvalidData, msg::invalid_frame_size));
    }
    // The error's own message is the only allocation.
    EXPECT_LT(largest, 64u);
    EXPECT_EQ(in.consumed, 4u);
  }
}

TEST(HostileFrameHeader, AcceptedLengthsReserveExactlyTheAnnouncedBodyEvenWhenItNeverComes) {
  for (const std::uint32_t length : {1u, 1000u, std::uint32_t(MAX_FRAME_LEN)}) {
    SCOPED_TRACE(testing::Message() << "announced " << length);
    test::ScriptedReader in(header_bytes(length) + "[1");
    std::size_t largest = 0;
    {
      test::AllocationWatch watch;
      auto frame = read_frame(in);
      largest = watch.largest_request();
      ASSERT_FALSE(frame);
      EXPECT_EQ(frame.error().kind(), length <= 2 ? ErrorKind::InvalidData : ErrorKind::UnexpectedEof);
    }
    EXPECT_LE(largest, MAX_FRAME_LEN);
    EXPECT_GE(largest, length);
  }
}

// The whole relay, both directions, fed the largest headers: no request of
// the process goes beyond MAX_FRAME_LEN.
TEST(HostileFrameHeader, TheRelayNeverAsksForMoreThanMaxFrameLen) {
  for (const bool from_browser : {true, false}) {
    SCOPED_TRACE(from_browser ? "from the browser" : "from the application");
    RelayRun run;
    std::size_t largest = 0;
    {
      test::AllocationWatch watch;
      run.start();
      auto& peer = from_browser ? *run.browser_in : *run.connection->from_app;
      peer.push(frame_bytes("\"" + std::string(1000, 'x') + "\"") + header_bytes(0xFFFFFFFF));
      const auto result = run.finish_within_bound();
      largest = watch.largest_request();
      ASSERT_TRUE(result.has_value()) << "the relay did not end";
      EXPECT_TRUE(*result);
    }
    EXPECT_LE(largest, MAX_FRAME_LEN);
    EXPECT_EQ((from_browser ? run.connection->to_app->contents() : run.browser_out.stream.contents()).size(),
              4u + 1002u);
  }
}

}  // namespace
}  // namespace host
