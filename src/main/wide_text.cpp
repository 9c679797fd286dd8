#include "main/wide_text.h"

#include <cstdint>

namespace host {
namespace {

constexpr char32_t replacement = 0xFFFD;

bool is_high(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void append_utf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// Walks UTF-16 code points; unpaired surrogates come out as nullopt.
template <class Sink>
void each_code_point(std::u16string_view in, Sink&& sink) {
  for (std::size_t i = 0; i < in.size(); ++i) {
    const char16_t u = in[i];
    if (is_high(u) && i + 1 < in.size() && is_low(in[i + 1])) {
      sink(std::optional<char32_t>(0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(in[i + 1]) - 0xDC00)));
      ++i;
    } else if (is_high(u) || is_low(u)) {
      sink(std::optional<char32_t>());
    } else {
      sink(std::optional<char32_t>(u));
    }
  }
}

}  // namespace

std::u16string to_wide(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  const auto* s = reinterpret_cast<const std::uint8_t*>(in.data());
  const std::size_t n = in.size();
  std::size_t i = 0;
  while (i < n) {
    const std::uint8_t b = s[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    // Sequence length and the smallest code point it may encode.
    std::size_t len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2, cp = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3, cp = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4, cp = b & 0x07, min = 0x10000;
    }
    bool ok = len != 0 && i + len <= n;
    for (std::size_t k = 1; ok && k < len; ++k) {
      ok = (s[i + k] & 0xC0) == 0x80;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    ok = ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    if (ok) {
      append_utf16(out, cp);
      i += len;
    } else {
      out.push_back(static_cast<char16_t>(replacement));
      ++i;
    }
  }
  return out;
}

std::string from_wide(std::u16string_view in) {
  std::string out;
  out.reserve(in.size());
  each_code_point(in, [&](std::optional<char32_t> cp) { append_utf8(out, cp.value_or(replacement)); });
  return out;
}

std::optional<std::string> from_wide_strict(std::u16string_view in) {
  std::string out;
  out.reserve(in.size());
  bool ok = true;
  each_code_point(in, [&](std::optional<char32_t> cp) {
    if (cp) {
      append_utf8(out, *cp);
    } else {
      ok = false;
    }
  });
  if (!ok) return std::nullopt;
  return out;
}

std::u16string replace_unpaired_surrogates(std::u16string_view in) {
  std::u16string out;
  out.reserve(in.size());
  each_code_point(in, [&](std::optional<char32_t> cp) { append_utf16(out, cp.value_or(replacement)); });
  return out;
}

}  // namespace host
