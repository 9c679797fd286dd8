#include "main/framing.h"

#include <gtest/gtest.h>

#include "support/memory_channel.h"

namespace host {
namespace {

using test::frame_bytes;
using test::header_bytes;
using test::RecordingWriter;
using test::ScriptedReader;

constexpr std::string_view error_reply_body =
    R"({"error":"Open Velmorantix and enable Browser connection","protocol":{"major":1,"minor":0},"type":"error"})";

TEST(ReadFrame, ReadsOneFrameAndLeavesTheNextInPlace) {
  ScriptedReader in(frame_bytes(error_reply_body) + frame_bytes("[1]"), /*max_chunk=*/3);
  ASSERT_EQ(error_reply_body.size(), 106u);
  auto first = read_frame(in);
  ASSERT_TRUE(first) << first.error().message();
  EXPECT_EQ(json::to_json_bytes(*first), error_reply_body);
  auto second = read_frame(in);
  ASSERT_TRUE(second);
  EXPECT_EQ(json::to_json_bytes(*second), "[1]");
}

TEST(ReadFrame, RefusesInvalidLengthsWithoutReadingTheBody) {
  struct Case {
    std::string header;
    const char* why;
  };
  const Case cases[] = {
      {header_bytes(0), "zero"},
      {header_bytes(MAX_FRAME_LEN + 1), "one above the limit"},
      {header_bytes(0xFFFFFFFF), "4 GiB"},
      {std::string("\x00\x00\x00\x6A", 4), "big-endian 106"},
  };
  for (const auto& c : cases) {
    ScriptedReader in(c.header + std::string(200, ' '));
    auto result = read_frame(in);
    ASSERT_FALSE(result) << c.why;
    EXPECT_TRUE(result.error().is(ErrorKind::InvalidData, msg::invalid_frame_size)) << c.why;
    EXPECT_EQ(in.consumed, 4u) << c.why << ": nothing beyond the header may be taken";
  }
}

TEST(ReadFrame, AcceptsTheLargestFrame) {
  std::string body = "\"" + std::string(MAX_FRAME_LEN - 2, 'x') + "\"";
  ScriptedReader in(frame_bytes(body));
  auto value = read_frame(in);
  ASSERT_TRUE(value);
  EXPECT_EQ(value->as_string()->size(), MAX_FRAME_LEN - 2);
}

TEST(ReadFrame, EndOfStreamAnywhereIsUnexpectedEof) {
  const std::string whole = frame_bytes(R"({"a":"bcdef"})");
  for (std::size_t cut : {std::size_t{0}, std::size_t{2}, std::size_t{4}, std::size_t{9}, whole.size() - 1}) {
    ScriptedReader in(whole.substr(0, cut));
    auto result = read_frame(in);
    ASSERT_FALSE(result) << "cut at " << cut;
    EXPECT_TRUE(result.error().is(ErrorKind::UnexpectedEof, msg::fill_whole_buffer)) << "cut at " << cut;
  }
}

TEST(ReadFrame, BodyMustBeExactlyOneJsonText) {
  struct Case {
    std::string body;
    bool ok;
  };
  const Case cases[] = {
      {" \r\n{\"a\":1}\t\n", true},
      {"7", true},
      {"\"x\"", true},
      {"{}{}", false},
      {std::string("{}\0", 3), false},
      {"{\"a\":", false},
      {"\xEF\xBB\xBF{}", false},
  };
  for (const auto& c : cases) {
    ScriptedReader in(frame_bytes(c.body));
    auto result = read_frame(in);
    EXPECT_EQ(result.has_value(), c.ok) << c.body;
    if (!c.ok && !result) {
      EXPECT_TRUE(result.error().is(ErrorKind::InvalidData, msg::invalid_native_json));
    }
  }
}

TEST(ReadFrame, RetriesInterruptedAndPassesOtherErrorsUp) {
  const std::string whole = frame_bytes("[true]");
  ScriptedReader in(whole.substr(0, 3), 1);
  in.then(HostError::fixed(ErrorKind::Interrupted, "interrupted")).then(whole.substr(3));
  auto value = read_frame(in);
  ASSERT_TRUE(value);
  EXPECT_EQ(json::to_json_bytes(*value), "[true]");

  ScriptedReader broken(whole.substr(0, 5));
  broken.then(HostError::os(win_error::broken_pipe));
  auto failed = read_frame(broken);
  ASSERT_FALSE(failed);
  EXPECT_TRUE(failed.error().is_os(win_error::broken_pipe));
}

TEST(WriteFrame, WritesHeaderBodyThenFlushes) {
  RecordingWriter out;
  auto value = json::parse_json(R"({"z":1, "a":[1.0]})");
  ASSERT_TRUE(value);
  ASSERT_TRUE(write_frame(out, *value));
  EXPECT_EQ(out.written, frame_bytes(R"({"a":[1.0],"z":1})"));
  EXPECT_EQ(out.flushes, 1u);
  EXPECT_EQ(out.flushed_size, out.written.size());
}

TEST(WriteFrame, ShortWritesStillYieldOneFrame) {
  RecordingWriter out(/*max_chunk=*/2);
  ASSERT_TRUE(write_frame(out, json::JsonValue("hello")));
  EXPECT_EQ(out.written, frame_bytes("\"hello\""));
}

TEST(WriteFrame, RefusesOversizedTextAndWritesNothing) {
  // A body read at the limit can outgrow it when written again: 1e5 becomes 100000.0.
  std::string body = "[1e5";
  while (body.size() + 4 <= MAX_FRAME_LEN - 1) body += ",1e5";
  body += "]";
  ASSERT_LE(body.size(), MAX_FRAME_LEN);
  auto value = json::parse_json(body);
  ASSERT_TRUE(value);
  RecordingWriter out;
  auto result = write_frame(out, *value);
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is(ErrorKind::InvalidData, msg::invalid_frame_size));
  EXPECT_EQ(out.calls, 0u);
  EXPECT_EQ(out.flushes, 0u);
}

TEST(WriteFrame, ZeroAcceptedIsWriteZeroAndStopsBeforeTheBody) {
  RecordingWriter out;
  out.accept_budget = 2;
  auto result = write_frame(out, json::JsonValue("x"));
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is(ErrorKind::WriteZero, msg::write_whole_buffer));
  EXPECT_EQ(out.written.size(), 2u);
  EXPECT_EQ(out.flushes, 0u);
}

TEST(WriteFrame, ChannelErrorsPassUnchangedAndInterruptedIsRetried) {
  RecordingWriter out;
  out.accept_budget = 0;
  out.failure = HostError::os(win_error::no_data);
  auto result = write_frame(out, json::JsonValue("x"));
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is_os(win_error::no_data));

  // Interrupted once, then accepted.
  struct InterruptOnce final : ByteWriter {
    RecordingWriter inner;
    bool interrupted = false;
    HostResult<std::size_t> write(std::span<const char> bytes) override {
      if (!interrupted) {
        interrupted = true;
        return std::unexpected(HostError::fixed(ErrorKind::Interrupted, "interrupted"));
      }
      return inner.write(bytes);
    }
  } flaky;
  ASSERT_TRUE(write_frame(flaky, json::JsonValue("x")));
  EXPECT_EQ(flaky.inner.written, frame_bytes("\"x\""));
}

}  // namespace
}  // namespace host
