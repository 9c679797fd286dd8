// The client end of the desktop application's named pipe: overlapped reads
// and writes that two threads may run at once, and a shutdown that any
// thread may call to end what the others have outstanding.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

#include "main/byte_channel.h"
#include "windows/unique_handle.h"

namespace host::win {

// The system calls a connection makes. Production code always gets the real
// ones; tests replace single entries to count calls, to check the arguments,
// or to inject a result that Wine cannot produce (an event that cannot be
// created, a buffer longer than 4 GiB). A replacement may also throw: that is
// how tests reach the "state unavailable" mark, which only an exception
// leaving a locked section sets. Replacements of cancel_io_ex and
// disconnect_named_pipe must not throw (shutdown is noexcept).
struct PipeCalls {
  HANDLE(WINAPI* create_file)
  (LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) = ::CreateFileW;
  HANDLE(WINAPI* create_event)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR) = ::CreateEventW;
  BOOL(WINAPI* read_file)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) = ::ReadFile;
  BOOL(WINAPI* write_file)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) = ::WriteFile;
  BOOL(WINAPI* get_overlapped_result)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL) = ::GetOverlappedResult;
  BOOL(WINAPI* cancel_io_ex)(HANDLE, LPOVERLAPPED) = ::CancelIoEx;
  BOOL(WINAPI* disconnect_named_pipe)(HANDLE) = ::DisconnectNamedPipe;
};

// Shared between the relay's two threads through std::shared_ptr: its
// atomic use count is the holder count, and the last holder to let go closes
// the pipe handle. Shutdown never closes it, so a thread still inside a
// transfer always waits on a valid handle.
class PipeConnection final : public host::Connection {
 public:
  // Opens endpoint (UTF-8, passed to the system unchanged) for reading and
  // writing with overlapped I/O and no sharing. Fails at once with the
  // system's error code: a missing pipe (2) and a pipe whose instances are
  // all busy (231) are neither waited for nor retried.
  static HostResult<std::shared_ptr<PipeConnection>> open(std::string_view endpoint);
  // The same with replaced system calls; for tests only.
  static HostResult<std::shared_ptr<PipeConnection>> open(std::string_view endpoint, const PipeCalls& calls);

  PipeConnection(const PipeConnection&) = delete;
  PipeConnection& operator=(const PipeConnection&) = delete;

  // One system call's worth: up to min(size, 0xFFFFFFFF) bytes, possibly
  // fewer. A size of 0 returns 0 without touching anything. After shutdown
  // the result is NotConnected "Pipe closed"; once the lock is marked
  // unavailable, Other "Pipe state unavailable". System errors (995 for a
  // transfer cancelled by shutdown, 109 / 232 once the application closed
  // its end) come back with their code unchanged and do not close the
  // connection.
  HostResult<std::size_t> read(std::span<char> buffer) override;
  HostResult<std::size_t> write(std::span<const char> bytes) override;

  // The first call cancels every transfer outstanding on the handle, from
  // any thread, and disconnects the pipe; later calls, and any call once the
  // lock is marked unavailable, do nothing.
  void shutdown() noexcept override;

 private:
  class LockedSection;
  enum class Refusal { None, Closed, Poisoned };

  PipeConnection(UniqueHandle handle, const PipeCalls& calls) noexcept : handle_(std::move(handle)), calls_(calls) {}

  // The algorithm shared by read and write; start issues the ReadFile or
  // WriteFile call with the per-call count and OVERLAPPED.
  template <class Start>
  HostResult<std::size_t> transfer(Start start);

  // Set once at open and never changed, so waits read it without the lock.
  const UniqueHandle handle_;
  const PipeCalls calls_;

  // Not reentrant (exclusive mode only). Guards closed_ and poisoned_; held
  // only to check them and start a transfer, or for the whole of shutdown,
  // never while waiting. A slim lock rather than std::mutex: it holds no
  // kernel object and needs no release, so a connection leaves nothing
  // behind however contended its lock was.
  SRWLOCK lock_ = SRWLOCK_INIT;
  bool closed_ = false;
  // Set when an exception leaves a locked section; never cleared.
  bool poisoned_ = false;
};

}  // namespace host::win
