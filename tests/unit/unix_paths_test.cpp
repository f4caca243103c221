// Unix paths given as arguments to the POSIX build: the drive path Wine
// gives each (as winepath -w and GetFullPathNameW under Wine 8 gave them,
// docs/platform-facts.md), and where the parser puts it.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/runstate.h"
#include "platform/entry.h"
#include "platform/memory.h"
#include "platform/os_posix.h"
#include "support/run.h"

namespace {

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::u16string Text(const WCHAR* text) { return text != nullptr ? std::u16string(text) : u"<none>"; }

std::string Narrow(const std::u16string& text) {
    std::string narrow;
    for (char16_t ch : text) narrow += ch < 0x80 ? (char)ch : '?';
    return narrow;
}

// The DOS form of a Unix folder below the root: "\a\b" for "/a/b".
std::u16string DosTail(const std::string& folder) {
    std::u16string tail;
    for (char ch : folder) tail += ch == '/' ? u'\\' : (char16_t)ch;
    return tail;
}

// A prefix of its own: V: and X: both map disk (V: is the lower letter), Y:
// maps disk/sub, Q: a folder that is not there; no Z:, so that the root
// belongs to no drive until a test maps it.
class UnixPaths : public ::testing::Test {
   protected:
    void SetUp() override {
        const char* prefix = std::getenv("WINEPREFIX");
        hadPrefix = prefix != nullptr;
        if (hadPrefix) savedPrefix = prefix;
        char pattern[] = "/tmp/unix_paths_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        char real[PATH_MAX];
        ASSERT_NE(realpath(pattern, real), nullptr);
        base = real;
        Run("mkdir -p '" + base + "/prefix/dosdevices' '" + base + "/disk/sub/deeper' '" + base +
            "/disk/docs/inner' '" + base + "/elsewhere'");
        Link(base + "/disk", base + "/prefix/dosdevices/x:");
        Link(base + "/disk", base + "/prefix/dosdevices/v:");
        Link(base + "/disk/sub", base + "/prefix/dosdevices/y:");
        Link(base + "/missing", base + "/prefix/dosdevices/q:");
        Link(base + "/disk", base + "/link");              // a link to a drive's folder
        Link(base + "/disk/sub", base + "/disk/tosub");    // one inside a drive, to another drive
        Link(base + "/elsewhere", base + "/disk/out");     // one inside a drive, to no drive
        setenv("WINEPREFIX", (base + "/prefix").c_str(), 1);
        PosixResetState();
    }

    void TearDown() override {
        if (hadPrefix)
            setenv("WINEPREFIX", savedPrefix.c_str(), 1);
        else
            unsetenv("WINEPREFIX");
        PosixResetState();
        Run("rm -rf '" + base + "'");
    }

    static void Run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }
    static void Link(const std::string& target, const std::string& link) {
        ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;
    }

    // The drive path of base + `path`, or "<none>".
    std::u16string DrivePath(const std::string& path) {
        std::u16string unixPath = Widen(base + path);
        size_t length = PosixDrivePathOfUnixPath((const WCHAR*)unixPath.c_str(), nullptr, 0);
        if (length == 0) return u"<none>";
        std::vector<WCHAR> buffer(length + 1, u'#');
        EXPECT_EQ(PosixDrivePathOfUnixPath((const WCHAR*)unixPath.c_str(), buffer.data(), length + 1), length);
        return Text(buffer.data());
    }

    bool hadPrefix = false;
    std::string savedPrefix;
    std::string base;
};

struct Row {
    const char* path;  // below the test's folder
    const char16_t* drivePath;
};

TEST_F(UnixPaths, TheMostSpecificDriveAsWineGivesIt) {
    const Row rows[] = {
        {"/disk", u"V:\\"},  // two drives of one folder: the lower letter
        {"/disk/", u"V:\\"},
        {"/disk/docs/a.txt", u"V:\\docs\\a.txt"},
        {"/disk//docs/./x/", u"V:\\docs\\x\\"},  // a trailing '/' stays, as '\'
        {"/disk/docs/*.txt", u"V:\\docs\\*.txt"},
        {"/disk/docs/ok.", u"V:\\docs\\ok"},
        {"/disk/nothere/deeper/x", u"V:\\nothere\\deeper\\x"},
        {"/disk/sub", u"Y:\\"},
        {"/disk/sub/deeper/x", u"Y:\\deeper\\x"},
        {"/disk/sub/../docs", u"V:\\docs"},
        {"/disk/sub/deeper/../../sub/x", u"Y:\\x"},
        {"/link/docs/x", u"V:\\docs\\x"},  // compared by identity
        {"/disk/tosub/x", u"Y:\\x"},
        {"/disk/out/y", u"V:\\out\\y"},    // the link is a name of the drive
        {"/elsewhere/y", u"<none>"},
        {"/missing/x", u"<none>"},
        // Each step goes one folder up, so a ".." takes the name before it
        // along: "docs/inner/.." is docs, and the next step up is disk.
        {"/disk/docs/inner/../x", u"V:\\docs\\x"},
        // "nothere/.." names no folder (nothere is missing); one up from it
        // is the test's own folder, which no drive maps.
        {"/disk/nothere/../docs", u"<none>"},
        {"/disk/out/../docs", u"<none>"},  // out/.. is the test's folder
        {"/disk/..", u"<none>"},
    };
    for (const Row& row : rows) EXPECT_EQ(DrivePath(row.path), row.drivePath) << row.path;
}

TEST_F(UnixPaths, TheRootIsTriedWhenMapped) {
    Link("/", base + "/prefix/dosdevices/z:");
    PosixResetState();
    std::u16string folder = DosTail(base);
    EXPECT_EQ(DrivePath("/elsewhere/y"), u"Z:" + folder + u"\\elsewhere\\y");
    EXPECT_EQ(DrivePath("/disk/nothere/../docs"), u"Z:" + folder + u"\\disk\\docs");
    EXPECT_EQ(DrivePath("/disk/out/../docs"), u"Z:" + folder + u"\\disk\\docs");
    EXPECT_EQ(DrivePath("/disk/.."), u"Z:" + folder);
    EXPECT_EQ(DrivePath("/disk/docs/../../disk/docs/x"), u"V:\\docs\\x");
}

TEST_F(UnixPaths, ShortBuffersAreNotOverrun) {
    std::u16string unixPath = Widen(base + "/disk/docs/a.txt");
    WCHAR buffer[8];
    for (WCHAR& unit : buffer) unit = u'#';
    EXPECT_EQ(PosixDrivePathOfUnixPath((const WCHAR*)unixPath.c_str(), buffer, 4), 13u);
    EXPECT_EQ(buffer[4], u'#');
    EXPECT_EQ(PosixDrivePathOfUnixPath(u"docs/a.txt", buffer, 8), 0u);  // not rooted
}

TEST_F(UnixPaths, OnlyArgumentsWithTwoSlashesAreUnixPaths) {
    const char16_t* typed[] = {u"/nologo", u"/f", u"/", u"-x/y", u"x/y", u"T:/x/y", u"\\x/y"};
    for (const char16_t* argument : typed) {
        WCHAR* drivePath = nullptr;
        EXPECT_EQ(DrivePathOfArgument(argument, &drivePath), ARGUMENT_AS_TYPED) << Narrow(argument);
        EXPECT_EQ(drivePath, nullptr);
    }
    WCHAR* drivePath = nullptr;
    EXPECT_EQ(DrivePathOfArgument(u"/x/", &drivePath), ARGUMENT_NO_DRIVE);
    std::u16string inDrive = Widen(base + "/disk/x");
    ASSERT_EQ(DrivePathOfArgument((const WCHAR*)inDrive.c_str(), &drivePath), ARGUMENT_DRIVE_PATH);
    EXPECT_EQ(Text(drivePath), u"V:\\x");
    MemFree(drivePath);
    MemSetFailAt(1);
    EXPECT_EQ(DrivePathOfArgument((const WCHAR*)inDrive.c_str(), &drivePath), ARGUMENT_NO_MEMORY);
    MemSetFailAt(0);
    EXPECT_EQ(drivePath, nullptr);
}

void ResetRun() {
    testrun::ClearRun();
    gRun.drive = 3;
}

// The drive path takes the Unix path's place: a name after /f, the bin path
// or the restore path; a Unix path that no drive holds ends the run.
TEST_F(UnixPaths, TheParserUsesTheDrivePath) {
    std::u16string name = Widen(base + "/disk/docs/my report.txt");
    std::u16string bin = Widen(base + "/disk/Recycled");
    std::u16string dest = Widen(base + "/disk/sub/dest/");
    std::u16string outside = Widen(base + "/elsewhere/y");
    struct Line {
        std::vector<const WCHAR*> words;
        bool valid;
        int32_t exitCode;
        const char16_t* names;
        const char16_t* binPath;
        const char16_t* restorePath;
    };
    const Line lines[] = {
        {{u"/f", name.c_str(), u"/Y"}, true, 0, u"V:\\docs\\my report.txt|", u"<none>", u"<none>"},
        {{u"/f", u"--", name.c_str(), u"/x"}, true, 0, u"V:\\docs\\my report.txt|/x|", u"<none>", u"<none>"},
        {{bin.c_str(), u"/view"}, true, 0, u"", u"V:\\Recycled", u"<none>"},
        {{bin.c_str(), u"2", dest.c_str()}, true, 0, u"", u"V:\\Recycled", u"Y:\\dest\\"},
        {{u"/f", outside.c_str()}, false, EXIT_FILE_INVALID, u"", u"<none>", u"<none>"},
        {{outside.c_str(), u"/view"}, false, EXIT_FILE_INVALID, u"", u"<none>", u"<none>"},
        {{u"1", outside.c_str()}, false, EXIT_FILE_INVALID, u"", u"<none>", u"<none>"},
    };
    for (const Line& line : lines) {
        ResetRun();
        std::vector<WCHAR*> arguments = {const_cast<WCHAR*>(u"dustpail")};
        for (const WCHAR* word : line.words) arguments.push_back(const_cast<WCHAR*>(word));
        EXPECT_EQ(ParseCommandLine((int)arguments.size(), arguments.data()), line.valid) << Narrow(arguments.back());
        EXPECT_EQ(gRun.exitCode, line.exitCode);
        std::u16string names;
        for (int32_t i = 0; i < gRun.throwList.Length(); ++i) names += Text(gRun.throwList.At(i)) + u"|";
        EXPECT_EQ(names, line.names);
        EXPECT_EQ(Text(gRun.bin.path), line.binPath);
        EXPECT_EQ(Text(gRun.restorePath), line.restorePath);
    }
    ResetRun();
}

}  // namespace

#endif
