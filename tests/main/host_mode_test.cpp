#include "main/host_mode.h"

#include <gtest/gtest.h>

namespace host {
namespace {

TEST(SelectMode, SwitchesMatchWholeAndExactly) {
  struct Case {
    std::optional<std::string_view> arg;
    HostMode mode;
  };
  const Case cases[] = {
      {"--repair-registration", HostMode::RepairRegistration},
      {"--remove-registration", HostMode::RemoveRegistration},
      {"--prepare-update", HostMode::PrepareUpdate},
      {std::nullopt, HostMode::Relay},
      {"", HostMode::Relay},
      {"--Prepare-Update", HostMode::Relay},
      {"--prepare-update=1", HostMode::Relay},
      {"-prepare-update", HostMode::Relay},
      {"--prepare-update ", HostMode::Relay},
      {"--repair", HostMode::Relay},
      {"chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/", HostMode::Relay},
  };
  for (const auto& c : cases) EXPECT_EQ(select_mode(c.arg), c.mode) << c.arg.value_or("(none)");
}

TEST(CallerOrigin, OnlyTheApprovedOriginPasses) {
  EXPECT_EQ(approved_origin(), "chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/");
  EXPECT_EQ(approved_origin().size(), 52u);
  EXPECT_TRUE(check_caller_origin("chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/"));

  auto missing = check_caller_origin(std::nullopt);
  ASSERT_FALSE(missing);
  EXPECT_TRUE(missing.error().is(ErrorKind::PermissionDenied, msg::missing_origin));

  for (std::string_view refused : {
           "chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm",    // no trailing slash
           "chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm//",  // doubled slash
           "chrome-extension://NMHGOCNLEEBKOMCLCPBBDBINPGPBAKHM/",  // upper case
           "chrome-extension://aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/",  // another id
           " chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/",
           "",
           "--prepare-update=1",
       }) {
    auto result = check_caller_origin(refused);
    ASSERT_FALSE(result) << refused;
    EXPECT_TRUE(result.error().is(ErrorKind::PermissionDenied, msg::unapproved_extension)) << refused;
  }
}

TEST(ErrorReply, IsTheFixedFrameBody) {
  EXPECT_EQ(json::to_json_bytes(error_reply()),
            R"({"error":"Open Velmorantix and enable Browser connection","protocol":{"major":1,"minor":0},"type":"error"})");
}

}  // namespace
}  // namespace host
