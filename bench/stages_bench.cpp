// Benchmarks of each stage on generated data: reading, ordering, the sweeps, and the whole case
// loop on inputs shaped like one large case and like many small ones.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "driver.h"
#include "order.h"
#include "reader.h"
#include "selection/selection.h"

namespace maxmedian {
namespace {

std::vector<Record> RandomRecords(std::mt19937& random, size_t count, int32_t max_value,
                                  int32_t max_cost) {
  std::uniform_int_distribution<int32_t> value(0, max_value), cost(0, max_cost);
  std::vector<Record> records(count);
  for (Record& r : records) r = {value(random), cost(random)};
  return records;
}

// Tables holding `records` (position 0 included) in order, prepared for `header`.
Tables PreparedTables(const CaseHeader& header, const std::vector<Record>& records) {
  Tables tables;
  if (!tables.a.Resize(records.size()) || !PrepareTables(header, tables)) abort();
  std::copy(records.begin(), records.end(), tables.a.begin());
  OrderRecords(std::span<Record>(tables.a.data() + 1, records.size() - 1), tables.d);
  return tables;
}

void AppendCase(std::string& text, int32_t N, int64_t F, const std::vector<Record>& records) {
  text += std::to_string(N) + " " + std::to_string(records.size()) + " " + std::to_string(F) + "\n";
  for (const Record& r : records)
    text += std::to_string(r.first) + " " + std::to_string(r.second) + "\n";
}

// One case of 200,000 records, like the large standard workload.
const std::string& BigInput() {
  static const std::string text = [] {
    std::mt19937 random(1);
    std::string t;
    AppendCase(t, 100001, 1500000000, RandomRecords(random, 200000, 1000000000, 20000));
    return t;
  }();
  return text;
}

// 20,000 cases of 1 to 40 records.
const std::string& ManyInput() {
  static const std::string text = [] {
    std::mt19937 random(2);
    std::string t;
    for (int i = 0; i < 20000; ++i) {
      const int C = std::uniform_int_distribution<int>(1, 40)(random);
      const int N = std::uniform_int_distribution<int>(1, C)(random);
      AppendCase(t, N, 100000 * (N + 1) / 2, RandomRecords(random, C, 1000000, 100000));
    }
    return t;
  }();
  return text;
}

void BM_Read(benchmark::State& state) {
  const std::string& text = BigInput();
  for (auto _ : state) {
    StringSource source(text);
    IntReader reader(source, nullptr);
    int32_t value, sum = 0;
    while (reader.Next(&value) == ReadStatus::kValue) sum += value;
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Read);

// Orders 200,000 records as cases of range(0) records each; the copy that restores the
// disorder is timed too, and costs little next to the ordering.
void BM_Order(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  std::mt19937 random(4);
  const std::vector<Record> records =
      RandomRecords(random, 200000 / size * size, 1000000000, 20000);
  std::vector<Record> work;
  Table<int64_t> scratch;
  if (!scratch.Resize(size)) state.SkipWithError("out of memory");
  for (auto _ : state) {
    work = records;
    for (size_t start = 0; start < work.size(); start += size) {
      OrderRecords(std::span<Record>(work).subspan(start, size), scratch);
    }
    benchmark::DoNotOptimize(work.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * records.size()));
}
BENCHMARK(BM_Order)->Arg(8)->Arg(20)->Arg(40)->Arg(63)->Arg(64)->Arg(96)->Arg(200)->Arg(2000)->Arg(
    200000);

void BM_Sweeps(benchmark::State& state) {
  std::mt19937 random(5);
  const CaseHeader header{static_cast<int32_t>(state.range(0)), 200000, 0};
  Tables tables = PreparedTables(header, RandomRecords(random, 200001, 1000000000, 20000));
  for (auto _ : state) {
    SweepForward(header, tables);
    SweepBackward(header, tables);
    benchmark::DoNotOptimize(ScanMiddle(header, tables));
  }
  state.SetItemsProcessed(state.iterations() * 200000);
}
BENCHMARK(BM_Sweeps)->Arg(17)->Arg(33)->Arg(65)->Arg(129)->Arg(1001)->Arg(40001)->Arg(100001)->Arg(
    199999);

// The sweeps and the scan over many small cases of 1 to 40 ordered records. Every case is drawn
// afresh: cases that repeat would let the branch predictor learn them.
void BM_SweepsSmall(benchmark::State& state) {
  std::mt19937 random(3);
  std::vector<std::pair<CaseHeader, Tables>> cases;
  int64_t records = 0;
  for (int i = 0; i < static_cast<int>(state.range(0)); ++i) {
    const int C = std::uniform_int_distribution<int>(1, 40)(random);
    const int N = std::uniform_int_distribution<int>(1, C)(random);
    const CaseHeader header{N, C, 100000 * (N + 1) / 2};
    cases.push_back(
        {header, PreparedTables(header, RandomRecords(random, C + 1, 1000000, 100000))});
    records += C;
  }
  for (auto _ : state) {
    for (auto& [header, tables] : cases) {
      SweepForward(header, tables);
      SweepBackward(header, tables);
      benchmark::DoNotOptimize(ScanMiddle(header, tables));
    }
  }
  state.SetItemsProcessed(state.iterations() * records);
}
BENCHMARK(BM_SweepsSmall)->Arg(100000)->Unit(benchmark::kMillisecond);

void RunWhole(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    StringSource source(text);
    StringSink sink;
    benchmark::DoNotOptimize(RunCases(source, sink).status);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
void BM_DriverBig(benchmark::State& state) { RunWhole(state, BigInput()); }
void BM_DriverMany(benchmark::State& state) { RunWhole(state, ManyInput()); }
BENCHMARK(BM_DriverBig)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DriverMany)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace maxmedian

BENCHMARK_MAIN();
