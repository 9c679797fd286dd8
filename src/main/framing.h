// Native message frames: a 32-bit little-endian length, then that many bytes
// of UTF-8 JSON text. The same frames travel on standard input, standard
// output and the desktop application's pipe.
#pragma once

#include <cstddef>
#include <cstdint>

#include "json/json.h"
#include "main/byte_channel.h"

namespace host {

// The largest body, in bytes, read or written on any channel. A length is
// valid from 1 to MAX_FRAME_LEN inclusive.
inline constexpr std::size_t MAX_FRAME_LEN = 524288;

// Reads one frame and parses its body. The length is checked before any
// body buffer is reserved, so no more than MAX_FRAME_LEN bytes are ever
// reserved for one frame whatever the header says.
HostResult<json::JsonValue> read_frame(ByteReader& channel);

// Writes value as one frame in the compact form, then flushes the channel.
// Nothing is written when the compact text is not a valid frame length.
HostResult<void> write_frame(ByteWriter& channel, const json::JsonValue& value);

// Fills the whole buffer; the end of the stream before that is
// UnexpectedEof. Interrupted reads are repeated.
HostResult<void> read_exact(ByteReader& channel, std::span<char> buffer);

// Writes every byte; a channel that accepts 0 bytes is WriteZero.
// Interrupted writes are repeated.
HostResult<void> write_all(ByteWriter& channel, std::span<const char> bytes);

}  // namespace host
