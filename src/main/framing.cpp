#include "main/framing.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "json/per_thread.h"

namespace host {
namespace {

// The body buffers of one thread, kept between frames: a stream of large
// messages then neither allocates nor faults in fresh pages for every frame
// (blocks this large come straight from the system and go back to it when
// freed). The read buffer never grows past MAX_FRAME_LEN; the write buffer
// is kept only while it holds no more than a few frames' worth.
class ReadBuffer {
 public:
  char* get(std::size_t length) {
    if (length > capacity_) {
      data_.reset();
      capacity_ = std::min(MAX_FRAME_LEN, std::max(length, 2 * capacity_));
      data_ = std::make_unique_for_overwrite<char[]>(capacity_);
    }
    return data_.get();
  }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
};

struct FrameBuffers {
  ReadBuffer read;
  std::string write;
};

constexpr std::size_t kept_write_buffer = 4 * MAX_FRAME_LEN;

}  // namespace

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
  char* const body = per_thread<FrameBuffers>().read.get(length);
  if (auto ok = read_exact(channel, std::span(body, length)); !ok) {
    return std::unexpected(std::move(ok.error()));
  }
  auto value = json::parse_json(std::string_view(body, length));
  if (!value) return std::unexpected(HostError::fixed(ErrorKind::InvalidData, msg::invalid_native_json));
  return std::move(*value);
}

HostResult<void> write_frame(ByteWriter& channel, const json::JsonValue& value) {
  // The header's 4 bytes, then the compact text right behind them in the
  // same buffer; the two still go out as separate writes.
  std::string& frame = per_thread<FrameBuffers>().write;
  frame.assign(4, '\0');
  json::append_json_bytes(frame, value);
  const std::size_t length = frame.size() - 4;
  if (length == 0 || length > MAX_FRAME_LEN) {
    std::string().swap(frame);  // an oversized text is not worth keeping
    return std::unexpected(HostError::fixed(ErrorKind::InvalidData, msg::invalid_frame_size));
  }
  for (int i = 0; i < 4; ++i) frame[i] = char((length >> (8 * i)) & 0xFF);
  const std::span<const char> bytes(frame);
  auto written = write_all(channel, bytes.first(4));
  if (written) written = write_all(channel, bytes.subspan(4));
  if (frame.capacity() > kept_write_buffer) std::string().swap(frame);
  if (!written) return written;
  return channel.flush();
}

}  // namespace host
