#include "integration/host_fixture.h"

#include "windows/unique_handle.h"

namespace host::test {

std::string error_reply_bytes() {
  return std::string("\x6A\x00\x00\x00", 4) +
         R"({"error":"Open Velmorantix and enable Browser connection","protocol":{"major":1,"minor":0},"type":"error"})";
}

HostFixture::HostFixture() {
  static int counter = 0;
  wchar_t base[MAX_PATH];
  ::GetTempPathW(MAX_PATH, base);
  appdata_ = std::wstring(base) + L"host-it-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
             std::to_wstring(counter++);
  ::CreateDirectoryW(appdata_.c_str(), nullptr);
  ::CreateDirectoryW(app_dir().c_str(), nullptr);
}

HostFixture::~HostFixture() {
  // Remove what the test and the programs left in the folder.
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((app_dir() + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") ::DeleteFileW((app_dir() + L"\\" + name).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
  }
  ::RemoveDirectoryW(app_dir().c_str());
  ::RemoveDirectoryW(appdata_.c_str());
}

void HostFixture::write_app_file(const std::wstring& name, std::string_view bytes) {
  win::UniqueHandle file(
      ::CreateFileW((app_dir() + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file);
  DWORD wrote = 0;
  ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &wrote, nullptr));
}

std::unique_ptr<ChildProcess> HostFixture::start_host(std::vector<std::wstring> arguments, bool close_stdin,
                                                      bool collect_stdout) {
  ChildOptions options;
  options.program = program_directory() + L"\\browser-context-host.exe";
  options.arguments = std::move(arguments);
  options.environment[L"APPDATA"] = appdata_;
  options.close_stdin_at_start = close_stdin;
  options.collect_stdout = collect_stdout;
  auto child = std::make_unique<ChildProcess>(options);
  EXPECT_TRUE(child->started()) << "could not start the host: error " << child->start_error();
  return child;
}

HostFixture::Outcome HostFixture::run_host(std::vector<std::wstring> arguments) {
  auto host = start_host(std::move(arguments), /*close_stdin=*/true);
  Outcome outcome;
  outcome.exit_code = host->wait(wait_limit);
  host->out().wait_for_end(wait_limit);
  host->err().wait_for_end(wait_limit);
  outcome.out = host->out().contents();
  outcome.err = host->err().contents();
  return outcome;
}

}  // namespace host::test
