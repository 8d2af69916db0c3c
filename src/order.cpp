// Ordering a case's records by value, then cost. Which way depends on the case:
//   - up to a few dozen records: every record ranked against every other, a vector at a time;
//   - input already in order, reversed or nearly so: the records out of place are sorted alone
//     and merged back;
//   - otherwise: a radix sort on keys packed to the case's spread, whose first pass spreads the
//     records into buckets small enough to rank (or, past the caches, to sort in cache).
#include "order.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "cpu.h"
#include "lanes.h"

namespace maxmedian {
namespace {

// Up to this many records, ranking every record against every other beats the fixed cost of the
// radix sort's passes: with four lanes a comparison, and with eight (AVX2, below).
constexpr size_t kRankLimit = 63;
// From this many records on, the radix sort may take this many bits a pass rather than 8.
constexpr size_t kWideDigitMin = 16384;
constexpr int kWideDigitBits = 11;
// A case too large to rank whole is first spread into buckets by at most this many of its keys'
// top bits.
constexpr int kMaxSpreadBits = 14;
// From this many records on, a case is first spread into buckets of about kCacheBucket records.
constexpr size_t kCacheSpreadMin = size_t{1} << 20;
constexpr size_t kCacheBucket = 2048;

// Records as one signed number that orders as they do: the value above the cost.
inline int64_t Key(const Record& r) {
  return static_cast<int64_t>(static_cast<uint64_t>(static_cast<int64_t>(r.first)) << 32) +
         (static_cast<uint32_t>(r.second) ^ 0x80000000u);
}

inline Record FromKey(int64_t key) {
  return {static_cast<int32_t>(key >> 32),
          static_cast<int32_t>(static_cast<uint32_t>(key) ^ 0x80000000u)};
}

// Each record goes straight to its place in the order: the number of records that sort below
// it. That is n * n comparisons, but a vector of them at a time and without a branch that
// depends on the data, which for a few dozen records beats any sort whose comparisons
// mispredict. Records identical in both fields have the same count and take the places after it
// in turn.
void RankSortPortable(Record* records, size_t n) {
  // Values and costs in arrays of their own, padded to whole vectors with the largest record,
  // which is below none.
  alignas(32) int32_t first[kRankLimit + kLanes];
  alignas(32) int32_t second[kRankLimit + kLanes];
  Record copy[kRankLimit];
  uint8_t taken[kRankLimit] = {};
  const size_t padded = (n + kLanes - 1) / kLanes * kLanes;
  for (size_t i = 0; i < padded; ++i) {
    first[i] = i < n ? records[i].first : std::numeric_limits<int32_t>::max();
    second[i] = i < n ? records[i].second : std::numeric_limits<int32_t>::max();
  }
  std::copy_n(records, n, copy);
  for (size_t i = 0; i < n; ++i) {
    const Lanes f = Lanes{} + copy[i].first;
    const Lanes s = Lanes{} + copy[i].second;
    Lanes below = {};
    for (size_t j = 0; j < padded; j += kLanes) {
      Lanes fj, sj;
      std::memcpy(&fj, first + j, sizeof fj);
      std::memcpy(&sj, second + j, sizeof sj);
      below -= (fj < f) | ((fj == f) & (sj < s));  // a true comparison is -1 in every bit
    }
    size_t rank = 0;
    for (size_t lane = 0; lane < kLanes; ++lane) rank += static_cast<size_t>(below[lane]);
    records[rank + taken[rank]++] = copy[i];
  }
}

// A ranking routine with the most records its arrays hold: the two travel together, so that no
// caller can pick one routine and the other's limit.
struct Ranker {
  void (*sort)(Record* records, size_t n);
  size_t limit;
};
constexpr Ranker kPortableRanker = {RankSortPortable, kRankLimit};

#if defined(__x86_64__) || defined(__i386__)
constexpr size_t kWideRankLimit = 95;

// With AVX2, ranking as above, with the counts of two vectors of records kept at once while
// every record in turn is compared with them: one broadcast, two comparisons and two
// subtractions a record, and no count to add up across lanes. `Keys` is the vector of keys and
// `key_of` gives a record's key. Records of equal key take the places after their count in input
// order; returns whether any did.
template <class Keys, class KeyOf>
[[gnu::always_inline]] inline bool RankByAvx2(Record* records, size_t n, KeyOf key_of) {
  using Lane = std::remove_cvref_t<decltype(Keys{}[0])>;
  constexpr size_t kWidth = sizeof(Keys) / sizeof(Lane);
  alignas(32) Lane key[kWideRankLimit + 2 * kWidth];
  alignas(32) Lane rank[kWideRankLimit + 2 * kWidth];
  Record copy[kWideRankLimit];
  uint8_t taken[kWideRankLimit] = {};
  for (size_t i = 0; i < n; ++i) key[i] = key_of(records[i]);
  for (size_t i = n; i < n + 2 * kWidth; ++i) key[i] = 0;  // counts never read
  std::copy_n(records, n, copy);
  for (size_t i = 0; i < n; i += 2 * kWidth) {
    Keys low, high;
    std::memcpy(&low, key + i, sizeof low);
    std::memcpy(&high, key + i + kWidth, sizeof high);
    Keys below_low = {}, below_high = {};
    for (size_t j = 0; j < n; ++j) {
      const Keys other = Keys{} + key[j];
      below_low -= other < low;  // true is -1
      below_high -= other < high;
    }
    std::memcpy(rank + i, &below_low, sizeof below_low);
    std::memcpy(rank + i + kWidth, &below_high, sizeof below_high);
  }
  uint8_t tied = 0;
  for (size_t i = 0; i < n; ++i) {
    const auto place = static_cast<size_t>(rank[i]);
    tied |= taken[place];
    records[place + taken[place]++] = copy[i];
  }
  return tied != 0;
}

using Keys64 = int64_t __attribute__((vector_size(32)));
using Values32 = int32_t __attribute__((vector_size(32)));

// By whole records: a record's two fields as one signed 64-bit key, four a vector.
__attribute__((target("avx2"))) void RankByKeyAvx2(Record* records, size_t n) {
  RankByAvx2<Keys64>(records, n, [](const Record& r) { return Key(r); });
}

// By values alone: eight 32-bit lanes a vector, twice as many, and comparisons that cost less.
// Returns whether values tied, so that the caller can put records of equal value in cost order.
__attribute__((target("avx2"))) bool RankByValueAvx2(Record* records, size_t n) {
  return RankByAvx2<Values32>(records, n, [](const Record& r) { return r.first; });
}

// The cases of one input tend to be alike, and where values tie in many of them, ranking by
// value first is wasted work: once kTiesToSwitch of kTieWindow cases ranked by value had ties,
// the next kRankByKeyAfterTies cases are ranked by whole keys at once, before ranking by value is
// tried again. A few ties, as among the buckets of a large case with values spread widely, are
// cheaper to put in order afterwards. A hint only: the order comes out the same either way.
constexpr int kRankByKeyAfterTies = 256;
constexpr int kTieWindow = 32;
constexpr int kTiesToSwitch = 4;
int g_rank_by_key = 0;                              // how many more cases to rank by whole keys
int g_window_left = kTieWindow, g_window_ties = 0;  // of the window of cases ranked by value

__attribute__((target("avx2"))) void RankSortAvx2(Record* records, size_t n) {
  if (g_rank_by_key > 0) {
    --g_rank_by_key;
    RankByKeyAvx2(records, n);
    return;
  }
  const bool tied = RankByValueAvx2(records, n);
  if (--g_window_left == 0) g_window_left = kTieWindow, g_window_ties = 0;
  if (!tied) return;
  if (++g_window_ties == kTiesToSwitch) {
    g_rank_by_key = kRankByKeyAfterTies;
    g_window_left = kTieWindow, g_window_ties = 0;
  }
  // Runs of equal values into cost order, by insertion: rare and short where values seldom tie.
  for (size_t i = 1; i < n; ++i) {
    const Record r = records[i];
    size_t j = i;
    for (; j > 0 && records[j - 1].first == r.first && records[j - 1].second > r.second; --j) {
      records[j] = records[j - 1];
    }
    records[j] = r;
  }
}
constexpr Ranker kAvx2Ranker = {RankSortAvx2, kWideRankLimit};
#else
constexpr Ranker kAvx2Ranker = kPortableRanker;
#endif

inline uint64_t LoadKey(const std::byte* words, size_t i) {
  uint64_t key;
  std::memcpy(&key, words + 8 * i, 8);
  return key;
}

inline void StoreKey(std::byte* words, size_t i, uint64_t key) {
  std::memcpy(words + 8 * i, &key, 8);
}

// Records as keys of as few bits as their spread needs: each field as its distance from the
// field's least value, in unsigned order, and the value's distance above the cost's. Keys then
// order as the records do, and a case whose values or costs span a narrow range, even one that
// crosses zero, has short keys whose high bits are all zero.
class KeyPacking {
 public:
  explicit KeyPacking(std::span<const Record> records) {
    uint32_t value_max = 0, cost_max = 0;
    for (const Record& r : records) {
      const uint32_t value = Unsigned(r.first), cost = Unsigned(r.second);
      value_min_ = std::min(value_min_, value);
      value_max = std::max(value_max, value);
      cost_min_ = std::min(cost_min_, cost);
      cost_max = std::max(cost_max, cost);
    }
    cost_bits_ = std::bit_width(cost_max - cost_min_);
    bits_ = std::bit_width(value_max - value_min_) + cost_bits_;
  }
  uint64_t Key(const Record& r) const {
    return (uint64_t{Unsigned(r.first) - value_min_} << cost_bits_) |
           (Unsigned(r.second) - cost_min_);
  }
  Record FromKey(uint64_t key) const {
    const uint64_t cost_mask = (uint64_t{1} << cost_bits_) - 1;
    return {Signed(static_cast<uint32_t>(key >> cost_bits_) + value_min_),
            Signed(static_cast<uint32_t>(key & cost_mask) + cost_min_)};
  }
  // How many low bits of a key can differ between records: the rest are zero in every key.
  int bits() const { return bits_; }

 private:
  // Flipping the sign bit turns signed order into unsigned order.
  static uint32_t Unsigned(int32_t x) { return static_cast<uint32_t>(x) ^ 0x80000000u; }
  static int32_t Signed(uint32_t x) { return static_cast<int32_t>(x ^ 0x80000000u); }

  uint32_t value_min_ = UINT32_MAX, cost_min_ = UINT32_MAX;
  int cost_bits_ = 0;
  int bits_ = 0;
};

// How many digits of `digit_bits` a key of `bits` bits has.
constexpr int Digits(int bits, int digit_bits) { return (bits + digit_bits - 1) / digit_bits; }

// Where the records to sort are: in their own storage, or, moved there by an earlier pass, at
// the same places in the scratch table, which the sort then writes over.
enum class Input { kInPlace, kInScratch };

// The records to sort, wherever `input` says they are.
std::span<const Record> InputRecords(std::span<Record> records, std::byte* scratch, Input input) {
  if (input == Input::kInPlace) return records;
  return {reinterpret_cast<const Record*>(scratch), records.size()};
}

// Least significant digit first, kDigitBits at a time, on packed keys. The keys move between
// the scratch table and the records' own storage, both seen as 8-byte words, and whatever pass
// lands in the records' storage last writes records again. A digit that is the same in every
// key orders nothing, so its pass is skipped.
template <int kDigitBits>
void RadixSortBy(std::span<Record> records, std::byte* scratch, const KeyPacking& packing,
                 Input input) {
  static_assert(sizeof(Record) == 8 && sizeof(int64_t) == 8);
  constexpr uint64_t kMask = (uint64_t{1} << kDigitBits) - 1;
  constexpr int kMaxDigits = Digits(64, kDigitBits);
  const size_t n = records.size();
  std::byte* const words[2] = {scratch, reinterpret_cast<std::byte*>(records.data())};
  const int digits = Digits(packing.bits(), kDigitBits);
  std::array<std::array<uint32_t, kMask + 1>, kMaxDigits> count;
  for (int d = 0; d < digits; ++d) count[d].fill(0);
  // Each key replaces its record where the records stand in the scratch table.
  const std::span<const Record> from_records = InputRecords(records, scratch, input);
  for (size_t i = 0; i < n; ++i) {
    const uint64_t key = packing.Key(from_records[i]);
    StoreKey(words[0], i, key);
    for (int d = 0; d < digits; ++d) ++count[d][(key >> (kDigitBits * d)) & kMask];
  }
  int passes = 0;
  const uint64_t any_key = LoadKey(words[0], 0);
  for (int d = 0; d < digits; ++d) {
    std::array<uint32_t, kMask + 1>& bucket = count[d];
    const int shift = kDigitBits * d;
    if (bucket[(any_key >> shift) & kMask] == n) continue;
    uint32_t start = 0;
    for (uint32_t& c : bucket) {
      const uint32_t size = c;
      c = start;
      start += size;
    }
    const std::byte* from = words[passes % 2];
    std::byte* to = words[(passes + 1) % 2];
    for (size_t i = 0; i < n; ++i) {
      const uint64_t key = LoadKey(from, i);
      StoreKey(to, bucket[(key >> shift) & kMask]++, key);
    }
    ++passes;
  }
  // The sorted keys are in one of the two buffers; turn them back into records.
  if (passes == 0 && input == Input::kInPlace) return;  // every key the same: in order already
  const std::byte* sorted = words[passes % 2];
  for (size_t i = 0; i < n; ++i) records[i] = packing.FromKey(LoadKey(sorted, i));
}

// Bytes as digits, or wider digits where that saves a pass over enough records to repay the
// larger tables of counts.
void DigitSort(std::span<Record> records, std::byte* scratch, const KeyPacking& packing,
               Input input = Input::kInPlace) {
  const int bits = packing.bits();
  if (records.size() >= kWideDigitMin && Digits(bits, kWideDigitBits) < Digits(bits, 8)) {
    RadixSortBy<kWideDigitBits>(records, scratch, packing, input);
  } else {
    RadixSortBy<8>(records, scratch, packing, input);
  }
}

void RadixSort(std::span<Record> records, std::byte* scratch, const Ranker& ranker, int depth = 0,
               Input input = Input::kInPlace);

// One pass on the keys' top bits spreads the records into buckets of a sixth to a third of what
// the ranking holds on average (15 to 30 records with AVX2), since ranking costs the square of
// a bucket's size. The ranking then orders them while they sit in the first level of cache: one
// pass over the whole case instead of one per digit. A bucket too large to rank is sorted by
// digits. Returns false, having moved nothing, when too many records would land in such buckets,
// as when the values cluster, for the digits then do better on the whole case.
//
// A case too large for the caches (depth 0) is instead spread into buckets of a few thousand
// records, each then sorted as a case of its own (depth 1), so that every pass but the first
// works in cache rather than on the whole case. That spread always goes ahead: where values
// cluster, a bucket may hold far more, but its keys, packed anew to its own spread, are shorter
// by the bits the spread took, which saves a pass over it (`clustered`: the whole run 0.78 of
// the time it took by digits over the whole case).
bool SpreadAndRank(std::span<Record> records, std::byte* scratch, const KeyPacking& packing,
                   const Ranker& ranker, int depth, Input input) {
  const size_t n = records.size();
  const bool to_cache = depth == 0 && n >= kCacheSpreadMin;
  const size_t bucket_target = to_cache ? kCacheBucket : ranker.limit / 6;
  const int top = std::min(
      {packing.bits(), kMaxSpreadBits, static_cast<int>(std::bit_width(n / bucket_target)) - 1});
  if (top < 1) return false;
  const int shift = packing.bits() - top;
  const size_t buckets = size_t{1} << top;
  uint32_t end[size_t{1} << kMaxSpreadBits];  // first the sizes of the buckets, then their ends
  std::fill_n(end, buckets, 0);
  const std::span<const Record> from_records = InputRecords(records, scratch, input);
  for (const Record& r : from_records) ++end[packing.Key(r) >> shift];
  size_t oversized = 0;
  for (size_t b = 0; b < buckets; ++b) oversized += end[b] > ranker.limit ? end[b] : 0;
  if (!to_cache && oversized > n / 4) return false;
  for (uint32_t b = 0, start = 0; b < buckets; ++b) {
    const uint32_t size = end[b];
    end[b] = start;
    start += size;
  }
  // Records in their own storage are spread into the scratch table, and each bucket is sorted
  // from there back into its place; records in the scratch table are spread straight into their
  // places, which saves a pass over the case.
  const Input spread_to = input == Input::kInPlace ? Input::kInScratch : Input::kInPlace;
  Record* const spread =
      spread_to == Input::kInScratch ? reinterpret_cast<Record*>(scratch) : records.data();
  for (const Record& r : from_records) spread[end[packing.Key(r) >> shift]++] = r;
  for (size_t b = 0, from = 0; b < buckets; from = end[b++]) {
    const size_t size = end[b] - from;
    const std::span<Record> bucket = records.subspan(from, size);
    std::byte* const bucket_scratch = scratch + 8 * from;
    if (size <= ranker.limit) {
      if (spread_to == Input::kInScratch) std::copy_n(spread + from, size, bucket.data());
      if (size > 1) ranker.sort(bucket.data(), size);
    } else if (to_cache) {
      RadixSort(bucket, bucket_scratch, ranker, depth + 1, spread_to);
    } else {
      DigitSort(bucket, bucket_scratch, KeyPacking(InputRecords(bucket, bucket_scratch, spread_to)),
                spread_to);
    }
  }
  return true;
}

void RadixSort(std::span<Record> records, std::byte* scratch, const Ranker& ranker, int depth,
               Input input) {
  const KeyPacking packing(InputRecords(records, scratch, input));
  // Keys short enough for two passes of digits are sorted fastest by digits.
  const bool long_keys = Digits(packing.bits(), kWideDigitBits) > 2;
  if (!long_keys || !SpreadAndRank(records, scratch, packing, ranker, depth, input)) {
    DigitSort(records, scratch, packing, input);
  }
}

// Sorts any number of records: the ranking where it holds them, else the radix sort, which needs
// as many words of scratch as there are records.
void SortAny(std::span<Record> records, std::byte* scratch, const Ranker& ranker) {
  if (records.size() <= ranker.limit) {
    if (records.size() > 1) ranker.sort(records.data(), records.size());
  } else {
    RadixSort(records, scratch, ranker);
  }
}

// Sorts the eight records at `records` with a network of 19 exchanges, each the minimum and
// maximum of two keys, which compile to conditional moves rather than branches.
inline void SortEight(Record* records) {
  int64_t k0 = Key(records[0]), k1 = Key(records[1]), k2 = Key(records[2]), k3 = Key(records[3]),
          k4 = Key(records[4]), k5 = Key(records[5]), k6 = Key(records[6]), k7 = Key(records[7]);
  auto exchange = [](int64_t& low, int64_t& high) {  // as masks: min and max become branches
    const uint64_t swap = (static_cast<uint64_t>(low) ^ static_cast<uint64_t>(high)) &
                          (0 - static_cast<uint64_t>(high < low));
    low = static_cast<int64_t>(static_cast<uint64_t>(low) ^ swap);
    high = static_cast<int64_t>(static_cast<uint64_t>(high) ^ swap);
  };
  exchange(k0, k2), exchange(k1, k3), exchange(k4, k6), exchange(k5, k7);
  exchange(k0, k4), exchange(k1, k5), exchange(k2, k6), exchange(k3, k7);
  exchange(k0, k1), exchange(k2, k3), exchange(k4, k5), exchange(k6, k7);
  exchange(k2, k4), exchange(k3, k5);
  exchange(k1, k4), exchange(k3, k6);
  exchange(k1, k2), exchange(k3, k4), exchange(k5, k6);
  records[0] = FromKey(k0), records[1] = FromKey(k1), records[2] = FromKey(k2);
  records[3] = FromKey(k3), records[4] = FromKey(k4), records[5] = FromKey(k5);
  records[6] = FromKey(k6), records[7] = FromKey(k7);
}

// Records in value order may still have the costs of equal values out of order. Where equal
// values are common, most runs of them are short, and a loop over them mispredicts at nearly
// every record, so the records are first sorted eight at a time without branches, once at
// offset 0 and once at offset 4: that orders every run of up to four records, and most longer
// ones. An insertion then orders what is left, and a run found to be long is sorted whole. Where
// equal values are rare, or their runs long, the insertion does it all (`insertion_alone`).
void OrderTies(std::span<Record> records, std::byte* scratch, const Ranker& ranker,
               bool insertion_alone) {
  const size_t n = records.size();
  if (!insertion_alone) {
    for (size_t offset : {0, 4}) {
      for (size_t i = offset; i + 8 <= n; i += 8) SortEight(records.data() + i);
    }
  }
  constexpr size_t kInsertionLimit = 16;
  for (size_t i = 1; i < n; ++i) {
    const Record r = records[i];
    const int64_t key = Key(r);
    if (Key(records[i - 1]) <= key) continue;
    size_t k = i;
    for (; k > 0 && i - k < kInsertionLimit && Key(records[k - 1]) > key; --k) {
      records[k] = records[k - 1];
    }
    records[k] = r;
    if (k > 0 && Key(records[k - 1]) > key) {  // a long run: sort the whole of it
      size_t first = k, end = i + 1;
      while (first > 0 && records[first - 1].first == r.first) --first;
      while (end < n && records[end].first == r.first) ++end;
      SortAny(records.subspan(first, end - first), scratch, ranker);
      i = end - 1;
    }
  }
}

// Input often arrives in value order already (exported sorted, or the output of sort), or in
// reverse, or nearly in order; such records are put in order without a full sort. The records
// that break the value order are taken out, sorted on their own and merged back. Returns false,
// with the records as they were or merely permuted, when there are too many of them for that to
// pay.
bool OrderPresorted(std::span<Record> records, std::byte* scratch, const Ranker& ranker) {
  const size_t n = records.size();
  const size_t limit = n / 32;  // the most breaks in the order the path below takes on
  size_t falls = 0, rises = 0, out_of_order = 0;
  for (size_t i = 1; i < n; ++i) {
    falls += records[i].first < records[i - 1].first;
    rises += records[i].first > records[i - 1].first;
    out_of_order += Key(records[i]) < Key(records[i - 1]);
    if ((i & 127) == 0 && falls > limit && rises > limit) return false;
  }
  if (out_of_order == 0) return true;
  if (falls > limit && rises > limit) return false;
  // Neighbours whose values differ, and those whose values are equal.
  const size_t changes = falls + rises, equal_neighbours = n - 1 - changes;
  if (falls > limit) {
    std::reverse(records.begin(), records.end());
    falls = rises;
  }
  if (falls > 0) {
    // Each record below the last one kept leaves with that one, so that what is kept stays in
    // value order, whichever of the two was out of place.
    Record* const taken = reinterpret_cast<Record*>(scratch);
    const size_t most_taken = n / 8;
    size_t kept = 0, count = 0;
    for (size_t i = 0; i < n; ++i) {
      if (kept > 0 && records[i].first < records[kept - 1].first) {
        if (count + 2 > most_taken) {  // give up: the taken records fill the gap they left
          taken[count++] = records[i];
          std::copy_n(taken, count, records.data() + kept);
          return false;
        }
        taken[count++] = records[--kept];
        taken[count++] = records[i];
      } else {
        records[kept++] = records[i];
      }
    }
    // The scratch beyond the taken records is room enough to sort them.
    SortAny(std::span<Record>(taken, count), scratch + 8 * count, ranker);
    // Merged from the back, so that every record is read before its place is written.
    size_t from_kept = kept, from_taken = count, to = n;
    while (from_taken > 0) {
      const bool take =
          from_kept == 0 || taken[from_taken - 1].first >= records[from_kept - 1].first;
      records[--to] = take ? taken[--from_taken] : records[--from_kept];
    }
  }
  // Equal values that were not neighbours are among the few records taken out and merged back.
  // Where values change at fewer than one neighbour in 16, runs of equal values are long, and
  // the insertion sorts each whole at once.
  OrderTies(records, scratch, ranker, equal_neighbours < n / 64 || changes < n / 16);
  return true;
}

}  // namespace

void OrderRecords(std::span<Record> records, Table<int64_t>& scratch) {
  if (records.size() < 2) return;
  const Ranker& ranker = ActiveCpuLevel() >= CpuLevel::kAvx2 ? kAvx2Ranker : kPortableRanker;
  if (records.size() <= ranker.limit) {
    ranker.sort(records.data(), records.size());
  } else {
    auto* const words = reinterpret_cast<std::byte*>(scratch.data());
    if (!OrderPresorted(records, words, ranker)) RadixSort(records, words, ranker);
  }
}

}  // namespace maxmedian
