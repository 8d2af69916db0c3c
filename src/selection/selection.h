// The selection engine: for records ordered by value, the cheapest h records on either side of
// every position (two sweeps), and the largest middle value whose cheapest choice fits the budget
// (the scan). All three work on the tables below, which one case fills and the next reuses.
#ifndef MAXMEDIAN_SELECTION_SELECTION_H_
#define MAXMEDIAN_SELECTION_SELECTION_H_

#include <compare>
#include <cstddef>
#include <cstdint>

#include "table.h"

namespace maxmedian {

// One record of a case: ordered by value, then by cost, both as signed numbers.
struct Record {
  int32_t first;   // the value: what an answer reports
  int32_t second;  // the cost: what a choice sums
  friend auto operator<=>(const Record&, const Record&) = default;
};

// The three numbers that open a case.
struct CaseHeader {
  int32_t N;  // size of a choice: 2h + 1 records, with h = N / 2 truncated toward zero
  int32_t C;  // number of records
  int32_t F;  // budget: the most a choice may cost
};

// The storage a case works in. It grows on demand and keeps its capacity from case to case, so a
// run of cases allocates only when a case is larger than every earlier one. Entries a case has
// not written hold whatever an earlier case (or nothing) left there.
struct Tables {
  Table<Record> a;   // a: the case's records at positions 1..C; position 0 holds no record
  Table<int64_t> c;  // c[k]: least total cost of h records before position k
  Table<int64_t> d;  // d[k]: least total cost of h records after position k
  Table<int32_t> Q;  // Q: max-heap of the h cheapest costs a sweep has passed
};

// The number of children of each entry of Q: the children of Q[i] are Q[kHeapArity * i + 1] to
// Q[kHeapArity * i + kHeapArity], and none is larger than Q[i].
inline constexpr size_t kHeapArity = 4;

// Returns h, the number of records a choice takes on each side of its middle: N / 2, truncated
// toward zero, so negative for N below -1.
inline int64_t HalfSize(int32_t N) { return N / 2; }

// Grows c and d to at least C + 1 entries and Q's storage to h costs and a little padding (when
// 0 <= h <= C), which is what the sweeps need; a is the caller's to fill. Returns false when memory
// runs out, leaving the tables usable but possibly too short for the case.
[[nodiscard]] bool PrepareTables(const CaseHeader& header, Tables& tables);

// Fills c[h + 1..C] from the records at a[1..C], which must be in order, and leaves the h
// cheapest costs of the case in Q. The tables must be prepared for the case (PrepareTables). When
// h is negative or greater than C it writes nothing and leaves Q empty. Allocates nothing.
void SweepForward(const CaseHeader& header, Tables& tables);

// Fills d[1..C - h] from the records at a[1..C], which must be in order, and leaves the h
// cheapest costs of the case in Q. The tables must be prepared for the case (PrepareTables). When
// h is negative or greater than C it writes nothing and leaves Q empty. Allocates nothing.
void SweepBackward(const CaseHeader& header, Tables& tables);

// Returns the largest value at a position k in h + 1..C - h whose cost plus c[k] plus d[k] is at
// most F, or -1 when there is none or it is below -1. Reads only entries both sweeps wrote.
int32_t ScanMiddle(const CaseHeader& header, const Tables& tables);

}  // namespace maxmedian

#endif  // MAXMEDIAN_SELECTION_SELECTION_H_
