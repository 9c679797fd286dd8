// Frames as the desktop application sees them on its pipe: a 4-byte
// little-endian length, then that many bytes of body. Written here on its
// own, apart from the host's framing, so that the two check each other.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

// The largest body the host ever sends or accepts.
inline constexpr std::uint32_t max_body = 524288;

// The 4 length bytes alone.
std::string frame_header(std::uint32_t length);
// The length bytes, then the body.
std::string frame(std::string_view body);

// How reading one frame from the pipe ended.
struct Incoming {
  enum class Kind {
    Frame,    // body holds it
    End,      // the client closed between two frames
    Failed,   // code: the system's error, or 109 when the client left inside a frame
    TooLong,  // announced: a length above max_body; its body is left unread
  };
  Kind kind = Kind::End;
  std::string body;
  DWORD code = 0;
  std::uint32_t announced = 0;
};
Incoming receive_frame(HANDLE pipe);

// A body as a log line shows it: verbatim when it is at most 2048 bytes and
// holds no line break, else "fnv1a=" and its 64-bit FNV-1a hash in 16 hex
// digits.
std::string describe_body(std::string_view body);
std::uint64_t fnv1a(std::string_view bytes);

// Bytes from hex digits (either case, even count); nothing if malformed.
std::optional<std::string> parse_hex(std::wstring_view hex);

// The text as the inside of a JSON string.
std::string json_escape(std::string_view text);

}  // namespace sim
