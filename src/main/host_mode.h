// What the first command-line argument asks the host to do, and the caller
// origin check of relay mode.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json/json.h"
#include "main/host_error.h"

namespace host {

enum class HostMode { RepairRegistration, RemoveRegistration, PrepareUpdate, Relay };

// The three switches are matched whole and byte for byte; anything else, an
// absent argument included, is relay mode.
HostMode select_mode(std::optional<std::string_view> first_argument);

// The only browser extension the host serves.
inline constexpr std::string_view APPROVED_EXTENSION_ID = "nmhgocnleebkomclcpbbdbinpgpbakhm";

// "chrome-extension://" + APPROVED_EXTENSION_ID + "/", 52 bytes.
std::string approved_origin();

// True when origin equals approved_origin() byte for byte: no case folding,
// no trimming, no slash normalisation.
bool is_approved_origin(std::string_view origin);

// The origin check of relay mode: "Missing extension origin" without an
// argument, "Unapproved extension" for any other text.
HostResult<void> check_caller_origin(std::optional<std::string_view> first_argument);

// {"major":1,"minor":0}, both unsigned integers.
json::JsonValue protocol_version();

// The one frame the host writes to the browser on its own behalf. It never
// varies and carries nothing of the failure that caused it.
json::JsonValue error_reply();

}  // namespace host
