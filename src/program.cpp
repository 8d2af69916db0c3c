// The commands' shared shell around a run. Arguments are accepted and ignored, as the commands'
// interface has always done; the notice only makes sure that a user who passed a file name
// learns that it was not read.
#include "program.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace maxmedian {
namespace {

// Writes `line` and a newline to standard error; nothing is left to do if that fails.
void WriteLine(const Message& line) {
  char text[Message::kCapacity + 1];
  const std::string_view view = line.view();
  std::memcpy(text, view.data(), view.size());
  text[view.size()] = '\n';
  (void)FdSink(STDERR_FILENO, "<stderr>").Write(text, view.size() + 1);
}

}  // namespace

std::string_view Version() { return MAXMEDIAN_VERSION; }

Message IgnoredArguments(std::string_view program, int argc, const char* const* argv) {
  Message line;
  line << program << ": ignoring arguments (" << program << " " << Version()
       << " reads cases from standard input only):";
  // Keep room for the newline, and for "..." after an argument cut short.
  constexpr size_t kRoom = Message::kCapacity - 5;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    const size_t left = kRoom - std::min(kRoom, line.view().size() + 2);
    if (left < 2) break;
    line.Put(' ');
    const std::string_view shown = argument.substr(0, left / 4);  // a byte may take four
    AppendQuoted(line, shown, shown.size() < argument.size());
  }
  return line;
}

int RunProgram(std::string_view program, int argc, const char* const* argv, RunFunction run) {
  if (argc > 1) WriteLine(IgnoredArguments(program, argc, argv));
  FdSource input(STDIN_FILENO, "<stdin>");
  FdSink output(STDOUT_FILENO, "<stdout>");
  const RunResult result = run(input, output);
  if (!result.message.empty()) {
    Message line;
    line << program << ": " << result.message.view();
    WriteLine(line);
  }
  return result.status;
}

}  // namespace maxmedian
