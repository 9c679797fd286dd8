#include "json/block_cache.h"

#include <new>
#include <utility>

#include "json/per_thread.h"

namespace host::json::detail {
namespace {

// Sizes are cached in steps of 8 bytes, the granule of the sizes asked for
// (the heap rounds them up further on its own); a block in the list of a
// step has at least that step's size. A list runs through its blocks'
// first word.
constexpr std::size_t kStep = 8;
constexpr std::size_t kLists = kLargestCached / kStep;

// Constant-initialized and trivially destructible, so that it can be used
// at any point of its thread's life, from the destructors of other
// thread-local and static objects too.
struct Cache {
  void* head[kLists];
  std::size_t bytes;  // held in all lists
  bool closed;        // the thread is ending: blocks go straight to the heap
};
thread_local Cache t_cache{};

void* pop(void*& list) noexcept {
  void* block = list;
  list = *static_cast<void**>(block);
  return block;
}

// Empties the cache when its thread ends. On Windows (see at_thread_end)
// the blocks that a thread holds, kCachedBytes at most, are left behind
// when it ends; the host's threads last as long as the process.
void empty_cache() noexcept {
  t_cache.closed = true;
  for (void*& list : t_cache.head) {
    while (list != nullptr) ::operator delete(pop(list));
  }
  t_cache.bytes = 0;
}

}  // namespace

void* allocate_block(std::size_t size) {
  if (!kBlocksCached || size > kLargestCached || size == 0) return ::operator new(size);
  const std::size_t list = (size - 1) / kStep;
  const std::size_t step_size = (list + 1) * kStep;
  if (t_cache.head[list] == nullptr) return ::operator new(step_size);
  t_cache.bytes -= step_size;
  return pop(t_cache.head[list]);
}

void free_block(void* block, std::size_t size) noexcept {
  if (!kBlocksCached || size > kLargestCached || size == 0 || t_cache.closed) {
    ::operator delete(block);
    return;
  }
  const std::size_t list = (size - 1) / kStep;
  const std::size_t step_size = (list + 1) * kStep;
  if (t_cache.bytes + step_size > kCachedBytes) {
    ::operator delete(block);
    return;
  }
  if (t_cache.bytes == 0) at_thread_end<empty_cache>();
  *static_cast<void**>(block) = t_cache.head[list];
  t_cache.head[list] = block;
  t_cache.bytes += step_size;
}

std::size_t cached_bytes() noexcept { return t_cache.bytes; }

}  // namespace host::json::detail
