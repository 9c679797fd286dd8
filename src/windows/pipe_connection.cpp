#include "windows/pipe_connection.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <new>

#include "main/wide_text.h"

namespace host::win {
namespace {

DWORD clamp_length(std::size_t n) noexcept {
  return static_cast<DWORD>(std::min<std::size_t>(n, std::numeric_limits<DWORD>::max()));
}

}  // namespace

// Holds the connection's lock for one section and marks it unavailable when
// an exception leaves the section, unless the thread was already unwinding
// when it came in (its failure did not start here). Nothing inside the
// sections is expected to throw; the mark makes sure that, should it happen,
// nobody trusts `closed_` or a half-started transfer afterwards.
class PipeConnection::LockedSection {
 public:
  explicit LockedSection(PipeConnection& connection)
      : connection_(connection), failing_on_entry_(std::uncaught_exceptions() > 0) {
    ::AcquireSRWLockExclusive(&connection_.lock_);
  }
  ~LockedSection() {
    if (!failing_on_entry_ && std::uncaught_exceptions() > 0) connection_.poisoned_ = true;
    ::ReleaseSRWLockExclusive(&connection_.lock_);
  }
  LockedSection(const LockedSection&) = delete;
  LockedSection& operator=(const LockedSection&) = delete;

 private:
  PipeConnection& connection_;
  const bool failing_on_entry_;
};

HostResult<std::shared_ptr<PipeConnection>> PipeConnection::open(std::string_view endpoint) {
  return open(endpoint, PipeCalls{});
}

HostResult<std::shared_ptr<PipeConnection>> PipeConnection::open(std::string_view endpoint, const PipeCalls& calls) {
  try {
    const std::u16string path = to_wide(endpoint);
    // No security-quality-of-service flags and no wait for a free instance:
    // the application either has an instance listening or the host fails.
    UniqueHandle handle(calls.create_file(wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_OVERLAPPED, nullptr));
    if (!handle) return std::unexpected(HostError::os(::GetLastError()));
    return std::shared_ptr<PipeConnection>(new PipeConnection(std::move(handle), calls));
  } catch (const std::bad_alloc&) {
    return std::unexpected(HostError::out_of_memory());
  }
}

template <class Start>
HostResult<std::size_t> PipeConnection::transfer(Start start) {
  // Each call has its own event and OVERLAPPED, so a read and a write can be
  // outstanding on the handle at the same time.
  const HANDLE raw_event = calls_.create_event(nullptr, TRUE, FALSE, nullptr);
  if (raw_event == nullptr) return std::unexpected(HostError::os(::GetLastError()));
  const UniqueHandle event(raw_event);

  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  DWORD count = 0;
  BOOL finished = FALSE;
  DWORD code = 0;
  Refusal refusal = Refusal::None;
  {
    // The check of closed_ and the start of the transfer under one lock:
    // shutdown either sees this transfer outstanding and cancels it, or this
    // call sees closed_ and starts nothing. The error value is built after
    // the section so that nothing in it allocates.
    LockedSection section(*this);
    if (poisoned_) {
      refusal = Refusal::Poisoned;
    } else if (closed_) {
      refusal = Refusal::Closed;
    } else {
      finished = start(&count, &overlapped);
      if (!finished) code = ::GetLastError();
    }
  }
  if (refusal == Refusal::Poisoned) {
    return std::unexpected(HostError::fixed(ErrorKind::Other, msg::pipe_state_unavailable));
  }
  if (refusal == Refusal::Closed) return std::unexpected(HostError::fixed(ErrorKind::NotConnected, msg::pipe_closed));
  if (finished) return count;
  if (code != ERROR_IO_PENDING) return std::unexpected(HostError::os(code));
  // Waits without a limit and without the lock: shutdown from another
  // thread ends this wait with ERROR_OPERATION_ABORTED.
  if (!calls_.get_overlapped_result(handle_.get(), &overlapped, &count, TRUE)) {
    return std::unexpected(HostError::os(::GetLastError()));
  }
  return count;
}

HostResult<std::size_t> PipeConnection::read(std::span<char> buffer) {
  if (buffer.empty()) return 0;
  return transfer([&](DWORD* count, OVERLAPPED* overlapped) {
    return calls_.read_file(handle_.get(), buffer.data(), clamp_length(buffer.size()), count, overlapped);
  });
}

HostResult<std::size_t> PipeConnection::write(std::span<const char> bytes) {
  if (bytes.empty()) return 0;
  return transfer([&](DWORD* count, OVERLAPPED* overlapped) {
    return calls_.write_file(handle_.get(), bytes.data(), clamp_length(bytes.size()), count, overlapped);
  });
}

void PipeConnection::shutdown() noexcept {
  LockedSection section(*this);
  if (poisoned_ || closed_) return;
  closed_ = true;
  // Results ignored: there is nothing left to do if either fails, and the
  // handle stays open for the holders until the last one lets go.
  calls_.cancel_io_ex(handle_.get(), nullptr);
  calls_.disconnect_named_pipe(handle_.get());
}

}  // namespace host::win
