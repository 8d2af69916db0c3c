// Rewriting cases one to a line, so that tools which cut text at line ends cut between cases.
#ifndef MAXMEDIAN_CONVERT_H_
#define MAXMEDIAN_CONVERT_H_

#include "cpu.h"
#include "reader.h"
#include "record.h"
#include "status.h"
#include "writer.h"

namespace maxmedian {

// Reads cases from `input` as RunCases does, with the same grammar, and writes each to `output`
// as one line: its numbers in plain decimal (no '+', no leading zeros), one space between them,
// so that the answers to the output are those to the input. Every whole case is written before
// the reader waits for more input. Runs in constant memory, however large a case.
//
// Fails as RunCases does, with its messages and statuses: at a malformed case, every case before
// it is written and what was converted of the bad one is dropped, as far as it had not yet left
// the output buffer (a case of more than about 10,000 records may have). A write that fails
// because the reader of the output has gone (EPIPE) ends the run with kExitIoError and no message.
// Never throws.
RunResult ConvertCases(ByteSource& input, ByteSink& output);

// Writes each of `count` records as " value cost", both numbers as FormatDecimal writes them, at
// `out`, with the vector paths of `level` (which this CPU must support), and returns one past the
// last byte. May write up to 8 bytes beyond that, as FormatDecimalWide may. Cannot fail.
char* FormatRecords(CpuLevel level, const Record* records, size_t count, char* out);

}  // namespace maxmedian

#endif  // MAXMEDIAN_CONVERT_H_
