#include "main/framing.h"

#include <array>
#include <memory>
#include <string_view>

namespace host {

HostResult<void> read_exact(ByteReader& channel, std::span<char> buffer) {
  while (!buffer.empty()) {
    auto got = channel.read(buffer);
    if (!got) {
      if (got.error().kind() == ErrorKind::Interrupted) continue;
      return std::unexpected(std::move(got.error()));
    }
    if (*got == 0) return std::unexpected(HostError::fixed(ErrorKind::UnexpectedEof, msg::fill_whole_buffer));
    buffer = buffer.subspan(*got);
  }
  return {};
}

HostResult<void> write_all(ByteWriter& channel, std::span<const char> bytes) {
  while (!bytes.empty()) {
    auto wrote = channel.write(bytes);
    if (!wrote) {
      if (wrote.error().kind() == ErrorKind::Interrupted) continue;
      return std::unexpected(std::move(wrote.error()));
    }
    if (*wrote == 0) return std::unexpected(HostError::fixed(ErrorKind::WriteZero, msg::write_whole_buffer));
    bytes = bytes.subspan(*wrote);
  }
  return {};
}

HostResult<json::JsonValue> read_frame(ByteReader& channel) {
  std::array<char, 4> header;
  if (auto ok = read_exact(channel, header); !ok) return std::unexpected(std::move(ok.error()));
  const std::uint32_t length = std::uint32_t(std::uint8_t(header[0])) | std::uint32_t(std::uint8_t(header[1])) << 8 |
                               std::uint32_t(std::uint8_t(header[2])) << 16 |
                               std::uint32_t(std::uint8_t(header[3])) << 24;
  if (length == 0 || length > MAX_FRAME_LEN) {
    return std::unexpected(HostError::fixed(ErrorKind::InvalidData, msg::invalid_frame_size));
  }
  auto body = std::make_unique_for_overwrite<char[]>(length);
  if (auto ok = read_exact(channel, std::span(body.get(), length)); !ok) {
    return std::unexpected(std::move(ok.error()));
  }
  auto value = json::parse_json(std::string_view(body.get(), length));
  if (!value) return std::unexpected(HostError::fixed(ErrorKind::InvalidData, msg::invalid_native_json));
  return std::move(*value);
}

HostResult<void> write_frame(ByteWriter& channel, const json::JsonValue& value) {
  const std::string body = json::to_json_bytes(value);
  if (body.empty() || body.size() > MAX_FRAME_LEN) {
    return std::unexpected(HostError::fixed(ErrorKind::InvalidData, msg::invalid_frame_size));
  }
  const auto length = static_cast<std::uint32_t>(body.size());
  const std::array<char, 4> header = {char(length & 0xFF), char((length >> 8) & 0xFF), char((length >> 16) & 0xFF),
                                      char((length >> 24) & 0xFF)};
  if (auto ok = write_all(channel, header); !ok) return ok;
  if (auto ok = write_all(channel, body); !ok) return ok;
  return channel.flush();
}

}  // namespace host
