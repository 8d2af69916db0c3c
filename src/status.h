// How a run over the input ends: the exit statuses the programs document, and the message for
// standard error.
#ifndef MAXMEDIAN_STATUS_H_
#define MAXMEDIAN_STATUS_H_

#include <string.h>

#include <string_view>

#include "message.h"

namespace maxmedian {

// Exit statuses of the programs, as their manual pages document them.
enum ExitStatus : int {
  kExitOk = 0,           // every case handled, the input ended cleanly
  kExitBadInput = 1,     // the input is malformed; the output for the cases before the fault is out
  kExitIoError = 2,      // reading the input or writing the output failed
  kExitOutOfMemory = 2,  // there was not enough memory for a buffer or for a case
};

// How a run ended.
struct RunResult {
  int status;       // one of ExitStatus
  Message message;  // "where: what" for standard error; empty when there is nothing to say
};

// "<name>: <action> error: <the system's reason for `error`>", as for a failed read or write.
inline Message SystemError(std::string_view name, std::string_view action, int error) {
  Message message;
  message << name << ": " << action << " error: " << strerror(error);
  return message;
}

}  // namespace maxmedian

#endif  // MAXMEDIAN_STATUS_H_
