// Starting the registry console tool: the real reg.exe for its effect on the
// registry, and a probe program in its place for what a child is given.
#include "registration/reg_tool.h"

#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "common/child_process.h"
#include "main/wide_text.h"
#include "registration/registration_test_support.h"

namespace host::win {
namespace {

using namespace test;

// Arguments that a naive command line would split, join or change.
const std::vector<std::string> awkward_arguments = {
    "plain",
    "",
    "two words",
    "tab\there",
    "new\nline",
    "quote\"inside",
    "\"",
    "\\\"",
    "ends with quote\"",
    "trailing\\",
    "trailing blank\\ ",
    "C:\\Users\\J\xC3\xA9 Doe\\AppData\\Roaming\\com.velmorantix.lab\\",
    "\\\\server\\share\\dir\\\\",
    "%APPDATA%",
    "caf\xC3\xA9 \xF0\x9F\x98\x80",
};

TEST(QuoteCommandLineArgument, CommandLineToArgvGivesEachArgumentBack) {
  std::u16string line = u"program.exe";
  for (const auto& argument : awkward_arguments) {
    line += u' ';
    line += quote_command_line_argument(to_wide(argument));
  }
  int count = 0;
  UniqueHlocal<LPWSTR*> argv(::CommandLineToArgvW(reinterpret_cast<const wchar_t*>(line.c_str()), &count));
  ASSERT_NE(argv.get(), nullptr);
  ASSERT_EQ(count, int(awkward_arguments.size()) + 1);
  for (std::size_t i = 0; i < awkward_arguments.size(); ++i) {
    EXPECT_EQ(narrow(argv.get()[i + 1]), awkward_arguments[i]) << i;
  }
}

// Sets an environment variable of the test process, which the tool inherits.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
    ::SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedVariable() { ::SetEnvironmentVariableW(name_, nullptr); }

 private:
  const wchar_t* name_;
};

std::u16string probe_program() {
  const std::wstring path = tools::program_directory() + L"\\tool-probe.exe";
  return std::u16string(path.begin(), path.end());
}

HostResult<void> run_bounded(std::u16string program, std::vector<std::string> arguments, std::string message) {
  return bounded([program = std::move(program), arguments = std::move(arguments), message = std::move(message)] {
    return run_tool(program, arguments, message);
  });
}

HostResult<void> reg_bounded(std::span<const std::string> arguments, std::string_view message) {
  return bounded([arguments = std::vector<std::string>(arguments.begin(), arguments.end()), message = std::string(message)] {
    return run_reg_tool(arguments, message);
  });
}

std::vector<std::wstring> probe_report(const std::wstring& path) {
  const auto bytes = read_file(path);
  std::vector<std::wstring> parts;
  if (!bytes) return parts;
  const std::wstring text(reinterpret_cast<const wchar_t*>(bytes->data()), bytes->size() / sizeof(wchar_t));
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(L'\0', start)) != std::wstring::npos; start = end + 1) {
    parts.push_back(text.substr(start, end - start));
  }
  return parts;
}

class RunTool : public ::testing::Test {
 protected:
  ScopedAppDataFolder folder;
  const std::wstring report = folder.app_dir() + L"\\probe report.bin";
  ScopedVariable out{L"HOST_TOOL_PROBE_OUT", report};
};

// Makes the test process's standard input an inheritable pipe holding
// bytes, so that a child given our input instead of the null device would
// read them.
class ScopedStandardInput {
 public:
  ScopedStandardInput() : saved_(::GetStdHandle(STD_INPUT_HANDLE)) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    EXPECT_TRUE(::CreatePipe(&read_end, &write_end, &inheritable, 0));
    read_end_.reset(read_end);
    write_end_.reset(write_end);
    DWORD wrote = 0;
    EXPECT_TRUE(::WriteFile(write_end_.get(), "input", 5, &wrote, nullptr));
    ::SetStdHandle(STD_INPUT_HANDLE, read_end_.get());
  }
  ~ScopedStandardInput() { ::SetStdHandle(STD_INPUT_HANDLE, saved_); }

 private:
  HANDLE saved_;
  UniqueHandle read_end_, write_end_;
};

TEST_F(RunTool, ChildGetsEveryArgumentIntactTheNullDeviceAndOurDirectory) {
  {
    ScopedStandardInput input;
    ASSERT_TRUE(run_bounded(probe_program(), awkward_arguments, "failed"));
  }
  const auto parts = probe_report(report);
  ASSERT_EQ(parts.size(), awkward_arguments.size() + 2);
  for (std::size_t i = 0; i < awkward_arguments.size(); ++i) EXPECT_EQ(narrow(parts[i]), awkward_arguments[i]) << i;
  // Reading the null device succeeds at once with nothing.
  EXPECT_EQ(parts[awkward_arguments.size()], L"stdin 1 0 " + std::to_wstring(FILE_TYPE_CHAR));
  wchar_t directory[MAX_PATH];
  EXPECT_EQ(parts.back(), std::wstring(directory, ::GetCurrentDirectoryW(MAX_PATH, directory)));
}

TEST_F(RunTool, ChildInheritsNoOtherHandleOfTheHost) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  UniqueHandle event(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  ScopedVariable handle(L"HOST_TOOL_PROBE_HANDLE", std::to_wstring(reinterpret_cast<std::uintptr_t>(event.get())));
  const auto handle_seen = [&] {
    const auto parts = probe_report(report);
    return std::find(parts.begin(), parts.end(), L"handle 1") != parts.end();
  };
  // A child started with plain inheritance sees the handle: the probe can tell.
  {
    tools::ChildOptions options;
    options.program = tools::program_directory() + L"\\tool-probe.exe";
    options.close_stdin_at_start = true;
    tools::ChildProcess plain(options);
    ASSERT_TRUE(plain.started());
    ASSERT_EQ(plain.wait(std::chrono::seconds(30)), 0u);
  }
  ASSERT_TRUE(handle_seen());
  ASSERT_TRUE(run_bounded(probe_program(), {"x"}, "failed"));
  EXPECT_FALSE(handle_seen());
}

TEST_F(RunTool, OnlyExitCode0IsSuccess) {
  for (const DWORD code : {0ul, 1ul, 2ul, 255ul, 259ul, 0xC0000005ul}) {
    ScopedVariable exit_code(L"HOST_TOOL_PROBE_EXIT", std::to_wstring(code));
    const auto result = run_bounded(probe_program(), {"x"}, "Tool said no");
    if (code == 0) {
      EXPECT_TRUE(result) << result.error().message();
    } else {
      ASSERT_FALSE(result) << code;
      EXPECT_TRUE(result.error().is(ErrorKind::Other, "Tool said no")) << code;
    }
  }
}

TEST_F(RunTool, BothOutputsAreDrainedWhileTheChildRuns) {
  // Far more than a pipe holds, on both outputs in turn: a host that read one
  // to its end before the other would wait for ever.
  ScopedVariable spam(L"HOST_TOOL_PROBE_SPAM", L"4194304");
  ScopedVariable exit_code(L"HOST_TOOL_PROBE_EXIT", L"3");
  const auto result = run_bounded(probe_program(), {"x"}, "failed");
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is(ErrorKind::Other, "failed"));
}

TEST_F(RunTool, ProgramThatCannotBeStartedIsTheOsError) {
  const std::wstring not_a_program = folder.app_dir() + L"\\not a program.exe";
  write_file(not_a_program, "text");
  for (const std::wstring& path : {folder.app_dir() + L"\\missing.exe", not_a_program}) {
    const auto result = run_bounded(std::u16string(path.begin(), path.end()), {"x"}, "failed");
    ASSERT_FALSE(result) << narrow(path);
    EXPECT_TRUE(result.error().os_code().has_value()) << narrow(path) << ": " << result.error().message();
  }
}

class RegTool : public ::testing::Test {
 protected:
  HostKeysGuard keys;
};

const std::string chrome_key = "HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\com.velmorantix.browser_context";

TEST_F(RegTool, SetsTheDefaultValueToTheDataExactlyThenDeletesTheKey) {
  for (const auto& data : awkward_arguments) {
    if (data.empty() || data.find('\n') != std::string::npos) continue;  // not manifest paths
    const std::array<std::string, 8> add = {"add", chrome_key, "/ve", "/t", "REG_SZ", "/d", data, "/f"};
    const auto added = reg_bounded(add, msg::registry_repair_failed);
    ASSERT_TRUE(added) << data << ": " << added.error().message();
    EXPECT_EQ(default_string(chrome_release), widen(data)) << data;
  }
  const std::array<std::string, 3> remove = {"delete", chrome_key, "/f"};
  ASSERT_TRUE(reg_bounded(remove, msg::registry_removal_failed));
  EXPECT_FALSE(key_exists(chrome_release));
  // A key that is not there makes the tool fail.
  const auto again = reg_bounded(remove, msg::registry_removal_failed);
  ASSERT_FALSE(again);
  EXPECT_TRUE(again.error().is(ErrorKind::Other, msg::registry_removal_failed));
}

TEST_F(RegTool, RegExeBesideTheProgramIsNotStarted) {
  // The probe, planted as reg.exe next to the running program, where a bare
  // name would be looked for first; it would write a report and leave the
  // registry alone.
  ScopedAppDataFolder folder;
  const std::wstring report = folder.app_dir() + L"\\planted report.bin";
  ScopedVariable out(L"HOST_TOOL_PROBE_OUT", report);
  const std::wstring planted = tools::program_directory() + L"\\reg.exe";
  ASSERT_TRUE(::CopyFileW((tools::program_directory() + L"\\tool-probe.exe").c_str(), planted.c_str(), FALSE));
  struct Remove {
    std::wstring path;
    ~Remove() { ::DeleteFileW(path.c_str()); }
  } remove_planted{planted};

  const std::array<std::string, 8> add = {"add", chrome_key, "/ve", "/t", "REG_SZ", "/d", "C:\\m.json", "/f"};
  ASSERT_TRUE(reg_bounded(add, msg::registry_repair_failed));
  EXPECT_EQ(default_string(chrome_release), L"C:\\m.json");
  EXPECT_FALSE(file_exists(report));
}

}  // namespace
}  // namespace host::win
