// The listing's exact lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "app/runstate.h"
#include "ops/ops.h"
#include "platform/memory.h"
#include "store/store.h"

namespace {

const uint64_t EPOCH = 116444736000000000ULL;
// Split so that no compiler mode reads a "??/" trigraph.
const std::string PLACEHOLDER = "????" "/??" "/??" " ??:??:??";

uint64_t At(int64_t seconds) { return EPOCH + (uint64_t)(seconds * 10000000LL); }

// One entry line: the path padded to 39 bytes, then time and attributes.
std::string Line(const std::string& number, const std::string& path, const std::string& time,
                 const std::string& attributes) {
    std::string padded = path.size() < 39 ? path + std::string(39 - path.size(), ' ') : path;
    return "[" + number + "] " + padded + " " + time + " " + attributes + "\n";
}

class ListTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        gRun.language = LANGUAGE_ENGLISH;
    }
    void TearDown() override { FreeEntries(&gRun.bin); }

    void Add(const std::string& path, uint64_t time, uint32_t attributes) {
        BinEntry* entry = static_cast<BinEntry*>(MemAlloc(sizeof(BinEntry)));
        std::memset(entry, 0, sizeof *entry);
        char* copy = static_cast<char*>(MemAlloc(path.size() + 1));
        std::memcpy(copy, path.c_str(), path.size() + 1);
        entry->ansiPath = copy;
        entry->deletionTime = time;
        entry->attributes = attributes;
        gRun.bin.entries.Add(entry);
    }
    std::string Listing() {
        testing::internal::CaptureStdout();
        ListEntries();
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
    // The entry lines only, after the header.
    std::string Lines() {
        std::string all = Listing();
        std::string header = "Readonly)\n";
        return all.substr(all.find(header) + header.size());
    }
};

TEST_F(ListTest, EmptyBinHasNoHeader) {
    EXPECT_EQ("\nThe number of files: 0\n\nThe Recycle Bin is empty.\n", Listing());
}

TEST_F(ListTest, ColumnsOfOneLine) {
    Add("C:\\work\\notes.txt", At(1272717296), FILE_ATTRIBUTE_ARCHIVE);
    Add("C:\\work\\old", At(1272787200), FILE_ATTRIBUTE_DIRECTORY);
    Add("C:\\tmp\\report.doc", At(1272931199), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    Add("C:\\x", At(0), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    Add("C:\\gone", At(60), 0);
    EXPECT_EQ("\nThe number of files: 5\n"
              "Index, File name, Timestamp, Attributes (<DIR> Archive System Hidden Readonly)\n"
              "[1] C:\\work\\notes.txt                       2010/05/01 12:34:56       A---\n"
              "[2] C:\\work\\old                             2010/05/02 08:00:00 <DIR> ----\n"
              "[3] C:\\tmp\\report.doc                       2010/05/03 23:59:59       A--R\n" +
                  Line("4", "C:\\x", "1970/01/01 00:00:00", "<DIR> ASHR") +
                  Line("5", "C:\\gone", "1970/01/01 00:01:00", "      ----"),
              Listing());
}

TEST_F(ListTest, NumberColumnFollowsTheCount) {
    for (int i = 0; i < 9; ++i) Add("p", At(0), 0);
    std::string nine = Lines();
    EXPECT_EQ(0u, nine.find("[1] p "));
    EXPECT_NE(std::string::npos, nine.find("\n[9] p "));
    Add("p", At(0), 0);
    std::string ten = Lines();
    EXPECT_EQ(0u, ten.find("[ 1] p "));
    EXPECT_NE(std::string::npos, ten.find("\n[10] p "));
    for (int i = 10; i < 100; ++i) Add("p", At(0), 0);
    std::string hundred = Lines();
    EXPECT_EQ(0u, hundred.find("[  1] p "));
    EXPECT_NE(std::string::npos, hundred.find("\n[ 99] p "));
    EXPECT_NE(std::string::npos, hundred.find("\n[100] p "));
}

TEST_F(ListTest, LongPathsPushTheRestRight) {
    std::string p39(39, 'a'), p40(40, 'b');
    Add(p39, At(0), 0);
    Add(p40, At(0), 0);
    EXPECT_EQ("[1] " + p39 + " 1970/01/01 00:00:00       ----\n"
              "[2] " + p40 + " 1970/01/01 00:00:00       ----\n",
              Lines());
}

TEST_F(ListTest, RejectedTimesShowThePlaceholderAndTheListingGoesOn) {
    Add("before", At(-1), 0);
    Add("after", At(32535216000LL), 0);
    Add("last", At(32535215999LL), 0);
    Add("wild", 0xFFFFFFFFFFFFFFFFULL, 0);
    Add("zero", 0, 0);
    std::string lines = Lines();
    EXPECT_EQ(Line("1", "before", PLACEHOLDER, "      ----") + Line("2", "after", PLACEHOLDER, "      ----") +
                  Line("3", "last", "3000/12/31 23:59:59", "      ----") +
                  Line("4", "wild", PLACEHOLDER, "      ----") + Line("5", "zero", PLACEHOLDER, "      ----"),
              lines);
}

TEST_F(ListTest, LocalTime) {
    setenv("TZ", "JST-9", 1);
    tzset();
    char text[32];
    FormatDeletionTime(At(1272717296), text, sizeof text);
    EXPECT_STREQ("2010/05/01 21:34:56", text);
    FormatDeletionTime(At(-1), text, sizeof text);
    EXPECT_EQ(PLACEHOLDER, text);
    char small[8];
    FormatDeletionTime(At(1272717296), small, sizeof small);
    EXPECT_STREQ("2010/05", small);
}

}  // namespace
