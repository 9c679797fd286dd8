#include "main/relay.h"

#include <system_error>
#include <thread>

#include "main/framing.h"

namespace host {

void pump_browser_to_app(std::shared_ptr<Connection> connection, std::shared_ptr<ByteReader> browser_input) {
  for (;;) {
    auto message = read_frame(*browser_input);
    if (!message) break;  // end of input, a bad frame or a read error
    if (!write_frame(*connection, *message)) break;
  }
  connection->shutdown();
}

HostResult<void> pump_app_to_browser(Connection& connection, ByteWriter& browser_output) {
  for (;;) {
    auto message = read_frame(connection);
    if (!message) {
      // The application closed its end, sent a bad frame, or the worker's
      // shutdown cancelled the read: the relay is over.
      connection.shutdown();
      return {};
    }
    if (auto written = write_frame(browser_output, *message); !written) return written;
  }
}

HostResult<void> relay_messages(std::shared_ptr<Connection> connection, std::shared_ptr<ByteReader> browser_input,
                                ByteWriter& browser_output) {
  try {
    std::thread(pump_browser_to_app, connection, std::move(browser_input)).detach();
  } catch (const std::system_error& e) {
    // Without the worker nothing would ever reach the application: end the
    // connection and report a failure of setting the relay up.
    connection->shutdown();
    return std::unexpected(HostError::described(std::string("relay worker could not start: ") + e.what()));
  }
  return pump_app_to_browser(*connection, browser_output);
}

}  // namespace host
