// The byte channels that frames travel over: standard input and output, the
// desktop application's pipe, and in-memory stand-ins in tests.
#pragma once

#include <cstddef>
#include <span>

#include "main/host_error.h"

namespace host {

// A read of up to buffer.size() bytes: the count moved, 0 at the end of the
// stream, or an error. May return fewer bytes than asked.
class ByteReader {
 public:
  virtual ~ByteReader() = default;
  virtual HostResult<std::size_t> read(std::span<char> buffer) = 0;
};

// A write of up to bytes.size() bytes: the count accepted or an error.
// flush() hands whatever the channel buffers to the system; channels that
// buffer nothing (the pipe) have nothing to do.
class ByteWriter {
 public:
  virtual ~ByteWriter() = default;
  virtual HostResult<std::size_t> write(std::span<const char> bytes) = 0;
  virtual HostResult<void> flush() { return {}; }
};

// Both directions of one connection, and a shutdown that any thread may call
// at any time to end the transfers the other thread has outstanding.
class Connection : public ByteReader, public ByteWriter {
 public:
  virtual void shutdown() noexcept = 0;
};

}  // namespace host
