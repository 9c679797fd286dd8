// The desktop application simulator as a test starts it: in the test's own
// APPDATA, with one behaviour, its log read back line by line.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "integration/host_fixture.h"

namespace host::test {

class Simulator {
 public:
  // Starts app-simulator.exe and waits until it has published its runtime
  // endpoint file.
  Simulator(const std::wstring& appdata, std::vector<std::wstring> arguments);

  bool ready() const { return ready_; }
  const std::string& pipe_path() const { return pipe_path_; }
  // Waits, bounded, for a log line that starts with the text.
  bool wait_for_line(std::string_view prefix);
  std::vector<std::string> lines();
  // The lines of frames received after the handshake, as "recv <len> <body>".
  std::vector<std::string> received();
  // Waits, bounded, for the simulator to exit and for its log to be read to
  // the end: the exit can come before the reader has taken the last lines.
  std::optional<DWORD> wait() {
    const std::optional<DWORD> code = process_->wait(wait_limit);
    if (code) process_->out().wait_for_end(wait_limit);
    return code;
  }
  ChildProcess& process() { return *process_; }

 private:
  std::unique_ptr<ChildProcess> process_;
  bool ready_ = false;
  std::string pipe_path_;
};

}  // namespace host::test
