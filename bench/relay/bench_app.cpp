#include "bench_app.h"

#include <chrono>

#include "app_link/app_data_dir.h"
#include "main/wide_text.h"

namespace bench {
namespace {

using namespace std::chrono_literals;
constexpr auto limit = std::chrono::milliseconds(60s);

std::wstring widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::size_t count_lines(const std::string& log, std::string_view start) {
  const std::string needle = "\n" + std::string(start);
  std::size_t n = 0;
  for (auto at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) ++n;
  return n;
}

}  // namespace

EchoApp::EchoApp(const std::wstring& appdata, unsigned long connections) {
  host::tools::ChildOptions options;
  options.program = host::tools::program_directory() + L"\\app-simulator.exe";
  options.arguments = {L"echo", L"--connections", std::to_wstring(connections), L"--quiet"};
  options.environment[L"APPDATA"] = appdata;
  process_ = std::make_unique<host::tools::ChildProcess>(options);
  if (!process_->started()) {
    failure_ = "app-simulator.exe did not start: error " + std::to_string(process_->start_error());
    return;
  }
  if (!process_->out().wait_for_text("\n", limit) || !process_->out().contents().starts_with("ready ")) {
    failure_ = "app-simulator.exe did not get ready: " + process_->out().contents() + process_->err().contents();
    return;
  }
  // The nonce is only in the runtime endpoint file; the baselines get it on
  // their command line, the host reads the file itself.
  const std::string file = host::from_wide(reinterpret_cast<const char16_t*>(appdata.c_str())) +
                           "\\com.velmorantix.lab\\browser-context-runtime.json";
  const auto bytes = host::read_whole_file(file);
  host::HostResult<host::RuntimeEndpoint> endpoint = std::unexpected(host::HostError::described("unread"));
  if (bytes) endpoint = host::RuntimeEndpoint::parse(*bytes);
  if (!endpoint) {
    failure_ = "cannot read the runtime endpoint file " + file;
    return;
  }
  pipe_path_ = widen(endpoint->endpoint);
  nonce_ = widen(endpoint->nonce);
}

bool EchoApp::wait_for_count(std::string_view line_start, std::size_t n) {
  return process_->out().wait_until(
      [&](const std::string& log) {
        return count_lines(log, line_start) >= n || count_lines(log, "handshake refused") > 0;
      },
      limit) &&
         count_lines(process_->out().contents(), "handshake refused") == 0;
}

bool EchoApp::wait_for_handshake(std::size_t n) { return wait_for_count("handshake ok", n); }

bool EchoApp::wait_for_closed(std::size_t n) { return wait_for_count("closed ", n); }

std::optional<DWORD> EchoApp::wait_for_end() { return process_->wait(limit); }

}  // namespace bench
