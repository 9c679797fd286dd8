// Helpers shared by the fuzz targets: an independent UTF-8 check, a walk
// over every string of a value, and a failure that stops libFuzzer with a
// message (abort() is what it reports as a crash).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "json/json.h"

namespace host::fuzz {

[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz property violated: %s\n", what);
  std::abort();
}

inline void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// Well-formed UTF-8 as Unicode defines it: shortest forms only, no
// surrogate code points, nothing above U+10FFFF. Written from the table of
// well-formed byte sequences, independently of the host's own decoders.
inline bool is_valid_utf8(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  auto cont = [&](std::size_t k, unsigned lo, unsigned hi) { return i + k < n && s[i + k] >= lo && s[i + k] <= hi; };
  while (i < n) {
    const unsigned b = s[i];
    if (b <= 0x7F) {
      i += 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      if (!cont(1, 0x80, 0xBF)) return false;
      i += 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      const unsigned lo = b == 0xE0 ? 0xA0 : 0x80;
      const unsigned hi = b == 0xED ? 0x9F : 0xBF;
      if (!cont(1, lo, hi) || !cont(2, 0x80, 0xBF)) return false;
      i += 3;
    } else if (b >= 0xF0 && b <= 0xF4) {
      const unsigned lo = b == 0xF0 ? 0x90 : 0x80;
      const unsigned hi = b == 0xF4 ? 0x8F : 0xBF;
      if (!cont(1, lo, hi) || !cont(2, 0x80, 0xBF) || !cont(3, 0x80, 0xBF)) return false;
      i += 4;
    } else {
      return false;
    }
  }
  return true;
}

// Calls visit(text) for every string in the value, keys included. Parsed
// values are at most 127 levels deep, so the recursion is bounded.
template <class Visit>
void each_string(const json::JsonValue& value, Visit&& visit) {
  if (auto text = value.as_string()) {
    visit(*text);
  } else if (const auto* array = value.as_array()) {
    for (const auto& element : *array) each_string(element, visit);
  } else if (const auto* object = value.as_object()) {
    for (const auto& member : *object) {
      visit(member.key);
      each_string(member.value, visit);
    }
  }
}

}  // namespace host::fuzz
