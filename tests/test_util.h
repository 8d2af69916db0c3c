// Helpers shared by the unit tests.
#ifndef MAXMEDIAN_TESTS_TEST_UTIL_H_
#define MAXMEDIAN_TESTS_TEST_UTIL_H_

#include <cerrno>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "selection/selection.h"
#include "writer.h"

namespace maxmedian::testing {

constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();

// Tables whose a[1..] holds `records` as given (position 0 is the unused (0, 0)).
inline Tables TablesWith(std::initializer_list<Record> records) {
  Tables tables;
  tables.a.push_back({0, 0});
  tables.a.insert(tables.a.end(), records);
  return tables;
}

// A sink that holds `capacity` bytes and then fails every write with `error`, like a full disk
// (ENOSPC) or a reader that has gone (EPIPE).
class LimitedSink final : public ByteSink {
 public:
  LimitedSink(size_t capacity, int error) : capacity_(capacity), error_(error) {}
  bool Write(const char* data, size_t size) override {
    if (text.size() + size > capacity_) {
      errno = error_;
      return false;
    }
    text.append(data, size);
    return true;
  }
  std::string text;

 private:
  size_t capacity_;
  int error_;
};

// The entries of a table, as a plain vector that tests can compare.
template <class T>
std::vector<T> Plain(const Table<T>& table) {
  return std::vector<T>(table.begin(), table.end());
}

// The worked case: ordered records of a case with N = 3.
inline Tables WorkedCase() { return TablesWith({{5, 18}, {20, 20}, {30, 25}, {35, 30}, {50, 21}}); }

}  // namespace maxmedian::testing

#endif  // MAXMEDIAN_TESTS_TEST_UTIL_H_
