// The scan: the largest value whose cheapest choice fits the budget, read block by block as the
// forward sweep hands over its lower sums, while they are still in cache; and the bound that
// answers a case before any of that when no choice can fit.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <optional>

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

namespace {

// An estimate of the sum of the `need` cheapest costs of the n records at `records` (need <= n),
// from a sample of kSample of them, or nothing when n is too small for the sample to save a
// pass over them all.
constexpr size_t kSample = 512;
std::optional<double> SampledCheapestSum(const Record* records, size_t n, size_t need) {
  if (n < 8 * kSample) return std::nullopt;
  if (need == 0) return 0.0;
  std::array<int32_t, kSample> sample;
  for (size_t j = 0; j < kSample; ++j) sample[j] = records[j * n / kSample].second;
  const size_t take = (need * kSample + n - 1) / n;  // 1 to kSample
  std::nth_element(sample.begin(), sample.begin() + (take - 1), sample.end());
  int64_t sampled = 0;
  for (size_t j = 0; j < take; ++j) sampled += sample[j];
  return static_cast<double>(sampled) * static_cast<double>(need) / static_cast<double>(take);
}

// An estimate of the sum of the `need` cheapest of n costs (need <= n) whose least is `least`,
// from a sorted sample of them: the costs between the sampled ones taken as rising evenly, which
// holds up where fewer than one sampled cost falls among the cheapest. The least few of the
// sample vary too much to go by alone: the costs below the eighth are taken as rising evenly from
// the least to it.
double EstimateCheapestSum(const std::array<int32_t, kSample>& sorted, int32_t least, size_t n,
                           size_t need) {
  constexpr size_t kFirst = 7;
  const double end = static_cast<double>(need) / static_cast<double>(n) * kSample;  // in samples
  double at = 0, cost = least, sum = 0;  // the sum from 0 to `at`, in samples, of the cost there
  for (size_t j = kFirst; j < kSample && at < end; ++j) {
    // The j-th least of the sample stands, on average, j + 1 parts in kSample + 1 of the way.
    const double next = (static_cast<double>(j) + 1) * kSample / (kSample + 1.0);
    const double next_cost = sorted[j];
    const double to = std::min(next, end);
    const double cost_at_to = cost + (next_cost - cost) * (to - at) / (next - at);
    sum += (cost + cost_at_to) / 2 * (to - at);
    at = to;
    cost = cost_at_to;
  }
  if (at < end) sum += cost * (end - at);
  return sum * static_cast<double>(n) / kSample;
}

// Moves the records of records[0..n) that `keep` accepts to the front, in their order, and
// returns how many they are. Every record is stored without a branch, as whether one stays is
// often a coin toss.
template <class Keep>
size_t KeepWhere(Record* records, size_t n, Keep keep) {
  size_t kept = 0;
  for (size_t i = 0; i < n; ++i) {
    const Record record = records[i];
    records[kept] = record;
    kept += keep(record) ? 1 : 0;
  }
  return kept;
}

// Bounds on the sum of the `need` cheapest costs of the n records at `records` (need <= n),
// whose costs lie within `costs`, from one pass that counts them by range: 2^kBits ranges over
// the span, each cost taken as the least or as the largest of its range.
int64_t BoundCheapestSum(const Record* records, size_t n, size_t need, const CostSpan& costs,
                         bool from_above) {
  constexpr int kBits = 11;
  constexpr size_t kRanges = size_t{1} << kBits;
  const int32_t least = costs.least;
  const auto span = static_cast<uint64_t>(costs.span - 1);  // below 2^32
  const int shift = std::max(0, static_cast<int>(std::bit_width(span)) - kBits);
  auto range = [least, shift](int32_t cost) {
    return (static_cast<uint32_t>(cost) - static_cast<uint32_t>(least)) >> shift;
  };
  // Four sets of counts, so that a run of costs in one range does not wait on its own last
  // increment.
  std::array<std::array<uint32_t, kRanges>, 4> counts{};
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    for (size_t k = 0; k < 4; ++k) ++counts[k][range(records[i + k].second)];
  }
  for (; i < n; ++i) ++counts[0][range(records[i].second)];
  const int64_t most = int64_t{least} + static_cast<int64_t>(span);
  int64_t left = static_cast<int64_t>(need);  // of the cheapest costs, those not yet counted
  int64_t total = 0;  // at most 2^31 costs of at most 2^31 each: no overflow
  for (size_t r = 0; r < kRanges && left > 0; ++r) {
    const int64_t in_range = int64_t{counts[0][r]} + counts[1][r] + counts[2][r] + counts[3][r];
    const int64_t taken = std::min(in_range, left);
    const int64_t edge = from_above
                             ? std::min(most, least + ((static_cast<int64_t>(r) + 1) << shift) - 1)
                             : least + (static_cast<int64_t>(r) << shift);
    total += taken * edge;
    left -= taken;
  }
  return total;
}

}  // namespace

bool BudgetRulesOutEveryChoice(const CaseHeader& header, const Record* records,
                               const CostSpan& costs) {
  const auto C = static_cast<size_t>(header.C);
  const auto need = static_cast<size_t>(2 * HalfSize(header.N) + 1);
  // Where the cheapest choice a sample suggests fits the budget, the count would almost surely
  // not rule the case out, and the pass over every cost is saved.
  if (const auto sampled = SampledCheapestSum(records, C, need); sampled && *sampled <= header.F) {
    return false;
  }
  // The cheapest 2h + 1 costs cost at least the least cost of each range times how many of them
  // fall in it.
  return BoundCheapestSum(records, C, need, costs, false) > header.F;
}

bool TopMiddleFits(const CaseHeader& header, const Record* records, const CostSpan& costs) {
  const int64_t C = header.C, h = HalfSize(header.N);
  const int64_t top = C - h - 1;  // of records[0..C), the last that has h records after it
  // Every middle of the top's value answers alike: the first of them, which has the cheapest
  // cost of them and the most records after it, is the one judged.
  const Record* const first_of_value =
      std::lower_bound(records + h, records + top, records[top].first,
                       [](const Record& r, int32_t value) { return r.first < value; });
  const auto at = static_cast<size_t>(first_of_value - records);
  const auto need = static_cast<size_t>(h), after = static_cast<size_t>(C) - at - 1;
  // The h cheapest before it and after it, each bounded from above; where only h are after it,
  // their sum is exact. Where a sample suggests that they do not fit, the passes are saved.
  int64_t exact_after = 0;
  if (after == need) {
    for (size_t k = at + 1; k < static_cast<size_t>(C); ++k) exact_after += records[k].second;
  }
  const int64_t own = records[at].second;
  const auto before_sampled = SampledCheapestSum(records, at, need);
  const auto after_sampled = after == need ? std::optional<double>(static_cast<double>(exact_after))
                                           : SampledCheapestSum(records + at + 1, after, need);
  if (before_sampled && after_sampled &&
      *before_sampled + *after_sampled + static_cast<double>(own) > header.F) {
    return false;
  }
  const int64_t after_bound =
      after == need ? exact_after : BoundCheapestSum(records + at + 1, after, need, costs, true);
  return BoundCheapestSum(records, at, need, costs, true) + after_bound + own <= header.F;
}

int32_t KeepRecordsAChoiceCanHold(const CaseHeader& header, Record* records, CostSpan& costs,
                                  Table<int32_t>& scratch) {
  const auto C = static_cast<size_t>(header.C);
  const auto others = static_cast<size_t>(2 * HalfSize(header.N));  // of a choice, beside one
  if (others == 0 || C < 8 * kSample) return header.C;
  // Where a sample suggests that most records would stay, the two passes would cost more than
  // the records they drop save.
  std::array<int32_t, kSample> sample;
  for (size_t j = 0; j < kSample; ++j) sample[j] = records[j * C / kSample].second;
  std::sort(sample.begin(), sample.end());
  const double bar_estimate =
      static_cast<double>(header.F) - EstimateCheapestSum(sample, costs.least, C, others);
  const auto staying =
      static_cast<size_t>(std::upper_bound(sample.begin(), sample.end(), bar_estimate,
                                           [](double bar, int32_t cost) { return bar < cost; }) -
                          sample.begin());
  if (3 * staying > 2 * kSample) return header.C;
  // The cheapest costs lie at or below a cost of the sample that about twice as many are below:
  // one pass gathers those, and the sum of the cheapest is exact. Where the sample misled, too
  // many or too few are gathered, and nothing is dropped.
  const size_t rank = 2 * others * kSample / C + 8;
  if (rank >= kSample) return header.C;
  const int32_t pivot = sample[rank];
  const size_t room = std::min(C, 4 * others + C / 16);
  if (!scratch.Reserve(room + 1)) return header.C;
  int32_t* const gathered = scratch.data();
  size_t found = 0;
  for (size_t i = 0; i < C && found < room; ++i) {
    gathered[found] = records[i].second;  // stays only when it is at or below the pivot
    found += records[i].second <= pivot ? 1 : 0;
  }
  if (found >= room || found < others) return header.C;
  std::nth_element(gathered, gathered + (others - 1), gathered + found);
  int64_t cheapest = 0;  // at most 2^31 costs of at most 2^31 each: no overflow
  for (size_t j = 0; j < others; ++j) cheapest += gathered[j];
  // A record costlier than this is in no choice within the budget: the others of any choice
  // cost at least the cheapest.
  const int64_t bar = int64_t{header.F} - cheapest;
  if (bar >= costs.least + costs.span - 1) return header.C;
  const size_t kept = KeepWhere(records, C, [bar](const Record& r) { return r.second <= bar; });
  if (kept > 0) costs.span = std::min(costs.span, bar - costs.least + 1);
  return static_cast<int32_t>(kept);
}

namespace {

// The records of the top values: three values, thresholds below about a quarter, a sixteenth
// and a sixty-fourth of the records, split them into four classes (0: below every threshold),
// and each class's costs are counted by range.
constexpr int kTopBits = 12;
constexpr size_t kTopRanges = size_t{1} << kTopBits;
constexpr size_t kTopClasses = 4;
struct TopCounts {
  std::array<int32_t, kTopClasses - 1> thresholds;  // ascending
  int shift;
  std::array<std::array<uint32_t, kTopRanges>, kTopClasses> counts;
};

// Counts every `stride`-th of the n records at `records`, whose costs lie within `costs`, by
// class and range.
void CountTop(const Record* records, size_t n, size_t stride, const CostSpan& costs,
              TopCounts& top) {
  for (auto& by_range : top.counts) by_range.fill(0);
  const auto least = static_cast<uint32_t>(costs.least);
  const int shift = top.shift;
  const auto [t0, t1, t2] = top.thresholds;
  for (size_t i = 0; i < n; i += stride) {
    const Record r = records[i];
    const int cls = (r.first >= t0 ? 1 : 0) + (r.first >= t1 ? 1 : 0) + (r.first >= t2 ? 1 : 0);
    ++top.counts[cls][(static_cast<uint32_t>(r.second) - least) >> shift];
  }
}

// Bounds from above the sum of the `need` cheapest costs of classes [from, to) of `top`, each
// count taken `scale` times and each cost as the largest of its range; with `bar`, the largest
// cost of the range where the `need`-th cheapest lies. Nothing where the classes hold fewer
// than `need` costs.
std::optional<int64_t> TopCheapestSum(const TopCounts& top, size_t from, size_t to, int64_t need,
                                      int64_t scale, const CostSpan& costs,
                                      int64_t* bar = nullptr) {
  const int64_t most = int64_t{costs.least} + costs.span - 1;
  int64_t left = need, total = 0;
  for (size_t r = 0; r < kTopRanges && left > 0; ++r) {
    int64_t in_range = 0;
    for (size_t cls = from; cls < to; ++cls) in_range += int64_t{top.counts[cls][r]} * scale;
    const int64_t low = costs.least + (static_cast<int64_t>(r) << top.shift);
    const int64_t high = std::min(most, low + (int64_t{1} << top.shift) - 1);
    const int64_t taken = std::min(in_range, left);
    total += taken * high;
    left -= taken;
    if (left == 0 && bar != nullptr) *bar = high;
  }
  if (left > 0) return std::nullopt;
  return total;
}

}  // namespace

int32_t KeepRecordsOfTheTopValues(const CaseHeader& header, Record* records,
                                  const CostSpan& costs) {
  constexpr size_t kMinRecords = 65536, kEstimateStride = 16;
  const auto C = static_cast<size_t>(header.C);
  const int64_t h = HalfSize(header.N);
  if (C < kMinRecords || h < 1 || h > header.C / 16) return header.C;
  std::array<int32_t, kSample> values;
  for (size_t j = 0; j < kSample; ++j) values[j] = records[j * C / kSample].first;
  std::sort(values.begin(), values.end());
  TopCounts top;
  top.thresholds = {values[kSample - kSample / 4], values[kSample - kSample / 16],
                    values[kSample - kSample / 64]};
  top.shift = std::max(
      0, static_cast<int>(std::bit_width(static_cast<uint64_t>(costs.span - 1))) - kTopBits);
  // A choice whose middle is of a threshold's value or more: the h + 1 cheapest records of that
  // value or more, and the h cheapest of the others. Where it fits, the answer is at least that
  // value, and the middles of lower values can be dropped.
  auto fits = [&](size_t cls, int64_t scale, int64_t* bar) {
    const auto above = TopCheapestSum(top, cls, kTopClasses, h + 1, scale, costs);
    const auto below = TopCheapestSum(top, 0, cls, h, scale, costs, bar);
    return above && below && *above + *below <= header.F;
  };
  // A count of a sixteenth of the records first: where even the lowest threshold's choice
  // seems not to fit by it, the pass over them all is saved.
  CountTop(records, C, kEstimateStride, costs, top);
  if (!fits(1, kEstimateStride, nullptr)) return header.C;
  CountTop(records, C, 1, costs, top);
  for (size_t cls = kTopClasses - 1; cls >= 1; --cls) {
    int64_t bar = 0;
    if (!fits(cls, 1, &bar)) continue;
    // Middles of that value or more keep the records of that value or more, and of the others
    // those that can be among the h cheapest before them: every cost up to the bar.
    const int32_t least_value = top.thresholds[cls - 1];
    return static_cast<int32_t>(KeepWhere(records, C, [least_value, bar](const Record& r) {
      return r.first >= least_value || r.second <= bar;
    }));
  }
  return header.C;
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
