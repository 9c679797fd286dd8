// parse_json against an independent strict parser (simdjson's DOM API),
// used only here. Inside the domain where both define the same answer they
// must agree on accepting the input, and on what they accept: the
// reference tree, taken member by member with later duplicates replacing
// earlier ones as parse_json does, must equal parse_json's value.
//
// Left out, because the two define different answers there:
// - nesting deeper than 127 containers: parse_json refuses it, the
//   reference accepts up to 1024 levels;
// - integer literals of more than 18 digits: parse_json turns integers
//   beyond 64 bits into floats, the reference refuses them (and the 19 and
//   20-digit ones near the limits are not worth telling apart here);
// - from the comparison of values only: `-0`, a float negative zero for
//   parse_json and the integer 0 for the reference.
// Duplicate keys stay inside the domain: both accept them, and the
// reference tree is built with the same "last one wins" rule.
#include <simdjson.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "json/json.h"

namespace {

using host::fuzz::check;
using host::json::JsonValue;

struct Domain {
  bool inside = true;             // both parsers define the same accept/reject answer
  bool comparable_values = true;  // and the same values
};

// A lexical pass outside strings, good enough to classify any input (a
// malformed one included): the deepest bracket nesting and each run of
// number characters.
Domain classify(std::string_view input) {
  Domain domain;
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < input.size(); ++i) {
    const char c = input[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > host::json::MAX_NESTING_DEPTH) domain.inside = false;
    } else if (c == ']' || c == '}') {
      --depth;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      std::size_t end = i;
      bool integer = true;
      std::size_t digits = 0;
      while (end < input.size()) {
        const char d = input[end];
        if (d >= '0' && d <= '9') {
          ++digits;
        } else if (d == '.' || d == 'e' || d == 'E' || d == '+' || (d == '-' && end != i)) {
          integer = false;
        } else if (d != '-') {
          break;
        }
        ++end;
      }
      const std::string_view run = input.substr(i, end - i);
      if (integer && digits > 18) domain.inside = false;
      if (integer && run.size() >= 2 && run[0] == '-' && run.find_first_not_of('0', 1) == std::string_view::npos) {
        domain.comparable_values = false;
      }
      i = end - 1;
    }
  }
  return domain;
}

JsonValue from_reference(simdjson::dom::element element) {
  switch (element.type()) {
    case simdjson::dom::element_type::ARRAY: {
      host::json::JsonArray array;
      for (simdjson::dom::element item : element.get_array()) array.push_back(from_reference(item));
      return JsonValue(std::move(array));
    }
    case simdjson::dom::element_type::OBJECT: {
      JsonValue object = JsonValue::empty_object();
      for (simdjson::dom::key_value_pair member : element.get_object()) {
        object.set(member.key, from_reference(member.value));
      }
      return object;
    }
    case simdjson::dom::element_type::INT64:
      return JsonValue(std::int64_t(element.get_int64()));
    case simdjson::dom::element_type::UINT64:
      return JsonValue(std::uint64_t(element.get_uint64()));
    case simdjson::dom::element_type::DOUBLE: {
      const auto number = host::json::JsonNumber::from_double(double(element.get_double()));
      check(number.has_value(), "the reference produced a non-finite double");
      return JsonValue(*number);
    }
    case simdjson::dom::element_type::STRING:
      return JsonValue(std::string_view(element.get_string()));
    case simdjson::dom::element_type::BOOL:
      return JsonValue(bool(element.get_bool()));
    case simdjson::dom::element_type::NULL_VALUE:
      break;
  }
  return JsonValue();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = host::fuzz::as_text(data, size);
  const Domain domain = classify(input);
  if (!domain.inside) return 0;

  static simdjson::dom::parser reference;
  const simdjson::padded_string padded(input);
  simdjson::dom::element element;
  const bool reference_accepts = reference.parse(padded).get(element) == simdjson::SUCCESS;
  const auto ours = host::json::parse_json(input);

  if (reference_accepts != ours.has_value()) {
    host::fuzz::fail(reference_accepts ? "parse_json refuses what the reference accepts"
                           : "parse_json accepts what the reference refuses");
  }
  if (reference_accepts && domain.comparable_values) {
    check(from_reference(element) == *ours, "parse_json's value differs from the reference's");
  }
  return 0;
}
