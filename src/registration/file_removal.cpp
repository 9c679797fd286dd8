#include "registration/file_removal.h"

#include "main/wide_text.h"
#include "windows/unique_handle.h"

namespace host::win {

HostResult<void> delete_file(std::string_view path) { return delete_file(path, FileRemovalSteps{}); }

HostResult<void> delete_file(std::string_view path, const FileRemovalSteps& steps) {
  const std::u16string wpath = to_wide(path);
  if (::DeleteFileW(wide(wpath))) return {};
  const DWORD refused = ::GetLastError();
  if (refused != ERROR_ACCESS_DENIED) return std::unexpected(HostError::os(refused));

  UniqueHandle file(::CreateFileW(wide(wpath), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return std::unexpected(HostError::os(refused));
  struct {
    DWORD Flags;
  } disposition{disposition_delete | disposition_posix_semantics | disposition_ignore_readonly};
  if (!steps.set_file_information(file.get(), file_disposition_info_ex, &disposition, sizeof disposition)) {
    return std::unexpected(HostError::os(refused));
  }
  // With POSIX semantics the name is gone at once; closing releases the rest.
  return {};
}

}  // namespace host::win
