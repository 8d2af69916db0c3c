#include "file_windows.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace maxmedian {
namespace {

// Files of random bytes shown from a random offset through windows of one to three pages: the
// windows, and the reads after them, hold the file's bytes in order, each window between zeros
// and followed by a NUL. Bytes added after a window or two are left for those reads; bytes taken
// away (the last byte, or every page from one on, which then fault) read as zeros and end in
// kLost, unless windows had already stopped (only the first is mapped), when reads see the end.
TEST(FileWindows, ShowTheFileInOrderBetweenZeros) {
  std::mt19937 random(5);
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  std::vector<char> scratch(std::max(FileWindows::kTrialBytes, 3 * page));
  for (int round = 0; round < 60; ++round) {
    // Some files end within the pages that time reading against mapping.
    const bool short_file = round % 15 == 0;
    std::string bytes(
        std::uniform_int_distribution<size_t>(short_file ? 2 * page + 1 : 12 * page,
                                              short_file ? 4 * page : 20 * page)(random),
        '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 255 + 1);
    const auto offset = std::uniform_int_distribution<size_t>(0, 2 * page)(random);
    // After the windows: 0 nothing changes, 1 the file grows, 2 it shrinks.
    const int change = short_file ? 0 : round % 3;
    const bool first_only = round % 4 == 3;
    const int changed_after = first_only ? 1 : 2;  // windows
    size_t cut = 0;  // where the file ends after it shrinks: past what the windows showed
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const int fd = fileno(file);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    ASSERT_EQ(lseek(fd, static_cast<off_t>(offset), SEEK_SET), static_cast<off_t>(offset));
    FileWindows windows(
        fd, page * (1 + round % 3), 0,
        first_only ? FileWindows::Mapping::kFirstOnly : FileWindows::Mapping::kAlways);
    std::string shown;
    const char* data;
    size_t size;
    FileWindows::Next next;
    int count = 0;
    while ((next = windows.Advance(&data, &size, scratch.data(), scratch.size())) ==
           FileWindows::Next::kShown) {
      ASSERT_GT(size, 0u);
      for (size_t i = 1; i <= 16; ++i) ASSERT_EQ(data[-static_cast<ptrdiff_t>(i)], '\0');
      // Byte by byte: a block copy that faults midway need not restart cleanly under emulators.
      for (size_t i = 0; i < size; ++i) shown += data[i];
      ASSERT_EQ(data[size], '\0');
      if (++count == changed_after && change == 1) {
        ASSERT_EQ(pwrite(fd, "more", 4, static_cast<off_t>(bytes.size())), 4);
      }
      if (count == changed_after && change == 2) {
        const size_t end = offset + shown.size();
        cut = round % 2 ? bytes.size() - 1 : (end + 2 * page - 1) / page * page;
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(cut)), 0);
      }
    }
    if (!short_file) {
      ASSERT_EQ(count > 1, !first_only) << round;
    }
    if (change == 2 && !first_only) {
      ASSERT_EQ(next, FileWindows::Next::kLost) << round;
      ASSERT_EQ(windows.Lost(), kInputShrank);
      ASSERT_GE(shown.size(), cut - offset) << round;
      ASSERT_TRUE(shown.compare(0, cut - offset, bytes, offset, cut - offset) == 0) << round;
      ASSERT_EQ(shown.find_first_not_of('\0', cut - offset), std::string::npos) << round;
    } else {
      ASSERT_EQ(next, FileWindows::Next::kNone);
      char rest[4096];
      for (ssize_t n; (n = read(fd, rest, sizeof rest)) > 0;) shown.append(rest, n);
      const std::string file_now = change == 2   ? bytes.substr(0, cut)
                                   : change == 1 ? bytes + "more"
                                                 : bytes;
      ASSERT_TRUE(shown == file_now.substr(offset)) << round;
      ASSERT_EQ(windows.Lost(), 0);
    }
    std::fclose(file);
  }
}

}  // namespace
}  // namespace maxmedian
