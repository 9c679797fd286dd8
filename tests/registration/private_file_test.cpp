// Files only the current user may open. Wine stores no file DACLs and
// ignores the security given at creation, and it cannot make reparse points:
// those effects are observed, or provoked, through the step that makes the
// one system call concerned, and the test names say so.
#include "windows/private_file.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <vector>

#include "registration/registration_test_support.h"
#include "windows/unique_handle.h"

namespace host::win {
namespace {

using test::narrow;
using test::read_file;
using test::ScopedAppDataFolder;

std::vector<unsigned char> current_user_sid() {
  HANDLE raw = nullptr;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw));
  UniqueHandle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> record(size);
  EXPECT_TRUE(::GetTokenInformation(token.get(), TokenUser, record.data(), size, &size));
  PSID sid = reinterpret_cast<TOKEN_USER*>(record.data())->User.Sid;
  const auto* bytes = static_cast<const unsigned char*>(sid);
  return std::vector<unsigned char>(bytes, bytes + ::GetLengthSid(sid));
}

// Exactly one rule: access allowed, no flags, GENERIC_ALL, the current user.
void expect_single_user_rule(const ACL* acl) {
  ASSERT_NE(acl, nullptr);
  ASSERT_EQ(acl->AceCount, 1);
  void* ace = nullptr;
  ASSERT_TRUE(::GetAce(const_cast<ACL*>(acl), 0, &ace));
  const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(allowed->Header.AceFlags, 0);
  EXPECT_EQ(allowed->Mask, static_cast<ACCESS_MASK>(GENERIC_ALL));
  const auto sid = current_user_sid();
  EXPECT_TRUE(::EqualSid(const_cast<DWORD*>(&allowed->SidStart), const_cast<unsigned char*>(sid.data())));
}

PACL dacl_of(PSECURITY_DESCRIPTOR descriptor) {
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  EXPECT_TRUE(::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  EXPECT_TRUE(present);
  return dacl;
}

// True when nobody holds the file open any more.
bool opens_exclusively(const std::wstring& path) {
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return static_cast<bool>(file);
}

UniqueHlocal<PSECURITY_DESCRIPTOR> descriptor_from(const wchar_t* sddl) {
  UniqueHlocal<PSECURITY_DESCRIPTOR> descriptor;
  EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor.put(), nullptr));
  return descriptor;
}

TEST(PrivateSecurityDescriptor, SddlHoldsOnlyTheRuleForTheSid) {
  EXPECT_EQ(private_sddl("S-1-5-21-1-2-3-1001"), "D:P(A;;GA;;;S-1-5-21-1-2-3-1001)");
}

TEST(PrivateSecurityDescriptor, ProtectedDaclWithOneRuleForTheCurrentUserAndNothingElse) {
  auto descriptor = private_security_descriptor();
  ASSERT_TRUE(descriptor) << descriptor.error().message();
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor->get(), &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PRESENT);
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  EXPECT_TRUE(control & SE_SELF_RELATIVE);
  EXPECT_FALSE(control & SE_SACL_PRESENT);
  PSID owner = nullptr, group = nullptr;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(::GetSecurityDescriptorOwner(descriptor->get(), &owner, &defaulted));
  ASSERT_TRUE(::GetSecurityDescriptorGroup(descriptor->get(), &group, &defaulted));
  EXPECT_EQ(owner, nullptr);
  EXPECT_EQ(group, nullptr);
  expect_single_user_rule(dacl_of(descriptor->get()));
}

TEST(WritePrivateFile, CreatesTruncatesAndRewrites) {
  ScopedAppDataFolder folder;
  const std::wstring path = folder.app_dir() + L"\\manifest.json";
  std::string large(3 * 1024 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 31);
  // New file, then longer, shorter and empty contents over an existing one.
  for (const std::string& bytes : {std::string("first"), large, std::string("x"), std::string()}) {
    ASSERT_TRUE(write_private_file(narrow(path), bytes)) << bytes.size();
    EXPECT_EQ(read_file(path), bytes) << bytes.size();
  }
}

TEST(WritePrivateFile, CreationArgumentsAndAppliedDaclSeenThroughTheCreateAndSecuritySeams) {
  // Wine neither keeps the creation descriptor nor stores the DACL set on
  // the handle, so both are looked at as they are handed to the system.
  ScopedAppDataFolder folder;
  const std::wstring path = folder.app_dir() + L"\\private.json";
  test::write_file(path, "old contents that are longer");
  int creates = 0, applies = 0;
  PrivateFileSteps steps;
  steps.create_file = [&](LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes, DWORD disposition,
                          DWORD flags, HANDLE templ) {
    ++creates;
    EXPECT_EQ(std::wstring(name), path);
    EXPECT_EQ(access, 0x40040000u);  // GENERIC_WRITE | WRITE_DAC
    EXPECT_EQ(share, 0u);
    EXPECT_EQ(disposition, static_cast<DWORD>(CREATE_ALWAYS));
    EXPECT_EQ(flags, 0x00200000u);  // FILE_FLAG_OPEN_REPARSE_POINT and nothing else
    EXPECT_EQ(templ, nullptr);
    EXPECT_EQ(attributes->nLength, 24u);
    EXPECT_FALSE(attributes->bInheritHandle);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    EXPECT_TRUE(::GetSecurityDescriptorControl(attributes->lpSecurityDescriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    expect_single_user_rule(dacl_of(attributes->lpSecurityDescriptor));
    return ::CreateFileW(name, access, share, attributes, disposition, flags, templ);
  };
  steps.set_security_info = [&](HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner, PSID group,
                                PACL dacl, PACL sacl) {
    ++applies;
    EXPECT_EQ(type, SE_FILE_OBJECT);
    EXPECT_EQ(info, 0x80000004u);  // DACL | PROTECTED_DACL
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(group, nullptr);
    EXPECT_EQ(sacl, nullptr);
    expect_single_user_rule(dacl);
    return ::SetSecurityInfo(handle, type, info, owner, group, dacl, sacl);
  };
  ASSERT_TRUE(write_private_file(narrow(path), "new", steps));
  EXPECT_EQ(creates, 1);
  EXPECT_EQ(applies, 1);
  EXPECT_EQ(read_file(path), "new");
}

TEST(WritePrivateFile, NobodyElseCanOpenTheFileWhileItIsWritten) {
  ScopedAppDataFolder folder;
  const std::wstring path = folder.app_dir() + L"\\private.json";
  DWORD other_open_error = 0;
  PrivateFileSteps steps;
  steps.write_file = [&](HANDLE file, LPCVOID data, DWORD size, LPDWORD wrote, LPOVERLAPPED overlapped) {
    UniqueHandle other(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
    other_open_error = other ? 0 : ::GetLastError();
    return ::WriteFile(file, data, size, wrote, overlapped);
  };
  ASSERT_TRUE(write_private_file(narrow(path), "contents", steps));
  EXPECT_EQ(other_open_error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST(WritePrivateFile, WriteLoopThroughTheWriteSeam) {
  ScopedAppDataFolder folder;
  const std::wstring path = folder.app_dir() + L"\\private.json";
  const std::string bytes = "0123456789abcdefghij";
  struct Case {
    const char* name;
    std::function<BOOL(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED)> write;
    std::optional<HostError> error;  // nothing: success with all bytes in the file
    std::string left;                // the file afterwards
  };
  const Case cases[] = {
      {"three bytes at a time",
       [](HANDLE f, LPCVOID d, DWORD n, LPDWORD w, LPOVERLAPPED o) { return ::WriteFile(f, d, n < 3 ? n : 3, w, o); },
       std::nullopt, bytes},
      {"accepts nothing after five bytes",
       [](HANDLE f, LPCVOID d, DWORD n, LPDWORD w, LPOVERLAPPED o) {
         LARGE_INTEGER at{};
         ::SetFilePointerEx(f, at, &at, FILE_CURRENT);
         if (at.QuadPart >= 5) {
           *w = 0;
           return TRUE;
         }
         return ::WriteFile(f, d, n < 5 ? n : 5, w, o);
       },
       HostError::fixed(ErrorKind::WriteZero, msg::write_whole_buffer), "01234"},
      {"disk full",
       [](HANDLE, LPCVOID, DWORD, LPDWORD w, LPOVERLAPPED) {
         *w = 0;
         ::SetLastError(ERROR_DISK_FULL);
         return FALSE;
       },
       HostError::os(ERROR_DISK_FULL), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PrivateFileSteps steps;
    steps.write_file = c.write;
    const auto result = write_private_file(narrow(path), bytes, steps);
    if (!c.error) {
      EXPECT_TRUE(result) << result.error().message();
    } else {
      ASSERT_FALSE(result);
      EXPECT_EQ(result.error().kind(), c.error->kind());
      EXPECT_EQ(result.error().os_code(), c.error->os_code());
      EXPECT_EQ(result.error().message(), c.error->message());
    }
    // A failed write leaves the file as far as it got, and closed.
    EXPECT_EQ(read_file(path), c.left);
    EXPECT_TRUE(opens_exclusively(path));
  }
}

TEST(WritePrivateFile, ReparsePointOrUnknownAttributesRefusedThroughTheAttributesSeam) {
  // Wine cannot make a symbolic link or junction; the attributes query of
  // the opened path reports one instead.
  ScopedAppDataFolder folder;
  const std::wstring path = folder.app_dir() + L"\\link.json";
  const std::function<BOOL(HANDLE, LPBY_HANDLE_FILE_INFORMATION)> queries[] = {
      [](HANDLE file, LPBY_HANDLE_FILE_INFORMATION info) {
        const BOOL ok = ::GetFileInformationByHandle(file, info);
        info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        return ok;
      },
      [](HANDLE, LPBY_HANDLE_FILE_INFORMATION) {
        ::SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
      },
  };
  for (const auto& query : queries) {
    test::write_file(path, "link target stays unwritten");
    int later_steps = 0;
    PrivateFileSteps steps;
    steps.file_information = query;
    steps.set_security_info = [&](HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL) -> DWORD {
      ++later_steps;
      return ERROR_SUCCESS;
    };
    steps.write_file = [&](HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) -> BOOL {
      ++later_steps;
      return FALSE;
    };
    const auto result = write_private_file(narrow(path), "must not arrive", steps);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is(ErrorKind::PermissionDenied, msg::unsafe_private_file)) << result.error().message();
    EXPECT_EQ(later_steps, 0);
    EXPECT_EQ(read_file(path), "");  // opened with CREATE_ALWAYS, never written
    EXPECT_TRUE(opens_exclusively(path));
  }
}

TEST(WritePrivateFile, DescriptorWithoutAUsableDaclThroughTheDescriptorSeam) {
  ScopedAppDataFolder folder;
  const std::wstring path = folder.app_dir() + L"\\private.json";
  struct Case {
    const char* name;
    std::function<HostResult<UniqueHlocal<PSECURITY_DESCRIPTOR>>()> descriptor;
    bool invalid_acl;  // else an OS error
  };
  const Case cases[] = {
      {"no DACL", [] { return HostResult<UniqueHlocal<PSECURITY_DESCRIPTOR>>(descriptor_from(L"O:BA")); }, true},
      {"null DACL",
       [] {
         // Present but null, which would grant everyone everything.
         UniqueHlocal<PSECURITY_DESCRIPTOR> descriptor(::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
         EXPECT_TRUE(::InitializeSecurityDescriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION));
         EXPECT_TRUE(::SetSecurityDescriptorDacl(descriptor.get(), TRUE, nullptr, FALSE));
         return HostResult<UniqueHlocal<PSECURITY_DESCRIPTOR>>(std::move(descriptor));
       },
       true},
      {"unreadable descriptor",
       [] {
         // Revision 0: the DACL query itself fails.
         return HostResult<UniqueHlocal<PSECURITY_DESCRIPTOR>>(
             UniqueHlocal<PSECURITY_DESCRIPTOR>(::LocalAlloc(LPTR, 64)));
       },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int applies = 0;
    PrivateFileSteps steps;
    steps.descriptor = c.descriptor;
    steps.set_security_info = [&](HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL) -> DWORD {
      ++applies;
      return ERROR_SUCCESS;
    };
    const auto result = write_private_file(narrow(path), "bytes", steps);
    ASSERT_FALSE(result);
    if (c.invalid_acl) {
      EXPECT_TRUE(result.error().is(ErrorKind::PermissionDenied, msg::invalid_private_acl)) << result.error().message();
    } else {
      EXPECT_TRUE(result.error().os_code().has_value()) << result.error().message();
    }
    EXPECT_EQ(applies, 0);
    EXPECT_EQ(read_file(path), "");
    EXPECT_TRUE(opens_exclusively(path));
  }
}

TEST(WritePrivateFile, RefusedDaclIsTheReturnedCodeThroughTheSecuritySeam) {
  ScopedAppDataFolder folder;
  const std::wstring path = folder.app_dir() + L"\\private.json";
  PrivateFileSteps steps;
  steps.set_security_info = [](HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL) -> DWORD {
    ::SetLastError(ERROR_ACCESS_DENIED);  // not what the call returned
    return ERROR_INVALID_OWNER;
  };
  const auto result = write_private_file(narrow(path), "bytes", steps);
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is_os(ERROR_INVALID_OWNER));
  EXPECT_EQ(read_file(path), "");
  EXPECT_TRUE(opens_exclusively(path));
}

TEST(WritePrivateFile, NothingIsCreatedWhenTheFolderOrTheDescriptorIsMissing) {
  ScopedAppDataFolder folder;
  const std::wstring missing_dir = folder.app_dir() + L"\\missing";
  const auto no_folder = write_private_file(narrow(missing_dir + L"\\private.json"), "bytes");
  ASSERT_FALSE(no_folder);
  EXPECT_TRUE(no_folder.error().is_os(ERROR_PATH_NOT_FOUND)) << no_folder.error().message();
  EXPECT_FALSE(test::file_exists(missing_dir));

  const std::wstring path = folder.app_dir() + L"\\private.json";
  PrivateFileSteps steps;
  steps.descriptor = [] { return HostResult<UniqueHlocal<PSECURITY_DESCRIPTOR>>(std::unexpected(HostError::os(1337))); };
  const auto no_descriptor = write_private_file(narrow(path), "bytes", steps);
  ASSERT_FALSE(no_descriptor);
  EXPECT_TRUE(no_descriptor.error().is_os(1337));
  EXPECT_FALSE(test::file_exists(path));
}

}  // namespace
}  // namespace host::win
