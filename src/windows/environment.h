// The process environment, read as UTF-16.
#pragma once

#include <optional>
#include <string>

namespace host::win {

// The variable's value, or nothing when it is not set or cannot be read.
// An empty value is a value.
std::optional<std::u16string> environment_variable(const char16_t* name);

}  // namespace host::win
