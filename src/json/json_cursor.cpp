#include "json/json_cursor.h"

#include "json/json_scan.h"

namespace host::json {

JsonCursor::JsonCursor(std::string_view input) noexcept
    : begin_(input.data()), p_(input.data()), end_(input.data() + input.size()) {}

void JsonCursor::skip_whitespace() noexcept { p_ = detail::skip_ws(p_, end_); }

std::optional<char> JsonCursor::peek() const noexcept {
  if (p_ == end_) return std::nullopt;
  return *p_;
}

std::optional<JsonKind> JsonCursor::peek_kind() const noexcept {
  if (p_ == end_) return std::nullopt;
  switch (*p_) {
    case '{':
      return JsonKind::Object;
    case '[':
      return JsonKind::Array;
    case '"':
      return JsonKind::String;
    case 't':
    case 'f':
      return JsonKind::Bool;
    case 'n':
      return JsonKind::Null;
    default:
      if (*p_ == '-' || detail::is_digit(*p_)) return JsonKind::Number;
      return std::nullopt;
  }
}

std::expected<std::string_view, JsonError> JsonCursor::read_string_view() {
  if (p_ == end_) return std::unexpected(error_here(JsonErrorCategory::EofWhileParsingValue));
  if (*p_ != '"') return std::unexpected(error_here(JsonErrorCategory::ExpectedValue));
  ++p_;
  std::string_view text;
  detail::Fault fault{};
  if (!detail::scan_string<true>(p_, end_, scratch_, text, fault)) {
    return std::unexpected(error_at(fault.category, fault.at));
  }
  return text;
}

std::expected<std::string, JsonError> JsonCursor::read_string() {
  auto text = read_string_view();
  if (!text) return std::unexpected(text.error());
  return std::string(*text);
}

std::expected<JsonKind, JsonError> JsonCursor::skip_value() {
  enum class Expect { Value, Key, AfterValue };
  open_.clear();
  detail::Fault fault{};
  std::string unused;
  std::string_view unused_text;
  JsonKind outer = JsonKind::Null;  // kind of the value this call skips

  const auto eof_inside = [this] {
    return open_.back() == ']' ? JsonErrorCategory::EofWhileParsingArray : JsonErrorCategory::EofWhileParsingObject;
  };
  // A scalar that ran into the end of the input inside a container is
  // reported as the container's end of input, as parse_json does.
  const auto scalar_fault = [&] {
    if (fault.category == JsonErrorCategory::EofWhileParsingValue && fault.at == end_ && !open_.empty()) {
      fault.category = eof_inside();
    }
    return std::unexpected(error_at(fault.category, fault.at));
  };

  Expect expect = Expect::Value;
  for (;;) {
    if (expect == Expect::AfterValue && open_.empty()) return outer;
    p_ = detail::skip_ws(p_, end_);
    switch (expect) {
      case Expect::Value: {
        if (p_ == end_) {
          return std::unexpected(
              error_here(open_.empty() ? JsonErrorCategory::EofWhileParsingValue : eof_inside()));
        }
        const bool top = open_.empty();
        const char c = *p_;
        if (c == '{' || c == '[') {
          if (top) outer = c == '{' ? JsonKind::Object : JsonKind::Array;
          const char close = c == '{' ? '}' : ']';
          ++p_;
          p_ = detail::skip_ws(p_, end_);
          if (p_ != end_ && *p_ == close) {
            ++p_;  // empty container: a complete value
            expect = Expect::AfterValue;
            break;
          }
          open_.push_back(close);
          expect = close == '}' ? Expect::Key : Expect::Value;
          break;
        }
        JsonKind kind;
        switch (c) {
          case '"':
            ++p_;
            if (!detail::scan_string<false>(p_, end_, unused, unused_text, fault)) return scalar_fault();
            kind = JsonKind::String;
            break;
          case 't':
            if (!detail::scan_literal(p_, end_, "true", fault)) return scalar_fault();
            kind = JsonKind::Bool;
            break;
          case 'f':
            if (!detail::scan_literal(p_, end_, "false", fault)) return scalar_fault();
            kind = JsonKind::Bool;
            break;
          case 'n':
            if (!detail::scan_literal(p_, end_, "null", fault)) return scalar_fault();
            kind = JsonKind::Null;
            break;
          default: {
            if (c != '-' && !detail::is_digit(c)) {
              return std::unexpected(error_here(JsonErrorCategory::ExpectedValue));
            }
            detail::NumberToken token;
            if (!detail::scan_number(p_, end_, token, fault)) return scalar_fault();
            kind = JsonKind::Number;
            break;
          }
        }
        if (top) outer = kind;
        expect = Expect::AfterValue;
        break;
      }
      case Expect::Key: {
        if (p_ == end_) return std::unexpected(error_here(JsonErrorCategory::EofWhileParsingObject));
        if (*p_ != '"') return std::unexpected(error_here(JsonErrorCategory::KeyMustBeString));
        ++p_;
        if (!detail::scan_string<false>(p_, end_, unused, unused_text, fault)) return scalar_fault();
        p_ = detail::skip_ws(p_, end_);
        if (p_ == end_) return std::unexpected(error_here(JsonErrorCategory::EofWhileParsingObject));
        if (*p_ != ':') return std::unexpected(error_here(JsonErrorCategory::ExpectedColon));
        ++p_;
        expect = Expect::Value;
        break;
      }
      case Expect::AfterValue: {
        if (p_ == end_) return std::unexpected(error_here(eof_inside()));
        const char close = open_.back();
        if (*p_ == ',') {
          ++p_;
          p_ = detail::skip_ws(p_, end_);
          if (p_ != end_ && *p_ == close) return std::unexpected(error_here(JsonErrorCategory::TrailingComma));
          expect = close == '}' ? Expect::Key : Expect::Value;
          break;
        }
        if (*p_ == close) {
          ++p_;
          open_.pop_back();
          break;  // still AfterValue: the container was a value of its parent
        }
        return std::unexpected(error_here(close == ']' ? JsonErrorCategory::ExpectedArrayCommaOrEnd
                                                       : JsonErrorCategory::ExpectedObjectCommaOrEnd));
      }
    }
  }
}

}  // namespace host::json
