#include "json/block_cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace host::json::detail {
namespace {

// Under AddressSanitizer nothing is cached (see block_cache.h), so there is
// nothing for these to check.
#define SKIP_UNLESS_CACHING() \
  if (!kBlocksCached) GTEST_SKIP() << "blocks are not cached under AddressSanitizer"

TEST(BlockCache, AFreedBlockServesOnlySizesItWasFreedWith) {
  SKIP_UNLESS_CACHING();
  std::thread([] {
    void* block = allocate_block(100);
    std::memset(block, 1, 100);
    free_block(block, 40);  // a string block holding less than its room
    void* larger = allocate_block(100);
    EXPECT_NE(larger, block);
    void* same = allocate_block(40);
    EXPECT_EQ(same, block);
    std::memset(same, 2, 40);
    free_block(same, 40);
    free_block(larger, 100);
  }).join();
}

// Each check runs on a thread of its own, whose cache starts empty.
TEST(BlockCache, AThreadKeepsAtMostItsBoundAndNoLargeBlocks) {
  SKIP_UNLESS_CACHING();
  std::thread([] {
    constexpr std::size_t kBlocks = 2 * kCachedBytes / kLargestCached;
    std::vector<void*> blocks;
    for (std::size_t i = 0; i < kBlocks; ++i) blocks.push_back(allocate_block(kLargestCached));
    for (void* b : blocks) free_block(b, kLargestCached);
    EXPECT_EQ(cached_bytes(), kCachedBytes);
    for (void*& b : blocks) b = allocate_block(kLargestCached);
    EXPECT_EQ(cached_bytes(), 0u);
    for (void* b : blocks) free_block(b, kLargestCached);

    const std::size_t before = cached_bytes();
    free_block(allocate_block(kLargestCached + 1), kLargestCached + 1);
    EXPECT_EQ(cached_bytes(), before);
  }).join();
}

TEST(BlockCache, ABlockFreedOnAnotherThreadServesThatThread) {
  SKIP_UNLESS_CACHING();
  void* block = allocate_block(64);
  const std::size_t here = cached_bytes();
  std::thread([block] {
    free_block(block, 64);
    EXPECT_EQ(cached_bytes(), 64u);
    EXPECT_EQ(allocate_block(64), block);
    free_block(block, 64);
  }).join();
  EXPECT_EQ(cached_bytes(), here);
}

}  // namespace
}  // namespace host::json::detail
