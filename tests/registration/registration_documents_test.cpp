// Judging the marker and the manifest, the key paths, and the manifest text
// that repair writes: the platform-neutral part of registration.
#include <gtest/gtest.h>

#include "json/json.h"
#include "registration/registration.h"

namespace host {
namespace {

constexpr std::string_view origin = "chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/";

std::string manifest(std::string_view name, std::string_view description, std::string_view origins) {
  return std::string("{\"name\":\"") + std::string(name) + "\",\"description\":\"" + std::string(description) +
         "\",\"allowed_origins\":" + std::string(origins) + "}";
}

TEST(RegistrationMarker, AcceptsExactlyTheTwoHostNames) {
  for (const std::string_view host : {HOST_NAME_RELEASE, HOST_NAME_DEV}) {
    const std::string bytes = "{\"host\":\"" + std::string(host) + "\",\"other\":[1]}\n ";
    auto judged = judge_marker(bytes);
    ASSERT_TRUE(judged) << judged.error().message();
    EXPECT_EQ(judged->host_name, host);
    EXPECT_EQ(judged->marker.get("other")->as_array()->size(), 1u);
  }
}

TEST(RegistrationMarker, RefusesEveryOtherHost) {
  const std::string_view cases[] = {
      R"({"host":"com.velmorantix.browser_context "})",
      R"({"host":" com.velmorantix.browser_context"})",
      R"({"host":"COM.VELMORANTIX.BROWSER_CONTEXT"})",
      R"({"host":"com.velmorantix.browser_context.de"})",
      R"({"host":"com.velmorantix.browser_context.devx"})",
      R"({"host":"com.velmorantix.browser_context\u0000"})",
      R"({"host":""})",
      R"({"host":7})",
      R"({"host":null})",
      R"({"host":["com.velmorantix.browser_context"]})",
      R"({"Host":"com.velmorantix.browser_context"})",
      R"({})",
      R"(["com.velmorantix.browser_context"])",
      R"("com.velmorantix.browser_context")",
  };
  for (const auto bytes : cases) {
    auto judged = judge_marker(bytes);
    ASSERT_FALSE(judged) << bytes;
    EXPECT_TRUE(judged.error().is(ErrorKind::Other, msg::unowned_marker)) << bytes << ": " << judged.error().message();
  }
}

TEST(RegistrationMarker, InvalidJsonCarriesTheParserError) {
  for (const std::string_view bytes : {R"({"host":"com.velmorantix.browser_context"} x)", R"({"host":)", "",
                                       "\xEF\xBB\xBF{\"host\":\"com.velmorantix.browser_context\"}"}) {
    auto judged = judge_marker(bytes);
    ASSERT_FALSE(judged) << bytes;
    const auto parsed = json::parse_json(bytes);
    ASSERT_FALSE(parsed);
    EXPECT_EQ(judged.error().kind(), ErrorKind::Other);
    EXPECT_FALSE(judged.error().os_code());
    EXPECT_EQ(judged.error().message(), parsed.error().describe());
  }
}

TEST(RegistrationMarker, OnlyTheBooleanTrueEnables) {
  const std::pair<std::string_view, bool> cases[] = {
      {R"({"enabled":true})", true},     {R"({"enabled":false})", false}, {R"({"enabled":"true"})", false},
      {R"({"enabled":1})", false},       {R"({"enabled":null})", false},  {R"({})", false},
      {R"([{"enabled":true}])", false},  {R"({"Enabled":true})", false},
  };
  for (const auto& [bytes, enabled] : cases) {
    EXPECT_EQ(registration_enabled(json::parse_json(bytes).value()), enabled) << bytes;
  }
}

TEST(HostManifest, AcceptsThisInstallationsManifest) {
  for (const std::string_view host : {HOST_NAME_RELEASE, HOST_NAME_DEV}) {
    const std::string bytes = manifest(host, MANIFEST_DESCRIPTION, "[\"" + std::string(origin) + "\"]");
    auto judged = judge_manifest(bytes, host);
    ASSERT_TRUE(judged) << judged.error().message();
    EXPECT_EQ(*judged, json::parse_json(bytes).value());
  }
}

TEST(HostManifest, RefusesAnotherInstallationsManifest) {
  const std::string good_origins = "[\"" + std::string(origin) + "\"]";
  const std::string description(MANIFEST_DESCRIPTION);
  const std::string release(HOST_NAME_RELEASE);
  const std::string cases[] = {
      manifest(HOST_NAME_DEV, description, good_origins),
      manifest(release + " ", description, good_origins),
      manifest("COM.VELMORANTIX.BROWSER_CONTEXT", description, good_origins),
      manifest(release, description + " ", good_origins),
      manifest(release, "velmorantix coding context pilot", good_origins),
      manifest(release, description, "[\"" + std::string(origin) + "\",\"chrome-extension://other/\"]"),
      manifest(release, description, "[\"" + std::string(origin) + "\",\"" + std::string(origin) + "\"]"),
      manifest(release, description, "[]"),
      manifest(release, description, "\"" + std::string(origin) + "\""),
      manifest(release, description, "[\"chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm\"]"),
      manifest(release, description, "[\"CHROME-EXTENSION://NMHGOCNLEEBKOMCLCPBBDBINPGPBAKHM/\"]"),
      manifest(release, description, "[[\"" + std::string(origin) + "\"]]"),
      manifest(release, description, "null"),
      R"({"description":"Velmorantix coding context pilot","allowed_origins":["chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/"]})",
      R"({"name":"com.velmorantix.browser_context","allowed_origins":["chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/"]})",
      R"({"name":"com.velmorantix.browser_context","description":"Velmorantix coding context pilot"})",
      R"({"name":7,"description":"Velmorantix coding context pilot","allowed_origins":["chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/"]})",
      R"([{"name":"com.velmorantix.browser_context"}])",
  };
  for (const auto& bytes : cases) {
    auto judged = judge_manifest(bytes, HOST_NAME_RELEASE);
    ASSERT_FALSE(judged) << bytes;
    EXPECT_TRUE(judged.error().is(ErrorKind::PermissionDenied, msg::unowned_manifest))
        << bytes << ": " << judged.error().message();
  }
}

TEST(HostManifest, InvalidJsonCarriesTheParserError) {
  const std::string bytes = manifest(HOST_NAME_RELEASE, MANIFEST_DESCRIPTION, "[\"" + std::string(origin) + "\"]") + "}";
  auto judged = judge_manifest(bytes, HOST_NAME_RELEASE);
  ASSERT_FALSE(judged);
  EXPECT_EQ(judged.error().kind(), ErrorKind::Other);
  EXPECT_EQ(judged.error().message(), json::parse_json(bytes).error().describe());
}

TEST(BrowserRegistryKeys, ChromeThenEdgeFollowedByTheHostName) {
  EXPECT_EQ(browser_registry_keys(HOST_NAME_RELEASE),
            (std::array<std::string, 2>{
                "HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\com.velmorantix.browser_context",
                "HKCU\\Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.velmorantix.browser_context"}));
  EXPECT_EQ(browser_registry_keys(HOST_NAME_DEV),
            (std::array<std::string, 2>{
                "HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\com.velmorantix.browser_context.dev",
                "HKCU\\Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.velmorantix.browser_context.dev"}));
  EXPECT_EQ(manifest_file_name(HOST_NAME_DEV), "com.velmorantix.browser_context.dev.json");
}

LoadedRegistration loaded_with(std::string_view manifest_bytes) {
  LoadedRegistration loaded;
  loaded.host_name = HOST_NAME_RELEASE;
  loaded.manifest = json::parse_json(manifest_bytes).value();
  return loaded;
}

TEST(RenderManifest, FourMembersGiveEightLinesWithTheNewPath) {
  auto loaded = loaded_with(R"({"path":{"old":true},"name":"com.velmorantix.browser_context",
      "allowed_origins":["chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/"],
      "description":"Velmorantix coding context pilot"})");
  const std::string text = render_manifest(loaded, "C:\\Program Files\\Velmorantix\\host \"x\".exe");
  EXPECT_EQ(text,
            "{\n"
            "  \"allowed_origins\": [\n"
            "    \"chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/\"\n"
            "  ],\n"
            "  \"description\": \"Velmorantix coding context pilot\",\n"
            "  \"name\": \"com.velmorantix.browser_context\",\n"
            "  \"path\": \"C:\\\\Program Files\\\\Velmorantix\\\\host \\\"x\\\".exe\"\n"
            "}");
  // The manifest itself now carries the path, and rendering again is stable.
  EXPECT_EQ(loaded.manifest.get("path")->as_string(), "C:\\Program Files\\Velmorantix\\host \"x\".exe");
  EXPECT_EQ(render_manifest(loaded, "C:\\Program Files\\Velmorantix\\host \"x\".exe"), text);
}

TEST(RenderManifest, AddsAMissingPathInItsSortedPlaceAndKeepsOtherMembers) {
  auto loaded = loaded_with(R"({"name":"com.velmorantix.browser_context","zeta":[1,{"b":null,"a":-2}],
      "description":"Velmorantix coding context pilot","type":"stdio",
      "allowed_origins":["chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/"],"name2":1.5})");
  EXPECT_EQ(render_manifest(loaded, "D:\\h.exe"),
            "{\n"
            "  \"allowed_origins\": [\n"
            "    \"chrome-extension://nmhgocnleebkomclcpbbdbinpgpbakhm/\"\n"
            "  ],\n"
            "  \"description\": \"Velmorantix coding context pilot\",\n"
            "  \"name\": \"com.velmorantix.browser_context\",\n"
            "  \"name2\": 1.5,\n"
            "  \"path\": \"D:\\\\h.exe\",\n"
            "  \"type\": \"stdio\",\n"
            "  \"zeta\": [\n"
            "    1,\n"
            "    {\n"
            "      \"a\": -2,\n"
            "      \"b\": null\n"
            "    }\n"
            "  ]\n"
            "}");
}

}  // namespace
}  // namespace host
