// A stand-in for the registry console tool that reports what it was given:
// each argument (as UTF-16, ended by a 0 unit), what a read of standard input
// returned and the current directory into the file that the environment
// variable HOST_TOOL_PROBE_OUT names, and whether the handle value in
// HOST_TOOL_PROBE_HANDLE is open here. It then writes HOST_TOOL_PROBE_SPAM
// bytes to standard output and to standard error and exits with the code
// HOST_TOOL_PROBE_EXIT.
#include <windows.h>

#include <string>

namespace {

std::wstring variable(const wchar_t* name) {
  wchar_t value[4096];
  const DWORD n = ::GetEnvironmentVariableW(name, value, 4096);
  return n > 0 && n < 4096 ? std::wstring(value, n) : std::wstring();
}

void write_all(HANDLE handle, const void* data, DWORD size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD wrote = 0;
    if (!::WriteFile(handle, p, size, &wrote, nullptr) || wrote == 0) return;
    p += wrote;
    size -= wrote;
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring report;
  for (int i = 1; i < argc; ++i) {
    report += argv[i];
    report.push_back(L'\0');
  }
  char probe[16];
  DWORD got = 12345;
  HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  const BOOL read = ::ReadFile(in, probe, sizeof probe, &got, nullptr);
  report += L"stdin " + std::to_wstring(read) + L" " + std::to_wstring(got) + L" " + std::to_wstring(::GetFileType(in));
  report.push_back(L'\0');
  // A handle value the parent holds as inheritable: does it name anything here?
  const std::wstring foreign = variable(L"HOST_TOOL_PROBE_HANDLE");
  if (!foreign.empty()) {
    DWORD flags = 0;
    const BOOL known = ::GetHandleInformation(reinterpret_cast<HANDLE>(std::stoull(foreign)), &flags);
    report += L"handle " + std::to_wstring(known);
    report.push_back(L'\0');
  }
  wchar_t directory[MAX_PATH];
  report += std::wstring(directory, ::GetCurrentDirectoryW(MAX_PATH, directory));
  report.push_back(L'\0');

  HANDLE file = ::CreateFileW(variable(L"HOST_TOOL_PROBE_OUT").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                              nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    write_all(file, report.data(), DWORD(report.size() * sizeof(wchar_t)));
    ::CloseHandle(file);
  }

  const std::wstring spam = variable(L"HOST_TOOL_PROBE_SPAM");
  const std::string chunk(65536, 'x');
  for (unsigned long left = spam.empty() ? 0 : std::stoul(spam); left > 0;) {
    const DWORD n = left < chunk.size() ? DWORD(left) : DWORD(chunk.size());
    write_all(::GetStdHandle(STD_OUTPUT_HANDLE), chunk.data(), n);
    write_all(::GetStdHandle(STD_ERROR_HANDLE), chunk.data(), n);
    left -= n;
  }
  const std::wstring code = variable(L"HOST_TOOL_PROBE_EXIT");
  return code.empty() ? 0 : static_cast<int>(std::stoul(code));
}
