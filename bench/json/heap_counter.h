// Peak heap growth of a piece of code, through operator new. The benchmark
// binary replaces the global allocation functions; while a measurement is
// on they add up the bytes allocated and freed. Memory taken with malloc
// directly is not seen.
#pragma once

#include <cstddef>

namespace bench {

class HeapMeasurement {
 public:
  // Starts counting from zero. One measurement at a time.
  HeapMeasurement() noexcept;
  ~HeapMeasurement();
  HeapMeasurement(const HeapMeasurement&) = delete;
  HeapMeasurement& operator=(const HeapMeasurement&) = delete;

  // The largest number of bytes that were live at once beyond those live
  // at the start (blocks as malloc sized them).
  std::size_t peak() const noexcept;
  // Bytes live now beyond those live at the start; may be negative.
  long long net() const noexcept;
};

}  // namespace bench
