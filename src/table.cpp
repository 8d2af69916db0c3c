// Storage for the tables: ordinary allocation for small blocks, and for large ones blocks aligned
// to huge pages and advised to use them, since page faults are much of the cost of a big case.
#include "table.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace maxmedian::table_memory {
namespace {

size_t HugeSize(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void* Allocate(size_t bytes, Pages pages) noexcept {
  if (bytes > SIZE_MAX - kHugePage) return nullptr;
  // Below the threshold, rounding up to a huge page would waste more memory than the faults it
  // saves are worth.
  void* block;
  if (bytes < kHugeThreshold) {
    block = std::malloc(bytes == 0 ? 1 : bytes);
  } else {
    bytes = HugeSize(bytes);
    block = std::aligned_alloc(kHugePage, bytes);
#ifdef MADV_HUGEPAGE
    if (block != nullptr) madvise(block, bytes, MADV_HUGEPAGE);  // advice only
#endif
  }
  // Huge pages are faulted in a few at a time already: asking for them ahead gains nothing.
  if (block != nullptr && pages == Pages::kNow && bytes < kHugeThreshold) Prefault(block, bytes);
  return block;
}

void Prefault(void* block, size_t bytes) noexcept {
#ifdef MADV_POPULATE_WRITE
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto address = reinterpret_cast<uintptr_t>(block);
  const uintptr_t skip = (page - address % page) % page;  // to the first whole page
  if (bytes <= skip) return;
  const uintptr_t whole = (bytes - skip) / page * page;
  if (whole > 0) madvise(static_cast<char*>(block) + skip, whole, MADV_POPULATE_WRITE);
#else
  (void)block;
  (void)bytes;
#endif
}

void Release(void* block) noexcept { std::free(block); }

}  // namespace maxmedian::table_memory
