#include "app_link/app_data_dir.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "main/wide_text.h"
#include "windows/unique_handle.h"

namespace host {
namespace {

// Sets APPDATA for the test's duration (nullptr unsets it) and restores it.
class ScopedAppData {
 public:
  explicit ScopedAppData(const wchar_t* value) {
    wchar_t buffer[32768];
    const DWORD n = ::GetEnvironmentVariableW(L"APPDATA", buffer, 32768);
    if (n > 0) saved_ = std::wstring(buffer, n);
    ::SetEnvironmentVariableW(L"APPDATA", value);
  }
  ~ScopedAppData() { ::SetEnvironmentVariableW(L"APPDATA", saved_ ? saved_->c_str() : nullptr); }

 private:
  std::optional<std::wstring> saved_;
};

// A fresh folder under the temporary directory, removed with its files.
class TempDir {
 public:
  TempDir() {
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    path_ = std::wstring(base) + L"host-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter_++);
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempDir() {
    for (const auto& f : files_) ::DeleteFileW(f.c_str());
    ::RemoveDirectoryW((path_ + L"\\com.velmorantix.lab").c_str());
    ::RemoveDirectoryW(path_.c_str());
  }
  const std::wstring& path() const { return path_; }
  std::string utf8() const { return from_wide(reinterpret_cast<const char16_t*>(path_.c_str())); }
  std::string write(const std::wstring& relative, std::string_view bytes) {
    const std::wstring full = path_ + L"\\" + relative;
    files_.push_back(full);
    win::UniqueHandle f(::CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_TRUE(f);
    DWORD wrote = 0;
    EXPECT_TRUE(::WriteFile(f.get(), bytes.data(), DWORD(bytes.size()), &wrote, nullptr));
    return from_wide(reinterpret_cast<const char16_t*>(full.c_str()));
  }

 private:
  static inline int counter_ = 0;
  std::wstring path_;
  std::vector<std::wstring> files_;
};

TEST(AppDataDir, FromTheEnvironment) {
  struct Case {
    const wchar_t* appdata;
    const char* expected;
  };
  const Case cases[] = {
      {LR"(C:\Users\a b\AppData\Roaming)", R"(C:\Users\a b\AppData\Roaming\com.velmorantix.lab)"},
      {LR"(C:\Roaming\)", R"(C:\Roaming\com.velmorantix.lab)"},
      {L"", "com.velmorantix.lab"},
      {L"C:\\\u00E9t\u00E9", "C:\\\xC3\xA9t\xC3\xA9\\com.velmorantix.lab"},
  };
  for (const auto& c : cases) {
    ScopedAppData env(c.appdata);
    auto dir = app_data_dir();
    ASSERT_TRUE(dir);
    EXPECT_EQ(*dir, c.expected);
  }
}

TEST(AppDataDir, UnsetIsNoUserAppData) {
  ScopedAppData env(nullptr);
  auto dir = app_data_dir();
  ASSERT_FALSE(dir);
  EXPECT_TRUE(dir.error().is(ErrorKind::NotFound, msg::no_user_app_data));
  auto endpoint = load_runtime_endpoint();
  ASSERT_FALSE(endpoint);
  EXPECT_TRUE(endpoint.error().is(ErrorKind::NotFound, msg::no_user_app_data));
}

TEST(ReadWholeFile, ReadsEveryByteWhileOthersHoldTheFile) {
  TempDir dir;
  std::string content;
  for (int i = 0; i < 300000; ++i) content.push_back(char(i * 7));
  const std::string path = dir.write(L"data.bin", content);
  // The application may hold the file open for writing meanwhile.
  win::UniqueHandle holder(::CreateFileW((dir.path() + L"\\data.bin").c_str(), GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  auto bytes = read_whole_file(path);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(*bytes, content);

  const std::string empty = dir.write(L"empty.bin", "");
  EXPECT_EQ(read_whole_file(empty).value(), "");
}

TEST(ReadWholeFile, MissingFileOrFolderIsTheOsError) {
  TempDir dir;
  auto missing = read_whole_file(dir.utf8() + "\\absent.json");
  ASSERT_FALSE(missing);
  EXPECT_TRUE(missing.error().is_os(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(missing.error().kind(), ErrorKind::NotFound);
  auto no_folder = read_whole_file(dir.utf8() + "\\absent\\x.json");
  ASSERT_FALSE(no_folder);
  EXPECT_TRUE(no_folder.error().is_os(ERROR_PATH_NOT_FOUND));
}

TEST(LoadRuntimeEndpoint, ReadsTheFileInTheAppDataDir) {
  TempDir dir;
  ScopedAppData env(dir.path().c_str());
  auto missing = load_runtime_endpoint();
  ASSERT_FALSE(missing);
  EXPECT_TRUE(missing.error().is_os(ERROR_PATH_NOT_FOUND)) << "no folder yet";

  ::CreateDirectoryW((dir.path() + L"\\com.velmorantix.lab").c_str(), nullptr);
  dir.write(L"com.velmorantix.lab\\browser-context-runtime.json",
            R"({"nonce":"n0","extra":[[{}]],"endpoint":"\\\\.\\pipe\\x"})");
  auto endpoint = load_runtime_endpoint();
  ASSERT_TRUE(endpoint) << endpoint.error().message();
  EXPECT_EQ(endpoint->endpoint, R"(\\.\pipe\x)");
  EXPECT_EQ(endpoint->nonce, "n0");

  dir.write(L"com.velmorantix.lab\\browser-context-runtime.json", R"({"endpoint":"x"})");
  auto malformed = load_runtime_endpoint();
  ASSERT_FALSE(malformed);
  EXPECT_EQ(malformed.error().kind(), ErrorKind::Other);
}

}  // namespace
}  // namespace host
