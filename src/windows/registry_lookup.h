// Who owns a browser's registration of this host: reads the per-user
// registry key that a browser consults to find a native messaging host, and
// nothing else. It never changes the registry.
#pragma once

#include <optional>
#include <string_view>

#include "main/host_error.h"

namespace host {

enum class RegistrationOwnership {
  Absent,   // no such key, or the key has no default value
  Owned,    // the default value is a REG_SZ naming this installation's manifest
  Foreign,  // any other default value: another path, type, size or invalid text
};

// The sub-key under HKEY_CURRENT_USER for one of the host's own four key
// paths (either browser's folder followed by either host name, nothing
// after it), compared byte for byte; nothing for every other text.
std::optional<std::string_view> owned_registry_subkey(std::string_view key);

// `key` in the "HKCU\..." form; `manifest_path` is compared with the
// key's default value ordinally, ignoring case. A key path outside the four
// is refused with "Unowned registry key" before the registry is read; a
// missing key or value is Absent, never an error; every other Windows
// failure (access denied, for one) is an OS error.
HostResult<RegistrationOwnership> registration_ownership(std::string_view key, std::string_view manifest_path);

}  // namespace host
