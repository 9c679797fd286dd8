#include "windows/registry_lookup.h"

#include <windows.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "main/wide_text.h"
#include "registration/native_host_names.h"
#include "windows/unique_handle.h"
#include "windows/unique_hkey.h"

namespace host {
namespace {

// Larger default values are not read at all: no manifest path is that long.
constexpr DWORD max_value_bytes = 65536;

constexpr std::string_view hive_prefix = "HKCU\\";

// Reads and judges the default value of an open key.
HostResult<RegistrationOwnership> judge_default_value(HKEY key, std::string_view manifest_path) {
  DWORD type = 0;
  DWORD size = 0;
  LSTATUS status = ::RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) return RegistrationOwnership::Absent;
  if (status != ERROR_SUCCESS) return std::unexpected(HostError::os(static_cast<std::uint32_t>(status)));
  // A REG_EXPAND_SZ would name a path only after expansion: not ours.
  if (type != REG_SZ) return RegistrationOwnership::Foreign;
  if (size == 0 || size > max_value_bytes || size % 2 != 0) return RegistrationOwnership::Foreign;

  std::vector<char16_t> units(size / 2, u'\0');
  DWORD returned = size;
  status = ::RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(units.data()), &returned);
  // The value may have changed in between (ERROR_MORE_DATA when it grew).
  if (status != ERROR_SUCCESS) return std::unexpected(HostError::os(static_cast<std::uint32_t>(status)));
  if (type != REG_SZ || returned % 2 != 0) return RegistrationOwnership::Foreign;

  // One terminating 0 is dropped, if stored; further 0 units are text.
  std::size_t n = std::min<std::size_t>(units.size(), returned / 2);
  if (n > 0 && units[n - 1] == u'\0') --n;
  const auto text = from_wide_strict(std::u16string_view(units.data(), n));
  if (!text) return RegistrationOwnership::Foreign;

  const std::u16string stored = to_wide(*text);
  // UTF-8 holds no surrogates, so the manifest path converts without
  // replacements; the call keeps that true whatever the source.
  const std::u16string ours = replace_unpaired_surrogates(to_wide(manifest_path));
  constexpr std::size_t int_max = static_cast<std::size_t>(std::numeric_limits<int>::max());
  if (stored.size() > int_max || ours.size() > int_max) return RegistrationOwnership::Foreign;
  const int compared = ::CompareStringOrdinal(reinterpret_cast<LPCWCH>(stored.data()), static_cast<int>(stored.size()),
                                              reinterpret_cast<LPCWCH>(ours.data()), static_cast<int>(ours.size()),
                                              TRUE);
  return compared == CSTR_EQUAL ? RegistrationOwnership::Owned : RegistrationOwnership::Foreign;
}

}  // namespace

std::optional<std::string_view> owned_registry_subkey(std::string_view key) {
  if (key.size() < CHROME_HOSTS_KEY.size()) return std::nullopt;
  std::string_view rest;
  if (key.substr(0, CHROME_HOSTS_KEY.size()) == CHROME_HOSTS_KEY) {
    rest = key.substr(CHROME_HOSTS_KEY.size());
  } else if (key.size() == CHROME_HOSTS_KEY.size() || key.substr(0, EDGE_HOSTS_KEY.size()) != EDGE_HOSTS_KEY) {
    return std::nullopt;
  } else {
    rest = key.substr(EDGE_HOSTS_KEY.size());
  }
  if (rest != HOST_NAME_DEV && rest != HOST_NAME_RELEASE) return std::nullopt;
  return key.substr(hive_prefix.size());
}

HostResult<RegistrationOwnership> registration_ownership(std::string_view key, std::string_view manifest_path) {
  const auto subkey = owned_registry_subkey(key);
  if (!subkey) return std::unexpected(HostError::fixed(ErrorKind::InvalidInput, msg::unowned_registry_key));

  const std::u16string wsubkey = to_wide(*subkey);
  win::UniqueHkey opened;
  const LSTATUS status = ::RegOpenKeyExW(HKEY_CURRENT_USER, win::wide(wsubkey), 0, KEY_QUERY_VALUE, opened.put());
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return RegistrationOwnership::Absent;
  if (status != ERROR_SUCCESS) return std::unexpected(HostError::os(static_cast<std::uint32_t>(status)));
  return judge_default_value(opened.get(), manifest_path);
}

}  // namespace host
