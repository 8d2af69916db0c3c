// Storage for the tables: ordinary allocation for small blocks, and for large ones blocks aligned
// to huge pages and advised to use them, since page faults are much of the cost of a big case.
#include "table.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace maxmedian::table_memory {
namespace {

size_t HugeSize(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void* Allocate(size_t bytes) noexcept {
  if (bytes > SIZE_MAX - kHugePage) return nullptr;
  // Below the threshold, rounding up to a huge page would waste more memory than the faults it
  // saves are worth.
  if (bytes < kHugeThreshold) return std::malloc(bytes == 0 ? 1 : bytes);
  void* block = std::aligned_alloc(kHugePage, HugeSize(bytes));
#ifdef MADV_HUGEPAGE
  if (block != nullptr) madvise(block, HugeSize(bytes), MADV_HUGEPAGE);  // advice only
#endif
  return block;
}

void Release(void* block) noexcept { std::free(block); }

}  // namespace maxmedian::table_memory
