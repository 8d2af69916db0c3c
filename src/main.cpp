// maxmedian: reads cases from standard input and writes one answer line per case to standard
// output. Arguments are ignored, with a notice. Exit statuses are those of ExitStatus in status.h.
#include "driver.h"
#include "program.h"

int main(int argc, char** argv) {
  return maxmedian::RunProgram("maxmedian", argc, argv, maxmedian::RunCases);
}
