// The compact and pretty writers.
//
// Output is written through a raw pointer into one buffer with bulk copies;
// the buffer grows geometrically (without zero-filling) and is cut to length
// at the end.
#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "json/json.h"
#include "json/json_scan.h"
#include "json/per_thread.h"
#include "json/shortest_float.h"

namespace host::json {

namespace {

using A = detail::Access;

#if defined(__SSE2__)
// A bit for each of the 16 bytes that the writers escape: '"', '\\' or a
// control byte below 0x20.
inline unsigned escape_mask(__m128i v) noexcept {
  // v <= 0x1F unsigned  <=>  min(v, 0x1F) == v
  const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
  const __m128i hit = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))), control);
  return static_cast<unsigned>(_mm_movemask_epi8(hit));
}
#endif

// The first byte in [p, end) that the writers escape: '"', '\\' or a
// control byte below 0x20. Bytes >= 0x80 and 0x7F pass unchanged.
const char* find_escaped(const char* p, const char* end) noexcept {
#if defined(__SSE2__)
  while (end - p >= 16) {
    const unsigned mask = escape_mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    if (mask != 0) return p + std::countr_zero(mask);
    p += 16;
  }
#endif
  while (p != end) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\' || c < 0x20) return p;
    ++p;
  }
  return end;
}

#if defined(__SSE2__)
// An inline string's bytes in one register, moved down to the start (its 14
// byte slots follow the tag and the length), and a bit for each of its
// `size` bytes that the writers escape.
struct InlineBytes {
  __m128i bytes;
  unsigned escapes;
};

InlineBytes inline_bytes(const JsonValue& v, std::size_t size) noexcept {
  const __m128i bytes = _mm_srli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(A::small_rep(v))), 2);
  return {bytes, escape_mask(bytes) & ((1u << size) - 1)};
}
#endif

struct Escape {
  char text[7];
  std::uint8_t size;
};

// The escape of each byte below 0x20: the short forms where JSON has them,
// else \u00 and two lower-case hex digits.
constexpr auto kControlEscapes = [] {
  struct Table {
    Escape e[32];
  } t{};
  constexpr char hex[] = "0123456789abcdef";
  for (int c = 0; c < 32; ++c) {
    Escape& e = t.e[c];
    char shorthand = 0;
    switch (c) {
      case 0x08:
        shorthand = 'b';
        break;
      case 0x09:
        shorthand = 't';
        break;
      case 0x0A:
        shorthand = 'n';
        break;
      case 0x0C:
        shorthand = 'f';
        break;
      case 0x0D:
        shorthand = 'r';
        break;
      default:
        break;
    }
    if (shorthand != 0) {
      e.text[0] = '\\';
      e.text[1] = shorthand;
      e.size = 2;
    } else {
      const char u[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
      for (int i = 0; i < 6; ++i) e.text[i] = u[i];
      e.size = 6;
    }
  }
  return t;
}();

// Two ASCII digits for each of 0..99.
constexpr auto kDigitPairs = [] {
  struct Pairs {
    char text[200];
  } t{};
  for (int i = 0; i < 100; ++i) {
    t.text[2 * i] = static_cast<char>('0' + i / 10);
    t.text[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return t;
}();

// v < 10^8 as exactly eight digits, leading zeros included. The four pairs
// come from two independent divisions, not from a chain of them.
void put_eight_digits(char* p, std::uint32_t v) noexcept {
  const std::uint32_t high = v / 10000;
  const std::uint32_t low = v % 10000;
  std::memcpy(p, kDigitPairs.text + 2 * (high / 100), 2);
  std::memcpy(p + 2, kDigitPairs.text + 2 * (high % 100), 2);
  std::memcpy(p + 4, kDigitPairs.text + 2 * (low / 100), 2);
  std::memcpy(p + 6, kDigitPairs.text + 2 * (low % 100), 2);
}

// v < 10^17 as exactly 17 digits at p, leading zeros included.
void put_seventeen_digits(char* p, std::uint64_t v) noexcept {
  constexpr std::uint64_t kE8 = 100000000;
  const std::uint64_t high = v / kE8;  // < 10^9
  put_eight_digits(p + 9, static_cast<std::uint32_t>(v % kE8));
  put_eight_digits(p + 1, static_cast<std::uint32_t>(high % kE8));
  p[0] = static_cast<char>('0' + high / kE8);
}

// The number of decimal digits of v >= 1, from its bit width.
int decimal_digit_count(std::uint64_t v) noexcept {
  constexpr auto kPowersOfTen = [] {
    std::array<std::uint64_t, 20> t{};
    std::uint64_t power = 1;
    for (std::uint64_t& entry : t) {
      entry = power;
      power *= 10;  // wraps after 10^19, which is not kept
    }
    return t;
  }();
  const int t = (std::bit_width(v) * 1233) >> 12;  // floor(log10(2^bit_width))
  return t + (v >= kPowersOfTen[t]);
}

// Writes a finite double in the host's float form: the shortest digits that
// read back to the same value, plain notation for decimal exponents -5..15
// (always with a fraction part), scientific notation beyond. Writes at most
// 25 bytes, but may scribble up to kFloatScratch bytes past `out` (fixed
// size copies are cheaper than exact ones).
constexpr std::size_t kFloatScratch = 48;

char* write_float(char* out, double d) {
  if (d == 0) {
    if (std::signbit(d)) *out++ = '-';
    std::memcpy(out, "0.0", 3);
    return out + 3;
  }
  if (d < 0) {
    *out++ = '-';
    d = -d;
  }
  // The shortest digits, n of them from `first` on, and the decimal
  // exponent e of the first; 16 bytes of room after them for the
  // fixed-size copies below.
  char digit_text[48];
  const char* first = digit_text;
  int n;
  int e;
  if (d >= std::numeric_limits<double>::min()) {
    const detail::ShortestDecimal decimal = detail::shortest_decimal(d);
    put_seventeen_digits(digit_text, decimal.digits);
    n = decimal_digit_count(decimal.digits);
    first = digit_text + 17 - n;
    e = decimal.exponent + n - 1;
  } else {
    // Subnormals, from the library's shortest scientific form D[.DDD]e-XXX.
    char sci[40];
    const char* const sci_end = std::to_chars(sci, sci + 32, d, std::chars_format::scientific).ptr;
    const char* const e_at = std::find(static_cast<const char*>(sci), sci_end, 'e');
    digit_text[0] = sci[0];
    n = 1;
    for (const char* x = sci + 2; x < e_at; ++x) digit_text[n++] = *x;
    e = 0;
    for (const char* x = e_at + 2; x != sci_end; ++x) e = e * 10 + (*x - '0');
    e = -e;
  }
  const char* const rest = first + 1;  // the digits after the first (n - 1 of them)

  if (e >= 0 && e <= 15) {
    const int integer_digits = e + 1;
    *out = first[0];
    std::memcpy(out + 1, rest, 16);  // the other digits (and some bytes beyond)
    if (n <= integer_digits) {
      // Integral: zeros up to the point, then ".0".
      std::memset(out + n, '0', 16);
      out += integer_digits;
      std::memcpy(out, ".0", 2);
      return out + 2;
    }
    // Digits with the point after the integer part.
    std::memmove(out + integer_digits + 1, out + integer_digits, 16);
    out[integer_digits] = '.';
    return out + n + 1;
  }
  if (e < 0 && e >= -5) {
    std::memcpy(out, "0.00000", 8);
    out += 1 - e;  // "0." and -e-1 zeros
    *out = first[0];
    std::memcpy(out + 1, rest, 16);
    return out + n;
  }
  *out = first[0];
  if (n > 1) {
    out[1] = '.';
    std::memcpy(out + 2, rest, 16);
    out += n + 1;
  } else {
    out += 1;
  }
  // 'e', the sign and the exponent's digits without leading zeros.
  *out++ = 'e';
  *out++ = e < 0 ? '-' : '+';
  const unsigned magnitude = static_cast<unsigned>(e < 0 ? -e : e);
  if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
  if (magnitude >= 10) *out++ = static_cast<char>('0' + magnitude / 10 % 10);
  *out++ = static_cast<char>('0' + magnitude % 10);
  return out;
}

constexpr std::size_t kMaxScalarText = kFloatScratch;  // room for any number, bool or null

std::size_t compact_size_bound(const JsonValue& v) noexcept;

// A text that grows past this size moves from a spill buffer to its final
// string (see write_compact_to_string).
constexpr std::size_t kSpillLimit = std::size_t{64} << 10;

template <bool Pretty>
class Writer {
 public:
  explicit Writer(std::string& out) : out_(&out), first_(&out) {
    p_ = out_->data() + out_->size();
    end_ = p_;
  }
  // Writes `root` into `out` (a working buffer) while the text stays below
  // kSpillLimit; beyond, the text moves once to `spill`, sized from a walk
  // over `root`, and goes on there.
  Writer(std::string& out, std::string& spill, const JsonValue& root) : Writer(out) {
    spill_ = &spill;
    root_ = &root;
  }

  // On failure (only allocation can fail) the buffer is left as it was.
  // `expected` is room to make at the start.
  void write(const JsonValue& v, std::size_t expected = 256) {
    const std::size_t original = first_->size();
    try {
      reserve(expected);
      write_value(v, 0);
    } catch (...) {
      first_->resize(original);
      out_ = first_;
      throw;
    }
    out_->resize(static_cast<std::size_t>(p_ - out_->data()));
  }
  // Whether the text went to the spill string.
  bool spilled() const noexcept { return out_ != first_; }

 private:
  void reserve(std::size_t n) {
    if (static_cast<std::size_t>(end_ - p_) < n) grow(n);
  }
  [[gnu::noinline]] void grow(std::size_t n) {
    std::size_t used = static_cast<std::size_t>(p_ - out_->data());
    if (spill_ != nullptr && used + n > kSpillLimit) {
      // The bound covers the whole text, the part written included; the
      // margin covers the fixed-size stores past the text.
      detail::grow_uninitialized(*spill_, compact_size_bound(*root_) + kMaxScalarText + 16);
      std::memcpy(spill_->data(), out_->data(), used);
      out_ = spill_;
      spill_ = nullptr;
      p_ = out_->data() + used;
      end_ = out_->data() + out_->size();
      if (static_cast<std::size_t>(end_ - p_) >= n) return;
    }
    std::size_t size = out_->size() * 2;
    if (size < used + n) size = used + n;
    detail::grow_uninitialized(*out_, size);
    p_ = out_->data() + used;
    end_ = out_->data() + out_->size();
  }
  void put(char c) { *p_++ = c; }
  void put(const char* s, std::size_t n) {
    std::memcpy(p_, s, n);
    p_ += n;
  }
  void newline_indent(std::size_t depth) {
    reserve(2 * depth + 1);
    put('\n');
    std::memset(p_, ' ', 2 * depth);
    p_ += 2 * depth;
  }

  // `v` is a string value (or a member key).
  void write_string(const JsonValue& v) {
#if defined(__SSE2__)
    if (A::tag(v) == A::kSmallString) {
      // The whole inline string in one register.
      const std::size_t size = A::small_size(v);
      const InlineBytes in = inline_bytes(v, size);
      const __m128i bytes = in.bytes;
      if (in.escapes == 0) {
        reserve(18);
        put('"');
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p_), bytes);
        p_ += size;
        put('"');
        return;
      }
    }
#endif
    write_text(A::string_of(v));
  }

  void write_text(std::string_view s) {
    const char* q = s.data();
    const char* const end = q + s.size();
    // Room for the rest unescaped, the quotes, and the 16-byte stores of the
    // copy loop, which may write past what they keep.
    constexpr std::size_t kSlack = 2 + 16;
    reserve(s.size() + kSlack);
    put('"');
    for (;;) {
      const char* hit = copy_unescaped(q, end);
      if (hit == end) break;
      const unsigned char c = static_cast<unsigned char>(*hit);
      // Room for this escape and the rest of the string unescaped.
      reserve(static_cast<std::size_t>(end - hit) + 6 + kSlack);
      if (c == '"' || c == '\\') {
        put('\\');
        put(static_cast<char>(c));
      } else {
        const Escape& e = kControlEscapes.e[c];
        put(e.text, e.size);
      }
      q = hit + 1;
    }
    put('"');
  }

  // Copies the bytes from q up to the first one that needs an escape (or to
  // `end`) and returns where it stopped. Sixteen bytes are copied and looked
  // at in one step, so a text with an escape every few words costs one pass
  // over its bytes; the output needs 16 bytes of room past what is kept.
  const char* copy_unescaped(const char* q, const char* end) {
#if defined(__SSE2__)
    while (end - q >= 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p_), v);
      const unsigned mask = escape_mask(v);
      if (mask != 0) {
        const int k = std::countr_zero(mask);
        p_ += k;
        return q + k;
      }
      q += 16;
      p_ += 16;
    }
#endif
    const char* hit = find_escaped(q, end);
    put(q, static_cast<std::size_t>(hit - q));
    return hit;
  }

  void write_value(const JsonValue& v, std::size_t depth) {
    switch (A::tag(v)) {
      case A::kSmallString:
      case A::kHeapString:
        write_string(v);
        return;
      case A::kArray:
        write_array(A::array_of(v), depth);
        return;
      case A::kObject:
        write_object(A::map_of(v), depth);
        return;
      default:
        break;
    }
    reserve(kMaxScalarText);
    switch (A::tag(v)) {
      case A::kNull:
        put("null", 4);
        return;
      case A::kBool:
        if (A::flag(v)) {
          put("true", 4);
        } else {
          put("false", 5);
        }
        return;
      case A::kUnsigned:
        p_ = std::to_chars(p_, p_ + 20, A::unsigned_of(v)).ptr;
        return;
      case A::kNegative: {
        // The magnitude as unsigned: INT64_MIN has no positive int64_t.
        put('-');
        const std::uint64_t magnitude = 0 - static_cast<std::uint64_t>(A::negative_of(v));
        p_ = std::to_chars(p_, p_ + 20, magnitude).ptr;
        return;
      }
      case A::kFloat:
        p_ = write_float(p_, A::float_of(v));
        return;
      default:
        return;
    }
  }

  void write_array(const JsonArray& a, std::size_t depth) {
    reserve(2);
    if (a.empty()) {
      put("[]", 2);
      return;
    }
    put('[');
    bool first = true;
    for (const JsonValue& e : a) {
      if (!first) {
        reserve(1);
        put(',');
      }
      first = false;
      if constexpr (Pretty) newline_indent(depth + 1);
      write_value(e, depth + 1);
    }
    if constexpr (Pretty) newline_indent(depth);
    reserve(1);
    put(']');
  }

  void write_object(const JsonMap& map, std::size_t depth) {
    const A::Member* m = A::members_begin(map);
    const A::Member* const end = A::members_end(map);
    reserve(2);
    if (m == end) {
      put("{}", 2);
      return;
    }
    put('{');
    for (bool first = true; m != end; ++m, first = false) {
      if (!first) {
        reserve(1);
        put(',');
      }
      if constexpr (Pretty) newline_indent(depth + 1);
      write_string(m->key);
      reserve(2);
      put(':');
      if constexpr (Pretty) put(' ');
      write_value(m->value, depth + 1);
    }
    if constexpr (Pretty) newline_indent(depth);
    reserve(1);
    put('}');
  }

  std::string* out_;
  std::string* const first_;
  std::string* spill_ = nullptr;
  const JsonValue* root_ = nullptr;
  char* p_;
  char* end_;
};

// At least the number of bytes that escaping adds to a string: the sum of
// escape_growth_of over its bytes.
std::size_t escape_growth(std::string_view s) noexcept {
  std::size_t extra = 0;
  const char* p = s.data();
  const char* const end = p + s.size();
#if defined(__SSE2__)
  // Byte-wise counters (a hit is -1, so subtracting counts it), summed up
  // before they can wrap.
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i control_max = _mm_set1_epi8(0x1F);
  const __m128i zero = _mm_setzero_si128();
  while (end - p >= 16) {
    __m128i marked_count = zero;
    __m128i control_count = zero;
    for (int round = 0; round < 255 && end - p >= 16; ++round, p += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      control_count = _mm_sub_epi8(control_count, _mm_cmpeq_epi8(_mm_min_epu8(v, control_max), v));
      marked_count = _mm_sub_epi8(marked_count,
                                  _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
    }
    const __m128i controls = _mm_sad_epu8(control_count, zero);
    const __m128i marked = _mm_sad_epu8(marked_count, zero);
    extra += static_cast<std::size_t>(_mm_cvtsi128_si32(marked)) +
             static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(marked, 8))) +
             5 * (static_cast<std::size_t>(_mm_cvtsi128_si32(controls)) +
                  static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(controls, 8))));
  }
#endif
  for (; p != end; ++p) extra += detail::escape_growth_of(static_cast<unsigned char>(*p));
  return extra;
}

// At least the number of decimal digits of v, at most one more: from its
// bit width, without dividing.
std::size_t digit_bound(std::uint64_t v) noexcept {
  return ((static_cast<std::size_t>(std::bit_width(v | 1)) * 1234) >> 12) + 1;
}

// An upper bound of the compact form's length: exact but for numbers
// (floats are counted at their longest) and for escapes.
std::size_t compact_size_bound(const JsonValue& v) noexcept {
  switch (A::tag(v)) {
    case A::kNull:
      return 4;
    case A::kBool:
      return A::flag(v) ? 4 : 5;
    case A::kUnsigned:
      return digit_bound(A::unsigned_of(v));
    case A::kNegative:
      return 1 + digit_bound(0 - static_cast<std::uint64_t>(A::negative_of(v)));
    case A::kFloat:
      return 25;
    case A::kSmallString: {
      const std::size_t size = A::small_size(v);
#if defined(__SSE2__)
      // As the writer tests it: the inline bytes in one register. A short
      // string that has anything to escape is counted as all escapes.
      return inline_bytes(v, size).escapes == 0 ? size + 2 : 6 * size + 2;
#else
      const std::string_view s = A::string_of(v);
      return s.size() + 2 + escape_growth(s);
#endif
    }
    case A::kHeapString: {
      const std::string_view s = A::string_of(v);
      const std::size_t recorded = A::recorded_escape_growth(v);
      return s.size() + 2 + (recorded != detail::kGrowthUnknown ? recorded : escape_growth(s));
    }
    case A::kArray: {
      const JsonArray& a = A::array_of(v);
      std::size_t n = a.empty() ? 2 : a.size() + 1;  // brackets and commas
      for (const JsonValue& e : a) n += compact_size_bound(e);
      return n;
    }
    case A::kObject: {
      const JsonMap& map = A::map_of(v);
      std::size_t n = map.empty() ? 2 : 2 * map.size() + 1;  // braces, colons and commas
      for (const A::Member* m = A::members_begin(map); m != A::members_end(map); ++m) {
        n += compact_size_bound(m->key) + compact_size_bound(m->value);
      }
      return n;
    }
  }
  return 0;
}

// The writers' working buffer, kept per thread so that a stream of
// messages writes into memory that is already there. What is kept is
// bounded.
struct WorkingBufferTag;
constexpr std::size_t kKeptBuffer = std::size_t{8} << 20;

std::string write_pretty_to_string(const JsonValue& value) {
  std::string& buffer = per_thread<std::string, WorkingBufferTag>();
  buffer.clear();
  Writer<true>(buffer).write(value);
  std::string result(buffer);
  if (buffer.capacity() > kKeptBuffer) std::string().swap(buffer);
  return result;
}

// A short compact text is written into the working buffer and copied out
// at its exact size. A long one goes straight into the result, sized once
// from a walk over the value: no copy of the whole text, no growth on the
// way, and no buffer of its size kept.
std::string write_compact_to_string(const JsonValue& value) {
  std::string& buffer = per_thread<std::string, WorkingBufferTag>();
  buffer.clear();
  std::string result;
  Writer<false> writer(buffer, result, value);
  writer.write(value);
  if (!writer.spilled()) result.assign(buffer);
  if (buffer.capacity() > kKeptBuffer) std::string().swap(buffer);
  return result;
}

}  // namespace

void append_json_bytes(std::string& out, const JsonValue& value) { Writer<false>(out).write(value); }

void append_pretty_json_bytes(std::string& out, const JsonValue& value) { Writer<true>(out).write(value); }

std::string to_json_bytes(const JsonValue& value) { return write_compact_to_string(value); }

std::string to_pretty_json_bytes(const JsonValue& value) { return write_pretty_to_string(value); }

}  // namespace host::json
