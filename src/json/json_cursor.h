// A low-level reader over the JSON grammar, for decoding typed documents
// member by member without building a tree. It lexes exactly like
// parse_json (same whitespace, strings, escapes, numbers, literals) and can
// skip whole values of any nesting depth without recursing.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/json.h"

namespace host::json {

class JsonCursor {
 public:
  // The cursor reads `input` in place; it must outlive the cursor.
  explicit JsonCursor(std::string_view input) noexcept;

  // Advances past space, tab, line feed and carriage return.
  void skip_whitespace() noexcept;
  bool at_end() const noexcept { return p_ == end_; }
  // The byte at the current position; empty at the end of the input.
  std::optional<char> peek() const noexcept;
  // Consumes one byte. Precondition: not at the end.
  void advance() noexcept { ++p_; }
  // Byte offset of the current position from the start of the input.
  std::size_t offset() const noexcept { return static_cast<std::size_t>(p_ - begin_); }

  // The kind of value that the byte at the current position starts, judged
  // by that byte alone: '{' object, '[' array, '"' string, '-' or a digit
  // number, 't'/'f' bool, 'n' null. Empty at the end of the input or for a
  // byte that starts no value.
  std::optional<JsonKind> peek_kind() const noexcept;

  // Reads one string at the current position (which must hold '"'),
  // resolving escapes and validating its content.
  std::expected<std::string, JsonError> read_string();
  // The same, returning a view: into the input when the string has no
  // escapes, else into a buffer of the cursor that the next read reuses.
  std::expected<std::string_view, JsonError> read_string_view();

  // Skips whitespace and then one whole value of any kind and depth,
  // checking its syntax, and returns its kind. Containers are tracked on an
  // explicit stack of open brackets (one byte per level, so memory stays
  // below the input's size); the call never recurses. Numbers are checked
  // against the grammar only: a value that is never built cannot be out of
  // range.
  std::expected<JsonKind, JsonError> skip_value();

  // An error of `category` at the current position.
  JsonError error_here(JsonErrorCategory category) const noexcept {
    return JsonError{category, offset()};
  }

 private:
  JsonError error_at(JsonErrorCategory category, const char* at) const noexcept {
    return JsonError{category, static_cast<std::size_t>(at - begin_)};
  }

  const char* begin_;
  const char* p_;
  const char* end_;
  std::string scratch_;
  std::vector<char> open_;  // closing bracket of each open container
};

}  // namespace host::json
