// maxmedian: reads cases from standard input and writes one answer line per case to standard
// output. Arguments are ignored. Exit statuses are those of ExitStatus in driver.h.
#include <unistd.h>

#include <string>

#include "driver.h"

int main() {
  maxmedian::FdSource input(STDIN_FILENO);
  maxmedian::FdSink output(STDOUT_FILENO);
  const maxmedian::RunResult result = maxmedian::RunCases(input, output);
  if (!result.message.empty()) {
    const std::string line = "maxmedian: " + result.message + "\n";
    maxmedian::FdSink(STDERR_FILENO).Write(line.data(), line.size());
  }
  return result.status;
}
