#include "main/buffered_channel.h"

#include <algorithm>
#include <cstring>

#include "main/framing.h"

namespace host {

BufferedReader::BufferedReader(ByteReader& inner, std::size_t capacity)
    : inner_(inner), buffer_(std::make_unique_for_overwrite<char[]>(capacity)), capacity_(capacity) {}

HostResult<std::size_t> BufferedReader::read(std::span<char> out) {
  if (out.empty()) return 0;
  if (begin_ == end_) {
    // Nothing buffered: a request at least as large as the buffer goes
    // straight to the channel, saving a copy of large bodies.
    if (out.size() >= capacity_) return inner_.read(out);
    auto got = inner_.read(std::span(buffer_.get(), capacity_));
    if (!got) return got;
    begin_ = 0;
    end_ = *got;
    if (end_ == 0) return 0;
  }
  const std::size_t n = std::min(out.size(), end_ - begin_);
  std::memcpy(out.data(), buffer_.get() + begin_, n);
  begin_ += n;
  return n;
}

BufferedWriter::BufferedWriter(ByteWriter& inner, std::size_t capacity)
    : inner_(inner), buffer_(std::make_unique_for_overwrite<char[]>(capacity)), capacity_(capacity) {}

HostResult<std::size_t> BufferedWriter::write(std::span<const char> bytes) {
  if (size_ + bytes.size() > capacity_) {
    if (auto drained = drain(); !drained) return std::unexpected(std::move(drained.error()));
  }
  if (bytes.size() >= capacity_) return inner_.write(bytes);
  std::memcpy(buffer_.get() + size_, bytes.data(), bytes.size());
  size_ += bytes.size();
  return bytes.size();
}

HostResult<void> BufferedWriter::drain() {
  // write_all's loop, moving what was written out of the buffer as it goes so
  // that a failure leaves exactly the unwritten bytes.
  while (size_ > 0) {
    auto wrote = inner_.write(std::span<const char>(buffer_.get(), size_));
    if (!wrote) {
      if (wrote.error().kind() == ErrorKind::Interrupted) continue;
      return std::unexpected(std::move(wrote.error()));
    }
    if (*wrote == 0) return std::unexpected(HostError::fixed(ErrorKind::WriteZero, msg::write_whole_buffer));
    std::memmove(buffer_.get(), buffer_.get() + *wrote, size_ - *wrote);
    size_ -= *wrote;
  }
  return {};
}

HostResult<void> BufferedWriter::flush() {
  if (auto drained = drain(); !drained) return drained;
  return inner_.flush();
}

}  // namespace host
