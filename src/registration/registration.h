// The two documents through which the desktop application registers this
// host with the browsers, and how the maintenance commands judge and
// rewrite them:
// - the registration marker (REGISTRATION_MARKER_FILE in the app data
//   directory), naming the installed host name and whether the browser
//   connection is enabled;
// - the host manifest (the host name + ".json" beside it), which the
//   browsers read to learn which executable to start for which extension.
// Everything here but load_registration is platform-neutral.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "json/json.h"
#include "main/host_error.h"
#include "registration/native_host_names.h"

namespace host {

// The manifest's required description.
inline constexpr std::string_view MANIFEST_DESCRIPTION = "Velmorantix coding context pilot";

// A marker and a manifest that belong to this installation, as the command
// that loaded them owns them until it ends.
struct LoadedRegistration {
  std::string host_name;      // the marker's host, HOST_NAME_RELEASE or HOST_NAME_DEV
  json::JsonValue marker;     // the parsed marker
  json::JsonValue manifest;   // the parsed manifest, an object; repair changes its path
  std::string marker_path;    // app data directory + REGISTRATION_MARKER_FILE
  std::string manifest_path;  // app data directory + host name + ".json"
  std::array<std::string, 2> registry_keys;  // Chrome's, then Edge's
};

// The two registry key paths for a host name, Chrome's first, then Edge's,
// in the "HKCU\..." form that the registry lookup and reg.exe both take.
std::array<std::string, 2> browser_registry_keys(std::string_view host_name);

// The manifest's file name for a host name: the name followed by ".json".
std::string manifest_file_name(std::string_view host_name);

// The marker's bytes parsed and judged: the parsed marker and its host name.
// Invalid JSON is an Other error carrying the parser's description; a host
// member that is missing, not a string, or not exactly one of the two host
// names is "Unowned registration marker".
struct JudgedMarker {
  json::JsonValue marker;
  std::string host_name;
};
HostResult<JudgedMarker> judge_marker(std::string_view bytes);

// The manifest's bytes parsed and judged against the marker's host name:
// name equal to it, description equal to MANIFEST_DESCRIPTION, and
// allowed_origins exactly [approved origin]; anything else is "Unowned
// native host manifest". Other members are not looked at.
HostResult<json::JsonValue> judge_manifest(std::string_view bytes, std::string_view host_name);

// True only when the marker's enabled member is the JSON boolean true.
bool registration_enabled(const json::JsonValue& marker);

// Finds the two documents in the app data directory and judges them.
// Nothing registered (empty) when the marker cannot be read for whatever
// reason; an error when the directory is unknown, a document is not valid
// JSON or not this installation's, or the manifest cannot be read. Changes
// nothing on disk or in the registry.
HostResult<std::optional<LoadedRegistration>> load_registration();

// Sets the manifest's path member to `executable_path` (replacing any
// existing one) and returns the pretty manifest text. The same manifest and
// path always give the same bytes.
std::string render_manifest(LoadedRegistration& registration, std::string_view executable_path);

}  // namespace host
