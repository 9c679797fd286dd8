// Running a piece of code on a thread with a small stack of known size, and
// measuring how much of it the code used: the stack is painted with a
// pattern beforehand and a guard page below it turns an overflow into a
// crash instead of silent damage. POSIX only.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>

namespace host::test {

// Runs `body` on a new thread whose stack is `stack_size` bytes (a multiple
// of the page size) and returns the deepest stack use seen, in bytes, or
// nothing when the thread could not be made. The figure includes what the
// thread library keeps at the top of the stack (its descriptor and the
// thread-local storage), the same for every call.
std::optional<std::size_t> run_on_small_stack(std::size_t stack_size, const std::function<void()>& body);

}  // namespace host::test
