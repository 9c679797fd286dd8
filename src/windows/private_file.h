// Files that only the current Windows user may read or write, whatever the
// permissions of the folder they are written into.
#pragma once

#include <windows.h>

#include <aclapi.h>

#include <functional>
#include <string>
#include <string_view>

#include "main/host_error.h"
#include "windows/unique_handle.h"

namespace host::win {

// "D:P(A;;GA;;;<sid>)": a protected DACL (nothing inherited from the parent
// folder) whose only rule grants GENERIC_ALL to the given SID. No owner,
// group or SACL part.
std::string private_sddl(std::string_view sid);

// The self-relative descriptor built from private_sddl for the user of the
// current process token; released with LocalFree by its owner.
HostResult<UniqueHlocal<PSECURITY_DESCRIPTOR>> private_security_descriptor();

// The operating system calls write_private_file makes, each replaceable on
// its own. Tests replace the ones whose effect the test platform cannot
// show: the reparse-point attribute, the DACL applied to the file, the
// security attributes given at creation.
struct PrivateFileSteps {
  std::function<HostResult<UniqueHlocal<PSECURITY_DESCRIPTOR>>()> descriptor = private_security_descriptor;
  std::function<HANDLE(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)> create_file =
      ::CreateFileW;
  std::function<BOOL(HANDLE, LPBY_HANDLE_FILE_INFORMATION)> file_information = ::GetFileInformationByHandle;
  // Returns a Windows error code, 0 for success.
  std::function<DWORD(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL)> set_security_info =
      ::SetSecurityInfo;
  std::function<BOOL(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED)> write_file = ::WriteFile;
};

// Creates the file at `path` (UTF-8), or truncates an existing one, under
// the private descriptor, and writes all of `bytes`. Refuses a path that is
// a symbolic link or another reparse point ("Unsafe private runtime file"):
// the link itself is opened, never its target. Nobody else can open the
// file while it is written. Folders are not created. A failure after the
// file was opened leaves it in place, possibly truncated or partly written.
HostResult<void> write_private_file(std::string_view path, std::string_view bytes);
HostResult<void> write_private_file(std::string_view path, std::string_view bytes, const PrivateFileSteps& steps);

}  // namespace host::win
