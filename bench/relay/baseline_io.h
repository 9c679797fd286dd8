// What the benchmark's baseline programs share: the plainest way to move
// native frames with Win32 calls. No buffering of their own, no JSON, no
// checks beyond keeping a length inside the body buffer.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "windows/unique_handle.h"

namespace baseline {

// The largest body a frame carries.
inline constexpr std::size_t max_body = 524288;

// Synchronous transfers on a standard handle; false on any failure or end.
bool read_exact(HANDLE handle, char* buffer, std::size_t size);
bool write_all(HANDLE handle, const char* bytes, std::size_t size);

// One thread's side of the overlapped pipe: its own event, made once and
// used for every transfer.
class PipeSide {
 public:
  explicit PipeSide(HANDLE pipe);
  bool read_exact(char* buffer, std::size_t size);
  bool write_all(const char* bytes, std::size_t size);

 private:
  bool transfer(bool reading, char* buffer, DWORD size, DWORD& moved);
  HANDLE pipe_;
  host::win::UniqueHandle event_;
};

// The application's pipe, opened the way the host opens it.
host::win::UniqueHandle open_pipe(const wchar_t* path);

// The length of a frame from its 4 header bytes.
std::uint32_t frame_length(const char* header);

// The transport handshake the simulator expects, as one frame.
std::string handshake_frame(std::string_view nonce);

// The text of a wide argument that is known to be ASCII (a hex nonce).
std::string ascii(const wchar_t* text);

}  // namespace baseline
