// JsonValue, JsonMap and JsonError: storage, lookup, equality, descriptions.
#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "json/json.h"
#include "json/json_scan.h"

namespace host::json {

namespace {

// Bytes as valid UTF-8: a copy of `text` with each ill-formed sequence
// replaced by U+FFFD. Empty when `text` is valid already, which is the
// usual case and costs one scan.
std::optional<std::string> repaired_utf8(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  std::string fixed;
  bool broken = false;
  const char* run = p;
  while (p != end) {
    if (static_cast<unsigned char>(*p) < 0x80) {
      ++p;
      continue;
    }
    std::size_t len;
    if (detail::check_utf8_sequence(p, end, len) == detail::Utf8Check::Valid) {
      p += len;
      continue;
    }
    if (!broken) {
      fixed.reserve(text.size() + 8);
      broken = true;
    }
    fixed.append(run, p);
    fixed.append("\xEF\xBF\xBD");
    p += len;
    run = p;
  }
  if (!broken) return std::nullopt;
  fixed.append(run, end);
  return fixed;
}

}  // namespace

// --- JsonValue -------------------------------------------------------------

void JsonValue::set_number(JsonNumber number) noexcept {
  switch (number.representation()) {
    case JsonNumber::Representation::Unsigned:
      rep_.wide.tag = kUnsigned;
      rep_.wide.u = *number.as_u64();
      return;
    case JsonNumber::Representation::Negative:
      rep_.wide.tag = kNegative;
      rep_.wide.i = *number.as_i64();
      return;
    case JsonNumber::Representation::Float:
      rep_.wide.tag = kFloat;
      rep_.wide.d = *number.as_f64();
      return;
  }
}

void JsonValue::set_valid_string(const char* data, std::size_t size) {
  if (size <= kSmallCapacity) {
    rep_.small.tag = kSmallString;
    rep_.small.size = static_cast<std::uint8_t>(size);
    if (size != 0) std::memcpy(rep_.small.bytes, data, size);
    return;
  }
  char* block = detail::new_string_block(size);
  std::memcpy(block, &size, sizeof size);
  std::memcpy(block + sizeof(std::size_t), data, size);
  rep_.wide.tag = kHeapString;
  rep_.wide.heap = block;
}

void JsonValue::release_heap() noexcept {
  switch (tag()) {
    case kHeapString:
      detail::release_string_block(rep_.wide.heap);
      break;
    case kArray:
      detail::Access::delete_array(rep_.wide.array);
      break;
    case kObject:
      JsonMap::heap_delete(rep_.wide.object);
      break;
    default:
      break;
  }
  rep_.wide.tag = kNull;
}

JsonValue::JsonValue(std::string_view text) {
  rep_.wide.tag = kNull;
  if (auto fixed = repaired_utf8(text)) {
    set_valid_string(fixed->data(), fixed->size());
  } else {
    set_valid_string(text.data(), text.size());
  }
}

JsonValue::JsonValue(JsonArray array) {
  rep_.wide.tag = kNull;
  rep_.wide.array = detail::Access::new_array(std::move(array));
  rep_.wide.tag = kArray;
}

JsonValue::JsonValue(JsonMap object) {
  rep_.wide.tag = kNull;
  rep_.wide.object = JsonMap::heap_from(std::move(object));
  rep_.wide.tag = kObject;
}

JsonValue JsonValue::empty_object() { return JsonValue(JsonMap()); }
JsonValue JsonValue::empty_array() { return JsonValue(JsonArray()); }

JsonValue::JsonValue(const JsonValue& other) {
  rep_.wide.tag = kNull;
  switch (other.tag()) {
    case kHeapString: {
      const std::string_view s = other.string_unchecked();
      set_valid_string(s.data(), s.size());
      break;
    }
    case kArray:
      rep_.wide.array = detail::Access::new_array(*other.rep_.wide.array);
      rep_.wide.tag = kArray;
      break;
    case kObject:
      rep_.wide.object = JsonMap::heap_copy(*other.rep_.wide.object);
      rep_.wide.tag = kObject;
      break;
    default:
      rep_ = other.rep_;
      break;
  }
}

JsonValue& JsonValue::operator=(const JsonValue& other) {
  if (this != &other) {
    JsonValue copy(other);  // may throw: leave *this intact until it is made
    *this = std::move(copy);
  }
  return *this;
}

JsonKind JsonValue::kind() const noexcept {
  switch (tag()) {
    case kNull:
      return JsonKind::Null;
    case kBool:
      return JsonKind::Bool;
    case kUnsigned:
    case kNegative:
    case kFloat:
      return JsonKind::Number;
    case kSmallString:
    case kHeapString:
      return JsonKind::String;
    case kArray:
      return JsonKind::Array;
    default:
      return JsonKind::Object;
  }
}

std::optional<bool> JsonValue::as_bool() const noexcept {
  if (tag() == kBool) return rep_.wide.flag;
  return std::nullopt;
}

std::optional<JsonNumber> JsonValue::as_number() const noexcept {
  switch (tag()) {
    case kUnsigned:
      return JsonNumber::from_unsigned(rep_.wide.u);
    case kNegative:
      return JsonNumber::from_signed(rep_.wide.i);
    case kFloat:
      return JsonNumber::from_double(rep_.wide.d);
    default:
      return std::nullopt;
  }
}

std::optional<std::string_view> JsonValue::as_string() const noexcept {
  if (!is_string()) return std::nullopt;
  return string_unchecked();
}

const JsonValue* JsonValue::get(std::string_view key) const noexcept {
  return is_object() ? rep_.wide.object->find(key) : nullptr;
}

JsonValue* JsonValue::get(std::string_view key) noexcept {
  return is_object() ? rep_.wide.object->find(key) : nullptr;
}

bool JsonValue::set(std::string_view key, JsonValue value) {
  if (is_null()) *this = JsonValue(JsonMap());
  if (!is_object()) return false;
  rep_.wide.object->insert_or_assign(key, std::move(value));
  return true;
}

bool operator==(const JsonValue& a, const JsonValue& b) noexcept {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case JsonKind::Null:
      return true;
    case JsonKind::Bool:
      return a.rep_.wide.flag == b.rep_.wide.flag;
    case JsonKind::Number:
      return *a.as_number() == *b.as_number();
    case JsonKind::String:
      return a.string_unchecked() == b.string_unchecked();
    case JsonKind::Array:
      return *a.rep_.wide.array == *b.rep_.wide.array;
    case JsonKind::Object:
      return *a.rep_.wide.object == *b.rep_.wide.object;
  }
  return false;
}

// --- JsonMap ---------------------------------------------------------------

// Member storage is raw memory holding size_ constructed members. JsonValue
// moves never throw, so moving members between buffers cannot fail halfway.

JsonMap::JsonMap(std::initializer_list<std::pair<std::string_view, JsonValue>> members) {
  reserve(members.size());
  for (const auto& [key, value] : members) insert_or_assign(key, value);
}

JsonMap::JsonMap(const JsonMap& other) {
  reserve(other.size_);
  for (std::size_t i = 0; i < other.size_; ++i) {
    new (data_ + i) Member{other.data_[i].key, other.data_[i].value};
    ++size_;
  }
}

JsonMap::JsonMap(JsonMap&& other) noexcept {
  if (!other.embedded_) {
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    return;
  }
  // Embedded storage belongs to the other map's allocation: the members
  // move, the storage stays. (Allocation failure here is fatal, as for any
  // allocation in a noexcept move.)
  reserve(other.size_);
  for (std::size_t i = 0; i < other.size_; ++i) new (data_ + i) Member{std::move(other.data_[i])};
  size_ = other.size_;
  other.clear();
}

JsonMap& JsonMap::operator=(const JsonMap& other) {
  if (this != &other) {
    JsonMap copy(other);
    *this = std::move(copy);
  }
  return *this;
}

JsonMap& JsonMap::operator=(JsonMap&& other) noexcept {
  if (this != &other) {
    clear();
    if (!other.embedded_) {
      release_storage();  // embedded storage of ours simply goes unused
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
    } else {
      reserve(other.size_);
      for (std::size_t i = 0; i < other.size_; ++i) new (data_ + i) Member{std::move(other.data_[i])};
      size_ = other.size_;
      other.clear();
    }
  }
  return *this;
}

JsonMap::~JsonMap() {
  clear();
  release_storage();
}

void JsonMap::clear() noexcept {
  for (std::size_t i = 0; i < size_; ++i) data_[i].~Member();
  size_ = 0;
}

void JsonMap::release_storage() noexcept {
  if (!embedded_ && data_ != nullptr) ::operator delete(data_);
  data_ = nullptr;
  capacity_ = 0;
  embedded_ = false;
}

void JsonMap::reserve(std::size_t capacity) {
  if (capacity <= capacity_) return;
  Member* fresh = static_cast<Member*>(::operator new(capacity * sizeof(Member)));
  for (std::size_t i = 0; i < size_; ++i) {
    new (fresh + i) Member{std::move(data_[i])};
    data_[i].~Member();
  }
  if (!embedded_ && data_ != nullptr) ::operator delete(data_);
  data_ = fresh;
  capacity_ = capacity;
  embedded_ = false;
}

JsonMap* JsonMap::heap_with_capacity(std::size_t capacity) {
  static_assert(sizeof(JsonMap) % alignof(Member) == 0);
  void* block = detail::allocate_block(sizeof(JsonMap) + capacity * sizeof(Member));
  JsonMap* map = new (block) JsonMap();
  if (capacity != 0) {
    map->data_ = reinterpret_cast<Member*>(static_cast<char*>(block) + sizeof(JsonMap));
    map->capacity_ = capacity;
    map->embedded_ = true;
  }
  return map;
}

JsonMap* JsonMap::heap_from(JsonMap&& map) {
  if (map.embedded_) {
    JsonMap* copy = heap_with_capacity(map.size_);
    for (std::size_t i = 0; i < map.size_; ++i) new (copy->data_ + i) Member{std::move(map.data_[i])};
    copy->size_ = map.size_;
    map.clear();
    return copy;
  }
  return new (detail::allocate_block(sizeof(JsonMap))) JsonMap(std::move(map));
}

JsonMap* JsonMap::heap_copy(const JsonMap& map) {
  JsonMap* copy = heap_with_capacity(map.size_);
  try {
    for (std::size_t i = 0; i < map.size_; ++i) {
      new (copy->data_ + i) Member{map.data_[i].key, map.data_[i].value};
      ++copy->size_;
    }
  } catch (...) {
    heap_delete(copy);
    throw;
  }
  return copy;
}

void JsonMap::heap_delete(JsonMap* map) noexcept {
  // The block's members are known while they are in use; once the map's
  // storage has moved out, only the map itself is.
  const std::size_t size = sizeof(JsonMap) + (map->embedded_ ? map->capacity_ * sizeof(Member) : 0);
  map->~JsonMap();
  detail::free_block(map, size);
}

std::size_t JsonMap::lower_bound(std::string_view key) const noexcept {
  std::size_t lo = 0, hi = size_;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (detail::key_less(data_[mid].key.string_unchecked(), key)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

const JsonValue* JsonMap::find(std::string_view key) const noexcept {
  const std::size_t i = lower_bound(key);
  if (i < size_ && data_[i].key.string_unchecked() == key) return &data_[i].value;
  return nullptr;
}

JsonValue* JsonMap::find(std::string_view key) noexcept {
  return const_cast<JsonValue*>(static_cast<const JsonMap*>(this)->find(key));
}

JsonValue& JsonMap::insert_or_assign(std::string_view key, JsonValue value) {
  JsonValue stored_key(key);  // repaired to valid UTF-8 like any string
  const std::string_view k = stored_key.string_unchecked();
  const std::size_t i = lower_bound(k);
  if (i < size_ && data_[i].key.string_unchecked() == k) {
    data_[i].value = std::move(value);
    return data_[i].value;
  }
  if (size_ == capacity_) reserve(capacity_ < 4 ? 4 : capacity_ * 2);
  // Shift the tail up by one; moves cannot throw.
  if (i == size_) {
    new (data_ + size_) Member{std::move(stored_key), std::move(value)};
  } else {
    new (data_ + size_) Member{std::move(data_[size_ - 1])};
    for (std::size_t j = size_ - 1; j > i; --j) data_[j] = std::move(data_[j - 1]);
    data_[i] = Member{std::move(stored_key), std::move(value)};
  }
  ++size_;
  return data_[i].value;
}

bool JsonMap::erase(std::string_view key) noexcept {
  const std::size_t i = lower_bound(key);
  if (i >= size_ || data_[i].key.string_unchecked() != key) return false;
  for (std::size_t j = i; j + 1 < size_; ++j) data_[j] = std::move(data_[j + 1]);
  data_[size_ - 1].~Member();
  --size_;
  return true;
}

bool operator==(const JsonMap& a, const JsonMap& b) noexcept {
  if (a.size_ != b.size_) return false;
  for (std::size_t i = 0; i < a.size_; ++i) {
    if (detail::Access::key_of(a.data_[i]) != detail::Access::key_of(b.data_[i])) return false;
    if (!(a.data_[i].value == b.data_[i].value)) return false;
  }
  return true;
}

// --- JsonError -------------------------------------------------------------

std::string_view JsonError::message() const noexcept {
  switch (category) {
    case JsonErrorCategory::EofWhileParsingValue:
      return "EOF while parsing a value";
    case JsonErrorCategory::EofWhileParsingString:
      return "EOF while parsing a string";
    case JsonErrorCategory::EofWhileParsingArray:
      return "EOF while parsing an array";
    case JsonErrorCategory::EofWhileParsingObject:
      return "EOF while parsing an object";
    case JsonErrorCategory::ExpectedValue:
      return "expected value";
    case JsonErrorCategory::ExpectedColon:
      return "expected `:`";
    case JsonErrorCategory::ExpectedArrayCommaOrEnd:
      return "expected `,` or `]`";
    case JsonErrorCategory::ExpectedObjectCommaOrEnd:
      return "expected `,` or `}`";
    case JsonErrorCategory::KeyMustBeString:
      return "key must be a string";
    case JsonErrorCategory::TrailingComma:
      return "trailing comma";
    case JsonErrorCategory::TrailingCharacters:
      return "trailing characters";
    case JsonErrorCategory::RecursionLimitExceeded:
      return "recursion limit exceeded";
    case JsonErrorCategory::InvalidLiteral:
      return "invalid literal";
    case JsonErrorCategory::InvalidNumber:
      return "invalid number";
    case JsonErrorCategory::NumberOutOfRange:
      return "number out of range";
    case JsonErrorCategory::ControlCharacterInString:
      return "control character (\\u0000-\\u001F) found while parsing a string";
    case JsonErrorCategory::InvalidEscape:
      return "invalid escape";
    case JsonErrorCategory::InvalidUnicodeEscape:
      return "invalid hex digit in \\u escape";
    case JsonErrorCategory::LoneSurrogate:
      return "unpaired surrogate in \\u escape";
    case JsonErrorCategory::InvalidUtf8:
      return "invalid UTF-8 in string";
  }
  return "invalid JSON";
}

std::string JsonError::describe() const {
  std::string text(message());
  text += " at byte ";
  text += std::to_string(offset);
  return text;
}

}  // namespace host::json
