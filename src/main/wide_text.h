// UTF-8 text <-> UTF-16 code units, for every Windows call that takes or
// gives a string. Platform-neutral: UTF-16 is char16_t here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace host {

// UTF-8 to UTF-16. The result's c_str() is the terminated form Windows
// calls take; NUL characters inside the text are not looked for. Invalid
// UTF-8 (never produced by the host's own sources) becomes U+FFFD.
std::u16string to_wide(std::string_view utf8);

// UTF-16 to UTF-8, each unpaired surrogate replaced by U+FFFD. Never fails.
std::string from_wide(std::u16string_view utf16);

// UTF-16 to UTF-8, or nothing when the units hold an unpaired surrogate.
std::optional<std::string> from_wide_strict(std::u16string_view utf16);

// UTF-16 to UTF-16 with each unpaired surrogate replaced by U+FFFD.
std::u16string replace_unpaired_surrogates(std::u16string_view utf16);

}  // namespace host
