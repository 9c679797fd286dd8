#include "main/host_mode.h"


namespace host {

HostMode select_mode(std::optional<std::string_view> first_argument) {
  if (first_argument == "--repair-registration") return HostMode::RepairRegistration;
  if (first_argument == "--remove-registration") return HostMode::RemoveRegistration;
  if (first_argument == "--prepare-update") return HostMode::PrepareUpdate;
  return HostMode::Relay;
}

std::string approved_origin() {
  std::string origin = "chrome-extension://";
  origin.append(APPROVED_EXTENSION_ID);
  origin.push_back('/');
  return origin;
}

bool is_approved_origin(std::string_view origin) { return origin == approved_origin(); }

HostResult<void> check_caller_origin(std::optional<std::string_view> first_argument) {
  if (!first_argument) return std::unexpected(HostError::fixed(ErrorKind::PermissionDenied, msg::missing_origin));
  if (!is_approved_origin(*first_argument)) {
    return std::unexpected(HostError::fixed(ErrorKind::PermissionDenied, msg::unapproved_extension));
  }
  return {};
}

json::JsonValue protocol_version() {
  json::JsonValue version;
  version.set("major", json::JsonValue(json::JsonNumber::from_unsigned(1)));
  version.set("minor", json::JsonValue(json::JsonNumber::from_unsigned(0)));
  return version;
}

json::JsonValue error_reply() {
  json::JsonValue reply;
  reply.set("error", json::JsonValue("Open Velmorantix and enable Browser connection"));
  reply.set("protocol", protocol_version());
  reply.set("type", json::JsonValue("error"));
  return reply;
}

}  // namespace host
