// failure-probe.exe <case>: stands in for the host to show how a process
// under the host's failure policy ends when something goes badly wrong. The
// host itself has no way to be made to fail like this, so this program runs
// the same install_failure_policy and then fails on purpose.
//   error-mode          prints the process's error mode, exits 0
//   <case>              fails as named; "--no-policy <case>" without the policy
#include <windows.h>

#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "main/failure_policy.h"

namespace probe {

// Calls run() of an object still under construction, through a pointer the
// compiler cannot see through: the call reaches the pure virtual slot. Not in
// an anonymous namespace, where the compiler would know every class derived
// from Base and call Derived::run directly.
struct Base;
void call_run(Base* object);
void (*volatile invoke_run)(Base*) = call_run;

struct Base {
  Base() { invoke_run(this); }
  virtual ~Base() = default;
  virtual void run() = 0;
};
void call_run(Base* object) { object->run(); }
struct Derived : Base {
  void run() override {}
};

}  // namespace probe

namespace {

void fail(std::wstring_view what) {
  if (what == L"terminate") std::terminate();
  if (what == L"uncaught-exception") throw std::runtime_error("escaped");
  if (what == L"exception-in-thread") std::thread([] { throw std::runtime_error("escaped"); }).join();
  if (what == L"joinable-thread-destroyed") {
    std::thread sleeper([] { ::Sleep(INFINITE); });
  }
  if (what == L"pure-virtual-call") probe::Derived();
  if (what == L"access-violation") ::RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int next = 1;
  const bool policy = !(argc > next && std::wstring_view(argv[next]) == L"--no-policy");
  if (!policy) ++next;
  if (policy) host::install_failure_policy();
  const std::wstring_view what = argc > next ? argv[next] : L"";
  if (what == L"error-mode") {
    const std::string text = std::to_string(::GetErrorMode());
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return 0;
  }
  fail(what);
  return 100;  // the case did not fail, or is unknown
}
