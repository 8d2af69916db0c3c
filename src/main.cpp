// maxmedian: reads cases from standard input and writes one answer line per case to standard
// output. Arguments are ignored. Exit statuses are those of ExitStatus in driver.h.
#include <unistd.h>

#include "driver.h"

int main() {
  maxmedian::FdSource input(STDIN_FILENO, "<stdin>");
  maxmedian::FdSink output(STDOUT_FILENO, "<stdout>");
  const maxmedian::RunResult result = maxmedian::RunCases(input, output);
  if (!result.message.empty()) {
    maxmedian::Message line;
    line << "maxmedian: " << result.message.view() << "\n";
    maxmedian::FdSink(STDERR_FILENO, "<stderr>").Write(line.view().data(), line.view().size());
  }
  return result.status;
}
