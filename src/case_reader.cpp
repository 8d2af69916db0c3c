// The case grammar on top of IntReader: which number is expected next, and the message for each
// way a case can be malformed. Numbers come many at a time through IntReader::ReadMany into a
// queue where it can; whatever it leaves (a token cut by a read, anything unusual) is read and
// judged one token at a time.
#include "case_reader.h"

#include <algorithm>
#include <cstring>

namespace maxmedian {
CaseReader::HeaderRead CaseReader::ReadHeader(CaseHeader& header) {
  static constexpr const char* kField[] = {"the choice size N", "the record count C",
                                           "the budget F"};
  int32_t* const field[] = {&header.N, &header.C, &header.F};
  ++number_;
  for (int i = 0; i < 3; ++i) {
    const ReadStatus status = NextNumber(field[i]);
    if (status == ReadStatus::kValue) {
      // Checked at once, while the reader can still locate the count: the last token it read,
      // or as many before it as the queue holds after the count.
      if (i == 1 && header.C < 0) {
        const size_t back = queue_size_ - queue_next_;
        Fail(kExitBadInput, Where(back) << "expected a record count C of 0 or more for case "
                                        << number_ << ", found " << header.C);
        return HeaderRead::kFailed;
      }
      continue;
    }
    if (status == ReadStatus::kEnd) {
      if (i == 0) return HeaderRead::kInputEnded;
      Fail(kExitBadInput, Where() << "input ends inside the header of case " << number_
                                  << ": found " << i << " of its 3 numbers (N C F)");
    } else {
      Message what;
      what << kField[i] << " of case " << number_;
      FailToken(status, what);
    }
    return HeaderRead::kFailed;
  }
  count_ = left_ = header.C;
  return HeaderRead::kRead;
}

size_t CaseReader::ReadRecords(Record* records, size_t max) {
  static_assert(sizeof(Record) == 2 * sizeof(int32_t), "a record is its two numbers in order");
  size_t stored = 0;
  while (!failed_ && left_ > 0 && stored < max) {
    if (queue_next_ == queue_size_) RefillQueue();
    const size_t whole =
        std::min({(queue_size_ - queue_next_) / 2, static_cast<size_t>(left_), max - stored});
    if (whole > 0) {
      std::memcpy(records + stored, queue_ + queue_next_, whole * sizeof(Record));
      queue_next_ += 2 * whole;
      stored += whole;
      left_ -= static_cast<int64_t>(whole);
      continue;
    }
    // A record the queue does not hold whole: the value may be its last number.
    const int64_t index = count_ - left_ + 1;
    int32_t value, cost;
    ReadStatus status = NextNumber(&value);
    const bool have_value = status == ReadStatus::kValue;
    if (have_value) status = NextNumber(&cost);
    if (status != ReadStatus::kValue) {
      if (status == ReadStatus::kEnd) {
        Fail(kExitBadInput, Where() << "input ends inside case " << number_ << ": found "
                                    << index - 1 << " of its " << count_ << " records"
                                    << (have_value ? " and the value of the next" : ""));
      } else {
        Message what;
        what << (have_value ? "the cost" : "the value") << " of record " << index << " of case "
             << number_;
        FailToken(status, what);
      }
      break;
    }
    records[stored++] = {value, cost};
    --left_;
  }
  return stored;
}

Message CaseReader::Where(size_t back) {
  const Location at = back == 0 ? reader_.TokenLocation() : reader_.TokenLocationBack(back);
  Message message;
  message << input_.name() << ":" << at.line << ":" << at.column << ": ";
  return message;
}

void CaseReader::FailToken(ReadStatus status, const Message& what) {
  switch (status) {
    case ReadStatus::kNotInteger:
    case ReadStatus::kOutOfRange: {
      Message message = Where();
      message << (status == ReadStatus::kNotInteger
                      ? "expected an integer for "
                      : "expected an integer from -2147483648 to 2147483647 for ")
              << what.view() << ", found ";
      AppendQuoted(message, reader_.TokenPrefix(), reader_.TokenTruncated());
      Fail(kExitBadInput, message);
      break;
    }
    case ReadStatus::kReadFailed:
      if (reader_.read_error() == kInputShrank) {
        Message message;
        message << input_.name() << ": read error: the file shrank while it was being read";
        Fail(kExitIoError, message);
      } else {
        Fail(kExitIoError, SystemError(input_.name(), "read", reader_.read_error()));
      }
      break;
    case ReadStatus::kStopped:  // the before-read hook failed; its owner reports why
    case ReadStatus::kValue:
    case ReadStatus::kEnd:
      Fail(kExitIoError, "");
      break;
  }
}

void CaseReader::Fail(int status, const Message& message) {
  failed_ = true;
  failure_ = {status, message};
}

}  // namespace maxmedian
