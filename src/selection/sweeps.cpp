#include <algorithm>
#include <cstddef>
#include <limits>

#include "selection/selection.h"

namespace maxmedian {
namespace {

// A short sweep over a small heap keeps the heap fully sorted: updating it touches every entry,
// but without a branch, where heap replacements in a short sweep mispredict at nearly every
// position. Longer sweeps replace rarely enough that a true heap is cheaper.
constexpr int64_t kSortedHeapLimit = 32;
constexpr int64_t kShortSweepLimit = 128;

// Puts `cost` in place of the largest cost of the max-heap heap[0..n) and restores the heap
// order: half the work of a pop followed by a push, with the same contents. A cost that replaces
// the top is usually among the smaller ones and ends up near the leaves, so the hole left at the
// top first walks down along the larger children all the way (choosing a child without a
// branch), and the cost is then sifted up from there, which rarely takes more than a step.
inline void ReplaceTop(int32_t* heap, size_t n, int32_t cost) {
  size_t hole = 0;
  size_t child = 1;
  while (child + 1 < n) {
    // Each step of the walk loads what the last one chose; the nodes four levels down, sixteen
    // in a row, are fetched ahead so that a large heap's lower levels arrive in time.
    const size_t ahead = 16 * hole + 15;
    if (ahead < n) {
      __builtin_prefetch(heap + ahead);
      __builtin_prefetch(heap + std::min(ahead + 15, n - 1));
    }
    child += heap[child + 1] > heap[child];
    heap[hole] = heap[child];
    hole = child;
    child = 2 * hole + 1;
  }
  if (child < n) {  // a last parent with a single child
    heap[hole] = heap[child];
    hole = child;
  }
  while (hole > 0) {
    const size_t parent = (hole - 1) / 2;
    if (heap[parent] >= cost) break;
    heap[hole] = heap[parent];
    hole = parent;
  }
  heap[hole] = cost;
}

// Replaces the largest cost of the descending array heap[0..n) by `cost` when `cost` is smaller,
// keeping the array descending, and leaves it as it is otherwise: every entry becomes the larger
// of its right neighbour and the smaller of itself and `cost`, with no branch to mispredict.
// Returns the new largest cost.
inline int32_t ReplaceTopSorted(int32_t* heap, size_t n, int32_t cost) {
  for (size_t k = 0; k + 1 < n; ++k) heap[k] = std::max(heap[k + 1], std::min(heap[k], cost));
  heap[n - 1] = std::min(heap[n - 1], cost);
  return heap[0];
}

// In the sweeps below, the i-th record passed (from 0) is record[i * step], and its sum of the
// h cheapest costs passed before it goes to sum[i * step]; heap has room for h costs, h > 0.

// The sweep with Q a binary heap: a replacement costs O(log h), a cost that does not enter costs
// one comparison.
void HeapSweep(const Record* record, int64_t* sum, ptrdiff_t step, int64_t C, int64_t h,
               int32_t* heap) {
  int64_t S = 0;  // S: sum of the costs in Q, widened so that it never wraps
  for (int64_t i = 0; i < h; ++i) {
    heap[i] = record[i * step].second;
    S += heap[i];
  }
  std::make_heap(heap, heap + h);
  for (int64_t i = h; i < C; ++i) {
    sum[i * step] = S;
    const int32_t cost = record[i * step].second;
    // An equal cost leaves the sum as it is, so only a strictly cheaper one replaces the top.
    if (heap[0] > cost) {
      S = S - heap[0] + cost;
      ReplaceTop(heap, static_cast<size_t>(h), cost);
    }
  }
}

// The sweep with Q sorted largest first, which is one valid heap order.
void SortedSweep(const Record* record, int64_t* sum, ptrdiff_t step, int64_t C, int64_t h,
                 int32_t* heap) {
  const size_t n = static_cast<size_t>(h);
  // Start from the largest possible costs, which the first h costs then replace one by one.
  std::fill(heap, heap + n, std::numeric_limits<int32_t>::max());
  int64_t S = 0;
  for (int64_t i = 0; i < h; ++i) {
    S += record[i * step].second;
    ReplaceTopSorted(heap, n, record[i * step].second);
  }
  int32_t top = heap[0];
  for (int64_t i = h; i < C; ++i) {
    sum[i * step] = S;
    const int32_t cost = record[i * step].second;
    S += int64_t{std::min(cost, top)} - top;
    top = ReplaceTopSorted(heap, n, cost);
  }
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
  Q.resize(static_cast<size_t>(h));
  if (h <= kSortedHeapLimit && C <= kShortSweepLimit) {
    SortedSweep(record, sum, step, C, h, Q.data());
  } else {
    HeapSweep(record, sum, step, C, h, Q.data());
  }
}

void GrowTo(Table<int64_t>& table, int64_t size) {
  if (static_cast<int64_t>(table.size()) < size) table.resize(static_cast<size_t>(size));
}

}  // namespace

void SweepForward(const CaseHeader& header, Tables& tables) {
  const int64_t C = std::max<int64_t>(header.C, 0);
  GrowTo(tables.c, C + 1);
  Sweep(tables.a.data() + 1, tables.c.data() + 1, 1, C, HalfSize(header.N), tables.Q);
}

void SweepBackward(const CaseHeader& header, Tables& tables) {
  const int64_t C = std::max<int64_t>(header.C, 0);
  GrowTo(tables.d, C + 1);
  Sweep(tables.a.data() + C, tables.d.data() + C, -1, C, HalfSize(header.N), tables.Q);
}

}  // namespace maxmedian
