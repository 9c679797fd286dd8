#include "app_link/app_messages.h"

#include "main/framing.h"
#include "main/host_mode.h"

namespace host {

json::JsonValue transport_auth_message(std::string_view nonce, std::string_view origin) {
  json::JsonValue message;
  message.set("type", json::JsonValue("transportAuth"));
  message.set("nonce", json::JsonValue(nonce));
  message.set("origin", json::JsonValue(origin));
  return message;
}

json::JsonValue prepare_update_message() {
  json::JsonValue message;
  message.set("protocol", protocol_version());
  message.set("type", json::JsonValue("maintenance"));
  message.set("operation", json::JsonValue("prepareUpdate"));
  return message;
}

HostResult<void> send_transport_auth(ByteWriter& pipe, std::string_view nonce, std::string_view origin) {
  return write_frame(pipe, transport_auth_message(nonce, origin));
}

HostResult<void> send_prepare_update(ByteWriter& pipe) { return write_frame(pipe, prepare_update_message()); }

}  // namespace host
