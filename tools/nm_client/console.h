// nm-client's own output: the host's frames on standard output, everything
// else on standard error. Whole lines, written with WriteFile at once, so
// that a reader sees each as it comes and lines of two threads never mix.
#pragma once

#include <string_view>

namespace nm_client {

void print_frame_line(std::string_view json);
// A line of its own: "nm-client: " and the text.
void print_note(std::string_view text);
// Text that already holds its line ends.
void print_notes(std::string_view text);

}  // namespace nm_client
