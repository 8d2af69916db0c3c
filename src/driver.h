// The case loop: reads cases until the input ends and writes one answer line per case.
#ifndef MAXMEDIAN_DRIVER_H_
#define MAXMEDIAN_DRIVER_H_

#include "reader.h"
#include "status.h"
#include "writer.h"

namespace maxmedian {

// Reads cases from `input` until it ends, writing each case's answer line to `output`; every
// answer is written before the reader waits for more input. Stops at the first malformed case,
// failed read or write, or allocation that fails, with every answer of the cases before it
// written first (unless writing is what failed) and a message that locates the fault, naming the
// stream by its name(). A write that fails because the reader of the output has gone (EPIPE) ends
// the run with kExitIoError and no message; running out of memory ends it with kExitOutOfMemory
// and a message naming the case ("out of memory" alone if not even the buffers fit). Never
// throws.
RunResult RunCases(ByteSource& input, ByteSink& output);

}  // namespace maxmedian

#endif  // MAXMEDIAN_DRIVER_H_
