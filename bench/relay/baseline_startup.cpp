// baseline-startup.exe <pipe path> <nonce>: the least a host can do before
// the application hears from it, for the benchmark's start-up figure. It
// opens the pipe, writes the handshake as one frame, then waits for standard
// input to end, as the host does, so that the benchmark ends both alike.
#include <windows.h>

#include "baseline_io.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const host::win::UniqueHandle pipe = baseline::open_pipe(argv[1]);
  if (!pipe) return 1;
  const std::string handshake = baseline::handshake_frame(baseline::ascii(argv[2]));
  if (!baseline::PipeSide(pipe.get()).write_all(handshake.data(), handshake.size())) return 1;
  char rest[256];
  DWORD got = 0;
  while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), rest, sizeof rest, &got, nullptr) && got > 0) {
  }
  return 0;
}
