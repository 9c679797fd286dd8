// Locating the per-user app data directory and reading files in it.
#pragma once

#include <string>
#include <string_view>

#include "app_link/runtime_endpoint.h"
#include "main/host_error.h"

namespace host {

// %APPDATA% joined with APP_DATA_FOLDER; "No user app data" when APPDATA is
// not set. An empty APPDATA gives the relative folder name. The directory is
// neither created nor checked here.
HostResult<std::string> app_data_dir();

// All bytes of the file. Opened with every share mode, so that the
// application may hold, rewrite or delete the file meanwhile. No size limit.
HostResult<std::string> read_whole_file(std::string_view path);

// app_data_dir, the runtime endpoint file in it, read whole and decoded;
// the first failure is the result.
HostResult<RuntimeEndpoint> load_runtime_endpoint();

}  // namespace host
