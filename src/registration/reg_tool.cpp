#include "registration/reg_tool.h"

#include <windows.h>

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include "main/wide_text.h"
#include "windows/unique_handle.h"

namespace host::win {
namespace {

HostError last_os_error() { return HostError::os(::GetLastError()); }

// Reads one of the child's output pipes to its end and forgets the bytes.
// Owns the read end and closes it when done, also after a read error, so
// that a child still writing there fails instead of waiting for a reader.
struct PipeDrain {
  UniqueHandle pipe;
  DWORD error = ERROR_SUCCESS;

  void run() {
    char buffer[4096];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(pipe.get(), buffer, sizeof buffer, &got, nullptr)) {
        const DWORD code = ::GetLastError();
        // The writer closing shows as a broken pipe on Windows and as a
        // 0-byte read under Wine: both are the end.
        if (code != ERROR_BROKEN_PIPE) error = code;
        break;
      }
      if (got == 0) break;
    }
    pipe.reset();
  }

  static DWORD WINAPI thread_entry(void* self) {
    static_cast<PipeDrain*>(self)->run();
    return 0;
  }
};

// An anonymous pipe whose write end alone is inherited by the child.
struct ChildOutputPipe {
  UniqueHandle read_end;
  UniqueHandle write_end;
};

HostResult<ChildOutputPipe> child_output_pipe() {
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, nullptr, 0)) return std::unexpected(last_os_error());
  ChildOutputPipe pipe{UniqueHandle(read_end), UniqueHandle(write_end)};
  if (!::SetHandleInformation(pipe.write_end.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
    return std::unexpected(last_os_error());
  }
  return pipe;
}

// A process attribute list naming the only handles a child may inherit.
class InheritedHandleList {
 public:
  InheritedHandleList() = default;
  InheritedHandleList(InheritedHandleList&& other) noexcept
      : storage_(std::move(other.storage_)), initialized_(std::exchange(other.initialized_, false)) {}
  InheritedHandleList& operator=(InheritedHandleList&&) = delete;
  ~InheritedHandleList() {
    if (initialized_) ::DeleteProcThreadAttributeList(get());
  }

  LPPROC_THREAD_ATTRIBUTE_LIST get() { return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.get()); }

 private:
  friend HostResult<InheritedHandleList> inherit_only(std::span<HANDLE> handles);
  std::unique_ptr<std::max_align_t[]> storage_;
  bool initialized_ = false;
};

// The list refers to `handles`, which must outlive it.
HostResult<InheritedHandleList> inherit_only(std::span<HANDLE> handles) {
  SIZE_T size = 0;
  (void)::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  if (size == 0) return std::unexpected(last_os_error());
  InheritedHandleList list;
  list.storage_.reset(new (std::nothrow) std::max_align_t[size / sizeof(std::max_align_t) + 1]);
  if (!list.storage_) return std::unexpected(HostError::out_of_memory());
  if (!::InitializeProcThreadAttributeList(list.get(), 1, 0, &size)) return std::unexpected(last_os_error());
  list.initialized_ = true;
  if (!::UpdateProcThreadAttribute(list.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                   handles.size_bytes(), nullptr, nullptr)) {
    return std::unexpected(last_os_error());
  }
  return list;
}

}  // namespace

HostResult<std::u16string> reg_tool_path() {
  std::u16string directory(MAX_PATH, u'\0');
  for (;;) {
    const UINT n = ::GetSystemDirectoryW(reinterpret_cast<wchar_t*>(directory.data()),
                                         static_cast<UINT>(directory.size()));
    if (n == 0) return std::unexpected(last_os_error());
    if (n < directory.size()) {
      directory.resize(n);
      break;
    }
    directory.resize(n);  // n is the size needed, terminator included
  }
  return directory + u"\\reg.exe";
}

HostResult<void> run_tool(std::u16string_view program, std::span<const std::string> arguments,
                          std::string_view failure_message) {
  const std::u16string program_path(program);
  std::u16string command_line = quote_command_line_argument(program_path);
  for (const auto& argument : arguments) {
    command_line += u' ';
    command_line += quote_command_line_argument(to_wide(argument));
  }

  SECURITY_ATTRIBUTES inheritable{};
  inheritable.nLength = sizeof inheritable;
  inheritable.bInheritHandle = TRUE;
  UniqueHandle null_input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                        OPEN_EXISTING, 0, nullptr));
  if (!null_input) return std::unexpected(last_os_error());
  auto out = child_output_pipe();
  if (!out) return std::unexpected(std::move(out.error()));
  auto err = child_output_pipe();
  if (!err) return std::unexpected(std::move(err.error()));

  // Standard error is drained on a second thread while this one drains
  // standard output: a child that fills one pipe while the host waits on the
  // other would otherwise wait forever. The thread starts before the child,
  // so no child ever runs without both readers.
  PipeDrain err_drain{std::move(err->read_end)};
  UniqueHandle err_thread(::CreateThread(nullptr, 0, &PipeDrain::thread_entry, &err_drain, 0, nullptr));
  if (!err_thread) return std::unexpected(last_os_error());
  // Joins the drain thread on every path below; it ends once no write end
  // of its pipe is left open.
  struct Join {
    HANDLE thread;
    ~Join() { ::WaitForSingleObject(thread, INFINITE); }
  } join{err_thread.get()};

  // The child inherits these three handles and no other: not the host's
  // own standard handles, which would keep whoever reads them waiting for
  // as long as the child lives.
  HANDLE inherited[] = {null_input.get(), out->write_end.get(), err->write_end.get()};
  auto attributes = inherit_only(inherited);
  if (!attributes) return std::unexpected(std::move(attributes.error()));

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = null_input.get();
  startup.StartupInfo.hStdOutput = out->write_end.get();
  startup.StartupInfo.hStdError = err->write_end.get();
  startup.lpAttributeList = attributes->get();
  PROCESS_INFORMATION started{};
  const BOOL created = ::CreateProcessW(wide(program_path), reinterpret_cast<wchar_t*>(command_line.data()), nullptr,
                                        nullptr, TRUE, CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                                        nullptr, &startup.StartupInfo, &started);
  const DWORD create_error = created ? ERROR_SUCCESS : ::GetLastError();
  // The child holds its own copies now; ours close so that the pipes end
  // when the child does.
  null_input.reset();
  out->write_end.reset();
  err->write_end.reset();
  if (!created) return std::unexpected(HostError::os(create_error));
  const UniqueHandle process(started.hProcess);
  const UniqueHandle primary_thread(started.hThread);

  PipeDrain out_drain{std::move(out->read_end)};
  out_drain.run();
  ::WaitForSingleObject(err_thread.get(), INFINITE);
  if (out_drain.error != ERROR_SUCCESS) return std::unexpected(HostError::os(out_drain.error));
  if (err_drain.error != ERROR_SUCCESS) return std::unexpected(HostError::os(err_drain.error));

  if (::WaitForSingleObject(process.get(), INFINITE) == WAIT_FAILED) return std::unexpected(last_os_error());
  DWORD exit_code = 0;
  if (!::GetExitCodeProcess(process.get(), &exit_code)) return std::unexpected(last_os_error());
  if (exit_code != 0) return std::unexpected(HostError::fixed(ErrorKind::Other, failure_message));
  return {};
}

HostResult<void> run_reg_tool(std::span<const std::string> arguments, std::string_view failure_message) {
  auto program = reg_tool_path();
  if (!program) return std::unexpected(std::move(program.error()));
  return run_tool(*program, arguments, failure_message);
}

}  // namespace host::win
