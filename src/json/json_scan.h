// Lexing shared by parse_json and JsonCursor: whitespace, literals, strings
// (with UTF-8 validation and escape decoding) and the number grammar. Each
// rule is written once here so that the tree parser and the member-by-member
// reader accept exactly the same texts. Internal to src/json.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "json/block_cache.h"
#include "json/json.h"
#include "json/string_block.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace host::json::detail {

// Grants the parser and the writers direct access to the value's storage.
struct Access {
  using Member = JsonMap::Member;
  static void set_number(JsonValue& v, JsonNumber n) { v.set_number(n); }
  static void set_bool(JsonValue& v, bool b) {
    v.rep_.wide.tag = JsonValue::kBool;
    v.rep_.wide.flag = b;
  }
  static std::string_view key_of(const JsonMap::Member& m) { return m.key.string_unchecked(); }

  // Direct reads for the writers, which switch on the stored tag once per
  // value instead of asking kind() and then an accessor.
  enum Tag : std::uint8_t {
    kNull = JsonValue::kNull,
    kBool = JsonValue::kBool,
    kUnsigned = JsonValue::kUnsigned,
    kNegative = JsonValue::kNegative,
    kFloat = JsonValue::kFloat,
    kSmallString = JsonValue::kSmallString,
    kHeapString = JsonValue::kHeapString,
    kArray = JsonValue::kArray,
    kObject = JsonValue::kObject,
  };
  static Tag tag(const JsonValue& v) { return static_cast<Tag>(v.tag()); }
  static bool flag(const JsonValue& v) { return v.rep_.wide.flag; }
  static std::uint64_t unsigned_of(const JsonValue& v) { return v.rep_.wide.u; }
  static std::int64_t negative_of(const JsonValue& v) { return v.rep_.wide.i; }
  static double float_of(const JsonValue& v) { return v.rep_.wide.d; }
  static std::string_view string_of(const JsonValue& v) { return v.string_unchecked(); }
  // The 16 bytes of an inline string's storage, and its length.
  static const void* small_rep(const JsonValue& v) { return &v.rep_; }
  static std::size_t small_size(const JsonValue& v) { return v.rep_.small.size; }
  static const JsonArray& array_of(const JsonValue& v) { return *v.rep_.wide.array; }
  static const JsonMap& map_of(const JsonValue& v) { return *v.rep_.wide.object; }
  static const Member* members_begin(const JsonMap& m) { return m.data_; }
  static const Member* members_end(const JsonMap& m) { return m.data_ + m.size_; }

  // A map on the heap of `count` members, the i-th moved from the key/value
  // pair at pairs[2 * pair_at(i)] and the value after it: one allocation for
  // the map and its members. The caller orders the pairs.
  template <class PairAt>
  static JsonMap* new_map(JsonValue* pairs, std::size_t count, PairAt pair_at) {
    JsonMap* map = JsonMap::heap_with_capacity(count);
    for (std::size_t i = 0; i < count; ++i) {
      JsonValue* pair = pairs + 2 * pair_at(i);
      new (map->data_ + i) Member{std::move(pair[0]), std::move(pair[1])};
    }
    map->size_ = count;
    return map;
  }
  // The first eight bytes of the string `v` as a big-endian number, zeros
  // past its end: strings whose prefixes differ compare as their prefixes.
  static std::uint64_t key_prefix(const JsonValue& v) noexcept {
    const std::string_view s = v.string_unchecked();
    std::uint64_t w = 0;
    if (v.tag() == JsonValue::kSmallString || s.size() >= 8) {
      std::memcpy(&w, s.data(), 8);  // an inline string's 14 slots lie within the value
    } else {
      std::memcpy(&w, s.data(), s.size());
    }
    if (s.size() < 8) w &= ~(~std::uint64_t{0} << (8 * s.size()));
    if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
    return w;
  }
  // Makes the null value `v` own the container.
  static void adopt(JsonValue& v, JsonMap* map) noexcept {
    v.rep_.wide.object = map;
    v.rep_.wide.tag = JsonValue::kObject;
  }
  // An array on the heap, as a JsonValue holds it, made from `args` as a
  // JsonArray is; delete_array ends it.
  template <class... Args>
  static JsonArray* new_array(Args&&... args) {
    void* block = allocate_block(sizeof(JsonArray));
    try {
      return new (block) JsonArray(std::forward<Args>(args)...);
    } catch (...) {
      free_block(block, sizeof(JsonArray));
      throw;
    }
  }
  static void delete_array(JsonArray* array) noexcept {
    array->~JsonArray();
    free_block(array, sizeof(JsonArray));
  }
  static void adopt(JsonValue& v, JsonArray* array) noexcept {
    v.rep_.wide.array = array;
    v.rep_.wide.tag = JsonValue::kArray;
  }
  // Makes the null value `v` the valid UTF-8 string `text`; bytes up to
  // `readable_end` may be read (not used) past the text.
  static void set_valid_string_from(JsonValue& v, std::string_view text, const char* readable_end) {
#if defined(__SSE2__)
    if (text.size() <= JsonValue::kSmallCapacity && readable_end - text.data() >= 16) {
      // Tag, length and up to 14 bytes assembled in one register and stored
      // at once.
      __m128i bytes = _mm_slli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data())), 2);
      bytes = _mm_insert_epi16(bytes, JsonValue::kSmallString | static_cast<int>(text.size() << 8), 0);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(&v.rep_), bytes);
      return;
    }
#else
    (void)readable_end;
#endif
    v.set_valid_string(text.data(), text.size());
  }
  // A heap string block as set_valid_string makes it (string_block.h). The
  // block may be larger than the string.
  static char* new_string_block(std::size_t capacity) { return detail::new_string_block(capacity); }
  static void delete_string_block(char* block, std::size_t capacity) noexcept {
    detail::delete_string_block(block, capacity);
  }
  static char* string_block_bytes(char* block) noexcept { return block + sizeof(std::size_t); }
  // Makes the null value `v` own the block, whose bytes (valid UTF-8, more
  // than fit inline) are `size` long and grow by `escape_growth` when
  // written.
  static void adopt_string_block(JsonValue& v, char* block, std::size_t size, std::size_t escape_growth) noexcept {
    std::memcpy(block, &size, sizeof size);
    detail::record_escape_growth(block, escape_growth);
    v.rep_.wide.heap = block;
    v.rep_.wide.tag = JsonValue::kHeapString;
  }
  // The escape growth of the heap string `v` where its block keeps one
  // (string_block.h), else kGrowthUnknown; and recording it.
  static std::size_t recorded_escape_growth(const JsonValue& v) noexcept {
    return detail::recorded_escape_growth(v.rep_.wide.heap);
  }
  static void record_escape_growth(JsonValue& v, std::size_t escape_growth) noexcept {
    detail::record_escape_growth(v.rep_.wide.heap, escape_growth);
  }
  static constexpr std::size_t kSmallCapacity = JsonValue::kSmallCapacity;
};

// Member order: bytes compared as unsigned, a prefix first. Keys are
// short, so a plain loop beats a library call for the first bytes.
inline bool key_less(std::string_view a, std::string_view b) noexcept {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  const std::size_t head = n < 8 ? n : 8;
  for (std::size_t i = 0; i < head; ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y;
  }
  if (n > head) {
    const int c = std::memcmp(a.data() + head, b.data() + head, n - head);
    if (c != 0) return c < 0;
  }
  return a.size() < b.size();
}

struct Fault {
  JsonErrorCategory category;
  const char* at;
};

// The four whitespace bytes: space, tab, line feed, carriage return.
constexpr auto kWhitespace = [] {
  struct Table {
    bool is[256];
  } t{};
  t.is[static_cast<unsigned char>(' ')] = true;
  t.is[static_cast<unsigned char>('\t')] = true;
  t.is[static_cast<unsigned char>('\n')] = true;
  t.is[static_cast<unsigned char>('\r')] = true;
  return t;
}();

inline bool is_ws(char c) noexcept { return kWhitespace.is[static_cast<unsigned char>(c)]; }

inline const char* skip_ws(const char* p, const char* end) noexcept {
  while (p != end && is_ws(*p)) ++p;
  return p;
}

inline bool is_digit(char c) noexcept { return static_cast<unsigned char>(c - '0') < 10; }

#if defined(__SSE2__)
// How many of the 16 bytes of v, from the first, are plain string text that
// needs no closer look: no '"', '\\' or control byte below 0x20, and bytes
// >= 0x80 only in whole, valid UTF-8 sequences, by the rules of
// check_utf8_sequence. A sequence that runs past the 16 bytes is left for
// the next block: the count stops at its first byte. Where the bytes do not
// pass, the count stops at the first byte >= 0x80 or the first special one,
// whichever comes first, and the byte-wise check decides from there.
//
// The tests run on 16-bit masks, one bit per byte: which bytes are
// continuation bytes, which lead a 2, 3 or 4 byte sequence, and where the
// leads require their continuation bytes to be.
inline unsigned plain_text_prefix(__m128i v) noexcept {
  const auto bits = [](__m128i m) { return static_cast<std::uint32_t>(_mm_movemask_epi8(m)); };
  // Bytes compared as signed: 0x80..0xFF are -128..-1.
  const auto byte = [](unsigned c) { return _mm_set1_epi8(static_cast<char>(c)); };
  const auto between = [&](unsigned lo, unsigned hi) {  // lo..hi, both >= 0x80
    return bits(_mm_and_si128(_mm_cmpgt_epi8(v, byte(lo - 1)), _mm_cmplt_epi8(v, byte(hi + 1))));
  };
  const std::uint32_t control = bits(_mm_and_si128(_mm_cmpgt_epi8(v, byte(0xFF)), _mm_cmplt_epi8(v, byte(0x20))));
  const std::uint32_t stop =
      bits(_mm_or_si128(_mm_cmpeq_epi8(v, byte('"')), _mm_cmpeq_epi8(v, byte('\\')))) | control;
  const std::uint32_t high = bits(v);
  const unsigned first_stop = stop == 0 ? 16 : static_cast<unsigned>(std::countr_zero(stop));
  if (high == 0) return first_stop;

  const std::uint32_t continuation = bits(_mm_cmplt_epi8(v, byte(0xC0)));
  const std::uint32_t lead2 = between(0xC2, 0xDF);
  const std::uint32_t lead3 = between(0xE0, 0xEF);
  const std::uint32_t lead4 = between(0xF0, 0xF4);
  const std::uint32_t stray = high & ~(continuation | lead2 | lead3 | lead4);  // C0, C1, F5..FF
  // Bytes from 0xA0 and from 0x90 (ASCII too, but these masks are only
  // looked at where continuation bytes must be).
  const std::uint32_t from_a0 = bits(_mm_cmpgt_epi8(v, byte(0x9F)));
  const std::uint32_t from_90 = bits(_mm_cmpgt_epi8(v, byte(0x8F)));
  // The leads whose second byte has a narrower range.
  const std::uint32_t e0 = bits(_mm_cmpeq_epi8(v, byte(0xE0)));  // A0..BF: no overlong form
  const std::uint32_t ed = bits(_mm_cmpeq_epi8(v, byte(0xED)));  // 80..9F: no surrogate
  const std::uint32_t f0 = bits(_mm_cmpeq_epi8(v, byte(0xF0)));  // 90..BF: no overlong form
  const std::uint32_t f4 = bits(_mm_cmpeq_epi8(v, byte(0xF4)));  // 80..8F: not above U+10FFFF

  unsigned n = first_stop;
  std::uint32_t within = (std::uint32_t{1} << n) - 1;
  // A sequence that runs past the first n bytes ends the count at its lead.
  const std::uint32_t crossing =
      ((lead2 & ~(within >> 1)) | (lead3 & ~(within >> 2)) | (lead4 & ~(within >> 3))) & within;
  if (crossing != 0) {
    n = static_cast<unsigned>(std::countr_zero(crossing));
    within = (std::uint32_t{1} << n) - 1;
  }
  // Where the leads within the count require continuation bytes.
  const std::uint32_t l2 = lead2 & within, l3 = lead3 & within, l4 = lead4 & within;
  const std::uint32_t need = (l2 << 1) | (l3 << 1) | (l3 << 2) | (l4 << 1) | (l4 << 2) | (l4 << 3);
  // Every required position holds a continuation byte, and no other does:
  // no sequence is cut short, none runs past the count, none is missing.
  const bool valid = (continuation & within) == need && (stray & within) == 0 &&
                     ((e0 & within) << 1 & ~from_a0) == 0 && ((ed & within) << 1 & from_a0) == 0 &&
                     ((f0 & within) << 1 & ~from_90) == 0 && ((f4 & within) << 1 & from_90) == 0;
  if (valid) return n;
  const unsigned first_high = static_cast<unsigned>(std::countr_zero(high));
  return first_high < first_stop ? first_high : first_stop;
}

// Whether a block scan that took n = plain_text_prefix(...) bytes and now
// stands at p must stop there for a closer look. It goes on after a whole
// block, and after a part of one that ends at a byte >= 0x80: a sequence that
// runs past the block, which the next block starts with.
inline bool plain_text_ends(unsigned n, const char* p) noexcept {
  return n != 16 && (n == 0 || static_cast<unsigned char>(*p) < 0x80);
}
#endif

// First byte in [p, end) that needs a closer look inside a string: '"', '\\',
// a control byte below 0x20, or a byte >= 0x80 that starts a multi-byte
// UTF-8 sequence not already found valid here. Plain text is skipped 16
// bytes at a time.
inline const char* find_string_special(const char* p, const char* end) noexcept {
#if defined(__SSE2__)
  while (end - p >= 16) {
    const unsigned n = plain_text_prefix(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    p += n;
    if (plain_text_ends(n, p)) return p;
  }
#else
  // Eight bytes at a time: a byte is special when it is '"' or '\\', below
  // 0x20 or at least 0x80.
  constexpr std::uint64_t ones = 0x0101010101010101ull;
  constexpr std::uint64_t highs = 0x8080808080808080ull;
  while (end - p >= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    const std::uint64_t q = w ^ (ones * '"');
    const std::uint64_t b = w ^ (ones * '\\');
    // May flag a harmless byte next to a special one; never misses one.
    const std::uint64_t t = ((q - ones) & ~q) | ((b - ones) & ~b) | (w - ones * 0x20) | w;
    if ((t & highs) != 0) {
      for (int i = 0; i < 8; ++i) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) return p + i;
      }
    }
    p += 8;
  }
#endif
  while (p != end) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) return p;
    ++p;
  }
  return end;
}

// Result of checking one multi-byte UTF-8 sequence.
enum class Utf8Check : std::uint8_t { Valid, Invalid, Truncated };

// Checks the sequence starting with the byte >= 0x80 at p. Refuses stray
// continuation bytes, overlong forms, UTF-16 surrogates (ED A0..BF) and code
// points above U+10FFFF. On Valid, `length` is 2, 3 or 4; on Invalid,
// `length` is the number of bytes of the maximal ill-formed prefix (>= 1).
inline Utf8Check check_utf8_sequence(const char* p, const char* end, std::size_t& length) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(p);
  const std::size_t avail = static_cast<std::size_t>(end - p);
  const unsigned char c = s[0];
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    need = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    length = 1;
    return Utf8Check::Invalid;
  }
  for (std::size_t i = 1; i < need; ++i) {
    if (i >= avail) {
      length = i;
      return Utf8Check::Truncated;
    }
    const unsigned char b = s[i];
    const bool ok = i == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
    if (!ok) {
      length = i;
      return Utf8Check::Invalid;
    }
  }
  length = need;
  return Utf8Check::Valid;
}

// Writes the UTF-8 form of a code point (at most 4 bytes).
inline char* put_utf8(char* out, std::uint32_t cp) noexcept {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

// Grows a string without zero-filling the new bytes; callers write them
// before they cut the string to the length used.
inline void grow_uninitialized(std::string& s, std::size_t size) {
#if defined(__cpp_lib_string_resize_and_overwrite)
  // The size is named rather than taken from the callback's argument, which
  // this standard library sets to the new capacity when the string grows.
  s.resize_and_overwrite(size, [size](char*, std::size_t) { return size; });
#else
  s.resize(size);
#endif
}

// Four hexadecimal digits of either case; -1 when one is not a hex digit.
inline int hex_value(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  const char l = static_cast<char>(c | 0x20);
  if (l >= 'a' && l <= 'f') return l - 'a' + 10;
  return -1;
}

// Reads \uXXXX at p (p at the backslash). Fails with the position of the
// first bad byte, or with end of input.
inline bool read_hex4(const char* p, const char* end, std::uint32_t& out, Fault& fault) noexcept {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const char* d = p + 2 + i;
    if (d >= end) {
      fault = {JsonErrorCategory::EofWhileParsingString, end};
      return false;
    }
    const int h = hex_value(*d);
    if (h < 0) {
      fault = {JsonErrorCategory::InvalidUnicodeEscape, d};
      return false;
    }
    v = (v << 4) | static_cast<std::uint32_t>(h);
  }
  out = v;
  return true;
}

// What writing the byte `c` escaped adds to a string, as the writers' size
// bound counts it: one for '"' and '\\', five for a control byte (the short
// forms, like \n, need only one).
constexpr std::size_t escape_growth_of(unsigned char c) noexcept {
  if (c == '"' || c == '\\') return 1;
  return c < 0x20 ? 5 : 0;
}

// The byte that each simple escape letter stands for; 0 for letters that
// are no simple escape ('u' is handled apart).
constexpr auto kSimpleEscapes = [] {
  struct Table {
    char byte[256];
  } t{};
  t.byte[static_cast<unsigned char>('"')] = '"';
  t.byte[static_cast<unsigned char>('\\')] = '\\';
  t.byte[static_cast<unsigned char>('/')] = '/';
  t.byte[static_cast<unsigned char>('b')] = '\b';
  t.byte[static_cast<unsigned char>('f')] = '\f';
  t.byte[static_cast<unsigned char>('n')] = '\n';
  t.byte[static_cast<unsigned char>('r')] = '\r';
  t.byte[static_cast<unsigned char>('t')] = '\t';
  return t;
}();

// Checks a \u escape (p at the backslash) and, when Decode is true, writes
// its UTF-8 form at out. A high surrogate must be followed at once by a \u
// escape of a low one; the pair is one code point.
template <bool Decode>
bool scan_unicode_escape(const char*& p, const char* end, char*& out, Fault& fault) noexcept {
  std::uint32_t cp;
  if (!read_hex4(p, end, cp, fault)) return false;
  if (cp >= 0xDC00 && cp <= 0xDFFF) {
    fault = {JsonErrorCategory::LoneSurrogate, p};
    return false;
  }
  if (cp >= 0xD800 && cp <= 0xDBFF) {
    const char* second = p + 6;
    if (end - second < 2) {
      if (second == end || *second == '\\') {
        fault = {JsonErrorCategory::EofWhileParsingString, end};
      } else {
        fault = {JsonErrorCategory::LoneSurrogate, p};
      }
      return false;
    }
    if (second[0] != '\\' || second[1] != 'u') {
      fault = {JsonErrorCategory::LoneSurrogate, p};
      return false;
    }
    std::uint32_t low;
    if (!read_hex4(second, end, low, fault)) return false;
    if (low < 0xDC00 || low > 0xDFFF) {
      fault = {JsonErrorCategory::LoneSurrogate, second};
      return false;
    }
    if constexpr (Decode) out = put_utf8(out, 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00));
    p += 12;
    return true;
  }
  if constexpr (Decode) out = put_utf8(out, cp);
  p += 6;
  return true;
}

// Checks (and, when Decode is true, decodes to out, which has room for 4
// bytes) the escape at p, which points at the backslash. On success p is
// past the escape.
template <bool Decode>
inline bool scan_escape(const char*& p, const char* end, char*& out, Fault& fault) noexcept {
  if (end - p < 2) {
    fault = {JsonErrorCategory::EofWhileParsingString, end};
    return false;
  }
  const char simple = kSimpleEscapes.byte[static_cast<unsigned char>(p[1])];
  if (simple != 0) {
    if constexpr (Decode) *out++ = simple;
    p += 2;
    return true;
  }
  if (p[1] == 'u') return scan_unicode_escape<Decode>(p, end, out, fault);
  fault = {JsonErrorCategory::InvalidEscape, p + 1};
  return false;
}

// Checks the run of multi-byte UTF-8 sequences starting at p (a byte
// >= 0x80), sequence after sequence while they follow each other, which
// keeps text in non-Latin scripts off the ASCII scan. On success p is past
// the run.
inline bool scan_utf8_run(const char*& p, const char* end, Fault& fault) noexcept {
  do {
    std::size_t len;
    switch (check_utf8_sequence(p, end, len)) {
      case Utf8Check::Valid:
        p += len;
        break;
      case Utf8Check::Invalid:
        fault = {JsonErrorCategory::InvalidUtf8, p};
        return false;
      case Utf8Check::Truncated:
        fault = {JsonErrorCategory::EofWhileParsingString, end};
        return false;
    }
  } while (p != end && static_cast<unsigned char>(*p) >= 0x80);
  return true;
}

// Where the escape decoder writes. `out` is the next byte when decoding
// starts and ends; in between the decoder keeps it in a local, and
// ensure(out, n) makes room for n more bytes at `out` and returns where
// `out` is then.
//
// GrowingOut writes into a string that grows as needed.
struct GrowingOut {
  std::string& s;
  char* out;
  char* out_end;
  std::size_t escape_growth = 0;  // of the decoded string, see escape_growth_of

  char* ensure(char* at, std::size_t n) {
    if (static_cast<std::size_t>(out_end - at) >= n) return at;
    const std::size_t used = static_cast<std::size_t>(at - s.data());
    std::size_t size = s.size() * 2;
    if (size < used + n) size = used + n;
    grow_uninitialized(s, size);
    out_end = s.data() + s.size();
    return s.data() + used;
  }
};

// FixedOut writes into a buffer known to be large enough: the decoder never
// writes more bytes than it has read since the string's start, plus at most
// kDecodeSlack bytes of scratch past the end of what it keeps.
inline constexpr std::size_t kDecodeSlack = 16;
struct FixedOut {
  char* out;
  std::size_t escape_growth = 0;  // of the decoded string, see escape_growth_of
  char* ensure(char* at, std::size_t) noexcept { return at; }
};

// The position of the quote that closes the string whose content starts
// at p (past the opening quote), or `end` when there is none before it.
// Escapes are skipped by pairs, without checking them: the decoder does
// that, and it stops at this same quote, or fails before it. With an `end`
// before the input's end, `end` means only that the quote is not in
// [p, end).
inline const char* find_string_close(const char* p, const char* end) noexcept {
#if defined(__SSE2__)
  // Sixteen bytes at a time; the backslashes and quotes of a block are
  // taken from its masks in order, each backslash hiding the next byte.
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  unsigned carry = 0;  // 1 when the block's first byte is escaped
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned q = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, quote))) & ~carry;
    unsigned b = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, backslash))) & ~carry;
    carry = 0;
    while (b != 0) {
      const int i = std::countr_zero(b);
      if ((q & ((1u << i) - 1)) != 0) break;  // a quote comes first
      if (i == 15) {
        carry = 1;
        b = 0;
        break;
      }
      const unsigned hidden = 2u << i;
      q &= ~hidden;
      b &= ~(hidden | (1u << i));
    }
    if (q != 0) return p + std::countr_zero(q);
    p += 16;
  }
  p += carry;
  if (p > end) return end;
#endif
  for (;;) {
    while (p != end && *p != '"' && *p != '\\') ++p;
    if (p == end || *p == '"') return p;
    p = end - p <= 2 ? end : p + 2;
  }
}

// Decodes the rest of a string that has escapes, p at a byte that needs a
// look (the first backslash). On success p is past the closing quote,
// o.out past the last decoded byte and o.escape_growth what the writers'
// escapes add to the decoded string.
template <class Out>
inline bool decode_escapes(const char*& position, const char* end, Out& o, Fault& fault) {
  // Both positions live in locals while the loop runs: every decoded byte
  // is stored through a char pointer, which may alias anything, so
  // positions kept behind references would be reloaded after each store.
  const char* p = position;
  char* out = o.out;
  std::size_t growth = 0;
  const auto finish = [&](bool ok) {
    position = p;
    o.out = out;
    o.escape_growth = growth;
    return ok;
  };
  for (;;) {
    // p is at a byte that needs a look.
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"') {
      ++p;
      return finish(true);
    }
    if (c == '\\') {
      out = o.ensure(out, 4);
      char* const decoded = out;
      if (!scan_escape<true>(p, end, out, fault)) return finish(false);
      // Only an escape can bring in a byte that the writers escape again,
      // and such a byte is all that its escape decodes to.
      if (out - decoded == 1) growth += escape_growth_of(static_cast<unsigned char>(*decoded));
    } else if (c < 0x20) {
      fault = {JsonErrorCategory::ControlCharacterInString, p};
      return finish(false);
    } else {
      const char* run = p;
      if (!scan_utf8_run(p, end, fault)) return finish(false);
      const std::size_t n = static_cast<std::size_t>(p - run);
      if (n <= 16 && end - run >= 16) {
        // Runs are short: one fixed-size copy, the excess overwritten later.
        out = o.ensure(out, 16);
        std::memcpy(out, run, 16);
      } else {
        out = o.ensure(out, n);
        std::memcpy(out, run, n);
      }
      out += n;
    }
    // Copy plain bytes up to the next one that needs a look.
#if defined(__SSE2__)
    for (;;) {
      if (end - p < 16) break;
      out = o.ensure(out, 16);
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
      const unsigned n = plain_text_prefix(v);
      p += n;
      out += n;
      if (plain_text_ends(n, p)) goto special;
    }
#endif
    {
      const char* next = find_string_special(p, end);
      const std::size_t n = static_cast<std::size_t>(next - p);
      out = o.ensure(out, n);
      std::memcpy(out, p, n);
      out += n;
      p = next;
    }
#if defined(__SSE2__)
  special:
#endif
    if (p == end) {
      fault = {JsonErrorCategory::EofWhileParsingString, end};
      return finish(false);
    }
  }
}

// Decodes the rest of a string that has escapes: [start, p) has been
// checked and holds no escape, p is at the first backslash. The decoded
// string goes to `scratch`.
[[gnu::noinline]] inline bool decode_escaped_string(const char* start, const char*& p, const char* end,
                                                    std::string& scratch, std::string_view& text,
                                                    Fault& fault) {
  const std::size_t prefix = static_cast<std::size_t>(p - start);
  if (scratch.size() < prefix + 64) grow_uninitialized(scratch, prefix + 64 > 2 * scratch.size() ? prefix + 64 : 2 * scratch.size());
  std::memcpy(scratch.data(), start, prefix);
  GrowingOut o{scratch, scratch.data() + prefix, scratch.data() + scratch.size()};
  if (!decode_escapes(p, end, o, fault)) return false;
  text = std::string_view(scratch.data(), static_cast<std::size_t>(o.out - scratch.data()));
  return true;
}

// Scans a string whose opening quote has been consumed (p just after it).
// On success p is past the closing quote and `text` holds the content:
// a view into the input when the string has no escapes, else (Decode only)
// a view of `scratch`, which then holds the decoded bytes. With Decode
// false the content is only checked and `text` is left alone.
template <bool Decode>
[[gnu::always_inline]] inline bool scan_string(const char*& p, const char* end, std::string& scratch,
                                               std::string_view& text, Fault& fault) {
  const char* const start = p;
  for (;;) {
    p = find_string_special(p, end);
    if (p == end) {
      fault = {JsonErrorCategory::EofWhileParsingString, end};
      return false;
    }
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"') {
      if constexpr (Decode) text = std::string_view(start, static_cast<std::size_t>(p - start));
      ++p;
      return true;
    }
    if (c == '\\') {
      if constexpr (Decode) {
        return decode_escaped_string(start, p, end, scratch, text, fault);
      } else {
        char* none = nullptr;
        if (!scan_escape<false>(p, end, none, fault)) return false;
        continue;
      }
    }
    if (c < 0x20) {
      fault = {JsonErrorCategory::ControlCharacterInString, p};
      return false;
    }
    if (!scan_utf8_run(p, end, fault)) return false;
  }
}

// Matches the literal `word` at p. On a mismatch: end of input when the
// input ends inside a correct prefix, else an invalid literal.
inline bool scan_literal(const char*& p, const char* end, std::string_view word, Fault& fault) noexcept {
  const std::size_t avail = static_cast<std::size_t>(end - p);
  if (avail >= word.size() && std::memcmp(p, word.data(), word.size()) == 0) {
    p += word.size();
    return true;
  }
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (i == avail) {
      fault = {JsonErrorCategory::EofWhileParsingValue, end};
      return false;
    }
    if (p[i] != word[i]) {
      fault = {JsonErrorCategory::InvalidLiteral, p + i};
      return false;
    }
  }
  return false;  // not reached
}

// The pieces of a number literal that conversion needs.
struct NumberToken {
  const char* begin;  // the '-' or the first digit
  const char* end;
  bool negative;
  bool integer;             // no fraction and no exponent
  int digits;               // digits in the integer and fraction parts
  int fraction_digits;      // digits after the point
  std::uint64_t mantissa;   // the first up to 19 digits as an integer
  std::int64_t exponent;    // explicit exponent, saturated far outside double range
};

// The number written by eight digit values, one per byte, the first in the
// lowest byte: pairwise, 8 digits to 4 two-digit, 2 four-digit, 1 value.
inline std::uint32_t eight_digit_value(std::uint64_t w) noexcept {
  w = (w * 2561) >> 8;
  w = ((w & 0x00FF00FF00FF00FFull) * 6553601) >> 16;
  return static_cast<std::uint32_t>(((w & 0x0000FFFF0000FFFFull) * 42949672960001ull) >> 32);
}

// Eight ASCII digits at p, if they are all digits.
inline bool eight_digits(const char* p, std::uint64_t& value) noexcept {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  // Every byte in '0'..'9': high nibble 3, and adding 6 keeps it 3.
  if (((w & 0xF0F0F0F0F0F0F0F0ull) | (((w + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) >> 4)) !=
      0x3333333333333333ull) {
    return false;
  }
  value = eight_digit_value(w & 0x0F0F0F0F0F0F0F0Full);
  return true;
}

// How many of the eight bytes at p are digits before the first that is
// not (8 if all are), and in `value` the number those digits write.
inline int leading_digits(const char* p, std::uint64_t& value) noexcept {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  // A digit byte becomes 0..9, which leaves the high nibble clear also
  // after adding 6. A carry out of a byte that is not a digit only reaches
  // the bytes after it, which do not count.
  const std::uint64_t x = w ^ 0x3030303030303030ull;
  const std::uint64_t not_digit = (x | (x + 0x0606060606060606ull)) & 0xF0F0F0F0F0F0F0F0ull;
  const int count = not_digit == 0 ? 8 : std::countr_zero(not_digit) / 8;
  // The digits moved up to the last bytes, behind zeros: the same number.
  value = count == 0 ? 0 : eight_digit_value(x << (8 * (8 - count)));
  return count;
}

// Reads a run of digits at p, adding them to the mantissa m while it holds
// fewer than 19 of them (n counts all digits seen). Returns past the run.
inline const char* scan_digits(const char* p, const char* end, std::uint64_t& m, int& n) noexcept {
  std::uint64_t eight;
  // The eighth byte first: most numbers are short, and that one look
  // keeps them off the wider test.
  while (end - p >= 8 && n <= 11 && is_digit(p[7]) && eight_digits(p, eight)) {
    m = m * 100000000 + eight;
    n += 8;
    p += 8;
  }
  // The rest of a run of fewer than eight, in one step.
  if (end - p >= 8) {
    std::uint64_t value;
    const int count = leading_digits(p, value);
    if (count < 8 && n + count <= 19) {
      constexpr std::uint64_t kScale[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
      m = m * kScale[count] + value;
      n += count;
      return p + count;
    }
  }
  while (n < 19 && p != end && is_digit(*p)) {
    m = m * 10 + static_cast<std::uint64_t>(*p - '0');
    ++n;
    ++p;
  }
  // Digits beyond the 19th only count.
  const char* run = p;
  while (p != end && is_digit(*p)) ++p;
  n += static_cast<int>(p - run);
  return p;
}

// Scans a number by the JSON grammar: -? (0 | [1-9][0-9]*) (. [0-9]+)?
// ([eE] [+-]? [0-9]+)?. p points at '-' or a digit.
inline bool scan_number(const char*& p, const char* end, NumberToken& t, Fault& fault) noexcept {
  t.begin = p;
  t.negative = false;
  t.integer = true;
  t.digits = 0;
  t.fraction_digits = 0;
  t.mantissa = 0;
  t.exponent = 0;
  if (*p == '-') {
    t.negative = true;
    ++p;
    if (p == end) {
      fault = {JsonErrorCategory::EofWhileParsingValue, end};
      return false;
    }
  }
  if (*p == '0') {
    ++p;
    t.digits = 1;
    if (p != end && is_digit(*p)) {
      fault = {JsonErrorCategory::InvalidNumber, p};
      return false;
    }
  } else if (is_digit(*p)) {
    p = scan_digits(p, end, t.mantissa, t.digits);
  } else {
    fault = {JsonErrorCategory::InvalidNumber, p};
    return false;
  }
  if (p != end && *p == '.') {
    ++p;
    if (p == end || !is_digit(*p)) {
      fault = {p == end ? JsonErrorCategory::EofWhileParsingValue : JsonErrorCategory::InvalidNumber, p};
      return false;
    }
    t.integer = false;
    const int before = t.digits;
    p = scan_digits(p, end, t.mantissa, t.digits);
    t.fraction_digits = t.digits - before;
  }
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    t.integer = false;
    bool negative_exponent = false;
    if (p != end && (*p == '+' || *p == '-')) {
      negative_exponent = *p == '-';
      ++p;
    }
    if (p == end || !is_digit(*p)) {
      fault = {p == end ? JsonErrorCategory::EofWhileParsingValue : JsonErrorCategory::InvalidNumber, p};
      return false;
    }
    std::int64_t e = 0;
    do {
      if (e < 1'000'000'000) e = e * 10 + (*p - '0');
      ++p;
    } while (p != end && is_digit(*p));
    t.exponent = negative_exponent ? -e : e;
  }
  t.end = p;
  return true;
}

}  // namespace host::json::detail
