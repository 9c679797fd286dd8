// Replaces the global allocation functions of the program it is linked
// into. Every form forwards to malloc / aligned allocation and free, so that
// nothing allocated by one form is released by a mismatched one.
#include "support/allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

#ifdef _WIN32
#include <malloc.h>
#endif

namespace host::test {
namespace {

std::atomic<bool> watching{false};
std::atomic<std::size_t> largest{0};
std::atomic<std::size_t> count{0};

void record(std::size_t size) noexcept {
  if (!watching.load(std::memory_order_relaxed)) return;
  count.fetch_add(1, std::memory_order_relaxed);
  std::size_t seen = largest.load(std::memory_order_relaxed);
  while (size > seen && !largest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
  }
}

void* allocate(std::size_t size, std::size_t alignment) noexcept {
  record(size);
  if (size == 0) size = 1;
  if (alignment <= alignof(std::max_align_t)) return std::malloc(size);
#ifdef _WIN32
  return _aligned_malloc(size, alignment);
#else
  // aligned_alloc wants a size that is a multiple of the alignment.
  return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
#endif
}

void release(void* p, std::size_t alignment) noexcept {
  if (!p) return;
#ifdef _WIN32
  if (alignment > alignof(std::max_align_t)) {
    _aligned_free(p);
    return;
  }
#else
  (void)alignment;
#endif
  std::free(p);
}

void* allocate_or_throw(std::size_t size, std::size_t alignment) {
  void* p = allocate(size, alignment);
  if (!p) throw std::bad_alloc();
  return p;
}

constexpr std::size_t plain = alignof(std::max_align_t);

}  // namespace

AllocationWatch::AllocationWatch() {
  largest.store(0);
  count.store(0);
  watching.store(true);
}
AllocationWatch::~AllocationWatch() { watching.store(false); }
std::size_t AllocationWatch::largest_request() const { return largest.load(); }
std::size_t AllocationWatch::requests() const { return count.load(); }

}  // namespace host::test

using host::test::allocate;
using host::test::allocate_or_throw;
using host::test::plain;
using host::test::release;

void* operator new(std::size_t size) { return allocate_or_throw(size, plain); }
void* operator new[](std::size_t size) { return allocate_or_throw(size, plain); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, plain); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, plain); }
void* operator new(std::size_t size, std::align_val_t a) { return allocate_or_throw(size, std::size_t(a)); }
void* operator new[](std::size_t size, std::align_val_t a) { return allocate_or_throw(size, std::size_t(a)); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate(size, std::size_t(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate(size, std::size_t(a));
}

void operator delete(void* p) noexcept { release(p, plain); }
void operator delete[](void* p) noexcept { release(p, plain); }
void operator delete(void* p, std::size_t) noexcept { release(p, plain); }
void operator delete[](void* p, std::size_t) noexcept { release(p, plain); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p, plain); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p, plain); }
void operator delete(void* p, std::align_val_t a) noexcept { release(p, std::size_t(a)); }
void operator delete[](void* p, std::align_val_t a) noexcept { release(p, std::size_t(a)); }
void operator delete(void* p, std::size_t, std::align_val_t a) noexcept { release(p, std::size_t(a)); }
void operator delete[](void* p, std::size_t, std::align_val_t a) noexcept { release(p, std::size_t(a)); }
void operator delete(void* p, std::align_val_t a, const std::nothrow_t&) noexcept { release(p, std::size_t(a)); }
void operator delete[](void* p, std::align_val_t a, const std::nothrow_t&) noexcept { release(p, std::size_t(a)); }
