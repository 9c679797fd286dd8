// The two messages the host composes for the desktop application, each
// written as one frame on the pipe. The handshake is the first frame of every
// connection; neither message is ever sent twice on one connection.
#pragma once

#include <string_view>

#include "json/json.h"
#include "main/byte_channel.h"

namespace host {

// {"nonce":<nonce>,"origin":<origin>,"type":"transportAuth"}
json::JsonValue transport_auth_message(std::string_view nonce, std::string_view origin);

// {"operation":"prepareUpdate","protocol":{"major":1,"minor":0},"type":"maintenance"}
json::JsonValue prepare_update_message();

// Write the message as one frame; nothing is awaited. A nonce too long for
// a frame fails before anything reaches the pipe.
HostResult<void> send_transport_auth(ByteWriter& pipe, std::string_view nonce, std::string_view origin);
HostResult<void> send_prepare_update(ByteWriter& pipe);

}  // namespace host
