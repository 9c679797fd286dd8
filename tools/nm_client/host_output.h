// The host's standard output as nm-client reads it: a byte channel over the
// child's output pipe, counting what it has handed on, so that the end of
// the output can be told apart from a frame cut short.
#pragma once

#include <string>

#include "common/child_process.h"
#include "main/byte_channel.h"

namespace nm_client {

class HostOutput final : public host::ByteReader {
 public:
  explicit HostOutput(host::tools::ChildProcess& child) : child_(child) {}
  // 0 once the host's end of the pipe is closed.
  host::HostResult<std::size_t> read(std::span<char> buffer) override;
  std::size_t consumed() const { return consumed_; }

 private:
  host::tools::ChildProcess& child_;
  std::string pending_;
  std::size_t at_ = 0;
  std::size_t consumed_ = 0;
};

}  // namespace nm_client
