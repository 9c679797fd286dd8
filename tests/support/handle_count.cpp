#include "support/handle_count.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace host::test {
namespace {

// SystemExtendedHandleInformation: every handle of every process, each
// entry naming the process that holds it.
constexpr ULONG extended_handle_information = 64;
constexpr LONG status_info_length_mismatch = static_cast<LONG>(0xC0000004);

struct HandleEntry {
  void* object;
  ULONG_PTR process_id;
  ULONG_PTR handle_value;
  ULONG granted_access;
  USHORT creator_back_trace_index;
  USHORT object_type_index;
  ULONG handle_attributes;
  ULONG reserved;
};

struct HandleTable {
  ULONG_PTR count;
  ULONG_PTR reserved;
  HandleEntry entries[1];
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);

}  // namespace

std::optional<std::size_t> process_handle_count() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return std::nullopt;
  const auto query = reinterpret_cast<QuerySystemInformation>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQuerySystemInformation")));
  if (query == nullptr) return std::nullopt;

  std::vector<std::uint64_t> buffer(64 * 1024);  // 8-byte aligned storage
  for (int attempt = 0; attempt < 16; ++attempt) {
    ULONG needed = 0;
    const ULONG size = static_cast<ULONG>(buffer.size() * sizeof(buffer[0]));
    const LONG status = query(extended_handle_information, buffer.data(), size, &needed);
    if (status == status_info_length_mismatch) {
      // The table may grow between calls: ask for room to spare.
      buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed / sizeof(buffer[0]) * 2));
      continue;
    }
    if (status < 0) return std::nullopt;
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const ULONG_PTR self = ::GetCurrentProcessId();
    std::size_t mine = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) {
      if (table->entries[i].process_id == self) ++mine;
    }
    return mine;
  }
  return std::nullopt;
}

}  // namespace host::test
