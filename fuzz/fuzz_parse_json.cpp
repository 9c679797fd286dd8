// parse_json on any bytes. For every accepted document:
// - the compact text parses back to an equal value and writes back to the
//   same bytes (the relay's output is a fixed point);
// - the pretty text parses back to an equal value;
// - every string and key is well-formed UTF-8.
// A refused document reports a position inside the input.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "json/json.h"

using host::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = host::fuzz::as_text(data, size);
  const auto parsed = host::json::parse_json(input);
  if (!parsed) {
    check(parsed.error().offset <= size, "error offset beyond the input");
    check(!parsed.error().message().empty(), "error without a message");
    return 0;
  }

  host::fuzz::each_string(*parsed, [](std::string_view text) {
    check(host::fuzz::is_valid_utf8(text), "accepted string holds invalid UTF-8");
  });

  const std::string compact = host::json::to_json_bytes(*parsed);
  const auto reparsed = host::json::parse_json(compact);
  check(reparsed.has_value(), "compact text does not parse");
  check(*reparsed == *parsed, "compact text parses to a different value");
  check(host::json::to_json_bytes(*reparsed) == compact, "compact text is not written back identically");

  const std::string pretty = host::json::to_pretty_json_bytes(*parsed);
  const auto pretty_parsed = host::json::parse_json(pretty);
  check(pretty_parsed.has_value(), "pretty text does not parse");
  check(*pretty_parsed == *parsed, "pretty text parses to a different value");
  check(pretty.find('\r') == std::string::npos, "pretty text holds a carriage return");
  return 0;
}
