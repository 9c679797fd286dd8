// How a process under the host's failure policy ends: through
// failure-probe.exe, which installs the same policy as the host and then
// fails on purpose (the host cannot be made to). No dialog may wait for a
// click and nothing may reach standard error; what Wine can show of that is
// the exit code, the empty output and that the process ends at all.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "common/child_process.h"
#include "main/failure_policy.h"
#include "windows/unique_handle.h"

namespace {

using namespace std::chrono_literals;

struct Ending {
  std::optional<DWORD> exit_code;
  std::string out, err;
  // Processes that ran in the probe's job: the probe and whatever it
  // started, a debugger included.
  std::optional<DWORD> processes;
};

Ending run_probe(std::vector<std::wstring> arguments) {
  host::win::UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
  host::tools::ChildOptions options;
  options.program = host::tools::program_directory() + L"\\failure-probe.exe";
  options.arguments = std::move(arguments);
  options.close_stdin_at_start = true;
  options.job = job.get();
  host::tools::ChildProcess child(options);
  Ending ending;
  if (!child.started()) {
    ADD_FAILURE() << "failure-probe.exe did not start, error " << child.start_error();
    return ending;
  }
  // A dialog or a debugger waiting for someone would show as a time-out.
  ending.exit_code = child.wait(60s);
  child.out().wait_for_end(10s);
  child.err().wait_for_end(10s);
  ending.out = child.out().contents();
  ending.err = child.err().contents();
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
  if (::QueryInformationJobObject(job.get(), JobObjectBasicAccountingInformation, &accounting, sizeof accounting,
                                  nullptr))
    ending.processes = accounting.TotalProcesses;
  return ending;
}

TEST(FailurePolicyProbe, TurnsOffEverySystemFailureDialog) {
  // The error mode is inherited (Wine starts this test with one already):
  // cleared here, the probe's flags can only come from the policy.
  const UINT inherited = ::SetErrorMode(0);
  const auto ending = run_probe({L"error-mode"});
  ::SetErrorMode(inherited);
  ASSERT_EQ(ending.exit_code, std::optional<DWORD>(0));
  const UINT mode = static_cast<UINT>(std::stoul(ending.out));
  for (const UINT flag : {SEM_FAILCRITICALERRORS, SEM_NOGPFAULTERRORBOX, SEM_NOOPENFILEERRORBOX})
    EXPECT_EQ(mode & flag, flag) << "flag " << flag;
}

TEST(FailurePolicyProbe, RuntimeFailuresEndSilentlyWithTheAbnormalExitCode) {
  for (const wchar_t* what : {L"terminate", L"uncaught-exception", L"exception-in-thread", L"joinable-thread-destroyed",
                              L"pure-virtual-call"}) {
    SCOPED_TRACE(testing::Message() << "case " << std::string(what, what + std::wcslen(what)));
    const auto ending = run_probe({what});
    EXPECT_EQ(ending.exit_code, std::optional<DWORD>(host::ABNORMAL_EXIT_CODE));
    EXPECT_EQ(ending.err, "");
    EXPECT_EQ(ending.out, "");
  }
}

// Without the policy the same failures write the C++ runtime's message to
// standard error: the check above sees that output when there is any.
TEST(FailurePolicyProbe, WithoutThePolicyTheRuntimeWritesToStandardError) {
  for (const wchar_t* what : {L"terminate", L"pure-virtual-call"}) {
    SCOPED_TRACE(testing::Message() << "case " << std::string(what, what + std::wcslen(what)));
    const auto ending = run_probe({L"--no-policy", what});
    EXPECT_TRUE(ending.exit_code);
    EXPECT_NE(ending.err, "");
  }
}

// The processes a probe that ends normally has in its job: itself, and the
// console host where the system starts one.
std::optional<DWORD> processes_of_a_quiet_run() {
  const auto ending = run_probe({L"error-mode"});
  EXPECT_EQ(ending.exit_code, std::optional<DWORD>(0));
  return ending.processes;
}

// Left to the system, an unhandled fault starts the configured debugger
// (Wine's own starts by default; Windows' when AeDebug names one), which
// shows as more processes in the probe's job (Wine's: three more, and
// seconds of work on the shared Wine server). Not run without the policy
// here, so that no test starts that debugger.
TEST(FailurePolicyProbe, UnhandledFaultEndsWithItsExceptionCodeAndStartsNoDebugger) {
  const auto quiet = processes_of_a_quiet_run();
  ASSERT_TRUE(quiet);
  const auto ending = run_probe({L"access-violation"});
  EXPECT_EQ(ending.exit_code, std::optional<DWORD>(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION)));
  EXPECT_EQ(ending.err, "");
  EXPECT_EQ(ending.processes, quiet);
}

}  // namespace
