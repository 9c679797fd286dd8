// The messages the relay benchmark sends, the same bytes every run. Both are
// in the host's compact form with sorted members, so the host writes them
// back unchanged and the echo can be compared byte for byte.
#pragma once

#include <cstddef>
#include <string>

namespace bench {

// A page context of exactly `size` bytes: a few metadata members and one
// large text with escapes and non-ASCII text.
std::string page_context_body(std::size_t size);

// A small extension message of exactly `size` bytes (at least 64).
std::string small_message_body(std::size_t size);

// The 4 length bytes, then the body.
std::string frame(const std::string& body);

}  // namespace bench
