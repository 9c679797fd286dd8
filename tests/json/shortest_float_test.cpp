#include "json/shortest_float.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace host::json::detail {
namespace {

// The library's shortest scientific form, as digits and an exponent.
ShortestDecimal library_shortest(double v) {
  char text[40];
  const char* const end = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific).ptr;
  std::uint64_t digits = 0;
  int fraction_digits = 0;
  const char* p = text;
  for (; *p != 'e'; ++p) {
    if (*p == '.') continue;
    digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
    if (p > text + 1) ++fraction_digits;
  }
  int exponent = 0;
  std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exponent);
  return {digits, exponent - fraction_digits};
}

void expect_as_library(double v) {
  const ShortestDecimal want = library_shortest(v);
  const ShortestDecimal got = shortest_decimal(v);
  EXPECT_LT(got.digits, std::uint64_t{100000000000000000});
  EXPECT_TRUE(got.digits == want.digits && got.exponent == want.exponent)
      << std::bit_cast<std::uint64_t>(v) << ": " << got.digits << "e" << got.exponent << ", want " << want.digits
      << "e" << want.exponent;
}

std::uint64_t next(std::uint64_t& state) {
  state = state * 6364136223846793005u + 1442695040888963407u;
  return state ^ (state >> 29);
}

// Every binary exponent of the normal doubles reaches its own power of ten
// in the table, so each is tried with the significands at the edges (where
// the lower neighbour is closer, or the interval is at its narrowest) and
// with random ones.
TEST(ShortestDecimal, MatchesTheLibraryAtEveryBinaryExponent) {
  std::uint64_t state = 42;
  constexpr std::uint64_t kFraction = (std::uint64_t{1} << 52) - 1;
  for (std::uint64_t biased = 1; biased <= 2046; ++biased) {
    std::vector<std::uint64_t> fractions = {0, 1, 2, 3, kFraction, kFraction - 1, kFraction / 2};
    for (int i = 0; i < 24; ++i) fractions.push_back(next(state) & kFraction);
    for (const std::uint64_t fraction : fractions) {
      expect_as_library(std::bit_cast<double>(biased << 52 | fraction));
      if (HasFailure()) return;
    }
  }
}

// Random bit patterns, and decimals as people write them: a few digits,
// where the shortest form is the one that was written.
TEST(ShortestDecimal, MatchesTheLibraryOnRandomDoublesAndShortDecimals) {
  std::uint64_t state = 7;
  for (int i = 0; i < 400000; ++i) {
    const std::uint64_t bits = next(state) & ~(std::uint64_t{1} << 63);
    const double v = std::bit_cast<double>(bits);
    if (!(v >= std::numeric_limits<double>::min() && v <= std::numeric_limits<double>::max())) continue;
    expect_as_library(v);
    if (HasFailure()) return;
  }
  for (int i = 0; i < 200000; ++i) {
    const std::string text = std::to_string(next(state) % 100000000) + "e" +
                             std::to_string(static_cast<int>(next(state) % 600) - 300);
    double v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    if (!(v >= std::numeric_limits<double>::min() && v <= std::numeric_limits<double>::max())) continue;
    expect_as_library(v);
    if (HasFailure()) return;
  }
}

TEST(ShortestDecimal, DropsTrailingZeros) {
  const struct {
    double value;
    std::uint64_t digits;
    int exponent;
  } cases[] = {
      {1.0, 1, 0},      {100.0, 1, 2},   {1e22, 1, 22},   {1e23, 1, 23},         {0.1, 1, -1},
      {120.5, 1205, -1}, {9007199254740992.0, 9007199254740992, 0}, {std::numeric_limits<double>::min(), 22250738585072014, -324},
  };
  for (const auto& c : cases) {
    const ShortestDecimal d = shortest_decimal(c.value);
    EXPECT_EQ(d.digits, c.digits) << c.value;
    EXPECT_EQ(d.exponent, c.exponent) << c.value;
  }
}

}  // namespace
}  // namespace host::json::detail
