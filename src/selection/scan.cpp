#include <algorithm>

#include "selection/selection.h"

namespace maxmedian {

int32_t ScanMiddle(const CaseHeader& header, const Tables& tables) {
  const int64_t h = HalfSize(header.N);
  const int64_t C = header.C;
  int32_t answer = -1;  // the floor: also the answer when no position fits the budget
  if (h < 0) return answer;
  for (int64_t k = h + 1; k <= C - h; ++k) {
    const int64_t total = int64_t{tables.a[k].second} + tables.c[k] + tables.d[k];
    if (total <= header.F) answer = std::max(answer, tables.a[k].first);
  }
  return answer;
}

}  // namespace maxmedian
