#include "windows/standard_streams.h"

#include <algorithm>
#include <limits>

namespace host::win {
namespace {

// Enough for many small frames per system call; large bodies bypass it.
constexpr std::size_t stream_buffer_size = 64 * 1024;

DWORD clamp_length(std::size_t n) {
  return static_cast<DWORD>(std::min<std::size_t>(n, std::numeric_limits<DWORD>::max()));
}

bool missing(HANDLE handle) { return handle == nullptr || handle == INVALID_HANDLE_VALUE; }

// Owns the raw channel and the buffer on top of it.
class BufferedStandardInput final : public ByteReader {
 public:
  explicit BufferedStandardInput(HANDLE handle) : raw_(handle), buffered_(raw_, stream_buffer_size) {}
  HostResult<std::size_t> read(std::span<char> buffer) override { return buffered_.read(buffer); }

 private:
  StandardInputChannel raw_;
  BufferedReader buffered_;
};

}  // namespace

HostResult<std::size_t> StandardInputChannel::read(std::span<char> buffer) {
  if (buffer.empty() || missing(handle_)) return 0;
  DWORD got = 0;
  if (!read_file_(handle_, buffer.data(), clamp_length(buffer.size()), &got, nullptr)) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_BROKEN_PIPE) return 0;
    return std::unexpected(HostError::os(code));
  }
  return got;
}

HostResult<std::size_t> StandardOutputChannel::write(std::span<const char> bytes) {
  if (bytes.empty()) return 0;
  if (missing(handle_)) return std::unexpected(HostError::os(ERROR_INVALID_HANDLE));
  DWORD wrote = 0;
  if (!::WriteFile(handle_, bytes.data(), clamp_length(bytes.size()), &wrote, nullptr)) {
    return std::unexpected(HostError::os(::GetLastError()));
  }
  return wrote;
}

std::shared_ptr<ByteReader> open_standard_input() {
  return std::make_shared<BufferedStandardInput>(::GetStdHandle(STD_INPUT_HANDLE));
}

StandardOutput& standard_output() {
  // Never destroyed: the process may end while the relay still holds it.
  static auto* raw = new StandardOutputChannel(::GetStdHandle(STD_OUTPUT_HANDLE));
  static auto* buffered = new BufferedWriter(*raw, stream_buffer_size);
  static auto* output = new StandardOutput{{}, *buffered};
  return *output;
}

}  // namespace host::win
