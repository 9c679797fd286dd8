// Joining Windows path parts as text.
#pragma once

#include <string>
#include <string_view>

namespace host {

// first + "\" + second, except that no backslash is added when first is
// empty, already ends in a backslash or a forward slash, or is a bare drive
// such as "C:". The second part is always relative.
std::string join_path(std::string_view first, std::string_view second);

}  // namespace host
