// Reading cases: each a header N C F, then C records of a value and a cost, with every fault
// located and described for a message.
#ifndef MAXMEDIAN_CASE_READER_H_
#define MAXMEDIAN_CASE_READER_H_

#include <cstddef>
#include <cstdint>
#include <functional>

#include "reader.h"
#include "record.h"
#include "status.h"

namespace maxmedian {

// Reads the cases of one input in order. A fault ends the reading: after it, only failure() may
// be called.
class CaseReader {
 public:
  static constexpr size_t kBatchRecords = 256;  // the most records ReadRecords reads at a time

  // `before_read` runs before every read from `input` that may wait for input (see MayWait): a
  // file's never do, so that writing out what is done before each of them would cost a write a
  // read for nothing. When it returns false, the reading fails with kExitIoError and no message,
  // for the caller to say why. Check ok() before any other call.
  CaseReader(ByteSource& input, std::function<bool()> before_read)
      : input_(input), reader_(input, input.MayWait() ? std::move(before_read) : nullptr) {}

  // Whether the buffers could be allocated; if not, the reader must not be used.
  bool ok() const { return reader_.ok(); }

  enum class HeaderRead { kRead, kInputEnded, kFailed };
  // Reads the next case's header. kInputEnded: the input ended cleanly before it. kFailed: a
  // fault, including a negative C, described by failure().
  HeaderRead ReadHeader(CaseHeader& header);

  // Reads up to `max` of the records still to come in the case whose header was read last
  // (records_left()) into `records`; returns how many it read. Stops at a fault, described by
  // failure(), with the records before it stored and counted.
  size_t ReadRecords(Record* records, size_t max);

  // The records of the current case not read yet.
  int64_t records_left() const { return left_; }
  // The number of the current case, counting from 1.
  int64_t case_number() const { return number_; }
  // Whether reading has met a fault.
  bool failed() const { return failed_; }
  // What the fault was: a status, and a message naming the input by its name().
  const RunResult& failure() const { return failure_; }

 private:
  // Numbers are parsed a queue at a time, across case boundaries, so that a run of small cases
  // costs one call to the parser for many cases rather than one or two for each.
  static constexpr size_t kQueue = 1024;

  // "<name>:LINE:COLUMN: " for the token the reader last looked at, or `back` tokens before it.
  Message Where(size_t back = 0);
  // Refills the empty queue with as many numbers as the reader parses at once; false if none.
  bool RefillQueue() {
    queue_next_ = 0;
    queue_size_ = reader_.ReadMany(queue_, kQueue);
    return queue_size_ > 0;
  }
  // The next number of the input: from the queue, or read one token at a time where the bulk
  // parse stops (a token cut by a read, anything unusual, the end).
  ReadStatus NextNumber(int32_t* value) {
    if (queue_next_ == queue_size_ && !RefillQueue()) return reader_.Next(value);
    *value = queue_[queue_next_++];
    return ReadStatus::kValue;
  }
  // Records why a token could not be read as `what`.
  void FailToken(ReadStatus status, const Message& what);
  void Fail(int status, const Message& message);

  ByteSource& input_;
  IntReader reader_;
  int64_t number_ = 0;     // of the current case
  int64_t count_ = 0;      // C of the current case
  int64_t left_ = 0;       // of its records, those not read yet
  int32_t queue_[kQueue];  // numbers parsed and not yet taken: queue_[queue_next_..queue_size_)
  size_t queue_next_ = 0, queue_size_ = 0;
  bool failed_ = false;
  RunResult failure_{kExitOk, ""};
};

}  // namespace maxmedian

#endif  // MAXMEDIAN_CASE_READER_H_
