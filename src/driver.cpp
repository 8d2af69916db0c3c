// The case loop of maxmedian: read a case's records into the table (growing it with what arrives,
// not with what the header claims), order them, run the engine, write the answer; a large case
// whose budget no choice can meet is answered before it is ordered, and records that cannot
// change its answer (too costly for any choice, or below the values a middle surely reaches) are
// dropped before it is. Reading and every message about malformed input are the case reader's;
// this loop adds only the memory a case needs and the message when it cannot have it.
#include "driver.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>

#include "case_reader.h"
#include "order.h"
#include "selection/selection.h"

namespace maxmedian {
namespace {

// From this many records on, the span of a case's costs is taken while its records are read, and
// its costs are checked against its budget before it is ordered.
constexpr int32_t kBoundMinRecords = 8192;

// The answer when a choice is one record (h = 0): the largest value of a record within the
// budget, or -1 when there is none or it is below -1. One pass, without ordering or sweeps.
int32_t BestSingleRecord(const CaseHeader& header, const Record* records) {
  int32_t best = -1;
  for (int32_t i = 0; i < header.C; ++i) {
    best = std::max(best, records[i].second <= header.F ? records[i].first : -1);
  }
  return best;
}

// Answers one case whose records stand at a[1..C]; no answer when the tables cannot grow to the
// case's size.
std::optional<int32_t> AnswerCase(const CaseHeader& header, const CostSpan& costs, Tables& tables) {
  const int64_t h = HalfSize(header.N);
  // Too few records (or a negative h) leaves no choice to make: skip the work, not the answer.
  if (h < 0 || 2 * h + 1 > header.C) return -1;
  if (h == 0) return BestSingleRecord(header, tables.a.data() + 1);
  // A large case whose budget no choice can meet is answered without ordering it: one pass over
  // its costs, where ordering and sweeping take dozens. Small cases would pay more for the check
  // than it saves.
  if (costs.span > 0 && BudgetRulesOutEveryChoice(header, tables.a.data() + 1, costs)) return -1;
  // Records too costly for any choice within the budget, as where h is small and the budget near
  // the cheapest choice's, are dropped before ordering: every choice that fits keeps its records,
  // so the answer stays.
  CaseHeader kept = header;
  CostSpan kept_costs = costs;
  if (costs.span > 0) {
    kept.C = KeepRecordsAChoiceCanHold(header, tables.a.data() + 1, kept_costs, tables.Q);
    if (2 * h + 1 > kept.C) return -1;
    // Where a middle of a top value surely fits, as where h is small and the budget generous,
    // only the records that middles of such values can take need ordering.
    kept.C = KeepRecordsOfTheTopValues(kept, tables.a.data() + 1, kept_costs);
  }
  // Nothing needs d before the backward sweep writes it, so ordering borrows it as scratch.
  const auto C = static_cast<size_t>(kept.C);
  if (tables.d.size() <= C && !tables.d.Resize(C + 1, Pages::kNow)) return std::nullopt;
  OrderRecords(std::span<Record>(tables.a.data() + 1, C), tables.d);
  // A large case whose budget the last possible middle meets, as where costs are of both signs
  // and the budget generous, has that middle's value for its answer, without sweeps.
  if (costs.span > 0 && TopMiddleFits(kept, tables.a.data() + 1, kept_costs)) {
    return std::max(-1, tables.a[C - static_cast<size_t>(h)].first);
  }
  if (!PrepareTables(kept, tables, kept_costs)) return std::nullopt;
  return SelectMiddle(kept, tables);
}

// One run over one input: the reader, the writer and what the cases share.
class Run {
 public:
  Run(ByteSource& input, ByteSink& output)
      : writer_(output),
        // Answers go out before a read that may wait for more input, so that whoever feeds it
        // a case at a time has each answer before sending the next.
        reader_(input, [this] { return writer_.Flush(); }) {}

  RunResult Go() {
    if (!writer_.ok() || !reader_.ok()) return {kExitOutOfMemory, "out of memory"};
    for (;;) {
      CaseHeader header;
      const CaseReader::HeaderRead header_read = reader_.ReadHeader(header);
      if (header_read == CaseReader::HeaderRead::kInputEnded) return Finish({kExitOk, ""});
      if (header_read == CaseReader::HeaderRead::kFailed) return Finish(reader_.failure());
      if (!ReadRecords(header)) return Finish(failure_);
      const std::optional<int32_t> answer = AnswerCase(header, costs_, tables_);
      if (!answer) return Finish(OutOfMemory());
      // Once output fails, nothing more can reach it: stop rather than read the rest.
      if (!writer_.Append(*answer)) return Finish({kExitOk, ""});
    }
  }

 private:
  // The most records reserved from a header's count before they arrive: just under 288 KiB,
  // so that the reservation stays in small pages, which cost no memory until records arrive (a
  // huge page would be faulted in whole by the first record). A case that claims more starts
  // with a quarter of that, which is less to copy when the table grows, with the records that
  // actually arrive, into a large block (which then grows without copies).
  static constexpr int64_t kReserveLimit = table_memory::kHugeThreshold / sizeof(Record) - 1;
  // How far ahead of the records that arrive the record table's small pages are put in place: a
  // few dozen pages at once cost less than faulting each in as it is written.
  static constexpr size_t kPrefaultRecords = 8192;
  static constexpr int kGrowthFactor = 8;  // how much a full record table grows toward the claim

  RunResult OutOfMemory() const {
    RunResult result{kExitOutOfMemory, "case "};
    result.message << reader_.case_number() << ": out of memory";
    return result;
  }

  // The capacity for a record table that is full at record `arrived` of `claimed`. Past the first
  // reservation, records keep arriving as claimed: growing toward the claim in larger steps than
  // doubling moves the table fewer times (and copies it fewer times, where its pages cannot
  // move); it still never goes beyond eight times what arrived.
  static size_t TowardClaim(int32_t claimed, int64_t arrived) {
    return static_cast<size_t>(std::min<int64_t>(int64_t{claimed} + 1, kGrowthFactor * arrived));
  }

  // Reads the C records of a case into a[1..C], and for a large case the span of their costs
  // into costs_, while each batch is still in cache. The table grows with the records that arrive;
  // room for up to kReserveLimit of them is reserved from the header's count, which saves the
  // copies of growing step by step.
  bool ReadRecords(const CaseHeader& header) {
    Table<Record>& a = tables_.a;
    a.clear();
    const int64_t claimed = int64_t{header.C} + 1;
    if (!a.Reserve(static_cast<size_t>(claimed <= kReserveLimit ? claimed : kReserveLimit / 4)) ||
        !a.Append(Record{0, 0})) {
      failure_ = OutOfMemory();
      return false;
    }
    // The records go straight into the table's free room, a batch at a time.
    int32_t least = std::numeric_limits<int32_t>::max(), most = std::numeric_limits<int32_t>::min();
    const bool large = header.C >= kBoundMinRecords;  // only large cases use the span
    while (reader_.records_left() > 0) {
      if (!a.MakeRoom(TowardClaim(header.C, static_cast<int64_t>(a.size())))) {
        failure_ = OutOfMemory();
        return false;
      }
      const size_t room = std::min(a.capacity() - a.size(), CaseReader::kBatchRecords);
      a.Prefault(a.size() + room, kPrefaultRecords);
      const size_t got = reader_.ReadRecords(a.data() + a.size(), room);
      for (size_t i = a.size(); large && i < a.size() + got; ++i) {
        least = std::min(least, a[i].second);
        most = std::max(most, a[i].second);
      }
      a.ResizeWithin(a.size() + got);
      if (reader_.failed()) {
        failure_ = reader_.failure();
        return false;
      }
    }
    costs_ = large ? CostSpan{least, int64_t{most} - least + 1} : CostSpan{};
    return true;
  }

  RunResult Finish(const RunResult& result) { return FinishOutput(writer_, result); }

  BufferedWriter writer_;
  CaseReader reader_;
  Tables tables_;   // kept from case to case
  CostSpan costs_;  // of the case read last, when it is large (else a span of 0: not measured)
  RunResult failure_{kExitOk, ""};
};

}  // namespace

RunResult RunCases(ByteSource& input, ByteSink& output) { return Run(input, output).Go(); }

}  // namespace maxmedian
