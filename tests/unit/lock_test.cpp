// The bin's lock on the in-memory disk: a command waits a bounded time for
// another run that holds it, then changes nothing; the lock is let go when
// the command ends.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/bins.h"
#include "app/runstate.h"
#include "ops/ops.h"
#include "support/fake_disk.h"
#include "support/run.h"
#include "support/store_bytes.h"
#include "platform/fs.h"
#include "platform/memory.h"

namespace {

using fakedisk::ATTR_DIRECTORY;
using fakedisk::ATTR_FILE;
using fakedisk::AddNode;
using fakedisk::Exists;
using fakedisk::Listing;
using fakedisk::ReadFile;
using fakedisk::WriteFile;
using storebytes::Record;

const Record kNotes = {"C:\\work\\notes.txt", u"C:\\work\\notes.txt", 1, 2, 130000000000000000ULL, 4096, false};
const char16_t INFO2[] = u"C:\\bin\\INFO2";
const char16_t ITEM_BIN[] = u"C:\\$RECYCLE.BIN\\S-1-5";
const char16_t DESKTOP_INI[] = u"C:\\$RECYCLE.BIN\\S-1-5\\desktop.ini";
const std::string BUSY =
    "Error: The Recycle Bin (C:\\bin) is in use by another program. Nothing was changed; please try "
    "again later.\n";
const std::string WAITING = "The Recycle Bin is in use by another program. Waiting...\n";
const std::string READ_FAILED = "Error: Reading the data in the Recycle Bin (C:\\bin) failed.\n";

std::string Captured(const std::function<void()>& run) {
    testing::internal::CaptureStdout();
    run();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class LockTest : public ::testing::Test {
protected:
    fakedisk::Disk disk;
    FILE* other = nullptr;  // another run's hold on the bin

    void SetUp() override {
        fakedisk::Install(&disk);
        for (const char16_t* folder : {u"C:", u"C:\\bin", u"C:\\work", u"C:\\$RECYCLE.BIN", ITEM_BIN})
            AddNode(folder, ATTR_DIRECTORY);
    }
    void TearDown() override {
        if (other != nullptr) FsClose(other);
        testrun::ClearRun();
        gRun.lockWaitMs = 0;
        gRun.throwList.RemoveAll();
        fakedisk::Uninstall();
    }

    // An INFO2 bin of one entry with its data item, loaded as a listing
    // would load it.
    std::vector<uint8_t> MakeIndexBin() {
        testrun::StartRun(WIDE("C:\\bin"), FORMAT_INFO2);
        std::vector<uint8_t> index =
            storebytes::Index(storebytes::Header(5, 1, 2, 800, 4096), 800, {kNotes});
        WriteFile(INFO2, index);
        AddNode(u"C:\\bin\\Dc1.txt", ATTR_FILE);
        AddNode(u"C:\\work\\new.txt", ATTR_FILE);
        gRun.bin.entries.Add(storebytes::Entry(kNotes, true));
        return index;
    }

    std::vector<uint8_t> MakeItemBin() {
        testrun::StartRun(reinterpret_cast<const WCHAR*>(ITEM_BIN), FORMAT_ITEM_FILES);
        std::vector<uint8_t> info = storebytes::ItemV1(u"C:\\work\\notes.txt", 0, 0);
        WriteFile(std::u16string(ITEM_BIN) + u"\\$IAB12CD.txt", info);
        AddNode(std::u16string(ITEM_BIN) + u"\\$RAB12CD.txt", ATTR_FILE);
        AddNode(DESKTOP_INI, ATTR_FILE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        gRun.bin.entries.Add(storebytes::ItemEntry(u"C:\\work\\notes.txt", std::u16string(ITEM_BIN) + u"\\$RAB12CD.txt"));
        return info;
    }

    void HoldLock(const char16_t* path) {
        other = FsOpenFile(reinterpret_cast<const WCHAR*>(path), WIDE("r+b"));
        ASSERT_NE(other, nullptr);
        ASSERT_TRUE(FsLock(other));
    }

    std::vector<std::string> Changes() const {
        std::vector<std::string> changes;
        for (const std::string& call : disk.log)
            if (call.rfind("find", 0) != 0) changes.push_back(call);
        return changes;
    }
};

// The wait is retried every 50 ms until gRun.lockWaitMs has passed, with a
// notice once it has lasted half a second; then nothing is held.
TEST_F(LockTest, WaitIsBoundedThenTheBinIsBusy) {
    const struct {
        uint32_t waitMs;
        int sleeps;
        bool notice;
    } rows[] = {{0, 0, false}, {50, 1, false}, {120, 3, false}, {499, 10, false}, {600, 12, true}};
    MakeIndexBin();
    HoldLock(INFO2);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.waitMs);
        gRun.exitCode = 0;
        gRun.lockWaitMs = row.waitMs;
        disk.slept = 0;
        disk.sleeps = 0;
        bool locked = true;
        std::string output = Captured([&] { locked = TakeBinLock(&gRun.bin); });
        EXPECT_FALSE(locked);
        EXPECT_EQ(gRun.exitCode, EXIT_BIN_BUSY);
        EXPECT_EQ(output, (row.notice ? WAITING : std::string()) + BUSY);
        EXPECT_EQ(disk.sleeps, row.sleeps);
        EXPECT_GE(disk.slept, row.waitMs);
        EXPECT_LT(disk.slept, row.waitMs + 50);
        EXPECT_EQ(gRun.bin.lock, nullptr);
        EXPECT_EQ(disk.streams.size(), 1u);  // the stream that waited was closed
        EXPECT_EQ(disk.locks.begin()->second, other);
    }
}

TEST_F(LockTest, HolderThatLetsGoInTimeIsWaitedFor) {
    MakeIndexBin();
    HoldLock(INFO2);
    gRun.lockWaitMs = 1000;
    disk.onSleep = [&] {
        if (disk.sleeps == 3) FsUnlock(other);
    };
    bool locked = false;
    std::string output = Captured([&] { locked = TakeBinLock(&gRun.bin); });
    EXPECT_TRUE(locked);
    EXPECT_EQ(output, "");
    EXPECT_EQ(gRun.exitCode, 0);
    EXPECT_EQ(disk.sleeps, 3);
    ASSERT_NE(gRun.bin.lock, nullptr);
    EXPECT_EQ(disk.locks.begin()->second, gRun.bin.lock);
    EXPECT_TRUE(TakeBinLock(&gRun.bin));  // held already: nothing more
    EXPECT_EQ(disk.sleeps, 3);
}

// Every changing command stops at the lock: busy (66), and not a byte of
// the store or a data item changed.
TEST_F(LockTest, CommandsChangeNothingWhileAnotherRunHoldsTheBin) {
    struct Row {
        const char* what;
        bool itemFiles;
        OptionFlags options;
        std::function<void()> run;
    };
    const Row rows[] = {
        {"empty", false, OPT_EMPTY | OPT_YES, RunEmptyCommand},
        {"restore", false, OPT_INDEX | OPT_YES, RunEntryCommand},
        {"delete", false, OPT_INDEX | OPT_DELETE | OPT_YES, RunEntryCommand},
        {"throw", false, OPT_YES, ThrowFiles},
        {"empty, per-item", true, OPT_EMPTY | OPT_YES, RunEmptyCommand},
        {"delete, per-item", true, OPT_INDEX | OPT_DELETE | OPT_YES, RunEntryCommand},
        {"throw, per-item", true, OPT_YES, ThrowFiles},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (other != nullptr) FsClose(other);
        other = nullptr;
        std::vector<uint8_t> store = row.itemFiles ? MakeItemBin() : MakeIndexBin();
        AddNode(u"C:\\work\\new.txt", ATTR_FILE);
        std::u16string folder = row.itemFiles ? std::u16string(ITEM_BIN) : u"C:\\bin";
        std::u16string storeFile = row.itemFiles ? folder + u"\\$IAB12CD.txt" : std::u16string(INFO2);
        HoldLock(row.itemFiles ? DESKTOP_INI : INFO2);
        std::vector<std::string> before = Listing(folder);
        gRun.options = row.options;
        gRun.index = 1;
        gRun.lockWaitMs = 100;
        gRun.throwList.RemoveAll();
        gRun.throwList.Add(WIDE("C:\\work\\new.txt"));
        disk.log.clear();
        std::string output = Captured(row.run);
        std::string busy = BUSY;
        if (row.itemFiles) busy.replace(busy.find("C:\\bin"), 6, fakedisk::Narrow(ITEM_BIN));
        EXPECT_TRUE(EndsWith(output, busy)) << output;
        EXPECT_EQ(gRun.exitCode, EXIT_BIN_BUSY);
        EXPECT_EQ(ReadFile(storeFile), store);
        EXPECT_EQ(Listing(folder), before);
        EXPECT_TRUE(Exists(u"C:\\work\\new.txt"));
        EXPECT_EQ(Changes(), std::vector<std::string>());
    }
}

// Each command lets go of the lock when it ends, whether it succeeded or not.
TEST_F(LockTest, CommandsLetGoOfTheLock) {
    struct Row {
        const char* what;
        OptionFlags options;
        const char16_t* throwName;
        std::function<void()> run;
        int32_t exitCode;
    };
    const Row rows[] = {
        {"restore", OPT_INDEX | OPT_YES, nullptr, RunEntryCommand, 0},
        {"delete", OPT_INDEX | OPT_DELETE | OPT_YES, nullptr, RunEntryCommand, 0},
        {"throw", OPT_YES, u"C:\\work\\new.txt", ThrowFiles, 0},
        {"throw of nothing", OPT_YES, u"C:\\work\\missing.txt", ThrowFiles, 25},
        {"empty", OPT_EMPTY | OPT_YES, nullptr, RunEmptyCommand, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        MakeIndexBin();
        gRun.options = row.options;
        gRun.index = 1;
        gRun.throwList.RemoveAll();
        if (row.throwName != nullptr) gRun.throwList.Add(reinterpret_cast<const WCHAR*>(row.throwName));
        std::string output = Captured(row.run);
        EXPECT_EQ(gRun.exitCode, row.exitCode) << output;
        EXPECT_EQ(gRun.bin.lock, nullptr);
        EXPECT_TRUE(disk.locks.empty());
        EXPECT_TRUE(disk.streams.empty());
    }
}

// A lock that fails for another reason than another holder, an index that
// is a link, or one that cannot be opened for update: the read failure, at
// once, with nothing held. desktop.ini, which is never written, may be
// locked through a read-only open.
TEST_F(LockTest, OtherLockFailuresAreReadFailures) {
    MakeIndexBin();
    gRun.lockWaitMs = 1000;
    disk.lockError = ERROR_ACCESS_DENIED;
    bool locked = true;
    EXPECT_EQ(Captured([&] { locked = TakeBinLock(&gRun.bin); }), READ_FAILED);
    EXPECT_FALSE(locked);
    EXPECT_EQ(gRun.exitCode, EXIT_READ_FAILED);
    EXPECT_EQ(disk.sleeps, 0);
    disk.lockError = 0;

    gRun.exitCode = 0;
    disk.refuseOpen = [](const std::u16string&, const std::string& mode) { return mode == "r+b"; };
    EXPECT_EQ(Captured([&] { locked = TakeBinLock(&gRun.bin); }), READ_FAILED);
    EXPECT_FALSE(locked);
    EXPECT_EQ(gRun.exitCode, EXIT_READ_FAILED);

    gRun.exitCode = 0;
    disk.refuseOpen = nullptr;
    fakedisk::AddLink(INFO2, u"C:\\work\\elsewhere", ATTR_FILE | FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(Captured([&] { locked = TakeBinLock(&gRun.bin); }), READ_FAILED);
    EXPECT_FALSE(locked);
    EXPECT_EQ(gRun.exitCode, EXIT_READ_FAILED);
    EXPECT_TRUE(disk.streams.empty());
    EXPECT_EQ(gRun.bin.lock, nullptr);

    MakeItemBin();
    disk.refuseOpen = [](const std::u16string&, const std::string& mode) { return mode == "r+b"; };
    EXPECT_TRUE(TakeBinLock(&gRun.bin));
    EXPECT_EQ(gRun.exitCode, 0);
    EXPECT_EQ(disk.locks.count(fakedisk::Fold(DESKTOP_INI)), 1u);
}

}  // namespace
