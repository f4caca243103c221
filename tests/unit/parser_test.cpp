// The command-line grammar, argument by argument.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/messages.h"
#include "app/runstate.h"
#include "ops/ops.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "support/run.h"

namespace {

struct Parsed {
    bool valid;
    OptionFlags options;
    int32_t index;
};

void ResetRun() {
    testrun::ClearRun();
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

std::u16string Text(const WCHAR* text) { return text != nullptr ? std::u16string(text) : u"<none>"; }

std::u16string ThrowNames() {
    std::u16string names;
    for (int32_t i = 0; i < gRun.throwList.Length(); ++i) names += Text(gRun.throwList.At(i)) + u"|";
    return names;
}

// Where the operands go: after /f every one is a name, also one that begins
// with a digit; "--" ends the options, so that what follows it is an operand
// by the usual rules.
TEST(Parser, OperandsAfterThrowAndAfterTheEndOfOptions) {
    struct Row {
        std::vector<const WCHAR*> words;
        bool valid;
        OptionFlags options = 0;
        const char16_t* names = u"";  // throw names, each followed by '|'
        const char16_t* binPath = u"<none>";
        int32_t index = 0;
        const char16_t* restorePath = u"<none>";
    };
    const OptionFlags THROW = OPT_THROW, INDEX = OPT_INDEX;
    const Row rows[] = {
        {{WIDE("/f"), WIDE("a.txt"), WIDE("b*.txt"), WIDE("/Y")}, true, THROW | OPT_YES, u"a.txt|b*.txt|", u"<none>", 0, u"<none>"},
        {{WIDE("/f"), WIDE("1.txt")}, true, THROW, u"1.txt|", u"<none>", 0, u"<none>"},
        {{WIDE("/f"), WIDE("2024-report.txt"), WIDE("/Y")}, true, THROW | OPT_YES, u"2024-report.txt|", u"<none>", 0, u"<none>"},
        {{WIDE("/f"), WIDE("a"), WIDE("3"), WIDE("/nologo"), WIDE("4b")}, true, THROW | OPT_NOLOGO, u"a|3|4b|", u"<none>", 0, u"<none>"},
        {{WIDE("T:\\bin"), WIDE("/f"), WIDE("0")}, true, THROW, u"0|", u"T:\\bin", 0, u"<none>"},
        {{WIDE("/f"), WIDE("--"), WIDE("-x.txt"), WIDE("/Y"), WIDE("--"), WIDE("7")}, true, THROW, u"-x.txt|/Y|--|7|", u"<none>", 0, u"<none>"},
        {{WIDE("--"), WIDE("/view")}, true, 0, u"", u"/view", 0, u"<none>"},
        {{WIDE("--"), WIDE("--")}, true, 0, u"", u"--", 0, u"<none>"},
        {{WIDE("--")}, true, 0, u"", u"<none>", 0, u"<none>"},
        {{WIDE("/nologo"), WIDE("--"), WIDE("3"), WIDE("-dest")}, true, INDEX | OPT_NOLOGO, u"", u"<none>", 3, u"-dest"},
        {{WIDE("/Y"), WIDE("--"), WIDE("5"), WIDE("/delete")}, true, INDEX | OPT_YES, u"", u"<none>", 5, u"/delete"},
        {{WIDE("--view")}, true, OPT_VIEW, u"", u"<none>", 0, u"<none>"},
        // Still refused.
        {{WIDE("/f")}, false},
        {{WIDE("/f"), WIDE("/Y")}, false},
        {{WIDE("/f"), WIDE("--")}, false},
        {{WIDE("/f"), WIDE("-x.txt")}, false},  // an unknown option, as before "--"
        {{WIDE("/f"), WIDE("a"), WIDE("/view")}, false},
        {{WIDE("3"), WIDE("/f"), WIDE("a")}, false},
        {{WIDE("/view"), WIDE("3")}, false},
        {{WIDE("T:\\bin"), WIDE("--"), WIDE("/f"), WIDE("a")}, false},  // a second bin path
        {{WIDE("3"), WIDE("/delete"), WIDE("--"), WIDE("T:\\x")}, false},
        {{WIDE("-")}, false},
        {{WIDE("---")}, false},
    };
    for (const Row& row : rows) {
        std::u16string line;
        for (const WCHAR* word : row.words) line += Text(word) + u" ";
        SCOPED_TRACE(std::string(line.begin(), line.end()));
        Parsed parsed = Parse(row.words);
        EXPECT_EQ(parsed.valid, row.valid);
        EXPECT_EQ(gRun.exitCode, 0);
        if (!row.valid) continue;
        EXPECT_EQ(parsed.options, row.options);
        EXPECT_EQ(ThrowNames(), row.names);
        EXPECT_EQ(Text(gRun.bin.path), row.binPath);
        EXPECT_EQ(parsed.index, row.index);
        EXPECT_EQ(Text(gRun.restorePath), row.restorePath);
    }
    ResetRun();
}

TEST(Parser, BinPathAndRestorePath) {
    EXPECT_FALSE(Parse({WIDE("C:\\bin1"), WIDE("C:\\bin2")}).valid);
    Parsed parsed = Parse({WIDE("/view"), WIDE("C:\\bin1")});
    EXPECT_TRUE(parsed.valid);
    ASSERT_NE(gRun.bin.path, nullptr);
    EXPECT_EQ(WideCompare(gRun.bin.path, WIDE("C:\\bin1")), 0);
    parsed = Parse({WIDE("3"), WIDE("C:\\a"), WIDE("C:\\b")});
    EXPECT_TRUE(parsed.valid);
    ASSERT_NE(gRun.restorePath, nullptr);
    EXPECT_EQ(WideCompare(gRun.restorePath, WIDE("C:\\b")), 0);
    // D:\ and D:. are bin paths, not drives.
    parsed = Parse({WIDE("D:\\"), WIDE("/view")});
    EXPECT_TRUE(parsed.valid);
    EXPECT_EQ(WideCompare(gRun.bin.path, WIDE("D:\\")), 0);
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

// An index list against a listing of 5: the positions chosen, or "bad"
// for a list that breaks the grammar or leaves the range; and whether the
// parser takes it with a restore path that names no folder.
TEST(Parser, IndexListsAndWhatIf) {
    struct Row {
        const WCHAR* text;
        const char* positions;  // 0-based, ascending, or "bad"
        bool oneFileTarget;     // valid with the restore path "T:\x"
    };
    const Row rows[] = {
        {WIDE("3"), "2", true},          {WIDE("12abc"), "bad", true},  // one number, as before
        {WIDE("2,5,3-4"), "1234", false}, {WIDE("4,2,2"), "13", false},
        {WIDE("1-1,1"), "0", true},       {WIDE("5-5"), "4", true},
        {WIDE("0,1"), "bad", false},     {WIDE("1,6"), "bad", false},
        {WIDE("3-"), "bad", true},       {WIDE("5-2"), "bad", true},
        {WIDE("1,,2"), "bad", true},     {WIDE("1,"), "bad", true},
        {WIDE("1-2-3"), "bad", true},    {WIDE("2,x"), "bad", true},
        {WIDE("1,4294967297"), "bad", false},
    };
    for (const Row& row : rows) {
        std::u16string shown = Text(row.text);
        SCOPED_TRACE(std::string(shown.begin(), shown.end()));
        PositionArray positions;
        std::string chosen;
        if (SelectEntryPositions(row.text, (int32_t)WideToLong(row.text), 5, &positions) == SELECT_OK)
            for (int32_t i = 0; i < positions.Length(); ++i) chosen += (char)('0' + positions.At(i));
        else
            chosen = "bad";
        EXPECT_EQ(chosen, row.positions);
        EXPECT_EQ(Parse({row.text, WIDE("T:\\x")}).valid, row.oneFileTarget);
        EXPECT_TRUE(Parse({row.text, WIDE("T:\\x\\")}).valid);
        EXPECT_TRUE(Parse({row.text, WIDE("/delete"), WIDE("/Y")}).valid);
    }
    // /whatif: a modifier of the three commands that change the bin.
    for (auto words : std::vector<std::vector<const WCHAR*>>{
             {WIDE("/empty"), WIDE("/WHATIF")}, {WIDE("--whatif"), WIDE("/f"), WIDE("a")},
             {WIDE("/f"), WIDE("a"), WIDE("-whatif")}, {WIDE("2,3"), WIDE("/whatif"), WIDE("/delete")}}) {
        Parsed parsed = Parse(words);
        EXPECT_TRUE(parsed.valid);
        EXPECT_TRUE(parsed.options & OPT_WHATIF);
    }
    for (auto words : std::vector<std::vector<const WCHAR*>>{
             {WIDE("/whatif")}, {WIDE("/view"), WIDE("/whatif")}, {WIDE("/whatif"), WIDE("/help")},
             {WIDE("T:\\bin"), WIDE("/whatif")}, {WIDE("/whatifs"), WIDE("/empty")}})
        EXPECT_FALSE(Parse(words).valid);
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
