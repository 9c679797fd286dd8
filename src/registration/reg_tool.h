// Running the system's registry console tool, the only way the host changes
// the registry.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "main/host_error.h"
#include "windows/command_line.h"

namespace host::win {

// The full path of reg.exe in the system directory. The tool is named by its
// bare file name but looked up there alone, so that no reg.exe beside the
// host or in the current directory is started in its place.
HostResult<std::u16string> reg_tool_path();

// Starts `program` with `arguments` (UTF-8, each arriving as one argument),
// standard input on the null device, standard output and standard error on
// pipes that are read to their end, concurrently, and discarded; no window.
// The child inherits those three handles and none other of the host's; it
// shares the host's environment, current directory and console.
// Waits for the end without a limit. Exit code 0 is success, any other is an
// Other error with `failure_message`; failing to start, read or wait is the
// OS error.
HostResult<void> run_tool(std::u16string_view program, std::span<const std::string> arguments,
                          std::string_view failure_message);

// run_tool for reg.exe.
HostResult<void> run_reg_tool(std::span<const std::string> arguments, std::string_view failure_message);

}  // namespace host::win
