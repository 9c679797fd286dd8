// RuntimeEndpoint::parse on any bytes, cross-checked against parse_json:
// the decoder reads the same grammar member by member, so where parse_json
// builds a tree the two must agree.
// - The decoder accepts a document only if parse_json does too, except
//   where parse_json refuses what the decoder never builds: nesting deeper
//   than 127 and numbers out of range inside skipped members.
// - When both accept, the record is the tree's `endpoint` and `nonce`
//   (object form) or its two strings (array form).
// - When parse_json accepts a tree of the right shape, the decoder accepts
//   it too, unless a field name was repeated (the tree keeps the last
//   value; the decoder refuses the document, or earlier on a repeated
//   name's first value that is not a string).
#include <cstddef>
#include <cstdint>
#include <optional>

#include "app_link/runtime_endpoint.h"
#include "fuzz_support.h"
#include "json/json.h"

namespace {

using host::RuntimeEndpoint;
using host::fuzz::check;
using host::json::JsonErrorCategory;
using host::json::JsonValue;

std::optional<RuntimeEndpoint> record_of(const JsonValue& tree) {
  if (tree.is_object()) {
    const JsonValue* endpoint = tree.get("endpoint");
    const JsonValue* nonce = tree.get("nonce");
    if (endpoint == nullptr || nonce == nullptr || !endpoint->is_string() || !nonce->is_string()) return std::nullopt;
    return RuntimeEndpoint{std::string(*endpoint->as_string()), std::string(*nonce->as_string())};
  }
  if (const auto* array = tree.as_array()) {
    if (array->size() != 2 || !(*array)[0].is_string() || !(*array)[1].is_string()) return std::nullopt;
    return RuntimeEndpoint{std::string(*(*array)[0].as_string()), std::string(*(*array)[1].as_string())};
  }
  return std::nullopt;
}

bool starts_with(const std::string& text, std::string_view prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = host::fuzz::as_text(data, size);
  const auto decoded = RuntimeEndpoint::parse(input);
  const auto tree = host::json::parse_json(input);

  if (!decoded) {
    check(decoded.error().kind() == host::ErrorKind::Other, "a decode fault is not of kind Other");
    check(!decoded.error().message().empty(), "a decode fault without a description");
  }
  if (!tree) {
    const auto category = tree.error().category;
    const bool beyond_the_tree =
        category == JsonErrorCategory::RecursionLimitExceeded || category == JsonErrorCategory::NumberOutOfRange;
    check(!decoded || beyond_the_tree, "the decoder accepts a document that parse_json refuses");
    return 0;
  }

  const auto expected = record_of(*tree);
  if (decoded) {
    check(expected.has_value(), "the decoder accepts a document of the wrong shape");
    check(*decoded == *expected, "the decoded record differs from the tree's members");
    check(host::fuzz::is_valid_utf8(decoded->endpoint) && host::fuzz::is_valid_utf8(decoded->nonce),
          "a decoded field holds invalid UTF-8");
  } else if (expected) {
    const std::string& why = decoded.error().message();
    check(tree->is_object() && (starts_with(why, "duplicate field") || starts_with(why, "invalid type")),
          "the decoder refuses a well-formed record");
  }
  return 0;
}
