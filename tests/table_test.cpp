#include "table.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace maxmedian {
namespace {

// Small and large blocks alike, their pages in place at once or not, keep what is written
// through growth (a large block's pages move), reuse, and advice to put pages in place, which
// writes to the pages it faults in.
TEST(Table, GrowingKeepsEntries) {
  Table<int64_t> table;
  for (size_t size : {size_t{10}, size_t{1} << 15, size_t{1} << 17, size_t{200000}, size_t{3} << 18,
                      size_t{1} << 21, size_t{5}}) {
    const size_t old = table.size();
    ASSERT_TRUE(table.Resize(size, size & (size_t{1} << 15 | 2) ? Pages::kNow : Pages::kAsWritten));
    for (size_t i = old; i < size; ++i) table[i] = static_cast<int64_t>(i) * 3 + 1;
    table.Prefault(size / 2, size / 4);
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(table[i], static_cast<int64_t>(i) * 3 + 1) << size;
  }
  for (int64_t i = 0; i < 100; ++i) ASSERT_TRUE(table.Append(i));
  EXPECT_EQ(table[104], 99);
}

TEST(Table, LargeBlocksAreHugePageAligned) {
  Table<int32_t> table;
  ASSERT_TRUE(table.Resize(size_t{1} << 20));  // 4 MiB
  EXPECT_EQ(reinterpret_cast<uintptr_t>(table.data()) % (size_t{2} << 20), 0u);
}

TEST(Table, ImpossibleSizesFailWithoutChange) {
  EXPECT_EQ(table_memory::Allocate(SIZE_MAX - 5), nullptr);
  Table<int64_t> table;
  ASSERT_TRUE(table.Append(7));
  EXPECT_FALSE(table.Resize(SIZE_MAX / 4));
  EXPECT_FALSE(table.Reserve(SIZE_MAX / 16));  // fits size_t, not the machine
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0], 7);
}

}  // namespace
}  // namespace maxmedian
