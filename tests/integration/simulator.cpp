#include "integration/simulator.h"

#include <sstream>

namespace host::test {

Simulator::Simulator(const std::wstring& appdata, std::vector<std::wstring> arguments) {
  ChildOptions options;
  options.program = program_directory() + L"\\app-simulator.exe";
  options.arguments = std::move(arguments);
  options.environment[L"APPDATA"] = appdata;
  process_ = std::make_unique<ChildProcess>(options);
  if (!process_->started()) {
    ADD_FAILURE() << "could not start the simulator: error " << process_->start_error();
    return;
  }
  ready_ = process_->out().wait_for_text("\n", wait_limit) && process_->out().contents().starts_with("ready ");
  if (!ready_) {
    ADD_FAILURE() << "the simulator did not get ready: " << process_->out().contents();
    return;
  }
  const std::string first = process_->out().contents();
  pipe_path_ = first.substr(6, first.find_first_of("\r\n") - 6);
}

std::vector<std::string> Simulator::lines() {
  std::vector<std::string> out;
  std::istringstream in(process_->out().contents());
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

bool Simulator::wait_for_line(std::string_view prefix) {
  const std::string needle = "\n" + std::string(prefix);
  return process_->out().wait_for_text(needle, wait_limit);
}

std::vector<std::string> Simulator::received() {
  std::vector<std::string> out;
  for (auto& line : lines()) {
    if (line.starts_with("recv ")) out.push_back(line);
  }
  return out;
}

}  // namespace host::test
