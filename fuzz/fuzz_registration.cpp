// The judgement of the registration marker and the host manifest from their
// bytes, against the ownership rules computed from parse_json's tree. The
// first input byte picks the marker host name the manifest is judged
// against (release or development); the rest is the document, judged both
// as a marker and as a manifest. A manifest judged as owned is then
// rendered the way repair rewrites it, and the result must be a manifest
// of this installation again, byte-identical on a second rendering.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "json/json.h"
#include "main/host_mode.h"
#include "registration/registration.h"

namespace {

using host::ErrorKind;
using host::fuzz::check;
using host::json::JsonValue;

// Backslashes, a space and a character beyond ASCII: what escaping has to
// carry through the pretty form.
constexpr std::string_view kExecutablePath = "C:\\Users\\R\xC3\xA9my\\App Data\\browser-context-host.exe";

bool is_string_equal(const JsonValue* member, std::string_view text) {
  return member != nullptr && member->as_string() == text;
}

bool owned_manifest(const JsonValue& tree, std::string_view host_name) {
  const JsonValue only_approved(host::json::JsonArray{JsonValue(host::approved_origin())});
  const JsonValue* origins = tree.get("allowed_origins");
  return is_string_equal(tree.get("name"), host_name) &&
         is_string_equal(tree.get("description"), host::MANIFEST_DESCRIPTION) && origins != nullptr &&
         *origins == only_approved;
}

void check_marker(std::string_view bytes, const std::expected<JsonValue, host::json::JsonError>& tree) {
  const auto judged = host::judge_marker(bytes);
  if (!tree) {
    check(!judged && judged.error().kind() == ErrorKind::Other && judged.error().message() == tree.error().describe(),
          "an unparsable marker does not carry the parser's description");
    return;
  }
  const JsonValue* host_member = tree->get("host");
  const bool owned =
      is_string_equal(host_member, host::HOST_NAME_RELEASE) || is_string_equal(host_member, host::HOST_NAME_DEV);
  if (!owned) {
    check(!judged && judged.error().is(ErrorKind::Other, host::msg::unowned_marker),
          "a marker of another installation was not refused as unowned");
    return;
  }
  check(judged.has_value(), "a marker of this installation was refused");
  check(judged->host_name == *host_member->as_string() && judged->marker == *tree,
        "the judged marker differs from the document");
  const JsonValue* enabled = tree->get("enabled");
  check(host::registration_enabled(judged->marker) == (enabled != nullptr && enabled->as_bool() == true),
        "enabled is not exactly the JSON true");
}

void check_manifest(std::string_view bytes, const std::expected<JsonValue, host::json::JsonError>& tree,
                    std::string_view host_name) {
  const auto judged = host::judge_manifest(bytes, host_name);
  if (!tree) {
    check(!judged && judged.error().kind() == ErrorKind::Other && judged.error().message() == tree.error().describe(),
          "an unparsable manifest does not carry the parser's description");
    return;
  }
  if (!owned_manifest(*tree, host_name)) {
    check(!judged && judged.error().is(ErrorKind::PermissionDenied, host::msg::unowned_manifest),
          "a manifest of another installation was not refused as unowned");
    return;
  }
  check(judged.has_value() && *judged == *tree, "a manifest of this installation was refused or changed");

  host::LoadedRegistration registration;
  registration.host_name = std::string(host_name);
  registration.manifest = *judged;
  const std::string rendered = host::render_manifest(registration, kExecutablePath);
  check(host::render_manifest(registration, kExecutablePath) == rendered, "rendering twice gives other bytes");

  JsonValue expected = *tree;
  check(expected.set("path", JsonValue(kExecutablePath)), "the manifest is not an object");
  const auto reread = host::judge_manifest(rendered, host_name);
  check(reread.has_value(), "the rewritten manifest is no longer this installation's");
  check(*reread == expected, "the rewritten manifest lost or changed a member");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view host_name = (data[0] & 1) ? host::HOST_NAME_DEV : host::HOST_NAME_RELEASE;
  const std::string_view bytes = host::fuzz::as_text(data + 1, size - 1);
  const auto tree = host::json::parse_json(bytes);
  check_marker(bytes, tree);
  check_manifest(bytes, tree, host_name);
  return 0;
}
