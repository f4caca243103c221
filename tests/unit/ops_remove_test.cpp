// Tree removal on an in-memory disk: what is removed, what stays, in which
// order, and that links are never followed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ops/ops.h"
#include "support/fake_disk.h"
#include "platform/memory.h"

namespace {

using fakedisk::ATTR_DIRECTORY;
using fakedisk::ATTR_FILE;
using fakedisk::ATTR_LINK;
using fakedisk::AddNode;
using fakedisk::Exists;
using fakedisk::Listing;

class RemoveTest : public ::testing::Test {
protected:
    fakedisk::Disk disk;
    void SetUp() override {
        fakedisk::Install(&disk);
        AddNode(u"C:", ATTR_DIRECTORY);
    }
    void TearDown() override {
        MemSetFailAt(0);
        EXPECT_EQ(disk.openSearches, 0);
        fakedisk::Uninstall();
    }
};

TEST_F(RemoveTest, FilesAndEmptyDirectories) {
    AddNode(u"C:\\a.txt", ATTR_FILE);
    AddNode(u"C:\\ro.txt", ATTR_FILE | FILE_ATTRIBUTE_READONLY);
    AddNode(u"C:\\hidden.sys", ATTR_FILE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    AddNode(u"C:\\empty", ATTR_DIRECTORY);
    EXPECT_TRUE(RemovePath(WIDE("C:\\a.txt")));
    EXPECT_FALSE(RemovePath(WIDE("C:\\ro.txt")));
    EXPECT_TRUE(RemovePath(WIDE("C:\\hidden.sys")));
    EXPECT_TRUE(RemovePath(WIDE("C:\\empty")));
    EXPECT_EQ(Listing(u"C:"), std::vector<std::string>({"ro.txt"}));
}

TEST_F(RemoveTest, MissingPathChangesNothing) {
    AddNode(u"C:\\keep.txt", ATTR_FILE);
    EXPECT_FALSE(RemovePath(WIDE("C:\\nothing")));
    EXPECT_FALSE(RemoveTree(WIDE("C:\\nothing")));
    EXPECT_TRUE(Exists(u"C:\\keep.txt"));
    for (const std::string& call : disk.log) EXPECT_EQ(call.find("delete"), std::string::npos) << call;
}

TEST_F(RemoveTest, ReadOnlyFileDeepInsideKeepsItsWayUp) {
    AddNode(u"C:\\t", ATTR_DIRECTORY);
    AddNode(u"C:\\t\\a.txt", ATTR_FILE);
    AddNode(u"C:\\t\\one", ATTR_DIRECTORY);
    AddNode(u"C:\\t\\one\\b.txt", ATTR_FILE);
    AddNode(u"C:\\t\\one\\deep", ATTR_DIRECTORY);
    AddNode(u"C:\\t\\one\\deep\\c.txt", ATTR_FILE);
    AddNode(u"C:\\t\\one\\deep\\ro.txt", ATTR_FILE | FILE_ATTRIBUTE_READONLY);
    AddNode(u"C:\\t\\one\\side", ATTR_DIRECTORY);
    AddNode(u"C:\\t\\one\\side\\d.txt", ATTR_FILE);
    AddNode(u"C:\\t\\two", ATTR_DIRECTORY);
    AddNode(u"C:\\t\\two\\e.txt", ATTR_FILE);
    EXPECT_FALSE(RemovePath(WIDE("C:\\t")));
    EXPECT_EQ(Listing(u"C:"),
              std::vector<std::string>({"t\\", "t\\one\\", "t\\one\\deep\\", "t\\one\\deep\\ro.txt"}));
}

TEST_F(RemoveTest, ReadsEachDirectoryWholeBeforeRemovingAndSkipsOnlyDotEntries) {
    AddNode(u"C:\\t", ATTR_DIRECTORY);
    AddNode(u"C:\\t\\..x", ATTR_FILE);
    AddNode(u"C:\\t\\.y", ATTR_FILE);
    AddNode(u"C:\\t\\sub", ATTR_DIRECTORY);
    AddNode(u"C:\\t\\sub\\f", ATTR_FILE);
    EXPECT_TRUE(RemovePath(WIDE("C:\\t")));
    EXPECT_EQ(disk.log, std::vector<std::string>({
                            "find C:\\t\\*.*",
                            "delete C:\\t\\..x",
                            "delete C:\\t\\.y",
                            "find C:\\t\\sub\\*.*",
                            "delete C:\\t\\sub\\f",
                            "rmdir C:\\t\\sub",
                            "rmdir C:\\t",
                        }));
}

// What lies behind a link is outside the bin: the link alone is removed.
TEST_F(RemoveTest, LinksAreRemovedNeverFollowed) {
    AddNode(u"C:\\bin", ATTR_DIRECTORY);
    AddNode(u"C:\\bin\\Dc1", ATTR_DIRECTORY);
    AddNode(u"C:\\bin\\Dc1\\a.txt", ATTR_FILE);
    AddNode(u"C:\\bin\\Dc1\\outside", ATTR_LINK);
    AddNode(u"C:\\bin\\Dc1\\outside\\precious.txt", ATTR_FILE);
    AddNode(u"C:\\bin\\Dc1\\outside\\deeper", ATTR_DIRECTORY);
    AddNode(u"C:\\bin\\Dc1\\outside\\deeper\\more.txt", ATTR_FILE);
    AddNode(u"C:\\bin\\Dc1\\filelink", ATTR_FILE | FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_TRUE(RemovePath(WIDE("C:\\bin\\Dc1")));
    EXPECT_FALSE(Exists(u"C:\\bin\\Dc1"));
    EXPECT_FALSE(Exists(u"C:\\bin\\Dc1\\filelink"));
    EXPECT_TRUE(Exists(u"C:\\bin\\Dc1\\outside\\precious.txt"));
    EXPECT_TRUE(Exists(u"C:\\bin\\Dc1\\outside\\deeper\\more.txt"));
    for (const std::string& call : disk.log)
        EXPECT_EQ(call.find("outside\\"), std::string::npos) << call;

    // A data item that is itself a link.
    AddNode(u"C:\\bin\\Dc2", ATTR_LINK);
    AddNode(u"C:\\bin\\Dc2\\precious.txt", ATTR_FILE);
    disk.log.clear();
    EXPECT_TRUE(RemovePath(WIDE("C:\\bin\\Dc2")));
    EXPECT_EQ(disk.log, std::vector<std::string>({"rmdir C:\\bin\\Dc2"}));
    EXPECT_TRUE(Exists(u"C:\\bin\\Dc2\\precious.txt"));
}

TEST_F(RemoveTest, DeepPathsArePassedWholeNeverCut) {
    std::u16string path = u"C:\\t";
    AddNode(path, ATTR_DIRECTORY);
    for (int level = 0; level < 40; ++level) {
        path += u"\\level" + fakedisk::Widen(std::to_string(level));
        AddNode(path, ATTR_DIRECTORY);
    }
    ASSERT_GT(path.size(), 260u);
    AddNode(path + u"\\leaf.txt", ATTR_FILE);
    EXPECT_TRUE(RemovePath(WIDE("C:\\t")));
    EXPECT_TRUE(Listing(u"C:").empty());
}

TEST_F(RemoveTest, OutOfMemoryRemovesNothingBelow) {
    AddNode(u"C:\\t", ATTR_DIRECTORY);
    AddNode(u"C:\\t\\a.txt", ATTR_FILE);
    AddNode(u"C:\\t\\b.txt", ATTR_FILE);
    MemSetFailAt(1);
    EXPECT_FALSE(RemovePath(WIDE("C:\\t")));
    MemSetFailAt(0);
    EXPECT_EQ(Listing(u"C:"), std::vector<std::string>({"t\\", "t\\a.txt", "t\\b.txt"}));
}

}  // namespace
