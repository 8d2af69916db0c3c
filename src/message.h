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

// Adds `bytes` to `out` as a C-like string literal: quotes and backslashes escaped, bytes outside
// printable ASCII as \xHH, so that a message stays one clean line whatever the bytes hold; "..."
// follows when `truncated` says the bytes were cut short.
inline void AppendQuoted(Message& out, std::string_view bytes, bool truncated = false) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.Put('"');
  for (const char ch : bytes) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out.Put('\\');
      out.Put(ch);
    } else if (byte >= 0x20 && byte < 0x7f) {
      out.Put(ch);
    } else {
      out << "\\x";
      out.Put(kHex[byte >> 4]);
      out.Put(kHex[byte & 0xf]);
    }
  }
  out << (truncated ? "\"..." : "\"");
}

}  // namespace maxmedian

#endif  // MAXMEDIAN_MESSAGE_H_
