// The numbers a case is made of: its header and its records.
#ifndef MAXMEDIAN_RECORD_H_
#define MAXMEDIAN_RECORD_H_

#include <compare>
#include <cstdint>

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

}  // namespace maxmedian

#endif  // MAXMEDIAN_RECORD_H_
