// Standard output in the locale's character set, and the listing's column
// widths by the ANSI code page.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "app/messages.h"
#include "app/runstate.h"
#include "ops/ops.h"
#include "platform/console.h"
#include "platform/memory.h"
#include "platform/os_posix.h"
#include "store/store.h"

namespace {

// Runs each test under one locale, read afresh, and leaves C.UTF-8 behind.
class OutputTest : public ::testing::Test {
protected:
    void TearDown() override { UseLocale("C.UTF-8"); }

    // False when the system does not have the locale.
    bool UseLocale(const char* name) {
        setenv("LC_ALL", name, 1);
        PosixResetState();
        const char* saved = std::setlocale(LC_CTYPE, nullptr);
        std::string previous = saved != nullptr ? saved : "C";
        bool known = std::setlocale(LC_CTYPE, name) != nullptr;
        std::setlocale(LC_CTYPE, previous.c_str());
        return known;
    }

    static std::string Written(const std::u16string& text) {
        testing::internal::CaptureStdout();
        WriteOutput(text.c_str(), text.size());
        FlushOutput();
        return testing::internal::GetCapturedStdout();
    }
};

struct EncodedText {
    const char16_t* text;
    const char* bytes;
};

TEST_F(OutputTest, UnicodeLocaleKeepsEveryCharacter) {
    ASSERT_TRUE(UseLocale("C.UTF-8"));
    const EncodedText cases[] = {
        {u"caf\u00e9.txt", "caf\xc3\xa9.txt"},
        {u"\u65e5\u672c\u8a9e", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"},
        {u"\u0395\u03bb \u0420\u0443 \u05e9", "\xce\x95\xce\xbb \xd0\xa0\xd1\x83 \xd7\xa9"},
        {u"\U0001F600", "\xf0\x9f\x98\x80"},
        // A surrogate without its pair is no character.
        {u"a\xd83d" u"b", "a\xef\xbf\xbd" "b"},
        {u"\xde00", "\xef\xbf\xbd"},
        {u"line\n", "line\n"},
    };
    for (const EncodedText& c : cases) EXPECT_EQ(Written(c.text), c.bytes) << (const char*)c.bytes;
}

TEST_F(OutputTest, SurrogatePairAcrossAConversionPieceStaysWhole) {
    ASSERT_TRUE(UseLocale("C.UTF-8"));
    // Text is converted a few hundred units at a time; a pair on any of the
    // boundaries is still one character.
    for (size_t before = 500; before < 520; ++before) {
        std::u16string text(before, u'a');
        text += u"\U0001F600b";
        EXPECT_EQ(Written(text), std::string(before, 'a') + "\xf0\x9f\x98\x80" "b") << before;
    }
}

TEST_F(OutputTest, JapaneseLocaleWritesUtf8Too) {
    if (!UseLocale("ja_JP.UTF-8")) GTEST_SKIP() << "no ja_JP.UTF-8 locale";
    ASSERT_EQ(GetACP(), 932u);
    EXPECT_EQ(Written(u"\u3054\u307f\u7bb1 caf\u00e9"), "\xe3\x81\x94\xe3\x81\xbf\xe7\xae\xb1 caf\xc3\xa9");
}

TEST_F(OutputTest, AsciiLocaleShowsQuestionMarks) {
    ASSERT_TRUE(UseLocale("C"));
    // No look-alikes: "cafe" would be another name.
    EXPECT_EQ(Written(u"caf\u00e9 \u65e5 \U0001F600!"), "caf? ? ?" "?!");
}

TEST_F(OutputTest, MessagesKeepTheirCharactersAndShowControlsAsQuestionMarks) {
    ASSERT_TRUE(UseLocale("C.UTF-8"));
    testing::internal::CaptureStdout();
    PrintMessage(WIDE("'%s' %d\n"), WIDE("T:\\\u00e9\u65e5\x1b]0;x\x07\x85.txt"), 5);
    FlushOutput();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "'T:\\\xc3\xa9\xe6\x97\xa5?]0;x??.txt' 5\n");
}

struct Width {
    const char16_t* text;
    size_t width;
};

TEST_F(OutputTest, ColumnWidthIsTheAnsiCodePagesByteCount) {
    ASSERT_TRUE(UseLocale("C.UTF-8"));
    ASSERT_EQ(GetACP(), 1252u);
    const Width cases[] = {
        {u"", 0},
        {u"C:\\notes.txt", 12},
        {u"caf\u00e9", 4},              // one byte in 1252
        {u"\u65e5\u672c", 2},           // one '#' each
        {u"\U0001F600", 2},             // a '#' for each unit of the pair
        {u"a\x1b" u"b\x7f\x81", 5},   // each control character one '?'
    };
    for (const Width& c : cases) EXPECT_EQ(ShownAnsiWidth(c.text), c.width) << c.width;
}

// Every unit in a path: controls (below 0x20, 0x7F to 0x9F) shown as '?',
// the rest as they are, the width that of the code page (single- and
// double-byte); a path longer than the room is refused whole.
TEST_F(OutputTest, ShownTextMasksExactlyTheControlsAndFitsItsRoom) {
    for (const char* locale : {"C.UTF-8", "ja_JP.UTF-8"}) {
        if (!UseLocale(locale)) {
            ASSERT_STRNE(locale, "C.UTF-8");  // only the Japanese locale may be missing
            continue;
        }
        for (uint32_t unit = 1; unit <= 0xFFFF; ++unit) {
            const WCHAR text[] = {'a', 'b', (WCHAR)unit, 'c', 'd', 'e', 0};
            WCHAR out[8] = {0};
            size_t length = 0, width = 0;
            ASSERT_TRUE(CopyShownText(out, 6, text, &length, &width));
            bool control = unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
            ASSERT_EQ(out[2], control ? (WCHAR)'?' : (WCHAR)unit) << unit;
            ASSERT_EQ(length, 6u);
            ASSERT_EQ(width, ShownAnsiWidth(text)) << unit;
            EXPECT_FALSE(CopyShownText(out, 5, text, &length, &width));
        }
    }
}

TEST_F(OutputTest, ColumnWidthUnderCodePage932) {
    if (!UseLocale("ja_JP.UTF-8")) GTEST_SKIP() << "no ja_JP.UTF-8 locale";
    const Width cases[] = {
        {u"\u65e5\u672c", 4},          // double-byte
        {u"\uff71", 1},                // half-width katakana: one byte
        {u"\u0395\u03bb", 4},          // Greek is double-byte in 932
        {u"caf\u00e9", 4},             // '#' for the e acute
        {u"\x80\x1b", 2},
    };
    for (const Width& c : cases) EXPECT_EQ(ShownAnsiWidth(c.text), c.width) << c.width;
}

// A listed path is shown with its characters (an ANSI path as the code page
// reads it) and padded by its bytes in the code page, as a redirected
// Windows listing is, so that the two differ in the characters only.
const uint64_t UNIX_EPOCH_FILETIME = 116444736000000000ULL;

class ListedPathTest : public OutputTest {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        gRun.language = LANGUAGE_ENGLISH;
        ASSERT_TRUE(UseLocale("C.UTF-8"));
    }
    void TearDown() override {
        FreeEntries(&gRun.bin);
        OutputTest::TearDown();
    }
    void Add(const void* path, size_t bytes, bool isWide) {
        BinEntry* entry = static_cast<BinEntry*>(MemAlloc(sizeof(BinEntry)));
        std::memset(entry, 0, sizeof *entry);
        void* copy = MemAlloc(bytes);
        std::memcpy(copy, path, bytes);
        if (isWide)
            entry->widePath = static_cast<WCHAR*>(copy);
        else
            entry->ansiPath = static_cast<char*>(copy);
        entry->attributes = FILE_ATTRIBUTE_ARCHIVE;
        entry->deletionTime = UNIX_EPOCH_FILETIME;
        gRun.bin.entries.Add(entry);
    }
    void AddAnsi(const char* path) { Add(path, std::strlen(path) + 1, false); }
    void AddWide(const std::u16string& path) { Add(path.c_str(), (path.size() + 1) * sizeof(char16_t), true); }
    std::string Lines() {
        testing::internal::CaptureStdout();
        ListEntries();
        FlushOutput();
        std::string all = testing::internal::GetCapturedStdout();
        std::string header = "Readonly)\n";
        return all.substr(all.find(header) + header.size());
    }
};

TEST_F(ListedPathTest, CharactersShownColumnsByAnsiBytes) {
    const std::string rest = " 1970/01/01 00:00:00       A---\n";
    AddAnsi("C:\\caf\xe9.txt");                  // 1252 bytes: 11 columns
    AddWide(u"C:\\\u65e5\u672c.txt");            // "C:\##.txt" in 1252: 9 columns
    AddWide(u"C:\\\U0001F600.txt");              // a '#' for each unit: 9 columns
    AddAnsi("C:\\a\x1b[2J\x9b.txt");             // the controls as '?'; 0x9B is U+203A
    AddWide(std::u16string(40, u'\u00e9'));      // wider than the column: no blank
    EXPECT_EQ("[1] C:\\caf\xc3\xa9.txt" + std::string(28, ' ') + rest +
                  "[2] C:\\\xe6\x97\xa5\xe6\x9c\xac.txt" + std::string(30, ' ') + rest +
                  "[3] C:\\\xf0\x9f\x98\x80.txt" + std::string(30, ' ') + rest +
                  "[4] C:\\a?[2J\xe2\x80\xba.txt" + std::string(26, ' ') + rest +
                  "[5] " + [] { std::string e; for (int i = 0; i < 40; ++i) e += "\xc3\xa9"; return e; }() + rest,
              Lines());
}

}  // namespace

