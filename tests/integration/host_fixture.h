// Runs the real host executable as a browser does, with its own APPDATA in
// a fresh temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "common/child_process.h"

namespace host::test {

using tools::ChildOptions;
using tools::ChildProcess;
using tools::program_directory;

using namespace std::chrono_literals;

// Generous: Wine's processes and pipes are slow, and a hang must still end.
inline constexpr auto wait_limit = std::chrono::milliseconds(30s);

inline const std::string approved = "chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/";
inline const std::wstring approved_w = L"chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/";

// The fixed error reply as it appears on standard output.
std::string error_reply_bytes();

class HostFixture : public ::testing::Test {
 protected:
  HostFixture();
  ~HostFixture() override;

  // APPDATA for the programs started by this test.
  const std::wstring& appdata() const { return appdata_; }
  std::wstring app_dir() const { return appdata_ + L"\\com.velmorantix.lab"; }
  void write_app_file(const std::wstring& name, std::string_view bytes);

  std::unique_ptr<ChildProcess> start_host(std::vector<std::wstring> arguments, bool close_stdin = false,
                                          bool collect_stdout = true);

  // Starts the host, closes its input at once, and waits for the end.
  struct Outcome {
    std::optional<DWORD> exit_code;
    std::string out, err;
  };
  Outcome run_host(std::vector<std::wstring> arguments);

 private:
  std::wstring appdata_;
};

}  // namespace host::test
