#include "registration/registration_command.h"

#include <windows.h>

#include <array>

#include "main/wide_text.h"
#include "windows/private_file.h"
#include "windows/registry_lookup.h"

namespace host {
namespace {

// Repair, in this order: nothing at all unless enabled; both keys checked
// before anything changes; the manifest rewritten before the registry.
HostResult<void> run_repair(LoadedRegistration& registration, const RegistrationSteps& steps) {
  if (!registration_enabled(registration.marker)) return {};

  for (const auto& key : registration.registry_keys) {
    auto owner = registration_ownership(key, registration.manifest_path);
    if (!owner) return std::unexpected(std::move(owner.error()));
    if (*owner == RegistrationOwnership::Foreign) {
      return std::unexpected(HostError::fixed(ErrorKind::PermissionDenied, msg::foreign_registration));
    }
  }

  auto executable = running_executable_path();
  if (!executable) return std::unexpected(std::move(executable.error()));
  const std::string manifest = render_manifest(registration, *executable);
  if (auto written = win::write_private_file(registration.manifest_path, manifest); !written) return written;

  // Ownership is not asked again: the check above decided for both keys.
  for (const auto& key : registration.registry_keys) {
    const std::array<std::string, 8> arguments = {"add",    key,  "/ve", "/t", "REG_SZ",
                                                  "/d",     registration.manifest_path, "/f"};
    if (auto set = steps.run_reg_tool(arguments, msg::registry_repair_failed); !set) return set;
  }
  return {};
}

// Remove: each owned key, asked just before it is handled; a key of another
// installation is left alone. Then the manifest, and the marker last, so
// that a failure in between leaves the marker to find the rest again.
HostResult<void> run_remove(const LoadedRegistration& registration, const RegistrationSteps& steps) {
  for (const auto& key : registration.registry_keys) {
    auto owner = registration_ownership(key, registration.manifest_path);
    if (!owner) return std::unexpected(std::move(owner.error()));
    if (*owner != RegistrationOwnership::Owned) continue;
    const std::array<std::string, 3> arguments = {"delete", key, "/f"};
    if (auto deleted = steps.run_reg_tool(arguments, msg::registry_removal_failed); !deleted) return deleted;
  }
  if (auto deleted = win::delete_file(registration.manifest_path, steps.file_removal); !deleted) return deleted;
  return win::delete_file(registration.marker_path, steps.file_removal);
}

}  // namespace

HostResult<std::string> running_executable_path() {
  // Long paths are allowed up to 32767 units; a buffer of the reported size
  // means the path may have been cut.
  std::u16string path(MAX_PATH, u'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(path.data()),
                                         static_cast<DWORD>(path.size()));
    if (n == 0) return std::unexpected(HostError::os(::GetLastError()));
    if (n < path.size()) {
      path.resize(n);
      return from_wide(path);
    }
    if (path.size() >= 65536) return std::unexpected(HostError::os(ERROR_INSUFFICIENT_BUFFER));
    path.resize(path.size() * 2);
  }
}

HostResult<void> registration_command(bool remove) {
  return registration_command(remove, RegistrationSteps{});
}

HostResult<void> registration_command(bool remove, const RegistrationSteps& steps) {
  auto loaded = load_registration();
  if (!loaded) return std::unexpected(std::move(loaded.error()));
  if (!*loaded) return {};
  LoadedRegistration& registration = **loaded;
  return remove ? run_remove(registration, steps) : run_repair(registration, steps);
}

}  // namespace host
