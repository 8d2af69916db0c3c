// The case grammar on top of IntReader: which number is expected next, and the message for each
// way a case can be malformed. Records come many at a time through IntReader::ReadMany where it
// can; whatever it leaves (a token cut by a read, anything unusual) is read and judged one token
// at a time.
#include "case_reader.h"

#include <algorithm>

namespace maxmedian {
CaseReader::HeaderRead CaseReader::ReadHeader(CaseHeader& header) {
  static constexpr const char* kField[] = {"the choice size N", "the record count C",
                                           "the budget F"};
  int32_t* const field[] = {&header.N, &header.C, &header.F};
  ++number_;
  for (int i = 0; i < 3; ++i) {
    const bool ahead = ahead_next_ < ahead_size_;
    const ReadStatus status = NextNumber(field[i]);
    if (status == ReadStatus::kValue) {
      // Checked at once, while the reader can still locate the count: the last token it read,
      // or one before it when the count was read ahead with what follows it.
      if (i == 1 && header.C < 0) {
        const auto back = static_cast<size_t>(ahead ? ahead_size_ - ahead_next_ : 0);
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
  ahead_next_ = ahead_size_ = 0;
  return HeaderRead::kRead;
}

size_t CaseReader::ReadRecords(Record* records, size_t max) {
  int32_t batch[2 * kBatchRecords + 3];
  size_t stored = 0;
  while (!failed_ && left_ > 0 && stored < max) {
    const auto wanted =
        2 * std::min<size_t>({static_cast<size_t>(left_), max - stored, kBatchRecords});
    // The case's last records come with the next case's header, where that is already read.
    const bool last = wanted == 2 * static_cast<size_t>(left_);
    const size_t got = wanted >= kBatchMin ? reader_.ReadMany(batch, wanted + (last ? 3 : 0)) : 0;
    const size_t taken = std::min(got, wanted);
    for (size_t j = 0; j + 1 < taken; j += 2) records[stored++] = {batch[j], batch[j + 1]};
    left_ -= static_cast<int64_t>(taken / 2);
    if (got > wanted) {
      ahead_size_ = static_cast<int>(got - wanted);
      for (int i = 0; i < ahead_size_; ++i) ahead_[i] = batch[wanted + static_cast<size_t>(i)];
      break;
    }
    const bool value_read = got % 2 == 1;  // the batch ended between a value and its cost
    if (got != 0 && !value_read) continue;
    // One record a token at a time: what the batch could not take.
    const int64_t index = count_ - left_ + 1;
    int32_t value = value_read ? batch[got - 1] : 0, cost;
    ReadStatus status = value_read ? ReadStatus::kValue : reader_.Next(&value);
    const bool have_value = status == ReadStatus::kValue;
    if (have_value) status = reader_.Next(&cost);
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
      Fail(kExitIoError, SystemError(input_.name(), "read", reader_.read_error()));
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
