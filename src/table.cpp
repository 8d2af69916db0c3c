// Storage for the tables: ordinary allocation for small blocks, and for large ones mappings of
// their own, aligned to huge pages, since page faults are much of the cost of a big case.
#include "table.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace maxmedian::table_memory {
namespace {

size_t HugeSize(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

// Fresh memory, `bytes` (a multiple of kHugePage) aligned to a huge page, or null.
char* MapAligned(size_t bytes) {
  void* mapped =
      mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  char* const start = static_cast<char*>(mapped);
  const size_t head = (kHugePage - reinterpret_cast<uintptr_t>(start) % kHugePage) % kHugePage;
  if (head > 0) munmap(start, head);
  munmap(start + head + bytes, kHugePage - head);
  return start + head;
}

// Which pages large blocks take, for the rest of the run. Huge pages are usually far faster to
// fault in than small ones; but on a virtual machine whose host takes back the memory its guest
// frees, a huge page that the host must supply afresh was measured at 40 times the time of one
// the guest still held, and 5 times that of as many small pages, which the guest draws from
// memory it still holds. So small pages put in place are timed (those that small blocks ask for
// ahead, or else the first huge page's worth of a large block, faulted in as small pages), every
// huge page put in place is timed against as many small ones, and large blocks take huge pages
// until one is slower.
bool huge_pages = true;
double small_seconds = 0;  // taken to put in place small_bytes of small pages
size_t small_bytes = 0;

void Advise(char* block, size_t bytes, bool huge) {
#if defined(MADV_HUGEPAGE) && defined(MADV_NOHUGEPAGE)
  madvise(block, bytes, huge ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
#else
  (void)block;
  (void)bytes;
  (void)huge;
#endif
}

// The seconds taken to write to a byte every `step` bytes of [from, from + bytes), leaving each
// as it was (an atomic add of zero): where the memory is fresh, the time to fault its pages in.
double SecondsToWrite(char* from, size_t bytes, size_t step) {
  const auto start = std::chrono::steady_clock::now();
  for (size_t i = 0; i < bytes; i += step) {
    std::atomic_ref<char>(from[i]).fetch_add(0, std::memory_order_relaxed);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Puts in place small pages over [from, to) of a block, those wholly inside, at once (see Pages),
// and adds the time taken to the measure huge pages must beat.
void PopulateSmall(char* block, size_t from, size_t to) {
#ifdef MADV_POPULATE_WRITE
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  char* const start = block + from;
  const uintptr_t skip = (page - reinterpret_cast<uintptr_t>(start) % page) % page;  // to a page
  if (to - from <= skip) return;
  const uintptr_t whole = (to - from - skip) / page * page;
  if (whole == 0) return;
  const auto started = std::chrono::steady_clock::now();
  if (madvise(start + skip, whole, MADV_POPULATE_WRITE) == 0) {
    small_seconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    small_bytes += whole;
  }
#else
  (void)block;
  (void)from;
  (void)to;
#endif
}

// Puts in place the pages of every huge page's worth of the large block [block, block + bytes)
// that begins in [from, to), where nothing was written yet, and chooses the pages large blocks
// take as it goes (see huge_pages). The whole block always takes one kind, so that it stays one
// mapping, which it must be to move. Once a huge page is slower, the rest of the range is put in
// place as small pages.
void PutLargeInPlace(char* block, size_t bytes, size_t from, size_t to) {
  for (size_t at = HugeSize(from); at < to && huge_pages; at += kHugePage) {
    const size_t chunk = std::min(kHugePage, bytes - at);
    if (small_bytes == 0) {
      Advise(block + at, chunk, false);
      small_seconds = SecondsToWrite(block + at, chunk, static_cast<size_t>(sysconf(_SC_PAGESIZE)));
      small_bytes = chunk;
      Advise(block, bytes, true);
    } else if (SecondsToWrite(block + at, chunk, chunk) >
               small_seconds * static_cast<double>(chunk) / static_cast<double>(small_bytes)) {
      huge_pages = false;  // one write faults in the whole huge page, more slowly than small ones
      Advise(block, bytes, false);
      PopulateSmall(block, std::max(from, at + chunk), to);
    }
  }
}

}  // namespace

void* Allocate(size_t bytes) noexcept {
  if (bytes > SIZE_MAX / 2) return nullptr;
  // Below the threshold, rounding up to a huge page would waste more memory than the faults it
  // saves are worth.
  if (bytes < kHugeThreshold) return std::malloc(bytes == 0 ? 1 : bytes);
  bytes = HugeSize(bytes);
  char* const block = MapAligned(bytes);
  if (block != nullptr) Advise(block, bytes, huge_pages);
  return block;
}

void* Grow(void* block, size_t bytes, size_t grown) noexcept {
  if (grown > SIZE_MAX / 2) return nullptr;
  if (HugeSize(grown) == HugeSize(bytes)) return block;  // the mapping has room already
#if defined(__linux__) && defined(MREMAP_MAYMOVE) && defined(MREMAP_FIXED)
  // The pages move to a place of the new size, aligned as before: neither copied nor faulted in
  // again.
  char* const to = MapAligned(HugeSize(grown));
  if (to == nullptr) return nullptr;
  if (mremap(block, HugeSize(bytes), HugeSize(grown), MREMAP_MAYMOVE | MREMAP_FIXED, to) !=
      MAP_FAILED) {
    Advise(to, HugeSize(grown), huge_pages);
    return to;
  }
  munmap(to, HugeSize(grown));
#endif
  void* const moved = Allocate(grown);  // and copied, where the pages cannot move
  if (moved != nullptr) {
    std::memcpy(moved, block, bytes);
    Release(block, bytes);
  }
  return moved;
}

void Prefault(void* block, size_t bytes, size_t from, size_t to) noexcept {
  char* const start = static_cast<char*>(block);
  if (bytes >= kHugeThreshold && huge_pages) {
    PutLargeInPlace(start, HugeSize(bytes), from, to);
  } else {
    // Small pages are put in place at once in large blocks as in small ones: where each fault
    // traps to the hypervisor, a page faulted in as written took twice as long in all.
    PopulateSmall(start, from, to);
  }
}

void Release(void* block, size_t bytes) noexcept {
  if (block == nullptr) return;
  if (bytes < kHugeThreshold) {
    std::free(block);
  } else {
    munmap(block, HugeSize(bytes));
  }
}

}  // namespace maxmedian::table_memory
