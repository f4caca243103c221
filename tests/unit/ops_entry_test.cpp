// Restoring, deleting and unregistering one entry on an in-memory disk: the
// index's bytes afterwards, the data items, the messages and exit codes.
#include <gtest/gtest.h>

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
using fakedisk::ReadFile;
using fakedisk::WriteFile;
using storebytes::Get32;
using storebytes::Header;
using storebytes::Index;
using storebytes::Record;

const uint64_t kTime = 129171996960000000ULL;  // 2010-05-01 12:34:56 UTC

const Record kNotes = {"C:\\work\\notes.txt", u"C:\\work\\notes.txt", 7, 2, kTime, 4096, false};
const Record kGone = {"C:\\work\\gone.txt", u"C:\\work\\gone.txt", 8, 2, kTime, 512, true};
const Record kReport = {"C:\\tmp\\report.doc", u"C:\\tmp\\report.doc", 9, 2, kTime + 10000000, 8192, false};

std::string Captured(void (*run)()) {
    testing::internal::CaptureStdout();
    run();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

const char kEntryChanged[] = "Error: The item left the Recycle Bin after it was listed. Nothing was changed.\n";

std::string WideNarrow(const WCHAR* text) { return fakedisk::Narrow(fakedisk::Text(text)); }

class EntryTest : public ::testing::Test {
protected:
    fakedisk::Disk disk;
    void SetUp() override {
        fakedisk::Install(&disk);
        for (const char16_t* folder : {u"C:", u"C:\\bin", u"C:\\work", u"C:\\tmp", u"D:", u"D:\\keep"})
            AddNode(folder, ATTR_DIRECTORY);
    }
    void TearDown() override {
        MemSetFailAt(0);
        testrun::ClearRun();
        EXPECT_EQ(disk.openSearches, 0);
        fakedisk::Uninstall();
    }
    // An index bin holding notes (Dc7.txt), a removed record and report
    // (Dc9.doc), the live two loaded as entries 1 and 2.
    std::vector<uint8_t> MakeIndexBin(BinFormat format, uint32_t recordSize) {
        testrun::StartRun(WIDE("C:\\bin"), format);
        gRun.options = OPT_INDEX | OPT_YES;
        std::vector<uint8_t> index =
            Index(Header(3, 2, 10, recordSize, 12288), recordSize, {kNotes, kGone, kReport});
        WriteFile(format == FORMAT_INFO ? u"C:\\bin\\INFO" : u"C:\\bin\\INFO2", index);
        AddNode(u"C:\\bin\\Dc7.txt", ATTR_FILE);
        AddNode(u"C:\\bin\\Dc9.doc", ATTR_FILE);
        bool wide = recordSize >= 800;
        gRun.bin.entries.Add(storebytes::Entry(kNotes, wide));
        gRun.bin.entries.Add(storebytes::Entry(kReport, wide));
        return index;
    }
    std::vector<uint8_t> IndexNow() {
        return ReadFile(gRun.bin.format == FORMAT_INFO ? u"C:\\bin\\INFO" : u"C:\\bin\\INFO2");
    }
};

// Only the first byte of the record and the three counts change.
std::vector<uint8_t> AfterRemoval(std::vector<uint8_t> index, uint32_t recordSize, int record,
                                  uint32_t count, uint32_t next, uint32_t total) {
    index[20 + (size_t)record * recordSize] = 0;
    storebytes::Put32(index, 4, count);
    storebytes::Put32(index, 8, next);
    storebytes::Put32(index, 16, total);
    return index;
}

TEST_F(EntryTest, ComposeRestoreTarget) {
    struct Row {
        const WCHAR* given;
        const WCHAR* original;
        const char* target;
    };
    const Row rows[] = {
        {WIDE("D:\\keep\\"), WIDE("C:\\work\\notes.txt"), "D:\\keep\\notes.txt"},
        {WIDE("D:\\keep\\old.txt"), WIDE("C:\\work\\notes.txt"), "D:\\keep\\old.txt"},
        {WIDE("D:\\keep\\"), WIDE("notes.txt"), "D:\\keep\\"},
        {WIDE(""), WIDE("C:\\work\\notes.txt"), ""},
        // A folder typed with '/' is one with '\', and the target has '\' only.
        {WIDE("D:\\keep/"), WIDE("C:\\work\\notes.txt"), "D:\\keep\\notes.txt"},
        {WIDE("D:/keep/new.txt"), WIDE("C:\\work\\notes.txt"), "D:\\keep\\new.txt"},
        // A record written with '/' still gives its own last name.
        {WIDE("D:\\keep\\"), WIDE("C:\\docs/my report.txt"), "D:\\keep\\my report.txt"},
        {WIDE("D:\\keep\\"), WIDE("C:/notes.txt"), "D:\\keep\\notes.txt"},
    };
    for (const Row& row : rows) {
        testrun::ClearRun();
        gRun.restorePath = WideDuplicate(row.given);
        EXPECT_TRUE(ComposeRestoreTarget(row.original));
        EXPECT_EQ(WideNarrow(gRun.restorePath), row.target);
    }
}

TEST_F(EntryTest, RestoreMovesTheItemThenMarksItsRecord) {
    std::vector<uint8_t> index = MakeIndexBin(FORMAT_INFO2, 800);
    AddNode(u"C:\\bin\\Dc0.txt", ATTR_FILE);  // keeps 0 in use
    gRun.index = 2;
    std::string output = Captured(RunEntryCommand);
    char expectedTime[32];
    FormatDeletionTime(kReport.time, expectedTime, sizeof expectedTime);
    EXPECT_EQ(output, std::string("\n[2] C:\\tmp\\report.doc ") + expectedTime +
                          "\n\nRestoring 'C:\\bin\\Dc9.doc' to 'C:\\tmp\\report.doc'...\n"
                          "The restoration finished successfully.\n");
    EXPECT_EQ(gRun.exitCode, 0);
    EXPECT_TRUE(Exists(u"C:\\tmp\\report.doc"));
    EXPECT_FALSE(Exists(u"C:\\bin\\Dc9.doc"));
    // Dc0.txt and Dc7.txt keep 0 and 7 in use; 9 is free again.
    EXPECT_EQ(IndexNow(), AfterRemoval(index, 800, 2, 1, 1, 4096));
}

TEST_F(EntryTest, RestoreIntoAFolderKeepsTheName) {
    MakeIndexBin(FORMAT_INFO, 280);
    gRun.index = 1;
    gRun.restorePath = WideDuplicate(WIDE("D:\\keep\\"));
    std::string output = Captured(RunEntryCommand);
    EXPECT_EQ(gRun.exitCode, 0) << output;
    EXPECT_TRUE(Exists(u"D:\\keep\\notes.txt"));
}

// Cut to the buffer, a longer target would name another place.
TEST_F(EntryTest, RestoreTargetBeyondThePathLimitIsRefused) {
    std::vector<uint8_t> index = MakeIndexBin(FORMAT_INFO2, 800);
    std::u16string folder = u"D:\\" + std::u16string(250, u'k');
    AddNode(folder, ATTR_DIRECTORY);
    std::u16string longTarget = folder + u"\\notes-longer.txt";  // 270 characters
    gRun.index = 1;
    gRun.restorePath = WideDuplicate((const WCHAR*)longTarget.c_str());
    std::string output = Captured(RunEntryCommand);
    EXPECT_NE(output.find("Error: Restoration of the file '" + fakedisk::Narrow(longTarget) + "' failed."),
              std::string::npos)
        << output;
    EXPECT_EQ(output.find("Restoring"), std::string::npos);
    EXPECT_EQ(gRun.exitCode, 62);
    EXPECT_TRUE(Exists(u"C:\\bin\\Dc7.txt"));
    EXPECT_EQ(IndexNow(), index);
    for (const std::string& call : disk.log) EXPECT_NE(call.rfind("move", 0), 0u) << call;

    // 259 characters still fit.
    testrun::ClearRun();
    MakeIndexBin(FORMAT_INFO2, 800);
    std::u16string fitting = folder + u"\\" + std::u16string(259 - folder.size() - 1, u'n');
    gRun.index = 1;
    gRun.restorePath = WideDuplicate((const WCHAR*)fitting.c_str());
    Captured(RunEntryCommand);
    EXPECT_EQ(gRun.exitCode, 0);
    EXPECT_TRUE(Exists(fitting));
}

// A target in the bin would hide the item where no entry lists it; the
// bin is recognised by identity, however the target spells it.
TEST_F(EntryTest, RestoreIntoTheBinIsRefused) {
    fakedisk::AddLink(u"C:\\work\\tobin", u"C:\\bin");
    fakedisk::AddNode(u"C:\\bin\\sub", ATTR_DIRECTORY);
    const char16_t* targets[] = {
        u"C:\\bin\\notes.txt",          u"c:\\BIN\\new\\notes.txt", u"C:\\bin.\\notes.txt",
        u"C:\\work\\tobin\\notes.txt", u"C:\\bin\\sub\\",         u"C:\\bin\\Dc7.txt",
    };
    for (const char16_t* target : targets) {
        std::string text = fakedisk::Narrow(target);
        SCOPED_TRACE(text);
        testrun::ClearRun();
        std::vector<uint8_t> index = MakeIndexBin(FORMAT_INFO2, 800);
        gRun.index = 1;
        gRun.restorePath = WideDuplicate((const WCHAR*)target);
        disk.log.clear();
        std::string output = Captured(RunEntryCommand);
        if (text.back() == '\\') text += "notes.txt";
        EXPECT_NE(output.find("Error: Restoration of the file '" + text + "' failed."), std::string::npos)
            << output;
        EXPECT_EQ(gRun.exitCode, 62);
        EXPECT_TRUE(Exists(u"C:\\bin\\Dc7.txt"));
        EXPECT_EQ(IndexNow(), index);
        for (const std::string& call : disk.log) EXPECT_NE(call.rfind("move", 0), 0u) << call;
    }
}

// A system may report success for what it did not do: a move to another
// drive that copied but could not remove the source, a deletion of a file
// it could not remove (Wine does both). The names decide: the copy is
// taken back, and the item keeps its record.
BOOL CopyOnly(const WCHAR*, const WCHAR* target) {
    AddNode(fakedisk::Text(target), ATTR_FILE);
    fakedisk::gDisk->log.push_back("copy to " + fakedisk::Narrow(fakedisk::Text(target)));
    return TRUE;
}

BOOL DeleteNothing(const WCHAR* path) {
    fakedisk::gDisk->log.push_back("delete " + fakedisk::Narrow(fakedisk::Text(path)));
    return TRUE;
}

TEST_F(EntryTest, SuccessReportedForNothingDoneChangesNothing) {
    const struct {
        const char* what;
        bool deleting;
        int32_t exitCode;
        const char* message;
    } rows[] = {
        {"restore", false, 62, "Error: Restoration of the file 'D:\\keep\\notes.txt' failed."},
        {"delete", true, 63, "Error: Failed to delete the file 'C:\\bin\\Dc7.txt'."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        testrun::ClearRun();
        std::vector<uint8_t> index = MakeIndexBin(FORMAT_INFO2, 800);
        if (row.deleting) {
            gSys.deleteFileW = DeleteNothing;
            gRun.options |= OPT_DELETE;
        } else {
            gSys.moveFileW = CopyOnly;
        }
        gRun.index = 1;
        gRun.restorePath = WideDuplicate(WIDE("D:\\keep\\notes.txt"));
        std::string output = Captured(RunEntryCommand);
        gSys.moveFileW = fakedisk::FakeMove;
        gSys.deleteFileW = fakedisk::FakeDelete;
        EXPECT_NE(output.find(row.message), std::string::npos) << output;
        EXPECT_EQ(gRun.exitCode, row.exitCode);
        EXPECT_TRUE(Exists(u"C:\\bin\\Dc7.txt"));
        EXPECT_FALSE(Exists(u"D:\\keep\\notes.txt"));
        EXPECT_EQ(IndexNow(), index);
    }
}

TEST_F(EntryTest, RestoreOntoAnExistingPathChangesNothing) {
    std::vector<uint8_t> index = MakeIndexBin(FORMAT_INFO2, 800);
    AddNode(u"C:\\work\\notes.txt", ATTR_FILE);
    gRun.index = 1;
    std::string output = Captured(RunEntryCommand);
    EXPECT_NE(output.find("Error: Restoration of the file 'C:\\work\\notes.txt' failed."), std::string::npos);
    EXPECT_EQ(gRun.exitCode, 62);
    EXPECT_TRUE(Exists(u"C:\\bin\\Dc7.txt"));
    EXPECT_EQ(IndexNow(), index);
}

// A network path's record: its data item carries the letter of drive
// number 26, not the path's first character.
TEST_F(EntryTest, NetworkPathRecordIsReachedLikeLoadingReachesIt) {
    const Record share = {"\\\\server\\share\\plan.txt", u"\\\\server\\share\\plan.txt", 4, 26, kTime, 100,
                          false};
    testrun::StartRun(WIDE("C:\\bin"), FORMAT_INFO2);
    gRun.options = OPT_INDEX | OPT_DELETE | OPT_YES;
    std::vector<uint8_t> index = Index(Header(3, 1, 5, 800, 100), 800, {share});
    WriteFile(u"C:\\bin\\INFO2", index);
    BinEntry* entry = storebytes::Entry(share, true);
    gRun.bin.entries.Add(entry);
    std::u16string item = u"C:\\bin\\D";
    item += (char16_t)EntryDriveLetter(entry);
    item += u"4.txt";
    AddNode(item, ATTR_FILE);
    gRun.index = 1;
    std::string output = Captured(RunEntryCommand);
    EXPECT_EQ(gRun.exitCode, 0) << output;
    EXPECT_FALSE(Exists(item));
    EXPECT_EQ(IndexNow(), AfterRemoval(index, 800, 0, 0, 0, 0));
}

TEST_F(EntryTest, DeleteRemovesTheItemThenMarksItsRecord) {
    std::vector<uint8_t> index = MakeIndexBin(FORMAT_INFO, 280);
    AddNode(u"C:\\bin\\Dd0", ATTR_FILE);    // keeps 0 in use, whatever the letter
    AddNode(u"C:\\bin\\Dc1.x", ATTR_FILE);  // and 1
    gRun.options |= OPT_DELETE;
    gRun.index = 1;
    std::string output = Captured(RunEntryCommand);
    EXPECT_NE(output.find("Deleting 'C:\\bin\\Dc7.txt'...\nThe file has been deleted successfully.\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(gRun.exitCode, 0);
    EXPECT_FALSE(Exists(u"C:\\bin\\Dc7.txt"));
    EXPECT_EQ(IndexNow(), AfterRemoval(index, 280, 0, 1, 2, 8192));
}

TEST_F(EntryTest, DeleteThatFailsLeavesTheRecord) {
    std::vector<uint8_t> index = MakeIndexBin(FORMAT_INFO2, 800);
    AddNode(u"C:\\bin\\Dc7.txt", ATTR_FILE | FILE_ATTRIBUTE_READONLY);
    gRun.options |= OPT_DELETE;
    gRun.index = 1;
    std::string output = Captured(RunEntryCommand);
    EXPECT_NE(output.find("Error: Failed to delete the file 'C:\\bin\\Dc7.txt'.\n"), std::string::npos);
    EXPECT_EQ(gRun.exitCode, 63);
    EXPECT_EQ(IndexNow(), index);
}

// A data item that left after the listing: the reload under the lock no
// longer lists it, so nothing is done. Reached all the same (the entry as
// loaded, under the lock), its missing item is an unknown error.
TEST_F(EntryTest, MissingDataItemIsAnUnknownError) {
    std::vector<uint8_t> index = MakeIndexBin(FORMAT_INFO2, 800);
    AddNode(u"C:\\bin\\Dc70.txt", ATTR_FILE);  // another record's, found by the same prefix
    disk.nodes.erase(fakedisk::Fold(u"C:\\bin\\Dc7.txt"));
    gRun.options |= OPT_DELETE;
    gRun.index = 1;
    std::string output = Captured(RunEntryCommand);
    EXPECT_NE(output.find(kEntryChanged), std::string::npos) << output;
    EXPECT_EQ(gRun.exitCode, 63);
    EXPECT_TRUE(Exists(u"C:\\bin\\Dc70.txt"));
    EXPECT_EQ(IndexNow(), index);

    testrun::ClearRun();
    MakeIndexBin(FORMAT_INFO2, 800);
    disk.nodes.erase(fakedisk::Fold(u"C:\\bin\\Dc7.txt"));
    ASSERT_TRUE(LockBin(&gRun.bin, gRun.lockWaitMs));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(DeleteEntry(0));
    output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output, "Error: Unknown error occurred.\n");
    EXPECT_EQ(gRun.exitCode, 255);
    EXPECT_TRUE(Exists(u"C:\\bin\\Dc70.txt"));
    EXPECT_EQ(IndexNow(), index);
}

// Another program removed notes' record after loading. The reload under the
// lock sees it and nothing moves; a record that goes between the reload and
// the update (the entry as loaded, under the lock) gives the warning.
TEST_F(EntryTest, RecordNoLongerLiveGivesTheWarning) {
    std::vector<uint8_t> index = MakeIndexBin(FORMAT_INFO2, 800);
    index[20] = 0;
    WriteFile(u"C:\\bin\\INFO2", index);
    gRun.index = 1;
    std::string output = Captured(RunEntryCommand);
    EXPECT_NE(output.find(kEntryChanged), std::string::npos) << output;
    EXPECT_EQ(gRun.exitCode, 62);
    EXPECT_FALSE(Exists(u"C:\\work\\notes.txt"));
    EXPECT_TRUE(Exists(u"C:\\bin\\Dc7.txt"));
    EXPECT_EQ(IndexNow(), index);

    testrun::ClearRun();
    MakeIndexBin(FORMAT_INFO2, 800);
    WriteFile(u"C:\\bin\\INFO2", index);
    ASSERT_TRUE(LockBin(&gRun.bin, gRun.lockWaitMs));
    gRun.restorePath = WideDuplicate(WIDE("C:\\work\\notes.txt"));
    testing::internal::CaptureStdout();
    EXPECT_TRUE(RestoreEntry(0));
    output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("Warning: The file was moved successfully, but registration data of the file "
                          "in the Recycle Bin was not deleted.\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(gRun.exitCode, 11);
    EXPECT_TRUE(Exists(u"C:\\work\\notes.txt"));
    EXPECT_EQ(IndexNow(), index);
}

// The chosen entry is found again by what it is, not by its number in the
// listing: an entry above it that left moves it up.
TEST_F(EntryTest, ChosenEntryIsFoundAgainWhereTheReloadPutsIt) {
    std::vector<uint8_t> index = MakeIndexBin(FORMAT_INFO2, 800);
    index[20] = 0;  // notes left after the listing
    WriteFile(u"C:\\bin\\INFO2", index);
    disk.nodes.erase(fakedisk::Fold(u"C:\\bin\\Dc7.txt"));
    gRun.options |= OPT_DELETE;
    gRun.index = 2;  // report, listed second
    std::string output = Captured(RunEntryCommand);
    EXPECT_NE(output.find("Deleting 'C:\\bin\\Dc9.doc'...\nThe file has been deleted successfully.\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(gRun.exitCode, 0);
    EXPECT_EQ(gRun.index, 0);
    EXPECT_FALSE(Exists(u"C:\\bin\\Dc9.doc"));
    EXPECT_EQ(IndexNow(), AfterRemoval(index, 800, 2, 0, 0, 0));
}

TEST_F(EntryTest, UnregisterMatchesOnlyTheFirstOfTwinRecordsIgnoringCase) {
    Record upper = kNotes;
    upper.widePath = u"C:\\WORK\\NOTES.TXT";
    upper.ansiPath = "C:\\WORK\\NOTES.TXT";
    testrun::StartRun(WIDE("C:\\bin"), FORMAT_INFO2);
    std::vector<uint8_t> index = Index(Header(3, 2, 8, 800, 8192), 800, {upper, upper});
    WriteFile(u"C:\\bin\\INFO2", index);
    AddNode(u"C:\\bin\\Dc7.txt", ATTR_FILE);
    gRun.bin.entries.Add(storebytes::Entry(kNotes, true));
    gRun.bin.entries.Add(storebytes::Entry(kNotes, true));
    ASSERT_TRUE(LockBin(&gRun.bin, gRun.lockWaitMs));
    EXPECT_TRUE(UnregisterEntry(0));
    EXPECT_EQ(IndexNow(), AfterRemoval(index, 800, 0, 1, 0, 4096));
    EXPECT_FALSE(HasOriginalPath(static_cast<BinEntry*>(gRun.bin.entries.At(0))));
}

// A record is the same only in path, deletion time and number; the path
// comes from the field that the record size selects.
TEST_F(EntryTest, UnregisterComparesTheFieldsThatIdentifyARecord) {
    struct Row {
        uint32_t recordSize;
        bool wideEntry;
        Record entry;
        bool matches;
    };
    Record otherTime = kNotes, otherNumber = kNotes, otherDrive = kNotes, otherAnsi = kNotes;
    otherTime.time += 1ULL << 40;
    otherNumber.number = 17;
    otherDrive.drive = 3;
    otherAnsi.ansiPath = "C:\\elsewhere.txt";
    const Row rows[] = {
        {800, true, kNotes, true},      {800, true, otherTime, false},
        {800, true, otherNumber, false}, {800, true, otherDrive, true},
        {800, true, otherAnsi, true},   {799, false, kNotes, true},
        {799, true, kNotes, false},     {280, false, otherAnsi, false},
    };
    for (const Row& row : rows) {
        testrun::StartRun(WIDE("C:\\bin"), FORMAT_INFO2);
        std::vector<uint8_t> index = Index(Header(3, 1, 8, row.recordSize, 4096), row.recordSize, {kNotes});
        WriteFile(u"C:\\bin\\INFO2", index);
        gRun.bin.entries.Add(storebytes::Entry(row.entry, row.wideEntry));
        ASSERT_TRUE(LockBin(&gRun.bin, gRun.lockWaitMs));
        EXPECT_EQ(UnregisterEntry(0), row.matches) << row.recordSize << " " << row.entry.number;
        EXPECT_EQ(IndexNow() == index, !row.matches);
    }
}

// Sizes that the fixed fields do not fit, or no plausible index has, and a
// header that cannot be read whole, fail the update and write nothing.
TEST_F(EntryTest, UnregisterRefusesAnIndexItCannotTrust) {
    for (uint32_t recordSize : {0u, 16u, 279u, 70000u}) {
        testrun::StartRun(WIDE("C:\\bin"), FORMAT_INFO2);
        std::vector<uint8_t> index = Header(3, 1, 8, recordSize, 4096);
        std::vector<uint8_t> record = storebytes::RecordBytes(kNotes, 800, 0xA0);
        index.insert(index.end(), record.begin(), record.end());
        WriteFile(u"C:\\bin\\INFO2", index);
        gRun.bin.entries.Add(storebytes::Entry(kNotes, false));
        ASSERT_TRUE(LockBin(&gRun.bin, gRun.lockWaitMs));
        EXPECT_FALSE(UnregisterEntry(0)) << recordSize;
        EXPECT_EQ(IndexNow(), index);
    }
    testrun::StartRun(WIDE("C:\\bin"), FORMAT_INFO2);
    std::vector<uint8_t> shortIndex = {3, 0, 0, 0, 1, 0, 0, 0};
    WriteFile(u"C:\\bin\\INFO2", shortIndex);
    gRun.bin.entries.Add(storebytes::Entry(kNotes, true));
    ASSERT_TRUE(LockBin(&gRun.bin, gRun.lockWaitMs));
    EXPECT_FALSE(UnregisterEntry(0));
    EXPECT_EQ(IndexNow(), shortIndex);
    EXPECT_FALSE(HasOriginalPath(static_cast<BinEntry*>(gRun.bin.entries.At(0))));
}

TEST_F(EntryTest, UnregisterOutOfMemoryWritesNothing) {
    std::vector<uint8_t> index = MakeIndexBin(FORMAT_INFO2, 800);
    ASSERT_TRUE(LockBin(&gRun.bin, gRun.lockWaitMs));
    testing::internal::CaptureStdout();
    MemSetFailAt(1);
    bool unregistered = UnregisterEntry(0);
    MemSetFailAt(0);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(unregistered);
    EXPECT_EQ(gRun.exitCode, 254);
    EXPECT_EQ(IndexNow(), index);
}

class ItemFilesEntryTest : public EntryTest {
protected:
    void SetUp() override {
        EntryTest::SetUp();
        AddNode(u"C:\\$RECYCLE.BIN", ATTR_DIRECTORY);
        AddNode(u"C:\\$RECYCLE.BIN\\S-1-5", ATTR_DIRECTORY);
        testrun::StartRun(WIDE("C:\\$RECYCLE.BIN\\S-1-5"), FORMAT_ITEM_FILES);
        gRun.options = OPT_INDEX | OPT_DELETE | OPT_YES;
        gRun.index = 1;
        // The lock of this layout is taken on desktop.ini; the $I file
        // holds what the reload under it finds again.
        AddNode(u"C:\\$RECYCLE.BIN\\S-1-5\\desktop.ini", ATTR_FILE | FILE_ATTRIBUTE_HIDDEN);
        WriteFile(u"C:\\$RECYCLE.BIN\\S-1-5\\$IAB12CD.txt", storebytes::ItemV1(u"C:\\work\\notes.txt", 0, 0));
        AddNode(u"C:\\$RECYCLE.BIN\\S-1-5\\$RAB12CD.txt", ATTR_FILE);
        gRun.bin.entries.Add(
            storebytes::ItemEntry(u"C:\\work\\notes.txt", u"C:\\$RECYCLE.BIN\\S-1-5\\$RAB12CD.txt"));
    }
};

TEST_F(ItemFilesEntryTest, RestoreMovesTheItemAndRemovesItsIndexFile) {
    gRun.options = OPT_INDEX | OPT_YES;
    std::string output = Captured(RunEntryCommand);
    EXPECT_EQ(gRun.exitCode, 0) << output;
    EXPECT_TRUE(Exists(u"C:\\work\\notes.txt"));
    EXPECT_EQ(fakedisk::Listing(u"C:\\$RECYCLE.BIN\\S-1-5"), std::vector<std::string>({"desktop.ini"}));
    EXPECT_TRUE(Exists(u"C:\\$RECYCLE.BIN"));
}

TEST_F(ItemFilesEntryTest, MissingDataItemLetsTheEntryGo) {
    disk.nodes.erase(fakedisk::Fold(u"C:\\$RECYCLE.BIN\\S-1-5\\$RAB12CD.txt"));
    std::string output = Captured(RunEntryCommand);
    EXPECT_NE(output.find("The file has been deleted successfully.\n"), std::string::npos) << output;
    EXPECT_EQ(gRun.exitCode, 0);
    EXPECT_FALSE(Exists(u"C:\\$RECYCLE.BIN\\S-1-5\\$IAB12CD.txt"));
}

// Data that is still there stays listed: its index file is kept.
TEST_F(ItemFilesEntryTest, DataItemThatCannotBeRemovedKeepsItsIndexFile) {
    AddNode(u"C:\\$RECYCLE.BIN\\S-1-5\\$RAB12CD.txt", ATTR_FILE | FILE_ATTRIBUTE_READONLY);
    std::string output = Captured(RunEntryCommand);
    EXPECT_NE(output.find("Error: Failed to delete the file 'C:\\$RECYCLE.BIN\\S-1-5\\$RAB12CD.txt'.\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(gRun.exitCode, 63);
    EXPECT_TRUE(Exists(u"C:\\$RECYCLE.BIN\\S-1-5\\$IAB12CD.txt"));

    // A directory emptied only in part is still there, too.
    gRun.index = 1;
    gRun.exitCode = 0;
    disk.nodes.erase(fakedisk::Fold(u"C:\\$RECYCLE.BIN\\S-1-5\\$RAB12CD.txt"));
    AddNode(u"C:\\$RECYCLE.BIN\\S-1-5\\$RAB12CD.txt", ATTR_DIRECTORY);
    AddNode(u"C:\\$RECYCLE.BIN\\S-1-5\\$RAB12CD.txt\\a", ATTR_FILE);
    AddNode(u"C:\\$RECYCLE.BIN\\S-1-5\\$RAB12CD.txt\\b", ATTR_FILE | FILE_ATTRIBUTE_READONLY);
    Captured(RunEntryCommand);
    EXPECT_EQ(gRun.exitCode, 63);
    EXPECT_TRUE(Exists(u"C:\\$RECYCLE.BIN\\S-1-5\\$IAB12CD.txt"));
    EXPECT_FALSE(Exists(u"C:\\$RECYCLE.BIN\\S-1-5\\$RAB12CD.txt\\a"));
}

}  // namespace
