// Throwing into an index bin, on the in-memory disk: the bytes of the
// header and the records, the names of the data items, what is left behind
// when a step fails, and the names a throw refuses (any layout).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/throw_fixture.h"

namespace {

using namespace throwtest;

// --- The index layouts ------------------------------------------------------

TEST_F(ThrowTest, IndexBinGetsHeaderRecordsAndDataItems) {
    MakeIndexBin();
    File(u"C:\\work\\a.txt", 1);
    File(u"C:\\work\\b.dat", 4096);
    File(u"C:\\work\\README", 5000);
    AddNode(u"C:\\work\\sub", ATTR_DIRECTORY);
    AddNode(u"C:\\work\\sub\\inner.txt", ATTR_FILE);
    time_t before = std::time(nullptr);
    std::string out = Throw({u"C:\\work\\*"});
    time_t after = std::time(nullptr);

    EXPECT_EQ(out, READING + "C:\\work\\a.txt\nC:\\work\\b.dat\nC:\\work\\README\nC:\\work\\sub\n" + THROW_OK);
    EXPECT_EQ(gRun.exitCode, 0);
    Bytes index = ReadFile(INFO2);
    ASSERT_EQ(index.size(), 20u + 9 * 800);
    // Four more live entries; the sizes rounded to 4096-byte clusters (the
    // directory counts 0); the next number is the one after the last taken.
    EXPECT_EQ(Slice(index, 0, 20), Header(9, 9, 800, OLD_TOTAL + 4096 + 4096 + 8192 + 0));

    const char* paths[] = {"C:\\work\\a.txt", "C:\\work\\b.dat", "C:\\work\\README", "C:\\work\\sub"};
    const uint32_t sizes[] = {4096, 4096, 8192, 0};
    std::vector<Bytes> records = Records(index, 800);
    for (uint32_t i = 0; i < 4; ++i) {
        const Bytes& r = records[OLD_ENTRIES + i];
        SCOPED_TRACE(paths[i]);
        EXPECT_EQ(AnsiField(r, 0), paths[i]);
        EXPECT_EQ(Get32(r, 260), OLD_ENTRIES + i);
        EXPECT_EQ(Get32(r, 264), 2u);  // C:
        EXPECT_GE(Get64(r, 268), FileTimeOf(before));
        EXPECT_LE(Get64(r, 268), FileTimeOf(after));
        EXPECT_EQ(Get64(r, 268) % 10000000, 0u);  // whole seconds
        EXPECT_EQ(Get32(r, 276), sizes[i]);
        EXPECT_EQ(WideField(r, 280), paths[i]);
        // Zero-padded after each path.
        for (size_t k = std::strlen(paths[i]); k < 260; ++k) ASSERT_EQ(r[k], 0) << k;
        for (size_t k = 280 + 2 * std::strlen(paths[i]); k < 800; ++k) ASSERT_EQ(r[k], 0) << k;
    }
    EXPECT_TRUE(Exists(INDEX_BIN + u"\\Dc5.txt"));
    EXPECT_TRUE(Exists(INDEX_BIN + u"\\Dc6.dat"));
    EXPECT_TRUE(Exists(INDEX_BIN + u"\\Dc7"));
    EXPECT_TRUE(Exists(INDEX_BIN + u"\\Dc8\\inner.txt"));
    EXPECT_FALSE(Exists(u"C:\\work\\a.txt"));
    EXPECT_EQ(fakedisk::gDisk->openSearches, 0);
}

TEST_F(ThrowTest, RecordNumbersFollowThePrefixRule) {
    // Dc10.txt puts 1 in use as well; the first free number is 2.
    AddNode(u"C:\\Recycler", ATTR_DIRECTORY);
    AddNode(INDEX_BIN, ATTR_DIRECTORY);
    WriteFile(INFO2, Header(0, 0, 800, 0));
    AddNode(INDEX_BIN + u"\\Dc0.txt", ATTR_FILE);
    AddNode(INDEX_BIN + u"\\Dc10.txt", ATTR_FILE);
    gRun.bin.path = WideDuplicate((const WCHAR*)INDEX_BIN.c_str());
    gRun.bin.format = FORMAT_INFO2;
    AddNode(u"C:\\tools.old", ATTR_DIRECTORY);
    File(u"C:\\tools.old\\README", 0);
    Throw({u"C:\\tools.old\\README"});
    Bytes index = ReadFile(INFO2);
    ASSERT_EQ(index.size(), 820u);
    EXPECT_EQ(Get32(index, 20 + 260), 2u);
    EXPECT_EQ(Get32(index, 8), 3u);
    // No extension: the dot of the folder's name does not count.
    EXPECT_TRUE(Exists(INDEX_BIN + u"\\Dc2"));
}

TEST_F(ThrowTest, InfoRecordsCarryOnlyTheAnsiPath) {
    MakeIndexBin(280);
    File(u"C:\\work\\a.txt", 10);
    Throw({u"C:\\work\\a.txt"});
    Bytes index = ReadFile(INDEX_BIN + u"\\INFO");
    ASSERT_EQ(index.size(), 20u + 6 * 280);
    EXPECT_EQ(Slice(index, 0, 20), Header(6, 6, 280, OLD_TOTAL + 4096));
    EXPECT_EQ(AnsiField(Records(index, 280)[5], 0), "C:\\work\\a.txt");
    EXPECT_TRUE(Exists(INDEX_BIN + u"\\Dc5.txt"));
}

TEST_F(ThrowTest, CountsRunAcrossNames) {
    MakeIndexBin();
    File(u"C:\\work\\a.txt", 100);
    File(u"C:\\work\\b.txt", 5000);
    std::string out = Throw({u"C:\\work\\a.txt", u"C:\\work\\b.txt"});
    EXPECT_EQ(out, READING + "C:\\work\\a.txt\n" + THROW_OK + "C:\\work\\b.txt\n" + THROW_OK);
    EXPECT_EQ(Slice(ReadFile(INFO2), 0, 20), Header(7, 7, 800, OLD_TOTAL + 4096 + 8192));
}

// A failed move must not leave a live record: the next item takes the same
// number, and restoring the first record would bring back the other item.
TEST_F(ThrowTest, FailedMoveWithdrawsTheRecordAndTheCounts) {
    MakeIndexBin();
    File(u"C:\\work\\a.txt", 100);
    File(u"C:\\work\\b.txt", 100);
    File(u"C:\\work\\c.txt", 5000);
    disk.refuseMove.insert(Fold(u"C:\\work\\b.txt"));
    std::string out = Throw({u"C:\\work\\*.txt"});

    EXPECT_EQ(out, READING + "C:\\work\\a.txt\nC:\\work\\b.txt\n" + UNKNOWN + "C:\\work\\c.txt\n");
    EXPECT_EQ(gRun.exitCode, 255);
    Bytes index = ReadFile(INFO2);
    // b's record was cut off again and c's took its place. b's number 6 was
    // taken for the run before the move (had the record stayed, it would
    // have kept it), so c has 7; no record claims 6.
    ASSERT_EQ(index.size(), 20u + 7 * 800);
    EXPECT_EQ(Slice(index, 0, 20), Header(7, 8, 800, OLD_TOTAL + 4096 + 8192));
    std::vector<Bytes> records = Records(index, 800);
    EXPECT_EQ(AnsiField(records[5], 0), "C:\\work\\a.txt");
    EXPECT_EQ(AnsiField(records[6], 0), "C:\\work\\c.txt");
    EXPECT_EQ(Get32(records[6], 260), 7u);
    EXPECT_TRUE(Exists(u"C:\\work\\b.txt"));
    EXPECT_FALSE(Exists(INDEX_BIN + u"\\Dc6.txt"));
    EXPECT_TRUE(Exists(INDEX_BIN + u"\\Dc7.txt"));
    EXPECT_FALSE(Exists(u"C:\\work\\c.txt"));

    // Loaded again, the bin holds a and c, and number 7 is c.
    testing::internal::CaptureStdout();
    ASSERT_TRUE(LoadEntries(&gRun.bin));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(gRun.bin.entries.Length(), 7);
    auto* last = static_cast<BinEntry*>(gRun.bin.entries.At(6));
    EXPECT_EQ(last->recordNumber, 7u);
    EXPECT_EQ(Narrow(Text(last->widePath)), "C:\\work\\c.txt");
}

TEST_F(ThrowTest, FailedMovePutsTheHeaderBackAsItWas) {
    MakeIndexBin();
    File(u"C:\\work\\a.txt", 100);
    File(u"C:\\work\\b.txt", 100);
    disk.refuseMove.insert(Fold(u"C:\\work\\b.txt"));
    Throw({u"C:\\work\\a.txt", u"C:\\work\\b.txt"});
    // As a's header and record left it.
    Bytes index = ReadFile(INFO2);
    ASSERT_EQ(index.size(), 20u + 6 * 800);
    EXPECT_EQ(Slice(index, 0, 20), Header(6, 6, 800, OLD_TOTAL + 4096));
    EXPECT_EQ(AnsiField(Records(index, 800)[5], 0), "C:\\work\\a.txt");
    EXPECT_EQ(gRun.exitCode, 255);
}

// The record goes in before the item moves; a write of the record or of the
// header that fails puts the index back and stops with the create failure.
TEST_F(ThrowTest, AppendFailureLeavesTheIndexAsItWas) {
    for (int write : {1, 2}) {
        SCOPED_TRACE(write);
        gRun.exitCode = 0;
        gRun.throwList.RemoveAll();
        MakeIndexBin();
        File(u"C:\\work\\a.txt", 100);
        Bytes original = ReadFile(INFO2);
        fakedisk::FailCall("write", write);
        std::string out = Throw({u"C:\\work\\a.txt"});
        EXPECT_TRUE(disk.fault.met);
        EXPECT_EQ(ReadFile(INFO2), original);
        EXPECT_TRUE(Exists(u"C:\\work\\a.txt"));
        EXPECT_FALSE(Exists(INDEX_BIN + u"\\Dc5.txt"));
        EXPECT_EQ(out, READING + "C:\\work\\a.txt\n" +
                           "Error: Cannot create data for the Recycle Bin (C:\\Recycler\\S-1).\n");
        EXPECT_EQ(gRun.exitCode, 65);
        MemFree(gRun.bin.path);
    }
    gRun.bin.path = nullptr;
}

// The index cannot be opened for update: the bin is not locked, not read
// and not written.
TEST_F(ThrowTest, UpdateFailureStopsTheName) {
    MakeIndexBin();
    File(u"C:\\work\\a.txt", 100);
    File(u"C:\\work\\b.txt", 100);
    Bytes original = ReadFile(INFO2);
    disk.refuseOpen = [](const std::u16string&, const std::string& mode) { return mode == "r+b"; };
    std::string out = Throw({u"C:\\work\\*"});
    EXPECT_EQ(out, "Error: Reading the data in the Recycle Bin (C:\\Recycler\\S-1) failed.\n");
    EXPECT_EQ(gRun.exitCode, 61);
    EXPECT_EQ(ReadFile(INFO2), original);
    EXPECT_TRUE(Exists(u"C:\\work\\a.txt"));
    EXPECT_TRUE(Exists(u"C:\\work\\b.txt"));
}

// Counts and numbers come from what is read under the lock, so a bin that
// cannot be read is not thrown into.
TEST_F(ThrowTest, LoadFailureIsReportedAndNothingIsThrown) {
    MakeIndexBin();
    File(u"C:\\work\\a.txt", 100);
    Bytes original = ReadFile(INFO2);
    disk.refuseOpen = [](const std::u16string&, const std::string& mode) { return mode == "rb"; };
    std::string out = Throw({u"C:\\work\\a.txt"});
    EXPECT_EQ(out, "Reading: C:\\Recycler\\S-1\\INFO2 ...\n"
                   "Error: Reading the data in the Recycle Bin (C:\\Recycler\\S-1) failed.\n");
    EXPECT_EQ(gRun.exitCode, 61);
    EXPECT_FALSE(Exists(INDEX_BIN + u"\\Dc5.txt"));
    EXPECT_TRUE(Exists(u"C:\\work\\a.txt"));
    EXPECT_EQ(ReadFile(INFO2), original);
}

// The index fields hold 32 bits: a bigger size is recorded as the largest
// value, not wrapped, and so is a total that passes it.
TEST_F(ThrowTest, SizesBeyond32BitsSaturateTheIndexFields) {
    MakeIndexBin();
    const uint64_t huge = 5ULL << 30;  // whole clusters
    File(u"C:\\work\\huge.iso", huge);
    File(u"C:\\work\\small.txt", 1);
    std::string out = Throw({u"C:\\work\\huge.iso", u"C:\\work\\small.txt"});
    EXPECT_EQ(gRun.exitCode, 0) << out;
    Bytes index = ReadFile(INFO2);
    ASSERT_EQ(index.size(), 20u + 7 * 800);
    std::vector<Bytes> records = Records(index, 800);
    EXPECT_EQ(Get32(records[5], 276), 0xFFFFFFFFu);
    EXPECT_EQ(Get32(records[6], 276), 4096u);
    EXPECT_EQ(Slice(index, 0, 20), Header(7, 7, 800, 0xFFFFFFFFu));
}

// --- Refusals -----------------------------------------------------------

TEST_F(ThrowTest, TheBinAndItsFilesAreRefusedMatchByMatch) {
    MakeIndexBin();
    File(u"C:\\Recycler\\other.txt", 10);
    // The pattern matches the bin folder and one ordinary file.
    std::string out = Throw({u"C:\\Recycler\\*"});
    EXPECT_EQ(out, READING + "C:\\Recycler\\other.txt\n" + Invalid("C:\\Recycler\\S-1"));
    EXPECT_EQ(gRun.exitCode, 25);
    EXPECT_TRUE(Exists(INDEX_BIN + u"\\Dc5.txt"));
    EXPECT_TRUE(Exists(INFO2));
}

TEST_F(ThrowTest, TheStoresOwnFilesAndHoldersAreRefused) {
    MakeIndexBin();
    AddNode(INDEX_BIN + u"\\desktop.ini", ATTR_FILE);
    Bytes original = ReadFile(INFO2);
    const std::u16string names[] = {
        u"C:\\Recycler\\S-1", u"c:\\recycler\\s-1", u"C:\\RECYCLER", u"C:\\Recycler\\S-1\\INFO2",
        u"C:\\Recycler\\S-1\\desktop.ini", u"C:\\Recycler\\S-1\\Dc0.txt", u"C:\\Recycler\\S-1\\D*"};
    for (const std::u16string& name : names) {
        SCOPED_TRACE(Narrow(name));
        gRun.exitCode = 0;
        gRun.throwList.RemoveAll();
        std::string out = Throw({name});
        EXPECT_EQ(gRun.exitCode, 25);
        EXPECT_EQ(out.find("successfully"), std::string::npos) << out;
        EXPECT_NE(out.find("is invalid or missing"), std::string::npos) << out;
    }
    EXPECT_EQ(ReadFile(INFO2), original);
    for (uint32_t n = 0; n < OLD_ENTRIES; ++n)
        EXPECT_TRUE(Exists(INDEX_BIN + u"\\Dc" + fakedisk::Widen(std::to_string(n)) + u".txt"));
    EXPECT_TRUE(Exists(INDEX_BIN + u"\\desktop.ini"));
    // Only searches, never a move.
    for (const std::string& entry : fakedisk::gDisk->log) EXPECT_EQ(entry.find("move"), std::string::npos) << entry;
}

// A path that names the bin's files through a link is refused by identity,
// though its text does not name the bin. (The link's children here are the
// view through it that a search shows.)
TEST_F(ThrowTest, TheBinReachedThroughALinkIsRefused) {
    MakeIndexBin();
    fakedisk::AddLink(u"C:\\work\\torec", u"C:\\Recycler");
    AddNode(u"C:\\work\\torec\\S-1", ATTR_DIRECTORY);
    File(u"C:\\work\\torec\\S-1\\Dc0.txt", 10);
    Bytes original = ReadFile(INFO2);
    std::string out = Throw({u"C:\\work\\torec\\S-1\\Dc0.txt"});
    EXPECT_EQ(out, READING + Invalid("C:\\work\\torec\\S-1\\Dc0.txt"));
    EXPECT_EQ(gRun.exitCode, 25);
    EXPECT_EQ(ReadFile(INFO2), original);
    for (const std::string& entry : disk.log) EXPECT_EQ(entry.find("move"), std::string::npos) << entry;
}

// Only a folder can hold the bin: the walk up from the bin, one identity per
// folder (under Wine most of a throw's time), is made for a folder thrown
// and never for a file; a folder that holds the bin is still refused.
long gBinIdentities = 0;

BOOL CountBinIdentities(const WCHAR* name, BOOL follow, FileIdentity* identity) {
    if (Fold(Text(name)).rfind(Fold(u"C:\\Recycler"), 0) == 0) ++gBinIdentities;
    return fakedisk::FakeIdentity(name, follow, identity);
}

TEST_F(ThrowTest, OnlyAFolderIsCheckedForHoldingTheBin) {
    MakeIndexBin();
    File(u"C:\\work\\a.txt", 10);
    AddNode(u"C:\\work\\dir", ATTR_DIRECTORY);
    File(u"C:\\work\\dir\\b.txt", 10);
    gSys.identityW = CountBinIdentities;
    auto binIdentitiesOfThrow = [this](const char16_t* name) {
        gRun.exitCode = 0;
        gRun.throwList.RemoveAll();
        gBinIdentities = 0;
        std::string out = Throw({name});
        EXPECT_NE(out.find(THROW_OK), std::string::npos) << out;
        return gBinIdentities;
    };
    long ofFile = binIdentitiesOfThrow(u"C:\\work\\a.txt");
    long ofFolder = binIdentitiesOfThrow(u"C:\\work\\dir");
    EXPECT_EQ(ofFolder - ofFile, 2);  // C:\Recycler\S-1 and C:\Recycler
    EXPECT_FALSE(Exists(u"C:\\work\\a.txt"));
    EXPECT_FALSE(Exists(u"C:\\work\\dir"));

    // The folder that holds the bin, named so that only its identity tells.
    fakedisk::AddLink(u"C:\\work\\up", u"C:\\");
    gRun.exitCode = 0;
    gRun.throwList.RemoveAll();
    std::string out = Throw({u"C:\\work\\up\\Recycler"});
    EXPECT_EQ(gRun.exitCode, 25) << out;
    EXPECT_TRUE(Exists(INDEX_BIN + u"\\INFO2"));
}

TEST_F(ThrowTest, ItemBinsOwnFilesAreRefused) {
    MakeItemBin();
    AddNode(ITEM_BIN + u"\\$IABCDEF.txt", ATTR_FILE);
    AddNode(ITEM_BIN + u"\\$RABCDEF.txt", ATTR_FILE);
    std::string out = Throw({u"C:\\$Recycle.Bin\\S-1\\$R*"});
    EXPECT_EQ(out, "Reading: C:\\$Recycle.Bin\\S-1 ...\n" + Invalid("C:\\$Recycle.Bin\\S-1\\$RABCDEF.txt"));
    EXPECT_EQ(gRun.exitCode, 25);
    EXPECT_EQ(fakedisk::Listing(ITEM_BIN).size(), 3u);  // with desktop.ini
}

TEST_F(ThrowTest, NamesThatWouldNotFitAreRefused) {
    MakeIndexBin();
    Bytes original = ReadFile(INFO2);
    // 259 characters in all: fits, but its data item name
    // ("C:\Recycler\S-1\Dc5." and the extension) would not.
    std::u16string longExtension = u"C:\\work\\x." + std::u16string(249, u'e');
    File(longExtension, 10);
    // A match whose full path needs 261 characters.
    AddNode(u"C:\\work\\deep", ATTR_DIRECTORY);
    std::u16string tooLong = u"C:\\work\\deep\\" + std::u16string(248, u'n');
    File(tooLong, 10);
    std::string out = Throw({u"C:\\work\\x.*", u"C:\\work\\deep\\*"});
    EXPECT_EQ(out, READING + Invalid(Narrow(longExtension)) + Invalid(Narrow(tooLong)));
    EXPECT_EQ(gRun.exitCode, 25);
    EXPECT_EQ(ReadFile(INFO2), original);
    EXPECT_TRUE(Exists(longExtension));
    EXPECT_TRUE(Exists(tooLong));
}

TEST_F(ThrowTest, ItemNamesThatWouldNotFitAreRefused) {
    MakeItemBin();
    std::u16string longExtension = u"C:\\work\\x." + std::u16string(240, u'e');
    File(longExtension, 10);
    // A $I file holds 259 characters of the path: one more could not be
    // restored.
    AddNode(u"C:\\work\\deep", ATTR_DIRECTORY);
    std::u16string tooLong = u"C:\\work\\deep\\" + std::u16string(247, u'n');
    File(tooLong, 10);
    std::string out = Throw({longExtension, u"C:\\work\\deep\\*"});
    EXPECT_EQ(out, "Reading: C:\\$Recycle.Bin\\S-1 ...\n" + Narrow(longExtension) + "\n" + Invalid(Narrow(longExtension)) +
                       Invalid(Narrow(tooLong)));
    EXPECT_EQ(gRun.exitCode, 25);
    EXPECT_EQ(fakedisk::Listing(ITEM_BIN), std::vector<std::string>({"desktop.ini"}));
}

TEST_F(ThrowTest, DriveCheckUsesTheBinsFullPath) {
    // A bin given relative to the current directory (C:\) lies on C:.
    AddNode(u"C:\\Recycler", ATTR_DIRECTORY);
    AddNode(INDEX_BIN, ATTR_DIRECTORY);
    gRun.bin.path = WideDuplicate(WIDE("Recycler\\S-1"));
    gRun.bin.format = FORMAT_INFO2;
    gRun.options |= OPT_NOLOGO;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(ThrowOne(WIDE("C:\\work\\missing.txt")));
    EXPECT_FALSE(ThrowOne(WIDE("d:\\work\\a.txt")));
    std::fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, Invalid("C:\\work\\missing.txt") +
                       "Error: The drive with the file 'D' is not equivalent with the drive with the "
                       "Recycle Bin 'C'. You must throw away the file into the Recycle Bin in the same "
                       "drive of the file.\n");
    EXPECT_EQ(gRun.exitCode, 26);
}

TEST_F(ThrowTest, DotsAloneAreNothingToThrow) {
    MakeIndexBin();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(ThrowOne(WIDE("C:\\work\\.")));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: There are no files to throw.\n");
    EXPECT_EQ(gRun.exitCode, 29);
}

// --- Cluster rounding ---------------------------------------------------

TEST_F(ThrowTest, ClusterRoundedSizes) {
    File(u"C:\\work\\one", 1);
    File(u"C:\\work\\zero", 0);
    File(u"C:\\work\\exact", 8192);
    File(u"C:\\work\\odd", 5000);
    EXPECT_EQ(ClusterRoundedSize(WIDE("C:\\work\\one")), 4096u);
    EXPECT_EQ(ClusterRoundedSize(WIDE("C:\\work\\exact")), 8192u);
    EXPECT_EQ(ClusterRoundedSize(WIDE("C:\\work\\odd")), 8192u);
    int calls = disk.geometryCalls;
    EXPECT_EQ(ClusterRoundedSize(WIDE("C:\\work\\zero")), 0u);
    EXPECT_EQ(disk.geometryCalls, calls);  // no query for an empty file
    EXPECT_EQ(disk.geometryRoot, "c:\\");
    EXPECT_EQ(ClusterRoundedSize(WIDE("C:\\work\\missing")), 0u);

    // 127 sectors per cluster counts as 4096-byte clusters.
    disk.sectorsPerCluster = 127;
    disk.bytesPerSector = 512;
    EXPECT_EQ(ClusterRoundedSize(WIDE("C:\\work\\odd")), 8192u);
    disk.sectorsPerCluster = 128;
    EXPECT_EQ(ClusterRoundedSize(WIDE("C:\\work\\odd")), 65536u);

    // Without the geometry the plain size is recorded.
    disk.geometryFails = true;
    EXPECT_EQ(ClusterRoundedSize(WIDE("C:\\work\\odd")), 5000u);
}

}  // namespace
