// The relay: browser frames to the desktop application on a worker thread,
// application frames to the browser on the calling thread, one message in
// transit per direction and no queue, until either side stops.
#pragma once

#include <memory>

#include "main/byte_channel.h"

namespace host {

// Runs the relay on an authenticated connection. The worker thread is never
// joined: it owns its references (connection and browser input) and may
// outlive this call, blocked reading the browser, until the process ends.
// Returns normally when reading from the application failed, whatever the
// cause (the worker's shutdown included), and the write's error when writing
// to the browser failed. The caller holds the browser output exclusively for
// the duration.
HostResult<void> relay_messages(std::shared_ptr<Connection> connection, std::shared_ptr<ByteReader> browser_input,
                                ByteWriter& browser_output);

// The worker's body: frames from the browser to the application until a read
// or a write fails, then shutdown, which ends the other direction.
void pump_browser_to_app(std::shared_ptr<Connection> connection, std::shared_ptr<ByteReader> browser_input);

// The main loop: frames from the application to the browser until a read
// fails (then shutdown and a normal end) or a write fails (its error).
HostResult<void> pump_app_to_browser(Connection& connection, ByteWriter& browser_output);

}  // namespace host
