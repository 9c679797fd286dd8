// The server end of a named pipe, made inside a test so that the client
// code has a real pipe to talk to. Every wait is bounded and reports what it
// was waiting for.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <string_view>

#include "main/wide_text.h"
#include "windows/unique_handle.h"

namespace host::test {

using win::UniqueHandle;

// Generous: Wine's pipes are slow, and a hang must still end the test.
inline constexpr DWORD pipe_wait_ms = 20000;

// A pipe name no other test or process uses.
inline std::wstring unique_pipe_name(std::wstring_view tag = L"pipe-test") {
  static std::atomic<unsigned> counter{0};
  return L"\\\\.\\pipe\\host-" + std::wstring(tag) + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
         std::to_wstring(++counter);
}

class PipeServer {
 public:
  // One instance of a byte-mode pipe that allows up to max_instances.
  explicit PipeServer(std::wstring name = unique_pipe_name(), DWORD max_instances = 1) : name_(std::move(name)) {
    handle_.reset(::CreateNamedPipeW(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, max_instances, 64 * 1024,
                                     64 * 1024, 0, nullptr));
    if (!handle_) ADD_FAILURE() << "CreateNamedPipeW failed with " << ::GetLastError();
  }

  const std::wstring& name() const { return name_; }
  std::string endpoint() const {
    return from_wide(std::u16string_view(reinterpret_cast<const char16_t*>(name_.c_str())));
  }
  HANDLE handle() const { return handle_.get(); }

  // Waits for the client that opened (or is about to open) this instance.
  ::testing::AssertionResult accept() {
    const UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    if (::ConnectNamedPipe(handle_.get(), &overlapped)) return ::testing::AssertionSuccess();
    const DWORD code = ::GetLastError();
    if (code == ERROR_PIPE_CONNECTED) return ::testing::AssertionSuccess();
    if (code != ERROR_IO_PENDING) return ::testing::AssertionFailure() << "ConnectNamedPipe failed with " << code;
    DWORD ignored = 0;
    if (finish(overlapped, ignored) != 0) return ::testing::AssertionFailure() << "no client connected in time";
    return ::testing::AssertionSuccess();
  }

  ::testing::AssertionResult write(std::string_view bytes) {
    while (!bytes.empty()) {
      DWORD count = 0;
      if (const DWORD code = transfer(false, const_cast<char*>(bytes.data()), DWORD(bytes.size()), count)) {
        return ::testing::AssertionFailure() << "server write failed with " << code;
      }
      bytes.remove_prefix(count);
    }
    return ::testing::AssertionSuccess();
  }

  // Reads exactly n bytes into out.
  ::testing::AssertionResult read_exact(std::size_t n, std::string& out) {
    out.assign(n, '\0');
    std::size_t got = 0;
    while (got < n) {
      DWORD count = 0;
      if (const DWORD code = transfer(true, out.data() + got, DWORD(n - got), count)) {
        out.resize(got);
        return ::testing::AssertionFailure()
               << "server read failed with " << code << " after " << got << " of " << n << " bytes";
      }
      got += count;
    }
    return ::testing::AssertionSuccess();
  }

  // The application closing its end.
  void close() { handle_.reset(); }

 private:
  // One transfer, waited for at most pipe_wait_ms: 0 or the error code
  // (WAIT_TIMEOUT when it did not finish in time and was cancelled).
  DWORD transfer(bool reading, char* data, DWORD size, DWORD& count) {
    const UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    const BOOL done = reading ? ::ReadFile(handle_.get(), data, size, &count, &overlapped)
                              : ::WriteFile(handle_.get(), data, size, &count, &overlapped);
    if (done) return 0;
    const DWORD code = ::GetLastError();
    if (code != ERROR_IO_PENDING) return code;
    return finish(overlapped, count);
  }

  // Waits, bounded, for an overlapped operation; on time-out cancels it and
  // waits for the cancellation, so the OVERLAPPED is never left in use.
  DWORD finish(OVERLAPPED& overlapped, DWORD& count) {
    if (::WaitForSingleObject(overlapped.hEvent, pipe_wait_ms) != WAIT_OBJECT_0) {
      ::CancelIoEx(handle_.get(), &overlapped);
      ::GetOverlappedResult(handle_.get(), &overlapped, &count, TRUE);
      return WAIT_TIMEOUT;
    }
    if (!::GetOverlappedResult(handle_.get(), &overlapped, &count, FALSE)) return ::GetLastError();
    return 0;
  }

  std::wstring name_;
  UniqueHandle handle_;
};

}  // namespace host::test
