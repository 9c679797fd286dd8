// Deleting the registration documents. Wine refuses the extended
// disposition (class 21) with error 87, so its effect on a read-only file is
// reached through the disposition step, and the real call's refusal is
// tested as Wine gives it.
#include "registration/file_removal.h"

#include <gtest/gtest.h>

#include "registration/registration_test_support.h"
#include "windows/unique_handle.h"

namespace host::win {
namespace {

using namespace test;

class FileRemoval : public ::testing::Test {
 protected:
  ScopedAppDataFolder folder;
  const std::wstring path = folder.app_dir() + L"\\com.velmorantix.browser_context.json";
};

TEST_F(FileRemoval, DeletesAFile) {
  write_file(path, "{}");
  int dispositions = 0;
  FileRemovalSteps steps;
  steps.set_file_information = [&](HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD) {
    ++dispositions;
    return FALSE;
  };
  ASSERT_TRUE(delete_file(narrow(path), steps));
  EXPECT_FALSE(file_exists(path));
  EXPECT_EQ(dispositions, 0);
}

TEST_F(FileRemoval, OtherRefusalsAreReturnedAtOnce) {
  int dispositions = 0;
  FileRemovalSteps steps;
  steps.set_file_information = [&](HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD) {
    ++dispositions;
    return TRUE;
  };
  const auto missing = delete_file(narrow(path), steps);
  ASSERT_FALSE(missing);
  EXPECT_TRUE(missing.error().is_os(ERROR_FILE_NOT_FOUND));

  // Held open without delete sharing.
  write_file(path, "{}");
  {
    UniqueHandle held(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    const auto shared = delete_file(narrow(path), steps);
    ASSERT_FALSE(shared);
    EXPECT_TRUE(shared.error().is_os(ERROR_SHARING_VIOLATION)) << shared.error().message();
  }
  EXPECT_TRUE(file_exists(path));
  EXPECT_EQ(dispositions, 0);
}

TEST_F(FileRemoval, ReadOnlyFileDeletedThroughTheDispositionSeam) {
  write_file(path, "{}");
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  int dispositions = 0;
  FileRemovalSteps steps;
  // What Windows does for class 21 with these flags, done the way Wine can:
  // the read-only attribute cleared, then the plain disposition (class 4) on
  // the same handle, which needs that handle's delete access.
  steps.set_file_information = [&](HANDLE file, FILE_INFO_BY_HANDLE_CLASS type, LPVOID info, DWORD size) {
    ++dispositions;
    EXPECT_EQ(static_cast<int>(type), 21);
    EXPECT_EQ(size, sizeof(DWORD));
    EXPECT_EQ(*static_cast<const DWORD*>(info), 0x13u);  // delete, POSIX semantics, ignore read-only
    if (!::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL)) return FALSE;
    FILE_DISPOSITION_INFO plain{TRUE};
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &plain, sizeof plain);
  };
  ASSERT_TRUE(delete_file(narrow(path), steps));
  EXPECT_EQ(dispositions, 1);
  EXPECT_FALSE(file_exists(path));
}

TEST_F(FileRemoval, RefusedFallbackKeepsTheFirstAccessDenied) {
  write_file(path, "{}");
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  // The real call, which Wine refuses with 87: the result is still the
  // access-denied error of the plain deletion.
  const auto real = delete_file(narrow(path));
  ASSERT_FALSE(real);
  EXPECT_TRUE(real.error().is_os(ERROR_ACCESS_DENIED)) << real.error().message();
  EXPECT_TRUE(file_exists(path));

  FileRemovalSteps steps;
  steps.set_file_information = [](HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  };
  const auto refused = delete_file(narrow(path), steps);
  ASSERT_FALSE(refused);
  EXPECT_TRUE(refused.error().is_os(ERROR_ACCESS_DENIED)) << refused.error().message();
  EXPECT_TRUE(file_exists(path));

  // A folder in the file's place: DeleteFileW refuses it, and so does the
  // open of the fallback, before any disposition is asked for.
  const std::wstring folder_path = folder.app_dir() + L"\\a folder.json";
  ASSERT_TRUE(::CreateDirectoryW(folder_path.c_str(), nullptr));
  int dispositions = 0;
  steps.set_file_information = [&](HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD) {
    ++dispositions;
    return TRUE;
  };
  const auto directory = delete_file(narrow(folder_path), steps);
  ASSERT_FALSE(directory);
  EXPECT_TRUE(directory.error().is_os(ERROR_ACCESS_DENIED)) << directory.error().message();
  EXPECT_EQ(dispositions, 0);
  EXPECT_TRUE(file_exists(folder_path));
}

}  // namespace
}  // namespace host::win
