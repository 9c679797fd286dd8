#include "registration/registration.h"

#include "main/host_mode.h"

namespace host {
namespace {

// A parse failure keeps the parser's description; its kind is Other.
HostResult<json::JsonValue> parse_document(std::string_view bytes) {
  auto parsed = json::parse_json(bytes);
  if (!parsed) return std::unexpected(HostError::described(parsed.error().describe()));
  return std::move(*parsed);
}

std::optional<std::string_view> string_member(const json::JsonValue& object, std::string_view key) {
  const json::JsonValue* member = object.get(key);
  if (member == nullptr) return std::nullopt;
  return member->as_string();
}

HostError unowned_manifest() { return HostError::fixed(ErrorKind::PermissionDenied, msg::unowned_manifest); }

}  // namespace

std::array<std::string, 2> browser_registry_keys(std::string_view host_name) {
  return {std::string(CHROME_HOSTS_KEY) + std::string(host_name), std::string(EDGE_HOSTS_KEY) + std::string(host_name)};
}

std::string manifest_file_name(std::string_view host_name) { return std::string(host_name) + ".json"; }

HostResult<JudgedMarker> judge_marker(std::string_view bytes) {
  auto marker = parse_document(bytes);
  if (!marker) return std::unexpected(std::move(marker.error()));
  // Exactly one of the two names, byte for byte: no trimming, no case folding.
  const auto host = string_member(*marker, "host");
  if (!host || (*host != HOST_NAME_DEV && *host != HOST_NAME_RELEASE)) {
    return std::unexpected(HostError::fixed(ErrorKind::Other, msg::unowned_marker));
  }
  std::string host_name(*host);
  return JudgedMarker{std::move(*marker), std::move(host_name)};
}

HostResult<json::JsonValue> judge_manifest(std::string_view bytes, std::string_view host_name) {
  auto manifest = parse_document(bytes);
  if (!manifest) return std::unexpected(std::move(manifest.error()));
  if (string_member(*manifest, "name") != host_name) return std::unexpected(unowned_manifest());
  if (string_member(*manifest, "description") != MANIFEST_DESCRIPTION) return std::unexpected(unowned_manifest());
  const json::JsonValue* origins = manifest->get("allowed_origins");
  const json::JsonValue only_approved(json::JsonArray{json::JsonValue(approved_origin())});
  if (origins == nullptr || *origins != only_approved) return std::unexpected(unowned_manifest());
  return std::move(*manifest);
}

bool registration_enabled(const json::JsonValue& marker) {
  const json::JsonValue* enabled = marker.get("enabled");
  return enabled != nullptr && enabled->as_bool() == true;
}

std::string render_manifest(LoadedRegistration& registration, std::string_view executable_path) {
  registration.manifest.set("path", json::JsonValue(executable_path));
  return json::to_pretty_json_bytes(registration.manifest);
}

}  // namespace host
