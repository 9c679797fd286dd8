#include "nm_client/console.h"

#include <windows.h>

#include <mutex>
#include <string>

namespace nm_client {
namespace {

std::mutex& console_lock() {
  static std::mutex lock;
  return lock;
}

void write_all(DWORD which, std::string_view bytes) {
  const HANDLE handle = ::GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  std::lock_guard lock(console_lock());
  while (!bytes.empty()) {
    DWORD wrote = 0;
    if (!::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) || wrote == 0) return;
    bytes.remove_prefix(wrote);
  }
}

}  // namespace

void print_frame_line(std::string_view json) {
  std::string line(json);
  line.push_back('\n');
  write_all(STD_OUTPUT_HANDLE, line);
}

void print_note(std::string_view text) {
  std::string line = "nm-client: ";
  line.append(text);
  line.push_back('\n');
  write_all(STD_ERROR_HANDLE, line);
}

void print_notes(std::string_view text) { write_all(STD_ERROR_HANDLE, text); }

}  // namespace nm_client
