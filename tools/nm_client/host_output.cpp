#include "nm_client/host_output.h"

#include <algorithm>
#include <cstring>

namespace nm_client {

host::HostResult<std::size_t> HostOutput::read(std::span<char> buffer) {
  if (buffer.empty()) return 0;
  if (at_ == pending_.size()) {
    pending_ = child_.read_stdout_some();  // empty at the end of the pipe or on a failed read
    at_ = 0;
    if (pending_.empty()) return 0;
  }
  const std::size_t n = std::min(buffer.size(), pending_.size() - at_);
  std::memcpy(buffer.data(), pending_.data() + at_, n);
  at_ += n;
  consumed_ += n;
  return n;
}

}  // namespace nm_client
