// What the registration tests share: the browsers' host keys under
// HKEY_CURRENT_USER, set up and cleaned away; an app data folder for the
// test process; and the documents the desktop application would write.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "main/host_error.h"
#include "windows/unique_hkey.h"

namespace host::test {

// The four keys, as sub-keys of HKEY_CURRENT_USER.
inline const std::wstring chrome_release = L"Software\\Google\\Chrome\\NativeMessagingHosts\\com.velmorantix.browser_context";
inline const std::wstring edge_release = L"Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.velmorantix.browser_context";
inline const std::wstring chrome_dev = chrome_release + L".dev";
inline const std::wstring edge_dev = edge_release + L".dev";

// Removes the four host keys when it starts (a failed earlier run may have
// left them) and when it ends, together with the parent keys that did not
// exist when it started.
class HostKeysGuard {
 public:
  HostKeysGuard();
  ~HostKeysGuard();
  HostKeysGuard(const HostKeysGuard&) = delete;
  HostKeysGuard& operator=(const HostKeysGuard&) = delete;

 private:
  std::vector<std::wstring> created_parents_;
};

bool key_exists(const std::wstring& subkey);
// Creates the key with its parents as needed and stores the default value
// with exactly `size` bytes of `data`.
void set_default_value(const std::wstring& subkey, DWORD type, const void* data, DWORD size);
// A REG_SZ default value with its terminating 0.
void set_default_string(const std::wstring& subkey, std::wstring_view text);
// The default value's text (terminator dropped), or nothing when the key or
// the value is missing or not a REG_SZ.
std::optional<std::wstring> default_string(const std::wstring& subkey);

// Replaces a key's DACL for its lifetime and restores the original, through
// a handle opened before the change so that a deny rule cannot lock the
// test out.
class KeyDaclOverride {
 public:
  KeyDaclOverride(const std::wstring& subkey, const wchar_t* sddl);
  ~KeyDaclOverride();
  KeyDaclOverride(const KeyDaclOverride&) = delete;
  KeyDaclOverride& operator=(const KeyDaclOverride&) = delete;

 private:
  win::UniqueHkey key_;
  std::vector<unsigned char> original_;
};
// Everyone may do anything but read values.
inline constexpr const wchar_t* deny_query_value = L"D:(D;;0x1;;;WD)(A;;KA;;;WD)";
// Everyone may read the key but not set values, which makes reg.exe's add
// and delete fail.
inline constexpr const wchar_t* deny_set_value = L"D:(D;;0x2;;;WD)(A;;KA;;;WD)";

// A fresh folder for the test process's APPDATA, with a blank in its name as
// a user name may have; the app data directory inside it is created. The
// previous APPDATA comes back and the folder goes away with its files, read-
// only ones included, when the object ends.
class ScopedAppDataFolder {
 public:
  ScopedAppDataFolder();
  ~ScopedAppDataFolder();
  ScopedAppDataFolder(const ScopedAppDataFolder&) = delete;
  ScopedAppDataFolder& operator=(const ScopedAppDataFolder&) = delete;

  const std::wstring& appdata() const { return appdata_; }
  std::wstring app_dir() const { return appdata_ + L"\\com.velmorantix.lab"; }
  // UTF-8 path of a file in the app data directory.
  std::string file(std::wstring_view name) const;

 private:
  std::wstring appdata_;
  std::optional<std::wstring> saved_;
};

// Runs `run` (a tool run, which waits for its child without a limit) on
// another thread, so that a child that never ends, such as reg.exe prompting
// for a confirmation it was not given, fails the test instead of hanging it.
HostResult<void> bounded(std::function<HostResult<void>()> run);

// Whole-file helpers on UTF-8 or wide paths.
void write_file(const std::wstring& path, std::string_view bytes);
std::optional<std::string> read_file(const std::wstring& path);
bool file_exists(const std::wstring& path);

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// The documents as the desktop application writes them.
std::string marker_json(std::string_view host, std::string_view enabled = "true");
std::string manifest_json(std::string_view name, std::string_view path = "C:\\\\old\\\\host.exe");
inline const std::string release_host = "com.velmorantix.browser_context";
inline const std::string dev_host = "com.velmorantix.browser_context.dev";

// The text repair writes for a manifest of the four members with `path`.
std::string rendered_manifest(std::string_view name, std::string_view path);

}  // namespace host::test
