// The host's main job shown end to end: the simulator plays the desktop
// application, this program plays the browser, and the conversation is
// printed as it happens. Then --prepare-update, and what the application
// received. Everything runs in a temporary APPDATA that is removed again.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "common/child_process.h"

namespace {

using namespace std::chrono_literals;
using host::tools::ChildOptions;
using host::tools::ChildProcess;

constexpr auto limit = std::chrono::milliseconds(30s);
const std::wstring origin = L"chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/";

void print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string frame(std::string_view body) {
  const auto n = static_cast<std::uint32_t>(body.size());
  std::string out{char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
  out.append(body);
  return out;
}

// The simulator's log lines from the given one on.
std::vector<std::string> log_lines(ChildProcess& app) {
  std::vector<std::string> lines;
  std::istringstream in(app.out().contents());
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Prints the simulator's new log lines as what the application saw.
void show_app_log(ChildProcess& app, std::size_t& shown) {
  const auto lines = log_lines(app);
  for (; shown < lines.size(); ++shown) {
    const std::string& line = lines[shown];
    if (line.starts_with("recv ")) {
      const auto body = line.substr(line.find(' ', 5) + 1);
      print("  app     <- host  " + body);
    } else if (line.starts_with("handshake")) {
      print("  app     :  " + line + " (nonce and origin checked)");
    }
  }
}

struct TempAppData {
  std::wstring path;
  TempAppData() {
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    path = std::wstring(base) + L"velmorantix-demo-" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(path.c_str(), nullptr);
  }
  ~TempAppData() {
    const std::wstring dir = path + L"\\com.velmorantix.lab";
    ::DeleteFileW((dir + L"\\browser-context-runtime.json").c_str());
    ::RemoveDirectoryW(dir.c_str());
    ::RemoveDirectoryW(path.c_str());
  }
};

int run() {
  TempAppData appdata;
  const std::wstring dir = host::tools::program_directory();

  ChildOptions app_options;
  app_options.program = dir + L"\\app-simulator.exe";
  app_options.arguments = {L"echo", L"--connections", L"2"};
  app_options.environment[L"APPDATA"] = appdata.path;
  ChildProcess app(app_options);
  if (!app.started() || !app.out().wait_for_text("\n", limit)) {
    print("the simulator did not start");
    return 1;
  }
  std::size_t shown = 1;
  const std::string ready = log_lines(app).front();
  print("desktop application (simulator, echo): listening on " + ready.substr(6));

  ChildOptions host_options;
  host_options.program = dir + L"\\browser-context-host.exe";
  host_options.arguments = {origin};
  host_options.environment[L"APPDATA"] = appdata.path;
  print("browser starts: browser-context-host.exe chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/");
  print("");
  ChildProcess relay(host_options);
  app.out().wait_for_text("handshake", limit);
  show_app_log(app, shown);
  print("");

  const std::string messages[] = {
      R"({"type":"ping", "id":1})",
      R"({"z":1, "a":[1.0, 2.50, -0, 1e2], "text":"caf\u00e9 \ud83d\ude00"})",
      R"({"type":"pageContext","url":"https://example.com/","title":"Example","selection":null})",
  };
  std::size_t received = 0;
  std::size_t echoed = 0;
  for (const auto& message : messages) {
    print("  browser -> host  " + message);
    relay.write_stdin(frame(message));
    // The echo comes back through the host: wait for its whole frame.
    if (!relay.out().wait_for_size(received + 4, limit)) {
      print("no answer from the host");
      return 1;
    }
    const std::string header = relay.out().contents().substr(received, 4);
    const std::uint32_t n = std::uint8_t(header[0]) | std::uint8_t(header[1]) << 8 |
                            std::uint8_t(header[2]) << 16 | std::uint32_t(std::uint8_t(header[3])) << 24;
    if (!relay.out().wait_for_size(received + 4 + n, limit)) {
      print("the host's answer was cut short");
      return 1;
    }
    // The simulator logs a frame before echoing it; let its log catch up.
    const std::size_t recv_lines = ++echoed;
    app.out().wait_until(
        [&](const std::string& log) {
          std::size_t count = 0;
          for (auto at = log.find("\nrecv "); at != std::string::npos; at = log.find("\nrecv ", at + 1)) ++count;
          return count >= recv_lines;
        },
        limit);
    show_app_log(app, shown);
    print("  browser <- host  " + relay.out().contents().substr(received + 4, n));
    print("");
    received += 4 + n;
  }
  print("browser closes the host's standard input");
  relay.close_stdin();
  const auto relay_code = relay.wait(limit);
  print("host ended, exit code " + (relay_code ? std::to_string(*relay_code) : std::string("none (killed)")));
  print("");

  host_options.arguments = {L"--prepare-update"};
  print("installer runs: browser-context-host.exe --prepare-update");
  ChildProcess update(host_options);
  update.close_stdin();
  const auto update_code = update.wait(limit);
  app.wait(limit);
  show_app_log(app, shown);
  print("host ended, exit code " + (update_code ? std::to_string(*update_code) : std::string("none (killed)")));
  return relay_code == 0u && update_code == 0u ? 0 : 1;
}

}  // namespace

int main() { return run(); }
