// One object of a type per thread, made on first use and kept between calls.
#pragma once

namespace host {

// The calling thread's T. All callers that name the same T and Tag share
// the object, so a caller whose T is a common type names a Tag of its own.
//
// MinGW-w64 runs the destructors of thread_local objects at thread exit
// after their storage has been released, so a destructor run there reads
// freed memory. On Windows the object is therefore a heap block behind a
// plain pointer and is left behind when its thread ends: callers bound what
// it keeps.
template <class T, class Tag = T>
T& per_thread() {
#ifdef _WIN32
  thread_local T* object = nullptr;
  if (object == nullptr) object = new T;
  return *object;
#else
  thread_local T object;
  return object;
#endif
}

// Runs Release once when the calling thread ends: at the first call in a
// thread it is lined up with that thread's thread_local destructors, so it
// runs before those of objects made earlier and after those of objects made
// later; later calls add nothing. Not on Windows, for the reason above:
// there Release never runs, and what it would give back is left behind when
// its thread ends.
template <void (*Release)() noexcept>
void at_thread_end() noexcept {
#ifndef _WIN32
  struct Reaper {
    ~Reaper() { Release(); }
  };
  thread_local Reaper reaper;
  static_cast<void>(reaper);
#endif
}

}  // namespace host
