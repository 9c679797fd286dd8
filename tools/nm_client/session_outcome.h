// How a session with the host ended, the line nm-client prints about it, and
// nm-client's own exit code. Platform-neutral.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace nm_client {

// nm-client's exit codes.
enum class ExitCode : int {
  Ended = 0,         // every line sent; the host ended with 0 once nm-client closed its input
  ErrorReply = 1,    // the host sent its fixed error reply and ended with 1: it could not set the relay up
  Usage = 2,         // the command line was not understood
  NotStarted = 3,    // the host could not be started, or the messages file could not be opened
  EndedEarly = 4,    // the host ended with 0 on its own, before nm-client closed its input
  LinesRefused = 5,  // as Ended, but some lines were refused and not sent
  Unexpected = 6,    // the host broke its own rules, or did not end after its input was closed
};

struct SessionOutcome {
  // The host's exit code; nothing when nm-client had to end the host: its
  // output was not frames, or it did not end after its input was closed.
  std::optional<std::uint32_t> host_exit;
  bool input_closed_first = false;  // nm-client closed the host's input before the host ended
  bool last_frame_is_error_reply = false;
  std::size_t frames = 0;         // whole frames received from the host
  std::string malformed_output;   // why the host's output was not a sequence of frames; empty if it was
  std::size_t stderr_bytes = 0;   // the host never writes to its standard error
  std::size_t lines_refused = 0;
};

ExitCode exit_code(const SessionOutcome& outcome);

// The closing lines, for standard error: what ended the session, in words,
// then "host ended, exit code N".
std::string describe_end(const SessionOutcome& outcome);

}  // namespace nm_client
