#include "order.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace maxmedian {
namespace {

// Up to this many records, ranking every record against every other is the fastest.
constexpr size_t kRankLimit = 48;
// Below this many records a comparison sort beats the fixed cost of the radix passes.
constexpr size_t kRadixThreshold = 64;

// The record as one unsigned number that orders the same way: flipping the sign bits turns
// signed order into unsigned order, and the value takes the high half so it is compared first.
inline uint64_t Key(const Record& r) {
  return (uint64_t{static_cast<uint32_t>(r.first) ^ 0x80000000u} << 32) |
         (static_cast<uint32_t>(r.second) ^ 0x80000000u);
}

// Each record is turned into its key once, and goes straight to its place in the order: the
// number of keys below it, plus the number of equal keys before it. That is n * n comparisons,
// but without a branch that depends on the data, which for a few dozen records beats sorting
// by comparisons that mispredict once per record.
void RankSort(Record* records, size_t n) {
  uint64_t keys[kRankLimit];
  Record copy[kRankLimit];
  for (size_t i = 0; i < n; ++i) {
    keys[i] = Key(records[i]);
    copy[i] = records[i];
  }
  for (size_t i = 0; i < n; ++i) {
    const uint64_t key = keys[i];
    size_t rank = 0;
    for (size_t j = 0; j < i; ++j) rank += keys[j] <= key;
    for (size_t j = i + 1; j < n; ++j) rank += keys[j] < key;
    records[rank] = copy[i];
  }
}

// Least significant digit first, a byte at a time. A byte that is the same in every key orders
// nothing, so its pass is skipped: costs and values from narrow ranges need fewer passes.
void RadixSort(std::span<Record> records, std::vector<Record>& scratch) {
  const size_t n = records.size();
  if (scratch.size() < n) scratch.resize(n);
  std::array<std::array<uint32_t, 256>, 8> count{};
  for (const Record& r : records) {
    const uint64_t key = Key(r);
    for (int b = 0; b < 8; ++b) ++count[b][(key >> (8 * b)) & 0xff];
  }
  Record* from = records.data();
  Record* to = scratch.data();
  for (int b = 0; b < 8; ++b) {
    std::array<uint32_t, 256>& bucket = count[b];
    if (bucket[(Key(from[0]) >> (8 * b)) & 0xff] == n) continue;
    uint32_t start = 0;
    for (uint32_t& c : bucket) {
      const uint32_t size = c;
      c = start;
      start += size;
    }
    for (size_t i = 0; i < n; ++i) {
      const Record r = from[i];
      to[bucket[(Key(r) >> (8 * b)) & 0xff]++] = r;
    }
    std::swap(from, to);
  }
  if (from != records.data()) std::memcpy(records.data(), from, n * sizeof(Record));
}

}  // namespace

void OrderRecords(std::span<Record> records, std::vector<Record>& scratch) {
  if (records.size() < 2) return;
  if (records.size() <= kRankLimit) {
    RankSort(records.data(), records.size());
  } else if (records.size() < kRadixThreshold) {
    std::sort(records.begin(), records.end(),
              [](const Record& x, const Record& y) { return Key(x) < Key(y); });
  } else {
    RadixSort(records, scratch);
  }
}

}  // namespace maxmedian
