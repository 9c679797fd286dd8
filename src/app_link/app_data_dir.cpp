#include "app_link/app_data_dir.h"

#include <windows.h>

#include <cstring>
#include <exception>

#include "app_link/app_contract.h"
#include "main/wide_text.h"
#include "windows/environment.h"
#include "windows/unique_handle.h"

namespace host {

HostResult<std::string> app_data_dir() {
  const auto appdata = win::environment_variable(u"APPDATA");
  if (!appdata) return std::unexpected(HostError::fixed(ErrorKind::NotFound, msg::no_user_app_data));
  return join_path(from_wide(*appdata), APP_DATA_FOLDER);
}

HostResult<std::string> read_whole_file(std::string_view path) {
  const std::u16string wpath = to_wide(path);
  win::UniqueHandle file(::CreateFileW(win::wide(wpath), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
  if (!file) return std::unexpected(HostError::os(::GetLastError()));

  // A buffer of the reported size; a file that turns out longer is read on
  // through a small probe, so the usual case neither grows nor copies.
  std::string bytes;
  const auto resize = [&bytes](std::size_t n) {
    try {
      bytes.resize(n);
      return true;
    } catch (const std::exception&) {  // bad_alloc, length_error
      return false;
    }
  };
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file.get(), &size) && size.QuadPart > 0 &&
      !resize(static_cast<std::size_t>(size.QuadPart))) {
    return std::unexpected(HostError::out_of_memory());
  }
  std::size_t filled = 0;
  char probe[4096];
  for (;;) {
    const bool into_buffer = filled < bytes.size();
    char* target = into_buffer ? bytes.data() + filled : probe;
    const std::size_t room = into_buffer ? bytes.size() - filled : sizeof probe;
    DWORD got = 0;
    if (!::ReadFile(file.get(), target, room > 0x40000000 ? 0x40000000 : static_cast<DWORD>(room), &got, nullptr)) {
      return std::unexpected(HostError::os(::GetLastError()));
    }
    if (got == 0) break;
    if (!into_buffer) {
      if (!resize(filled + got)) return std::unexpected(HostError::out_of_memory());
      std::memcpy(bytes.data() + filled, probe, got);
    }
    filled += got;
  }
  bytes.resize(filled);
  return bytes;
}

HostResult<RuntimeEndpoint> load_runtime_endpoint() {
  auto dir = app_data_dir();
  if (!dir) return std::unexpected(std::move(dir.error()));
  auto bytes = read_whole_file(runtime_endpoint_path(*dir));
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return RuntimeEndpoint::parse(*bytes);
}

}  // namespace host
