#include "main/buffered_channel.h"

#include <gtest/gtest.h>

#include "main/framing.h"
#include "support/memory_channel.h"

namespace host {
namespace {

using test::frame_bytes;
using test::RecordingWriter;
using test::ScriptedReader;

TEST(BufferedReader, SmallFramesShareOneReadAndLargeReadsBypass) {
  std::string stream;
  for (int i = 0; i < 10; ++i) stream += frame_bytes("[" + std::to_string(i) + "]");
  const std::string big = "\"" + std::string(5000, 'b') + "\"";
  stream += frame_bytes(big);
  ScriptedReader raw(stream);
  BufferedReader in(raw, 1024);
  for (int i = 0; i < 10; ++i) {
    auto v = read_frame(in);
    ASSERT_TRUE(v);
    EXPECT_EQ(json::to_json_bytes(*v), "[" + std::to_string(i) + "]");
  }
  auto v = read_frame(in);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->as_string()->size(), 5000u);
  EXPECT_LE(raw.calls, 4u);
  EXPECT_FALSE(read_frame(in));  // the end passes through
}

TEST(BufferedReader, ErrorsPassThrough) {
  ScriptedReader raw("ab");
  raw.then(HostError::os(win_error::broken_pipe));
  BufferedReader in(raw, 16);
  char buf[8];
  EXPECT_EQ(in.read(buf).value(), 2u);
  auto failed = in.read(buf);
  ASSERT_FALSE(failed);
  EXPECT_TRUE(failed.error().is_os(win_error::broken_pipe));
}

TEST(BufferedWriter, SmallFrameIsOneWriteAtFlush) {
  RecordingWriter raw;
  BufferedWriter out(raw, 1024);
  ASSERT_TRUE(write_frame(out, json::JsonValue("hi")));
  EXPECT_EQ(raw.written, frame_bytes("\"hi\""));
  EXPECT_EQ(raw.calls, 1u);
  EXPECT_EQ(raw.flushes, 1u);
}

TEST(BufferedWriter, LargeBodyGoesDirectlyAfterTheHeader) {
  RecordingWriter raw;
  BufferedWriter out(raw, 64);
  const std::string text(1000, 'q');
  ASSERT_TRUE(write_frame(out, json::JsonValue(text)));
  EXPECT_EQ(raw.written, frame_bytes("\"" + text + "\""));
  EXPECT_EQ(raw.calls, 2u);
}

TEST(BufferedWriter, FlushFailureIsReportedAndKeepsTheUnwrittenBytes) {
  RecordingWriter raw(/*max_chunk=*/3);
  raw.accept_budget = 3;
  raw.failure = HostError::os(win_error::no_data);
  BufferedWriter out(raw, 64);
  auto result = write_frame(out, json::JsonValue("x"));
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is_os(win_error::no_data));
  raw.accept_budget = SIZE_MAX;
  ASSERT_TRUE(out.flush());
  EXPECT_EQ(raw.written, frame_bytes("\"x\""));
}

}  // namespace
}  // namespace host
