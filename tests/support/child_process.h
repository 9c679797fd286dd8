// Starting a program the way a browser starts the host: standard input and
// output on pipes, an explicit environment block, and bounded waits for
// everything it does.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "windows/unique_handle.h"

namespace host::test {

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
  // Waits, bounded, until the writer side is closed.
  bool wait_for_end(std::chrono::milliseconds limit);

 private:
  win::UniqueHandle pipe_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::string data_;
  bool ended_ = false;
  std::thread thread_;
};

struct ChildOptions {
  std::wstring program;              // full path of the executable
  std::vector<std::wstring> arguments;  // after the program's own name
  // Environment changes: a value sets the variable, nullopt removes it.
  std::map<std::wstring, std::optional<std::wstring>> environment;
  bool close_stdin_at_start = false;
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
  void close_stdout_reader() { stdout_.reset(); }

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
  std::unique_ptr<OutputCollector> stderr_;
  DWORD pid_ = 0;
  DWORD start_error_ = 0;
};

// The directory of the running test executable, where the host and the
// simulator are built too.
std::wstring program_directory();

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
std::wstring quote_argument(const std::wstring& argument);

}  // namespace host::test
