#include "table_allocator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>

namespace maxmedian {
namespace {

// Small and huge-page blocks alike keep what is written through growth and reuse.
TEST(TableAllocator, GrowingKeepsEntries) {
  Table<int64_t> table;
  for (size_t size : {size_t{10}, size_t{1} << 17, size_t{3} << 18, size_t{5}}) {
    const size_t old = table.size();
    table.resize(size);
    for (size_t i = old; i < size; ++i) table[i] = static_cast<int64_t>(i) * 3;
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(table[i], static_cast<int64_t>(i) * 3) << size;
  }
}

TEST(TableAllocator, LargeBlocksAreHugePageAligned) {
  Table<int32_t> table(size_t{1} << 20);  // 4 MiB
  EXPECT_EQ(reinterpret_cast<uintptr_t>(table.data()) % (size_t{2} << 20), 0u);
}

TEST(TableAllocator, ImpossibleSizesThrow) {
  EXPECT_THROW(table_memory::Allocate(SIZE_MAX - 5), std::bad_alloc);
  TableAllocator<int64_t> allocator;
  EXPECT_THROW(allocator.allocate(SIZE_MAX / 4), std::bad_array_new_length);
}

}  // namespace
}  // namespace maxmedian
