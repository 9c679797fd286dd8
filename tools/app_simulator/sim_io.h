// The simulator's I/O: its log on standard output, overlapped transfers on
// the server end of the pipe, and random names and nonces.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace sim {

// Writes one line (a newline is added) to standard output with WriteFile, at
// once and whole: the test that started the simulator reads it as it comes,
// and lines from two threads never interleave.
void log_line(std::string_view line);

// A message for the person running the simulator, on standard error.
void complain(std::string_view line);

// The end of one transfer: the bytes moved, or the system's error code.
struct Transfer {
  DWORD count = 0;
  DWORD error = 0;
};

// One overlapped read of up to size bytes, waited for without a limit: the
// client closing its end is what ends a wait that nothing else ends.
Transfer read_some(HANDLE pipe, char* buffer, DWORD size);

// Writes every byte; 0 or the error code of the write that failed.
DWORD write_all(HANDLE pipe, std::string_view bytes);

// Waits, without a limit, for a client on a listening instance; 0 or the
// error code.
DWORD accept_client(HANDLE pipe);

// Lower-case hex of n random bytes from the system's generator; empty if the
// generator fails.
std::string random_hex(std::size_t n);

}  // namespace sim
