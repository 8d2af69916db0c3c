// The converter's loop: the case reader's records, formatted straight into the output buffer a
// batch at a time. Nothing of a case is kept beyond the batch in hand, so memory stays constant.
// Formatting is as much of the work as reading, so records are formatted four numbers at a time
// where the CPU allows.
#include "convert.h"

#include <bit>
#include <cstring>

#include "case_reader.h"
#include "decimal.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace maxmedian {
namespace {

char* FormatRecordsPortable(const Record* records, size_t count, char* out) {
  for (size_t i = 0; i < count; ++i) {
    *out++ = ' ';
    out = FormatDecimalWide(records[i].first, out);
    *out++ = ' ';
    out = FormatDecimalWide(records[i].second, out);
  }
  return out;
}

#if defined(__x86_64__)
// The digit values of two numbers below 10,000 each, spread as four 16-bit lanes of four times
// each, in the low eight lanes of each half: lanes divided by 1000, 100, 10 and 1 with a
// multiply-high each (4x * 8389 >> 16 >> 7 = x / 1000, and so on), less ten times the lane before.
__attribute__((target("avx2"))) inline __m256i DigitLanes(__m256i spread) {
  const __m256i divisors = _mm256_setr_epi16(8389, 5243, 13108, -32768, 8389, 5243, 13108, -32768,
                                             8389, 5243, 13108, -32768, 8389, 5243, 13108, -32768);
  const __m256i shifts = _mm256_setr_epi16(128, 2048, 8192, -32768, 128, 2048, 8192, -32768, 128,
                                           2048, 8192, -32768, 128, 2048, 8192, -32768);
  const __m256i lanes = _mm256_unpacklo_epi32(spread, spread);
  const __m256i prefixes = _mm256_mulhi_epu16(_mm256_mulhi_epu16(lanes, divisors), shifts);
  return _mm256_sub_epi16(
      prefixes, _mm256_slli_epi64(_mm256_mullo_epi16(prefixes, _mm256_set1_epi16(10)), 16));
}

// Two records a step: the four magnitudes' eight digits each in one vector, their leading zeros
// from one compare; only the copying out is done number by number.
__attribute__((target("avx2,bmi"))) char* FormatRecordsAvx2(const Record* records, size_t count,
                                                            char* out) {
  const __m128i limit = _mm_set1_epi32(99999999);
  size_t i = 0;
  for (; i + 2 <= count; i += 2) {
    const __m128i numbers = _mm_loadu_si128(reinterpret_cast<const __m128i*>(records + i));
    // The most negative number's magnitude stays negative, so above the limit as unsigned.
    const __m128i magnitudes = _mm_abs_epi32(numbers);
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_min_epu32(magnitudes, limit), magnitudes)) !=
        0xffff) {
      out = FormatRecordsPortable(records + i, 2, out);
      continue;
    }
    // Each magnitude in a 64-bit lane, split into its quotient and remainder by 10,000.
    const __m256i wide = _mm256_cvtepu32_epi64(magnitudes);
    const __m256i high =
        _mm256_srli_epi64(_mm256_mul_epu32(wide, _mm256_set1_epi32(-776530087)), 45);
    const __m256i low = _mm256_sub_epi32(wide, _mm256_mul_epu32(high, _mm256_set1_epi32(10000)));
    const __m256i quads = _mm256_slli_epi16(_mm256_or_si256(high, _mm256_slli_epi32(low, 16)), 2);
    // Values in the first vector, costs in the second; packing puts them back in record order.
    const __m256i digits = _mm256_packus_epi16(DigitLanes(_mm256_unpacklo_epi16(quads, quads)),
                                               DigitLanes(_mm256_unpackhi_epi16(quads, quads)));
    // Which of each number's first seven digits are zeros: the eighth is kept even if 0.
    const auto zeros = static_cast<uint32_t>(_mm256_movemask_epi8(
                           _mm256_cmpeq_epi8(digits, _mm256_setzero_si256()))) &
                       0x7f7f7f7fu;
    const auto negative = static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(numbers)));
    alignas(32) uint64_t text[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(text),
                       _mm256_or_si256(digits, _mm256_set1_epi8('0')));
    for (unsigned k = 0; k < 4; ++k) {
      const auto leading = static_cast<unsigned>(std::countr_one(zeros >> (8 * k)));
      out[0] = ' ';
      out[1] = '-';
      out += 1 + ((negative >> k) & 1);
      const uint64_t word = text[k] >> (8 * leading);  // x86 is little-endian: first digit lowest
      std::memcpy(out, &word, sizeof word);
      out += 8 - leading;
    }
  }
  return FormatRecordsPortable(records + i, count - i, out);
}
#endif

// Large enough that a write costs little per byte, small enough to stay out of huge pages.
constexpr size_t kOutputBuffer = size_t{1} << 18;
static_assert(kOutputBuffer < table_memory::kHugeThreshold, "see kHugeThreshold");
// The most bytes a record takes: two numbers, each after a space.
constexpr size_t kMaxRecordBytes = 2 * (1 + BufferedWriter::kMaxNumber);

}  // namespace

char* FormatRecords(CpuLevel level, const Record* records, size_t count, char* out) {
#if defined(__x86_64__)
  if (level >= CpuLevel::kAvx2) return FormatRecordsAvx2(records, count, out);
#else
  (void)level;
#endif
  return FormatRecordsPortable(records, count, out);
}

RunResult ConvertCases(ByteSource& input, ByteSink& output) {
  BufferedWriter writer(output, kOutputBuffer);
  // Only whole cases go out before a read that may wait: what follows the mark may yet be taken
  // back by a fault.
  CaseReader reader(input, [&writer] { return writer.FlushMarked(); });
  if (!writer.ok() || !reader.ok()) return {kExitOutOfMemory, "out of memory"};
  Record batch[CaseReader::kBatchRecords];
  const CpuLevel level = ActiveCpuLevel();
  for (;;) {
    CaseHeader header;
    const CaseReader::HeaderRead header_read = reader.ReadHeader(header);
    if (header_read == CaseReader::HeaderRead::kInputEnded)
      return FinishOutput(writer, {kExitOk, ""});
    if (header_read == CaseReader::HeaderRead::kFailed) {
      return FinishOutput(writer, reader.failure());
    }
    char* out = writer.Room(3 * (1 + BufferedWriter::kMaxNumber) + BufferedWriter::kNumberSlack);
    if (out == nullptr) return FinishOutput(writer, {kExitOk, ""});
    out = FormatDecimalWide(header.N, out);
    *out++ = ' ';
    out = FormatDecimalWide(header.C, out);
    *out++ = ' ';
    out = FormatDecimalWide(header.F, out);
    writer.Commit(out);
    while (reader.records_left() > 0) {
      const size_t got = reader.ReadRecords(batch, CaseReader::kBatchRecords);
      out = writer.Room(got * kMaxRecordBytes + BufferedWriter::kNumberSlack);
      if (out == nullptr) return FinishOutput(writer, {kExitOk, ""});
      out = FormatRecords(level, batch, got, out);
      writer.Commit(out);
      if (reader.failed()) {
        writer.DropUnmarked();
        return FinishOutput(writer, reader.failure());
      }
    }
    out = writer.Room(1);
    if (out == nullptr) return FinishOutput(writer, {kExitOk, ""});
    *out++ = '\n';
    writer.Commit(out);
    writer.Mark();
  }
}

}  // namespace maxmedian
