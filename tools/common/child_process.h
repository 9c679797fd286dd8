// Starting a program the way a browser starts the host: standard input and
// output on pipes, an explicit environment block, and bounded waits for
// everything it does.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "windows/unique_handle.h"

namespace host::tools {

// Bytes a reader thread collects from one of the child's output pipes.
class OutputCollector {
 public:
  explicit OutputCollector(win::UniqueHandle pipe);
  ~OutputCollector();
  OutputCollector(const OutputCollector&) = delete;
  OutputCollector& operator=(const OutputCollector&) = delete;

  std::string contents();
  // Waits, bounded, until at least n bytes arrived; false on time-out or end.
  bool wait_for_size(std::size_t n, std::chrono::milliseconds limit);
  // Waits, bounded, until text occurs in the output.
  bool wait_for_text(std::string_view text, std::chrono::milliseconds limit);
  // Waits, bounded, until the output so far satisfies the predicate.
  bool wait_until(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds limit);
  // Waits, bounded, until the writer side is closed.
  bool wait_for_end(std::chrono::milliseconds limit);

 private:
  // Shared with the reader thread, which may outlive the collector if the
  // pipe never ends.
  struct State {
    win::UniqueHandle pipe;
    std::mutex mutex;
    std::condition_variable cv;
    std::string data;
    bool ended = false;
  };
  std::shared_ptr<State> state_;
  std::thread thread_;
};

struct ChildOptions {
  std::wstring program;              // full path of the executable
  std::vector<std::wstring> arguments;  // after the program's own name
  // Environment changes: a value sets the variable, nullopt removes it.
  std::map<std::wstring, std::optional<std::wstring>> environment;
  bool close_stdin_at_start = false;
  // False: standard output is left unread, for a test to read and close.
  bool collect_stdout = true;
  // When set, the child runs inside this job object from its first
  // instruction, and so does every process it starts.
  HANDLE job = nullptr;
};

class ChildProcess {
 public:
  explicit ChildProcess(const ChildOptions& options);
  ~ChildProcess();  // kills the child if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return static_cast<bool>(process_); }
  DWORD start_error() const { return start_error_; }

  // Writes to the child's standard input; false once the child stopped reading.
  bool write_stdin(std::string_view bytes);
  void close_stdin();
  // With collect_stdout false: read what is there, or close our end.
  std::string read_stdout_some();
  void close_stdout_reader() { stdout_raw_.reset(); }
  // With collect_stdout false: our end of the child's standard output, for a
  // caller that reads it with buffers of its own size.
  HANDLE stdout_pipe() const { return stdout_raw_.get(); }

  OutputCollector& out() { return *stdout_; }
  OutputCollector& err() { return *stderr_; }

  // The exit code, or nullopt when the child did not end within the limit.
  std::optional<DWORD> wait(std::chrono::milliseconds limit);
  DWORD pid() const { return pid_; }
  void kill();

 private:
  win::UniqueHandle process_;
  win::UniqueHandle stdin_;
  std::unique_ptr<OutputCollector> stdout_;
  win::UniqueHandle stdout_raw_;
  std::unique_ptr<OutputCollector> stderr_;
  DWORD pid_ = 0;
  DWORD start_error_ = 0;
};

// The directory of the running test executable, where the host and the
// simulator are built too.
std::wstring program_directory();


}  // namespace host::tools
