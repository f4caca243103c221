// Wide helpers, bounded formatting and the ANSI conversions (code page 1252
// under C.UTF-8, as Wine gives).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"

namespace {

TEST(Wide, ToLongFollowsWcstol) {
    EXPECT_EQ(WideToLong(WIDE("12abc")), 12);
    EXPECT_EQ(WideToLong(WIDE("0")), 0);
    EXPECT_EQ(WideToLong(WIDE("99999999999999999999")), 2147483647);
    EXPECT_EQ(WideToLong(WIDE("  -7")), -7);
    EXPECT_EQ(WideToLong(WIDE("x1")), 0);
}

TEST(Wide, AsciiCaseFoldOnly) {
    EXPECT_EQ(WideCompareAsciiNoCase(WIDE("C:\\Work\\A.TXT"), WIDE("c:\\work\\a.txt")), 0);
    EXPECT_NE(WideCompareAsciiNoCase(WIDE("\u00c9"), WIDE("\u00e9")), 0);
    EXPECT_NE(WideCompareAsciiNoCase(WIDE("abc"), WIDE("abcd")), 0);
}

TEST(Wide, AppendAndCopyRefuseWhatDoesNotFit) {
    WCHAR buffer[8] = WIDE("abc");
    EXPECT_TRUE(WideAppend(buffer, 8, WIDE("defg")));
    EXPECT_EQ(WideCompare(buffer, WIDE("abcdefg")), 0);
    EXPECT_FALSE(WideAppend(buffer, 8, WIDE("h")));
    EXPECT_EQ(WideCompare(buffer, WIDE("abcdefg")), 0);
    EXPECT_FALSE(WideCopy(buffer, 8, WIDE("12345678")));
    EXPECT_TRUE(WideCopy(buffer, 8, WIDE("1234567")));
}

TEST(Format, WidePrintfSubsetAndBounds) {
    WCHAR buffer[64];
    EXPECT_EQ(FormatWide(buffer, 64, WIDE("%-5d %s|%c|%lu"), 3, WIDE("C:\\x"), (int)'Q',
                         (unsigned long)4000000000UL),
              23);
    EXPECT_EQ(WideCompare(buffer, WIDE("3     C:\\x|Q|4000000000")), 0);
    // Exactly full is refused too: there is no room for the terminator.
    EXPECT_EQ(FormatWide(buffer, 4, WIDE("%s"), WIDE("abcd")), -1);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(FormatWide(buffer, 5, WIDE("%s"), WIDE("abcd")), 4);
}

TEST(Format, CopyWideTerminatedPadsAndCuts) {
    WCHAR field[260];
    WCHAR longSource[301];
    for (int i = 0; i < 300; ++i) longSource[i] = 'a';
    longSource[300] = 0;
    EXPECT_EQ(CopyWideTerminated(field, 260, longSource), 259u);
    EXPECT_EQ(field[258], 'a');
    EXPECT_EQ(field[259], 0);
    for (int i = 0; i < 260; ++i) field[i] = 'x';
    EXPECT_EQ(CopyWideTerminated(field, 260, WIDE("0123456789")), 10u);
    for (int i = 10; i < 260; ++i) ASSERT_EQ(field[i], 0) << i;
}

class Conversions : public ::testing::Test {
   protected:
    void SetUp() override { setenv("LC_ALL", "C.UTF-8", 1); }
};

TEST_F(Conversions, MissingCharactersBecomeHashWithoutBestFit) {
    ASSERT_EQ(GetACP(), 1252u);
    // a-macron has a look-alike in 1252; the full-width asterisk, backslash
    // and quote would turn a name into a wildcard, a path or a split.
    char* ansi = WideToAnsiAlloc(WIDE("r\u0101\uff0a\uff3c\uff02\u00e9.txt"));
    ASSERT_NE(ansi, nullptr);
    EXPECT_STREQ(ansi, "r####\xe9.txt");
    MemFree(ansi);
    // A character beyond the BMP is two units, so two '#'.
    ansi = WideToAnsiAlloc(WIDE("x\U0001F600y"));
    ASSERT_NE(ansi, nullptr);
    EXPECT_STREQ(ansi, "x##y");
    MemFree(ansi);
}

TEST_F(Conversions, RoundTripAndBufferLimits) {
    WCHAR* wide = AnsiToWideAlloc("caf\xe9 \x80");
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(WideCompare(wide, WIDE("caf\u00e9 \u20ac")), 0);
    MemFree(wide);
    char small[4];
    EXPECT_EQ(WideToAnsiBuffer(small, 4, WIDE("abcd")), 0);
    EXPECT_EQ(WideToAnsiBuffer(small, 4, WIDE("abc")), 3);
    EXPECT_STREQ(small, "abc");
}

TEST_F(Conversions, AllocationFailureGivesNull) {
    MemSetFailAt(1);
    EXPECT_EQ(WideToAnsiAlloc(WIDE("abc")), nullptr);
    EXPECT_EQ(AnsiToWideAlloc("abc"), nullptr);
    MemSetFailAt(0);
}

}  // namespace
