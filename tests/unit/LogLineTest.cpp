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
    EXPECT_EQ(ComposeLogLine(1, L"t", L"100% %s %d", 5), L"[1]t  100% %s %d (Last=5)");
}

// Caller text (a parameter, a file name) can never start a line of its own, nor steer a terminal
// that shows the log; printable text, non-ASCII included, stays as it is.
TEST(LogLine, ControlCharactersOfTheMessageAreEscaped) {
    EXPECT_EQ(ComposeLogLine(1, L"t", L"x\r\n[4242]2026-01-01 00:00:00  [A::B] done", 0),
              L"[1]t  x\\r\\n[4242]2026-01-01 00:00:00  [A::B] done (Last=0)");
    EXPECT_EQ(EscapeControlCharacters(std::wstring(L"a\0b\tc\x1b[2J\x7f\x85", 11)),
              L"a\\x00b\\tc\\x1b[2J\\x7f\\x85");
    EXPECT_EQ(EscapeControlCharacters(L"line\x2028para\x2029"), L"line\\u2028para\\u2029");
    // "setup\u202Etxt.exe" would show as "setupexe.txt"; every bidirectional control is escaped.
    EXPECT_EQ(EscapeControlCharacters(L"a\x061c\x200e\x200f\x202a\x202e\x2066\x2069"
                                      L"b"),
              L"a\\u061c\\u200e\\u200f\\u202a\\u202e\\u2066\\u2069b");
    EXPECT_EQ(EscapeControlCharacters(L"C:\\r\u00e9sum\u00e9\\n.txt \u4e2d"),
              L"C:\\r\u00e9sum\u00e9\\n.txt \u4e2d");
}

} // namespace
