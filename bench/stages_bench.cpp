// Benchmarks of each stage on generated data: reading (plain, padded and spaced-out numbers, long
// runs and long tokens that cross reads, in reads of two sizes), the block parser alone beside
// read() alone and windows of a mapped file alone,
// ordering (wide and tied values, at each CPU level), the sweeps (at each CPU level), and the
// whole case loop on inputs shaped like one large case and like many small ones.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "block_parser.h"
#include "cpu.h"
#include "driver.h"
#include "file_windows.h"
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
  if (!tables.a.Resize(records.size())) abort();
  std::copy(records.begin(), records.end(), tables.a.begin());
  if (!PrepareTables(header, tables)) abort();
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

// BigInput's numbers rewritten as the shapes reading must also take fast: 0 as they are, 1 with
// leading zeros and plus signs to 11 to 20 bytes, 2 between runs of 20 to 200 mixed white-space
// bytes; and two shapes whose runs cross reads: 3, runs of 64 KiB to 256 KiB of white space between
// a few numbers, and 4, numbers padded with 100 to 40,000 leading zeros.
const std::string& ReadInput(int64_t shape) {
  static const std::array<std::string, 5> texts = [] {
    std::mt19937 random(6);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    std::string padded, blank;
    std::string token;
    for (const char ch : BigInput() + " ") {
      if (ch != ' ' && ch != '\n') {
        token += ch;
        continue;
      }
      if (token.empty()) continue;
      const bool plus = pick(0, 2) == 0;
      if (plus) padded += '+';
      padded.append(std::max<int>(0, pick(11, 20) - plus - static_cast<int>(token.size())), '0');
      padded += token;
      padded += ch;
      for (int gap = pick(20, 200); gap > 0; --gap) blank += " \t\n\r\v\f"[pick(0, 5)];
      blank += token;
      token.clear();
    }
    std::string sparse, zeros;
    for (int i = 0; i < 400; ++i) {
      sparse += std::to_string(pick(0, 1000000));
      for (int gap = pick(1 << 16, 1 << 18); gap > 0; --gap) sparse += " \t\n\r\v\f"[pick(0, 5)];
      zeros += std::string(pick(100, 40000), '0') + std::to_string(pick(0, 1000000)) + "\n";
    }
    return std::array<std::string, 5>{BigInput(), padded, blank + "\n", sparse, zeros};
  }();
  return texts[shape];
}

// Reads one of the shapes above, `read_size` bytes a read, as a pipe might deliver them: a token
// at a time, or `batch` at a time with a token at a time for what the batches leave.
void BM_Read(benchmark::State& state) {
  const std::string& text = ReadInput(state.range(0));
  const auto read_size = static_cast<size_t>(state.range(1));
  const auto batch = static_cast<size_t>(state.range(2));
  for (auto _ : state) {
    StringSource source(text, read_size);
    IntReader reader(source, nullptr);
    int32_t values[512];
    int64_t sum = 0;  // wide enough for every value of the input
    for (;;) {
      const size_t got = batch > 0 ? reader.ReadMany(values, batch) : 0;
      for (size_t i = 0; i < got; ++i) sum += values[i];
      if (got > 0) continue;
      if (reader.Next(values) != ReadStatus::kValue) break;
      sum += values[0];
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Read)
    ->ArgNames({"shape", "read_size", "batch"})
    ->ArgsProduct({{0, 1, 2, 3, 4}, {IntReader::kDefaultBufferSize, 4096}, {0, 512}});

// Sets the CPU level that the vector paths use, or skips the benchmark where the CPU lacks it.
bool UseLevel(benchmark::State& state, int64_t level) {
  if (UseCpuLevel(static_cast<CpuLevel>(level)) == static_cast<CpuLevel>(level)) return true;
  state.SkipWithError("this CPU lacks the level");
  return false;
}

// The block parser alone at CPU level `level`, on the shapes of BM_Read that are all numbers (0
// to 2), held in memory as blocks of the reader's size: what it leaves at a block's end is
// skipped, as the stream reader would take it a token at a time.
void BM_ParseBlock(benchmark::State& state) {
  const std::string& text = ReadInput(state.range(0));
  if (!UseLevel(state, state.range(1))) return;
  std::string memory(kBlockLookBehind + text.size() + kBlockPadding, ' ');
  memory.replace(kBlockLookBehind, text.size(), text);
  const char* const begin = memory.data() + kBlockLookBehind;
  const char* const end = begin + text.size();
  for (auto _ : state) {
    int32_t values[512];
    int64_t sum = 0;
    for (const char* block = begin; block < end; block += IntReader::kDefaultBufferSize) {
      const char* const block_end = std::min(end, block + IntReader::kDefaultBufferSize);
      const char* p = block;
      const auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
      while (p > begin && !space(p[-1]) && p < block_end) ++p;  // from a whole token on
      for (BlockParse got; (got = ParseBlock(p, block_end, values, 512)).count > 0;) {
        for (size_t i = 0; i < got.count; ++i) sum += values[i];
        p = got.next;
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  UseCpuLevel(SupportedCpuLevel());
}
BENCHMARK(BM_ParseBlock)->ArgNames({"shape", "level"})->ArgsProduct({{0, 1, 2}, {0, 2, 3}});

// A file that holds `text`, already removed from its directory, so in the page cache only.
int TemporaryFileWith(const std::string& text) {
  char path[] = "/tmp/maxmedian-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) abort();
  unlink(path);
  return fd;
}

// read() alone of the same bytes as BM_ParseBlock, from a file in the page cache into a buffer
// of the reader's size: the speed the parser is measured against.
void BM_ReadAlone(benchmark::State& state) {
  const std::string& text = ReadInput(state.range(0));
  const int fd = TemporaryFileWith(text);
  std::vector<char> buffer(IntReader::kDefaultBufferSize);
  for (auto _ : state) {
    if (lseek(fd, 0, SEEK_SET) != 0) abort();
    while (read(fd, buffer.data(), buffer.size()) > 0) {
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  close(fd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadAlone)->ArgName("shape")->DenseRange(0, 2);

// The same bytes shown in place, a window at a time, as the reader takes a large regular file,
// reading a byte of every 64 with the parser's prefetching: reading without the copy.
void BM_WindowsAlone(benchmark::State& state) {
  const std::string& text = ReadInput(state.range(0));
  const int fd = TemporaryFileWith(text);
  for (auto _ : state) {
    if (lseek(fd, 0, SEEK_SET) != 0) abort();
    FileWindows windows(fd, FileWindows::kDefaultWindow, 0, FileWindows::Mapping::kAlways);
    const char* data;
    size_t size;
    int64_t sum = 0;
    while (windows.Advance(&data, &size) == FileWindows::Next::kShown) {
      for (size_t i = 0; i < size; i += 64) {
        __builtin_prefetch(data + i + kBlockPrefetch);
        sum += data[i];
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  close(fd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_WindowsAlone)->ArgName("shape")->DenseRange(0, 2);

// Orders 200,000 records as cases of `size` records each, values and costs from 0 to 9 (ties
// everywhere) when `tied` is set, at CPU level `level`; the copy that restores the disorder is
// timed too, and costs little next to the ordering.
void BM_Order(benchmark::State& state) {
  const auto size = static_cast<size_t>(state.range(0));
  const bool tied = state.range(1) != 0;
  if (!UseLevel(state, state.range(2))) return;
  std::mt19937 random(4);
  const std::vector<Record> records =
      RandomRecords(random, 200000 / size * size, tied ? 9 : 1000000000, tied ? 9 : 20000);
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
  UseCpuLevel(SupportedCpuLevel());
}
BENCHMARK(BM_Order)
    ->ArgNames({"size", "tied", "level"})
    ->ArgsProduct({{8, 20, 40, 63, 64, 95, 96}, {0, 1}, {0, 2}})
    ->ArgsProduct({{200, 2000, 200000}, {0, 1}, {2}});

void BM_Sweeps(benchmark::State& state) {
  std::mt19937 random(5);
  const CaseHeader header{static_cast<int32_t>(state.range(0)), 200000, 0};
  Tables tables = PreparedTables(header, RandomRecords(random, 200001, 1000000000, 20000));
  for (auto _ : state) benchmark::DoNotOptimize(SelectMiddle(header, tables));
  state.SetItemsProcessed(state.iterations() * 200000);
}
BENCHMARK(BM_Sweeps)->Arg(17)->Arg(33)->Arg(65)->Arg(129)->Arg(1001)->Arg(40001)->Arg(100001)->Arg(
    199999);

// The sweeps and the scan over one case of `records` records whose costs run from 0 to 10^9, far
// more values than records, with h = records / 8, as in the `spread` workload.
void BM_SweepsSpread(benchmark::State& state) {
  std::mt19937 random(6);
  const auto C = static_cast<int32_t>(state.range(0));
  const CaseHeader header{2 * (C / 8) + 1, C, std::numeric_limits<int32_t>::max()};
  Tables tables = PreparedTables(header, RandomRecords(random, C + 1, 1000000000, 1000000000));
  for (auto _ : state) benchmark::DoNotOptimize(SelectMiddle(header, tables));
  state.SetItemsProcessed(state.iterations() * C);
}
BENCHMARK(BM_SweepsSpread)->Arg(100000)->Arg(1000000)->Arg(4000000)->Unit(benchmark::kMillisecond);

// The sweeps and the scan over many small cases of 1 to 40 ordered records. Every case is drawn
// afresh: cases that repeat would let the branch predictor learn them.
void BM_SweepsSmall(benchmark::State& state) {
  if (!UseLevel(state, state.range(1))) return;
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
    for (auto& [header, tables] : cases) benchmark::DoNotOptimize(SelectMiddle(header, tables));
  }
  state.SetItemsProcessed(state.iterations() * records);
  UseCpuLevel(SupportedCpuLevel());
}
BENCHMARK(BM_SweepsSmall)
    ->ArgNames({"cases", "level"})
    ->ArgsProduct({{100000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

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
