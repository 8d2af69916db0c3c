#include "table_allocator.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace maxmedian::table_memory {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;
// Below this, a block is served by the ordinary heap: rounding it up to a huge page would
// waste more memory than the faults it saves are worth.
constexpr size_t kHugeThreshold = size_t{1} << 20;

size_t HugeSize(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void* Allocate(size_t bytes) {
  if (bytes > SIZE_MAX - kHugePage) throw std::bad_alloc();
  if (bytes < kHugeThreshold) {
    if (void* block = std::malloc(bytes == 0 ? 1 : bytes)) return block;
    throw std::bad_alloc();
  }
  void* block = std::aligned_alloc(kHugePage, HugeSize(bytes));
  if (block == nullptr) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  madvise(block, HugeSize(bytes), MADV_HUGEPAGE);  // only advice: failure changes nothing
#endif
  return block;
}

void Release(void* block) noexcept { std::free(block); }

}  // namespace maxmedian::table_memory
