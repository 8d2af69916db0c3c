// The straightforward version of the filter, for measuring maxmedian against: formatted reads
// one record at a time, std::sort on pairs, std::priority_queue for the cheapest costs, printf per
// answer. Correct on well-formed input, so its answers double as a check; it checks nothing else.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <queue>
#include <utility>
#include <vector>

int main() {
  int N, C, F;
  std::vector<std::pair<int, int>> records;  // (value, cost)
  std::vector<int64_t> below, above;         // cheapest h costs before and after each position
  while (std::scanf("%d%d%d", &N, &C, &F) == 3) {
    records.resize(C);
    for (auto& [value, cost] : records) {
      if (std::scanf("%d%d", &value, &cost) != 2) return 1;
    }
    std::sort(records.begin(), records.end());
    const int64_t h = N / 2;
    int answer = -1;
    if (h >= 0 && 2 * h + 1 <= C) {
      below.assign(C, 0);
      above.assign(C, 0);
      auto sweep = [&](int from, int step, std::vector<int64_t>& sums) {
        std::priority_queue<int> heap;
        int64_t sum = 0;
        for (int i = from, passed = 0; i >= 0 && i < C; i += step, ++passed) {
          const int cost = records[i].second;
          if (passed >= h) sums[i] = sum;
          if (passed < h) {
            heap.push(cost);
            sum += cost;
          } else if (!heap.empty() && heap.top() > cost) {
            sum += int64_t{cost} - heap.top();
            heap.pop();
            heap.push(cost);
          }
        }
      };
      sweep(0, 1, below);
      sweep(C - 1, -1, above);
      for (int64_t k = h; k < C - h; ++k) {
        if (records[k].second + below[k] + above[k] <= F)
          answer = std::max(answer, records[k].first);
      }
    }
    std::printf("%d\n", answer);
  }
  return 0;
}
