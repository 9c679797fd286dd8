// Decoding of the runtime endpoint file, straight from the bytes with the
// JSON cursor: no tree is built, members that the host does not know are
// skipped without recursion, and the first fault met ends the decode.
#include "app_link/runtime_endpoint.h"

#include <optional>
#include <utility>

#include "json/json_cursor.h"

namespace host {

namespace {

using json::JsonCursor;
using json::JsonError;
using json::JsonErrorCategory;
using json::JsonKind;

constexpr std::string_view kRecordName = "struct RuntimeEndpoint";

std::string_view kind_name(JsonKind kind) {
  switch (kind) {
    case JsonKind::Null:
      return "null";
    case JsonKind::Bool:
      return "boolean";
    case JsonKind::Number:
      return "number";
    case JsonKind::String:
      return "string";
    case JsonKind::Array:
      return "array";
    case JsonKind::Object:
      break;
  }
  return "object";
}

class Decoder {
 public:
  explicit Decoder(std::string_view bytes) : input_size_(bytes.size()), cursor_(bytes) {}

  HostResult<RuntimeEndpoint> run() {
    cursor_.skip_whitespace();
    const std::size_t start = cursor_.offset();
    const auto kind = cursor_.peek_kind();
    if (!kind) return syntax_here(cursor_.at_end() ? JsonErrorCategory::EofWhileParsingValue
                                                   : JsonErrorCategory::ExpectedValue);
    if (*kind != JsonKind::Object && *kind != JsonKind::Array) {
      // A scalar is read whole first, so that a malformed one reports its
      // own syntax fault.
      auto skipped = cursor_.skip_value();
      if (!skipped) return syntax(skipped.error());
      return std::unexpected(
          fault("invalid type: " + std::string(kind_name(*kind)) + ", expected " + std::string(kRecordName), start));
    }
    auto record = *kind == JsonKind::Object ? decode_object() : decode_array();
    if (!record) return record;
    cursor_.skip_whitespace();
    if (!cursor_.at_end()) return syntax_here(JsonErrorCategory::TrailingCharacters);
    return record;
  }

 private:
  enum class Field { Endpoint, Nonce, Other };

  static HostError fault(std::string text, std::size_t offset) {
    text += " at byte ";
    text += std::to_string(offset);
    return HostError::described(std::move(text));
  }
  static std::unexpected<HostError> syntax(const JsonError& error) {
    return std::unexpected(HostError::described(error.describe()));
  }
  std::unexpected<HostError> syntax_here(JsonErrorCategory category) const {
    return syntax(cursor_.error_here(category));
  }
  // Inside a container, running out of input is the container's end of
  // input, as parse_json reports it.
  std::unexpected<HostError> syntax_inside(JsonError error, JsonErrorCategory container_eof) const {
    if (error.category == JsonErrorCategory::EofWhileParsingValue && error.offset == input_size_) {
      error.category = container_eof;
    }
    return syntax(error);
  }

  // The value at the cursor, which must be a string. Containers are refused
  // at their opening bracket; other scalars are read first, so that a
  // malformed one reports its syntax fault rather than its type.
  HostResult<std::string> read_string_value(JsonErrorCategory container_eof) {
    const std::size_t start = cursor_.offset();
    const auto kind = cursor_.peek_kind();
    if (!kind) return syntax_here(cursor_.at_end() ? container_eof : JsonErrorCategory::ExpectedValue);
    if (*kind == JsonKind::String) {
      auto text = cursor_.read_string();
      if (!text) return syntax(text.error());
      return std::move(*text);
    }
    if (*kind != JsonKind::Array && *kind != JsonKind::Object) {
      auto skipped = cursor_.skip_value();
      if (!skipped) return syntax_inside(skipped.error(), container_eof);
    }
    return std::unexpected(fault("invalid type: " + std::string(kind_name(*kind)) + ", expected a string", start));
  }

  HostResult<RuntimeEndpoint> decode_object() {
    constexpr auto eof = JsonErrorCategory::EofWhileParsingObject;
    std::optional<std::string> endpoint;
    std::optional<std::string> nonce;
    cursor_.advance();  // '{'
    cursor_.skip_whitespace();
    if (cursor_.peek() == '}') {
      cursor_.advance();
    } else {
      for (;;) {
        if (cursor_.at_end()) return syntax_here(eof);
        if (cursor_.peek() != '"') return syntax_here(JsonErrorCategory::KeyMustBeString);
        const std::size_t name_start = cursor_.offset();
        auto name = cursor_.read_string_view();
        if (!name) return syntax(name.error());
        // Names are compared after their escapes are resolved.
        const Field field = *name == "endpoint" ? Field::Endpoint : *name == "nonce" ? Field::Nonce : Field::Other;
        // A repeated field is refused before anything of its value is read.
        if (field == Field::Endpoint && endpoint) return std::unexpected(fault("duplicate field `endpoint`", name_start));
        if (field == Field::Nonce && nonce) return std::unexpected(fault("duplicate field `nonce`", name_start));

        cursor_.skip_whitespace();
        if (cursor_.at_end()) return syntax_here(eof);
        if (cursor_.peek() != ':') return syntax_here(JsonErrorCategory::ExpectedColon);
        cursor_.advance();
        cursor_.skip_whitespace();

        if (field == Field::Other) {
          auto skipped = cursor_.skip_value();
          if (!skipped) return syntax_inside(skipped.error(), eof);
        } else {
          auto text = read_string_value(eof);
          if (!text) return std::unexpected(std::move(text.error()));
          (field == Field::Endpoint ? endpoint : nonce) = std::move(*text);
        }

        cursor_.skip_whitespace();
        if (cursor_.at_end()) return syntax_here(eof);
        if (cursor_.peek() == ',') {
          cursor_.advance();
          cursor_.skip_whitespace();
          if (cursor_.peek() == '}') return syntax_here(JsonErrorCategory::TrailingComma);
          continue;
        }
        if (cursor_.peek() == '}') {
          cursor_.advance();
          break;
        }
        return syntax_here(JsonErrorCategory::ExpectedObjectCommaOrEnd);
      }
    }
    if (!endpoint) return std::unexpected(fault("missing field `endpoint`", cursor_.offset()));
    if (!nonce) return std::unexpected(fault("missing field `nonce`", cursor_.offset()));
    return RuntimeEndpoint{std::move(*endpoint), std::move(*nonce)};
  }

  HostError invalid_length(std::size_t found) const {
    return fault("invalid length " + std::to_string(found) + ", expected " + std::string(kRecordName) +
                     " with 2 elements",
                 cursor_.offset());
  }

  HostResult<RuntimeEndpoint> decode_array() {
    constexpr auto eof = JsonErrorCategory::EofWhileParsingArray;
    cursor_.advance();  // '['
    cursor_.skip_whitespace();
    if (cursor_.peek() == ']') return std::unexpected(invalid_length(0));

    auto endpoint = read_string_value(eof);
    if (!endpoint) return std::unexpected(std::move(endpoint.error()));
    cursor_.skip_whitespace();
    if (cursor_.at_end()) return syntax_here(eof);
    if (cursor_.peek() == ']') return std::unexpected(invalid_length(1));
    if (cursor_.peek() != ',') return syntax_here(JsonErrorCategory::ExpectedArrayCommaOrEnd);
    cursor_.advance();
    cursor_.skip_whitespace();
    if (cursor_.peek() == ']') return syntax_here(JsonErrorCategory::TrailingComma);

    auto nonce = read_string_value(eof);
    if (!nonce) return std::unexpected(std::move(nonce.error()));
    // The array must close now; a further element is not looked at.
    cursor_.skip_whitespace();
    if (cursor_.at_end()) return syntax_here(eof);
    if (cursor_.peek() == ',') {
      cursor_.advance();
      cursor_.skip_whitespace();
      if (cursor_.peek() == ']') return syntax_here(JsonErrorCategory::TrailingComma);
      return syntax_here(JsonErrorCategory::TrailingCharacters);
    }
    if (cursor_.peek() != ']') return syntax_here(JsonErrorCategory::TrailingCharacters);
    cursor_.advance();
    return RuntimeEndpoint{std::move(*endpoint), std::move(*nonce)};
  }

  std::size_t input_size_;
  JsonCursor cursor_;
};

}  // namespace

HostResult<RuntimeEndpoint> RuntimeEndpoint::parse(std::string_view bytes) { return Decoder(bytes).run(); }

}  // namespace host
