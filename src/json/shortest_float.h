// The shortest decimal form of a double: the fewest significant digits that
// read back, under round-to-nearest-even, to exactly the same double; of
// several such, the one closest to the double, and on a tie the one with an
// even last digit (the choice std::to_chars makes).
#pragma once

#include <cstdint>

namespace host::json::detail {

// value = digits * 10^exponent; digits has no trailing zeros and at most
// 17 of them.
struct ShortestDecimal {
  std::uint64_t digits;
  int exponent;
};

// For a positive, finite, normal double (not zero, not subnormal).
ShortestDecimal shortest_decimal(double v) noexcept;

}  // namespace host::json::detail
