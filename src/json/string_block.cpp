#include "json/string_block.h"

#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "json/block_cache.h"
#include "json/per_thread.h"

namespace host::json::detail {
namespace {

// A long block begins two words before the pointer handed out, with its
// capacity and its string's escape growth; then come the size word and the
// bytes as in any other block.
constexpr std::size_t kWord = sizeof(std::size_t);
constexpr std::size_t kLongHeader = 2 * kWord;
// Long capacities are rounded up to this, so that strings of nearly the same
// length share a block.
constexpr std::size_t kGranule = std::size_t{16} << 10;
// A thread keeps no block larger than this.
constexpr std::size_t kKeptCapacity = std::size_t{4} << 20;

// Constant-initialized and trivially destructible, so that it can be used
// at any point of its thread's life: a value held by a thread-local or
// static object can be released after the kept block has been given back.
struct KeptBlock {
  char* base;
  bool closed;  // the thread is ending: blocks go straight to the heap
};
thread_local KeptBlock t_kept{};

// Gives the kept block back when its thread ends (on Windows it is left
// behind, see at_thread_end).
void give_back_kept() noexcept {
  t_kept.closed = true;
  ::operator delete(std::exchange(t_kept.base, nullptr));
}

std::size_t size_of(const char* block) {
  std::size_t size;
  std::memcpy(&size, block, kWord);
  return size;
}

std::size_t capacity_of(const char* base) {
  std::size_t capacity;
  std::memcpy(&capacity, base, kWord);
  return capacity;
}

void keep(char* base) noexcept {
  if (capacity_of(base) > kKeptCapacity || t_kept.closed) {
    ::operator delete(base);
    return;
  }
  at_thread_end<give_back_kept>();
  ::operator delete(std::exchange(t_kept.base, base));
}

}  // namespace

char* new_string_block(std::size_t capacity) {
  if (capacity < kLongString) return static_cast<char*>(allocate_block(kWord + capacity));
  char* base = nullptr;
  if (t_kept.base != nullptr) {
    const std::size_t kept = capacity_of(t_kept.base);
    // Taken when it fits and is not more than twice what is needed.
    if (kept >= capacity && kept / 2 <= capacity) base = std::exchange(t_kept.base, nullptr);
  }
  if (base == nullptr) {
    if (capacity > std::numeric_limits<std::size_t>::max() - kLongHeader - kWord - kGranule) throw std::bad_alloc();
    const std::size_t rounded = (capacity + kGranule - 1) / kGranule * kGranule;
    base = static_cast<char*>(::operator new(kLongHeader + kWord + rounded));
    std::memcpy(base, &rounded, kWord);
  }
  std::memcpy(base + kWord, &kGrowthUnknown, kWord);  // a kept block's figure was its last string's
  return base + kLongHeader;
}

void delete_string_block(char* block, std::size_t capacity) noexcept {
  if (capacity < kLongString) {
    free_block(block, kWord + capacity);
  } else {
    keep(block - kLongHeader);
  }
}

void release_string_block(char* block) noexcept { delete_string_block(block, size_of(block)); }

std::size_t recorded_escape_growth(const char* block) noexcept {
  if (size_of(block) < kLongString) return kGrowthUnknown;
  std::size_t growth;
  std::memcpy(&growth, block - kWord, kWord);
  return growth;
}

void record_escape_growth(char* block, std::size_t growth) noexcept {
  if (size_of(block) >= kLongString) std::memcpy(block - kWord, &growth, kWord);
}

}  // namespace host::json::detail
