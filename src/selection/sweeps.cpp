#include <algorithm>
#include <cstddef>

#include "selection/selection.h"

namespace maxmedian {
namespace {

// Puts `cost` in place of the largest cost of the max-heap heap[0..n) and restores the heap
// order: half the work of a pop followed by a push, with the same contents. A cost that replaces
// the top is usually among the smaller ones and ends up near the leaves, so the hole left at the
// top first walks down along the larger children all the way (choosing a child without a
// branch), and the cost is then sifted up from there, which rarely takes more than a step.
inline __attribute__((always_inline)) void ReplaceTop(int32_t* heap, size_t n, int32_t cost) {
  size_t hole = 0;
  if (n < 64) {
    for (size_t child = 1; child < n; child = 2 * hole + 1) {
      child += child + 1 < n && heap[child + 1] > heap[child];
      if (heap[child] <= cost) break;
      heap[hole] = heap[child];
      hole = child;
    }
    heap[hole] = cost;
    return;
  }
  size_t child = 1;
  while (child + 1 < n) {
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

// One sweep over the C records starting at `record` and stepping by `step` positions: the i-th
// record passed (from 0) is record[i * step], and its sum of the h cheapest costs passed before
// it goes to sum[i * step]. Both sweeps are this one, run from opposite ends.
void Sweep(const Record* record, int64_t* sum, ptrdiff_t step, int64_t C, int64_t h,
           Table<int32_t>& Q) {
  Q.clear();  // keeps the storage for the next sweep
  if (h < 0 || h > C) return;
  int64_t S = 0;  // S: sum of the costs in Q, widened so that it never wraps
  Q.resize(static_cast<size_t>(h));
  for (int64_t i = 0; i < h; ++i) {
    Q[i] = record[i * step].second;
    S += Q[i];
  }
  std::make_heap(Q.begin(), Q.end());
  int32_t* heap = Q.data();
  for (int64_t i = h; i < C; ++i) {
    sum[i * step] = S;
    const int32_t cost = record[i * step].second;
    // An equal cost leaves the sum as it is, so only a strictly cheaper one replaces the top.
    if (h > 0 && heap[0] > cost) {
      S = S - heap[0] + cost;
      ReplaceTop(heap, static_cast<size_t>(h), cost);
    }
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
