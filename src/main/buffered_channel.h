// Buffering for standard input and output, where every system call is worth
// saving: a small frame's header and body go out in one write, and several
// small frames come in with one read. Large transfers bypass the buffer.
#pragma once

#include <memory>
#include <vector>

#include "main/byte_channel.h"

namespace host {

class BufferedReader final : public ByteReader {
 public:
  BufferedReader(ByteReader& inner, std::size_t capacity);
  HostResult<std::size_t> read(std::span<char> buffer) override;

 private:
  ByteReader& inner_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

class BufferedWriter final : public ByteWriter {
 public:
  BufferedWriter(ByteWriter& inner, std::size_t capacity);
  HostResult<std::size_t> write(std::span<const char> bytes) override;
  // Writes out the buffered bytes; the first failure is the result, and the
  // bytes not yet written stay buffered.
  HostResult<void> flush() override;

 private:
  HostResult<void> drain();

  ByteWriter& inner_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_;
  std::size_t size_ = 0;
};

}  // namespace host
