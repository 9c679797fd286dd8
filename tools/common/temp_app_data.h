// A temporary %APPDATA% for a host and a simulated desktop application
// started by a tool: a fresh folder under the temp directory, removed again
// with the runtime endpoint file the simulator leaves in it.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "app_link/app_contract.h"

namespace host::tools {

class TempAppData {
 public:
  explicit TempAppData(std::wstring_view name) {
    wchar_t base[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, base);
    path_ = std::wstring(base, n <= MAX_PATH ? n : 0) + std::wstring(name) + L"-" +
            std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempAppData() {
    const std::wstring dir = path_ + L"\\" + ascii_wide(APP_DATA_FOLDER);
    ::DeleteFileW((dir + L"\\" + ascii_wide(RUNTIME_ENDPOINT_FILE)).c_str());
    ::RemoveDirectoryW(dir.c_str());
    ::RemoveDirectoryW(path_.c_str());
  }
  TempAppData(const TempAppData&) = delete;
  TempAppData& operator=(const TempAppData&) = delete;

  const std::wstring& path() const { return path_; }

 private:
  // The application's file names are plain ASCII.
  static std::wstring ascii_wide(std::string_view s) { return std::wstring(s.begin(), s.end()); }

  std::wstring path_;
};

}  // namespace host::tools
