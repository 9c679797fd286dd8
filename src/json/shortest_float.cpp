// Shortest digits without a search: the double's rounding interval is scaled
// by the power of ten that leaves two or three candidate decimals in reach,
// one 128-bit multiplication per bound (rounded to odd, so that the
// comparisons below stay exact), then the candidates are tested against the
// interval. The interval is closed when the significand is even (a decimal on
// the bound reads back to it under round-half-even) and open when it is odd.
#include "json/shortest_float.h"

#include <bit>
#include <cstdint>

#include "json/pow10_table.h"

namespace host::json::detail {

namespace {

__extension__ typedef unsigned __int128 u128;

constexpr std::uint64_t kMask63 = (std::uint64_t{1} << 63) - 1;

// floor(log10(2^e)), floor(log10(3/4 * 2^e)) and floor(log2(10^e)) for the
// exponents used here; checked exactly by the table's generator.
constexpr int floor_log10_pow2(int e) { return static_cast<int>((e * std::int64_t{661971961083}) >> 41); }
constexpr int floor_log10_three_quarters_pow2(int e) {
  return static_cast<int>((e * std::int64_t{661971961083} - std::int64_t{274743187321}) >> 41);
}
constexpr int floor_log2_pow10(int e) { return static_cast<int>((e * std::int64_t{913124641741}) >> 38); }

// cp * g / 2^127 rounded down, with the lowest bit set when anything was cut
// off (rounding to odd), where g = hi * 2^63 + lo.
std::uint64_t round_to_odd(const Pow10Entry& g, std::uint64_t cp) noexcept {
  const std::uint64_t x1 = static_cast<std::uint64_t>((static_cast<u128>(g.lo) * cp) >> 64);
  const u128 y = static_cast<u128>(g.hi) * cp;
  const std::uint64_t y0 = static_cast<std::uint64_t>(y);
  const std::uint64_t y1 = static_cast<std::uint64_t>(y >> 64);
  const std::uint64_t z = (y0 >> 1) + x1;
  const std::uint64_t vbp = y1 + (z >> 63);
  return vbp | (((z & kMask63) + kMask63) >> 63);
}

// In steps of 8, 4, 2 and 1 zeros: a short decimal found among 17 digits
// has up to 16 of them, which one at a time would cost a branch each.
ShortestDecimal without_trailing_zeros(std::uint64_t digits, int exponent) noexcept {
  if (digits == 0) return {0, 0};
  while (digits % 100000000 == 0) {
    digits /= 100000000;
    exponent += 8;
  }
  if (digits % 10000 == 0) {
    digits /= 10000;
    exponent += 4;
  }
  if (digits % 100 == 0) {
    digits /= 100;
    exponent += 2;
  }
  if (digits % 10 == 0) {
    digits /= 10;
    exponent += 1;
  }
  return {digits, exponent};
}

}  // namespace

ShortestDecimal shortest_decimal(double v) noexcept {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  constexpr std::uint64_t kHidden = std::uint64_t{1} << 52;
  // v = c * 2^q, c in [2^52, 2^53)
  const std::uint64_t c = kHidden | (bits & (kHidden - 1));
  const int q = biased - 1075;

  // The interval's bounds and v itself, times 4 so that they are integers:
  // half-way to each neighbour. A power of two (above the smallest normal)
  // has its lower neighbour at half the distance of its upper one.
  const std::uint64_t cb = c << 2;
  const std::uint64_t cbr = cb + 2;
  std::uint64_t cbl;
  int k;
  if (c != kHidden || biased == 1) {
    cbl = cb - 2;
    k = floor_log10_pow2(q);
  } else {
    cbl = cb - 1;
    k = floor_log10_three_quarters_pow2(q);
  }
  const int h = q + floor_log2_pow10(-k) + 2;
  const Pow10Entry& g = kPow10Table[k - kPow10TableMinK];

  // 4 * (v, lower bound, upper bound) * 10^-k, rounded to odd.
  const std::uint64_t vb = round_to_odd(g, cb << h);
  const std::uint64_t vbl = round_to_odd(g, cbl << h);
  const std::uint64_t vbr = round_to_odd(g, cbr << h);
  const std::uint64_t out = c & 1;  // an odd significand excludes the bounds

  // The interval is narrower than 10^(k+1): at most one multiple of
  // 10^(k+1) lies in it, and if one does, it is the shortest.
  const std::uint64_t s = vb >> 2;
  const std::uint64_t sp10 = s / 10 * 10;
  const std::uint64_t tp10 = sp10 + 10;
  const bool upin = vbl + out <= sp10 << 2;
  const bool wpin = (tp10 << 2) + out <= vbr;
  if (upin != wpin) return without_trailing_zeros(upin ? sp10 : tp10, k);

  // Otherwise one or both of the multiples of 10^k around v: the one in
  // the interval, or the closer, or on a tie the even one.
  const std::uint64_t t = s + 1;
  const bool uin = vbl + out <= s << 2;
  const bool win = (t << 2) + out <= vbr;
  if (uin != win) return without_trailing_zeros(uin ? s : t, k);
  const std::int64_t cmp = static_cast<std::int64_t>(vb - ((s + t) << 1));
  return without_trailing_zeros(cmp < 0 || (cmp == 0 && (s & 1) == 0) ? s : t, k);
}

}  // namespace host::json::detail
