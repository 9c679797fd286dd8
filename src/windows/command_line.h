// Building a Windows command line from separate arguments.
#pragma once

#include <string>
#include <string_view>

namespace host::win {

// Quotes one argument so that CommandLineToArgvW (and the C runtime's
// parser) gives it back unchanged: blanks, quotes, trailing backslashes.
std::u16string quote_command_line_argument(std::u16string_view argument);

}  // namespace host::win
