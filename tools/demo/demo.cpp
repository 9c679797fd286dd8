// The host's main job shown end to end: the simulator plays the desktop
// application, nm-client plays the browser, this program types into
// nm-client, and the conversation is printed as it happens. Then --prepare-update, and what the application
// received. Everything runs in a temporary APPDATA that is removed again.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "common/temp_app_data.h"

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

std::vector<std::string> log_text_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The simulator's log lines.
std::vector<std::string> log_lines(ChildProcess& app) { return log_text_lines(app.out().contents()); }

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

int run() {
  host::tools::TempAppData appdata(L"velmorantix-demo");
  const std::wstring dir = host::tools::program_directory();

  ChildOptions app_options;
  app_options.program = dir + L"\\app-simulator.exe";
  app_options.arguments = {L"echo", L"--connections", L"2"};
  app_options.environment[L"APPDATA"] = appdata.path();
  ChildProcess app(app_options);
  if (!app.started() || !app.out().wait_for_text("\n", limit)) {
    print("the simulator did not start");
    return 1;
  }
  std::size_t shown = 1;
  const std::string ready = log_lines(app).front();
  print("desktop application (simulator, echo): listening on " + ready.substr(6));

  ChildOptions client_options;
  client_options.program = dir + L"\\nm-client.exe";
  client_options.arguments = {L"--linger-ms", L"0"};
  client_options.environment[L"APPDATA"] = appdata.path();
  print("nm-client plays the browser: it starts browser-context-host.exe "
        "chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/");
  print("");
  ChildProcess client(client_options);
  app.out().wait_for_text("handshake", limit);
  show_app_log(app, shown);
  print("");

  const std::string messages[] = {
      R"({"type":"ping", "id":1})",
      R"({"z":1, "a":[1.0, 2.50, -0, 1e2], "text":"caf\u00e9 \ud83d\ude00"})",
      R"({"type":"pageContext","url":"https://example.com/","title":"Example","selection":null})",
  };
  std::size_t lines_back = 0;
  for (const auto& message : messages) {
    print("  typed into nm-client   " + message);
    client.write_stdin(message + "\n");
    // The echo comes back through the host as one line of nm-client's output.
    ++lines_back;
    const bool answered = client.out().wait_until(
        [&](const std::string& out) { return std::count(out.begin(), out.end(), '\n') >= std::ptrdiff_t(lines_back); },
        limit);
    if (!answered) {
      print("no answer from the host");
      return 1;
    }
    app.out().wait_until(
        [&](const std::string& log) {
          std::size_t count = 0;
          for (auto at = log.find("\nrecv "); at != std::string::npos; at = log.find("\nrecv ", at + 1)) ++count;
          return count >= lines_back;
        },
        limit);
    show_app_log(app, shown);
    const auto out = log_text_lines(client.out().contents());
    print("  nm-client prints       " + out[lines_back - 1]);
    print("");
  }
  print("nm-client's input ends: it closes the host's standard input");
  client.close_stdin();
  const auto client_code = client.wait(limit);
  client.err().wait_for_end(limit);
  for (const auto& line : log_text_lines(client.err().contents())) print("  " + line);
  print("nm-client ended, exit code " + (client_code ? std::to_string(*client_code) : std::string("none (killed)")));
  print("");

  ChildOptions host_options;
  host_options.environment[L"APPDATA"] = appdata.path();
  host_options.program = dir + L"\\browser-context-host.exe";
  host_options.arguments = {L"--prepare-update"};
  print("installer runs: browser-context-host.exe --prepare-update");
  ChildProcess update(host_options);
  update.close_stdin();
  const auto update_code = update.wait(limit);
  app.wait(limit);
  show_app_log(app, shown);
  print("host ended, exit code " + (update_code ? std::to_string(*update_code) : std::string("none (killed)")));
  print("");

  print("the application has quit and left its runtime file behind; nm-client again:");
  ChildProcess stale(client_options);
  stale.close_stdin();
  const auto stale_code = stale.wait(limit);
  stale.out().wait_for_end(limit);
  stale.err().wait_for_end(limit);
  for (const auto& line : log_text_lines(stale.out().contents())) print("  nm-client prints       " + line);
  for (const auto& line : log_text_lines(stale.err().contents())) print("  " + line);
  print("nm-client ended, exit code " + (stale_code ? std::to_string(*stale_code) : std::string("none (killed)")));
  return client_code == 0u && update_code == 0u && stale_code == 1u ? 0 : 1;
}

}  // namespace

int main() { return run(); }
