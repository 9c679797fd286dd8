#include "windows/standard_streams.h"

#include <gtest/gtest.h>

#include "main/framing.h"
#include "support/memory_channel.h"
#include "windows/unique_handle.h"

namespace host::win {
namespace {

struct AnonymousPipe {
  UniqueHandle read_end, write_end;
  AnonymousPipe() {
    HANDLE r = nullptr, w = nullptr;
    EXPECT_TRUE(::CreatePipe(&r, &w, nullptr, 0));
    read_end.reset(r);
    write_end.reset(w);
  }
};

TEST(StandardInput, FramesThenTheWriterClosingIsTheEnd) {
  AnonymousPipe pipe;
  const std::string bytes = test::frame_bytes("[1]") + std::string("\r\n\x1A\0", 4);
  DWORD wrote = 0;
  ASSERT_TRUE(::WriteFile(pipe.write_end.get(), bytes.data(), DWORD(bytes.size()), &wrote, nullptr));
  pipe.write_end.reset();

  StandardInputChannel in(pipe.read_end.get());
  char buffer[64];
  auto got = in.read(buffer);
  ASSERT_TRUE(got);
  EXPECT_EQ(std::string(buffer, *got), bytes) << "standard input must pass every byte unchanged";
  // Wine reports the closed writer as a 0-byte read, Windows as a broken
  // pipe; the seam test below covers the second.
  EXPECT_EQ(in.read(buffer).value(), 0u);
}

BOOL WINAPI read_fails_with_broken_pipe(HANDLE, LPVOID, DWORD, LPDWORD got, LPOVERLAPPED) {
  *got = 0;
  ::SetLastError(ERROR_BROKEN_PIPE);
  return FALSE;
}

BOOL WINAPI read_fails_with_access_denied(HANDLE, LPVOID, DWORD, LPDWORD got, LPOVERLAPPED) {
  *got = 0;
  ::SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

TEST(StandardInput, BrokenPipeIsTheEndThroughSeamAsWindowsReportsIt) {
  StandardInputChannel in(reinterpret_cast<HANDLE>(0x1234), read_fails_with_broken_pipe);
  char buffer[8];
  EXPECT_EQ(in.read(buffer).value(), 0u);
  auto frame = read_frame(in);
  ASSERT_FALSE(frame);
  EXPECT_TRUE(frame.error().is(ErrorKind::UnexpectedEof, msg::fill_whole_buffer));
}

TEST(StandardInput, OtherReadErrorsStayErrors) {
  StandardInputChannel in(reinterpret_cast<HANDLE>(0x1234), read_fails_with_access_denied);
  char buffer[8];
  auto got = in.read(buffer);
  ASSERT_FALSE(got);
  EXPECT_TRUE(got.error().is_os(ERROR_ACCESS_DENIED));
}

TEST(StandardInput, MissingHandleIsTheEnd) {
  for (HANDLE missing : {HANDLE(nullptr), INVALID_HANDLE_VALUE}) {
    StandardInputChannel in(missing);
    char buffer[8];
    EXPECT_EQ(in.read(buffer).value(), 0u);
  }
}

TEST(StandardOutput, WritesBinaryAndReportsAGoneReader) {
  AnonymousPipe pipe;
  StandardOutputChannel out(pipe.write_end.get());
  ASSERT_TRUE(write_frame(out, json::JsonValue("a\r\nb")));
  char buffer[64];
  DWORD got = 0;
  ASSERT_TRUE(::ReadFile(pipe.read_end.get(), buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), test::frame_bytes("\"a\\r\\nb\""));

  pipe.read_end.reset();
  auto failed = write_frame(out, json::JsonValue("x"));
  ASSERT_FALSE(failed);
  EXPECT_TRUE(failed.error().os_code().has_value()) << "a write to a closed reader must fail with an OS error";
}

}  // namespace
}  // namespace host::win
