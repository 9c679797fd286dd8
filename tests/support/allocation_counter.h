// Watching the heap of a test program: linking allocation_counter.cpp into a
// test executable replaces the global operator new and delete, so that a
// test can ask for the largest single request made while it watched.
#pragma once

#include <cstddef>

namespace host::test {

// Records every request made through operator new, in any thread, from
// construction to destruction. One watch at a time.
class AllocationWatch {
 public:
  AllocationWatch();
  ~AllocationWatch();
  AllocationWatch(const AllocationWatch&) = delete;
  AllocationWatch& operator=(const AllocationWatch&) = delete;

  // The largest single request in bytes, and how many requests were made.
  std::size_t largest_request() const;
  std::size_t requests() const;
};

}  // namespace host::test
