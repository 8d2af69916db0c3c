// A line of text for standard error, built in fixed storage: reporting a fault must never need
// memory, since running out of memory is one of the faults to report.
#ifndef MAXMEDIAN_MESSAGE_H_
#define MAXMEDIAN_MESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

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
    char digits[20];
    int count = 0;
    // The magnitude as unsigned, so that the most negative number has one too.
    uint64_t magnitude = number < 0 ? 0 - static_cast<uint64_t>(number) : number;
    do {
      digits[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (number < 0) Put('-');
    while (count > 0) Put(digits[--count]);
    return *this;
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
