#include "windows/pipe_connection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <latch>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/handle_count.h"
#include "support/pipe_server.h"

namespace host::win {
namespace {

using test::PipeServer;
using namespace std::chrono_literals;

constexpr auto wait_limit = 20s;

// What the connection asked of the system, recorded by the replacement
// calls below, which pass every call on to the real one unless a test asks
// for an injected result.
struct Recorder {
  std::atomic<int> create_file{0}, create_event{0}, read_file{0}, write_file{0}, cancel{0}, disconnect{0};
  // Call order of the two shutdown calls (1 = first of them).
  std::atomic<int> sequence{0}, cancel_at{0}, disconnect_at{0};
  std::atomic<DWORD> access{0}, share{0xFFFF}, disposition{0}, flags{0};
  std::atomic<bool> attributes_or_template_given{false};
  // Injected results, each used once.
  std::atomic<bool> throw_in_next_read{false};
  std::atomic<DWORD> fail_next_event_with{0};

  // Threads that have started a transfer and are about to wait for it.
  // Windows' slim lock and condition variable: unlike winpthreads' lazily
  // made objects they open no handle, which would upset the handle counts.
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
  int waiting = 0;

  void add_waiting() {
    ::AcquireSRWLockExclusive(&lock);
    ++waiting;
    ::ReleaseSRWLockExclusive(&lock);
    ::WakeAllConditionVariable(&changed);
  }
  int waiting_so_far() {
    ::AcquireSRWLockExclusive(&lock);
    const int n = waiting;
    ::ReleaseSRWLockExclusive(&lock);
    return n;
  }
  bool wait_for_waiting(int n) {
    const ULONGLONG deadline = ::GetTickCount64() + test::pipe_wait_ms;
    ::AcquireSRWLockExclusive(&lock);
    while (waiting < n) {
      const ULONGLONG now = ::GetTickCount64();
      if (now >= deadline) break;
      ::SleepConditionVariableSRW(&changed, &lock, DWORD(deadline - now), 0);
    }
    const bool reached = waiting >= n;
    ::ReleaseSRWLockExclusive(&lock);
    return reached;
  }
};

Recorder* recorder = nullptr;

HANDLE WINAPI recorded_create_file(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes,
                                   DWORD disposition, DWORD flags, HANDLE template_file) {
  ++recorder->create_file;
  recorder->access = access;
  recorder->share = share;
  recorder->disposition = disposition;
  recorder->flags = flags;
  recorder->attributes_or_template_given = attributes != nullptr || template_file != nullptr;
  return ::CreateFileW(path, access, share, attributes, disposition, flags, template_file);
}

HANDLE WINAPI recorded_create_event(LPSECURITY_ATTRIBUTES attributes, BOOL manual, BOOL initial, LPCWSTR name) {
  ++recorder->create_event;
  if (const DWORD code = recorder->fail_next_event_with.exchange(0)) {
    ::SetLastError(code);
    return nullptr;
  }
  return ::CreateEventW(attributes, manual, initial, name);
}

BOOL WINAPI recorded_read_file(HANDLE h, LPVOID buffer, DWORD length, LPDWORD count, LPOVERLAPPED overlapped) {
  ++recorder->read_file;
  if (recorder->throw_in_next_read.exchange(false)) throw std::runtime_error("injected failure inside the lock");
  return ::ReadFile(h, buffer, length, count, overlapped);
}

BOOL WINAPI recorded_write_file(HANDLE h, LPCVOID bytes, DWORD length, LPDWORD count, LPOVERLAPPED overlapped) {
  ++recorder->write_file;
  return ::WriteFile(h, bytes, length, count, overlapped);
}

BOOL WINAPI recorded_get_overlapped_result(HANDLE h, LPOVERLAPPED overlapped, LPDWORD count, BOOL wait) {
  recorder->add_waiting();
  return ::GetOverlappedResult(h, overlapped, count, wait);
}

BOOL WINAPI recorded_cancel_io_ex(HANDLE h, LPOVERLAPPED overlapped) {
  ++recorder->cancel;
  recorder->cancel_at = ++recorder->sequence;
  return ::CancelIoEx(h, overlapped);
}

BOOL WINAPI recorded_disconnect(HANDLE h) {
  ++recorder->disconnect;
  recorder->disconnect_at = ++recorder->sequence;
  return ::DisconnectNamedPipe(h);
}

PipeCalls recorded_calls() {
  PipeCalls calls;
  calls.create_file = recorded_create_file;
  calls.create_event = recorded_create_event;
  calls.read_file = recorded_read_file;
  calls.write_file = recorded_write_file;
  calls.get_overlapped_result = recorded_get_overlapped_result;
  calls.cancel_io_ex = recorded_cancel_io_ex;
  calls.disconnect_named_pipe = recorded_disconnect;
  return calls;
}

std::span<const char> bytes_of(std::string_view text) { return {text.data(), text.size()}; }

// Waits, bounded, for a transfer running on another thread.
template <class T>
T finished(std::future<T>& future, const char* what) {
  if (future.wait_for(wait_limit) != std::future_status::ready) {
    // The thread still uses this frame's objects: nothing can continue.
    std::fprintf(stderr, "FAILED: %s did not finish within the wait limit\n", what);
    std::abort();
  }
  return future.get();
}

// Runs a call that a faulty connection could block in forever (a shutdown
// that waits for a transfer, a transfer started after shutdown) on its own
// thread, so that the test fails with a message instead of hanging.
template <class F>
auto within_limit(const char* what, F call) {
  auto future = std::async(std::launch::async, std::move(call));
  return finished(future, what);
}

// Declared after the threads of a test: should the test fail while a
// transfer is still outstanding, the server closing its end fails that
// transfer, so the thread ends and can be joined.
struct EndTransfersOnExit {
  PipeServer& server;
  ~EndTransfersOnExit() { server.close(); }
};

void expect_os_error(const HostResult<std::size_t>& result, DWORD code, const char* what) {
  ASSERT_FALSE(result) << what << " succeeded with " << *result;
  EXPECT_EQ(result.error().os_code(), std::optional<std::uint32_t>(code)) << what << ": " << result.error().message();
}

class PipeConnectionTest : public ::testing::Test {
 protected:
  PipeConnectionTest() { recorder = &calls_seen; }
  ~PipeConnectionTest() override { recorder = nullptr; }

  // A server and a connected client with the recorded calls.
  std::shared_ptr<PipeConnection> connect(PipeServer& server, const PipeCalls& calls = recorded_calls()) {
    auto opened = PipeConnection::open(server.endpoint(), calls);
    if (!opened) {
      ADD_FAILURE() << "open failed: " << opened.error().os_code().value_or(0);
      return nullptr;
    }
    EXPECT_TRUE(server.accept());
    return *opened;
  }

  Recorder calls_seen;
};

// --- opening ---------------------------------------------------------------

TEST_F(PipeConnectionTest, OpenFailsAtOnceWithTheSystemCodeAndNeverRetries) {
  PipeServer busy;  // one instance, taken by the first client below
  auto first = connect(busy);
  ASSERT_TRUE(first);

  struct Case {
    const char* what;
    std::string endpoint;
    DWORD code;
  } cases[] = {
      {"no pipe of that name", "\\\\.\\pipe\\host-no-such-pipe-" + std::to_string(::GetCurrentProcessId()),
       ERROR_FILE_NOT_FOUND},
      {"every instance busy", busy.endpoint(), ERROR_PIPE_BUSY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    calls_seen.create_file = 0;
    auto opened = PipeConnection::open(c.endpoint, recorded_calls());
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().os_code(), std::optional<std::uint32_t>(c.code));
    EXPECT_EQ(calls_seen.create_file, 1) << "a failed open must not be retried";
  }
}

TEST_F(PipeConnectionTest, OpenPassesTheEndpointUnchangedWithReadWriteOverlappedAndNoSharing) {
  // A pipe name outside ASCII, and a path that names no pipe at all.
  PipeServer server(L"\\\\.\\pipe\\host-pipe-test-\u00e9\u20ac-" + std::to_wstring(::GetCurrentProcessId()));
  wchar_t temp[MAX_PATH];
  ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring file_path = std::wstring(temp) + L"host-pipe-test-" + std::to_wstring(::GetCurrentProcessId());
  ASSERT_TRUE(UniqueHandle(::CreateFileW(file_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)));
  struct Remove {
    const std::wstring& path;
    ~Remove() { ::DeleteFileW(path.c_str()); }
  } remove{file_path};

  const std::string pipe_endpoint =
      "\\\\.\\pipe\\host-pipe-test-\xC3\xA9\xE2\x82\xAC-" + std::to_string(::GetCurrentProcessId());
  const std::string file_endpoint =
      from_wide(std::u16string_view(reinterpret_cast<const char16_t*>(file_path.c_str())));

  std::vector<std::shared_ptr<PipeConnection>> kept_open;  // until the server has read
  for (const auto& endpoint : {pipe_endpoint, file_endpoint}) {
    SCOPED_TRACE(endpoint);
    auto opened = PipeConnection::open(endpoint, recorded_calls());
    ASSERT_TRUE(opened) << "error " << opened.error().os_code().value_or(0);
    EXPECT_EQ(calls_seen.access, GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(calls_seen.share, 0u);
    EXPECT_EQ(calls_seen.disposition, DWORD(OPEN_EXISTING));
    EXPECT_EQ(calls_seen.flags, DWORD(FILE_FLAG_OVERLAPPED)) << "no other flag, no quality-of-service bits";
    EXPECT_FALSE(calls_seen.attributes_or_template_given);
    EXPECT_EQ((*opened)->write(bytes_of("abc")).value_or(0), 3u);
    kept_open.push_back(*opened);
  }
  std::string got;
  ASSERT_TRUE(server.accept());
  ASSERT_TRUE(server.read_exact(3, got));
  EXPECT_EQ(got, "abc");
}

// --- transfers -------------------------------------------------------------

TEST_F(PipeConnectionTest, ReadReturnsWhatIsThereWhetherItWasWaitingOrNot) {
  PipeServer server;
  auto pipe = connect(server);
  ASSERT_TRUE(pipe);
  char buffer[100];

  // Bytes already there: one read returns them without waiting for more.
  ASSERT_TRUE(server.write("abc"));
  auto got = pipe->read(buffer);
  ASSERT_TRUE(got);
  EXPECT_EQ(std::string_view(buffer, *got), "abc");

  // Nothing there yet: the read waits, then returns the piece that came.
  const int waited_before = calls_seen.waiting_so_far();
  auto pending = std::async(std::launch::async, [&] { return pipe->read(buffer); });
  EndTransfersOnExit end_pending{server};
  ASSERT_TRUE(calls_seen.wait_for_waiting(waited_before + 1)) << "the read never started waiting";
  ASSERT_TRUE(server.write("defgh"));
  got = finished(pending, "the pending read");
  ASSERT_TRUE(got);
  EXPECT_EQ(std::string_view(buffer, *got), "defgh");

  // A buffer smaller than what is there: the rest stays for the next read.
  ASSERT_TRUE(server.write("12345"));
  got = pipe->read(std::span(buffer, 2));
  ASSERT_TRUE(got);
  EXPECT_EQ(std::string_view(buffer, *got), "12");
  got = pipe->read(buffer);
  ASSERT_TRUE(got);
  EXPECT_EQ(std::string_view(buffer, *got), "345");

  EXPECT_EQ(pipe->write(bytes_of("reply")).value_or(0), 5u);
  std::string reply;
  ASSERT_TRUE(server.read_exact(5, reply));
  EXPECT_EQ(reply, "reply");
}

TEST_F(PipeConnectionTest, AReadAndAWriteAreOutstandingAtOnceFromTwoThreads) {
  PipeServer server;
  auto pipe = connect(server);
  ASSERT_TRUE(pipe);

  char buffer[16];
  auto reading = std::async(std::launch::async, [&] { return pipe->read(buffer); });
  EndTransfersOnExit end_reading{server};
  ASSERT_TRUE(calls_seen.wait_for_waiting(1)) << "the read never started waiting";

  // Far more than the pipe buffers, so the write waits for the server too;
  // it can only start if the waiting read does not hold the lock.
  const std::string big(1 << 20, 'w');
  auto writing = std::async(std::launch::async, [&] { return pipe->write(bytes_of(big)); });
  EndTransfersOnExit end_writing{server};
  ASSERT_TRUE(calls_seen.wait_for_waiting(2)) << "the write could not start while the read was outstanding";

  std::string received;
  ASSERT_TRUE(server.read_exact(big.size(), received));
  EXPECT_TRUE(received == big);
  EXPECT_EQ(finished(writing, "the write").value_or(0), big.size());

  ASSERT_TRUE(server.write("pong"));
  auto got = finished(reading, "the read");
  ASSERT_TRUE(got);
  EXPECT_EQ(std::string_view(buffer, *got), "pong");
}

// Wine cannot give a 4 GiB buffer to a pipe, so the transfer calls are
// replaced: they record the length asked for and report 7 bytes moved. The
// buffer is reserved address space only; nothing touches it.
TEST_F(PipeConnectionTest, InjectedTransfer_LengthsAboveFourGiBAskForAtMost0xFFFFFFFF) {
  static std::atomic<DWORD> asked{0};
  PipeCalls calls = recorded_calls();
  calls.read_file = [](HANDLE, LPVOID, DWORD length, LPDWORD count, LPOVERLAPPED) -> BOOL {
    asked = length;
    *count = 7;
    return TRUE;
  };
  calls.write_file = [](HANDLE, LPCVOID, DWORD length, LPDWORD count, LPOVERLAPPED) -> BOOL {
    asked = length;
    *count = 7;
    return TRUE;
  };
  PipeServer server;
  auto pipe = connect(server, calls);
  ASSERT_TRUE(pipe);

  constexpr std::size_t reserved = 0x100000005;
  struct Reservation {
    char* base = static_cast<char*>(::VirtualAlloc(nullptr, reserved, MEM_RESERVE, PAGE_NOACCESS));
    ~Reservation() {
      if (base) ::VirtualFree(base, 0, MEM_RELEASE);
    }
  } space;
  ASSERT_NE(space.base, nullptr);

  const struct {
    std::size_t length;
    DWORD asked;
  } cases[] = {{5, 5}, {0xFFFFFFFF, 0xFFFFFFFF}, {0x100000000, 0xFFFFFFFF}, {0x100000005, 0xFFFFFFFF}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    asked = 0;
    EXPECT_EQ(pipe->read(std::span(space.base, c.length)).value_or(0), 7u);
    EXPECT_EQ(asked, c.asked);
    asked = 0;
    EXPECT_EQ(pipe->write(std::span<const char>(space.base, c.length)).value_or(0), 7u);
    EXPECT_EQ(asked, c.asked);
  }
}

// Wine always creates events, so the failure is injected; the next call
// gets a real event and must find the connection as usable as before.
TEST_F(PipeConnectionTest, InjectedEventFailure_IsPassedUpStartsNothingAndClosesNothing) {
  PipeServer server;
  auto pipe = connect(server);
  ASSERT_TRUE(pipe);
  char buffer[8];
  const struct {
    const char* what;
    std::function<HostResult<std::size_t>()> call;
  } cases[] = {
      {"read", [&] { return pipe->read(buffer); }},
      {"write", [&] { return pipe->write(bytes_of("x")); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    calls_seen.fail_next_event_with = ERROR_NO_SYSTEM_RESOURCES;
    expect_os_error(c.call(), ERROR_NO_SYSTEM_RESOURCES, c.what);
    EXPECT_EQ(calls_seen.read_file + calls_seen.write_file, 0) << "no transfer may start without its event";
  }
  ASSERT_TRUE(server.write("y"));
  EXPECT_EQ(pipe->read(buffer).value_or(0), 1u);
  EXPECT_EQ(pipe->write(bytes_of("z")).value_or(0), 1u);
}

// --- shutdown --------------------------------------------------------------

TEST_F(PipeConnectionTest, ShutdownCancelsABlockedReadAndTheHandleLivesUntilTheLastReferenceGoes) {
  PipeServer server;
  auto pipe = connect(server);
  ASSERT_TRUE(pipe);
  // The worker reports each step on an event and waits for the next go.
  const UniqueHandle worker_done(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  const UniqueHandle go_on(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  const auto step = [](HANDLE h) { return ::WaitForSingleObject(h, test::pipe_wait_ms) == WAIT_OBJECT_0; };
  HostResult<std::size_t> cancelled = 0, after_last_other = 0;
  std::thread worker([&, reference = pipe]() mutable {
    char buffer[8];
    cancelled = reference->read(buffer);
    ::SetEvent(worker_done.get());
    if (!step(go_on.get())) return;
    // The main thread's reference is gone; this one still reaches a live
    // connection, and its release is the last.
    after_last_other = reference->read(buffer);
    reference.reset();
    ::SetEvent(worker_done.get());
    step(go_on.get());
  });
  struct Join {
    std::thread& t;
    HANDLE go;
    PipeServer& server;
    ~Join() {
      server.close();
      ::SetEvent(go);
      t.join();
    }
  } join{worker, go_on.get(), server};

  ASSERT_TRUE(calls_seen.wait_for_waiting(1)) << "the read never started waiting";
  within_limit("shutdown with a read outstanding", [&] { pipe->shutdown(); });
  ASSERT_TRUE(step(worker_done.get())) << "shutdown did not end the blocked read";
  expect_os_error(cancelled, ERROR_OPERATION_ABORTED, "the read cancelled by shutdown");

  const auto both_held = test::process_handle_count();
  ASSERT_TRUE(both_held);
  pipe.reset();
  EXPECT_EQ(test::process_handle_count(), both_held) << "shutdown and one release must not close the handle";

  ::SetEvent(go_on.get());
  ASSERT_TRUE(step(worker_done.get())) << "the worker did not release its reference";
  ASSERT_FALSE(after_last_other);
  EXPECT_TRUE(after_last_other.error().is(ErrorKind::NotConnected, msg::pipe_closed));
  EXPECT_EQ(test::process_handle_count(), *both_held - 1) << "the last release must close the handle";
}

TEST_F(PipeConnectionTest, TransfersAfterShutdownFailWithPipeClosedAndStartNothing) {
  PipeServer server;
  auto pipe = connect(server);
  ASSERT_TRUE(pipe);
  pipe->shutdown();
  char buffer[8];
  for (int round = 0; round < 2; ++round) {
    auto read = within_limit("a read after shutdown", [&] { return pipe->read(buffer); });
    auto wrote = within_limit("a write after shutdown", [&] { return pipe->write(bytes_of("x")); });
    ASSERT_FALSE(read);
    ASSERT_FALSE(wrote);
    EXPECT_TRUE(read.error().is(ErrorKind::NotConnected, msg::pipe_closed));
    EXPECT_TRUE(wrote.error().is(ErrorKind::NotConnected, msg::pipe_closed));
  }
  EXPECT_EQ(calls_seen.read_file + calls_seen.write_file, 0);
}

TEST_F(PipeConnectionTest, ShutdownCancelsAndDisconnectsOnceWhoeverCallsIt) {
  const struct {
    const char* what;
    int threads;
  } cases[] = {{"twice from one thread", 1}, {"from three threads at once", 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Recorder fresh;
    recorder = &fresh;
    PipeServer server;
    auto pipe = connect(server);
    ASSERT_TRUE(pipe);
    char buffer[8];
    auto blocked = std::async(std::launch::async, [&] { return pipe->read(buffer); });
    EndTransfersOnExit end_blocked{server};
    ASSERT_TRUE(fresh.wait_for_waiting(1)) << "the read never started waiting";

    std::latch start(c.threads);
    std::vector<std::future<void>> callers;
    for (int i = 0; i < c.threads; ++i) {
      callers.push_back(std::async(std::launch::async, [&] {
        start.arrive_and_wait();
        pipe->shutdown();
        pipe->shutdown();
      }));
    }
    for (auto& caller : callers) finished(caller, "shutdown with a read outstanding");

    expect_os_error(finished(blocked, "the blocked read"), ERROR_OPERATION_ABORTED, "the blocked read");
    EXPECT_EQ(fresh.cancel, 1);
    EXPECT_EQ(fresh.disconnect, 1);
    EXPECT_EQ(fresh.cancel_at, 1) << "cancel first, then disconnect";
    EXPECT_EQ(fresh.disconnect_at, 2);
  }
}

// --- the unavailable state -------------------------------------------------

// Nothing in the locked sections fails on its own, under Wine or Windows;
// the replaced ReadFile throws to make an exception leave one.
TEST_F(PipeConnectionTest, InjectedThrow_MakesTheStateUnavailableForGood) {
  PipeServer server;
  auto pipe = connect(server);
  ASSERT_TRUE(pipe);
  char buffer[8];
  calls_seen.throw_in_next_read = true;
  EXPECT_THROW((void)pipe->read(buffer), std::runtime_error);
  const int transfers_started = calls_seen.read_file + calls_seen.write_file;

  for (const char* moment : {"before shutdown", "after shutdown"}) {
    SCOPED_TRACE(moment);
    auto read = within_limit("a read once unavailable", [&] { return pipe->read(buffer); });
    auto wrote = within_limit("a write once unavailable", [&] { return pipe->write(bytes_of("x")); });
    ASSERT_FALSE(read);
    ASSERT_FALSE(wrote);
    EXPECT_TRUE(read.error().is(ErrorKind::Other, msg::pipe_state_unavailable));
    EXPECT_TRUE(wrote.error().is(ErrorKind::Other, msg::pipe_state_unavailable));
    pipe->shutdown();
  }
  EXPECT_EQ(calls_seen.read_file + calls_seen.write_file, transfers_started);
  EXPECT_EQ(calls_seen.cancel + calls_seen.disconnect, 0) << "shutdown must do nothing once unavailable";
}

// A thread that is already unwinding when it takes the lock did not fail
// inside the section, so its exception leaves the state as it was.
TEST_F(PipeConnectionTest, InjectedThrow_FromAThreadAlreadyUnwindingLeavesTheStateAlone) {
  PipeServer server;
  auto pipe = connect(server);
  ASSERT_TRUE(pipe);
  struct ReadsWhileUnwinding {
    PipeConnection& pipe;
    bool threw = false;
    ~ReadsWhileUnwinding() {
      char buffer[8];
      recorder->throw_in_next_read = true;
      try {
        (void)pipe.read(buffer);
      } catch (const std::runtime_error&) {
        threw = true;
      }
      EXPECT_TRUE(threw);
    }
  };
  try {
    ReadsWhileUnwinding during{*pipe};
    throw std::logic_error("outer failure");
  } catch (const std::logic_error&) {
  }
  ASSERT_TRUE(server.write("ok"));
  char buffer[8];
  EXPECT_EQ(pipe->read(buffer).value_or(0), 2u);
}

TEST_F(PipeConnectionTest, ZeroLengthTransfersReturnZeroAndTouchNothingInEveryState) {
  PipeServer server;
  auto pipe = connect(server);
  ASSERT_TRUE(pipe);
  char buffer[8];
  const auto expect_nothing_touched = [&](const char* state) {
    SCOPED_TRACE(state);
    const int events = calls_seen.create_event;
    const int transfers = calls_seen.read_file + calls_seen.write_file;
    EXPECT_EQ(within_limit("a 0-byte read", [&] { return pipe->read(std::span(buffer, 0)); }).value_or(99), 0u);
    EXPECT_EQ(
        within_limit("a 0-byte write", [&] { return pipe->write(std::span<const char>(buffer, 0)); }).value_or(99), 0u);
    EXPECT_EQ(calls_seen.create_event, events);
    EXPECT_EQ(calls_seen.read_file + calls_seen.write_file, transfers);
  };
  expect_nothing_touched("open");
  pipe->shutdown();
  expect_nothing_touched("shut down");

  PipeServer other;
  auto poisoned = connect(other);
  ASSERT_TRUE(poisoned);
  calls_seen.throw_in_next_read = true;
  EXPECT_THROW((void)poisoned->read(buffer), std::runtime_error);
  pipe = poisoned;
  expect_nothing_touched("unavailable");
}

// --- the application's end -------------------------------------------------

TEST_F(PipeConnectionTest, TheApplicationClosingItsEndIsPassedUpUnchanged) {
  PipeServer server;
  auto pipe = connect(server);
  ASSERT_TRUE(pipe);
  char buffer[8];
  auto pending = std::async(std::launch::async, [&] { return pipe->read(buffer); });
  EndTransfersOnExit end_pending{server};
  ASSERT_TRUE(calls_seen.wait_for_waiting(1)) << "the read never started waiting";
  server.close();

  expect_os_error(finished(pending, "the pending read"), ERROR_BROKEN_PIPE, "the pending read");
  expect_os_error(pipe->read(buffer), ERROR_BROKEN_PIPE, "the next read");
  expect_os_error(pipe->write(bytes_of("x")), ERROR_NO_DATA, "a write");
  expect_os_error(pipe->read(buffer), ERROR_BROKEN_PIPE, "a read after the failed write");
}

TEST_F(PipeConnectionTest, ManyOpenTransferShutdownCyclesLeakNoHandle) {
  // Every path that creates or closes something: open, an immediate and a
  // failing transfer, shutdown, release, and an open that fails. No thread
  // is started, so only the connection's own handles come and go.
  const auto cycle = [] {
    PipeServer server;
    auto opened = PipeConnection::open(server.endpoint());
    ASSERT_TRUE(opened);
    auto pipe = *opened;
    ASSERT_TRUE(server.accept());
    ASSERT_TRUE(server.write("ping"));
    char buffer[8];
    ASSERT_EQ(pipe->read(buffer).value_or(0), 4u);
    ASSERT_EQ(pipe->write(bytes_of("pong")).value_or(0), 4u);
    server.close();
    ASSERT_FALSE(pipe->read(buffer));
    pipe->shutdown();
    ASSERT_FALSE(PipeConnection::open(server.endpoint() + "-missing"));
  };
  cycle();  // first-use allocations of the runtime and the system
  const auto before = test::process_handle_count();
  ASSERT_TRUE(before);
  for (int i = 0; i < 200; ++i) {
    cycle();
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(test::process_handle_count(), before);
}

}  // namespace
}  // namespace host::win
