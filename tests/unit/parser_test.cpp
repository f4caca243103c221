// The command-line grammar, argument by argument.
#include <gtest/gtest.h>

#include <vector>

#include "app/messages.h"
#include "app/runstate.h"
#include "platform/memory.h"
#include "platform/wide.h"

namespace {

struct Parsed {
    bool valid;
    OptionFlags options;
    int32_t index;
};

void ResetRun() {
    gRun.throwList.RemoveAll();
    MemFree(gRun.binPath);
    MemFree(gRun.restorePath);
    gRun.binPath = nullptr;
    gRun.restorePath = nullptr;
    gRun.options = 0;
    gRun.index = 0;
    gRun.exitCode = 0;
    gRun.drive = 3;
}

Parsed Parse(std::vector<const WCHAR*> words) {
    ResetRun();
    std::vector<WCHAR*> arguments;
    arguments.push_back(const_cast<WCHAR*>(WIDE("dustpail")));
    for (const WCHAR* word : words) arguments.push_back(const_cast<WCHAR*>(word));
    bool valid = ParseCommandLine((int)arguments.size(), arguments.data());
    return {valid, gRun.options, gRun.index};
}

TEST(Parser, HelpSpellings) {
    for (const WCHAR* word : {WIDE("/?"), WIDE("-h"), WIDE("/H"), WIDE("--help"), WIDE("/HELP")}) {
        Parsed parsed = Parse({word});
        EXPECT_TRUE(parsed.valid);
        EXPECT_EQ(parsed.options, (OptionFlags)OPT_HELP);
    }
    EXPECT_FALSE(Parse({WIDE("/hx")}).valid);
    EXPECT_FALSE(Parse({WIDE("/-help")}).valid);
    EXPECT_FALSE(Parse({WIDE("/")}).valid);
    EXPECT_FALSE(Parse({WIDE("---view")}).valid);
}

TEST(Parser, DeleteOnlyDirectlyAfterAnIndex) {
    EXPECT_FALSE(Parse({WIDE("/delete"), WIDE("3")}).valid);
    Parsed parsed = Parse({WIDE("3"), WIDE("/delete")});
    EXPECT_TRUE(parsed.valid);
    EXPECT_EQ(parsed.options, (OptionFlags)(OPT_INDEX | OPT_DELETE));
    EXPECT_FALSE(Parse({WIDE("3"), WIDE("/delete"), WIDE("/delete")}).valid);
    // A later index replaces the earlier one, also after /delete.
    parsed = Parse({WIDE("3"), WIDE("/delete"), WIDE("5")});
    EXPECT_TRUE(parsed.valid);
    EXPECT_EQ(parsed.index, 5);
    EXPECT_FALSE(Parse({WIDE("3"), WIDE("/delete"), WIDE("C:\\x")}).valid);
}

TEST(Parser, OperationsExcludeEachOther) {
    EXPECT_FALSE(Parse({WIDE("/view"), WIDE("/empty")}).valid);
    EXPECT_FALSE(Parse({WIDE("/view"), WIDE("3")}).valid);
    EXPECT_FALSE(Parse({WIDE("3"), WIDE("/view")}).valid);
    EXPECT_FALSE(Parse({WIDE("/f"), WIDE("a"), WIDE("/view")}).valid);
    Parsed parsed = Parse({WIDE("/Y"), WIDE("/nologo"), WIDE("/view"), WIDE("/y"), WIDE("-NOLOGO")});
    EXPECT_TRUE(parsed.valid);
    EXPECT_EQ(parsed.options, (OptionFlags)(OPT_YES | OPT_NOLOGO | OPT_VIEW));
}

TEST(Parser, IndexValues) {
    EXPECT_EQ(Parse({WIDE("3"), WIDE("5")}).index, 5);
    EXPECT_EQ(Parse({WIDE("12abc")}).index, 12);
    Parsed zero = Parse({WIDE("0")});
    EXPECT_TRUE(zero.valid);
    EXPECT_EQ(zero.index, 0);
    EXPECT_EQ(Parse({WIDE("4294967296")}).index, 2147483647);
}

TEST(Parser, ThrowNames) {
    EXPECT_FALSE(Parse({WIDE("/f")}).valid);
    EXPECT_FALSE(Parse({WIDE("/f"), WIDE("1.txt")}).valid);
    Parsed parsed = Parse({WIDE("/f"), WIDE("a.txt"), WIDE("b*.txt"), WIDE("/Y")});
    EXPECT_TRUE(parsed.valid);
    ASSERT_EQ(gRun.throwList.Length(), 2);
    EXPECT_EQ(WideCompare(gRun.throwList.At(1), WIDE("b*.txt")), 0);
}

TEST(Parser, BinPathAndRestorePath) {
    EXPECT_FALSE(Parse({WIDE("C:\\bin1"), WIDE("C:\\bin2")}).valid);
    Parsed parsed = Parse({WIDE("/view"), WIDE("C:\\bin1")});
    EXPECT_TRUE(parsed.valid);
    ASSERT_NE(gRun.binPath, nullptr);
    EXPECT_EQ(WideCompare(gRun.binPath, WIDE("C:\\bin1")), 0);
    parsed = Parse({WIDE("3"), WIDE("C:\\a"), WIDE("C:\\b")});
    EXPECT_TRUE(parsed.valid);
    ASSERT_NE(gRun.restorePath, nullptr);
    EXPECT_EQ(WideCompare(gRun.restorePath, WIDE("C:\\b")), 0);
    // D:\ and D:. are bin paths, not drives.
    parsed = Parse({WIDE("D:\\"), WIDE("/view")});
    EXPECT_TRUE(parsed.valid);
    EXPECT_EQ(WideCompare(gRun.binPath, WIDE("D:\\")), 0);
    ResetRun();
}

TEST(Parser, OutOfMemoryWhileCopyingIsReported) {
    ResetRun();
    std::vector<WCHAR*> arguments = {const_cast<WCHAR*>(WIDE("dustpail")),
                                     const_cast<WCHAR*>(WIDE("C:\\bin"))};
    MemSetFailAt(1);
    EXPECT_FALSE(ParseCommandLine(2, arguments.data()));
    MemSetFailAt(0);
    EXPECT_EQ(gRun.exitCode, EXIT_NO_MEMORY);
    ResetRun();
}

TEST(Catalogue, ColumnsShareTheirPlaceholders) {
    for (int id = 0; id < MSG_COUNT; ++id) {
        std::vector<WCHAR> placeholders[2];
        for (Language language : {LANGUAGE_JAPANESE, LANGUAGE_ENGLISH}) {
            gRun.language = language;
            const WCHAR* text = MessageText(id);
            for (const WCHAR* p = text; *p != 0; ++p)
                if (*p == '%') placeholders[language].push_back(*++p);
        }
        EXPECT_EQ(placeholders[0], placeholders[1]) << "message " << id;
    }
    gRun.language = LANGUAGE_ENGLISH;
    EXPECT_EQ(WideCompare(MessageText(MSG_BIN_PATH), WIDE("Recycle Bin: %s\n")), 0);
    EXPECT_EQ(WideCompare(MessageText(MSG_ERR_UNKNOWN), WIDE("Error: Unknown error occurred.\n")), 0);
}

}  // namespace
