// One program under test, started as a browser starts the host: standard
// input and output on pipes, APPDATA in an explicit environment block. The
// measurements drive it from here and time what comes back.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/child_process.h"

namespace bench {

class Session {
 public:
  Session(const std::wstring& program, std::vector<std::wstring> arguments, const std::wstring& appdata);
  ~Session();

  bool started() const { return process_->started(); }
  DWORD start_error() const { return process_->start_error(); }

  // Sends `count` copies of frame while reading the echo, which must be the
  // same bytes; the seconds from the first byte sent to the last received,
  // or nothing when the echo failed or differed (why in failure()).
  std::optional<double> stream(const std::string& frame, std::size_t count);
  // Sends frame and waits for its echo, `count` times one after another;
  // the seconds taken, or nothing as above.
  std::optional<double> ping_pong(const std::string& frame, std::size_t count);

  // The largest working set of the process so far (GetProcessMemoryInfo's
  // PeakWorkingSetSize), or nothing when the system does not say.
  std::optional<std::size_t> peak_working_set() const;

  // Closes standard input, which ends the program, and waits for its exit code.
  std::optional<DWORD> finish();

  const std::string& failure() const { return failure_; }

 private:
  // Reads exactly expected.size() bytes of echo and compares them.
  bool read_echo(const std::string& expected, std::size_t count);

  std::unique_ptr<host::tools::ChildProcess> process_;
  host::win::UniqueHandle query_;  // the process, opened for its memory counters
  std::string failure_;
};

}  // namespace bench
