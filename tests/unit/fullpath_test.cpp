// Full paths of the names given after /f, and the removal of "." and ".."
// components. The current directory of each drive is faked behind gSys.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ops/ops.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"

namespace {

std::string Narrow(const WCHAR* text) {
    std::string narrow;
    for (; *text != 0; ++text) narrow += *text < 0x80 ? (char)*text : '?';
    return narrow;
}

std::u16string Text(const WCHAR* text) { return std::u16string((const char16_t*)text); }

std::string Repeat(char ch, size_t count) { return std::string(count, ch); }

std::u16string Widen(const std::string& text) {
    std::u16string wide;
    for (char ch : text) wide += (char16_t)(unsigned char)ch;
    return wide;
}

const WCHAR* W(const std::u16string& text) { return (const WCHAR*)text.c_str(); }

// The current directory of each drive (0 = the current drive), as the
// runtime would report it; empty for a drive it knows nothing of.
std::u16string gDriveDirectories[27];
std::string sAnsiDirectories[27];
int sWideCallCount = 0;
int sAnsiCallCount = 0;
int sAnsiCapacity = 0;

WCHAR* FakeWideDirectory(int drive, WCHAR* buffer, int capacity) {
    ++sWideCallCount;
    if (drive < 0 || drive > 26 || gDriveDirectories[drive].empty()) return nullptr;
    const std::u16string& directory = gDriveDirectories[drive];
    if ((int)directory.size() + 1 > capacity) return nullptr;
    std::memcpy(buffer, directory.c_str(), (directory.size() + 1) * sizeof(WCHAR));
    return buffer;
}

WCHAR* MissingWideDirectory(int, WCHAR*, int) {
    ++sWideCallCount;
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
}

char* FakeAnsiDirectory(int drive, char* buffer, int capacity) {
    ++sAnsiCallCount;
    sAnsiCapacity = capacity;
    // The runtime's allocating form must never be asked for.
    if (buffer == nullptr) return nullptr;
    if (drive < 0 || drive > 26 || sAnsiDirectories[drive].empty()) return nullptr;
    const std::string& directory = sAnsiDirectories[drive];
    if ((int)directory.size() + 1 > capacity) return nullptr;
    std::memcpy(buffer, directory.c_str(), directory.size() + 1);
    return buffer;
}

class FullPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto& directory : gDriveDirectories) directory.clear();
        for (auto& directory : sAnsiDirectories) directory.clear();
        sWideCallCount = sAnsiCallCount = sAnsiCapacity = 0;
        gSys.wgetdcwd = FakeWideDirectory;
        gSys.getdcwd = FakeAnsiDirectory;
        SetCurrent(u"C:\\work", 3);
        gDriveDirectories[4] = u"D:\\data";
    }
    void TearDown() override { gSys = DEFAULT_SYSTEM_CALLS; }

    // The current drive is `drive` with `directory` as its directory.
    static void SetCurrent(const std::u16string& directory, int drive) {
        gDriveDirectories[0] = directory;
        gDriveDirectories[drive] = directory;
    }

    static std::u16string Full(const std::u16string& name) {
        WCHAR* full = MakeFullPath(W(name));
        EXPECT_NE(full, nullptr);
        if (full == nullptr) return u"<null>";
        std::u16string result = Text(full);
        MemFree(full);
        return result;
    }
};

std::u16string Normalised(const std::u16string& source) {
    std::u16string buffer = source;
    NormalisePath(W(source), (WCHAR*)&buffer[0]);
    return Text(W(buffer));
}

struct Case {
    const char16_t* input;
    const char16_t* expected;
};

TEST(NormalisePath, Table) {
    const Case cases[] = {
        // Dropping "." and climbing "..".
        {u"C:\\a\\.\\b\\..\\c.txt", u"C:\\a\\c.txt"},
        {u"a\\.\\b", u"a\\b"},
        {u"a\\.", u"a"},
        {u"C:\\a\\.\\.\\b", u"C:\\a\\b"},
        {u"C:\\a\\..\\b", u"C:\\b"},
        {u"C:\\a\\b\\..", u"C:\\a"},
        {u"C:\\a\\..", u"C:"},
        {u"C:\\x\\..", u"C:"},
        {u"C:\\a\\..\\", u"C:\\"},
        {u"C:\\a\\b\\c\\..\\..\\d", u"C:\\a\\d"},
        // A run of separators is one, as the system reads it: ".." then
        // removes the name before the run.
        {u"C:\\a\\\\..\\b", u"C:\\b"},
        {u"C:\\a\\.\\\\b", u"C:\\a\\b"},
        // Climbing over the first component keeps the whole source, even
        // where earlier components were already removed.
        {u"C:\\..", u"C:\\.."},
        {u"C:\\..\\x", u"C:\\..\\x"},
        {u"a\\..\\b", u"a\\..\\b"},
        {u"C:\\a\\..\\..\\x", u"C:\\a\\..\\..\\x"},
        {u"C:\\.\\a\\..\\..\\x", u"C:\\.\\a\\..\\..\\x"},
        // Give-up cases at the start.
        {u"\\x\\..\\y", u"\\x\\..\\y"},
        {u"..\\x\\.\\y", u"..\\x\\.\\y"},
        {u"..", u".."},
        // The first component is copied whatever it is.
        {u".\\x", u".\\x"},
        {u".\\x\\.", u".\\x"},
        // Separators stay as typed; a doubled one is one.
        {u"C:/a/./b", u"C:/a/b"},
        {u"C:/a/b/../c", u"C:/a/c"},
        {u"C:\\a/..\\b", u"C:\\b"},
        {u"C:\\a\\\\b", u"C:\\a\\b"},
        {u"C:\\a\\\\\\b\\\\", u"C:\\a\\b\\"},
        {u"C:\\a\\b\\", u"C:\\a\\b\\"},
        // Network names: the two leading separators are the floor.
        {u"\\\\server\\share\\..\\x", u"\\\\server\\x"},
        {u"\\\\server\\..", u"\\\\server\\.."},
        {u"\\\\server\\share\\.\\x", u"\\\\server\\share\\x"},
        // Names that merely begin with dots are names.
        {u"C:\\a\\..x\\.profile\\...", u"C:\\a\\..x\\.profile\\..."},
        {u"C:\\a\\.x\\..", u"C:\\a"},
        {u"", u""},
        {u"C:", u"C:"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Narrow(W(Normalised(c.input))), Narrow(W(c.expected))) << "input " << Narrow(W(c.input));
    }
}

TEST(NormalisePath, SeparateDestinationAndLongPaths) {
    WCHAR destination[32];
    NormalisePath(WIDE("C:\\a\\..\\b"), destination);
    EXPECT_EQ(Narrow(destination), "C:\\b");

    // Longer than any path buffer: the copy is made on the heap.
    std::u16string longName = u"C:\\" + Widen(Repeat('a', 700)) + u"\\..\\" + Widen(Repeat('b', 300));
    EXPECT_EQ(Normalised(longName), u"C:\\" + Widen(Repeat('b', 300)));
    std::u16string climbing = u"C:\\" + Widen(Repeat('a', 700)) + u"\\..\\..\\x";
    EXPECT_EQ(Normalised(climbing), climbing);
}

TEST(NormalisePath, Separators) {
    EXPECT_TRUE(IsPathSeparator('\\'));
    EXPECT_TRUE(IsPathSeparator('/'));
    EXPECT_FALSE(IsPathSeparator(':'));
    EXPECT_FALSE(IsPathSeparator(0));
    EXPECT_FALSE(IsPathSeparator(0xFF3C));  // full-width backslash
}

TEST_F(FullPathTest, RelativeNamesJoinTheCurrentDirectory) {
    const Case cases[] = {
        {u"notes.txt", u"C:\\work\\notes.txt"},
        {u".\\notes.txt", u"C:\\work\\notes.txt"},
        {u"..\\notes.txt", u"C:\\notes.txt"},
        {u"sub\\..\\notes.txt", u"C:\\work\\notes.txt"},
        {u"sub/./x", u"C:\\work\\sub\\x"},
        {u"docs/my report.txt", u"C:\\work\\docs\\my report.txt"},
        {u"docs/", u"C:\\work\\docs\\"},
        {u"*.txt", u"C:\\work\\*.txt"},
        {u".", u"C:\\work"},
        {u"..", u"C:"},
    };
    for (const Case& c : cases) EXPECT_EQ(Narrow(W(Full(c.input))), Narrow(W(c.expected))) << Narrow(W(c.input));
}

TEST_F(FullPathTest, TheRootGetsNoSecondBackslash) {
    SetCurrent(u"C:\\", 3);
    EXPECT_EQ(Full(u"x.txt"), u"C:\\x.txt");
    EXPECT_EQ(Full(u"..\\x.txt"), u"C:\\..\\x.txt");
}

TEST_F(FullPathTest, DriveRelativeNamesUseThatDrivesDirectory) {
    EXPECT_EQ(Full(u"d:x.txt"), u"D:\\data\\x.txt");
    EXPECT_EQ(Full(u"D:x.txt"), u"D:\\data\\x.txt");
    EXPECT_EQ(Full(u"d:..\\x.txt"), u"D:\\x.txt");
    EXPECT_EQ(Full(u"d:"), u"D:\\data\\");
    // The drive part is as the query reports it.
    gDriveDirectories[4] = u"d:\\Data";
    EXPECT_EQ(Full(u"D:x.txt"), u"d:\\Data\\x.txt");
    // The current drive's own letter works the same way.
    EXPECT_EQ(Full(u"c:sub\\x"), u"C:\\work\\sub\\x");
}

TEST_F(FullPathTest, AbsoluteNamesAreOnlyNormalised) {
    EXPECT_EQ(Full(u"C:\\a\\.\\b\\..\\c.txt"), u"C:\\a\\c.txt");
    EXPECT_EQ(Full(u"c:\\A\\b"), u"c:\\A\\b");
    EXPECT_EQ(Full(u"C:\\.."), u"C:\\..");
    EXPECT_EQ(sWideCallCount, 0);
}

// The system roots "X:/" at the drive and "\dir" at the current drive; a
// network name stands as it is.
TEST_F(FullPathTest, RootedAndNetworkNamesResolveAsTheSystemDoes) {
    EXPECT_EQ(Full(u"C:/a/./b"), u"C:\\a\\b");
    EXPECT_EQ(Full(u"\\tmp\\x.txt"), u"C:\\tmp\\x.txt");
    EXPECT_EQ(Full(u"/tmp/../x.txt"), u"C:\\x.txt");
    EXPECT_EQ(Full(u"\\\\server\\share\\..\\x"), u"\\\\server\\x");
    EXPECT_EQ(Full(u"//server/share/x"), u"\\\\server\\share\\x");
}

// GetFullPathNameW gives "T:\docs\my report.txt" for "T:\docs/my report.txt"
// (measured under Wine): a full path holds '\' only, wherever the '/' was.
TEST_F(FullPathTest, SlashesBecomeBackslashes) {
    const Case cases[] = {
        {u"C:\\docs/my report.txt", u"C:\\docs\\my report.txt"},
        {u"C:/docs/a/../b.txt", u"C:\\docs\\b.txt"},
        {u"d:a/b", u"D:\\data\\a\\b"},
        {u"/x", u"C:\\x"},
        {u"C:\\dest/", u"C:\\dest\\"},
        {u"q:a/b", u"q:a\\b"},  // no directory for q: the name stays, but with '\'
    };
    for (const Case& c : cases) {
        std::u16string full = Full(c.input);
        EXPECT_EQ(Narrow(W(full)), Narrow(W(c.expected))) << Narrow(W(c.input));
        EXPECT_EQ(full.find(u'/'), std::u16string::npos) << Narrow(W(c.input));
    }
    WCHAR path[] = u"a/b\\c//d";
    UseBackslashes(path);
    EXPECT_EQ(Text(path), u"a\\b\\c\\\\d");
}

TEST_F(FullPathTest, DriveWithoutDirectoryLeavesTheNameAsTyped) {
    EXPECT_EQ(Full(u"q:x.txt"), u"q:x.txt");
    // Not a letter: no drive at all (and never the current drive, 0).
    EXPECT_EQ(Full(u"@:x.txt"), u"@:x.txt");
    EXPECT_EQ(Full(u"1:x.txt"), u"1:x.txt");
}

TEST_F(FullPathTest, LengthLimits) {
    // "C:\work\" is 8 characters: a name of 251 gives 259, which fits.
    std::u16string fits = Widen(Repeat('n', 251));
    EXPECT_EQ(Full(fits), u"C:\\work\\" + fits);
    // One more needs 260 characters: the result comes back cut to exactly
    // 260, which tells the caller it did not fit.
    std::u16string tooLong = Widen(Repeat('n', 252));
    EXPECT_EQ(Full(tooLong).size(), (size_t)FULL_PATH_CHARS);
    EXPECT_EQ(Full(Widen(Repeat('n', 600))).size(), (size_t)FULL_PATH_CHARS);
    // A long name that normalises to a short path is not cut on the way.
    std::u16string detour = Widen(Repeat('d', 300)) + u"\\..\\x.txt";
    EXPECT_EQ(Full(detour), u"C:\\work\\x.txt");
}

TEST_F(FullPathTest, NoMemoryGivesNull) {
    MemSetFailAt(1);
    WCHAR* full = MakeFullPath(WIDE("x.txt"));
    MemSetFailAt(0);
    EXPECT_EQ(full, nullptr);
}

TEST_F(FullPathTest, DriveDirectoryPrefersTheWideQuery) {
    WCHAR buffer[FULL_PATH_CHARS];
    sAnsiDirectories[4] = "D:\\ansi";
    EXPECT_EQ(GetDriveDirectory(4, buffer, FULL_PATH_CHARS), buffer);
    EXPECT_EQ(Text(buffer), u"D:\\data");
    EXPECT_EQ(sAnsiCallCount, 0);
}

TEST_F(FullPathTest, DriveDirectoryFallsBackToTheAnsiQuery) {
    gSys.wgetdcwd = MissingWideDirectory;
    sAnsiDirectories[0] = "C:\\ansi work";
    sAnsiDirectories[3] = "C:\\ansi work";
    WCHAR buffer[FULL_PATH_CHARS];
    EXPECT_EQ(GetDriveDirectory(3, buffer, FULL_PATH_CHARS), buffer);
    EXPECT_EQ(Text(buffer), u"C:\\ansi work");
    // The ANSI form is read into a buffer of the program's, never one the
    // runtime allocates.
    EXPECT_EQ(sAnsiCapacity, FULL_PATH_CHARS);
    EXPECT_EQ(Full(u"x.txt"), u"C:\\ansi work\\x.txt");

    // The converted text and its zero must stay below the capacity.
    sAnsiDirectories[5] = "E:\\" + Repeat('e', 256);  // 259 characters
    EXPECT_EQ(GetDriveDirectory(5, buffer, FULL_PATH_CHARS), nullptr);
    sAnsiDirectories[5] = "E:\\" + Repeat('e', 255);  // 258 characters
    EXPECT_EQ(GetDriveDirectory(5, buffer, FULL_PATH_CHARS), buffer);
    EXPECT_EQ(GetDriveDirectory(5, buffer, 100), nullptr);

    // Both queries failing gives none.
    EXPECT_EQ(GetDriveDirectory(7, buffer, FULL_PATH_CHARS), nullptr);
    EXPECT_EQ(Full(u"g:x"), u"g:x");
}

}  // namespace
