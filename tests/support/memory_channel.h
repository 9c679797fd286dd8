// In-memory byte channels for tests: a reader that serves scripted chunks
// and errors, and a writer that records what it accepts and can be made to
// take little at a time or to fail.
#pragma once

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <variant>

#include "main/byte_channel.h"

namespace host::test {

// Serves the steps in order: bytes (at most `max_chunk` per read), or an
// error returned once. After the last step every read returns 0.
class ScriptedReader final : public ByteReader {
 public:
  using Step = std::variant<std::string, HostError>;

  explicit ScriptedReader(std::string bytes = {}, std::size_t max_chunk = SIZE_MAX) : max_chunk_(max_chunk) {
    if (!bytes.empty()) steps_.push_back(std::move(bytes));
  }
  ScriptedReader& then(Step step) {
    steps_.push_back(std::move(step));
    return *this;
  }

  HostResult<std::size_t> read(std::span<char> buffer) override {
    ++calls;
    if (buffer.empty()) return 0;
    if (steps_.empty()) return 0;
    if (auto* error = std::get_if<HostError>(&steps_.front())) {
      HostError e = *error;
      steps_.pop_front();
      return std::unexpected(std::move(e));
    }
    auto& bytes = std::get<std::string>(steps_.front());
    const std::size_t n = std::min({buffer.size(), bytes.size(), max_chunk_});
    std::memcpy(buffer.data(), bytes.data(), n);
    bytes.erase(0, n);
    consumed += n;
    if (bytes.empty()) steps_.pop_front();
    return n;
  }

  std::size_t calls = 0;
  std::size_t consumed = 0;

 private:
  std::deque<Step> steps_;
  std::size_t max_chunk_;
};

// Records accepted bytes. Accepts at most `max_chunk` per call; after
// `accept_budget` bytes, every write returns `failure` (or 0 if none).
class RecordingWriter final : public ByteWriter {
 public:
  explicit RecordingWriter(std::size_t max_chunk = SIZE_MAX) : max_chunk_(max_chunk) {}

  HostResult<std::size_t> write(std::span<const char> bytes) override {
    ++calls;
    if (bytes.empty()) return 0;
    if (accept_budget == 0) {
      if (failure) return std::unexpected(*failure);
      return 0;
    }
    const std::size_t n = std::min({bytes.size(), max_chunk_, accept_budget});
    written.append(bytes.data(), n);
    accept_budget -= n;
    return n;
  }
  HostResult<void> flush() override {
    ++flushes;
    flushed_size = written.size();
    return {};
  }

  std::string written;
  std::size_t calls = 0;
  std::size_t flushes = 0;
  std::size_t flushed_size = 0;
  std::size_t accept_budget = SIZE_MAX;
  std::optional<HostError> failure;

 private:
  std::size_t max_chunk_;
};

// The 4-byte little-endian header followed by the body.
inline std::string frame_bytes(std::string_view body) {
  const auto n = static_cast<std::uint32_t>(body.size());
  std::string out{char(n & 0xFF), char((n >> 8) & 0xFF), char((n >> 16) & 0xFF), char((n >> 24) & 0xFF)};
  out.append(body);
  return out;
}

inline std::string header_bytes(std::uint32_t n) {
  return std::string{char(n & 0xFF), char((n >> 8) & 0xFF), char((n >> 16) & 0xFF), char((n >> 24) & 0xFF)};
}

}  // namespace host::test
