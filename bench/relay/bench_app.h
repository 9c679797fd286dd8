// The desktop application of the benchmark: app-simulator.exe echoing every
// frame, quiet, serving a known number of connections one after another in
// an APPDATA that the benchmark owns.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "common/child_process.h"

namespace bench {

class EchoApp {
 public:
  EchoApp(const std::wstring& appdata, unsigned long connections);

  // Empty when it started and published its runtime endpoint file, else why not.
  const std::string& failure() const { return failure_; }
  const std::wstring& pipe_path() const { return pipe_path_; }
  const std::wstring& nonce() const { return nonce_; }

  // Waits, bounded, until the n-th handshake (counting from 1) was accepted;
  // false on a refused handshake, a time-out or the simulator's end.
  bool wait_for_handshake(std::size_t n);
  // Waits, bounded, until the n-th connection was closed.
  bool wait_for_closed(std::size_t n);
  // The exit code once every connection was served.
  std::optional<DWORD> wait_for_end();

  std::string log() { return process_->out().contents(); }

 private:
  bool wait_for_count(std::string_view line_start, std::size_t n);

  std::unique_ptr<host::tools::ChildProcess> process_;
  std::string failure_;
  std::wstring pipe_path_;
  std::wstring nonce_;
};

}  // namespace bench
