#include "util/LogLine.h"

#include <gtest/gtest.h>

namespace {

TEST(LogLine, CarriesPidTimeMessageAndLastError) {
    EXPECT_EQ(ComposeLogLine(3120, L"2026-12-08 05:54:45",
                             L"[CUnPack::UnPackFiles] UnPack total 5 files.", 0),
              L"[3120]2026-12-08 05:54:45  [CUnPack::UnPackFiles] UnPack total 5 files. (Last=0)");
}

TEST(LogLine, EmptyTimeLeavesTheTwoBlanks) {
    EXPECT_EQ(ComposeLogLine(7, L"", L"[A::B] x", 2), L"[7]  [A::B] x (Last=2)");
}

TEST(LogLine, LastErrorIsSigned) {
    EXPECT_EQ(ComposeLogLine(1, L"t", L"m", 0xFFFFFFFFu), L"[1]t  m (Last=-1)");
    EXPECT_EQ(ComposeLogLine(1, L"t", L"m", 0x80000000u), L"[1]t  m (Last=-2147483648)");
    EXPECT_EQ(ComposeLogLine(1, L"t", L"m", 0x7FFFFFFFu), L"[1]t  m (Last=2147483647)");
    EXPECT_EQ(ComposeLogLine(40960, L"t", L"m", 10), L"[40960]t  m (Last=10)");
}

TEST(LogLine, MessageIsDataNotAFormat) {
    EXPECT_EQ(ComposeLogLine(1, L"t", L"100% %s %d\r\nnext", 5),
              L"[1]t  100% %s %d\r\nnext (Last=5)");
}

} // namespace
