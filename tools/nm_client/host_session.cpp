#include "nm_client/host_session.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <thread>

#include "common/child_process.h"
#include "json/json.h"
#include "main/framing.h"
#include "main/host_mode.h"
#include "main/wide_text.h"
#include "nm_client/console.h"
#include "nm_client/host_output.h"
#include "nm_client/input_lines.h"
#include "nm_client/session_outcome.h"

namespace nm_client {
namespace {

using host::tools::ChildOptions;
using host::tools::ChildProcess;

// After nm-client closes its input the host ends at once; this bound only
// keeps a broken host from holding the terminal.
constexpr auto end_limit = std::chrono::seconds(30);

// What the two threads tell each other.
struct Progress {
  std::atomic<bool> input_closed{false};
  std::atomic<bool> ended_by_client{false};
  std::atomic<std::size_t> lines_refused{0};
  // Frames printed so far, for the feeding thread's quiet-time wait.
  std::mutex mutex;
  std::condition_variable frame_arrived;
  std::size_t frames = 0;

  void count_frame() {
    std::lock_guard lock(mutex);
    ++frames;
    frame_arrived.notify_all();
  }
  // Returns once no frame has arrived for the whole of quiet.
  void wait_for_quiet(std::chrono::milliseconds quiet) {
    std::unique_lock lock(mutex);
    for (;;) {
      const std::size_t seen = frames;
      if (!frame_arrived.wait_for(lock, quiet, [&] { return frames != seen; })) return;
    }
  }
};

std::string utf8(const std::wstring& text) {
  return host::from_wide(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

std::wstring wide(const std::string& text) {
  const std::u16string w = host::to_wide(text);
  return std::wstring(w.begin(), w.end());
}

std::string frame_of(std::string_view body) {
  const auto n = static_cast<std::uint32_t>(body.size());
  std::string bytes{char(n & 0xFF), char((n >> 8) & 0xFF), char((n >> 16) & 0xFF), char((n >> 24) & 0xFF)};
  bytes.append(body);
  return bytes;
}

std::string describe(const host::HostError& error) {
  if (error.os_code()) return "system error " + std::to_string(*error.os_code());
  return error.message();
}

// The printing thread: every frame from the host as one JSON line until its
// output ends, then the closing lines, then the end of the process.
[[noreturn]] void print_host_output(ChildProcess& child, Progress& progress) {
  HostOutput output(child);
  SessionOutcome outcome;
  const host::json::JsonValue error_reply = host::error_reply();
  for (;;) {
    const std::size_t start = output.consumed();
    auto frame = host::read_frame(output);
    if (!frame) {
      const bool ended_between_frames =
          frame.error().kind() == host::ErrorKind::UnexpectedEof && output.consumed() == start;
      if (!ended_between_frames) {
        outcome.malformed_output =
            describe(frame.error()) + " after " + std::to_string(outcome.frames) + " whole frame(s)";
        progress.ended_by_client = true;
        child.kill();  // there is no finding the next frame again
      }
      break;
    }
    print_frame_line(host::json::to_json_bytes(*frame));
    ++outcome.frames;
    progress.count_frame();
    outcome.last_frame_is_error_reply = *frame == error_reply;
  }
  // The output ends when the host does.
  const auto code = child.wait(end_limit);
  if (!code) child.kill();
  if (code && !progress.ended_by_client) outcome.host_exit = *code;
  outcome.input_closed_first = progress.input_closed;
  outcome.lines_refused = progress.lines_refused;
  child.err().wait_for_end(std::chrono::seconds(5));
  outcome.stderr_bytes = child.err().contents().size();
  print_notes(describe_end(outcome));
  ::ExitProcess(static_cast<UINT>(exit_code(outcome)));
}

// The feeding side, on the calling thread: each line judged, then sent as
// one frame. False when the host stopped taking its input.
bool feed(ChildProcess& child, host::ByteReader& input, Progress& progress) {
  LineReader lines(input, host::MAX_FRAME_LEN);
  while (auto line = lines.next()) {
    const LineVerdict verdict = judge_line(*line);
    if (verdict.kind == LineVerdict::Kind::Blank) continue;
    if (verdict.kind == LineVerdict::Kind::Refused) {
      ++progress.lines_refused;
      print_note("line " + std::to_string(line->number) + " not sent: " + verdict.reason);
      continue;
    }
    if (!child.write_stdin(frame_of(line->text))) return false;
  }
  if (lines.error()) print_note("reading the messages stopped: " + describe(*lines.error()));
  return true;
}

}  // namespace

void run_session(const std::wstring& host_path, host::ByteReader& input, std::chrono::milliseconds linger) {
  ChildOptions options;
  options.program = host_path;
  options.arguments = {wide(host::approved_origin())};
  options.collect_stdout = false;
  ChildProcess child(options);
  if (!child.started()) {
    print_note("cannot start " + utf8(host_path) + ": system error " + std::to_string(child.start_error()));
    ::ExitProcess(static_cast<UINT>(ExitCode::NotStarted));
  }
  print_note("started " + utf8(host_path) + " " + host::approved_origin());

  Progress progress;
  std::thread printer([&] { print_host_output(child, progress); });
  if (feed(child, input, progress)) {
    progress.wait_for_quiet(linger);
    progress.input_closed = true;
    child.close_stdin();
    if (!child.wait(end_limit)) {
      progress.ended_by_client = true;
      child.kill();
    }
  }
  // The printer ends the process once the host's output has ended.
  printer.join();
  ::ExitProcess(static_cast<UINT>(ExitCode::Unexpected));
}

}  // namespace nm_client
