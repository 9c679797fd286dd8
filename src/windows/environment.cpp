#include "windows/environment.h"

#include <windows.h>

namespace host::win {

std::optional<std::u16string> environment_variable(const char16_t* name) {
  const auto* wname = reinterpret_cast<const wchar_t*>(name);
  std::u16string value(64, u'\0');
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n = ::GetEnvironmentVariableW(wname, reinterpret_cast<wchar_t*>(value.data()),
                                              static_cast<DWORD>(value.size()));
    if (n == 0) {
      // 0 is both "not set" and "set to the empty string".
      if (::GetLastError() == ERROR_SUCCESS) return std::u16string();
      return std::nullopt;
    }
    if (n < value.size()) {
      value.resize(n);
      return value;
    }
    // Too small: n is the size needed, terminator included. The value may
    // grow meanwhile, so ask again.
    value.resize(n);
  }
}

}  // namespace host::win
