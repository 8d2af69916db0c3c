// The selection engine: for records ordered by value, the cheapest h records on either side of
// every position that can be a middle (two sweeps), and the largest middle value whose cheapest
// choice fits the budget (the scan). They work on the tables below, which one case fills and the
// next reuses.
#ifndef MAXMEDIAN_SELECTION_SELECTION_H_
#define MAXMEDIAN_SELECTION_SELECTION_H_

#include <cstddef>
#include <cstdint>

#include "record.h"
#include "table.h"

namespace maxmedian {

// The least of a case's costs and how many values its costs span, from the least to the largest.
struct CostSpan {
  int32_t least = 0;
  int64_t span = 0;  // 0: not measured
};

// How the sweeps keep the cheapest costs passed, as PrepareTables chose for a case.
enum class Keeping {
  kBySize,   // as the case's size calls for: in a heap, or in vector registers
  kCounted,  // counted by cost, for many costs of few values
  kBucketed  // in buckets by cost range, for many costs of far more values than records
};

// The storage a case works in. It grows on demand and keeps its capacity from case to case, so a
// run of cases allocates only when a case is larger than every earlier one. Entries a case has
// not written hold whatever an earlier case (or nothing) left there.
struct Tables {
  Table<Record> a;   // a: the case's records at positions 1..C; position 0 holds no record
  Table<int64_t> c;  // c: least total cost of h records before each position of one block
  Table<int64_t> d;  // d[k]: least total cost of h records after position k
  Table<int32_t> Q;  // Q: the cheapest costs a sweep has passed: as a heap, counted by cost, ...
  Keeping keeping = Keeping::kBySize;  // how Q keeps them (PrepareTables)
  CostSpan costs;  // of the costs at a[1..C] where they are counted or bucketed (PrepareTables)
};

// The forward sweep hands its lower sums over this many positions at a time, so that c is a
// block that stays in the first level of cache rather than a table as large as the case.
inline constexpr int64_t kSumBlock = 2048;

// The number of children of each entry of Q: the children of Q[i] are Q[kHeapArity * i + 1] to
// Q[kHeapArity * i + kHeapArity], and none is larger than Q[i].
inline constexpr size_t kHeapArity = 4;

// Returns h, the number of records a choice takes on each side of its middle: N / 2, truncated
// toward zero, so negative for N below -1.
inline int64_t HalfSize(int32_t N) { return N / 2; }

// Grows c to a block, d to at least C + 1 entries and Q's storage to what the sweeps need (when
// 0 <= h <= C), and chooses how Q keeps costs (`keeping`): 2h costs and a little padding; or,
// where the sweeps count costs, a count for every value the costs span, or where they keep them
// in buckets, a little over one entry a record, with the buckets laid out; for these two it
// records the span of the costs in `costs`.
// The case's records must stand at a[1..C], in any order; `measured`, when its span is not 0, is
// the span of their costs, taken by the caller, which saves measuring it again. Returns false
// when memory runs out, leaving the tables usable but possibly too short for the case.
[[nodiscard]] bool PrepareTables(const CaseHeader& header, Tables& tables,
                                 const CostSpan& measured = {});

// Receives the lower sums block by block as the forward sweep computes them.
class LowerSumReader {
 public:
  // c[0..last - first] holds the lower sums of positions first..last; the next block overwrites
  // them.
  virtual void Read(int64_t first, int64_t last) = 0;

 protected:
  ~LowerSumReader() = default;
};

// For every position k in h + 1..C - h, in ascending order and in blocks of at most kSumBlock
// positions, puts the sum of the h smallest costs at positions 1..k - 1 into c and hands each
// block to `reader`. The records at a[1..C] must be in order and the tables prepared for the
// case (PrepareTables). Hands over nothing when C < 2h + 1 or h < 0. Q's contents afterwards
// are unspecified, but for the buckets PrepareTables laid out. Allocates nothing.
void SweepForward(const CaseHeader& header, Tables& tables, LowerSumReader& reader);

// Sets d[k], for every position k in h + 1..C - h, to the sum of the h smallest costs at
// positions k + 1..C. The records at a[1..C] must be in order and the tables prepared for the
// case (PrepareTables). Writes nothing when C < 2h + 1 or h < 0, and no entry of d outside that
// range. Q's contents afterwards are unspecified, but for the buckets PrepareTables laid out.
// Allocates nothing.
void SweepBackward(const CaseHeader& header, Tables& tables);

// Returns the largest value at a position k in first..last, a range within h + 1..C - h, whose
// cost plus c[k - first] plus d[k] is at most F, or -1 when there is none or it is below -1.
int32_t ScanMiddle(const CaseHeader& header, const Tables& tables, int64_t first, int64_t last);

// Whether the budget rules out every choice of 2h + 1 of the C records at `records` (in any
// order, 0 <= 2h + 1 <= C), whose costs span `costs` (measured): true only when even the
// cheapest 2h + 1 costs of the case add up to more than F, judged from a count of the costs by
// range in one pass, so that such a case needs neither ordering nor sweeps. False decides
// nothing: it also comes at once, without the pass, when a sample of the costs suggests that
// the cheapest choice fits. Allocates nothing.
bool BudgetRulesOutEveryChoice(const CaseHeader& header, const Record* records,
                               const CostSpan& costs);

// Whether a middle of the largest value a middle can have, that of position C - h, fits the
// budget for sure: the C records at `records` stand in order, 0 <= 2h + 1 <= C, and their costs
// lie within `costs` (span > 0). The first position of that value that has h records before it
// is judged: the h cheapest costs on each side of it are bounded from above by a count of their
// costs by range, one pass over the case (the h after the last possible middle are summed
// exactly). Where it fits, the answer is that value, and the case needs no sweeps. False
// decides nothing: it also comes at once, without the pass, when samples of the costs suggest
// that the middle does not fit. Allocates nothing.
bool TopMiddleFits(const CaseHeader& header, const Record* records, const CostSpan& costs);

// Moves to the front of the C records at `records` (in any order, 0 <= 2h + 1 <= C) those that a
// choice within the budget can hold, and returns how many they are, narrowing `costs` (their
// measured span, span > 0) to the costs of those left. A record whose cost and the 2h cheapest
// costs of the case add up to more than F is in no such choice; the order of those left is
// unspecified. Returns C, having moved nothing, where a sample of the costs suggests that few
// would go, or where memory runs short for `scratch`, in which the cheapest costs are gathered.
int32_t KeepRecordsAChoiceCanHold(const CaseHeader& header, Record* records, CostSpan& costs,
                                  Table<int32_t>& scratch);

// Moves to the front of the C records at `records` (in any order, 0 <= 2h + 1 <= C), whose costs
// lie within `costs` (span > 0), a part of them whose answer is the case's, and returns how many
// they are: where a choice whose middle has one of the top values fits the budget for sure, the
// records of those values and the cheapest of the others, enough for every choice around such a
// middle. The order of those left is unspecified. Returns C, having moved nothing, where no such
// choice is found or the case is too small for the passes to pay. Allocates nothing.
int32_t KeepRecordsOfTheTopValues(const CaseHeader& header, Record* records, const CostSpan& costs);

// The engine on one case whose records stand in order at a[1..C] in prepared tables: the
// backward sweep, then the forward sweep with the scan reading each block of lower sums as it is
// filled. Returns the case's answer.
int32_t SelectMiddle(const CaseHeader& header, Tables& tables);

}  // namespace maxmedian

#endif  // MAXMEDIAN_SELECTION_SELECTION_H_
