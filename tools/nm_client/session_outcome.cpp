#include "nm_client/session_outcome.h"

namespace nm_client {

ExitCode exit_code(const SessionOutcome& outcome) {
  if (!outcome.host_exit || !outcome.malformed_output.empty() || outcome.stderr_bytes > 0) {
    return ExitCode::Unexpected;
  }
  switch (*outcome.host_exit) {
    case 0:
      if (!outcome.input_closed_first) return ExitCode::EndedEarly;
      return outcome.lines_refused > 0 ? ExitCode::LinesRefused : ExitCode::Ended;
    case 1:
      // Exit code 1 always comes with the error reply as the last frame: the
      // host writes it on every failure of relay mode.
      return outcome.last_frame_is_error_reply ? ExitCode::ErrorReply : ExitCode::Unexpected;
    default:
      return ExitCode::Unexpected;
  }
}

std::string describe_end(const SessionOutcome& outcome) {
  std::string text;
  const auto say = [&text](const std::string& line) { text += "nm-client: " + line + "\n"; };
  if (!outcome.malformed_output.empty()) say("the host's output is not native frames: " + outcome.malformed_output);
  if (outcome.stderr_bytes > 0) {
    say("the host wrote " + std::to_string(outcome.stderr_bytes) + " bytes to its standard error");
  }
  if (!outcome.host_exit) {
    if (outcome.malformed_output.empty()) say("the host did not end after its input was closed");
    say("nm-client ended the host");
    return text;
  }
  switch (exit_code(outcome)) {
    case ExitCode::Ended:
    case ExitCode::LinesRefused:
      say("nm-client closed the host's input: the relay ended normally");
      break;
    case ExitCode::EndedEarly:
      say("the relay ended from the application's side: it closed the pipe or sent a frame the host refuses");
      break;
    case ExitCode::ErrorReply:
      say("the last frame is the host's fixed error reply: it could not set up the relay (no runtime file, "
          "application not running or not accepting) or could not write to nm-client");
      break;
    default:
      if (*outcome.host_exit == 1) say("exit code 1 without the error reply as the last frame");
      break;
  }
  if (outcome.lines_refused > 0) say(std::to_string(outcome.lines_refused) + " line(s) refused and not sent");
  say("host ended, exit code " + std::to_string(*outcome.host_exit));
  return text;
}

}  // namespace nm_client
