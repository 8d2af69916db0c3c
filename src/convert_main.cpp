// maxmedian-one-case-per-line: rewrites maxmedian's input from standard input with one case per
// line on standard output. Arguments are ignored, with a notice. Exit statuses are those of
// maxmedian.
#include "convert.h"
#include "program.h"

int main(int argc, char** argv) {
  return maxmedian::RunProgram("maxmedian-one-case-per-line", argc, argv, maxmedian::ConvertCases);
}
