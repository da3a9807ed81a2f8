// The driver's allocation hooks keep large freed blocks for requests of about
// their size, and nothing else, within their bounds.
#include "driver/WarmBlocks.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

TEST(WarmBlocks, KeepLargeBlocksForRequestsOfAboutTheirSizeWithinBounds) {
  void* block = WarmBlocks::Allocate(2 * kMiB);
  ASSERT_NE(block, nullptr);
  const std::size_t keptBefore = WarmBlocks::KeptBytes();
  WarmBlocks::Release(block);
  EXPECT_GE(WarmBlocks::KeptBytes(), keptBefore + 2 * kMiB);
  // Not for a request that would waste half of it, nor for a larger one.
  void* smaller = WarmBlocks::Allocate(kMiB);
  void* larger = WarmBlocks::Allocate(3 * kMiB);
  EXPECT_NE(smaller, block);
  EXPECT_NE(larger, block);
  void* again = WarmBlocks::Allocate(2 * kMiB - 1000);
  EXPECT_EQ(again, block);
  static_cast<char*>(again)[2 * kMiB - 1001] = 1;  // the whole request is usable
  for (void* b : {smaller, larger, again}) WarmBlocks::Release(b);

  // Small blocks are freed, never kept; the kept ones stay within bounds.
  const std::size_t kept = WarmBlocks::KeptBytes();
  WarmBlocks::Release(WarmBlocks::Allocate(1000));
  EXPECT_EQ(WarmBlocks::KeptBytes(), kept);
  std::vector<void*> many;
  for (int i = 0; i < 20; ++i) many.push_back(WarmBlocks::Allocate(5 * kMiB));
  for (void* b : many) WarmBlocks::Release(b);
  EXPECT_LE(WarmBlocks::KeptBytes(), WarmBlocks::kWarmMaxBytes);
  EXPECT_GE(WarmBlocks::KeptBytes(), WarmBlocks::kWarmMaxBytes - 6 * kMiB);
  WarmBlocks::Release(nullptr);
}

TEST(WarmBlocks, ARequestTheSystemRefusesFirstGivesTheKeptBlocksBack) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' allocators end the process on such a request";
#else
  WarmBlocks::Release(WarmBlocks::Allocate(2 * kMiB));
  ASSERT_GT(WarmBlocks::KeptBytes(), 0u);
  EXPECT_EQ(WarmBlocks::Allocate(~std::size_t{0} / 2), nullptr);
  EXPECT_EQ(WarmBlocks::KeptBytes(), 0u);
#endif
}

}  // namespace
