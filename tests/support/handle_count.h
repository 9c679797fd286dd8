// Counting the handles this process holds, to show that nothing leaks.
// GetProcessHandleCount always says 0 under Wine, so the count comes from
// the system-wide handle table, filtered by this process's id.
#pragma once

#include <cstddef>
#include <optional>

namespace host::test {

// The number of handles open in this process, or nothing when the system
// would not list them.
std::optional<std::size_t> process_handle_count();

}  // namespace host::test
