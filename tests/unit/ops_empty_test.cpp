// Emptying the bin on an in-memory disk: the index's bytes afterwards, what
// is removed and what stays, the output, and every failure's outcome.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "ops/ops.h"
#include "support/fake_disk.h"
#include "support/run.h"
#include "support/store_bytes.h"
#include "platform/memory.h"

namespace {

using fakedisk::ATTR_DIRECTORY;
using fakedisk::ATTR_FILE;
using fakedisk::AddNode;
using fakedisk::Exists;
using fakedisk::Listing;
using fakedisk::ReadFile;
using fakedisk::WriteFile;
using storebytes::Header;
using storebytes::Index;
using storebytes::Record;

const Record kFirst = {"C:\\work\\a.txt", u"C:\\work\\a.txt", 1, 2, 130000000000000000ULL, 4096, false};
const Record kSecond = {"C:\\work\\dir", u"C:\\work\\dir", 2, 2, 130000000010000000ULL, 8192, false};

std::string Captured(void (*run)()) {
    testing::internal::CaptureStdout();
    run();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

size_t WriteNothing(const void*, size_t, size_t, FILE*) { return 0; }

class EmptyTest : public ::testing::Test {
protected:
    fakedisk::Disk disk;
    void SetUp() override {
        fakedisk::Install(&disk);
        AddNode(u"C:", ATTR_DIRECTORY);
        AddNode(u"C:\\bin", ATTR_DIRECTORY);
    }
    void TearDown() override {
        MemSetFailAt(0);
        testrun::ClearRun();
        EXPECT_EQ(disk.openSearches, 0);
        fakedisk::Uninstall();
    }
    // An INFO2 bin with two loaded entries, their data items (a file and a
    // directory), the marker and a file that is no data item.
    std::vector<uint8_t> MakeInfo2Bin(const WCHAR* binPath) {
        testrun::StartRun(binPath, FORMAT_INFO2);
        gRun.options = OPT_EMPTY | OPT_YES;
        std::vector<uint8_t> index = Index(Header(5, 2, 3, 800, 12288), 800, {kFirst, kSecond});
        WriteFile(u"C:\\bin\\INFO2", index);
        AddNode(u"C:\\bin\\Dc1.txt", ATTR_FILE);
        AddNode(u"C:\\bin\\Dc2", ATTR_DIRECTORY);
        AddNode(u"C:\\bin\\Dc2\\inner.txt", ATTR_FILE);
        AddNode(u"C:\\bin\\desktop.ini", ATTR_FILE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        AddNode(u"C:\\bin\\notes.txt", ATTR_FILE);
        gRun.bin.entries.Add(storebytes::Entry(kFirst, true));
        gRun.bin.entries.Add(storebytes::Entry(kSecond, true));
        return index;
    }
};

TEST_F(EmptyTest, IndexLayoutKeepsBareHeaderAndRemovesEveryDataItem) {
    MakeInfo2Bin(WIDE("C:\\bin"));
    EXPECT_EQ(Captured(RunEmptyCommand),
              "Deleting...\nC:\\bin\\Dc1.txt\nC:\\bin\\Dc2\n\nFinished.\nThe Recycle Bin has emptied.\n");
    EXPECT_EQ(gRun.exitCode, 0);
    EXPECT_EQ(ReadFile(u"C:\\bin\\INFO2"), Header(5, 0, 0, 800, 0));
    EXPECT_EQ(Listing(u"C:\\bin"), std::vector<std::string>({"desktop.ini", "INFO2", "notes.txt"}));
}

TEST_F(EmptyTest, BinPathEndingInBackslashGetsNoSecondOne) {
    MakeInfo2Bin(WIDE("C:\\bin\\"));
    EXPECT_EQ(Captured(RunEmptyCommand),
              "Deleting...\nC:\\bin\\Dc1.txt\nC:\\bin\\Dc2\n\nFinished.\nThe Recycle Bin has emptied.\n");
    EXPECT_EQ(ReadFile(u"C:\\bin\\INFO2"), Header(5, 0, 0, 800, 0));
}

TEST_F(EmptyTest, IndexIsResetEvenWithoutDataItems) {
    testrun::StartRun(WIDE("C:\\bin"), FORMAT_INFO);
    gRun.options = OPT_EMPTY | OPT_YES;
    WriteFile(u"C:\\bin\\INFO", Index(Header(0x12345678, 1, 2, 280, 99), 280, {kFirst}));
    gRun.bin.entries.Add(storebytes::Entry(kFirst, false));
    EXPECT_EQ(Captured(RunEmptyCommand), "The Recycle Bin has emptied.\n");
    EXPECT_EQ(gRun.exitCode, 0);
    EXPECT_EQ(ReadFile(u"C:\\bin\\INFO"), Header(0x12345678, 0, 0, 280, 0));
}

TEST_F(EmptyTest, NoEntriesTouchesNothing) {
    MakeInfo2Bin(WIDE("C:\\bin"));
    testrun::ClearRun();
    testrun::StartRun(WIDE("C:\\bin"), FORMAT_INFO2);
    disk.log.clear();
    EXPECT_EQ(Captured(RunEmptyCommand), "The Recycle Bin is already empty.\n");
    EXPECT_EQ(gRun.exitCode, 3);
    EXPECT_TRUE(disk.log.empty());
    EXPECT_TRUE(Exists(u"C:\\bin\\Dc1.txt"));
}

// A header that cannot be read whole gives nothing sound to write back.
TEST_F(EmptyTest, UnreadableHeaderLeavesTheBinAsItWas) {
    MakeInfo2Bin(WIDE("C:\\bin"));
    std::vector<uint8_t> shortIndex = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0};
    WriteFile(u"C:\\bin\\INFO2", shortIndex);
    EXPECT_EQ(Captured(RunEmptyCommand), "Error: Failed to empty the Recycle Bin (C:\\bin).\n");
    EXPECT_EQ(gRun.exitCode, 64);
    EXPECT_EQ(ReadFile(u"C:\\bin\\INFO2"), shortIndex);
    EXPECT_TRUE(Exists(u"C:\\bin\\Dc1.txt"));
    EXPECT_TRUE(Exists(u"C:\\bin\\Dc2\\inner.txt"));
}

// Without its index the bin cannot be locked: nothing is removed. A header
// that cannot be written after the items went leaves the index as it was.
TEST_F(EmptyTest, MissingIndexRemovesNothingAndFailedRewriteKeepsTheIndex) {
    std::vector<uint8_t> index = MakeInfo2Bin(WIDE("C:\\bin"));
    gRun.bin.format = FORMAT_INFO;  // "INFO" is not there
    EXPECT_EQ(Captured(RunEmptyCommand), "Error: Reading the data in the Recycle Bin (C:\\bin) failed.\n");
    EXPECT_EQ(gRun.exitCode, 61);
    EXPECT_EQ(Listing(u"C:\\bin").size(), 6u);

    gRun.bin.format = FORMAT_INFO2;
    gRun.exitCode = 0;
    gSys.write = WriteNothing;
    EXPECT_EQ(Captured(RunEmptyCommand),
              "Deleting...\nC:\\bin\\Dc1.txt\nC:\\bin\\Dc2\n\nFinished.\n"
              "Error: Failed to empty the Recycle Bin (C:\\bin).\n");
    EXPECT_EQ(gRun.exitCode, 64);
    EXPECT_EQ(ReadFile(u"C:\\bin\\INFO2"), index);
    EXPECT_FALSE(Exists(u"C:\\bin\\Dc1.txt"));
}

// The pass runs to its end; what could not be removed turns the result into
// a failure instead of a success, and keeps its record: the record of the
// item that went is marked removed and the header counts what stays.
TEST_F(EmptyTest, LeftoverDataItemIsReportedAfterTheWholePass) {
    std::vector<uint8_t> index = MakeInfo2Bin(WIDE("C:\\bin"));
    AddNode(u"C:\\bin\\Dc2\\locked.txt", ATTR_FILE | FILE_ATTRIBUTE_READONLY);
    AddNode(u"C:\\bin\\Dc3.doc", ATTR_FILE);
    EXPECT_EQ(Captured(RunEmptyCommand),
              "Deleting...\nC:\\bin\\Dc1.txt\nC:\\bin\\Dc2\nC:\\bin\\Dc3.doc\n\nFinished.\n"
              "Error: Failed to empty the Recycle Bin (C:\\bin).\n");
    EXPECT_EQ(gRun.exitCode, 64);
    std::vector<uint8_t> swept = index;
    swept[20] = 0;  // kFirst's record; Dc2 keeps number 2 in use, 0 is free
    std::vector<uint8_t> header = Header(5, 1, 0, 800, (uint32_t)kSecond.size);
    std::copy(header.begin(), header.end(), swept.begin());
    EXPECT_EQ(ReadFile(u"C:\\bin\\INFO2"), swept);
    EXPECT_EQ(Listing(u"C:\\bin"),
              std::vector<std::string>({"Dc2\\", "Dc2\\locked.txt", "desktop.ini", "INFO2", "notes.txt"}));
}

BOOL DeleteNothing(const WCHAR*) { return TRUE; }

// A deletion reported done for a file that stays (Wine on a read-only
// mount) does not count: the items are still there and keep their records;
// the header is counted afresh.
TEST_F(EmptyTest, DeletionReportedForAFileThatStaysKeepsItsRecord) {
    std::vector<uint8_t> index = MakeInfo2Bin(WIDE("C:\\bin"));
    gSys.deleteFileW = DeleteNothing;
    std::string output = Captured(RunEmptyCommand);
    EXPECT_NE(output.find("Error: Failed to empty the Recycle Bin (C:\\bin).\n"), std::string::npos) << output;
    EXPECT_EQ(gRun.exitCode, 64);
    EXPECT_TRUE(Exists(u"C:\\bin\\Dc1.txt"));
    EXPECT_TRUE(Exists(u"C:\\bin\\Dc2\\inner.txt"));
    std::vector<uint8_t> counted = Header(5, 2, 0, 800, 12288);  // 1 and 2 in use, 0 free
    std::copy(counted.begin(), counted.end(), index.begin());
    EXPECT_EQ(ReadFile(u"C:\\bin\\INFO2"), index);
}

TEST_F(EmptyTest, OutOfMemoryWhileCollectingChangesNothing) {
    for (long failAt = 1; failAt <= 6; ++failAt) {
        std::vector<uint8_t> index = MakeInfo2Bin(WIDE("C:\\bin"));
        ASSERT_TRUE(LockBin(&gRun.bin, gRun.lockWaitMs));
        testing::internal::CaptureStdout();
        MemSetFailAt(failAt);
        bool emptied = EmptyStore();
        MemSetFailAt(0);
        UnlockBin(&gRun.bin);
        testing::internal::GetCapturedStdout();
        EXPECT_FALSE(emptied) << failAt;
        EXPECT_EQ(gRun.exitCode, 254) << failAt;
        EXPECT_EQ(ReadFile(u"C:\\bin\\INFO2"), index) << failAt;
        EXPECT_EQ(Listing(u"C:\\bin").size(), 6u) << failAt;
    }
}

class ItemFilesEmptyTest : public EmptyTest {
protected:
    void SetUp() override {
        EmptyTest::SetUp();
        AddNode(u"C:\\$RECYCLE.BIN", ATTR_DIRECTORY);
        AddNode(u"C:\\$RECYCLE.BIN\\S-1-5", ATTR_DIRECTORY);
        testrun::StartRun(WIDE("C:\\$RECYCLE.BIN\\S-1-5"), FORMAT_ITEM_FILES);
        gRun.options = OPT_EMPTY | OPT_YES;
        WriteFile(u"C:\\$RECYCLE.BIN\\S-1-5\\$IAB12CD.txt", storebytes::ItemV1(u"C:\\a.txt", 0, 0));
        AddNode(u"C:\\$RECYCLE.BIN\\S-1-5\\$RAB12CD.txt", ATTR_FILE);
        WriteFile(u"C:\\$RECYCLE.BIN\\S-1-5\\$IZZ0000", storebytes::ItemV1(u"C:\\b", 0, 0));
        AddNode(u"C:\\$RECYCLE.BIN\\S-1-5\\$RQQ1111", ATTR_FILE);
        AddNode(u"C:\\$RECYCLE.BIN\\S-1-5\\desktop.ini", ATTR_FILE);
        gRun.bin.entries.Add(storebytes::ItemEntry(u"C:\\a.txt", u"C:\\$RECYCLE.BIN\\S-1-5\\$RAB12CD.txt"));
        gRun.bin.entries.Add(storebytes::ItemEntry(u"C:\\b", u"C:\\$RECYCLE.BIN\\S-1-5\\$RZZ0000"));
    }
};

// Each $I file is followed by its $R partner, whether that exists or not;
// one that never existed is no failure.
TEST_F(ItemFilesEmptyTest, PairsRemovedSideBySide) {
    EXPECT_EQ(Captured(RunEmptyCommand),
              "Deleting...\n"
              "C:\\$RECYCLE.BIN\\S-1-5\\$IAB12CD.txt\nC:\\$RECYCLE.BIN\\S-1-5\\$RAB12CD.txt\n"
              "C:\\$RECYCLE.BIN\\S-1-5\\$IZZ0000\nC:\\$RECYCLE.BIN\\S-1-5\\$RZZ0000\n"
              "\nFinished.\nThe Recycle Bin has emptied.\n");
    EXPECT_EQ(gRun.exitCode, 0);
    EXPECT_EQ(Listing(u"C:\\$RECYCLE.BIN\\S-1-5"), std::vector<std::string>({"$RQQ1111", "desktop.ini"}));
    EXPECT_TRUE(Exists(u"C:\\$RECYCLE.BIN"));
}

// Its $R item goes first, so a $R that stays keeps its $I file and is still
// listed.
TEST_F(ItemFilesEmptyTest, DataItemThatStaysFailsTheEmptying) {
    AddNode(u"C:\\$RECYCLE.BIN\\S-1-5\\$RAB12CD.txt", ATTR_FILE | FILE_ATTRIBUTE_READONLY);
    std::string output = Captured(RunEmptyCommand);
    EXPECT_NE(output.find("Finished.\nError: Failed to empty the Recycle Bin (C:\\$RECYCLE.BIN\\S-1-5).\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(gRun.exitCode, 64);
    EXPECT_EQ(Listing(u"C:\\$RECYCLE.BIN\\S-1-5"),
              std::vector<std::string>({"$IAB12CD.txt", "$RAB12CD.txt", "$RQQ1111", "desktop.ini"}));
}

}  // namespace
