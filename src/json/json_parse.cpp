// parse_json: the strict tree parser.
//
// One loop without recursion; the open containers (at most 127, the nesting
// limit) sit in a fixed array of frames. Elements and members of the open
// containers are collected on one shared value stack and moved into an
// exactly sized container when it closes; an object's members are then
// sorted once and duplicate keys collapsed, the last occurrence winning.
// Memory stays proportional to the input: every value costs at least one
// input byte.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <utility>

#include "json/json.h"
#include "json/json_scan.h"
#include "json/per_thread.h"

namespace host::json {

namespace {

using detail::Fault;
using detail::NumberToken;

constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The decimal exponent of the first significant digit of a float literal,
// or a huge negative number when every digit is zero. Used only to tell
// overflow from underflow when the conversion reports a value out of range.
std::int64_t leading_exponent(const NumberToken& t) {
  const char* p = t.begin + (t.negative ? 1 : 0);
  const int integer_digits = t.digits - t.fraction_digits;
  if (*p != '0') return integer_digits - 1 + t.exponent;
  const char* fraction = p + 2;  // past "0."
  for (int j = 0; j < t.fraction_digits; ++j) {
    if (fraction[j] != '0') return -(j + 1) + t.exponent;
  }
  return INT64_MIN / 2;
}

// The number a scanned literal stands for, by the representation rules:
// plain integers are unsigned or negative when they fit, everything else
// (including -0 and integers too large) a float.
bool convert_number(const NumberToken& t, JsonValue& out, Fault& fault) {
  if (t.integer) {
    if (t.digits <= 19) {
      if (!t.negative) {
        detail::Access::set_number(out, JsonNumber::from_unsigned(t.mantissa));
        return true;
      }
      if (t.mantissa == 0) {
        detail::Access::set_number(out, *JsonNumber::from_double(-0.0));
        return true;
      }
      constexpr std::uint64_t int64_min_magnitude = std::uint64_t{1} << 63;
      if (t.mantissa <= int64_min_magnitude) {
        // Negated in unsigned arithmetic: 2^63 has no positive int64_t.
        detail::Access::set_number(
            out, JsonNumber::from_signed(static_cast<std::int64_t>(std::uint64_t{0} - t.mantissa)));
        return true;
      }
      // A 19-digit magnitude above 2^63 is a float.
    }
    if (t.digits == 20) {
      std::uint64_t v = 0;
      bool overflow = false;
      for (const char* d = t.begin + (t.negative ? 1 : 0); d != t.end; ++d) {
        const auto digit = static_cast<std::uint64_t>(*d - '0');
        // v * 10 + digit fits exactly when v <= (max - digit) / 10.
        if (v > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
          overflow = true;
          break;
        }
        v = v * 10 + digit;
      }
      if (!overflow && !t.negative) {
        detail::Access::set_number(out, JsonNumber::from_unsigned(v));
        return true;
      }
      // A 20-digit magnitude is at least 10^19 > 2^63: never negative.
    }
  } else if (t.digits <= 19 && t.mantissa <= (std::uint64_t{1} << 53)) {
    // Both the digits and the power of ten are exact doubles, so one
    // correctly rounded operation gives the correctly rounded result.
    const std::int64_t e = t.exponent - t.fraction_digits;
    if (e >= -22 && e <= 22) {
      double d = static_cast<double>(t.mantissa);
      d = e < 0 ? d / kExactPowersOfTen[-e] : d * kExactPowersOfTen[e];
      detail::Access::set_number(out, *JsonNumber::from_double(t.negative ? -d : d));
      return true;
    }
  }
  double d = 0;
  const auto result = std::from_chars(t.begin, t.end, d, std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    // Reported for overflow and underflow alike, with d untouched.
    if (leading_exponent(t) > 0) {
      fault = {JsonErrorCategory::NumberOutOfRange, t.begin};
      return false;
    }
    d = t.negative ? -0.0 : 0.0;
  } else if (result.ec != std::errc() || result.ptr != t.end) {
    fault = {JsonErrorCategory::InvalidNumber, t.begin};  // the grammar was checked: not expected
    return false;
  }
  const auto number = JsonNumber::from_double(d);
  if (!number) {
    fault = {JsonErrorCategory::NumberOutOfRange, t.begin};
    return false;
  }
  detail::Access::set_number(out, *number);
  return true;
}

// An object's key/value pair as its members are ordered: by the key's first
// eight bytes, then the whole key, then the pair's place in the input.
struct PairOrder {
  std::uint64_t prefix;
  std::size_t index;
};

// Working memory of the parser, kept per thread between documents so that
// a stream of messages does not allocate and fault in the same pages again
// for every one of them. What is kept is bounded: after a document that
// needed more, the excess is given back.
struct Scratch {
  std::vector<JsonValue> stack;
  std::vector<PairOrder> order;  // of the object being built

  static constexpr std::size_t kKeptValues = std::size_t{1} << 19;  // 8 MiB
  static constexpr std::size_t kKeptOrder = std::size_t{1} << 16;   // 1 MiB

  void trim() {
    if (stack.capacity() > kKeptValues) std::vector<JsonValue>().swap(stack);
    if (order.capacity() > kKeptOrder) std::vector<PairOrder>().swap(order);
  }
};

class Parser {
 public:
  Parser(std::string_view input, Scratch& scratch)
      : begin_(input.data()), end_(input.data() + input.size()), stack_(scratch.stack), order_(scratch.order) {}

  // One loop over the input with the read position in a register; open
  // containers are tracked in a fixed array of frames, bounded by the
  // nesting limit. Each finished value is pushed on the value stack; a
  // container, when it closes, replaces its elements there.
  std::expected<JsonValue, JsonError> run() {
    using A = detail::Access;
    struct Frame {
      std::size_t base;  // stack size when the container opened
      bool object;
    };
    Frame frames[MAX_NESTING_DEPTH];
    int depth = 0;
    enum class Expect { Value, Key, AfterValue };
    Expect expect = Expect::Value;
    const char* p = begin_;
    const char* const end = end_;
    Fault fault{JsonErrorCategory::ExpectedValue, p};

    for (;;) {
      switch (expect) {
        case Expect::Value: {
          p = detail::skip_ws(p, end);
          if (p == end) {
            fault = {JsonErrorCategory::EofWhileParsingValue, p};
            goto failed;
          }
          const char c = *p;
          expect = Expect::AfterValue;
          if (c == '"') {
            ++p;
            if (!push_string(p, fault)) goto failed;
            break;
          }
          if (c == '[' || c == '{') {
            // Budget of 128, one unit per open container, and a container
            // may not take the last unit: 127 levels.
            if (depth == MAX_NESTING_DEPTH) {
              fault = {JsonErrorCategory::RecursionLimitExceeded, p};
              goto failed;
            }
            const bool object = c == '{';
            ++p;
            p = detail::skip_ws(p, end);
            if (p != end && *p == (object ? '}' : ']')) {
              ++p;
              if (object) {
                A::adopt(push(), A::new_map(nullptr, 0, [](std::size_t i) { return i; }));
              } else {
                A::adopt(push(), A::new_array());
              }
              break;
            }
            frames[depth++] = Frame{stack_.size(), object};
            expect = object ? Expect::Key : Expect::Value;
            break;
          }
          switch (c) {
            case 't':
              if (!detail::scan_literal(p, end, "true", fault)) goto failed;
              A::set_bool(push(), true);
              break;
            case 'f':
              if (!detail::scan_literal(p, end, "false", fault)) goto failed;
              A::set_bool(push(), false);
              break;
            case 'n':
              if (!detail::scan_literal(p, end, "null", fault)) goto failed;
              push();
              break;
            default: {
              if (c != '-' && !detail::is_digit(c)) {
                fault = {JsonErrorCategory::ExpectedValue, p};
                goto failed;
              }
              NumberToken token;
              if (!detail::scan_number(p, end, token, fault)) goto failed;
              if (!convert_number(token, push(), fault)) goto failed;
              break;
            }
          }
          break;
        }

        case Expect::Key: {
          // p is past '{' or ',' and whitespace.
          if (p == end) {
            fault = {JsonErrorCategory::EofWhileParsingObject, p};
            goto failed;
          }
          if (*p != '"') {
            fault = {JsonErrorCategory::KeyMustBeString, p};
            goto failed;
          }
          ++p;
          if (!push_string(p, fault)) goto failed;
          p = detail::skip_ws(p, end);
          if (p == end) {
            fault = {JsonErrorCategory::EofWhileParsingObject, p};
            goto failed;
          }
          if (*p != ':') {
            fault = {JsonErrorCategory::ExpectedColon, p};
            goto failed;
          }
          ++p;
          expect = Expect::Value;
          break;
        }

        case Expect::AfterValue: {
          if (depth == 0) goto done;
          const Frame frame = frames[depth - 1];
          const char close = frame.object ? '}' : ']';
          p = detail::skip_ws(p, end);
          if (p == end) {
            fault = {frame.object ? JsonErrorCategory::EofWhileParsingObject : JsonErrorCategory::EofWhileParsingArray,
                     p};
            goto failed;
          }
          if (*p == ',') {
            ++p;
            p = detail::skip_ws(p, end);
            if (p != end && *p == close) {
              fault = {JsonErrorCategory::TrailingComma, p};
              goto failed;
            }
            expect = frame.object ? Expect::Key : Expect::Value;
            break;
          }
          if (*p != close) {
            fault = {frame.object ? JsonErrorCategory::ExpectedObjectCommaOrEnd
                                  : JsonErrorCategory::ExpectedArrayCommaOrEnd,
                     p};
            goto failed;
          }
          ++p;
          --depth;
          if (frame.object) {
            build_object(frame.base);
          } else {
            build_array(frame.base, depth == 0);
          }
          break;
        }
      }
    }

  done:
    p = detail::skip_ws(p, end);
    if (p != end) {
      fault = {JsonErrorCategory::TrailingCharacters, p};
      goto failed;
    }
    return std::move(stack_.back());

  failed:
    // Running out of input inside a container is that container's end of
    // input.
    if (fault.category == JsonErrorCategory::EofWhileParsingValue && fault.at == end && depth > 0) {
      fault.category = frames[depth - 1].object ? JsonErrorCategory::EofWhileParsingObject
                                                : JsonErrorCategory::EofWhileParsingArray;
    }
    return std::unexpected(JsonError{fault.category, static_cast<std::size_t>(fault.at - begin_)});
  }

 private:
  using A = detail::Access;

  // A new null value on top of the stack. Values are built in place there:
  // building one in a temporary and moving it would read back 16 bytes
  // right after writing them piecewise, which stalls the store buffer.
  JsonValue& push() { return stack_.emplace_back(); }

  // p is just past the opening quote. Pushes the string.
  [[gnu::always_inline]] bool push_string(const char*& p, Fault& fault) {
    const char* const start = p;
    for (;;) {
      p = detail::find_string_special(p, end_);
      if (p == end_) {
        fault = {JsonErrorCategory::EofWhileParsingString, end_};
        return false;
      }
      const unsigned char c = static_cast<unsigned char>(*p);
      if (c == '"') {
        const auto size = static_cast<std::size_t>(p - start);
        JsonValue& value = push();
        A::set_valid_string_from(value, std::string_view(start, size), end_);
        // Raw text holds nothing that the writers escape. (A string this
        // long is on the heap.)
        if (size >= detail::kLongString) A::record_escape_growth(value, 0);
        ++p;
        return true;
      }
      if (c == '\\') return push_escaped_string(start, p, fault);
      if (c < 0x20) {
        fault = {JsonErrorCategory::ControlCharacterInString, p};
        return false;
      }
      if (!detail::scan_utf8_run(p, end_, fault)) return false;
    }
  }

  // A string with escapes: [start, p) is checked plain text, p is at the
  // first backslash. The decoder never writes more bytes than it reads, so
  // the string is decoded straight into its final storage, sized from the
  // raw length: a buffer on the stack for one that may fit inline, else a
  // block on the heap. Only the first kCloseWindow bytes are searched for
  // the closing quote; a longer string is bounded by the rest of the input
  // and moved to an exact block afterwards unless that would save little.
  [[gnu::noinline]] bool push_escaped_string(const char* start, const char*& p, Fault& fault) {
    constexpr std::size_t kCloseWindow = std::size_t{4} << 10;
    const char* const window_end = end_ - p > static_cast<std::ptrdiff_t>(kCloseWindow) ? p + kCloseWindow : end_;
    const char* const close = detail::find_string_close(p, window_end);
    const bool exact = close != window_end || window_end == end_;
    const std::size_t bound = static_cast<std::size_t>((exact ? close : end_) - start);
    const std::size_t prefix = static_cast<std::size_t>(p - start);
    constexpr std::size_t kStackBound = 48;
    if (bound <= kStackBound) {
      char buffer[kStackBound + detail::kDecodeSlack];
      std::memcpy(buffer, start, prefix);
      detail::FixedOut o{buffer + prefix};
      if (!detail::decode_escapes(p, end_, o, fault)) return false;
      const auto size = static_cast<std::size_t>(o.out - buffer);
      A::set_valid_string_from(push(), std::string_view(buffer, size), buffer + sizeof buffer);
      return true;
    }
    // Pushed first, so that nothing can fail while the block is unowned; a
    // failed parse drops the stack anyway.
    JsonValue& value = push();
    const std::size_t capacity = bound + detail::kDecodeSlack;
    char* block = A::new_string_block(capacity);
    char* const bytes = A::string_block_bytes(block);
    std::memcpy(bytes, start, prefix);
    detail::FixedOut o{bytes + prefix};
    if (!detail::decode_escapes(p, end_, o, fault)) {
      A::delete_string_block(block, capacity);
      return false;
    }
    const auto size = static_cast<std::size_t>(o.out - bytes);
    if (size <= A::kSmallCapacity) {
      // Escapes made it short enough to live inline.
      A::set_valid_string_from(value, std::string_view(bytes, size), bytes + capacity);
      A::delete_string_block(block, capacity);
      return true;
    }
    // Refitted when much was left unused, and always when a long block ended
    // up holding a string too short for one.
    if ((!exact && size < bound - bound / 8) || (size < detail::kLongString && capacity >= detail::kLongString)) {
      char* fitted;
      try {
        fitted = A::new_string_block(size);
      } catch (...) {
        A::delete_string_block(block, capacity);
        throw;
      }
      std::memcpy(A::string_block_bytes(fitted), bytes, size);
      A::delete_string_block(block, capacity);
      block = fitted;
    }
    A::adopt_string_block(value, block, size, o.escape_growth);
    return true;
  }

  // Replaces the elements above `base` with their array.
  // The outermost array takes the stack itself, which then holds nothing
  // but it: its elements are not copied, and no second block of their size
  // is needed. The next document starts a new stack.
  void build_array(std::size_t base, bool outermost) {
    if (outermost && base == 0) {
      JsonArray* array = A::new_array(std::move(stack_));
      stack_ = std::vector<JsonValue>();
      try {
        A::adopt(push(), array);
      } catch (...) {
        A::delete_array(array);
        throw;
      }
      return;
    }
    auto first = stack_.begin() + static_cast<std::ptrdiff_t>(base);
    JsonArray* array = A::new_array(std::make_move_iterator(first), std::make_move_iterator(stack_.end()));
    stack_.resize(base);
    A::adopt(push(), array);  // within capacity: cannot throw
  }

  // Replaces the key/value pairs above `base` with their object: sorted by
  // key, one member per key, the last occurrence winning. The pairs are
  // ordered through a list of small records and then moved once, straight
  // into the map's members in their final order.
  void build_object(std::size_t base) {
    const std::size_t n = (stack_.size() - base) / 2;
    JsonValue* pairs = stack_.data() + base;
    bool ordered = true;  // strictly ascending already: nothing to sort
    for (std::size_t i = 1; i < n && ordered; ++i) {
      ordered = detail::key_less(A::string_of(pairs[2 * i - 2]), A::string_of(pairs[2 * i]));
    }
    JsonMap* map;
    if (ordered) {
      map = A::new_map(pairs, n, [](std::size_t i) { return i; });
    } else {
      // The records of a small object, the common case, stay on the stack.
      constexpr std::size_t kLocal = 16;
      PairOrder local[kLocal];
      PairOrder* order = local;
      if (n > kLocal) {
        order_.resize(n);
        order = order_.data();
      }
      for (std::size_t i = 0; i < n; ++i) order[i] = {A::key_prefix(pairs[2 * i]), i};
      const auto key = [pairs](const PairOrder& o) { return A::string_of(pairs[2 * o.index]); };
      // The index breaks ties, so equal keys stay in input order.
      const auto before = [&key](const PairOrder& a, const PairOrder& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        const std::string_view ka = key(a), kb = key(b);
        if (ka != kb) return detail::key_less(ka, kb);
        return a.index < b.index;
      };
      if (n <= kLocal) {
        for (std::size_t i = 1; i < n; ++i) {
          const PairOrder moving = order[i];
          std::size_t j = i;
          for (; j > 0 && before(moving, order[j - 1]); --j) order[j] = order[j - 1];
          order[j] = moving;
        }
      } else {
        std::sort(order, order + n, before);
      }
      // Equal keys are adjacent: keep the last of each run.
      std::size_t kept = 0;
      for (std::size_t i = 0; i < n; ++i) {
        if (i + 1 < n && order[i].prefix == order[i + 1].prefix && key(order[i]) == key(order[i + 1])) continue;
        order[kept++] = order[i];
      }
      map = A::new_map(pairs, kept, [order](std::size_t i) { return order[i].index; });
    }
    stack_.resize(base);  // the pairs left behind are the ones replaced by later duplicates
    A::adopt(push(), map);  // within capacity: cannot throw
  }

  const char* const begin_;
  const char* const end_;
  std::vector<JsonValue>& stack_;  // empty between documents
  std::vector<PairOrder>& order_;
};

}  // namespace

std::expected<JsonValue, JsonError> parse_json(std::string_view bytes) {
  Scratch& scratch = per_thread<Scratch>();  // trim() bounds what it keeps
  auto result = Parser(bytes, scratch).run();
  scratch.stack.clear();  // a failed parse leaves partial values behind
  scratch.trim();
  return result;
}

}  // namespace host::json
