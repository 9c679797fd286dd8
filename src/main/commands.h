// The relay and prepare-update commands that entry dispatches to (the
// registration commands live with the registration). Each returns success
// or the first error; none prints anything.
#pragma once

#include <string_view>

#include "main/host_error.h"

namespace host {

// Relay mode, for an approved origin: find the application, connect,
// authenticate, then carry messages both ways. Returns normally when the
// relay ended because reading from the application failed; every error
// calls for the error reply.
HostResult<void> run_relay(std::string_view origin);

// --prepare-update: ask a running application to prepare for an update.
HostResult<void> prepare_update();

}  // namespace host
