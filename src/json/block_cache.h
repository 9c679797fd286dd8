// The small heap blocks of a tree (an object's members, an array's header,
// a string's bytes), cached per thread once freed. A message is parsed into
// a few thousand such blocks and dropped soon after, and the next message
// needs the same sizes again: from the cache they cost a push and a pop
// instead of a round through the system heap each. Internal to src/json.
//
// What a thread keeps is bounded (kCachedBytes); beyond that, and for
// blocks larger than kLargestCached, these are operator new and delete.
// A block may be freed on any thread, with any size from 1 up to the size
// it was allocated with; it then serves that thread, for sizes up to the
// one it was freed with.
#pragma once

#include <cstddef>

namespace host::json::detail {

// Under AddressSanitizer every block goes to the heap, which sees a use
// after free and tells a leak from a block kept for reuse.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kBlocksCached = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kBlocksCached = false;
#else
inline constexpr bool kBlocksCached = true;
#endif
#else
inline constexpr bool kBlocksCached = true;
#endif

inline constexpr std::size_t kLargestCached = 512;
inline constexpr std::size_t kCachedBytes = std::size_t{2} << 20;

// At least `size` bytes, aligned for any type. Throws std::bad_alloc.
void* allocate_block(std::size_t size);
void free_block(void* block, std::size_t size) noexcept;
// The bytes that the calling thread holds for reuse.
std::size_t cached_bytes() noexcept;

}  // namespace host::json::detail
