#include "windows/private_file.h"

#include <sddl.h>

#include <algorithm>
#include <vector>

#include "main/wide_text.h"

namespace host::win {
namespace {

static_assert(sizeof(SECURITY_ATTRIBUTES) == 24);

HostError last_os_error() { return HostError::os(::GetLastError()); }

// Everything after the file is open: the reparse-point refusal, the DACL and
// the contents. The caller closes the handle whatever this returns.
HostResult<void> protect_and_write(HANDLE file, PSECURITY_DESCRIPTOR descriptor, std::string_view bytes,
                                   const PrivateFileSteps& steps) {
  // The file was opened as whatever sits at the path, links included, so a
  // link shows here instead of leading the write elsewhere.
  BY_HANDLE_FILE_INFORMATION info{};
  if (!steps.file_information(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return std::unexpected(HostError::fixed(ErrorKind::PermissionDenied, msg::unsafe_private_file));
  }

  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
    return std::unexpected(last_os_error());
  }
  // A missing or null DACL would leave the file open to everyone.
  if (!present || dacl == nullptr) {
    return std::unexpected(HostError::fixed(ErrorKind::PermissionDenied, msg::invalid_private_acl));
  }

  // Windows ignores creation-time security when CREATE_ALWAYS truncates an
  // existing file, so the same protected DACL is set on the open handle too.
  const DWORD applied = steps.set_security_info(file, SE_FILE_OBJECT,
                                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                nullptr, nullptr, dacl, nullptr);
  if (applied != ERROR_SUCCESS) return std::unexpected(HostError::os(applied));

  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 0x40000000));
    DWORD wrote = 0;
    if (!steps.write_file(file, bytes.data(), chunk, &wrote, nullptr)) {
      HostError error = last_os_error();
      if (error.kind() == ErrorKind::Interrupted) continue;
      return std::unexpected(std::move(error));
    }
    if (wrote == 0) return std::unexpected(HostError::fixed(ErrorKind::WriteZero, msg::write_whole_buffer));
    bytes.remove_prefix(std::min<std::size_t>(wrote, bytes.size()));
  }
  return {};
}

}  // namespace

std::string private_sddl(std::string_view sid) {
  std::string sddl = "D:P(A;;GA;;;";
  sddl += sid;
  sddl += ')';
  return sddl;
}

HostResult<UniqueHlocal<PSECURITY_DESCRIPTOR>> private_security_descriptor() {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw_token)) {
    return std::unexpected(last_os_error());
  }
  UniqueHandle token(raw_token);

  // The first call only reports the size the record needs.
  DWORD size = 0;
  (void)::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> record(size);
  const BOOL queried = ::GetTokenInformation(token.get(), TokenUser, record.data(), size, &size);
  const DWORD query_error = queried ? ERROR_SUCCESS : ::GetLastError();
  token.reset();
  if (!queried) return std::unexpected(HostError::os(query_error));
  if (record.size() < sizeof(TOKEN_USER)) return std::unexpected(HostError::os(ERROR_INSUFFICIENT_BUFFER));

  std::string sid;
  {
    UniqueHlocal<LPWSTR> sid_text;
    if (!::ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(record.data())->User.Sid, sid_text.put())) {
      return std::unexpected(last_os_error());
    }
    sid = from_wide(reinterpret_cast<const char16_t*>(sid_text.get()));
  }
  record.clear();
  record.shrink_to_fit();

  const std::u16string sddl = to_wide(private_sddl(sid));
  UniqueHlocal<PSECURITY_DESCRIPTOR> descriptor;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(wide(sddl), SDDL_REVISION_1, descriptor.put(),
                                                               nullptr)) {
    return std::unexpected(last_os_error());
  }
  return descriptor;
}

HostResult<void> write_private_file(std::string_view path, std::string_view bytes) {
  return write_private_file(path, bytes, PrivateFileSteps{});
}

HostResult<void> write_private_file(std::string_view path, std::string_view bytes, const PrivateFileSteps& steps) {
  auto descriptor = steps.descriptor();
  if (!descriptor) return std::unexpected(std::move(descriptor.error()));

  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
  attributes.lpSecurityDescriptor = descriptor->get();
  attributes.bInheritHandle = FALSE;

  // No sharing: nobody reads a half-written file or writes beside us.
  const std::u16string wpath = to_wide(path);
  UniqueHandle file(steps.create_file(wide(wpath), GENERIC_WRITE | WRITE_DAC, 0, &attributes, CREATE_ALWAYS,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return std::unexpected(last_os_error());

  auto result = protect_and_write(file.get(), descriptor->get(), bytes, steps);
  // The handle is closed before the descriptor it was created with is freed.
  file.reset();
  return result;
}

}  // namespace host::win
