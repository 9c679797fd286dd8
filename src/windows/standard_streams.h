// The process's standard input and output as byte channels, read and written
// with ReadFile / WriteFile on the handles from GetStdHandle: binary, never
// through the C runtime's text-mode streams.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>

#include "main/buffered_channel.h"

namespace host::win {

using ReadFileFn = BOOL(WINAPI*)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);

// Standard input. The browser closing its end shows as a broken pipe on
// Windows and as a 0-byte read under Wine; a missing handle means there is
// nothing to read. All three are the end of the stream.
class StandardInputChannel final : public ByteReader {
 public:
  explicit StandardInputChannel(HANDLE handle, ReadFileFn read_file = ::ReadFile) noexcept
      : handle_(handle), read_file_(read_file) {}
  HostResult<std::size_t> read(std::span<char> buffer) override;

 private:
  HANDLE handle_;
  ReadFileFn read_file_;
};

// Standard output, unbuffered.
class StandardOutputChannel final : public ByteWriter {
 public:
  explicit StandardOutputChannel(HANDLE handle) noexcept : handle_(handle) {}
  HostResult<std::size_t> write(std::span<const char> bytes) override;

 private:
  HANDLE handle_;
};

// Buffered standard input for the relay's worker, which owns it for the life
// of the process.
std::shared_ptr<ByteReader> open_standard_input();

// The process's buffered standard output and the lock its writer holds.
// Flushing hands the buffered bytes to WriteFile; it never waits for the
// reader (no FlushFileBuffers).
struct StandardOutput {
  std::mutex lock;
  ByteWriter& writer;
};
StandardOutput& standard_output();

}  // namespace host::win
