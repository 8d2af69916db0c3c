#include "driver.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "order.h"
#include "selection/selection.h"

namespace maxmedian {
namespace {

// Answers one case whose records stand at a[1..C]; no answer when the tables cannot grow to the
// case's size.
std::optional<int32_t> AnswerCase(const CaseHeader& header, Tables& tables) {
  const int64_t h = HalfSize(header.N);
  // Too few records (or a negative h) leaves no choice to make: skip the work, not the answer.
  if (h < 0 || 2 * h + 1 > header.C) return -1;
  if (!PrepareTables(header, tables)) return std::nullopt;
  // Nothing needs d before the backward sweep writes it, so ordering borrows it as scratch.
  OrderRecords(std::span<Record>(tables.a.data() + 1, static_cast<size_t>(header.C)), tables.d);
  return SelectMiddle(header, tables);
}

// Adds the token as a C-like string literal: quotes and backslashes escaped, bytes outside
// printable ASCII as \xHH, so that a message stays one clean line whatever the input held.
void Quote(Message& out, std::string_view bytes, bool truncated) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.Put('"');
  for (const char ch : bytes) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out.Put('\\');
      out.Put(ch);
    } else if (byte >= 0x20 && byte < 0x7f) {
      out.Put(ch);
    } else {
      out << "\\x";
      out.Put(kHex[byte >> 4]);
      out.Put(kHex[byte & 0xf]);
    }
  }
  out << (truncated ? "\"..." : "\"");
}

Message SystemError(std::string_view name, std::string_view action, int error) {
  Message message;
  message << name << ": " << action << " error: " << strerror(error);
  return message;
}

// One run over one input: the reader, the writer and what the cases share.
class Run {
 public:
  Run(ByteSource& input, ByteSink& output)
      : input_(input), writer_(output), reader_(input, [this] { return writer_.Flush(); }) {}

  RunResult Go() {
    if (!writer_.ok() || !reader_.ok()) return {kExitOutOfMemory, "out of memory"};
    for (int64_t number = 1;; ++number) {
      CaseHeader header;
      const Header header_read = ReadHeader(number, header);
      if (header_read == Header::kInputEnded) return Finish({kExitOk, ""});
      if (header_read == Header::kFailed) return Finish(failure_);
      if (!ReadRecords(number, header)) return Finish(failure_);
      const std::optional<int32_t> answer = AnswerCase(header, tables_);
      if (!answer) return Finish(OutOfMemory(number));
      writer_.Append(*answer);
    }
  }

 private:
  enum class Header { kRead, kInputEnded, kFailed };
  // The most records reserved from a header's count before they arrive. Reserved storage is not
  // touched, so it costs no memory, as long as it stays in small pages: a huge page would be
  // faulted in whole by the first record. Beyond this, the table grows with the records that
  // actually arrive, into huge pages.
  static constexpr int64_t kReserveLimit = table_memory::kHugePage / 8 / sizeof(Record);
  static constexpr int kGrowthFactor = 8;  // how much a full record table grows toward the claim
  static constexpr int64_t kBatchRecords = 256;  // the most records read at a time
  static constexpr size_t kBatchMin = 16;        // fewer tokens than this are read one at a time

  // "<name>:LINE:COLUMN: " for the token the reader last looked at.
  Message Where() {
    const Location at = reader_.TokenLocation();
    Message message;
    message << input_.name() << ":" << at.line << ":" << at.column << ": ";
    return message;
  }

  static RunResult OutOfMemory(int64_t number) {
    RunResult result{kExitOutOfMemory, "case "};
    result.message << number << ": out of memory";
    return result;
  }

  // Reads N, C and F. A clean end of input before N ends the run.
  Header ReadHeader(int64_t number, CaseHeader& header) {
    static constexpr const char* kField[] = {"the choice size N", "the record count C",
                                             "the budget F"};
    int32_t* const field[] = {&header.N, &header.C, &header.F};
    for (int i = 0; i < 3; ++i) {
      const ReadStatus status = reader_.Next(field[i]);
      if (status == ReadStatus::kValue) {
        // Checked at once, while the reader can still locate the count.
        if (i == 1 && header.C < 0) {
          Fail(Where() << "expected a record count C of 0 or more for case " << number << ", found "
                       << header.C);
          return Header::kFailed;
        }
        continue;
      }
      if (status == ReadStatus::kEnd) {
        if (i == 0) return Header::kInputEnded;
        Fail(Where() << "input ends inside the header of case " << number << ": found " << i
                     << " of its 3 numbers (N C F)");
      } else {
        Message what;
        what << kField[i] << " of case " << number;
        FailToken(status, what);
      }
      return Header::kFailed;
    }
    return Header::kRead;
  }

  // The capacity for a record table that is full at record `arrived` of `claimed`. Past the first
  // reservation, records keep arriving as claimed: growing toward the claim in larger steps than
  // doubling copies less and leaves fewer blocks behind, each of whose pages the system had to
  // clear; it still never goes beyond eight times what arrived.
  static size_t TowardClaim(int32_t claimed, int64_t arrived) {
    return static_cast<size_t>(std::min<int64_t>(int64_t{claimed} + 1, kGrowthFactor * arrived));
  }

  // Reads the C records of a case into a[1..C]. The table grows with the records that arrive;
  // room for up to kReserveLimit of them is reserved from the header's count, which saves the
  // copies of growing step by step.
  bool ReadRecords(int64_t number, const CaseHeader& header) {
    Table<Record>& a = tables_.a;
    a.clear();
    if (!a.Reserve(static_cast<size_t>(std::min<int64_t>(int64_t{header.C} + 1, kReserveLimit))) ||
        !a.Append(Record{0, 0})) {
      failure_ = OutOfMemory(number);
      return false;
    }
    // Most records come many at a time; the reader leaves whatever it cannot take that way, and
    // what is cut by the end of its buffer, to be read one token at a time.
    int32_t batch[2 * kBatchRecords];
    for (int64_t i = 1; i <= header.C;) {
      const auto wanted =
          static_cast<size_t>(2 * std::min<int64_t>(header.C - i + 1, kBatchRecords));
      const size_t got = wanted >= kBatchMin ? reader_.ReadMany(batch, wanted) : 0;
      for (size_t j = 0; j + 1 < got; j += 2, ++i) {
        if (!a.Append({batch[j], batch[j + 1]}, TowardClaim(header.C, i))) {
          failure_ = OutOfMemory(number);
          return false;
        }
      }
      const bool value_read = got % 2 == 1;  // the batch ended between a value and its cost
      if (got != 0 && !value_read) continue;
      int32_t value = value_read ? batch[got - 1] : 0, cost;
      ReadStatus status = value_read ? ReadStatus::kValue : reader_.Next(&value);
      const bool have_value = status == ReadStatus::kValue;
      if (have_value) status = reader_.Next(&cost);
      if (status != ReadStatus::kValue) {
        if (status == ReadStatus::kEnd) {
          Fail(Where() << "input ends inside case " << number << ": found " << i - 1 << " of its "
                       << header.C << " records"
                       << (have_value ? " and the value of the next" : ""));
        } else {
          Message what;
          what << (have_value ? "the cost" : "the value") << " of record " << i << " of case "
               << number;
          FailToken(status, what);
        }
        return false;
      }
      if (!a.Append({value, cost}, TowardClaim(header.C, i))) {
        failure_ = OutOfMemory(number);
        return false;
      }
      ++i;
    }
    return true;
  }

  // Records why a token could not be read as `what`.
  void FailToken(ReadStatus status, const Message& what) {
    switch (status) {
      case ReadStatus::kNotInteger:
      case ReadStatus::kOutOfRange: {
        Message message = Where();
        message << (status == ReadStatus::kNotInteger
                        ? "expected an integer for "
                        : "expected an integer from -2147483648 to 2147483647 for ")
                << what.view() << ", found ";
        Quote(message, reader_.TokenPrefix(), reader_.TokenTruncated());
        Fail(message);
        break;
      }
      case ReadStatus::kReadFailed:
        failure_ = {kExitIoError, SystemError(input_.name(), "read", reader_.read_error())};
        break;
      case ReadStatus::kStopped:  // the writer failed; Finish reports it
      case ReadStatus::kValue:
      case ReadStatus::kEnd:
        failure_ = {kExitIoError, ""};
        break;
    }
  }

  void Fail(const Message& message) { failure_ = {kExitBadInput, message}; }

  // Writes the answers still buffered. A failed write outranks whatever else went wrong: the
  // answers are what the caller came for.
  RunResult Finish(const RunResult& result) {
    if (writer_.Flush()) return result;
    const int error = writer_.write_error();
    if (error == EPIPE) return {kExitIoError, ""};
    return {kExitIoError, SystemError(writer_.sink_name(), "write", error)};
  }

  ByteSource& input_;
  AnswerWriter writer_;
  IntReader reader_;
  Tables tables_;  // kept from case to case
  RunResult failure_{kExitOk, ""};
};

}  // namespace

RunResult RunCases(ByteSource& input, ByteSink& output) { return Run(input, output).Go(); }

}  // namespace maxmedian
