#include "writer.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace maxmedian {
namespace {

using testing::LimitedSink;

TEST(Writer, FormatsEveryRange) {
  StringSink sink;
  BufferedWriter writer(sink);
  for (int32_t answer : {0, -1, 7, 10, -10, 1000000000, testing::kMax32, testing::kMin32}) {
    EXPECT_TRUE(writer.Append(answer));
  }
  EXPECT_EQ(sink.text, "");  // nothing leaves before a flush or a full buffer
  EXPECT_TRUE(writer.Flush());
  EXPECT_EQ(sink.text, "0\n-1\n7\n10\n-10\n1000000000\n2147483647\n-2147483648\n");
}

TEST(Writer, FlushesWhenTheBufferFills) {
  StringSink sink;
  BufferedWriter writer(sink);
  std::string want;
  for (int i = 0; i < 100000; ++i) {
    ASSERT_TRUE(writer.Append(i - 50000));
    want += std::to_string(i - 50000) + "\n";
  }
  EXPECT_GT(sink.text.size(), 0u);
  EXPECT_LE(sink.text.size(), want.size());
  ASSERT_TRUE(writer.Flush());
  EXPECT_EQ(sink.text, want);
}

TEST(Writer, AFailedWriteIsReportedAndSticks) {
  LimitedSink sink(0, ENOSPC);
  BufferedWriter writer(sink);
  EXPECT_TRUE(writer.Append(5));  // kept in the buffer: nothing is written yet
  EXPECT_FALSE(writer.Flush());
  EXPECT_EQ(writer.write_error(), ENOSPC);
  EXPECT_FALSE(writer.Append(6));
  EXPECT_FALSE(writer.Flush());
  EXPECT_EQ(sink.text, "");
}

TEST(Writer, AFailureWhileFillingStopsAppending) {
  LimitedSink sink(BufferedWriter::kDefaultBufferSize, ENOSPC);
  BufferedWriter writer(sink);
  bool ok = true;
  for (int i = 0; i < 100000 && ok; ++i) ok = writer.Append(123456);
  EXPECT_FALSE(ok);
  EXPECT_EQ(writer.write_error(), ENOSPC);
}

TEST(Writer, EmptyFlushWritesNothing) {
  LimitedSink sink(0, ENOSPC);
  BufferedWriter writer(sink);
  EXPECT_TRUE(writer.Flush());
  EXPECT_EQ(writer.write_error(), 0);
}

}  // namespace
}  // namespace maxmedian
