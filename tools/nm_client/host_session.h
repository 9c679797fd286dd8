// One session with the host, as a browser holds it: start the host with the
// approved origin, send it the input's lines as frames, print every frame
// that comes back, and end when the host ends.
#pragma once

#include <chrono>
#include <string>

#include "main/byte_channel.h"

namespace nm_client {

// Ends the process with nm-client's exit code (see session_outcome.h); does
// not return. The host's end is what ends the session, also while the input
// (a terminal, say) has more to give.
// After the input's last line the host's input stays open until the host has
// sent nothing for linger; closing it ends the relay, and answers still on
// their way would be lost.
[[noreturn]] void run_session(const std::wstring& host_path, host::ByteReader& input,
                              std::chrono::milliseconds linger);

}  // namespace nm_client
