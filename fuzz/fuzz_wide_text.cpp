// The conversions between UTF-8 and UTF-16 on any input, taken both as
// UTF-8 bytes and as little-endian UTF-16 code units:
// - to_wide never produces an unpaired surrogate, and for well-formed
//   UTF-8 the strict and the lossy way back give the same bytes;
// - from_wide always gives well-formed UTF-8; from_wide_strict succeeds
//   exactly when no surrogate is unpaired, and then converts back to the
//   same units;
// - replacing unpaired surrogates keeps the length, leaves none behind and
//   equals the lossy conversion there and back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "main/wide_text.h"

namespace {

using host::fuzz::check;

bool is_high(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

bool all_surrogates_paired(std::u16string_view units) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (is_high(units[i]) && i + 1 < units.size() && is_low(units[i + 1])) {
      ++i;
    } else if (is_high(units[i]) || is_low(units[i])) {
      return false;
    }
  }
  return true;
}

void check_from_utf8(std::string_view bytes) {
  const std::u16string wide = host::to_wide(bytes);
  check(all_surrogates_paired(wide), "to_wide produced an unpaired surrogate");
  check(wide.size() <= bytes.size(), "to_wide produced more units than input bytes");
  const auto strict = host::from_wide_strict(wide);
  check(strict.has_value(), "strict decoding refused to_wide's output");
  check(*strict == host::from_wide(wide), "strict and lossy decoding differ on paired text");
  if (host::fuzz::is_valid_utf8(bytes)) {
    check(*strict == bytes, "well-formed UTF-8 does not survive the round trip");
  } else {
    check(wide.find(u'\uFFFD') != std::u16string::npos, "invalid UTF-8 converted without a replacement");
  }
}

void check_from_utf16(std::u16string_view units) {
  const std::string lossy = host::from_wide(units);
  check(host::fuzz::is_valid_utf8(lossy), "from_wide produced invalid UTF-8");
  const auto strict = host::from_wide_strict(units);
  check(strict.has_value() == all_surrogates_paired(units), "strict decoding judged the surrogates wrongly");
  if (strict) {
    check(*strict == lossy, "strict and lossy decoding differ on paired text");
    check(host::to_wide(*strict) == units, "paired UTF-16 does not survive the round trip");
  }
  const std::u16string replaced = host::replace_unpaired_surrogates(units);
  check(replaced.size() == units.size(), "replacing surrogates changed the length");
  check(all_surrogates_paired(replaced), "an unpaired surrogate was left behind");
  check(replaced == host::to_wide(lossy), "replacement differs from the lossy round trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  check_from_utf8(host::fuzz::as_text(data, size));
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  }
  check_from_utf16(units);
  return 0;
}
