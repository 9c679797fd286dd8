#include "baseline_io.h"

namespace baseline {

bool read_exact(HANDLE handle, char* buffer, std::size_t size) {
  while (size > 0) {
    DWORD got = 0;
    if (!::ReadFile(handle, buffer, DWORD(size), &got, nullptr) || got == 0) return false;
    buffer += got;
    size -= got;
  }
  return true;
}

bool write_all(HANDLE handle, const char* bytes, std::size_t size) {
  while (size > 0) {
    DWORD wrote = 0;
    if (!::WriteFile(handle, bytes, DWORD(size), &wrote, nullptr) || wrote == 0) return false;
    bytes += wrote;
    size -= wrote;
  }
  return true;
}

PipeSide::PipeSide(HANDLE pipe) : pipe_(pipe), event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

bool PipeSide::transfer(bool reading, char* buffer, DWORD size, DWORD& moved) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = event_.get();
  moved = 0;
  const BOOL done = reading ? ::ReadFile(pipe_, buffer, size, &moved, &overlapped)
                            : ::WriteFile(pipe_, buffer, size, &moved, &overlapped);
  if (done) return moved > 0;
  if (::GetLastError() != ERROR_IO_PENDING) return false;
  return ::GetOverlappedResult(pipe_, &overlapped, &moved, TRUE) && moved > 0;
}

bool PipeSide::read_exact(char* buffer, std::size_t size) {
  while (size > 0) {
    DWORD got = 0;
    if (!transfer(true, buffer, DWORD(size), got)) return false;
    buffer += got;
    size -= got;
  }
  return true;
}

bool PipeSide::write_all(const char* bytes, std::size_t size) {
  while (size > 0) {
    DWORD wrote = 0;
    if (!transfer(false, const_cast<char*>(bytes), DWORD(size), wrote)) return false;
    bytes += wrote;
    size -= wrote;
  }
  return true;
}

host::win::UniqueHandle open_pipe(const wchar_t* path) {
  return host::win::UniqueHandle(::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                               FILE_FLAG_OVERLAPPED, nullptr));
}

std::uint32_t frame_length(const char* header) {
  return std::uint32_t(std::uint8_t(header[0])) | std::uint32_t(std::uint8_t(header[1])) << 8 |
         std::uint32_t(std::uint8_t(header[2])) << 16 | std::uint32_t(std::uint8_t(header[3])) << 24;
}

std::string handshake_frame(std::string_view nonce) {
  const std::string body = "{\"nonce\":\"" + std::string(nonce) +
                           "\",\"origin\":\"chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/\","
                           "\"type\":\"transportAuth\"}";
  const auto n = static_cast<std::uint32_t>(body.size());
  std::string frame{char(n & 0xFF), char((n >> 8) & 0xFF), char((n >> 16) & 0xFF), char((n >> 24) & 0xFF)};
  return frame + body;
}

std::string ascii(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) out.push_back(static_cast<char>(*text));
  return out;
}

}  // namespace baseline
