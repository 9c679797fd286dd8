#include "common/child_process.h"

#include <algorithm>
#include <cwctype>

#include "windows/command_line.h"

namespace host::tools {
namespace {

std::wstring upper(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towupper(c));
  return s;
}

// The current environment with the requested changes, as a block for
// CreateProcessW with CREATE_UNICODE_ENVIRONMENT.
std::wstring environment_block(const std::map<std::wstring, std::optional<std::wstring>>& changes) {
  std::map<std::wstring, std::wstring> vars;  // upper-case name -> "Name=value"
  if (wchar_t* strings = ::GetEnvironmentStringsW()) {
    for (const wchar_t* p = strings; *p; p += std::wcslen(p) + 1) {
      std::wstring entry(p);
      const auto eq = entry.find(L'=', 1);  // entries like "=C:=C:\x" start with '='
      if (eq == std::wstring::npos) continue;
      vars[upper(entry.substr(0, eq))] = entry;
    }
    ::FreeEnvironmentStringsW(strings);
  }
  for (const auto& [name, value] : changes) {
    if (value) {
      vars[upper(name)] = name + L"=" + *value;
    } else {
      vars.erase(upper(name));
    }
  }
  std::wstring block;
  for (const auto& [key, entry] : vars) {
    block += entry;
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

std::wstring quoted(const std::wstring& argument) {
  const std::u16string q = win::quote_command_line_argument(
      std::u16string_view(reinterpret_cast<const char16_t*>(argument.data()), argument.size()));
  return std::wstring(reinterpret_cast<const wchar_t*>(q.data()), q.size());
}

}  // namespace

OutputCollector::OutputCollector(win::UniqueHandle pipe) : state_(std::make_shared<State>()) {
  state_->pipe = std::move(pipe);
  thread_ = std::thread([state = state_] {
    char buffer[65536];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(state->pipe.get(), buffer, sizeof buffer, &got, nullptr) || got == 0) break;
      std::lock_guard lock(state->mutex);
      state->data.append(buffer, got);
      state->cv.notify_all();
    }
    std::lock_guard lock(state->mutex);
    state->ended = true;
    state->cv.notify_all();
  });
}

OutputCollector::~OutputCollector() {
  // The child has ended by now, which ends the read; a pipe that some other
  // process still holds open leaves its thread to the end of the test process.
  if (wait_for_end(std::chrono::seconds(5))) {
    thread_.join();
  } else {
    thread_.detach();
  }
}

std::string OutputCollector::contents() {
  std::lock_guard lock(state_->mutex);
  return state_->data;
}

bool OutputCollector::wait_for_size(std::size_t n, std::chrono::milliseconds limit) {
  std::unique_lock lock(state_->mutex);
  state_->cv.wait_for(lock, limit, [&] { return state_->data.size() >= n || state_->ended; });
  return state_->data.size() >= n;
}

bool OutputCollector::wait_for_text(std::string_view text, std::chrono::milliseconds limit) {
  std::unique_lock lock(state_->mutex);
  const auto found = [&] { return state_->data.find(text) != std::string::npos; };
  state_->cv.wait_for(lock, limit, [&] { return found() || state_->ended; });
  return found();
}

bool OutputCollector::wait_until(const std::function<bool(const std::string&)>& done,
                                 std::chrono::milliseconds limit) {
  std::unique_lock lock(state_->mutex);
  state_->cv.wait_for(lock, limit, [&] { return done(state_->data) || state_->ended; });
  return done(state_->data);
}

bool OutputCollector::wait_for_end(std::chrono::milliseconds limit) {
  std::unique_lock lock(state_->mutex);
  return state_->cv.wait_for(lock, limit, [&] { return state_->ended; });
}

ChildProcess::ChildProcess(const ChildOptions& options) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE in_read = nullptr, in_write = nullptr, out_read = nullptr, out_write = nullptr, err_read = nullptr,
         err_write = nullptr;
  ::CreatePipe(&in_read, &in_write, &inheritable, 0);
  ::CreatePipe(&out_read, &out_write, &inheritable, 0);
  ::CreatePipe(&err_read, &err_write, &inheritable, 0);
  win::UniqueHandle child_in(in_read), child_out(out_write), child_err(err_write);
  stdin_.reset(in_write);
  win::UniqueHandle our_out(out_read), our_err(err_read);
  // Our ends stay with us.
  ::SetHandleInformation(stdin_.get(), HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(our_out.get(), HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(our_err.get(), HANDLE_FLAG_INHERIT, 0);

  std::wstring command_line = quoted(options.program);
  for (const auto& a : options.arguments) command_line += L" " + quoted(a);
  std::wstring env = environment_block(options.environment);

  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = child_in.get();
  si.hStdOutput = child_out.get();
  si.hStdError = child_err.get();
  PROCESS_INFORMATION pi{};
  const DWORD flags = CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW | (options.job ? CREATE_SUSPENDED : 0);
  // Under Wine, CreateProcessW now and then fails with ERROR_INTERNAL_ERROR
  // when the new process dies while it starts up, on a busy machine (seen in
  // about one full test run in five, for programs that start fine on the
  // next try). Windows has no such passing failure; any other error is final.
  BOOL created = FALSE;
  for (int attempt = 0; attempt < 3; ++attempt) {
    created = ::CreateProcessW(options.program.c_str(), command_line.data(), nullptr, nullptr, TRUE, flags,
                               env.data(), nullptr, &si, &pi);
    if (created || ::GetLastError() != ERROR_INTERNAL_ERROR) break;
    ::Sleep(50);
  }
  if (!created) {
    start_error_ = ::GetLastError();
  } else {
    win::UniqueHandle process(pi.hProcess), thread(pi.hThread);
    if (options.job && !::AssignProcessToJobObject(options.job, process.get())) {
      start_error_ = ::GetLastError();
      ::TerminateProcess(process.get(), 1);
    } else {
      if (options.job) ::ResumeThread(thread.get());
      process_ = std::move(process);
      pid_ = pi.dwProcessId;
    }
  }
  // The child holds its ends now; ours close so that its exit ends our reads.
  child_in.reset();
  child_out.reset();
  child_err.reset();
  if (options.collect_stdout) {
    stdout_ = std::make_unique<OutputCollector>(std::move(our_out));
  } else {
    stdout_raw_ = std::move(our_out);
  }
  stderr_ = std::make_unique<OutputCollector>(std::move(our_err));
  if (options.close_stdin_at_start) close_stdin();
}

ChildProcess::~ChildProcess() {
  kill();
  stdin_.reset();
}

bool ChildProcess::write_stdin(std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD wrote = 0;
    if (!stdin_ || !::WriteFile(stdin_.get(), bytes.data(), DWORD(bytes.size()), &wrote, nullptr)) return false;
    bytes.remove_prefix(wrote);
  }
  return true;
}

void ChildProcess::close_stdin() { stdin_.reset(); }

std::string ChildProcess::read_stdout_some() {
  char buffer[4096];
  DWORD got = 0;
  if (!stdout_raw_ || !::ReadFile(stdout_raw_.get(), buffer, sizeof buffer, &got, nullptr)) return {};
  return std::string(buffer, got);
}

std::optional<DWORD> ChildProcess::wait(std::chrono::milliseconds limit) {
  if (!process_) return std::nullopt;
  if (::WaitForSingleObject(process_.get(), DWORD(limit.count())) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  ::GetExitCodeProcess(process_.get(), &code);
  return code;
}

void ChildProcess::kill() {
  if (!process_) return;
  if (::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    ::TerminateProcess(process_.get(), 99);
    ::WaitForSingleObject(process_.get(), 5000);
  }
}

std::wstring program_directory() {
  std::wstring path(32768, L'\0');
  const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
  path.resize(n);
  return path.substr(0, path.find_last_of(L"\\/"));
}

}  // namespace host::tools
