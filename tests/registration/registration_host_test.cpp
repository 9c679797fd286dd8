// The registration switches of the real executable, started as the desktop
// application's installer would start it: only the exit code reports.
#include <gtest/gtest.h>

#include "integration/host_fixture.h"
#include "registration/registration_test_support.h"
#include "windows/unique_handle.h"

namespace host::test {
namespace {

const std::wstring marker_name = L"browser-context-registration.json";
const std::wstring manifest_name = L"com.velmorantix.browser_context.json";

class RegistrationSwitches : public HostFixture {
 protected:
  HostKeysGuard keys;

  std::wstring manifest_file() const { return app_dir() + L"\\" + manifest_name; }
  std::wstring marker_file() const { return app_dir() + L"\\" + marker_name; }
  static std::string host_executable() { return narrow(program_directory() + L"\\browser-context-host.exe"); }

  void install() {
    write_app_file(marker_name, marker_json(release_host));
    write_app_file(manifest_name, manifest_json(release_host));
  }

  // Runs one switch; the host must end and print nothing.
  std::optional<DWORD> run_switch(const wchar_t* name) {
    const auto outcome = run_host({name});
    EXPECT_TRUE(outcome.exit_code.has_value()) << "the host did not end";
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "");
    return outcome.exit_code;
  }
};

TEST_F(RegistrationSwitches, RepairThenRemove) {
  install();
  const std::wstring manifest_path = manifest_file();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(run_switch(L"--repair-registration"), 0u);
    EXPECT_EQ(read_file(manifest_path), rendered_manifest(release_host, host_executable()));
    EXPECT_EQ(default_string(chrome_release), manifest_path);
    EXPECT_EQ(default_string(edge_release), manifest_path);
  }
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(run_switch(L"--remove-registration"), 0u);
    EXPECT_FALSE(key_exists(chrome_release));
    EXPECT_FALSE(key_exists(edge_release));
    EXPECT_FALSE(file_exists(manifest_path));
    EXPECT_FALSE(file_exists(marker_file()));
  }
}

TEST_F(RegistrationSwitches, ForeignChromeKeyFailsRepairAndChangesNothing) {
  install();
  set_default_string(chrome_release, L"C:\\Other\\manifest.json");
  EXPECT_EQ(run_switch(L"--repair-registration"), 1u);
  EXPECT_EQ(read_file(manifest_file()), manifest_json(release_host));
  EXPECT_EQ(default_string(chrome_release), L"C:\\Other\\manifest.json");
  EXPECT_FALSE(key_exists(edge_release));
}

TEST_F(RegistrationSwitches, WithoutAMarkerBothSwitchesSucceedAndChangeNothing) {
  write_app_file(manifest_name, manifest_json(release_host));
  set_default_string(chrome_release, manifest_file());
  EXPECT_EQ(run_switch(L"--repair-registration"), 0u);
  EXPECT_EQ(run_switch(L"--remove-registration"), 0u);
  EXPECT_EQ(read_file(manifest_file()), manifest_json(release_host));
  EXPECT_EQ(default_string(chrome_release), manifest_file());
}

TEST_F(RegistrationSwitches, ManifestHeldOpenFailsRemoveUntilReleased) {
  install();
  set_default_string(chrome_release, manifest_file());
  set_default_string(edge_release, manifest_file());
  {
    win::UniqueHandle held(::CreateFileW(manifest_file().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(run_switch(L"--remove-registration"), 1u);
    EXPECT_FALSE(key_exists(chrome_release));
    EXPECT_FALSE(key_exists(edge_release));
    EXPECT_TRUE(file_exists(marker_file()));
  }
  EXPECT_EQ(run_switch(L"--remove-registration"), 0u);
  EXPECT_FALSE(file_exists(manifest_file()));
  EXPECT_FALSE(file_exists(marker_file()));
}

TEST(RegistrationSwitchesWithBlanks, AppDataPathWithBlanksReachesTheRegistryWhole) {
  HostKeysGuard keys;
  ScopedAppDataFolder folder;  // its path holds blanks
  write_file(folder.app_dir() + L"\\" + marker_name, marker_json(release_host));
  write_file(folder.app_dir() + L"\\" + manifest_name, manifest_json(release_host));
  ChildOptions options;
  options.program = program_directory() + L"\\browser-context-host.exe";
  options.arguments = {L"--repair-registration"};
  options.environment[L"APPDATA"] = folder.appdata();
  options.close_stdin_at_start = true;
  ChildProcess child(options);
  ASSERT_TRUE(child.started());
  ASSERT_EQ(child.wait(wait_limit), 0u);
  const std::wstring manifest_path = folder.app_dir() + L"\\" + manifest_name;
  ASSERT_NE(manifest_path.find(L' '), std::wstring::npos);
  EXPECT_EQ(default_string(chrome_release), manifest_path);
  EXPECT_EQ(default_string(edge_release), manifest_path);
}

}  // namespace
}  // namespace host::test
