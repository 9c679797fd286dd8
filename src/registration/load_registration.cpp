// Finding the registration documents on disk; the judging is in
// registration.cpp.
#include "app_link/app_contract.h"
#include "app_link/app_data_dir.h"
#include "main/path_join.h"
#include "registration/registration.h"

namespace host {

HostResult<std::optional<LoadedRegistration>> load_registration() {
  auto dir = app_data_dir();
  if (!dir) return std::unexpected(std::move(dir.error()));

  // Without a readable marker nothing is registered here; why it cannot be
  // read does not matter.
  std::string marker_path = join_path(*dir, REGISTRATION_MARKER_FILE);
  auto marker_bytes = read_whole_file(marker_path);
  if (!marker_bytes) return std::optional<LoadedRegistration>();

  auto marker = judge_marker(*marker_bytes);
  if (!marker) return std::unexpected(std::move(marker.error()));

  // Unlike the marker, a manifest that cannot be read is an error.
  std::string manifest_path = join_path(*dir, manifest_file_name(marker->host_name));
  auto manifest_bytes = read_whole_file(manifest_path);
  if (!manifest_bytes) return std::unexpected(std::move(manifest_bytes.error()));

  auto manifest = judge_manifest(*manifest_bytes, marker->host_name);
  if (!manifest) return std::unexpected(std::move(manifest.error()));

  LoadedRegistration loaded;
  loaded.registry_keys = browser_registry_keys(marker->host_name);
  loaded.host_name = std::move(marker->host_name);
  loaded.marker = std::move(marker->marker);
  loaded.manifest = std::move(*manifest);
  loaded.marker_path = std::move(marker_path);
  loaded.manifest_path = std::move(manifest_path);
  return std::optional<LoadedRegistration>(std::move(loaded));
}

}  // namespace host
