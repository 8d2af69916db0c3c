// Putting a case's records in order: by value, then by cost, as signed numbers.
#ifndef MAXMEDIAN_ORDER_H_
#define MAXMEDIAN_ORDER_H_

#include <span>
#include <vector>

#include "selection/selection.h"

namespace maxmedian {

// Sorts `records` ascending by (first, second). `scratch` is working storage that grows to the
// number of records and keeps its capacity for later calls.
void OrderRecords(std::span<Record> records, std::vector<Record>& scratch);

}  // namespace maxmedian

#endif  // MAXMEDIAN_ORDER_H_
