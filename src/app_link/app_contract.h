// What the host relies on from the desktop application, in one place: the
// per-user folder it shares with the host and the names of the files it
// writes there.
//
// The application:
// - writes the runtime endpoint file (members "endpoint", the path of its
//   named pipe, and "nonce") whenever it accepts browser connections;
// - serves that pipe to clients opened for reading and writing, overlapped,
//   with no sharing; the host neither waits for a free instance nor retries;
// - reads the handshake as the first frame of every connection and judges
//   its nonce and origin itself; the host awaits no answer;
// - speaks native frames of at most MAX_FRAME_LEN bytes both ways while
//   relaying; closing its end ends the relay;
// - reads the maintenance request that follows the handshake in
//   prepare-update mode; the host then closes and reads nothing back;
// - writes the registration marker and the host manifest, which the
//   maintenance commands only ever repair or remove.
#pragma once

#include <string>
#include <string_view>

#include "main/path_join.h"

namespace host {

// The folder under %APPDATA% that holds the files below.
inline constexpr std::string_view APP_DATA_FOLDER = "com.velmorantix.lab";
inline constexpr std::string_view RUNTIME_ENDPOINT_FILE = "browser-context-runtime.json";
inline constexpr std::string_view REGISTRATION_MARKER_FILE = "browser-context-registration.json";

// The runtime endpoint file inside the app data directory.
inline std::string runtime_endpoint_path(std::string_view app_data_dir) {
  return join_path(app_data_dir, RUNTIME_ENDPOINT_FILE);
}

}  // namespace host
