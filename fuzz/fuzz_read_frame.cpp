// read_frame over an in-memory channel, frame after frame until the first
// failure, against a model of the framing rules computed from the raw
// stream. The input's first bytes (up to the first 0xFF, at most 16) are a
// script of what each read returns: a short count, an Interrupted error
// (retried by the loop) or a hard error (returned unchanged); the rest is
// the stream. Every value read is also written back with write_frame
// through a writer that takes a few bytes at a time, and read again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "main/framing.h"
#include "support/memory_channel.h"

namespace {

using host::ErrorKind;
using host::HostError;
using host::HostResult;
using host::fuzz::check;

constexpr std::uint32_t kHardErrorCode = 109;  // what a broken pipe reports

// Serves the stream in the chunk sizes the script asks for, cycling
// through it; a script step of 0 is an Interrupted error, 1 the hard
// error, any other value n a read of at most n - 1 bytes.
class ScriptedChunks final : public host::ByteReader {
 public:
  ScriptedChunks(std::string_view stream, std::vector<std::uint8_t> script)
      : stream_(stream), script_(std::move(script)) {}

  HostResult<std::size_t> read(std::span<char> buffer) override {
    check(!buffer.empty(), "read_exact asked for 0 bytes");
    std::size_t limit = buffer.size();
    if (!script_.empty()) {
      const std::uint8_t step = script_[step_++ % script_.size()];
      // At most two interruptions in a row, so that a script of zeros
      // cannot keep the loop retrying for ever.
      if (step == 0 && interrupted_in_a_row_ < 2) {
        ++interrupted_in_a_row_;
        return std::unexpected(HostError::fixed(ErrorKind::Interrupted, "interrupted"));
      }
      interrupted_in_a_row_ = 0;
      if (step == 1 && hard_errors_left_ > 0) {
        --hard_errors_left_;
        return std::unexpected(HostError::os(kHardErrorCode));
      }
      limit = step <= 1 ? 1 : std::size_t{step} - 1u;
    }
    const std::size_t n = std::min({limit, buffer.size(), stream_.size() - position_});
    std::memcpy(buffer.data(), stream_.data() + position_, n);
    position_ += n;
    return n;
  }

  std::size_t position() const { return position_; }
  bool hard_error_served() const { return hard_errors_left_ == 0; }

 private:
  std::string_view stream_;
  std::vector<std::uint8_t> script_;
  std::size_t step_ = 0;
  std::size_t position_ = 0;
  int hard_errors_left_ = 1;
  int interrupted_in_a_row_ = 0;
};

std::uint32_t little_endian(std::string_view four) {
  std::uint32_t n = 0;
  for (int i = 3; i >= 0; --i) n = n << 8 | static_cast<std::uint8_t>(four[i]);
  return n;
}

void check_write_round_trip(const host::json::JsonValue& value, std::size_t chunk) {
  host::test::RecordingWriter writer(chunk);
  const auto wrote = host::write_frame(writer, value);
  const std::string compact = host::json::to_json_bytes(value);
  if (compact.size() > host::MAX_FRAME_LEN) {
    check(!wrote && wrote.error().is(ErrorKind::InvalidData, host::msg::invalid_frame_size),
          "an oversized value was not refused");
    check(writer.written.empty(), "an oversized value reached the channel");
    return;
  }
  check(wrote.has_value(), "write_frame failed on a writer that takes everything");
  check(writer.written == host::test::frame_bytes(compact), "write_frame wrote other bytes than header and body");
  check(writer.flushes == 1 && writer.flushed_size == writer.written.size(), "write_frame did not flush at the end");
  host::test::ScriptedReader reader(writer.written, chunk);
  const auto again = host::read_frame(reader);
  check(again.has_value() && *again == value, "a written frame does not read back to the same value");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> script;
  std::size_t i = 0;
  while (i < size && i < 16 && data[i] != 0xFF) script.push_back(data[i++]);
  if (i < size && data[i] == 0xFF) ++i;
  const std::string_view stream = host::fuzz::as_text(data + i, size - i);

  ScriptedChunks channel(stream, script);
  std::size_t frame_start = 0;  // where the model expects the next header
  for (int frames = 0; frames < 64; ++frames) {
    const bool hard_error_before = channel.hard_error_served();
    const auto result = host::read_frame(channel);
    const std::string_view rest = stream.substr(frame_start);

    if (!hard_error_before && channel.hard_error_served()) {
      // The channel's own error comes back unchanged, wherever it struck.
      check(!result && result.error().is_os(kHardErrorCode) && result.error().kind() == ErrorKind::Other,
            "the channel's error was not returned unchanged");
      break;
    }
    if (rest.size() < 4) {
      check(!result && result.error().is(ErrorKind::UnexpectedEof, host::msg::fill_whole_buffer),
            "a short header was not UnexpectedEof");
      break;
    }
    const std::uint32_t length = little_endian(rest.substr(0, 4));
    if (length == 0 || length > host::MAX_FRAME_LEN) {
      check(!result && result.error().is(ErrorKind::InvalidData, host::msg::invalid_frame_size),
            "an invalid length was not refused");
      check(channel.position() == frame_start + 4, "bytes after an invalid header were read");
      break;
    }
    if (rest.size() - 4 < length) {
      check(!result && result.error().is(ErrorKind::UnexpectedEof, host::msg::fill_whole_buffer),
            "a short body was not UnexpectedEof");
      break;
    }
    check(channel.position() == frame_start + 4 + length, "read_frame did not consume exactly one frame");
    const auto expected = host::json::parse_json(rest.substr(4, length));
    if (!expected) {
      check(!result && result.error().is(ErrorKind::InvalidData, host::msg::invalid_native_json),
            "a body that is not JSON was not refused as Invalid native JSON");
      break;
    }
    check(result.has_value(), "a valid frame was refused");
    check(*result == *expected, "the frame's value differs from its parsed body");
    check_write_round_trip(*result, script.empty() ? SIZE_MAX : std::max<std::size_t>(1, script[0]));
    frame_start += 4 + length;
  }
  return 0;
}
