// The folder walk: its names in the search's order without "." and "..",
// and the end of a folder told apart from an empty result and a failure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_disk.h"
#include "platform/fs.h"

namespace {

using fakedisk::ATTR_DIRECTORY;
using fakedisk::ATTR_FILE;
using fakedisk::AddNode;

// The find-next call that fails (from 1), and the error it leaves.
int sFailNextAt = 0;
DWORD sFailNextError = 0;
int gNextCalls = 0;

BOOL FailingFindNext(HANDLE search, WIN32_FIND_DATAW* data) {
    if (++gNextCalls == sFailNextAt) {
        fakedisk::gDisk->lastError = sFailNextError;
        return FALSE;
    }
    return fakedisk::FakeFindNext(search, data);
}

class FolderWalkTest : public ::testing::Test {
protected:
    fakedisk::Disk disk;
    void SetUp() override {
        fakedisk::Install(&disk);
        gSys.findNextFileW = FailingFindNext;
        sFailNextAt = 0;
        gNextCalls = 0;
        AddNode(u"C:", ATTR_DIRECTORY);
        AddNode(u"C:\\bin", ATTR_DIRECTORY);
        AddNode(u"C:\\bin\\Dc1.txt", ATTR_FILE);
        AddNode(u"C:\\bin\\Dc2", ATTR_DIRECTORY);
        AddNode(u"C:\\bin\\INFO2", ATTR_FILE);
    }
    void TearDown() override {
        EXPECT_EQ(disk.openSearches, 0);
        fakedisk::Uninstall();
    }
};

// The names a walk gives and the step that ended it.
struct Walked {
    std::vector<std::string> names;
    FolderStep end;
};

Walked Walk(const WCHAR* pattern) {
    Walked walked;
    FolderWalk walk;
    FolderStep step = FsFirstInFolder(&walk, pattern);
    for (; step == FOLDER_ENTRY; step = FsNextInFolder(&walk))
        walked.names.push_back(fakedisk::Narrow(fakedisk::Text(walk.found.cFileName)));
    FsEndFolderWalk(&walk);
    walked.end = step;
    return walked;
}

TEST_F(FolderWalkTest, GivesEveryMatchWithoutTheDotsThenIsDone) {
    Walked all = Walk(WIDE("C:\\bin\\*.*"));
    EXPECT_EQ(all.names, std::vector<std::string>({"Dc1.txt", "Dc2", "INFO2"}));
    EXPECT_EQ(all.end, FOLDER_DONE);
    Walked items = Walk(WIDE("C:\\bin\\D*.*"));
    EXPECT_EQ(items.names, std::vector<std::string>({"Dc1.txt", "Dc2"}));
    EXPECT_EQ(items.end, FOLDER_DONE);
}

TEST_F(FolderWalkTest, NothingThereIsNotAnEnd) {
    EXPECT_EQ(Walk(WIDE("C:\\bin\\$I*.*")).end, FOLDER_NOTHING);
    EXPECT_EQ(Walk(WIDE("C:\\missing\\*.*")).end, FOLDER_NOTHING);
    // A folder of dots alone has been read to its end.
    AddNode(u"C:\\empty", ATTR_DIRECTORY);
    Walked empty = Walk(WIDE("C:\\empty\\*.*"));
    EXPECT_TRUE(empty.names.empty());
    EXPECT_EQ(empty.end, FOLDER_DONE);
}

TEST_F(FolderWalkTest, ASearchThatBreaksOffFails) {
    for (int at = 1; at <= 4; ++at) {
        gNextCalls = 0;
        sFailNextAt = at;
        sFailNextError = ERROR_ACCESS_DENIED;
        Walked walked = Walk(WIDE("C:\\bin\\*.*"));
        EXPECT_EQ(walked.end, FOLDER_FAILED) << at;
        // The two dots come first; a failure after them has given the names before it.
        EXPECT_EQ(walked.names.size(), (size_t)(at > 2 ? at - 2 : 0)) << at;
    }
    // A search that ends with "no more files" early has ended, as the system says.
    gNextCalls = 0;
    sFailNextAt = 3;
    sFailNextError = ERROR_NO_MORE_FILES;
    EXPECT_EQ(Walk(WIDE("C:\\bin\\*.*")).end, FOLDER_DONE);
}

TEST_F(FolderWalkTest, ASearchThatCannotStartFails) {
    gSys.findFirstFileW = [](const WCHAR*, WIN32_FIND_DATAW*) -> HANDLE {
        fakedisk::gDisk->lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    };
    EXPECT_EQ(Walk(WIDE("C:\\bin\\*.*")).end, FOLDER_FAILED);
}

}  // namespace
