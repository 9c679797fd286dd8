// The record that the desktop application publishes in its runtime endpoint
// file: where its pipe is and the nonce to present on connecting.
#pragma once

#include <string>
#include <string_view>

#include "main/host_error.h"

namespace host {

struct RuntimeEndpoint {
  std::string endpoint;  // the application's named pipe path, as written
  std::string nonce;     // presented in the transport handshake, as written

  // Decodes the whole file: an object with the string members `endpoint`
  // and `nonce` (other members skipped, at any depth), or an array of
  // exactly those two strings in that order. Every fault, syntax or shape,
  // is a HostError of kind Other describing it.
  static HostResult<RuntimeEndpoint> parse(std::string_view bytes);

  friend bool operator==(const RuntimeEndpoint&, const RuntimeEndpoint&) = default;
};

}  // namespace host
