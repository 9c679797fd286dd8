#include "bench_session.h"

#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Ends the program under test when a measurement takes far too long, which
// breaks its pipes and so every wait on them: a hang ends as a failure.
class Watchdog {
 public:
  Watchdog(host::tools::ChildProcess& process, std::chrono::milliseconds limit)
      : thread_([this, &process, limit] {
          std::unique_lock lock(mutex_);
          if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
            fired_ = true;
            process.kill();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  bool fired() {
    std::lock_guard lock(mutex_);
    return fired_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  bool fired_ = false;
  std::thread thread_;
};

constexpr auto phase_limit = std::chrono::milliseconds(300s);

}  // namespace

Session::Session(const std::wstring& program, std::vector<std::wstring> arguments, const std::wstring& appdata) {
  host::tools::ChildOptions options;
  options.program = program;
  options.arguments = std::move(arguments);
  options.environment[L"APPDATA"] = appdata;
  options.collect_stdout = false;
  process_ = std::make_unique<host::tools::ChildProcess>(options);
  if (process_->started()) {
    query_.reset(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, process_->pid()));
  }
}

Session::~Session() = default;

bool Session::read_echo(const std::string& expected, std::size_t count) {
  // Large reads, so that the reading side costs the same little for every
  // program under test.
  std::vector<char> buffer(1 << 20);
  const std::size_t total = expected.size() * count;
  std::size_t at = 0;
  while (at < total) {
    DWORD got = 0;
    const DWORD want = DWORD(std::min(buffer.size(), total - at));
    if (!::ReadFile(process_->stdout_pipe(), buffer.data(), want, &got, nullptr) || got == 0) {
      failure_ = "the echo ended after " + std::to_string(at) + " of " + std::to_string(total) + " bytes";
      return false;
    }
    // Compare against the repeated frame, piece by piece across frame ends.
    for (std::size_t done = 0; done < got;) {
      const std::size_t offset = (at + done) % expected.size();
      const std::size_t n = std::min<std::size_t>(got - done, expected.size() - offset);
      if (std::memcmp(buffer.data() + done, expected.data() + offset, n) != 0) {
        failure_ = "the echo differs from what was sent, in frame " + std::to_string((at + done) / expected.size());
        return false;
      }
      done += n;
    }
    at += got;
  }
  return true;
}

std::optional<double> Session::stream(const std::string& frame, std::size_t count) {
  Watchdog watchdog(*process_, phase_limit);
  bool sent = true;
  const auto start = Clock::now();
  std::thread writer([&] {
    for (std::size_t i = 0; i < count && sent; ++i) sent = process_->write_stdin(frame);
  });
  const bool echoed = read_echo(frame, count);
  const double elapsed = seconds_since(start);
  writer.join();
  if (watchdog.fired()) failure_ = "no echo within the time limit";
  if (!echoed || !sent || watchdog.fired()) return std::nullopt;
  return elapsed;
}

std::optional<double> Session::ping_pong(const std::string& frame, std::size_t count) {
  Watchdog watchdog(*process_, phase_limit);
  const auto start = Clock::now();
  for (std::size_t i = 0; i < count; ++i) {
    if (!process_->write_stdin(frame)) {
      failure_ = "the program stopped reading";
      return std::nullopt;
    }
    if (!read_echo(frame, 1)) return std::nullopt;
  }
  const double elapsed = seconds_since(start);
  if (watchdog.fired()) return std::nullopt;
  return elapsed;
}

std::optional<std::size_t> Session::peak_working_set() const {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!query_ || !::GetProcessMemoryInfo(query_.get(), &counters, sizeof counters)) return std::nullopt;
  return counters.PeakWorkingSetSize;
}

std::optional<DWORD> Session::finish() {
  process_->close_stdin();
  return process_->wait(std::chrono::milliseconds(60s));
}

}  // namespace bench
