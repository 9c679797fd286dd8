#include "registration/registration_test_support.h"

#include <sddl.h>
#include <tlhelp32.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "main/wide_text.h"
#include "windows/unique_handle.h"

namespace host::test {
namespace {

const std::vector<std::wstring> parent_keys = {
    L"Software\\Google",
    L"Software\\Google\\Chrome",
    L"Software\\Google\\Chrome\\NativeMessagingHosts",
    L"Software\\Microsoft\\Edge",
    L"Software\\Microsoft\\Edge\\NativeMessagingHosts",
};

void delete_host_keys() {
  for (const auto* key : {&chrome_release, &edge_release, &chrome_dev, &edge_dev}) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key->c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, key->c_str());
  }
}

void delete_folder_contents(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      delete_folder_contents(path);
      ::RemoveDirectoryW(path.c_str());
    } else {
      ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileW(path.c_str());
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
}

}  // namespace

HostKeysGuard::HostKeysGuard() {
  delete_host_keys();
  for (const auto& parent : parent_keys) {
    if (!key_exists(parent)) created_parents_.push_back(parent);
  }
}

HostKeysGuard::~HostKeysGuard() {
  delete_host_keys();
  // Deepest first; a parent that holds anything else is kept.
  for (auto it = created_parents_.rbegin(); it != created_parents_.rend(); ++it) {
    ::RegDeleteKeyW(HKEY_CURRENT_USER, it->c_str());
  }
}

bool key_exists(const std::wstring& subkey) {
  win::UniqueHkey key;
  return ::RegOpenKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

void set_default_value(const std::wstring& subkey, DWORD type, const void* data, DWORD size) {
  win::UniqueHkey key;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                              nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(::RegSetValueExW(key.get(), nullptr, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

void set_default_string(const std::wstring& subkey, std::wstring_view text) {
  const std::wstring stored(text);
  set_default_value(subkey, REG_SZ, stored.c_str(), DWORD((stored.size() + 1) * sizeof(wchar_t)));
}

std::optional<std::wstring> default_string(const std::wstring& subkey) {
  win::UniqueHkey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0, size = 0;
  if (::RegQueryValueExW(key.get(), nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) {
    return std::nullopt;
  }
  std::wstring text(size / sizeof(wchar_t), L'\0');
  if (::RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  text.resize(size / sizeof(wchar_t));
  if (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

KeyDaclOverride::KeyDaclOverride(const std::wstring& subkey, const wchar_t* sddl) {
  EXPECT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, READ_CONTROL | WRITE_DAC, key_.put()),
            ERROR_SUCCESS);
  DWORD size = 0;
  ::RegGetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
  original_.resize(size);
  EXPECT_EQ(::RegGetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, original_.data(), &size), ERROR_SUCCESS);
  win::UniqueHlocal<PSECURITY_DESCRIPTOR> replacement;
  EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, replacement.put(),
                                                                     nullptr));
  EXPECT_EQ(::RegSetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, replacement.get()), ERROR_SUCCESS);
}

KeyDaclOverride::~KeyDaclOverride() {
  EXPECT_EQ(::RegSetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, original_.data()), ERROR_SUCCESS);
}

ScopedAppDataFolder::ScopedAppDataFolder() {
  static int counter = 0;
  wchar_t base[MAX_PATH];
  ::GetTempPathW(MAX_PATH, base);
  appdata_ = std::wstring(base) + L"host reg " + std::to_wstring(::GetCurrentProcessId()) + L" " +
             std::to_wstring(counter++);
  ::CreateDirectoryW(appdata_.c_str(), nullptr);
  EXPECT_TRUE(::CreateDirectoryW(app_dir().c_str(), nullptr));
  wchar_t previous[32768];
  const DWORD n = ::GetEnvironmentVariableW(L"APPDATA", previous, 32768);
  if (n > 0 && n < 32768) saved_ = std::wstring(previous, n);
  ::SetEnvironmentVariableW(L"APPDATA", appdata_.c_str());
}

ScopedAppDataFolder::~ScopedAppDataFolder() {
  ::SetEnvironmentVariableW(L"APPDATA", saved_ ? saved_->c_str() : nullptr);
  delete_folder_contents(appdata_);
  ::RemoveDirectoryW(appdata_.c_str());
}

std::string ScopedAppDataFolder::file(std::wstring_view name) const {
  return narrow(app_dir() + L"\\" + std::wstring(name));
}

// Ends the processes this test process started that still run.
void end_children() {
  win::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID != ::GetCurrentProcessId()) continue;
    win::UniqueHandle child(::OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
    if (child) ::TerminateProcess(child.get(), 99);
  }
}

HostResult<void> bounded(std::function<HostResult<void>()> run) {
  auto task = std::make_shared<std::packaged_task<HostResult<void>()>>(std::move(run));
  auto result = task->get_future();
  std::thread([task] { (*task)(); }).detach();
  if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    ADD_FAILURE() << "the tool run did not end within 60 s; its child is ended";
    end_children();
    if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
      return std::unexpected(HostError::described("did not end"));
    }
  }
  return result.get();
}

void write_file(const std::wstring& path, std::string_view bytes) {
  win::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file) << "cannot create " << narrow(path) << ": " << ::GetLastError();
  DWORD wrote = 0;
  ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &wrote, nullptr));
  ASSERT_EQ(wrote, bytes.size());
}

std::optional<std::string> read_file(const std::wstring& path) {
  win::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  return bytes;
}

bool file_exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring widen(std::string_view utf8) {
  const std::u16string w = to_wide(utf8);
  return std::wstring(w.begin(), w.end());
}

std::string narrow(std::wstring_view wide) {
  return from_wide(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

std::string marker_json(std::string_view host, std::string_view enabled) {
  std::string marker = "{\"host\":\"" + std::string(host) + "\"";
  if (!enabled.empty()) marker += ",\"enabled\":" + std::string(enabled);
  return marker + "}";
}

std::string manifest_json(std::string_view name, std::string_view path) {
  return "{\"name\":\"" + std::string(name) +
         "\",\"description\":\"Velmorantix coding context pilot\",\"path\":\"" + std::string(path) +
         "\",\"type\":\"stdio\",\"allowed_origins\":[\"chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/\"]}";
}

std::string rendered_manifest(std::string_view name, std::string_view path) {
  std::string escaped;
  for (const char c : path) {
    if (c == '\\' || c == '"') escaped.push_back('\\');
    escaped.push_back(c);
  }
  return "{\n"
         "  \"allowed_origins\": [\n"
         "    \"chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/\"\n"
         "  ],\n"
         "  \"description\": \"Velmorantix coding context pilot\",\n"
         "  \"name\": \"" +
         std::string(name) + "\",\n  \"path\": \"" + escaped +
         "\",\n"
         "  \"type\": \"stdio\"\n"
         "}";
}

}  // namespace host::test
