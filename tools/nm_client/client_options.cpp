#include "nm_client/client_options.h"

#include "main/wide_text.h"

namespace nm_client {
namespace {

std::string utf8(std::wstring_view text) {
  return host::from_wide(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

// Decimal digits only, at most one hour.
std::optional<unsigned> parse_milliseconds(std::wstring_view text) {
  if (text.empty() || text.size() > 7) return std::nullopt;
  unsigned value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - L'0');
  }
  if (value > 3600000) return std::nullopt;
  return value;
}

}  // namespace

std::variant<ClientOptions, ShowUsage, std::string> parse_options(const std::vector<std::wstring_view>& arguments) {
  ClientOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring_view argument = arguments[i];
    if (argument == L"--help" || argument == L"-h") return ShowUsage{};
    if (argument == L"--host") {
      if (i + 1 == arguments.size()) return std::string("--host needs the path of the host executable");
      if (options.host) return std::string("--host given twice");
      options.host = std::wstring(arguments[++i]);
    } else if (argument == L"--linger-ms") {
      const auto value = i + 1 < arguments.size() ? parse_milliseconds(arguments[++i]) : std::nullopt;
      if (!value) return std::string("--linger-ms needs a number of milliseconds from 0 to 3600000");
      options.linger_ms = *value;
    } else if (argument.starts_with(L"-")) {
      return "unknown option " + utf8(argument);
    } else {
      if (options.messages_file) return std::string("only one messages file can be given");
      options.messages_file = std::wstring(argument);
    }
  }
  return options;
}

}  // namespace nm_client
