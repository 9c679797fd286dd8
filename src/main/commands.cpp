#include "main/commands.h"

#include "app_link/app_data_dir.h"
#include "app_link/app_messages.h"
#include "main/host_mode.h"
#include "main/relay.h"
#include "windows/pipe_connection.h"
#include "windows/standard_streams.h"

namespace host {

HostResult<void> run_relay(std::string_view origin) {
  auto endpoint = load_runtime_endpoint();
  if (!endpoint) return std::unexpected(std::move(endpoint.error()));
  auto connection = win::PipeConnection::open(endpoint->endpoint);
  if (!connection) return std::unexpected(std::move(connection.error()));
  // The handshake is the first frame: the worker, the only other writer,
  // starts after it. No answer is awaited.
  if (auto sent = send_transport_auth(**connection, endpoint->nonce, origin); !sent) return sent;

  auto& out = win::standard_output();
  std::lock_guard lock(out.lock);
  return relay_messages(std::move(*connection), win::open_standard_input(), out.writer);
}

HostResult<void> prepare_update() {
  auto endpoint = load_runtime_endpoint();
  if (!endpoint) return std::unexpected(std::move(endpoint.error()));
  auto connection = win::PipeConnection::open(endpoint->endpoint);
  if (!connection) return std::unexpected(std::move(connection.error()));
  // Both frames handed to the pipe is success; nothing is read back. The
  // connection is closed, not shut down, when it goes out of scope.
  if (auto sent = send_transport_auth(**connection, endpoint->nonce, approved_origin()); !sent) return sent;
  return send_prepare_update(**connection);
}

}  // namespace host
