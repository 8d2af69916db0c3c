// The two sweeps: for every position that can be a middle, the least cost of h records on each
// side. Both are one routine (Sweep, near the end) run from opposite ends; it picks one of four
// ways to keep the cheapest costs passed, in this order in the file:
//   - a large case whose costs crowd a few buckets, or one that keeps few costs: the first
//     costs sorted, the later ones in a four-ary heap beside them (class HeapSweep, with the
//     heap helpers above it);
//   - a large case whose costs span few values: costs counted by value (class CountSweep);
//   - a case that keeps 128 costs or more: the costs in buckets by cost range, only the top one
//     in order (class BucketSweep);
//   - a short case with a small heap: the heap sorted in vector registers (SortedSweep).
// The entry points, PrepareTables, SweepForward and SweepBackward, are at the end.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <utility>

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

// Puts `cost` into the hole at entry `hole` of a max-heap, moving it up past smaller parents.
// A cost rarely rises more than a level or two, but whether it does is a coin toss, so the first
// two steps are taken without branches (every store lands, some store what was there); only a
// cost that rises further loops.
inline void SiftUp(int32_t* heap, size_t hole, int32_t cost) {
  auto parent = [](size_t i) { return i > 0 ? (i - 1) / kHeapArity : 0; };
  const size_t first = parent(hole);
  const int32_t first_cost = heap[first];
  const bool rises = hole > 0 && first_cost < cost;
  heap[hole] = rises ? first_cost : cost;
  const size_t at = rises ? first : hole;
  const size_t second = parent(at);
  const int32_t second_cost = heap[second];
  const bool rises_again = rises && at > 0 && second_cost < cost;
  heap[at] = rises_again ? second_cost : cost;
  if (!rises_again) return;
  hole = second;
  while (hole > 0 && heap[parent(hole)] < cost) {
    heap[hole] = heap[parent(hole)];
    hole = parent(hole);
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
  SiftUp(heap, hole, cost);
}

// Sorts costs[0..n) ascending, eleven bits a pass, with room for n costs at `scratch`.
void SortCosts(int32_t* costs, size_t n, int32_t* scratch) {
  constexpr int kBits = 11, kDigits = 3;
  constexpr uint32_t kMask = (1u << kBits) - 1;
  auto digit = [](int32_t cost, int d) {  // flipping the sign bit makes signed order unsigned
    return ((static_cast<uint32_t>(cost) ^ 0x80000000u) >> (kBits * d)) & kMask;
  };
  std::array<std::array<uint32_t, kMask + 1>, kDigits> count{};
  for (size_t i = 0; i < n; ++i) {
    for (int d = 0; d < kDigits; ++d) ++count[d][digit(costs[i], d)];
  }
  int32_t* from = costs;
  int32_t* to = scratch;
  for (int d = 0; d < kDigits; ++d) {
    if (count[d][digit(costs[0], d)] == n) continue;  // a digit every cost shares orders nothing
    uint32_t start = 0;
    for (uint32_t& c : count[d]) start += std::exchange(c, start);
    for (size_t i = 0; i < n; ++i) to[count[d][digit(from[i], d)]++] = from[i];
    std::swap(from, to);
  }
  if (from != costs) std::copy_n(from, n, costs);
}

// Q's storage from `at` on, offset so that every group of four siblings of a heap there shares a
// cache line and the sixteen grandchildren of every entry fill one line exactly.
int32_t* AlignedHeap(int32_t* at) {
  const auto address = reinterpret_cast<uintptr_t>(at + 5);
  return at + (((address + 63) & ~uintptr_t{63}) - address) / sizeof(int32_t);
}

// How far ahead of its pass a sweep over a large case fetches records: a large case's records
// come from memory, and the processor's own prefetching falls behind in the backward sweep.
constexpr int64_t kRecordsAhead = 256;

// In the sweeps below, the i-th record passed (from 0) is record[i * step]. A sweep writes the
// sum of the cheapest costs passed before pass i, for the passes from h on, to out[(i - h) *
// out_step] (for the heap sweep, relative to the first pass of each run).

// How many costs the heap must hold for a sweep of `passes` sums after h costs: each pass after
// the first can replace the largest cost, so only the largest passes - 1 of the first h costs can
// ever leave, and the smaller ones need only be counted in the sum.
inline int64_t HeapSize(int64_t h, int64_t passes) { return std::min(h, passes - 1); }

// The entries of Q that a heap sweep needs beyond h and the heap's k costs: a sentinel, the
// padding after the heap, and the offset that aligns it.
constexpr size_t kHeapSweepExtra = 1 + (kHeapArity - 1) + 64 / sizeof(int32_t);

// From this many costs in the heap on, a sweep counts costs instead where their values span at
// most kCountSpanPerRecord values a record: below it, the heap stays in cache and is cheaper.
constexpr int64_t kCountSweepMin = 2048;
constexpr int64_t kCountSpanPerRecord = 2;
// From this many costs in the heap on, a sweep keeps them in buckets instead, where they are not
// counted and do not crowd into a few buckets.
constexpr int64_t kBucketSweepMin = 128;
// Counts and buckets only where the heap would hold at least a 64th of the records: a heap that
// small beside the case takes few of the costs passed (about h times the log of C / h) and stays
// in cache, where counts or buckets cost a table as large as the span or the case.
constexpr int64_t kHeapShareMin = 64;

// The span of the costs of C >= 1 records from `record` on.
CostSpan SpanOfCosts(const Record* record, int64_t C) {
  int32_t least = record[0].second, most = least;
  for (int64_t i = 1; i < C; ++i) {
    least = std::min(least, record[i].second);
    most = std::max(most, record[i].second);
  }
  return {least, int64_t{most} - least + 1};
}

// The sweep over a large case. Q holds the cheapest costs passed in two parts: the first costs,
// sorted, with the largest at the end, and a heap of the costs that entered later. The largest
// of all is the larger of the two tops. Most costs that leave are among the first, and leave
// from the end of the sorted part at the cost of a step; a later cost that enters is usually
// among the cheapest and stays near the heap's leaves. Only the later costs that leave again
// pay a walk down the heap, which is also smaller than one of all the costs.
class HeapSweep {
  // Fewer of the first costs than this go straight into the heap instead, unsorted.
  static constexpr size_t kSortedRunMin = 1024;

 public:
  // Takes the first h costs and keeps the largest k of them, 0 <= k <= h, in the sorted part;
  // fewer than kSortedRunMin costs all go into the heap, where heaping them costs less than
  // picking out the largest k first. `storage` has room for 2h + kHeapSweepExtra costs.
  HeapSweep(const Record* record, ptrdiff_t step, int64_t h, int64_t k, int32_t* storage)
      : record_(record),
        step_(step),
        run_(storage),
        run_size_(static_cast<size_t>(h < static_cast<int64_t>(kSortedRunMin) ? h : k)) {
    run_[0] = kLeastCost;  // below the sorted part: its top once it is empty
    int32_t* const first = run_ + 1;
    for (int64_t i = 0; i < h; ++i) S_ += record[i * step].second;
    // The largest k of the first h costs: candidates above the least of the largest k found so
    // far are gathered, and whenever twice k have gathered, the smaller half is dropped. When k
    // is much less than h, as near h = C / 2, this passes the rest with one comparison each.
    const size_t largest = run_size_;
    const size_t room = std::min<size_t>(static_cast<size_t>(h), 2 * largest + 64);
    size_t gathered = 0;
    int32_t floor = kLeastCost;  // no cost at or below it can be among the largest k
    for (int64_t i = 0; i < h && largest > 0; ++i) {
      const int32_t cost = record[i * step].second;
      if (cost <= floor && gathered >= largest) continue;
      first[gathered++] = cost;
      if (gathered == room && room > largest) {
        std::nth_element(first, first + largest - 1, first + room, std::greater<>());
        floor = first[largest - 1];
        gathered = largest;
      }
    }
    if (gathered > largest) {
      std::nth_element(first, first + largest, first + gathered, std::greater<>());
    }
    heap_ = AlignedHeap(storage + h + 1);
    if (run_size_ >= kSortedRunMin) {
      SortCosts(first, run_size_, heap_);
      // The heap is empty: its top and the children it reads whole are the least cost.
      std::fill_n(heap_, run_size_ + kHeapArity, kLeastCost);
    } else {
      // Few enough for the heap to stay in the first level of cache: all of them go there.
      heap_size_ = run_size_;
      run_size_ = 0;
      std::copy_n(first, heap_size_, heap_);
      std::fill_n(heap_ + heap_size_, kHeapArity, kLeastCost);
      for (size_t i = heap_size_ / kHeapArity + 1; i-- > 0;) SiftDown(heap_, heap_size_, i);
    }
  }

  // Passes from..to - 1 (from >= h): the sum before pass i goes to out[(i - from) * out_step],
  // then the cost of pass i replaces the largest in Q if it is smaller. At most k passes may
  // follow the first in all.
  void Run(int64_t from, int64_t to, int64_t* out, ptrdiff_t out_step) {
    int64_t S = S_;  // S: sum of the cheapest costs passed, widened so that it never wraps
    const Record* const record = record_;
    const ptrdiff_t step = step_;
    const int32_t* const run = run_;
    int32_t* const heap = heap_;
    size_t run_size = run_size_, heap_size = heap_size_;
    if (run_size + heap_size == 0) {  // no cost can leave: every sum is the same
      for (int64_t i = from; i < to; ++i) out[(i - from) * out_step] = S;
      return;
    }
    for (int64_t i = from; i < to; ++i) {
      out[(i - from) * out_step] = S;
      const int32_t cost = record[i * step].second;
      const int32_t run_top = run[run_size], heap_top = heap[0];
      const int32_t top = std::max(run_top, heap_top);
      // An equal cost leaves the sum as it is, so only a strictly cheaper one replaces the top.
      if (top > cost) {
        S = S - top + cost;
        if (run_top >= heap_top) {
          --run_size;
          SiftUp(heap, heap_size++, cost);  // a push: the hole is the heap's new last entry
        } else {
          ReplaceTop(heap, heap_size, cost);
        }
      }
    }
    S_ = S;
    run_size_ = run_size;
    heap_size_ = heap_size;
  }

 private:
  const Record* record_;
  ptrdiff_t step_;
  int32_t* run_;  // run_[1..run_size_]: the sorted part; run_[0] is the least cost
  size_t run_size_;
  int32_t* heap_ = nullptr;
  size_t heap_size_ = 0;
  int64_t S_ = 0;
};

// The highest place marked in `marks` (bit p % 32 of marks[p / 32] for place p) at or below
// `from`, where none above `from` is marked and one at or below it is. The top of a sweep only
// falls, so over a whole sweep this reads each word of marks about once.
inline uint32_t HighestMark(const uint32_t* marks, uint32_t from) {
  size_t word = from / 32;
  while (marks[word] == 0) --word;
  return static_cast<uint32_t>(32 * word + 31 - static_cast<size_t>(std::countl_zero(marks[word])));
}

// The sweep over a large case whose costs span few values for its number of records. Q
// counts, for each cost from the least of the case's costs on, how many of the cheapest costs
// passed are that cost, and after the counts one bit per cost marks those counted at least once.
// The largest of the cheapest costs is the highest marked cost; it only ever falls, so the search
// for the next one below it reads each word of marks once over the whole sweep, and a cost that
// enters costs a few steps, however many costs are kept.
class CountSweep {
 public:
  // The entries of Q that a sweep over costs least..least + span - 1 needs.
  static size_t Storage(size_t span) { return span + span / 32 + 1; }

  // Takes the first h >= 1 costs, each of them least + 0..span - 1; `storage` has room for
  // Storage(span) entries.
  CountSweep(const Record* record, ptrdiff_t step, int64_t h, int32_t least, size_t span,
             int32_t* storage)
      : record_(record),
        step_(step),
        least_(least),
        count_(storage),
        // int32_t storage read as uint32_t: the types may alias each other.
        marks_(reinterpret_cast<uint32_t*>(storage + span)) {
    std::fill_n(count_, span, 0);
    std::fill_n(marks_, span / 32 + 1, 0u);
    for (int64_t i = 0; i < h; ++i) {
      const int32_t cost = record[i * step].second;
      const uint32_t offset = Offset(cost);
      S_ += cost;
      ++count_[offset];
      marks_[offset / 32] |= 1u << (offset % 32);
      top_ = std::max(top_, offset);
    }
  }

  // As HeapSweep::Run, for any number of passes. Whether a cost enters is a coin toss through
  // much of a sweep, so entering is written without a branch: a cost that does not enter adds
  // nothing to its count, its mark, or the sum. Only top's moves branch.
  void Run(int64_t from, int64_t to, int64_t* out, ptrdiff_t out_step) {
    int64_t S = S_;  // S: sum of the cheapest costs passed, widened so that it never wraps
    uint32_t top = top_;
    int32_t top_count = count_[top];  // count_[top], kept here while top stays
    int32_t* const count = count_;
    uint32_t* const marks = marks_;
    for (int64_t i = from; i < to; ++i) {
      out[(i - from) * out_step] = S;
      __builtin_prefetch(record_ + std::min(i + kRecordsAhead, to - 1) * step_);
      const uint32_t offset = Offset(record_[i * step_].second);
      const bool enters = offset < top;  // an equal cost leaves the sum as it is
      S += enters ? int64_t{offset} - int64_t{top} : 0;
      count[offset] += enters;
      marks[offset / 32] |= uint32_t{enters} << (offset % 32);
      top_count -= enters;
      if (top_count > 0) continue;
      // No cost is marked above top, so once top's mark is gone, the highest mark is the next
      // cost below it; there is one, as the cost that just entered is.
      count[top] = 0;
      marks[top / 32] &= ~(1u << (top % 32));
      top = HighestMark(marks, top);
      top_count = count[top];
    }
    S_ = S;
    top_ = top;
    count_[top] = top_count;
  }

  // Where `cost` is counted: in 0..span - 1, which fits 32 bits as span does.
  uint32_t Offset(int32_t cost) const {
    return static_cast<uint32_t>(cost) - static_cast<uint32_t>(least_);
  }

  const Record* record_;
  ptrdiff_t step_;
  int32_t least_;
  int32_t* count_;    // count_[o]: how many of the cheapest costs passed are least_ + o
  uint32_t* marks_;   // bit o % 32 of marks_[o / 32]: count_[o] > 0
  uint32_t top_ = 0;  // the offset of the largest of the cheapest costs passed
  int64_t S_ = 0;
};

// Sorts the n costs of a bucket at `costs`: up to kRankedCosts of them by ranking each against
// all the others, in loops that compile to vector compares and adds with no branch on the costs
// (std::sort mispredicted at most of its comparisons there); more by std::sort. Equal costs are
// ranked by place, so that every rank is taken once. Costs that entered in falling order, as
// where the records' costs fall as their values rise, are only reversed.
constexpr size_t kRankedCosts = 64;
inline void SortBucket(int32_t* costs, size_t n) {
  size_t falling = 1;
  while (falling < n && costs[falling] <= costs[falling - 1]) ++falling;
  if (falling >= n) {
    std::reverse(costs, costs + n);
    return;
  }
  if (n > kRankedCosts) {
    std::sort(costs, costs + n);
    return;
  }
  int32_t sorted[kRankedCosts];
  for (size_t i = 0; i < n; ++i) {
    const int32_t cost = costs[i];
    uint32_t rank = 0;
    for (size_t j = 0; j < i; ++j) rank += costs[j] <= cost;
    for (size_t j = i + 1; j < n; ++j) rank += costs[j] < cost;
    sorted[rank] = cost;
  }
  std::copy_n(sorted, n, costs);
}

// The sweep over a case whose costs span far more values than it has records. Q holds the
// cheapest costs passed in buckets by cost range, each with room for every cost of the case in
// its range. Only the bucket holding the largest of them, the top bucket, is kept in order; a
// cost that enters any other is put at its end, and a bucket is sorted when the top comes down
// to it, so that each cost is sorted at most once a sweep and a cost that enters costs a store,
// where a heap of this size walks down levels that have left the caches.
class BucketSweep {
 public:
  // The entries of Q that a sweep over C records needs: a place for every cost, then where every
  // bucket begins and how far it is filled.
  static size_t Storage(int64_t C) { return static_cast<size_t>(C) + 2 * Buckets(C) + 1; }

  // False when the C >= 1 costs, which span `span`, are sure to crowd into too few buckets for
  // this to pay, as when they take few values: what LayOut would find, without reading them.
  static bool MayFit(int64_t C, const CostSpan& span) {
    const uint64_t buckets_used = (static_cast<uint64_t>(span.span - 1) >> Shift(C, span)) + 1;
    return static_cast<uint64_t>(C) <= buckets_used * kMostInBucket;
  }

  // Lays out the buckets of the C >= 1 records at `record`, whose costs span `span`, in
  // `storage`, which has room for Storage(C) entries: where each bucket begins, which both
  // sweeps then read. False when the costs crowd into too few buckets for this to pay.
  static bool LayOut(const Record* record, int64_t C, const CostSpan& span, int32_t* storage) {
    const BucketSweep layout(C, span, storage);
    const size_t buckets = Buckets(C);
    uint32_t* const count = layout.fill_;
    std::fill_n(count, buckets, 0u);
    for (int64_t i = 0; i < C; ++i) ++count[layout.Bucket(record[i].second)];
    uint32_t start = 0;
    for (size_t b = 0; b < buckets; ++b) {
      if (count[b] > kMostInBucket) return false;
      layout.begin_[b] = start;
      start += count[b];
    }
    layout.begin_[buckets] = start;
    return true;
  }

  // Takes the first h >= 1 of the C passes' costs, which span `span`, into buckets that LayOut
  // laid out in `storage`.
  BucketSweep(const Record* record, ptrdiff_t step, int64_t C, int64_t h, const CostSpan& span,
              int32_t* storage)
      : BucketSweep(C, span, storage) {
    record_ = record;
    step_ = step;
    std::copy_n(begin_, Buckets(C), fill_);
    for (int64_t i = 0; i < h; ++i) {
      const int32_t cost = record[i * step].second;
      S_ += cost;
      const size_t b = Bucket(cost);
      cost_[fill_[b]++] = cost;
      top_bucket_ = std::max(top_bucket_, b);
    }
    SortBucket(cost_ + begin_[top_bucket_], fill_[top_bucket_] - begin_[top_bucket_]);
  }

  // As HeapSweep::Run, for any number of passes. Whether a cost enters is a coin toss through
  // much of a sweep, so entering a bucket below the top is written without a branch: a cost
  // that does not enter is stored to a place of no account and counts nothing. Only costs of
  // the top bucket and the top's moves to the next bucket branch.
  void Run(int64_t from, int64_t to, int64_t* out, ptrdiff_t out_step) {
    int64_t S = S_;  // S: sum of the cheapest costs passed, widened so that it never wraps
    size_t top_bucket = top_bucket_;
    int32_t* const cost_of = cost_;
    const uint32_t* const begin = begin_;
    uint32_t* const fill = fill_;
    // The top bucket's fill, kept here rather than in fill, where every store of a cost would
    // make it be read again: costs and fills share Q's storage.
    uint32_t top_fill = fill[top_bucket];
    int32_t top = cost_of[top_fill - 1];
    int32_t ignored;  // where a cost that does not enter is stored
    for (int64_t i = from; i < to; ++i) {
      out[(i - from) * out_step] = S;
      __builtin_prefetch(record_ + std::min(i + kRecordsAhead, to - 1) * step_);
      const int32_t cost = record_[i * step_].second;
      const size_t b = Bucket(cost);
      if (b == top_bucket) [[unlikely]] {
        if (cost >= top) continue;  // an equal cost leaves the sum as it is
        S += int64_t{cost} - top;
        uint32_t at = top_fill - 1;
        for (; at > begin[b] && cost_of[at - 1] > cost; --at) cost_of[at] = cost_of[at - 1];
        cost_of[at] = cost;
        top = cost_of[top_fill - 1];
        continue;
      }
      // A cost of a lower bucket enters (and the top leaves) when it is below the top.
      const bool enters = cost < top;
      *(enters ? cost_of + fill[b] : &ignored) = cost;
      fill[b] += enters;
      S += enters ? int64_t{cost} - top : 0;
      top_fill -= enters;
      if (top_fill == begin[top_bucket]) [[unlikely]] {  // down to the next bucket with costs
        fill[top_bucket] = top_fill;
        do {
          --top_bucket;
        } while (fill[top_bucket] == begin[top_bucket]);
        top_fill = fill[top_bucket];
        SortBucket(cost_of + begin[top_bucket], top_fill - begin[top_bucket]);
      }
      top = cost_of[top_fill - 1];
    }
    fill[top_bucket] = top_fill;
    S_ = S;
    top_bucket_ = top_bucket;
  }

 private:
  // A bucket of more costs than this would make the top bucket slow to keep in order.
  static constexpr uint32_t kMostInBucket = 1024;

  // A power of two, about a 16th of the records: small buckets are quick to sort when the top
  // comes down to them. At most kMostBuckets, whose fills and beginnings stay in the second
  // level of cache.
  static constexpr size_t kMostBuckets = size_t{1} << 16;
  static size_t Buckets(int64_t C) {
    return std::min(kMostBuckets, std::bit_ceil(static_cast<size_t>(C) / 16 + 1));
  }

  // How far a cost's distance from the least is shifted right to give its bucket, for C records
  // whose costs span `span`: as little as leaves no bucket beyond the last.
  static int Shift(int64_t C, const CostSpan& span) {
    return std::max(0, static_cast<int>(std::bit_width(static_cast<uint64_t>(span.span - 1))) -
                           static_cast<int>(std::bit_width(Buckets(C) - 1)));
  }

  // The buckets of C records whose costs span `span`, in `storage`.
  BucketSweep(int64_t C, const CostSpan& span, int32_t* storage)
      : least_(static_cast<uint32_t>(span.least)),
        shift_(Shift(C, span)),
        cost_(storage),
        // int32_t storage read as uint32_t: the types may alias each other.
        begin_(reinterpret_cast<uint32_t*>(storage + C)),
        fill_(begin_ + Buckets(C) + 1) {}

  size_t Bucket(int32_t cost) const { return (static_cast<uint32_t>(cost) - least_) >> shift_; }

  const Record* record_ = nullptr;
  ptrdiff_t step_ = 0;
  uint32_t least_;   // the least cost of the case, as unsigned
  int shift_;        // a cost's bucket is its distance from the least, shifted right this far
  int32_t* cost_;    // each bucket's costs at cost_[begin_[b]..fill_[b])
  uint32_t* begin_;  // buckets + 1 entries: bucket b has room up to begin_[b + 1]
  uint32_t* fill_;
  size_t top_bucket_ = 0;  // the bucket of the largest of the cheapest costs passed, sorted
  int64_t S_ = 0;
};

// The sweep with Q sorted largest first, which is one valid heap order, and held in kVectors
// vector registers for the length of the sweep (padded with the smallest possible cost). A
// replacement updates every entry without a branch: each becomes the larger of its right
// neighbour and the smaller of itself and the new cost, which removes the largest cost and puts
// the new one in order, or changes nothing when the new cost is not smaller.
template <int kVectors>
[[gnu::always_inline]] inline void SortedSweep(const Record* record, ptrdiff_t step, int64_t h,
                                               int64_t passes, int64_t* out, ptrdiff_t out_step) {
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
  for (int64_t i = h; i < h + passes; ++i) {
    out[(i - h) * out_step] = S;
    const int32_t cost = record[i * step].second;
    const int32_t top = q[0][0];
    S += int64_t{std::min(cost, top)} - top;
    replace_top(cost);
  }
}

// The sorted sweep compiled for each CPU level: with SSE4.1, the minimum and maximum are one
// instruction each, and the shift of the heap by one lane is one byte alignment (SSSE3).
using SortedSweepFn = void (*)(const Record*, ptrdiff_t, int64_t, int64_t, int64_t*, ptrdiff_t);
template <int kVectors>
void SortedSweepPortable(const Record* record, ptrdiff_t step, int64_t h, int64_t passes,
                         int64_t* out, ptrdiff_t out_step) {
  SortedSweep<kVectors>(record, step, h, passes, out, out_step);
}
#if defined(__x86_64__) || defined(__i386__)
template <int kVectors>
__attribute__((target("sse4.1,ssse3"))) void SortedSweepSse41(const Record* record, ptrdiff_t step,
                                                              int64_t h, int64_t passes,
                                                              int64_t* out, ptrdiff_t out_step) {
  SortedSweep<kVectors>(record, step, h, passes, out, out_step);
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

// One sweep over the C records starting at `record` and stepping by `step` positions, for the
// passes h..C - h - 1, whose sums are the ones the scan reads. Both sweeps are this one, run from
// opposite ends; the sums go to `out` a block of `block` passes at a time, and each block, as
// passes first..end - 1, to `done`.
template <class Done>
void Sweep(const Record* record, ptrdiff_t step, int64_t C, int64_t h, Tables& tables, int64_t* out,
           ptrdiff_t out_step, int64_t block, Done done) {
  if (h < 0 || C - 2 * h < 1) return;
  const int64_t passes = C - 2 * h, end = C - h;
  if (h > 0 && h <= kSortedHeapLimit && C <= kShortSweepLimit) {  // one block: C <= kSumBlock
    SortedSweepFor((h + kLanes - 1) / kLanes)(record, step, h, passes, out, out_step);
    done(h, end);
    return;
  }
  auto run = [&](auto&& sweep) {
    for (int64_t first = h; first < end; first += block) {
      const int64_t last = std::min(end, first + block);
      sweep.Run(first, last, out, out_step);
      done(first, last);
    }
  };
  int32_t* const Q = tables.Q.data();
  if (tables.keeping == Keeping::kCounted) {
    run(CountSweep(record, step, h, tables.costs.least, static_cast<size_t>(tables.costs.span), Q));
  } else if (tables.keeping == Keeping::kBucketed) {
    run(BucketSweep(record, step, C, h, tables.costs, Q));
  } else {
    run(HeapSweep(record, step, h, HeapSize(h, passes), Q));
  }
}

}  // namespace

bool PrepareTables(const CaseHeader& header, Tables& tables, const CostSpan& measured) {
  const size_t entries = static_cast<size_t>(std::max<int64_t>(header.C, 0)) + 1;
  const int64_t h = HalfSize(header.N);
  if (tables.c.size() < static_cast<size_t>(kSumBlock) && !tables.c.Resize(kSumBlock)) {
    return false;
  }
  // d is written over its whole length and Q over about half: their pages are put in place at
  // once.
  if (tables.d.size() < entries && !tables.d.Resize(entries, Pages::kNow)) return false;
  tables.keeping = Keeping::kBySize;
  tables.costs = {};
  if (h < 0 || h > header.C) return true;
  // Both sweeps keep as many costs: in a heap, in buckets, or counted where there are many and
  // their values few. Counts and buckets can take more room than the heap; where memory runs
  // short, the sweeps keep the heap.
  const int64_t C = header.C;
  const Record* const records = tables.a.data() + 1;
  const size_t heap = 2 * static_cast<size_t>(h) + kHeapSweepExtra;
  const int64_t kept = 2 * h < C ? HeapSize(h, C - 2 * h) : 0;
  if (kept >= kBucketSweepMin && kept >= C / kHeapShareMin) {
    const CostSpan costs = measured.span > 0 ? measured : SpanOfCosts(records, C);
    if (kept >= kCountSweepMin && costs.span <= kCountSpanPerRecord * C &&
        tables.Q.Reserve(std::max(heap, CountSweep::Storage(static_cast<size_t>(costs.span))),
                         Pages::kNow)) {
      tables.keeping = Keeping::kCounted;
      tables.costs = costs;
      return true;
    }
    // The buckets are laid out before their pages are put in place, as costs that crowd into a
    // few buckets leave them unused.
    const size_t buckets = BucketSweep::Storage(C);
    if (BucketSweep::MayFit(C, costs) && tables.Q.Reserve(buckets) &&
        BucketSweep::LayOut(records, C, costs, tables.Q.data())) {
      tables.Q.Prefault(buckets);
      tables.keeping = Keeping::kBucketed;
      tables.costs = costs;
      return true;
    }
  }
  return tables.Q.Reserve(heap, Pages::kNow);
}

void SweepForward(const CaseHeader& header, Tables& tables, LowerSumReader& reader) {
  // Pass i is position i + 1.
  Sweep(tables.a.data() + 1, 1, header.C, HalfSize(header.N), tables, tables.c.data(), 1, kSumBlock,
        [&reader](int64_t first, int64_t end) { reader.Read(first + 1, end); });
}

void SweepBackward(const CaseHeader& header, Tables& tables) {
  // Pass i is position C - i, and its sum goes to d[C - i].
  const int64_t C = header.C, h = HalfSize(header.N);
  if (h < 0 || C - 2 * h < 1) return;
  Sweep(tables.a.data() + C, -1, C, h, tables, tables.d.data() + C - h, -1, C,
        [](int64_t, int64_t) {});
}

}  // namespace maxmedian
