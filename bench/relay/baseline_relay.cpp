// baseline-relay.exe <pipe path> <nonce>: the least a relay can do, for the
// benchmark to measure the host against. It opens the pipe, writes the
// handshake, then copies frames as bytes: standard input to the pipe on a
// worker thread, the pipe to standard output on the main thread. Header and
// body are read as two transfers and written as one, from one buffer.
// It ends when either side ends.
#include <windows.h>

#include <memory>
#include <thread>

#include "baseline_io.h"

namespace {

// Frames with the given read and write; returns when one fails.
template <class Read, class Write>
void copy_frames(Read read, Write write) {
  const auto frame = std::make_unique_for_overwrite<char[]>(4 + baseline::max_body);
  for (;;) {
    if (!read(frame.get(), 4)) return;
    const std::uint32_t length = baseline::frame_length(frame.get());
    if (length > baseline::max_body) return;  // would not fit the buffer
    if (!read(frame.get() + 4, length)) return;
    if (!write(frame.get(), 4 + length)) return;
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const host::win::UniqueHandle pipe = baseline::open_pipe(argv[1]);
  if (!pipe) return 1;
  const std::string handshake = baseline::handshake_frame(baseline::ascii(argv[2]));
  baseline::PipeSide main_side(pipe.get());
  if (!main_side.write_all(handshake.data(), handshake.size())) return 1;

  const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE), out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE raw_pipe = pipe.get();
  std::thread([in, raw_pipe] {
    baseline::PipeSide side(raw_pipe);
    copy_frames([in](char* p, std::size_t n) { return baseline::read_exact(in, p, n); },
                [&side](const char* p, std::size_t n) { return side.write_all(p, n); });
    ::CancelIoEx(raw_pipe, nullptr);  // ends the main thread's pending read
  }).detach();
  copy_frames([&main_side](char* p, std::size_t n) { return main_side.read_exact(p, n); },
              [out](const char* p, std::size_t n) { return baseline::write_all(out, p, n); });
  ::ExitProcess(0);
}
