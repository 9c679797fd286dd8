// nm-client.exe: plays the browser for developers and support. It starts the
// host with the approved extension origin, sends each line of its input as
// one native message and prints every frame that comes back as one JSON line.
// Not shipped with the host.
#include <windows.h>

#include <variant>
#include <vector>

#include "common/child_process.h"
#include "main/wide_text.h"
#include "nm_client/client_options.h"
#include "nm_client/console.h"
#include "nm_client/host_session.h"
#include "nm_client/session_outcome.h"
#include "windows/standard_streams.h"
#include "windows/unique_handle.h"

namespace {

using nm_client::ExitCode;

int exit_with(ExitCode code) { return static_cast<int>(code); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::vector<std::wstring_view> arguments(argv + 1, argv + argc);
  const auto parsed = nm_client::parse_options(arguments);
  if (std::holds_alternative<nm_client::ShowUsage>(parsed)) {
    nm_client::print_notes(nm_client::usage);
    return exit_with(ExitCode::Ended);
  }
  if (const auto* problem = std::get_if<std::string>(&parsed)) {
    nm_client::print_note(*problem);
    nm_client::print_notes(nm_client::usage);
    return exit_with(ExitCode::Usage);
  }
  const auto& options = std::get<nm_client::ClientOptions>(parsed);
  const std::wstring host_path =
      options.host.value_or(host::tools::program_directory() + L"\\browser-context-host.exe");

  host::win::UniqueHandle file;
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (options.messages_file) {
    file.reset(::CreateFileW(options.messages_file->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      const DWORD code = ::GetLastError();
      const auto& name = *options.messages_file;
      nm_client::print_note(
          "cannot open " +
          host::from_wide(std::u16string_view(reinterpret_cast<const char16_t*>(name.data()), name.size())) +
          ": system error " + std::to_string(code));
      return exit_with(ExitCode::NotStarted);
    }
    input = file.get();
  }
  host::win::StandardInputChannel channel(input);
  nm_client::run_session(host_path, channel, std::chrono::milliseconds(options.linger_ms));
}
