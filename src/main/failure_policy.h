// How the host ends when something goes badly wrong: never with a window.
// A host started by a browser has nobody to click a system dialog away, and
// it never writes to standard error.
#pragma once

#include <windows.h>

namespace host {

// What a process ended by abort() reports on Windows; a std::terminate and a
// pure virtual call end with it too, but silently.
inline constexpr UINT ABNORMAL_EXIT_CODE = 3;

// Process-wide, first thing in the entry point, before any other thread:
// - no critical-error, open-file or fault dialog, and no debugger started
//   for a fault: an unhandled exception ends the process at once with the
//   exception code as its exit code;
// - std::terminate (an exception that escaped, a joinable thread destroyed)
//   and a pure virtual call end the process at once with ABNORMAL_EXIT_CODE,
//   writing nothing;
// - where the C runtime has them, abort()'s message and fault report off.
void install_failure_policy() noexcept;

}  // namespace host
