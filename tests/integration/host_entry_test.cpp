// The executable's entry as a browser meets it: which argument selects what,
// and the one error reply for every refusal.
#include "integration/host_fixture.h"

namespace host::test {
namespace {

class HostEntry : public HostFixture {};

TEST_F(HostEntry, RefusedOriginsGetTheErrorReplyAndExitCode1) {
  const std::vector<std::vector<std::wstring>> cases = {
      {},
      {L"chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm"},
      {L"CHROME-EXTENSION://NMHGOCNLEEBKOMCLCPBBDBINPGPBAKHM/"},
      {L"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"},
      {L"--Prepare-Update"},
      {L"--prepare-update=1"},
      {L"-prepare-update"},
      {L"--repair-registration=yes"},
      {L""},
      {L"chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/\u00E9"},
  };
  // A runtime file that would connect nowhere: refusals must not get that far.
  write_app_file(L"browser-context-runtime.json", R"({"endpoint":"\\\\.\\pipe\\none","nonce":"x"})");
  for (const auto& args : cases) {
    SCOPED_TRACE(testing::Message() << "argument count " << args.size()
                                    << (args.empty() ? "" : " first length " + std::to_string(args[0].size())));
    const auto outcome = run_host(args);
    EXPECT_EQ(outcome.exit_code, 1u);
    EXPECT_EQ(outcome.out, error_reply_bytes());
    EXPECT_EQ(outcome.out.size(), 110u);
    EXPECT_EQ(outcome.err, "");
  }
}

TEST_F(HostEntry, ApprovedOriginWithoutARuntimeFileGetsTheErrorReply) {
  for (const std::string_view runtime_file : {std::string_view(), std::string_view("{\"endpoint\":1}"),
                                              std::string_view("\xEF\xBB\xBF{}")}) {
    if (!runtime_file.empty()) write_app_file(L"browser-context-runtime.json", runtime_file);
    const auto outcome = run_host({approved_w, L"ignored", L"--prepare-update"});
    EXPECT_EQ(outcome.exit_code, 1u) << runtime_file;
    EXPECT_EQ(outcome.out, error_reply_bytes()) << runtime_file;
    EXPECT_EQ(outcome.err, "");
  }
}

TEST_F(HostEntry, MaintenanceSwitchesPrintNothing) {
  // No runtime file and no registration documents: each command fails, and
  // only the exit code says so.
  for (const wchar_t* sw : {L"--prepare-update", L"--repair-registration", L"--remove-registration"}) {
    const auto outcome = run_host({sw, approved_w});
    EXPECT_TRUE(outcome.exit_code.has_value()) << "no end";
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "");
  }
}

}  // namespace
}  // namespace host::test
