#include "file_windows.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>

namespace maxmedian {
namespace {

// Files of random bytes shown from a random offset through windows of one to three pages: the
// windows hold the file's bytes in order, each between zeros and followed by a NUL, and reads
// go on where they end. Bytes added after two windows are left for those reads; bytes taken
// away (the last byte, or every page from one on, which then fault) read as zeros and end in
// kLost.
TEST(FileWindows, ShowTheFileInOrderBetweenZeros) {
  std::mt19937 random(5);
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  for (int round = 0; round < 40; ++round) {
    std::string bytes(std::uniform_int_distribution<size_t>(12 * page, 20 * page)(random), '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 255 + 1);
    const auto offset = std::uniform_int_distribution<size_t>(0, 2 * page)(random);
    const int change = round % 3;  // after two windows: 0 none, 1 the file grows, 2 it shrinks
    size_t cut = 0;  // where the file ends after it shrinks: past what two windows showed
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const int fd = fileno(file);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    ASSERT_EQ(lseek(fd, static_cast<off_t>(offset), SEEK_SET), static_cast<off_t>(offset));
    FileWindows windows(fd, page * (1 + round % 3), 0);
    std::string shown;
    const char* data;
    size_t size;
    FileWindows::Next next;
    for (int count = 0; (next = windows.Advance(&data, &size)) == FileWindows::Next::kShown;) {
      ASSERT_GT(size, 0u);
      for (size_t i = 1; i <= 16; ++i) ASSERT_EQ(data[-static_cast<ptrdiff_t>(i)], '\0');
      // Byte by byte: a block copy that faults midway need not restart cleanly under emulators.
      for (size_t i = 0; i < size; ++i) shown += data[i];
      ASSERT_EQ(data[size], '\0');
      if (++count == 2 && change == 1) {
        ASSERT_EQ(pwrite(fd, "more", 4, static_cast<off_t>(bytes.size())), 4);
      }
      if (count == 2 && change == 2) {
        const size_t end = offset + shown.size();
        cut = round % 2 ? bytes.size() - 1 : (end + 2 * page - 1) / page * page;
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(cut)), 0);
      }
    }
    if (change == 2) {
      ASSERT_EQ(next, FileWindows::Next::kLost) << round;
      ASSERT_EQ(windows.Lost(), kInputShrank);
      ASSERT_GE(shown.size(), cut - offset) << round;
      ASSERT_TRUE(shown.compare(0, cut - offset, bytes, offset, cut - offset) == 0) << round;
      ASSERT_EQ(shown.find_first_not_of('\0', cut - offset), std::string::npos) << round;
    } else {
      ASSERT_EQ(next, FileWindows::Next::kNone);
      ASSERT_TRUE(shown == bytes.substr(offset)) << round;
      char rest[8];
      ASSERT_EQ(read(fd, rest, sizeof rest), change == 1 ? 4 : 0);
      ASSERT_EQ(windows.Lost(), 0);
    }
    std::fclose(file);
  }
}

}  // namespace
}  // namespace maxmedian
