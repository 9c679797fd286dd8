// Deleting the registration documents, read-only ones included.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string_view>

#include "main/host_error.h"

namespace host::win {

// FILE_INFO_BY_HANDLE_CLASS value and flags of the extended disposition,
// which MinGW-w64's headers leave out for this Windows version.
inline constexpr FILE_INFO_BY_HANDLE_CLASS file_disposition_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
inline constexpr DWORD disposition_delete = 0x1;
inline constexpr DWORD disposition_posix_semantics = 0x2;
inline constexpr DWORD disposition_ignore_readonly = 0x10;

// The one call of the read-only fallback that the test platform does not
// carry out; replaceable on its own.
struct FileRemovalSteps {
  std::function<BOOL(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)> set_file_information =
      ::SetFileInformationByHandle;
};

// Deletes the file at `path` (UTF-8). When DeleteFileW is refused with
// access denied (the read-only attribute, for one), the file is opened for
// delete access only, sharing everything, as itself even if it is a link,
// and marked for deletion with POSIX semantics ignoring the read-only
// attribute; if that fails too, the first access-denied error is the result.
// Every other error of DeleteFileW is returned at once.
HostResult<void> delete_file(std::string_view path);
HostResult<void> delete_file(std::string_view path, const FileRemovalSteps& steps);

}  // namespace host::win
