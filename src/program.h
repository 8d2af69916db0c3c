// What each command does around its run: standard input and output, the notice about
// arguments, the message on standard error and the exit status.
#ifndef MAXMEDIAN_PROGRAM_H_
#define MAXMEDIAN_PROGRAM_H_

#include <string_view>

#include "message.h"
#include "reader.h"
#include "status.h"
#include "writer.h"

namespace maxmedian {

// The version of the programs, as their manual pages give it.
std::string_view Version();

// The line for standard error that says the arguments argv[1..argc-1] are ignored: "program:
// ignoring arguments (program VERSION reads cases from standard input only): "a" "b"", the
// arguments quoted as in messages and cut short where the line would grow too long.
Message IgnoredArguments(std::string_view program, int argc, const char* const* argv);

// A command's run over its input and output, as RunCases.
using RunFunction = RunResult (*)(ByteSource& input, ByteSink& output);

// Runs `run` from standard input ("<stdin>") to standard output ("<stdout>"), after writing the
// IgnoredArguments line if there are arguments, which change nothing else. Writes the run's
// message, if any, as "program: message" on standard error, and returns the run's status.
int RunProgram(std::string_view program, int argc, const char* const* argv, RunFunction run);

}  // namespace maxmedian

#endif  // MAXMEDIAN_PROGRAM_H_
