// The converter's loop: the case reader's records, formatted straight into the output buffer a
// batch at a time. Nothing of a case is kept beyond the batch in hand, so memory stays constant.
#include "convert.h"

#include "case_reader.h"
#include "decimal.h"

namespace maxmedian {
namespace {

// Large enough that a write costs little per byte, small enough to stay out of huge pages.
constexpr size_t kOutputBuffer = size_t{1} << 18;
// The most bytes a record takes: two numbers, each after a space.
constexpr size_t kMaxRecordBytes = 2 * (1 + BufferedWriter::kMaxNumber);

}  // namespace

RunResult ConvertCases(ByteSource& input, ByteSink& output) {
  BufferedWriter writer(output, kOutputBuffer);
  // Only whole cases go out before a read that may wait: what follows the mark may yet be taken
  // back by a fault.
  CaseReader reader(input, [&writer] { return writer.FlushMarked(); });
  if (!writer.ok() || !reader.ok()) return {kExitOutOfMemory, "out of memory"};
  Record batch[CaseReader::kBatchRecords];
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
      for (size_t i = 0; i < got; ++i) {
        *out++ = ' ';
        out = FormatDecimalWide(batch[i].first, out);
        *out++ = ' ';
        out = FormatDecimalWide(batch[i].second, out);
      }
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
