// Whether a path lies in the bin folder, by identity, on the in-memory disk:
// the spellings of the folder that the system takes for it, the links on
// the way, and names that do not exist yet.
#include <gtest/gtest.h>

#include <string>

#include "ops/ops.h"
#include "support/fake_disk.h"
#include "platform/fs.h"

namespace {

using fakedisk::ATTR_DIRECTORY;
using fakedisk::ATTR_FILE;
using fakedisk::AddLink;
using fakedisk::AddNode;

class PathWithinTest : public ::testing::Test {
protected:
    fakedisk::Disk disk;
    FileIdentity bin;

    void SetUp() override {
        fakedisk::Install(&disk);
        for (const char16_t* folder : {u"C:", u"C:\\Recycler", u"C:\\Recycler\\S-1", u"C:\\Recycler\\S-2",
                                       u"C:\\work", u"D:", u"D:\\Recycler", u"D:\\Recycler\\S-1"})
            AddNode(folder, ATTR_DIRECTORY);
        AddNode(u"C:\\Recycler\\S-1\\INFO2", ATTR_FILE);
        AddNode(u"C:\\work\\a.txt", ATTR_FILE);
        fakedisk::SetShortName(u"C:\\Recycler", u"RECYCL~1");
        AddLink(u"C:\\work\\tobin", u"C:\\Recycler\\S-1");
        AddLink(u"C:\\work\\torecycler", u"C:\\Recycler");
        AddLink(u"C:\\work\\viatobin", u"C:\\work\\tobin");
        AddNode(u"C:\\work\\elsewhere", fakedisk::ATTR_LINK);  // leads out of the disk's view
        ASSERT_TRUE(FsGetFileIdentity(WIDE("C:\\Recycler\\S-1"), true, &bin));
    }
    void TearDown() override { fakedisk::Uninstall(); }
};

TEST_F(PathWithinTest, SpellingsLinksAndMissingNames) {
    const struct {
        const char16_t* path;
        bool followSelf;
        bool within;
    } rows[] = {
        {u"C:\\Recycler\\S-1", false, true},
        {u"C:\\Recycler\\S-1\\INFO2", false, true},
        {u"C:\\Recycler\\S-1\\Dc9.txt", false, true},           // a missing name
        {u"C:\\Recycler\\S-1\\new\\deeper\\x.txt", false, true},  // several
        {u"c:\\RECYCLER\\s-1\\x.txt", true, true},              // another case
        {u"C:\\RECYCL~1\\S-1\\x.txt", true, true},              // the 8.3 name
        {u"C:\\Recycler.\\S-1 \\x.txt", true, true},            // trailing dot and blank
        {u"C:\\work\\tobin\\x.txt", false, true},               // a link to it on the way
        {u"C:\\work\\torecycler\\S-1\\x.txt", false, true},     // a link to its parent
        {u"C:\\work\\viatobin\\x.txt", false, true},            // a link to such a link
        {u"C:\\work\\tobin", true, true},                       // the link, followed
        {u"C:\\work\\tobin", false, false},                     // the link itself
        {u"C:\\Recycler", true, false},                         // holds it
        {u"C:\\Recycler\\S-2\\x.txt", true, false},             // beside it
        {u"C:\\Recycler\\S-10\\x.txt", true, false},
        {u"C:\\work\\a.txt", true, false},
        {u"C:\\work\\elsewhere\\x.txt", true, false},
        {u"D:\\Recycler\\S-1\\x.txt", true, false},             // the same names elsewhere
        {u"C:\\", true, false},
        {u"C:\\missing\\S-1\\x.txt", true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(fakedisk::Narrow(row.path) + (row.followSelf ? " (followed)" : ""));
        EXPECT_EQ(PathWithin(reinterpret_cast<const WCHAR*>(row.path), row.followSelf, bin), row.within);
    }
}

// The bin is found by its number, not its name: moved, its old name no
// longer leads into it and its new one does.
TEST_F(PathWithinTest, IdentityFollowsTheFolder) {
    ASSERT_TRUE(FsMoveFile(WIDE("C:\\Recycler\\S-1"), WIDE("C:\\Recycler\\S-9")));
    EXPECT_TRUE(PathWithin(WIDE("C:\\Recycler\\S-9\\x.txt"), true, bin));
    EXPECT_FALSE(PathWithin(WIDE("C:\\Recycler\\S-1\\x.txt"), true, bin));
    EXPECT_TRUE(PathWithin(WIDE("C:\\work\\torecycler\\S-9\\x.txt"), true, bin));
}

}  // namespace
