// The names under which the browsers find this host: the two host names the
// desktop application may install, and the per-user registry folders of the
// two browsers in which a key named after the host points at its manifest.
// Platform-neutral: shared by the registry lookup and the registration
// documents.
#pragma once

#include <string_view>

namespace host {

inline constexpr std::string_view HOST_NAME_RELEASE = "com.velmorantix.browser_context";
inline constexpr std::string_view HOST_NAME_DEV = "com.velmorantix.browser_context.dev";

// In the form reg.exe takes: "HKCU\" names HKEY_CURRENT_USER. Each is
// followed directly by the host name.
inline constexpr std::string_view CHROME_HOSTS_KEY = "HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\";
inline constexpr std::string_view EDGE_HOSTS_KEY = "HKCU\\Software\\Microsoft\\Edge\\NativeMessagingHosts\\";

static_assert(HOST_NAME_RELEASE.size() == 31 && HOST_NAME_DEV.size() == 35);
static_assert(CHROME_HOSTS_KEY.size() == 49 && EDGE_HOSTS_KEY.size() == 50);

}  // namespace host
