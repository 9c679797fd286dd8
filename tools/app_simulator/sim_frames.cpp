#include "sim_frames.h"

#include <cstdio>

#include "sim_io.h"

namespace sim {
namespace {

bool is_end(DWORD code) { return code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED; }

// Fills buffer; returns 0, or why it could not (a 0-byte read counts as the
// client leaving), with how much arrived in got.
DWORD read_exact(HANDLE pipe, char* buffer, std::size_t size, std::size_t& got) {
  got = 0;
  while (got < size) {
    const Transfer done = read_some(pipe, buffer + got, DWORD(size - got));
    if (done.error != 0) return done.error;
    if (done.count == 0) return ERROR_BROKEN_PIPE;
    got += done.count;
  }
  return 0;
}

int hex_value(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

}  // namespace

std::string frame_header(std::uint32_t length) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  return out;
}

std::string frame(std::string_view body) { return frame_header(std::uint32_t(body.size())) + std::string(body); }

Incoming receive_frame(HANDLE pipe) {
  Incoming in;
  char header[4];
  std::size_t got = 0;
  if (const DWORD code = read_exact(pipe, header, 4, got)) {
    in.kind = got == 0 && is_end(code) ? Incoming::Kind::End : Incoming::Kind::Failed;
    in.code = code;
    return in;
  }
  std::uint32_t length = 0;
  for (int i = 0; i < 4; ++i) length |= std::uint32_t(static_cast<unsigned char>(header[i])) << (8 * i);
  if (length > max_body) {
    in.kind = Incoming::Kind::TooLong;
    in.announced = length;
    return in;
  }
  in.body.assign(length, '\0');
  if (const DWORD code = read_exact(pipe, in.body.data(), length, got)) {
    in.kind = Incoming::Kind::Failed;
    in.code = code;
    in.body.clear();
    return in;
  }
  in.kind = Incoming::Kind::Frame;
  return in;
}

std::uint64_t fnv1a(std::string_view bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char b : bytes) {
    hash ^= b;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

std::string describe_body(std::string_view body) {
  if (body.size() <= 2048 && body.find_first_of("\r\n") == std::string_view::npos) return std::string(body);
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(fnv1a(body)));
  return std::string("fnv1a=") + hex;
}

std::optional<std::string> parse_hex(std::wstring_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = hex_value(hex[i]), low = hex_value(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
  }
  return out;
}

std::string json_escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (u < 0x20) {
      char escaped[7];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace sim
