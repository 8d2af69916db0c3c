// Putting a case's records in order: by value, then by cost, as signed numbers.
#ifndef MAXMEDIAN_ORDER_H_
#define MAXMEDIAN_ORDER_H_

#include <span>

#include "record.h"
#include "table.h"

namespace maxmedian {

// Sorts `records` ascending by (first, second). `scratch` is working storage of at least as many
// entries as there are records; its entries are left meaningless. Allocates nothing.
void OrderRecords(std::span<Record> records, Table<int64_t>& scratch);

}  // namespace maxmedian

#endif  // MAXMEDIAN_ORDER_H_
