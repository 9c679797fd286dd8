// nm-client's command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace nm_client {

inline constexpr std::string_view usage =
    "usage: nm-client.exe [--host <path of browser-context-host.exe>] [--linger-ms N] [<messages file>]\n"
    "Starts the host as a browser does, with the approved extension origin, and sends it each line of the\n"
    "messages file (or of standard input) as one native message. Every frame the host sends back is printed\n"
    "on standard output as one JSON line; notes and the host's end go to standard error.\n"
    "The host defaults to browser-context-host.exe beside nm-client.exe. After the last line nm-client keeps\n"
    "the host's input open until the host has sent nothing for N milliseconds (default 1000), so that the\n"
    "answers still arrive, then closes it, which ends the relay.\n"
    "Exit codes: 0 the relay ended when the input did; 1 the host sent its error reply; 2 usage;\n"
    "3 the host or the file could not be opened; 4 the host ended first (the application's side);\n"
    "5 as 0, with lines refused; 6 the host broke its protocol or did not end.\n";

struct ClientOptions {
  std::optional<std::wstring> host;           // the host executable; empty: beside nm-client
  std::optional<std::wstring> messages_file;  // empty: standard input
  unsigned linger_ms = 1000;                  // quiet time after the last line before the input is closed
};

struct ShowUsage {};  // --help

// The options, ShowUsage for --help, or the text of a usage error.
std::variant<ClientOptions, ShowUsage, std::string> parse_options(const std::vector<std::wstring_view>& arguments);

}  // namespace nm_client
