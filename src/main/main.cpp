// Process entry: one mode from the first argument, one command, one exit
// code. Nothing is ever written to standard error; the maintenance modes
// write nothing at all, and every failure of relay mode is answered with the
// one fixed error reply.
#include <windows.h>

#include <optional>
#include <string>

#include "main/commands.h"
#include "main/failure_policy.h"
#include "main/framing.h"
#include "main/host_mode.h"
#include "main/wide_text.h"
#include "registration/registration_command.h"
#include "windows/standard_streams.h"

namespace {

// Ends the process at once, without waiting for the relay's worker, which may
// still be blocked reading standard input.
[[noreturn]] void end_process(UINT code) { ::ExitProcess(code); }

[[noreturn]] void end_command(const host::HostResult<void>& result) { end_process(result ? 0 : 1); }

[[noreturn]] void write_error_reply() {
  auto& out = host::win::standard_output();
  {
    std::lock_guard lock(out.lock);
    (void)host::write_frame(out.writer, host::error_reply());
  }
  end_process(1);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // A host started by a browser has nobody to click a system dialog away.
  host::install_failure_policy();

  std::optional<std::string> first;
  if (argc > 1) first = host::from_wide(reinterpret_cast<const char16_t*>(argv[1]));

  switch (host::select_mode(first)) {
    case host::HostMode::RepairRegistration:
      end_command(host::registration_command(false));
    case host::HostMode::RemoveRegistration:
      end_command(host::registration_command(true));
    case host::HostMode::PrepareUpdate:
      end_command(host::prepare_update());
    case host::HostMode::Relay:
      break;
  }
  if (!host::check_caller_origin(first) || !host::run_relay(*first)) write_error_reply();
  end_process(0);
}
