// Replacement global operator new and delete. Outside a measurement they
// cost one relaxed load on top of malloc, so timed runs are not slowed;
// during one, each allocation and free moves the net count by the block's
// usable size. Frees of blocks allocated before the measurement count too:
// the net count is the heap's growth over the measurement.
#include "heap_counter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace bench {

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long long> g_net{0};
std::atomic<long long> g_peak{0};

void note(void* p, bool allocated) noexcept {
  if (p == nullptr || !g_counting.load(std::memory_order_relaxed)) return;
  const long long size = static_cast<long long>(malloc_usable_size(p));
  if (!allocated) {
    g_net.fetch_sub(size, std::memory_order_relaxed);
    return;
  }
  const long long net = g_net.fetch_add(size, std::memory_order_relaxed) + size;
  long long peak = g_peak.load(std::memory_order_relaxed);
  while (net > peak && !g_peak.compare_exchange_weak(peak, net, std::memory_order_relaxed)) {
  }
}

void* allocate(std::size_t size) noexcept {
  void* p = std::malloc(size == 0 ? 1 : size);
  note(p, true);
  return p;
}

void* allocate_aligned(std::size_t size, std::align_val_t alignment) noexcept {
  void* p = nullptr;
  if (posix_memalign(&p, static_cast<std::size_t>(alignment), size == 0 ? 1 : size) != 0) return nullptr;
  note(p, true);
  return p;
}

void release(void* p) noexcept {
  note(p, false);
  std::free(p);
}

}  // namespace

HeapMeasurement::HeapMeasurement() noexcept {
  g_net.store(0);
  g_peak.store(0);
  g_counting.store(true);
}

HeapMeasurement::~HeapMeasurement() { g_counting.store(false); }

std::size_t HeapMeasurement::peak() const noexcept { return static_cast<std::size_t>(g_peak.load()); }
long long HeapMeasurement::net() const noexcept { return g_net.load(); }

}  // namespace bench

void* operator new(std::size_t size) {
  if (void* p = bench::allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = bench::allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return bench::allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return bench::allocate(size); }
void* operator new(std::size_t size, std::align_val_t al) {
  if (void* p = bench::allocate_aligned(size, al)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t al) {
  if (void* p = bench::allocate_aligned(size, al)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t al, const std::nothrow_t&) noexcept {
  return bench::allocate_aligned(size, al);
}
void* operator new[](std::size_t size, std::align_val_t al, const std::nothrow_t&) noexcept {
  return bench::allocate_aligned(size, al);
}

void operator delete(void* p) noexcept { bench::release(p); }
void operator delete[](void* p) noexcept { bench::release(p); }
void operator delete(void* p, std::size_t) noexcept { bench::release(p); }
void operator delete[](void* p, std::size_t) noexcept { bench::release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { bench::release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { bench::release(p); }
void operator delete(void* p, std::align_val_t) noexcept { bench::release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { bench::release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { bench::release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { bench::release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { bench::release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { bench::release(p); }
