// Repair and remove run in this process against real files, the real
// registry and the real reg.exe. The registry tool step is wrapped to record
// each call (and, where a test needs it, to fail one); the disposition step
// of file deletion is replaced where Wine cannot carry it out.
#include "registration/registration_command.h"

#include <gtest/gtest.h>

#include "registration/registration_test_support.h"
#include "windows/unique_handle.h"

namespace host {
namespace {

using namespace test;

const std::string chrome_key = "HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\com.velmorantix.browser_context";
const std::string edge_key = "HKCU\\Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.velmorantix.browser_context";
const std::wstring foreign_manifest = L"C:\\Other Install\\com.velmorantix.browser_context.json";

using ToolCall = std::vector<std::string>;

class RegistrationCommand : public ::testing::Test {
 protected:
  HostKeysGuard keys;
  ScopedAppDataFolder folder;
  std::vector<ToolCall> calls;
  RegistrationSteps steps;

  RegistrationCommand() {
    steps.run_reg_tool = [this](std::span<const std::string> arguments, std::string_view message) {
      calls.emplace_back(arguments.begin(), arguments.end());
      return bounded([call = calls.back(), message = std::string(message)] { return win::run_reg_tool(call, message); });
    };
  }

  std::wstring marker_file() const { return folder.app_dir() + L"\\browser-context-registration.json"; }
  std::wstring manifest_file(std::string_view host = release_host) const {
    return folder.app_dir() + L"\\" + widen(host) + L".json";
  }
  std::string manifest_path(std::string_view host = release_host) const { return narrow(manifest_file(host)); }

  void install(std::string_view host = release_host, std::string_view enabled = "true") {
    write_file(marker_file(), marker_json(host, enabled));
    write_file(manifest_file(host), manifest_json(host));
  }

  std::string executable() const {
    auto path = running_executable_path();
    EXPECT_TRUE(path);
    return path.value_or("");
  }

  static ToolCall add_call(const std::string& key, const std::string& data) {
    return {"add", key, "/ve", "/t", "REG_SZ", "/d", data, "/f"};
  }
  static ToolCall delete_call(const std::string& key) { return {"delete", key, "/f"}; }
};

void expect_error(const HostResult<void>& result, ErrorKind kind, std::string_view message) {
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is(kind, message)) << result.error().message();
}

TEST_F(RegistrationCommand, NoMarkerChangesNothing) {
  write_file(manifest_file(), manifest_json(release_host));
  set_default_string(chrome_release, widen(manifest_path()));
  set_default_string(edge_release, foreign_manifest);
  for (const bool remove : {false, true}) {
    EXPECT_TRUE(registration_command(remove, steps)) << remove;
  }
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(read_file(manifest_file()), manifest_json(release_host));
  EXPECT_EQ(default_string(chrome_release), widen(manifest_path()));
  EXPECT_EQ(default_string(edge_release), foreign_manifest);
}

TEST_F(RegistrationCommand, DocumentsOfAnotherInstallationStopBothCommandsBeforeAnyChange) {
  struct Case {
    const char* name;
    std::string marker;
    std::optional<std::string> manifest;  // nothing: no manifest file
    std::function<void(const HostError&)> check;
  };
  const auto is = [](ErrorKind kind, std::string_view message) {
    return [=](const HostError& e) { EXPECT_TRUE(e.is(kind, message)) << e.message(); };
  };
  const Case cases[] = {
      {"marker names another host", marker_json("com.velmorantix.browser_context "), manifest_json(release_host),
       is(ErrorKind::Other, msg::unowned_marker)},
      {"marker is an array", std::string("[").append(marker_json(release_host)).append("]"), manifest_json(release_host),
       is(ErrorKind::Other, msg::unowned_marker)},
      {"marker with trailing text", marker_json(release_host) + " x", manifest_json(release_host),
       [](const HostError& e) {
         EXPECT_EQ(e.kind(), ErrorKind::Other);
         EXPECT_FALSE(e.os_code());
         EXPECT_NE(e.message(), msg::unowned_marker);
       }},
      {"manifest missing", marker_json(release_host), std::nullopt,
       [](const HostError& e) { EXPECT_TRUE(e.is_os(ERROR_FILE_NOT_FOUND)) << e.message(); }},
      {"manifest of the development host", marker_json(release_host), manifest_json(dev_host),
       is(ErrorKind::PermissionDenied, msg::unowned_manifest)},
      {"manifest not JSON", marker_json(release_host), "{",
       [](const HostError& e) { EXPECT_EQ(e.kind(), ErrorKind::Other); }},
  };
  set_default_string(chrome_release, widen(manifest_path()));
  set_default_string(edge_release, widen(manifest_path()));
  for (const auto& c : cases) {
    for (const bool remove : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (remove ? ", remove" : ", repair"));
      write_file(marker_file(), c.marker);
      ::DeleteFileW(manifest_file().c_str());
      if (c.manifest) write_file(manifest_file(), *c.manifest);
      const auto result = registration_command(remove, steps);
      ASSERT_FALSE(result);
      c.check(result.error());
      EXPECT_TRUE(calls.empty());
      EXPECT_EQ(read_file(marker_file()), c.marker);
      EXPECT_EQ(read_file(manifest_file()), c.manifest);
      EXPECT_EQ(default_string(chrome_release), widen(manifest_path()));
      EXPECT_EQ(default_string(edge_release), widen(manifest_path()));
    }
  }
}

TEST_F(RegistrationCommand, RepairWithoutEnabledTrueDoesNothingEvenWithAForeignKey) {
  set_default_string(chrome_release, foreign_manifest);
  for (const std::string_view enabled : {"false", "\"true\"", "1", "null", ""}) {
    SCOPED_TRACE(enabled);
    install(release_host, enabled);
    EXPECT_TRUE(registration_command(false, steps));
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(read_file(manifest_file()), manifest_json(release_host));
    EXPECT_EQ(default_string(chrome_release), foreign_manifest);
    EXPECT_FALSE(key_exists(edge_release));
  }
}

TEST_F(RegistrationCommand, RepairPointsBothKeysAtTheManifestAndTheManifestAtThisExecutable) {
  // Both host names; the app data path holds blanks, which reach reg.exe as
  // part of one argument.
  for (const std::string& host : {release_host, dev_host}) {
    SCOPED_TRACE(host);
    calls.clear();
    install(host);
    const auto keys_for = browser_registry_keys(host);
    ASSERT_TRUE(registration_command(false, steps));
    EXPECT_EQ(read_file(manifest_file(host)), rendered_manifest(host, executable()));
    EXPECT_EQ(calls, (std::vector<ToolCall>{add_call(keys_for[0], manifest_path(host)),
                                            add_call(keys_for[1], manifest_path(host))}));
    const std::wstring chrome = host == dev_host ? chrome_dev : chrome_release;
    const std::wstring edge = host == dev_host ? edge_dev : edge_release;
    EXPECT_EQ(default_string(chrome), widen(manifest_path(host)));
    EXPECT_EQ(default_string(edge), widen(manifest_path(host)));
  }
  // The blank in the app data path was part of the data above.
  EXPECT_NE(manifest_path(release_host).find(' '), std::string::npos);
}

TEST_F(RegistrationCommand, RepeatedRepairGivesTheSameResultAndRestoresTheExactCase) {
  install();
  ASSERT_TRUE(registration_command(false, steps));
  const auto manifest_after_first = read_file(manifest_file());
  // A key that differs only in letter case is this installation's.
  std::wstring shouted = widen(manifest_path());
  for (auto& c : shouted) c = static_cast<wchar_t>(::towupper(c));
  set_default_string(edge_release, shouted);
  ASSERT_TRUE(registration_command(false, steps));
  EXPECT_EQ(read_file(manifest_file()), manifest_after_first);
  EXPECT_EQ(default_string(chrome_release), widen(manifest_path()));
  EXPECT_EQ(default_string(edge_release), widen(manifest_path()));
  EXPECT_EQ(calls.size(), 4u);
}

TEST_F(RegistrationCommand, RepairRefusesAForeignKeyBeforeChangingAnything) {
  struct Case {
    const char* name;
    std::optional<std::wstring> chrome, edge;  // nothing: no key
  };
  const std::wstring ours = widen(manifest_path());
  const Case cases[] = {
      {"Chrome foreign", foreign_manifest, std::nullopt},
      {"Chrome owned, Edge foreign", ours, foreign_manifest},
      {"Chrome absent, Edge foreign", std::nullopt, foreign_manifest},
  };
  install();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HostKeysGuard fresh;
    if (c.chrome) set_default_string(chrome_release, *c.chrome);
    if (c.edge) set_default_string(edge_release, *c.edge);
    expect_error(registration_command(false, steps), ErrorKind::PermissionDenied, msg::foreign_registration);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(read_file(manifest_file()), manifest_json(release_host));
    EXPECT_EQ(default_string(chrome_release), c.chrome);
    EXPECT_EQ(default_string(edge_release), c.edge);
  }
}

TEST_F(RegistrationCommand, ChromeIsJudgedFirstAndAForeignChromeKeyEndsTheCheck) {
  // Reading the Edge key would fail; a foreign Chrome key must decide first.
  install();
  set_default_string(chrome_release, foreign_manifest);
  set_default_string(edge_release, widen(manifest_path()));
  KeyDaclOverride unreadable(edge_release, deny_query_value);
  expect_error(registration_command(false, steps), ErrorKind::PermissionDenied, msg::foreign_registration);
  // An owned Chrome key lets the Edge key be read, and its error is the result.
  set_default_string(chrome_release, widen(manifest_path()));
  const auto result = registration_command(false, steps);
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is_os(ERROR_ACCESS_DENIED)) << result.error().message();
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(read_file(manifest_file()), manifest_json(release_host));
}

TEST_F(RegistrationCommand, RepairStopsAtTheFirstRegistryWriteThatFails) {
  install();
  // Owned but with its old case, to see that it is not rewritten.
  std::wstring old_case = widen(manifest_path());
  old_case[0] = static_cast<wchar_t>(::towlower(old_case[0]));
  set_default_string(edge_release, old_case);
  {
    // The real tool fails: Chrome's key may be read but not written.
    set_default_string(chrome_release, widen(manifest_path()));
    KeyDaclOverride read_only(chrome_release, deny_set_value);
    expect_error(registration_command(false, steps), ErrorKind::Other, msg::registry_repair_failed);
  }
  EXPECT_EQ(calls, (std::vector<ToolCall>{add_call(chrome_key, manifest_path())}));
  EXPECT_EQ(read_file(manifest_file()), rendered_manifest(release_host, executable()));
  EXPECT_EQ(default_string(edge_release), old_case);
}

TEST_F(RegistrationCommand, RepairWithAToolThatCannotStartWritesTheManifestButNoKey) {
  install();
  steps.run_reg_tool = [this](std::span<const std::string> arguments, std::string_view message) {
    calls.emplace_back(arguments.begin(), arguments.end());
    return win::run_tool(u"C:\\no such folder\\reg.exe", arguments, message);
  };
  const auto result = registration_command(false, steps);
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().os_code().has_value()) << result.error().message();
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(read_file(manifest_file()), rendered_manifest(release_host, executable()));
  EXPECT_FALSE(key_exists(chrome_release));
  EXPECT_FALSE(key_exists(edge_release));
}

TEST_F(RegistrationCommand, RepairThatCannotWriteTheManifestLeavesTheRegistry) {
  install();
  win::UniqueHandle held(::CreateFileW(manifest_file().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       0, nullptr));
  ASSERT_TRUE(held);
  const auto result = registration_command(false, steps);
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is_os(ERROR_SHARING_VIOLATION)) << result.error().message();
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(key_exists(chrome_release));
}

TEST_F(RegistrationCommand, RemoveDeletesOwnedKeysThenTheManifestThenTheMarker) {
  // The marker's enabled member plays no part.
  for (const std::string_view enabled : {"true", "false"}) {
    SCOPED_TRACE(enabled);
    calls.clear();
    install(release_host, enabled);
    set_default_string(chrome_release, widen(manifest_path()));
    set_default_string(edge_release, widen(manifest_path()));
    set_default_string(edge_release + L"\\sub key", L"value");
    ASSERT_TRUE(registration_command(true, steps));
    EXPECT_EQ(calls, (std::vector<ToolCall>{delete_call(chrome_key), delete_call(edge_key)}));
    EXPECT_FALSE(key_exists(chrome_release));
    EXPECT_FALSE(key_exists(edge_release));
    EXPECT_FALSE(file_exists(manifest_file()));
    EXPECT_FALSE(file_exists(marker_file()));
    // A second run finds nothing registered.
    EXPECT_TRUE(registration_command(true, steps));
    EXPECT_EQ(calls.size(), 2u);
  }
}

TEST_F(RegistrationCommand, RemoveLeavesForeignAndAbsentKeysAlone) {
  struct Case {
    const char* name;
    std::optional<std::wstring> chrome, edge;
    std::vector<ToolCall> calls;
  };
  const std::wstring ours = widen(manifest_path());
  const Case cases[] = {
      {"Chrome foreign, Edge owned", foreign_manifest, ours, {delete_call(edge_key)}},
      {"Chrome owned, Edge foreign", ours, foreign_manifest, {delete_call(chrome_key)}},
      {"both absent", std::nullopt, std::nullopt, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HostKeysGuard fresh;
    calls.clear();
    install();
    if (c.chrome) set_default_string(chrome_release, *c.chrome);
    if (c.edge) set_default_string(edge_release, *c.edge);
    ASSERT_TRUE(registration_command(true, steps));
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(default_string(chrome_release), c.chrome == ours ? std::nullopt : c.chrome);
    EXPECT_EQ(default_string(edge_release), c.edge == ours ? std::nullopt : c.edge);
    EXPECT_FALSE(file_exists(manifest_file()));
    EXPECT_FALSE(file_exists(marker_file()));
  }
}

TEST_F(RegistrationCommand, RemoveStopsWhenTheToolFailsForTheChromeKey) {
  install();
  set_default_string(chrome_release, widen(manifest_path()));
  set_default_string(edge_release, widen(manifest_path()));
  {
    KeyDaclOverride undeletable(chrome_release, deny_set_value);
    expect_error(registration_command(true, steps), ErrorKind::Other, msg::registry_removal_failed);
  }
  EXPECT_EQ(calls, (std::vector<ToolCall>{delete_call(chrome_key)}));
  EXPECT_EQ(default_string(chrome_release), widen(manifest_path()));
  EXPECT_EQ(default_string(edge_release), widen(manifest_path()));
  EXPECT_TRUE(file_exists(manifest_file()));
  EXPECT_TRUE(file_exists(marker_file()));
}

TEST_F(RegistrationCommand, RemoveStopsWhenTheEdgeKeyCannotBeRead) {
  install();
  set_default_string(chrome_release, widen(manifest_path()));
  set_default_string(edge_release, widen(manifest_path()));
  {
    KeyDaclOverride unreadable(edge_release, deny_query_value);
    const auto result = registration_command(true, steps);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is_os(ERROR_ACCESS_DENIED));
  }
  // Chrome's key was handled before Edge's was asked about.
  EXPECT_EQ(calls, (std::vector<ToolCall>{delete_call(chrome_key)}));
  EXPECT_FALSE(key_exists(chrome_release));
  EXPECT_TRUE(file_exists(manifest_file()));
  EXPECT_TRUE(file_exists(marker_file()));
}

TEST_F(RegistrationCommand, ManifestHeldOpenStopsRemoveUntilItIsReleased) {
  install();
  set_default_string(chrome_release, widen(manifest_path()));
  set_default_string(edge_release, widen(manifest_path()));
  {
    win::UniqueHandle held(::CreateFileW(manifest_file().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    const auto result = registration_command(true, steps);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is_os(ERROR_SHARING_VIOLATION)) << result.error().message();
    EXPECT_FALSE(key_exists(chrome_release));
    EXPECT_FALSE(key_exists(edge_release));
    EXPECT_TRUE(file_exists(manifest_file()));
    EXPECT_TRUE(file_exists(marker_file()));
  }
  // Found again through the marker: both keys absent now, both files go.
  calls.clear();
  ASSERT_TRUE(registration_command(true, steps));
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(file_exists(manifest_file()));
  EXPECT_FALSE(file_exists(marker_file()));
}

TEST_F(RegistrationCommand, MarkerLeftBehindMakesEveryLaterCommandFail) {
  install();
  {
    // Readable by the command, but not deletable while held.
    win::UniqueHandle held(::CreateFileW(marker_file().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    const auto result = registration_command(true, steps);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is_os(ERROR_SHARING_VIOLATION)) << result.error().message();
  }
  EXPECT_FALSE(file_exists(manifest_file()));
  EXPECT_TRUE(file_exists(marker_file()));
  for (const bool remove : {false, true}) {
    const auto result = registration_command(remove, steps);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is_os(ERROR_FILE_NOT_FOUND)) << result.error().message();
  }
}

TEST_F(RegistrationCommand, ReadOnlyDocumentsAreRemovedThroughTheDispositionSeam) {
  // Wine refuses the extended disposition (87); the step does what Windows
  // does with it, on the handle the command opened.
  install();
  ASSERT_TRUE(::SetFileAttributesW(manifest_file().c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(::SetFileAttributesW(marker_file().c_str(), FILE_ATTRIBUTE_READONLY));
  std::vector<std::string> marked;
  steps.file_removal.set_file_information = [&](HANDLE file, FILE_INFO_BY_HANDLE_CLASS type, LPVOID info, DWORD) {
    EXPECT_EQ(static_cast<int>(type), 21);
    EXPECT_EQ(*static_cast<const DWORD*>(info), 0x13u);
    std::wstring name(MAX_PATH, L'\0');
    name.resize(::GetFinalPathNameByHandleW(file, name.data(), MAX_PATH, 0));
    marked.push_back(narrow(name.substr(name.find_last_of(L'\\') + 1)));
    const std::wstring path = folder.app_dir() + L"\\" + widen(marked.back());
    if (!::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL)) return FALSE;
    FILE_DISPOSITION_INFO plain{TRUE};
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &plain, sizeof plain);
  };
  ASSERT_TRUE(registration_command(true, steps));
  EXPECT_EQ(marked, (std::vector<std::string>{"com.velmorantix.browser_context.json",
                                              "browser-context-registration.json"}));
  EXPECT_FALSE(file_exists(manifest_file()));
  EXPECT_FALSE(file_exists(marker_file()));
}

TEST_F(RegistrationCommand, ReadOnlyManifestUnderWineStopsRemoveWithAccessDenied) {
  // The real extended disposition, as Wine answers it: access denied from the
  // plain deletion is the result, and the marker stays.
  install();
  ASSERT_TRUE(::SetFileAttributesW(manifest_file().c_str(), FILE_ATTRIBUTE_READONLY));
  const auto result = registration_command(true, RegistrationSteps{});
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is_os(ERROR_ACCESS_DENIED)) << result.error().message();
  EXPECT_TRUE(file_exists(manifest_file()));
  EXPECT_TRUE(file_exists(marker_file()));
}

}  // namespace
}  // namespace host
