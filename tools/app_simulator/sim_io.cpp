#include "sim_io.h"

#include <bcrypt.h>

#include <mutex>
#include <vector>

#include "windows/unique_handle.h"

namespace sim {
namespace {

std::mutex& log_lock() {
  static std::mutex lock;
  return lock;
}

void write_handle(HANDLE handle, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD wrote = 0;
    if (!::WriteFile(handle, bytes.data(), DWORD(bytes.size()), &wrote, nullptr) || wrote == 0) return;
    bytes.remove_prefix(wrote);
  }
}

// Starts one transfer with its own event and OVERLAPPED and waits for it.
template <class Start>
Transfer transfer(HANDLE pipe, Start start) {
  const host::win::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) return {0, ::GetLastError()};
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  DWORD count = 0;
  if (start(&count, &overlapped)) return {count, 0};
  const DWORD code = ::GetLastError();
  if (code != ERROR_IO_PENDING) return {0, code};
  if (!::GetOverlappedResult(pipe, &overlapped, &count, TRUE)) return {0, ::GetLastError()};
  return {count, 0};
}

}  // namespace

void log_line(std::string_view line) {
  std::string text(line);
  text.push_back('\n');
  std::lock_guard lock(log_lock());
  write_handle(::GetStdHandle(STD_OUTPUT_HANDLE), text);
}

void complain(std::string_view line) {
  std::string text(line);
  text.push_back('\n');
  write_handle(::GetStdHandle(STD_ERROR_HANDLE), text);
}

Transfer read_some(HANDLE pipe, char* buffer, DWORD size) {
  return transfer(
      pipe, [&](DWORD* count, OVERLAPPED* overlapped) { return ::ReadFile(pipe, buffer, size, count, overlapped); });
}

DWORD write_all(HANDLE pipe, std::string_view bytes) {
  while (!bytes.empty()) {
    const Transfer done = transfer(pipe, [&](DWORD* count, OVERLAPPED* overlapped) {
      return ::WriteFile(pipe, bytes.data(), DWORD(bytes.size()), count, overlapped);
    });
    if (done.error != 0) return done.error;
    if (done.count == 0) return ERROR_NO_DATA;
    bytes.remove_prefix(done.count);
  }
  return 0;
}

DWORD accept_client(HANDLE pipe) {
  const Transfer done = transfer(pipe, [&](DWORD*, OVERLAPPED* overlapped) {
    if (::ConnectNamedPipe(pipe, overlapped)) return TRUE;
    // The client was quicker than this call: it is connected already.
    if (::GetLastError() == ERROR_PIPE_CONNECTED) return TRUE;
    return FALSE;
  });
  return done.error;
}

std::string random_hex(std::size_t n) {
  std::vector<unsigned char> bytes(n);
  if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, bytes.data(), ULONG(n), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return {};
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

}  // namespace sim
