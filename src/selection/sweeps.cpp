#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "cpu.h"
#include "lanes.h"
#include "selection/selection.h"

namespace maxmedian {
namespace {

// A short sweep over a small heap keeps the heap fully sorted in vector registers: updating it
// touches every entry, but without a branch, where heap replacements in a short sweep mispredict
// at nearly every position. Longer sweeps replace rarely enough that a true heap is cheaper.
constexpr int64_t kMaxVectors = 8;  // a sorted heap of up to 32 costs
constexpr int64_t kSortedHeapLimit = kLanes * kMaxVectors;
constexpr int64_t kShortSweepLimit = 128;

// Q as a heap: the children of entry i are entries kHeapArity * i + 1 to kHeapArity * i +
// kHeapArity, which halves the depth of a binary heap for one more comparison a level. Storage
// holds kHeapArity - 1 entries past the heap, set to the least cost, so that the last group of
// children can be read whole: a missing child never wins against a present one.
static_assert(kHeapArity == 4);
constexpr int32_t kLeastCost = std::numeric_limits<int32_t>::min();

// The index in 0..3 of the largest of the four costs at `group`, the first on ties. The
// comparisons are taken as the sign of a 64-bit difference: written as comparisons, they are
// compiled to branches, which the data makes unpredictable.
inline size_t LargestOfFour(const int32_t* group, int32_t* largest) {
  const int32_t a = group[0], b = group[1], x = group[2], y = group[3];
  auto less = [](int32_t l, int32_t r) {  // 1 if l < r, else 0
    return static_cast<size_t>(static_cast<uint64_t>(int64_t{l} - r) >> 63);
  };
  const size_t first_pair = less(a, b);
  const size_t second_pair = 2 + less(x, y);
  const int32_t first_max = std::max(a, b), second_max = std::max(x, y);
  const size_t second_wins = less(first_max, second_max);
  *largest = std::max(first_max, second_max);
  return first_pair ^ ((first_pair ^ second_pair) & (0 - second_wins));
}

// Puts `cost` in place of the largest cost of the max-heap heap[0..n) and restores the heap
// order: half the work of a pop followed by a push, with the same contents. A cost that replaces
// the top is usually among the smaller ones and ends up near the leaves, so the hole left at the
// top first walks down along the largest children all the way, and the cost is then sifted up
// from there, which rarely takes more than a step.
inline void ReplaceTop(int32_t* heap, size_t n, int32_t cost) {
  size_t hole = 0;
  for (size_t child = 1; child < n; child = kHeapArity * hole + 1) {
    // Each step of the walk loads what the last one chose; the hole's grandchildren, sixteen in
    // a row, are fetched ahead so that a large heap's lower levels arrive in time.
    const size_t ahead = 16 * hole + 5;
    if (ahead < n) __builtin_prefetch(heap + ahead);
    int32_t largest;
    const size_t pick = LargestOfFour(heap + child, &largest);
    heap[hole] = largest;
    hole = child + pick;
  }
  while (hole > 0) {
    const size_t parent = (hole - 1) / kHeapArity;
    if (heap[parent] >= cost) break;
    heap[hole] = heap[parent];
    hole = parent;
  }
  heap[hole] = cost;
}

// Restores the heap order below entry `i` of heap[0..n), whose subtrees are heaps.
inline void SiftDown(int32_t* heap, size_t n, size_t i) {
  const int32_t cost = heap[i];
  for (size_t child = kHeapArity * i + 1; child < n; child = kHeapArity * i + 1) {
    int32_t largest;
    const size_t pick = LargestOfFour(heap + child, &largest);
    if (largest <= cost) break;
    heap[i] = largest;
    i = child + pick;
  }
  heap[i] = cost;
}

// In the sweeps below, the i-th record passed (from 0) is record[i * step], and its sum of the
// h cheapest costs passed before it goes to sum[i * step]; heap has room for h costs and the
// padding after them, h > 0.

// The sweep with Q a heap: a replacement costs O(log h), a cost that does not enter costs one
// comparison.
void HeapSweep(const Record* record, int64_t* sum, ptrdiff_t step, int64_t C, int64_t h,
               int32_t* heap) {
  int64_t S = 0;  // S: sum of the costs in Q, widened so that it never wraps
  for (int64_t i = 0; i < h; ++i) {
    heap[i] = record[i * step].second;
    S += heap[i];
  }
  const size_t n = static_cast<size_t>(h);
  std::fill_n(heap + n, kHeapArity - 1, kLeastCost);
  for (size_t i = (n - 1) / kHeapArity + 1; i-- > 0;) SiftDown(heap, n, i);
  for (int64_t i = h; i < C; ++i) {
    sum[i * step] = S;
    const int32_t cost = record[i * step].second;
    // An equal cost leaves the sum as it is, so only a strictly cheaper one replaces the top.
    if (heap[0] > cost) {
      S = S - heap[0] + cost;
      ReplaceTop(heap, n, cost);
    }
  }
}

// The sweep with Q sorted largest first, which is one valid heap order, and held in kVectors
// vector registers for the length of the sweep (padded with the smallest possible cost), then
// stored. A replacement updates every entry without a branch: each becomes the larger of its
// right neighbour and the smaller of itself and the new cost, which removes the largest cost
// and puts the new one in order, or changes nothing when the new cost is not smaller.
template <int kVectors>
[[gnu::always_inline]] inline void SortedSweep(const Record* record, int64_t* sum, ptrdiff_t step,
                                               int64_t C, int64_t h, int32_t* heap) {
  constexpr int32_t kLeast = std::numeric_limits<int32_t>::min();
  constexpr int32_t kMost = std::numeric_limits<int32_t>::max();
  Lanes q[kVectors];
  for (int k = 0; k < kVectors; ++k) {
    for (int lane = 0; lane < kLanes; ++lane) q[k][lane] = kLanes * k + lane < h ? kMost : kLeast;
  }
  auto replace_top = [&q](int32_t cost) {
    const Lanes c = Lanes{} + cost;
    for (int k = 0; k < kVectors; ++k) {
      const Lanes after = k + 1 < kVectors ? q[k + 1] : Lanes{} + kLeast;
      static_assert(kLanes == 4);
      const Lanes next = __builtin_shufflevector(q[k], after, 1, 2, 3, 4);
      q[k] = Max(next, Min(q[k], c));
    }
  };
  // The largest possible costs are replaced one by one by the first h costs.
  int64_t S = 0;
  for (int64_t i = 0; i < h; ++i) {
    S += record[i * step].second;
    replace_top(record[i * step].second);
  }
  for (int64_t i = h; i < C; ++i) {
    sum[i * step] = S;
    const int32_t cost = record[i * step].second;
    const int32_t top = q[0][0];
    S += int64_t{std::min(cost, top)} - top;
    replace_top(cost);
  }
  for (int64_t i = 0; i < h; ++i) heap[i] = q[i / kLanes][i % kLanes];
}

// The sorted sweep compiled for each CPU level: with SSE4.1, the minimum and maximum are one
// instruction each, and the shift of the heap by one lane is one byte alignment (SSSE3).
using SortedSweepFn = void (*)(const Record*, int64_t*, ptrdiff_t, int64_t, int64_t, int32_t*);
template <int kVectors>
void SortedSweepPortable(const Record* record, int64_t* sum, ptrdiff_t step, int64_t C, int64_t h,
                         int32_t* heap) {
  SortedSweep<kVectors>(record, sum, step, C, h, heap);
}
#if defined(__x86_64__) || defined(__i386__)
template <int kVectors>
__attribute__((target("sse4.1,ssse3"))) void SortedSweepSse41(const Record* record, int64_t* sum,
                                                              ptrdiff_t step, int64_t C, int64_t h,
                                                              int32_t* heap) {
  SortedSweep<kVectors>(record, sum, step, C, h, heap);
}
#else
template <int kVectors>
constexpr SortedSweepFn SortedSweepSse41 = SortedSweepPortable<kVectors>;
#endif

// The sorted sweep for `vectors` vectors of heap at the active CPU level.
SortedSweepFn SortedSweepFor(int64_t vectors) {
  static constexpr SortedSweepFn kPortable[kMaxVectors] = {
      SortedSweepPortable<1>, SortedSweepPortable<2>, SortedSweepPortable<3>,
      SortedSweepPortable<4>, SortedSweepPortable<5>, SortedSweepPortable<6>,
      SortedSweepPortable<7>, SortedSweepPortable<8>};
  static constexpr SortedSweepFn kSse41[kMaxVectors] = {
      SortedSweepSse41<1>, SortedSweepSse41<2>, SortedSweepSse41<3>, SortedSweepSse41<4>,
      SortedSweepSse41<5>, SortedSweepSse41<6>, SortedSweepSse41<7>, SortedSweepSse41<8>};
  return (ActiveCpuLevel() >= CpuLevel::kSse41 ? kSse41 : kPortable)[vectors - 1];
}

// One sweep over the C records starting at `record` and stepping by `step` positions. Both
// sweeps are this one, run from opposite ends.
void Sweep(const Record* record, int64_t* sum, ptrdiff_t step, int64_t C, int64_t h,
           Table<int32_t>& Q) {
  Q.clear();  // keeps the storage for the next sweep
  if (h < 0 || h > C) return;
  if (h == 0) {  // no heap: every sum is of no costs
    for (int64_t i = 0; i < C; ++i) sum[i * step] = 0;
    return;
  }
  Q.ResizeWithin(static_cast<size_t>(h));
  if (h <= kSortedHeapLimit && C <= kShortSweepLimit) {
    SortedSweepFor((h + kLanes - 1) / kLanes)(record, sum, step, C, h, Q.data());
  } else {
    // The heap is placed so that every group of four siblings shares a cache line, and the
    // sixteen grandchildren of every entry fill one line exactly; it moves to the start of Q's
    // storage afterwards.
    const auto address = reinterpret_cast<uintptr_t>(Q.data() + 5);
    int32_t* heap = Q.data() + (((address + 63) & ~uintptr_t{63}) - address) / sizeof(int32_t);
    HeapSweep(record, sum, step, C, h, heap);
    std::memmove(Q.data(), heap, static_cast<size_t>(h) * sizeof(int32_t));
  }
}

}  // namespace

bool PrepareTables(const CaseHeader& header, Tables& tables) {
  const size_t entries = static_cast<size_t>(std::max<int64_t>(header.C, 0)) + 1;
  const int64_t h = HalfSize(header.N);
  if (tables.c.size() < entries && !tables.c.Resize(entries)) return false;
  if (tables.d.size() < entries && !tables.d.Resize(entries)) return false;
  // Room for the heap's padding, and for moving it to a cache-line boundary.
  return h < 0 || h > header.C ||
         tables.Q.Reserve(static_cast<size_t>(h) + kHeapArity - 1 + 64 / sizeof(int32_t));
}

void SweepForward(const CaseHeader& header, Tables& tables) {
  const int64_t C = std::max<int64_t>(header.C, 0);
  Sweep(tables.a.data() + 1, tables.c.data() + 1, 1, C, HalfSize(header.N), tables.Q);
}

void SweepBackward(const CaseHeader& header, Tables& tables) {
  const int64_t C = std::max<int64_t>(header.C, 0);
  Sweep(tables.a.data() + C, tables.d.data() + C, -1, C, HalfSize(header.N), tables.Q);
}

}  // namespace maxmedian
