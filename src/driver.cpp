#include "driver.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <span>
#include <string_view>

#include "order.h"
#include "selection/selection.h"

namespace maxmedian {
namespace {

constexpr std::string_view kInputName = "<stdin>";
constexpr std::string_view kOutputName = "<stdout>";

// Answers one case whose records stand at a[1..C].
int32_t AnswerCase(const CaseHeader& header, Tables& tables) {
  const int64_t h = HalfSize(header.N);
  // Too few records (or a negative h) leaves no choice to make: skip the work, not the answer.
  if (h < 0 || 2 * h + 1 > header.C) return -1;
  // Nothing needs d before the backward sweep writes it, so ordering borrows it as scratch,
  // grown first to the size the sweep needs so that it is not reallocated in between.
  if (tables.d.size() < tables.a.size()) tables.d.resize(tables.a.size());
  OrderRecords(std::span<Record>(tables.a).subspan(1), tables.d);
  SweepForward(header, tables);
  SweepBackward(header, tables);
  return ScanMiddle(header, tables);
}

// The token as a C-like string literal: quotes and backslashes escaped, bytes outside printable
// ASCII as \xHH, so that a message stays one clean line whatever the input held.
std::string Quote(std::string_view bytes, bool truncated) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char ch : bytes) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (byte >= 0x20 && byte < 0x7f) {
      out += ch;
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    }
  }
  out += truncated ? "\"..." : "\"";
  return out;
}

std::string Where(IntReader& reader) {
  const Location at = reader.TokenLocation();
  return std::string(kInputName) + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) +
         ": ";
}

std::string SystemError(std::string_view name, std::string_view action, int error) {
  return std::string(name) + ": " + std::string(action) + " error: " + strerror(error);
}

// One run over one input: the reader, the writer and what the cases share.
class Run {
 public:
  Run(ByteSource& input, ByteSink& output)
      : writer_(output), reader_(input, [this] { return writer_.Flush(); }) {}

  RunResult Go() {
    int64_t number = 1;
    try {
      for (;; ++number) {
        CaseHeader header;
        const Header header_read = ReadHeader(number, header);
        if (header_read == Header::kInputEnded) return Finish({kExitOk, ""});
        if (header_read == Header::kFailed) return Finish(failure_);
        if (!ReadRecords(number, header)) return Finish(failure_);
        writer_.Append(AnswerCase(header, tables_));
      }
    } catch (const std::bad_alloc&) {
      // A case too large for the memory there is: the answers so far still go out.
      return Finish({kExitIoError, "case " + std::to_string(number) + ": out of memory"});
    }
  }

 private:
  enum class Header { kRead, kInputEnded, kFailed };
  static constexpr int64_t kReserveLimit = int64_t{1} << 18;

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
          Fail(Where(reader_) + "expected a record count C of 0 or more for case " +
               std::to_string(number) + ", found " + std::to_string(header.C));
          return Header::kFailed;
        }
        continue;
      }
      if (status == ReadStatus::kEnd) {
        if (i == 0) return Header::kInputEnded;
        Fail(Where(reader_) + "input ends inside the header of case " + std::to_string(number) +
             ": found " + std::to_string(i) + " of its 3 numbers (N C F)");
      } else {
        FailToken(status, std::string(kField[i]) + " of case " + std::to_string(number));
      }
      return Header::kFailed;
    }
    return Header::kRead;
  }

  // Reads the C records of a case into a[1..C]. The table grows with the records that arrive:
  // room for up to kReserveLimit of them is reserved from the header's count, which saves the
  // copies of growing step by step but, being untouched, costs no memory until records come.
  bool ReadRecords(int64_t number, const CaseHeader& header) {
    Table<Record>& a = tables_.a;
    a.resize(1);
    a[0] = Record{0, 0};
    a.reserve(static_cast<size_t>(std::min<int64_t>(int64_t{header.C} + 1, kReserveLimit)));
    for (int64_t i = 1; i <= header.C; ++i) {
      int32_t value, cost;  // apart, not in a Record, so that they can live in registers
      ReadStatus status = reader_.Next(&value);
      const bool have_value = status == ReadStatus::kValue;
      if (have_value) status = reader_.Next(&cost);
      if (status != ReadStatus::kValue) {
        if (status == ReadStatus::kEnd) {
          Fail(Where(reader_) + "input ends inside case " + std::to_string(number) + ": found " +
               std::to_string(i - 1) + " of its " + std::to_string(header.C) + " records" +
               (have_value ? " and the value of the next" : ""));
        } else {
          FailToken(status, std::string(have_value ? "the cost" : "the value") + " of record " +
                                std::to_string(i) + " of case " + std::to_string(number));
        }
        return false;
      }
      a.push_back({value, cost});
    }
    return true;
  }

  // Records why a token could not be read as `what`.
  void FailToken(ReadStatus status, const std::string& what) {
    switch (status) {
      case ReadStatus::kNotInteger:
        Fail(Where(reader_) + "expected an integer for " + what + ", found " +
             Quote(reader_.TokenPrefix(), reader_.TokenTruncated()));
        break;
      case ReadStatus::kOutOfRange:
        Fail(Where(reader_) + "expected an integer from -2147483648 to 2147483647 for " + what +
             ", found " + Quote(reader_.TokenPrefix(), reader_.TokenTruncated()));
        break;
      case ReadStatus::kReadFailed:
        failure_ = {kExitIoError, SystemError(kInputName, "read", reader_.read_error())};
        break;
      case ReadStatus::kStopped:  // the writer failed; Finish reports it
      case ReadStatus::kValue:
      case ReadStatus::kEnd:
        failure_ = {kExitIoError, ""};
        break;
    }
  }

  void Fail(std::string message) { failure_ = {kExitBadInput, std::move(message)}; }

  // Writes the answers still buffered. A failed write outranks whatever else went wrong: the
  // answers are what the caller came for.
  RunResult Finish(RunResult result) {
    if (writer_.Flush()) return result;
    const int error = writer_.write_error();
    if (error == EPIPE) return {kExitIoError, ""};
    return {kExitIoError, SystemError(kOutputName, "write", error)};
  }

  AnswerWriter writer_;
  IntReader reader_;
  Tables tables_;  // kept from case to case
  RunResult failure_{kExitOk, ""};
};

}  // namespace

RunResult RunCases(ByteSource& input, ByteSink& output) {
  try {
    return Run(input, output).Go();
  } catch (const std::bad_alloc&) {  // not even the buffers fit: no answer can have been made
    return {kExitIoError, "out of memory"};
  }
}

}  // namespace maxmedian
