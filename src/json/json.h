// The JSON document model of the host: one value type, a strict parser and
// the compact and pretty writers. Every message the host relays, composes or
// reads from disk passes through here.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace host::json {

enum class JsonKind { Null, Bool, Number, String, Array, Object };

class JsonValue;
class JsonMap;
using JsonArray = std::vector<JsonValue>;

namespace detail {
struct Access;
}

// A number in one of three representations. The representation is part of
// the value: an integer literal stays an integer, a float literal a float,
// and numbers of different representations never compare equal.
//   Unsigned: every integer >= 0 (0 .. 2^64-1)
//   Negative: only integers < 0 (-2^63 .. -1)
//   Float:    a finite IEEE 754 double, never NaN or infinite
class JsonNumber {
 public:
  enum class Representation : std::uint8_t { Unsigned, Negative, Float };

  constexpr JsonNumber() noexcept : rep_(Representation::Unsigned), u_(0) {}

  static constexpr JsonNumber from_unsigned(std::uint64_t value) noexcept {
    JsonNumber n;
    n.u_ = value;
    return n;
  }
  // A value >= 0 takes the unsigned representation.
  static constexpr JsonNumber from_signed(std::int64_t value) noexcept {
    if (value >= 0) return from_unsigned(static_cast<std::uint64_t>(value));
    JsonNumber n;
    n.rep_ = Representation::Negative;
    n.i_ = value;
    return n;
  }
  // Empty for NaN and the infinities, which JSON cannot carry.
  static constexpr std::optional<JsonNumber> from_double(double value) noexcept {
    if (!(value - value == 0.0)) return std::nullopt;  // NaN or infinite
    JsonNumber n;
    n.rep_ = Representation::Float;
    n.d_ = value;
    return n;
  }

  constexpr Representation representation() const noexcept { return rep_; }
  constexpr bool is_unsigned() const noexcept { return rep_ == Representation::Unsigned; }
  constexpr bool is_negative() const noexcept { return rep_ == Representation::Negative; }
  constexpr bool is_float() const noexcept { return rep_ == Representation::Float; }

  // The value of the unsigned representation; empty for the others.
  constexpr std::optional<std::uint64_t> as_u64() const noexcept {
    if (rep_ == Representation::Unsigned) return u_;
    return std::nullopt;
  }
  // The value of an integer representation that fits in int64_t; empty for
  // floats and for unsigned values above INT64_MAX.
  constexpr std::optional<std::int64_t> as_i64() const noexcept {
    if (rep_ == Representation::Negative) return i_;
    if (rep_ == Representation::Unsigned && u_ <= static_cast<std::uint64_t>(INT64_MAX)) {
      return static_cast<std::int64_t>(u_);
    }
    return std::nullopt;
  }
  // The value of the float representation; empty for the integers.
  constexpr std::optional<double> as_f64() const noexcept {
    if (rep_ == Representation::Float) return d_;
    return std::nullopt;
  }
  // Any representation as the nearest double (integers may round).
  constexpr double to_double() const noexcept {
    switch (rep_) {
      case Representation::Unsigned:
        return static_cast<double>(u_);
      case Representation::Negative:
        return static_cast<double>(i_);
      case Representation::Float:
        break;
    }
    return d_;
  }

  // Same representation and same value; floats compare as doubles, so
  // 0.0 == -0.0.
  friend constexpr bool operator==(const JsonNumber& a, const JsonNumber& b) noexcept {
    if (a.rep_ != b.rep_) return false;
    switch (a.rep_) {
      case Representation::Unsigned:
        return a.u_ == b.u_;
      case Representation::Negative:
        return a.i_ == b.i_;
      case Representation::Float:
        break;
    }
    return a.d_ == b.d_;
  }

 private:
  Representation rep_;
  union {
    std::uint64_t u_;
    std::int64_t i_;
    double d_;
  };
};

// One JSON value: exactly one of null, bool, number, string, array, object.
// A value owns its children outright; copies are deep, moves are cheap and
// leave null behind.
//
// Strings are always valid UTF-8. Building a string from bytes that are not
// replaces each invalid sequence with U+FFFD, so that the writers can never
// produce an invalid document. Parsed strings are validated by the parser.
//
// The value is 16 bytes: strings up to 14 bytes live inline, longer ones in
// one heap block; arrays and objects are held through one pointer.
//
// Copying, comparing, writing and destroying recurse once per nesting level.
// Parsed values are at most 127 levels deep; a value built by hand should
// stay within a few thousand.
class JsonValue {
 public:
  JsonValue() noexcept { rep_.wide.tag = kNull; }
  JsonValue(std::nullptr_t) noexcept : JsonValue() {}
  // Only a real bool becomes a bool: no pointer or integer slips in here.
  template <std::same_as<bool> B>
  JsonValue(B value) noexcept {
    rep_.wide.tag = kBool;
    rep_.wide.flag = value;
  }
  JsonValue(JsonNumber number) noexcept { set_number(number); }
  // Integers of any width: >= 0 unsigned, < 0 negative. Characters and bool
  // are excluded so that 'a' or a bool never becomes a number by accident.
  template <std::integral I>
    requires(!std::same_as<std::remove_cv_t<I>, bool> && !std::same_as<std::remove_cv_t<I>, char> &&
             !std::same_as<std::remove_cv_t<I>, char8_t> &&
             !std::same_as<std::remove_cv_t<I>, char16_t> &&
             !std::same_as<std::remove_cv_t<I>, char32_t> &&
             !std::same_as<std::remove_cv_t<I>, wchar_t>)
  JsonValue(I value) noexcept {
    if constexpr (std::is_signed_v<I>) {
      set_number(JsonNumber::from_signed(static_cast<std::int64_t>(value)));
    } else {
      set_number(JsonNumber::from_unsigned(static_cast<std::uint64_t>(value)));
    }
  }
  JsonValue(std::string_view text);
  JsonValue(const std::string& text) : JsonValue(std::string_view(text)) {}
  JsonValue(const char* text) : JsonValue(std::string_view(text)) {}
  JsonValue(JsonArray array);
  JsonValue(JsonMap object);

  // Named factories for call sites where the type should be obvious.
  static JsonValue number(std::uint64_t value) noexcept { return JsonValue(JsonNumber::from_unsigned(value)); }
  static JsonValue empty_object();
  static JsonValue empty_array();

  JsonValue(const JsonValue& other);
  JsonValue(JsonValue&& other) noexcept : rep_(other.rep_) { other.rep_.wide.tag = kNull; }
  JsonValue& operator=(const JsonValue& other);
  JsonValue& operator=(JsonValue&& other) noexcept {
    if (this != &other) {
      release();
      rep_ = other.rep_;
      other.rep_.wide.tag = kNull;
    }
    return *this;
  }
  ~JsonValue() { release(); }

  JsonKind kind() const noexcept;
  bool is_null() const noexcept { return tag() == kNull; }
  bool is_bool() const noexcept { return tag() == kBool; }
  bool is_number() const noexcept { return tag() >= kUnsigned && tag() <= kFloat; }
  bool is_string() const noexcept { return tag() == kSmallString || tag() == kHeapString; }
  bool is_array() const noexcept { return tag() == kArray; }
  bool is_object() const noexcept { return tag() == kObject; }

  // Scalars come back by value, empty when the kind differs. The string view
  // points into this value (short strings are stored inside it) and is
  // valid until the value is changed, moved or destroyed.
  std::optional<bool> as_bool() const noexcept;
  std::optional<JsonNumber> as_number() const noexcept;
  std::optional<std::string_view> as_string() const noexcept;
  // Containers come back as pointers, null when the kind differs.
  const JsonArray* as_array() const noexcept { return is_array() ? rep_.wide.array : nullptr; }
  JsonArray* as_array() noexcept { return is_array() ? rep_.wide.array : nullptr; }
  const JsonMap* as_object() const noexcept { return is_object() ? rep_.wide.object : nullptr; }
  JsonMap* as_object() noexcept { return is_object() ? rep_.wide.object : nullptr; }

  // The member's value by exact key bytes; null when the key is missing or
  // this value is not an object.
  const JsonValue* get(std::string_view key) const noexcept;
  JsonValue* get(std::string_view key) noexcept;

  // Sets or replaces a member and returns true. A null value first becomes
  // an empty object. On a bool, number, string or array the call changes
  // nothing and returns false: replacing the caller's value with an object
  // would destroy data to paper over the mistake.
  bool set(std::string_view key, JsonValue value);

  // Equality of kind and content; see JsonNumber for numbers. Objects
  // compare member by member in key order.
  friend bool operator==(const JsonValue& a, const JsonValue& b) noexcept;

 private:
  friend class JsonMap;
  friend struct detail::Access;

  enum Tag : std::uint8_t {
    kNull,
    kBool,
    kUnsigned,
    kNegative,
    kFloat,
    kSmallString,
    kHeapString,
    kArray,
    kObject,
  };
  static constexpr std::size_t kSmallCapacity = 14;

  // Both layouts start with the tag, so it can be read through either.
  struct Small {
    std::uint8_t tag;
    std::uint8_t size;
    char bytes[kSmallCapacity];
  };
  struct Wide {
    std::uint8_t tag;
    bool flag;
    union {
      std::uint64_t u;
      std::int64_t i;
      double d;
      char* heap;  // std::size_t size, then the bytes
      JsonArray* array;
      JsonMap* object;
    };
  };
  union Rep {
    Small small;
    Wide wide;
  };
  static_assert(sizeof(Rep) == 16);

  std::uint8_t tag() const noexcept { return rep_.wide.tag; }
  void set_number(JsonNumber number) noexcept;
  // Stores bytes that are known to be valid UTF-8.
  void set_valid_string(const char* data, std::size_t size);
  std::string_view string_unchecked() const noexcept {
    if (tag() == kSmallString) return std::string_view(rep_.small.bytes, rep_.small.size);
    std::size_t size;
    std::memcpy(&size, rep_.wide.heap, sizeof size);
    return std::string_view(rep_.wide.heap + sizeof(std::size_t), size);
  }
  void release() noexcept {
    if (tag() >= kHeapString) release_heap();
  }
  void release_heap() noexcept;

  Rep rep_;
};

static_assert(sizeof(JsonValue) == 16);

// The members of an object: unique keys, iterated in ascending order of the
// keys' bytes compared as unsigned bytes (a prefix sorts first). Kept as one
// sorted flat array: iteration is a walk, lookup a binary search, insertion
// of a new key shifts the tail.
//
// A parsed object keeps its members in the same allocation as the map
// itself. Moving such a map out of its JsonValue therefore moves the
// members into fresh storage (an allocation failure there ends the
// process, as in any noexcept move); every other move only hands over
// pointers.
class JsonMap {
 public:
  struct Entry {
    std::string_view key;
    const JsonValue& value;
  };
  struct MutableEntry {
    std::string_view key;
    JsonValue& value;
  };

 private:
  struct Member {
    JsonValue key;  // always a string
    JsonValue value;
  };

  template <bool Const>
  class Iterator {
    using Ptr = std::conditional_t<Const, const Member*, Member*>;

   public:
    using value_type = std::conditional_t<Const, Entry, MutableEntry>;
    using reference = value_type;
    using difference_type = std::ptrdiff_t;
    using iterator_category = std::input_iterator_tag;
    using iterator_concept = std::forward_iterator_tag;

    Iterator() = default;
    explicit Iterator(Ptr p) : p_(p) {}
    reference operator*() const { return reference{p_->key.string_unchecked(), p_->value}; }
    Iterator& operator++() {
      ++p_;
      return *this;
    }
    Iterator operator++(int) {
      Iterator old = *this;
      ++p_;
      return old;
    }
    friend bool operator==(const Iterator& a, const Iterator& b) { return a.p_ == b.p_; }

   private:
    Ptr p_ = nullptr;
  };

 public:
  using const_iterator = Iterator<true>;
  using iterator = Iterator<false>;

  JsonMap() noexcept = default;
  // Later pairs replace earlier ones with the same key.
  JsonMap(std::initializer_list<std::pair<std::string_view, JsonValue>> members);
  JsonMap(const JsonMap& other);
  JsonMap(JsonMap&& other) noexcept;
  JsonMap& operator=(const JsonMap& other);
  JsonMap& operator=(JsonMap&& other) noexcept;
  ~JsonMap();

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const_iterator begin() const noexcept { return const_iterator(data_); }
  const_iterator end() const noexcept { return const_iterator(data_ + size_); }
  iterator begin() noexcept { return iterator(data_); }
  iterator end() noexcept { return iterator(data_ + size_); }

  const JsonValue* find(std::string_view key) const noexcept;
  JsonValue* find(std::string_view key) noexcept;
  bool contains(std::string_view key) const noexcept { return find(key) != nullptr; }
  // Inserts the member, or replaces the value of the member with that key.
  // Returns the stored value.
  JsonValue& insert_or_assign(std::string_view key, JsonValue value);
  // Removes the member; false when there was none.
  bool erase(std::string_view key) noexcept;
  void clear() noexcept;

  friend bool operator==(const JsonMap& a, const JsonMap& b) noexcept;

 private:
  friend class JsonValue;
  friend struct detail::Access;

  // Index of the first member whose key is not less than `key`.
  std::size_t lower_bound(std::string_view key) const noexcept;
  // Room for at least `capacity` members; existing members move over.
  void reserve(std::size_t capacity);
  void release_storage() noexcept;

  // A map on the heap, as a JsonValue holds it. Maps made for a known
  // number of members (the parser's, copies) get their member storage in
  // the same allocation, right after the map.
  static JsonMap* heap_with_capacity(std::size_t capacity);
  static JsonMap* heap_from(JsonMap&& map);
  static JsonMap* heap_copy(const JsonMap& map);
  static void heap_delete(JsonMap* map) noexcept;

  Member* data_ = nullptr;  // size_ constructed members, room for capacity_
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  bool embedded_ = false;  // data_ lies inside this map's own allocation
};

enum class JsonErrorCategory : std::uint8_t {
  EofWhileParsingValue,
  EofWhileParsingString,
  EofWhileParsingArray,
  EofWhileParsingObject,
  ExpectedValue,
  ExpectedColon,
  ExpectedArrayCommaOrEnd,
  ExpectedObjectCommaOrEnd,
  KeyMustBeString,
  TrailingComma,
  TrailingCharacters,
  RecursionLimitExceeded,
  InvalidLiteral,
  InvalidNumber,
  NumberOutOfRange,
  ControlCharacterInString,
  InvalidEscape,
  InvalidUnicodeEscape,
  LoneSurrogate,
  InvalidUtf8,
};

// Why a document was refused and where: `offset` is the byte position of
// the fault in the input.
struct JsonError {
  JsonErrorCategory category;
  std::size_t offset;

  // The fault alone, e.g. "trailing characters".
  std::string_view message() const noexcept;
  // The fault and its position, e.g. "trailing characters at byte 12".
  std::string describe() const;

  friend bool operator==(const JsonError&, const JsonError&) = default;
};

// Containers may nest this many levels deep; one more is refused.
inline constexpr int MAX_NESTING_DEPTH = 127;

// Exactly one JSON text (RFC 8259) with nothing but whitespace around it.
std::expected<JsonValue, JsonError> parse_json(std::string_view bytes);

// Compact form: no whitespace, members in key order.
std::string to_json_bytes(const JsonValue& value);
// Pretty form: two-space indentation, line feeds, ": " after keys, no final
// line feed.
std::string to_pretty_json_bytes(const JsonValue& value);
// The same forms appended to an existing buffer.
void append_json_bytes(std::string& out, const JsonValue& value);
void append_pretty_json_bytes(std::string& out, const JsonValue& value);

}  // namespace host::json
