// A line of text for standard error, built in fixed storage: reporting a fault must never need
// memory, since running out of memory is one of the faults to report.
#ifndef MAXMEDIAN_MESSAGE_H_
#define MAXMEDIAN_MESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "decimal.h"

namespace maxmedian {

// Text built from pieces, kept in the object itself; what does not fit is dropped.
class Message {
 public:
  static constexpr size_t kCapacity = 256;  // text beyond this is dropped

  Message() = default;
  Message(const char* text) { *this << text; }  // NOLINT: implicit, as for a string

  Message& operator<<(std::string_view text) {
    for (const char ch : text) Put(ch);
    return *this;
  }
  Message& operator<<(int64_t number) {
    char text[20];
    return *this << std::string_view(text, FormatDecimal(number, text) - text);
  }
  // Adds one byte.
  void Put(char ch) {
    if (size_ < kCapacity) text_[size_++] = ch;
  }

  std::string_view view() const { return {text_, size_}; }
  bool empty() const { return size_ == 0; }

 private:
  char text_[kCapacity];
  size_t size_ = 0;
};

}  // namespace maxmedian

#endif  // MAXMEDIAN_MESSAGE_H_
