// Throwing into a per-item bin, on the in-memory disk: the $I files and
// their $R items, how their names are drawn, and what is left when a step
// fails.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/throw_fixture.h"

namespace {

using namespace throwtest;

const std::string ITEM_READING = "Reading: C:\\$Recycle.Bin\\S-1 ...\n";
const std::string CREATE_FAILED = "Error: Cannot create data for the Recycle Bin (C:\\$Recycle.Bin\\S-1).\n";

// A $I file carries all 64 bits.
TEST_F(ThrowTest, ItemBinKeepsTheWholeSize) {
    MakeItemBin();
    const uint64_t huge = (5ULL << 30) + 3;
    File(u"C:\\work\\huge.iso", huge);
    Throw({u"C:\\work\\huge.iso"});
    EXPECT_EQ(gRun.exitCode, 0);
    std::vector<std::string> names = fakedisk::Listing(ITEM_BIN);
    ASSERT_EQ(names.size(), 3u) << testing::PrintToString(names);
    Bytes info = ReadFile(ITEM_BIN + u"\\" + fakedisk::Widen(names[0]));
    ASSERT_EQ(info.size(), 544u);
    EXPECT_EQ(Get64(info, 8), huge);
}

// --- The per-item layout ------------------------------------------------

// The six characters of a $I or $R name, with the rest checked.
std::string ItemCode(const std::string& name, const std::string& prefix, const std::string& extension) {
    std::regex shape("\\" + prefix + "([0-9A-Z]{6})" + (extension.empty() ? "" : "\\." + extension));
    std::smatch match;
    if (!std::regex_match(name, match, shape)) return "<" + name + ">";
    return match[1];
}

TEST_F(ThrowTest, ItemBinGetsItemIndexFilesAndDataItems) {
    MakeItemBin();
    File(u"C:\\work\\a.txt", 1234);
    File(u"C:\\work\\README", 70000);
    AddNode(u"C:\\work\\sub", ATTR_DIRECTORY);
    fakedisk::SeedRandom(11);
    time_t before = std::time(nullptr);
    std::string out = Throw({u"C:\\work\\*"});
    time_t after = std::time(nullptr);

    EXPECT_EQ(out, "Reading: C:\\$Recycle.Bin\\S-1 ...\nC:\\work\\a.txt\nC:\\work\\README\nC:\\work\\sub\n" + THROW_OK);
    EXPECT_EQ(gRun.exitCode, 0);
    std::vector<std::string> names = fakedisk::Listing(ITEM_BIN);
    ASSERT_EQ(names.size(), 7u) << testing::PrintToString(names);  // desktop.ini too
    struct Expected {
        std::string path, extension;
        uint32_t size;
    };
    const Expected items[] = {{"C:\\work\\a.txt", "txt", 1234}, {"C:\\work\\README", "", 70000}, {"C:\\work\\sub", "", 0}};
    std::set<std::string> codes;
    for (const Expected& item : items) {
        SCOPED_TRACE(item.path);
        // Find the $I file that records this path.
        bool found = false;
        for (const std::string& name : names) {
            if (name.compare(0, 2, "$I") != 0) continue;
            Bytes info = ReadFile(ITEM_BIN + u"\\" + fakedisk::Widen(name));
            ASSERT_EQ(info.size(), 544u);
            if (WideField(info, 24) != item.path) continue;
            found = true;
            std::string code = ItemCode(name, "$I", item.extension);
            codes.insert(code);
            EXPECT_EQ(Get64(info, 0), 1u);
            EXPECT_EQ(Get64(info, 8), item.size);
            EXPECT_GE(Get64(info, 16), FileTimeOf(before));
            EXPECT_LE(Get64(info, 16), FileTimeOf(after));
            for (size_t k = 24 + 2 * item.path.size(); k < 544; ++k) ASSERT_EQ(info[k], 0) << k;
            std::string data = "$R" + name.substr(2);
            EXPECT_TRUE(Exists(ITEM_BIN + u"\\" + fakedisk::Widen(data))) << data;
        }
        EXPECT_TRUE(found);
    }
    EXPECT_EQ(codes.size(), 3u);
    for (const std::string& code : codes) EXPECT_EQ(code.size(), 6u) << code;
}

TEST_F(ThrowTest, ItemBinFailedMoveRemovesTheIndexFile) {
    MakeItemBin();
    File(u"C:\\work\\a.txt", 10);
    File(u"C:\\work\\b.txt", 10);
    disk.refuseMove.insert(Fold(u"C:\\work\\a.txt"));
    std::string out = Throw({u"C:\\work\\*.txt"});
    EXPECT_EQ(out, "Reading: C:\\$Recycle.Bin\\S-1 ...\nC:\\work\\a.txt\n" + UNKNOWN + "C:\\work\\b.txt\n");
    EXPECT_EQ(gRun.exitCode, 255);
    std::vector<std::string> names = fakedisk::Listing(ITEM_BIN);
    ASSERT_EQ(names.size(), 3u) << testing::PrintToString(names);  // desktop.ini last
    Bytes info = ReadFile(ITEM_BIN + u"\\" + fakedisk::Widen(names[0].compare(0, 2, "$I") == 0 ? names[0] : names[1]));
    EXPECT_EQ(WideField(info, 24), "C:\\work\\b.txt");
    EXPECT_TRUE(Exists(u"C:\\work\\a.txt"));
}

TEST_F(ThrowTest, ItemBinCreateFailureStopsTheName) {
    MakeItemBin();
    File(u"C:\\work\\a.txt", 10);
    File(u"C:\\work\\b.txt", 10);
    disk.createError = ERROR_ACCESS_DENIED;
    std::string out = Throw({u"C:\\work\\*.txt"});
    EXPECT_EQ(out, ITEM_READING + "C:\\work\\a.txt\n" + CREATE_FAILED);
    EXPECT_EQ(gRun.exitCode, EXIT_CREATE_FAILED);
    EXPECT_EQ(fakedisk::Listing(ITEM_BIN), std::vector<std::string>({"desktop.ini"}));
    EXPECT_TRUE(Exists(u"C:\\work\\b.txt"));
}

// The $I names that MakeItemIndexName draws from a source seeded with
// `seed`, in order:
// every attempt is made to fail, and the names asked about are noted.
std::vector<std::u16string> DrawnNames(unsigned seed) {
    sTakenNames = [](const std::u16string&) { return true; };
    sQueriedPaths.clear();
    fakedisk::SeedRandom(seed);
    ItemNameResult result;
    EXPECT_EQ(MakeItemIndexName((const WCHAR*)ITEM_BIN.c_str(), WIDE("$I"), WIDE("txt"), nullptr, &result),
              nullptr);
    sTakenNames = nullptr;
    return sQueriedPaths;
}

std::u16string DataNameOf(std::u16string indexName) {
    indexName[ITEM_BIN.size() + 2] = u'R';
    return indexName;
}

// An orphan $R item (its $I file lost) must not be paired with a new $I.
TEST_F(ThrowTest, ItemBinAvoidsOrphanDataItems) {
    MakeItemBin();
    std::vector<std::u16string> drawn = DrawnNames(9);
    ASSERT_EQ(drawn.size(), (size_t)MAX_NAME_ATTEMPTS);
    AddNode(DataNameOf(drawn[0]), ATTR_FILE);
    File(u"C:\\work\\a.txt", 10);
    fakedisk::SeedRandom(9);
    Throw({u"C:\\work\\a.txt"});
    EXPECT_EQ(gRun.exitCode, 0);
    EXPECT_FALSE(Exists(drawn[0]));
    EXPECT_TRUE(Exists(DataNameOf(drawn[0])));
    EXPECT_TRUE(Exists(drawn[1]));
    EXPECT_TRUE(Exists(DataNameOf(drawn[1])));
}

TEST_F(ThrowTest, ItemBinWithNoFreeNameReportsCreateFailure) {
    MakeItemBin();
    for (const std::u16string& name : DrawnNames(9)) AddNode(DataNameOf(name), ATTR_FILE);
    File(u"C:\\work\\a.txt", 10);
    size_t before = fakedisk::Listing(ITEM_BIN).size();
    fakedisk::SeedRandom(9);
    std::string out = Throw({u"C:\\work\\a.txt"});
    EXPECT_EQ(out, ITEM_READING + "C:\\work\\a.txt\n" + CREATE_FAILED);
    EXPECT_EQ(gRun.exitCode, EXIT_CREATE_FAILED);
    EXPECT_TRUE(Exists(u"C:\\work\\a.txt"));
    EXPECT_EQ(fakedisk::Listing(ITEM_BIN).size(), before);
}

// Another run takes the drawn name after this one read the folder: the $I
// file is never created over its file, nor the item moved onto its $R; the
// next name is drawn and the other run's files stay as they were. When it
// takes every name drawn, the throw stops with the create failure.
TEST_F(ThrowTest, ItemBinNameTakenMeanwhileMeansAnotherName) {
    const Bytes theirs = {'t', 'h', 'e', 'i', 'r', 's'};
    const struct {
        const char* what;
        bool takeIndex;  // their $I file, else their $R item
        bool every;      // every name drawn, else the first
    } rows[] = {
        {"their $I", true, false},
        {"their $R", false, false},
        {"every $I", true, true},
        {"every $R", false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TearDown();
        disk = fakedisk::Disk();
        SetUp();
        MakeItemBin();
        std::vector<std::u16string> drawn = DrawnNames(21);
        File(u"C:\\work\\a.txt", 10);
        std::vector<std::u16string> taken;
        disk.beforeCreate = [&](const std::u16string& path) {
            if (!row.every && !taken.empty()) return;
            std::u16string name = row.takeIndex ? path : DataNameOf(path);
            WriteFile(name, theirs);
            taken.push_back(name);
        };
        fakedisk::SeedRandom(21);
        std::string out = Throw({u"C:\\work\\a.txt"});

        std::vector<std::string> creates;
        for (const std::string& entry : disk.log)
            if (entry.rfind("create ", 0) == 0) creates.push_back(entry.substr(7));
        for (size_t i = 0; i < creates.size(); ++i) EXPECT_EQ(creates[i], Narrow(drawn[i])) << i;
        for (const std::u16string& name : taken) EXPECT_EQ(ReadFile(name), theirs) << Narrow(name);
        for (size_t i = 0; i < taken.size(); ++i) {
            // Ours went again: no $I of ours beside their $R, no item on it.
            EXPECT_FALSE(Exists(row.takeIndex ? DataNameOf(drawn[i]) : drawn[i])) << i;
        }
        if (row.every) {
            EXPECT_EQ(creates.size(), (size_t)MAX_NAME_ATTEMPTS);
            EXPECT_EQ(gRun.exitCode, 65);
            EXPECT_NE(out.find("Error: Cannot create data for the Recycle Bin"), std::string::npos) << out;
            EXPECT_TRUE(Exists(u"C:\\work\\a.txt"));
        } else {
            ASSERT_EQ(creates.size(), 2u);
            EXPECT_EQ(gRun.exitCode, 0) << out;
            EXPECT_FALSE(Exists(u"C:\\work\\a.txt"));
            EXPECT_EQ(WideField(ReadFile(drawn[1]), 24), "C:\\work\\a.txt");
            EXPECT_TRUE(Exists(DataNameOf(drawn[1])));
        }
    }
}

// Without random bytes there is no name nobody can foresee: nothing is
// created.
TEST_F(ThrowTest, ItemBinWithoutARandomSourceCreatesNothing) {
    MakeItemBin();
    File(u"C:\\work\\a.txt", 10);
    disk.randomFails = true;
    std::string out = Throw({u"C:\\work\\a.txt"});
    EXPECT_EQ(out, ITEM_READING + "C:\\work\\a.txt\n" + CREATE_FAILED);
    EXPECT_EQ(gRun.exitCode, EXIT_CREATE_FAILED);
    EXPECT_TRUE(Exists(u"C:\\work\\a.txt"));
    EXPECT_EQ(fakedisk::Listing(ITEM_BIN), std::vector<std::string>({"desktop.ini"}));
}

// --- Item index names ---------------------------------------------------

TEST_F(ThrowTest, ItemIndexNameShape) {
    MakeItemBin();
    ItemNameResult result = ITEM_NAME_NO_MEMORY;
    WCHAR* name = MakeItemIndexName(WIDE("C:\\bin"), WIDE("$I"), WIDE("txt"), nullptr, &result);
    ASSERT_EQ(result, ITEM_NAME_OK);
    std::string text = Narrow(Text(name));
    MemFree(name);
    ASSERT_EQ(text.compare(0, 7, "C:\\bin\\"), 0) << text;
    EXPECT_EQ(ItemCode(text.substr(7), "$I", "txt").size(), 6u) << text;

    name = MakeItemIndexName(WIDE("C:\\bin\\"), WIDE("$I"), nullptr, nullptr, &result);
    text = Narrow(Text(name));
    MemFree(name);
    ASSERT_EQ(text.compare(0, 7, "C:\\bin\\"), 0) << text;
    EXPECT_EQ(ItemCode(text.substr(7), "$I", "").size(), 6u) << text;

    // Only the first three characters of a prefix are kept.
    name = MakeItemIndexName(WIDE("C:\\bin"), WIDE("ABCDE"), nullptr, nullptr, &result);
    text = Narrow(Text(name));
    MemFree(name);
    EXPECT_TRUE(std::regex_match(text, std::regex("C:\\\\bin\\\\ABC[0-9A-Z]{5}"))) << text;
}

TEST_F(ThrowTest, ItemIndexNameAvoidsBothNames) {
    MakeItemBin();
    ItemNameResult result;
    fakedisk::SeedRandom(5);
    WCHAR* first = MakeItemIndexName((const WCHAR*)ITEM_BIN.c_str(), WIDE("$I"), WIDE("txt"), nullptr, &result);
    ASSERT_NE(first, nullptr);
    std::u16string firstName = Text(first);
    MemFree(first);

    // An orphan data item of that name: the same draw must move on.
    std::u16string orphan = firstName;
    orphan[ITEM_BIN.size() + 2] = u'R';
    AddNode(orphan, ATTR_FILE);
    fakedisk::SeedRandom(5);
    WCHAR* second = MakeItemIndexName((const WCHAR*)ITEM_BIN.c_str(), WIDE("$I"), WIDE("txt"), nullptr, &result);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(Text(second), firstName);
    MemFree(second);

    // An index file of that name, likewise.
    fakedisk::gDisk->nodes.erase(Fold(orphan));
    AddNode(firstName, ATTR_FILE);
    fakedisk::SeedRandom(5);
    second = MakeItemIndexName((const WCHAR*)ITEM_BIN.c_str(), WIDE("$I"), WIDE("txt"), nullptr, &result);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(Text(second), firstName);
    MemFree(second);
}

TEST_F(ThrowTest, ItemIndexNameGivesUpAfterTenAttempts) {
    MakeItemBin();
    sTakenNames = [](const std::u16string&) { return true; };
    ItemNameResult result = ITEM_NAME_OK;
    EXPECT_EQ(MakeItemIndexName(WIDE("C:\\bin"), WIDE("$I"), WIDE("txt"), nullptr, &result), nullptr);
    EXPECT_EQ(result, ITEM_NAME_NONE_FREE);
    EXPECT_EQ(sAttributeQueries, MAX_NAME_ATTEMPTS);

    std::u16string deep = u"C:\\" + std::u16string(250, u'd');
    EXPECT_EQ(MakeItemIndexName((const WCHAR*)deep.c_str(), WIDE("$I"), WIDE("txt"), nullptr, &result), nullptr);
    EXPECT_EQ(result, ITEM_NAME_TOO_LONG);

    sTakenNames = nullptr;
    MemSetFailAt(1);
    WCHAR* name = MakeItemIndexName(WIDE("C:\\bin"), WIDE("$I"), WIDE("txt"), nullptr, &result);
    MemSetFailAt(0);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(result, ITEM_NAME_NO_MEMORY);
}

}  // namespace
