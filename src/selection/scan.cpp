// The scan: the largest value whose cheapest choice fits the budget, read block by block as the
// forward sweep hands over its lower sums, while they are still in cache.
#include <algorithm>

#include "selection/selection.h"

namespace maxmedian {

int32_t ScanMiddle(const CaseHeader& header, const Tables& tables, int64_t first, int64_t last) {
  int32_t answer = -1;  // the floor: also the answer when no position fits the budget
  const int64_t* const lower = tables.c.data();
  for (int64_t k = first; k <= last; ++k) {
    const int64_t total = int64_t{tables.a[k].second} + lower[k - first] + tables.d[k];
    if (total <= header.F) answer = std::max(answer, tables.a[k].first);
  }
  return answer;
}

int32_t SelectMiddle(const CaseHeader& header, Tables& tables) {
  // The scan takes each block of lower sums while it is still in cache, and keeps the best.
  class BlockScan final : public LowerSumReader {
   public:
    BlockScan(const CaseHeader& header, const Tables& tables) : header_(header), tables_(tables) {}
    void Read(int64_t first, int64_t last) override {
      answer = std::max(answer, ScanMiddle(header_, tables_, first, last));
    }
    int32_t answer = -1;

   private:
    const CaseHeader& header_;
    const Tables& tables_;
  };
  SweepBackward(header, tables);
  BlockScan scan(header, tables);
  SweepForward(header, tables, scan);
  return scan.answer;
}

}  // namespace maxmedian
