#include "windows/command_line.h"

namespace host::win {

std::u16string quote_command_line_argument(std::u16string_view argument) {
  if (!argument.empty() && argument.find_first_of(u" \t\n\v\"") == std::u16string_view::npos) {
    return std::u16string(argument);
  }
  // Backslashes are literal except before a quote, so a run of them is
  // doubled before an escaped quote and before the closing quote.
  std::u16string quoted = u"\"";
  std::size_t backslashes = 0;
  for (const char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    if (c == u'"') {
      quoted.append(backslashes * 2 + 1, u'\\');
    } else {
      quoted.append(backslashes, u'\\');
    }
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, u'\\');
  quoted.push_back(u'"');
  return quoted;
}

}  // namespace host::win
