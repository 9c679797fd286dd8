#include "main/failure_policy.h"

#include <cstdlib>
#include <exception>

namespace host {
namespace {

// TerminateProcess rather than ExitProcess: the process is in an unknown
// state, and DLL detach handlers must not run against it.
[[noreturn]] void end_abnormally() noexcept {
  ::TerminateProcess(::GetCurrentProcess(), ABNORMAL_EXIT_CODE);
  std::_Exit(static_cast<int>(ABNORMAL_EXIT_CODE));  // not reached
}

// The last filter before the system's own handling of an unhandled
// exception, which would start the configured debugger (AeDebug, or Wine's
// by default) or the fault reporting.
LONG WINAPI on_unhandled_exception(EXCEPTION_POINTERS* exception) noexcept {
  ::TerminateProcess(::GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;  // not reached
}

#if defined(_MSC_VER)
void __cdecl on_pure_virtual_call() { end_abnormally(); }
#endif

}  // namespace

void install_failure_policy() noexcept {
  ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  ::SetUnhandledExceptionFilter(on_unhandled_exception);
  std::set_terminate(end_abnormally);
#if defined(_MSC_VER)
  _set_purecall_handler(on_pure_virtual_call);
#endif
#if defined(_MSC_VER) || defined(_UCRT)
  // The universal C runtime's abort() would otherwise write a message and
  // hand the process to the fault reporting.
  _set_abort_behavior(0, _WRITE_ABORT_MSG | _CALL_REPORTFAULT);
#endif
}

}  // namespace host

#if defined(__GNUC__) && !defined(_MSC_VER)
// The C++ runtime's own version writes "pure virtual method called" to
// standard error before it calls std::terminate. The Itanium C++ ABI lets a
// program provide this function; the runtime's copy is then not linked in.
extern "C" [[noreturn]] void __cxa_pure_virtual() { std::terminate(); }
#endif
