// The POSIX backend of the Win32 and C runtime services: wildcard matching,
// code pages, drives from a Wine prefix, name lookup without regard to case,
// the file operations' refusals and the wide formatter.
#ifndef _WIN32

#include "platform/os_posix.h"
#include "platform/os.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
// Entries the next folder reads give before they fail as a disk error
// would make them; -1 lets every read through.
int sEntriesBeforeReadError = -1;
}  // namespace

// Stands in for the C library's readdir in this test program, so that a
// folder read can fail part way.
extern "C" struct dirent* readdir(DIR* directory) {
    using Readdir = struct dirent* (*)(DIR*);
    static Readdir real = reinterpret_cast<Readdir>(dlsym(RTLD_NEXT, "readdir"));
    if (sEntriesBeforeReadError == 0) {
        errno = EIO;
        return nullptr;
    }
    if (sEntriesBeforeReadError > 0) --sEntriesBeforeReadError;
    return real(directory);
}

namespace {

std::u16string Text(const WCHAR* text) { return text != nullptr ? std::u16string(text) : u"(none)"; }

std::string Bytes(const char* text, int length) { return std::string(text, (size_t)length); }

// ---------------------------------------------------------------------------
// The bin's lock: two streams of one file exclude each other whether the file
// could be opened for update or (a read-only desktop.ini) for reading only.

TEST(PosixLock, StreamsOfOneFileExcludeEachOther) {
    struct Way {
        mode_t mode;
        const char* open;
    };
    for (const Way& way : {Way{0644, "r+b"}, Way{0444, "rb"}}) {
        char path[] = "/tmp/dustpail-lock-XXXXXX";
        int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        chmod(path, way.mode);
        FILE* first = std::fopen(path, way.open);
        FILE* second = std::fopen(path, way.open);
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_TRUE(OsLock(first)) << way.open;
        EXPECT_FALSE(OsLock(second)) << way.open;
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_LOCK_VIOLATION) << way.open;
        EXPECT_TRUE(OsUnlock(first)) << way.open;
        EXPECT_TRUE(OsLock(second)) << way.open;
        std::fclose(first);
        std::fclose(second);
        unlink(path);
    }
}

// ---------------------------------------------------------------------------
// Directory masks

TEST(PosixMask, StarDotStarAlsoMatchesNamesWithoutDot) {
    EXPECT_TRUE(PosixMatchMask(u"Dc1", u"Dc1*.*"));
    EXPECT_TRUE(PosixMatchMask(u"Dc1.txt", u"Dc1*.*"));
    EXPECT_TRUE(PosixMatchMask(u"Dc10.txt", u"Dc1*.*"));
    EXPECT_FALSE(PosixMatchMask(u"Dc2.txt", u"Dc1*.*"));
    EXPECT_TRUE(PosixMatchMask(u"desktop.ini", u"D*.*"));
    EXPECT_TRUE(PosixMatchMask(u".", u"*.*"));
    EXPECT_TRUE(PosixMatchMask(u"..", u"*.*"));
}

TEST(PosixMask, IgnoresCaseThroughWineTable) {
    EXPECT_TRUE(PosixMatchMask(u"$Recycle.Bin", u"$RECYCLE.BIN"));
    EXPECT_TRUE(PosixMatchMask(u"\u03c9mega", u"\u03a9*"));          // omega
    EXPECT_TRUE(PosixMatchMask(u"\u0436\u0443\u043a", u"\u0416*"));  // Cyrillic zhe
    EXPECT_FALSE(PosixMatchMask(u"\u017fx", u"S*"));                 // long s stays itself
}

TEST(PosixMask, FollowsWineQuirks) {
    EXPECT_TRUE(PosixMatchMask(u"Dc1.txt", u"*."));       // a trailing dot matches anything left
    EXPECT_TRUE(PosixMatchMask(u"Dc1", u"*.*.*"));
    EXPECT_TRUE(PosixMatchMask(u"Dc1.txt", u"Dc1.txt.*"));
    EXPECT_FALSE(PosixMatchMask(u"abc", u"a*?"));         // '?' right after '*' never matches
    EXPECT_TRUE(PosixMatchMask(u"Dc1", u"?c1"));
    EXPECT_FALSE(PosixMatchMask(u"Dc12", u"?c1"));
    EXPECT_TRUE(PosixMatchMask(u"abc.TXT", u"*.t?t"));
}

// ---------------------------------------------------------------------------
// Case table and 8.3 names

TEST(PosixCase, MapsLikeWine) {
    EXPECT_EQ(PosixUpcase(u'a'), u'A');
    EXPECT_EQ(PosixUpcase(0x00FF), 0x0178);
    EXPECT_EQ(PosixUpcase(0x0101), 0x0100);
    EXPECT_EQ(PosixUpcase(0x03C9), 0x03A9);
    EXPECT_EQ(PosixUpcase(0x0436), 0x0416);
    EXPECT_EQ(PosixUpcase(0xFF41), 0xFF21);
    EXPECT_EQ(PosixUpcase(0x017F), 0x017F);  // not folded to 'S' by Wine
    EXPECT_EQ(PosixUpcase(0x03C2), 0x03C2);  // final sigma neither
    EXPECT_EQ(PosixDowncase(0x0130), 0x0130);
    EXPECT_EQ(PosixDowncase(0x0178), 0x00FF);
    EXPECT_EQ(PosixDowncase(u'Q'), u'q');
}

TEST(PosixShortNames, MatchWineGeneratedNames) {
    WCHAR buffer[14];
    EXPECT_EQ(PosixShortName(u"long_filename_here.text", buffer), 12u);
    EXPECT_EQ(Text(buffer), u"LONG~FPK.TEX");
    PosixShortName(u".hidden", buffer);
    EXPECT_EQ(Text(buffer), u"_HID~45N");
    PosixShortName(u"\u0416\u0443\u043a", buffer);
    EXPECT_EQ(Text(buffer), u"___~~MN1");
    PosixShortName(u"\u00dcn\u00ef.txt", buffer);
    EXPECT_EQ(Text(buffer), u"_N_~~14A.TXT");
    PosixShortName(u"a*b", buffer);
    EXPECT_EQ(Text(buffer), u"A_B~~GMW");
    PosixShortName(u"tr.", buffer);
    EXPECT_EQ(Text(buffer), u"TR_~~1BL");
    PosixShortName(u"\u00df", buffer);
    EXPECT_EQ(Text(buffer), u"_~~~~2SQ");
}

TEST(PosixShortNames, LegalNamesHaveNone) {
    WCHAR buffer[14];
    EXPECT_EQ(PosixShortName(u"desktop.ini", buffer), 0u);
    EXPECT_EQ(PosixShortName(u"abc.TXT", buffer), 0u);
    EXPECT_EQ(PosixShortName(u"$Recycle.Bin", buffer), 0u);
    EXPECT_EQ(Text(buffer), u"");
}

// ---------------------------------------------------------------------------
// Code pages

TEST(PosixCodePage, Windows1252) {
    char out[16];
    BOOL used = FALSE;
    int n = WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, u"a\u0101\u20ac\uff3c", -1, out, sizeof out, "#",
                                &used);
    ASSERT_EQ(n, 5);
    EXPECT_EQ(Bytes(out, n), std::string("a#\x80#", 4) + '\0');
    EXPECT_TRUE(used);

    WCHAR wide[8];
    n = MultiByteToWideChar(1252, 0, "\x80\x81\x8d\x8f\x90\x9d\xe9", 7, wide, 8);
    ASSERT_EQ(n, 7);
    EXPECT_EQ(std::u16string(wide, 7), u"\u20ac\u0081\u008d\u008f\u0090\u009d\u00e9");
    // The undefined bytes come back to themselves.
    n = WideCharToMultiByte(1252, 0, u"\u0081\u009d", 2, out, sizeof out, "#", nullptr);
    EXPECT_EQ(Bytes(out, n), "\x81\x9d");
}

TEST(PosixCodePage, Windows932) {
    char out[16];
    int n = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, u"\u65e5\u672c\uff3c\u00a5\u0101", -1, out,
                                sizeof out, "#", nullptr);
    ASSERT_EQ(n, 9);
    EXPECT_EQ(Bytes(out, n), std::string("\x93\xfa\x96\x7b\x81\x5f##", 8) + '\0');

    WCHAR wide[8];
    n = MultiByteToWideChar(932, 0, "\x93\xfa\x96\x7b\xa0\x81\x01", 7, wide, 8);
    ASSERT_EQ(n, 4);
    EXPECT_EQ(std::u16string(wide, 4), u"\u65e5\u672c\uf8f0\u30fb");  // a bad pair is one U+30FB
    // A lead byte before the terminator stands alone.
    n = MultiByteToWideChar(932, 0, "\x93", -1, wide, 8);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(wide[0], 0x30FB);
    EXPECT_EQ(wide[1], 0);
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "\x81\x01", 2, wide, 8), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_UNICODE_TRANSLATION);
}

TEST(PosixCodePage, SurrogatesConvertOneByOne) {
    char out[16];
    int n = WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, u"a\U0001F600b", -1, out, sizeof out, "#", nullptr);
    ASSERT_EQ(n, 5);
    EXPECT_EQ(Bytes(out, n), std::string("a##b") + '\0');
    n = WideCharToMultiByte(CP_UTF8, 0, u"\U0001F600\xd800", 2 + 1, out, sizeof out, nullptr, nullptr);
    EXPECT_EQ(Bytes(out, n), "\xf0\x9f\x98\x80\xef\xbf\xbd");
    WCHAR wide[8];
    n = MultiByteToWideChar(CP_UTF8, 0, "\xf0\x9f\x98\x80\xff", 5, wide, 8);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(std::u16string(wide, 3), u"\U0001F600\ufffd");
}

TEST(PosixCodePage, SizeQueriesAndShortBuffers) {
    EXPECT_EQ(WideCharToMultiByte(932, 0, u"\u65e5a", -1, nullptr, 0, "#", nullptr), 4);
    EXPECT_EQ(MultiByteToWideChar(932, 0, "\x93\xfa" "a", -1, nullptr, 0), 3);

    char out[4];
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(1252, 0, u"abc", -1, out, 3, "#", nullptr), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(WideCharToMultiByte(1252, 0, u"abc", 3, out, 3, "#", nullptr), 3);  // no terminator asked for
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(932, 0, u"a\u65e5", 2, out, 2, "#", nullptr), 0);  // no half character
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);

    WCHAR wide[2];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, wide, 2), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(1252, 0, u"abc", 0, out, 3, "#", nullptr), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
}

TEST(PosixCodePage, FromLocaleNameAsWineReadsIt) {
    EXPECT_EQ(PosixCodePageForLocale("ja_JP.UTF-8"), 932u);
    EXPECT_EQ(PosixCodePageForLocale("JA_jp"), 932u);
    EXPECT_EQ(PosixCodePageForLocale("ru_RU.UTF-8"), 1251u);
    EXPECT_EQ(PosixCodePageForLocale("el_GR"), 1253u);
    EXPECT_EQ(PosixCodePageForLocale("zh_CN.GB18030"), 936u);
    EXPECT_EQ(PosixCodePageForLocale("zh_TW.UTF-8"), 950u);
    EXPECT_EQ(PosixCodePageForLocale("pl_PL"), 1250u);
    EXPECT_EQ(PosixCodePageForLocale("sr_RS@latin"), 1250u);
    EXPECT_EQ(PosixCodePageForLocale("hi_IN.UTF-8"), (UINT)CP_UTF8);  // no ANSI page: UTF-8
    EXPECT_EQ(PosixCodePageForLocale("C"), 1252u);
    EXPECT_EQ(PosixCodePageForLocale("POSIX"), 1252u);
    EXPECT_EQ(PosixCodePageForLocale("C.UTF-8"), 1252u);
    EXPECT_EQ(PosixCodePageForLocale("ru_US.UTF-8"), 1252u);     // unknown pair: the default
    EXPECT_EQ(PosixCodePageForLocale("de_DE.UTF-8@foo"), 1252u);  // unknown modifier
}

// ---------------------------------------------------------------------------
// Wide formatting

int Format(WCHAR* buffer, size_t count, const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(buffer, count, format, args);
    va_end(args);
    return n;
}

int Count(const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    int n = _vscwprintf(format, args);
    va_end(args);
    return n;
}

TEST(PosixFormat, ConversionsOfTheProgram) {
    WCHAR buffer[80];
    EXPECT_EQ(Format(buffer, 80, u"%-5d|%d|%05d|%2u|%04u", 42, -7, -3, 7u, 7u), 22);
    EXPECT_EQ(Text(buffer), u"42   |-7|-0003| 7|0007");
    EXPECT_EQ(Format(buffer, 80, u"%-6s|%s|%c%c", u"ab", u"\u65e5", (int)u'A', 0x3042), 11);
    EXPECT_EQ(Text(buffer), u"ab    |\u65e5|A\u3042");
    EXPECT_EQ(Format(buffer, 80, u"%s\\D%c%lu.%s|%x|%X", u"C:\\bin", (int)u'c', (unsigned long)12, u"txt",
                     255u, 48879u),
              23);
    EXPECT_EQ(Text(buffer), u"C:\\bin\\Dc12.txt|ff|BEEF");
    Format(buffer, 80, u"%s|%%|%q|%hd", (const WCHAR*)nullptr, 70000);
    EXPECT_EQ(Text(buffer), u"(null)|%|q|4464");
    EXPECT_EQ(Count(u"%-39s|", u"x"), 40);
}

TEST(PosixFormat, BoundedLikeTheRuntime) {
    WCHAR buffer[8];
    for (WCHAR& ch : buffer) ch = u'@';
    EXPECT_EQ(Format(buffer, 5, u"abcde"), 5);  // fits exactly: no terminator
    EXPECT_EQ(buffer[5], u'@');
    EXPECT_EQ(Format(buffer, 4, u"abcde"), -1);
    EXPECT_EQ(std::u16string(buffer, 4), u"abcd");
    EXPECT_EQ(Format(buffer, 6, u"abcde"), 5);
    EXPECT_EQ(buffer[5], 0);
    EXPECT_EQ(Format(buffer, 0, u"a"), -1);
    EXPECT_EQ(Format(buffer, 0, u""), 0);
}

// ---------------------------------------------------------------------------
// Drives and files in a prefix of our own

class PosixDisk : public ::testing::Test {
   protected:
    void SetUp() override {
        ASSERT_NE(getcwd(savedCwd, sizeof savedCwd), nullptr);
        const char* prefix = std::getenv("WINEPREFIX");
        hadPrefix = prefix != nullptr;
        if (hadPrefix) savedPrefix = prefix;
        char pattern[] = "/tmp/os_posix_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        char real[PATH_MAX];
        ASSERT_NE(realpath(pattern, real), nullptr);
        base = real;
        Run("mkdir -p '" + base + "/prefix/dosdevices' '" + base + "/disk/sub/deeper'");
        Link(base + "/disk", "x:");
        Link(base + "/disk/sub", "y:");
        Link(base + "/missing", "q:");
        setenv("WINEPREFIX", (base + "/prefix").c_str(), 1);
        ASSERT_EQ(chdir((base + "/disk/sub/deeper").c_str()), 0);
        PosixResetState();
    }

    void TearDown() override {
        ASSERT_EQ(chdir(savedCwd), 0);
        if (hadPrefix)
            setenv("WINEPREFIX", savedPrefix.c_str(), 1);
        else
            unsetenv("WINEPREFIX");
        PosixResetState();
        Run("chmod -R u+w '" + base + "' && rm -rf '" + base + "'");
    }

    static void Run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }
    void Link(const std::string& target, const char* letter) {
        ASSERT_EQ(symlink(target.c_str(), (base + "/prefix/dosdevices/" + letter).c_str()), 0);
    }
    void Write(const std::string& relative, const char* text = "data") {
        FILE* file = std::fopen((base + "/disk/" + relative).c_str(), "wb");
        ASSERT_NE(file, nullptr) << relative;
        std::fputs(text, file);
        std::fclose(file);
    }
    bool Exists(const std::string& relative) {
        struct stat info;
        return lstat((base + "/disk/" + relative).c_str(), &info) == 0;
    }
    // The names a search gives, in order, separated by '|'.
    std::u16string List(const WCHAR* pattern) {
        WIN32_FIND_DATAW data;
        HANDLE search = FindFirstFileW(pattern, &data);
        if (search == INVALID_HANDLE_VALUE) return u"<none>";
        std::u16string names;
        do names += std::u16string(data.cFileName) + u"|";
        while (FindNextFileW(search, &data));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
        FindClose(search);
        return names;
    }

    char savedCwd[PATH_MAX];
    bool hadPrefix = false;
    std::string savedPrefix;
    std::string base;
};

TEST_F(PosixDisk, DrivesComeFromDosdevices) {
    EXPECT_EQ(_getdrive(), 25);  // Y: holds the working directory more closely than X:
    WCHAR buffer[MAX_PATH];
    EXPECT_EQ(Text(_wgetdcwd(0, buffer, MAX_PATH)), u"Y:\\deeper");
    EXPECT_EQ(Text(_wgetdcwd(24, buffer, MAX_PATH)), u"X:\\");  // another drive: its root
    errno = 0;
    EXPECT_EQ(_wgetdcwd(17, buffer, MAX_PATH), nullptr);  // Q: points nowhere
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(_wgetdcwd(0, buffer, 9), nullptr);  // "Y:\deeper" needs 10
    EXPECT_EQ(errno, ERANGE);
    char* ansi = _getdcwd(0, nullptr, 0);
    ASSERT_NE(ansi, nullptr);
    EXPECT_STREQ(ansi, "Y:\\deeper");
    std::free(ansi);

    EXPECT_EQ(_chdrive(17), -1);
    EXPECT_EQ(_chdrive(3), -1);  // no c: link in this prefix
    EXPECT_EQ(_getdrive(), 25);
    EXPECT_EQ(_chdrive(24), 0);
    EXPECT_EQ(_getdrive(), 24);
    EXPECT_EQ(Text(_wgetdcwd(0, buffer, MAX_PATH)), u"X:\\");
    EXPECT_EQ(_chdrive(25), 0);  // back on Y:, at its root this time
    EXPECT_EQ(Text(_wgetdcwd(0, buffer, MAX_PATH)), u"Y:\\");
}

TEST_F(PosixDisk, WithoutDosdevicesZIsTheRoot) {
    setenv("WINEPREFIX", (base + "/no-prefix-here").c_str(), 1);
    PosixResetState();
    EXPECT_EQ(_getdrive(), 26);
    WCHAR buffer[MAX_PATH];
    std::u16string expected = u"Z:";
    for (char ch : base + "/disk/sub/deeper") expected += ch == '/' ? u'\\' : (char16_t)ch;
    EXPECT_EQ(Text(_wgetdcwd(0, buffer, MAX_PATH)), expected);
    EXPECT_EQ(GetFileAttributesW(u"X:\\"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(PosixDisk, NamesResolveWithoutRegardToCase) {
    Run("mkdir -p '" + base + "/disk/$Recycle.Bin/S-1-5'");
    Write("$Recycle.Bin/S-1-5/$IAbc.txt", "x");
    Write("\xce\xa9mega.txt");  // Omega, stored in UTF-8
    EXPECT_EQ(GetFileAttributesW(u"X:\\$RECYCLE.BIN"), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW(u"x:/$recycle.bin/s-1-5/$iabc.TXT"), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesW(u"X:\\\u03c9MEGA.TXT"), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
    // ".." stops at the root of the drive (Y: is disk/sub).
    EXPECT_EQ(GetFileAttributesW(u"..\\..\\..\\DEEPER"), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    FILE* file = _wfopen(u"X:\\$RECYCLE.BIN\\S-1-5\\$IABC.TXT", u"rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fgetc(file), 'x');
    std::fclose(file);
    EXPECT_EQ(List(u"X:\\$RECYCLE.BIN\\*"), u".|..|S-1-5|");
    EXPECT_EQ(List(u"X:\\$RECYCLE.BIN\\S-1-5\\$i*.*"), u"$IAbc.txt|");
}

TEST_F(PosixDisk, SearchesListAsWineDoes) {
    Write("b");
    Write("A.txt");
    Write("c");
    Write(".dot");
    Write("Dc1");
    Write("Dc1.txt");
    Write("Dc10.txt");
    Write("desktop.ini");
    EXPECT_EQ(List(u"X:\\*"), u".dot|A.txt|b|c|Dc1|Dc1.txt|Dc10.txt|desktop.ini|sub|");  // a root has no dots
    EXPECT_EQ(List(u"X:\\sub\\*.*"), u".|..|deeper|");
    EXPECT_EQ(List(u"X:\\Dc1*.*"), u"Dc1|Dc1.txt|Dc10.txt|");
    EXPECT_EQ(List(u"X:\\DC1.TXT"), u"Dc1.txt|");

    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(u"X:\\.dot", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, (DWORD)(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(data.nFileSizeLow, 4u);
    EXPECT_EQ(Text(data.cAlternateFileName), u"_DOT~JW4");
    FindClose(search);

    EXPECT_EQ(FindFirstFileW(u"X:\\nothing*", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(FindFirstFileW(u"X:\\nowhere\\*", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesW(u"X:\\nothing"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesW(u"X:\\b\\x"), INVALID_FILE_ATTRIBUTES);  // through a file
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(FindFirstFileW(u"X:", &data), INVALID_HANDLE_VALUE);  // a bare drive names nothing
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesW(u"Q:\\x"), INVALID_FILE_ATTRIBUTES);  // a drive that maps nothing
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesW(u"Q:\\x\\y"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
}

TEST_F(PosixDisk, PathsAreNormalisedAsWindowsDoes) {
    Write("b");
    EXPECT_EQ(GetFileAttributesW(u"X:\\sub.\\deeper"), (DWORD)FILE_ATTRIBUTE_DIRECTORY);  // one dot dropped
    EXPECT_EQ(GetFileAttributesW(u"X:\\sub..\\deeper"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(u"X:\\b. ."), (DWORD)FILE_ATTRIBUTE_ARCHIVE);  // trailing dots and blanks
    EXPECT_EQ(GetFileAttributesW(u"X:/sub/./deeper/../../b"), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesW(u"X:\\b\\"), INVALID_FILE_ATTRIBUTES);  // a file is no folder
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesW(u"X:\\a*b"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME);
    EXPECT_EQ(GetFileAttributesW(u"\\\\server\\share"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(PosixDisk, ReadOnlyFilesAreNotDeleted) {
    Write("locked");
    Run("chmod 444 '" + base + "/disk/locked'");
    SetLastError(0);
    EXPECT_FALSE(DeleteFileW(u"X:\\LOCKED"));  // even for root, who could
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Exists("locked"));
    EXPECT_EQ(GetFileAttributesW(u"X:\\locked"), (DWORD)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    Run("chmod 644 '" + base + "/disk/locked'");
    EXPECT_TRUE(DeleteFileW(u"X:\\LOCKED"));
    EXPECT_FALSE(Exists("locked"));
}

TEST_F(PosixDisk, FoldersAndFilesAreNotMistaken) {
    Write("sub/file");
    EXPECT_FALSE(DeleteFileW(u"X:\\sub"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_FALSE(RemoveDirectoryW(u"X:\\sub\\file"));
    EXPECT_FALSE(RemoveDirectoryW(u"X:\\sub"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DIR_NOT_EMPTY);
    Run("mkdir '" + base + "/disk/sub/empty'");
    EXPECT_TRUE(RemoveDirectoryW(u"X:\\SUB\\deeper\\..\\EMPTY"));
    EXPECT_FALSE(Exists("sub/empty"));
    errno = 0;
    EXPECT_EQ(_wfopen(u"X:\\sub", u"rb"), nullptr);  // fopen would open a folder for reading
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(_wfopen(u"X:\\nowhere\\new", u"wb"), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
}

TEST_F(PosixDisk, LinksAreRemovedNotFollowed) {
    Run("mkdir -p '" + base + "/outside/tree' && echo keep > '" + base + "/outside/tree/file'");
    Run("echo keep > '" + base + "/outside/file'");
    Run("ln -s '" + base + "/outside/tree' '" + base + "/disk/dirlink'");
    Run("ln -s '" + base + "/outside/file' '" + base + "/disk/filelink'");
    EXPECT_EQ(GetFileAttributesW(u"X:\\dirlink"), (DWORD)(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_EQ(GetFileAttributesW(u"X:\\filelink"), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_TRUE(RemoveDirectoryW(u"X:\\dirlink"));
    EXPECT_TRUE(DeleteFileW(u"X:\\filelink"));
    EXPECT_FALSE(Exists("dirlink"));
    EXPECT_FALSE(Exists("filelink"));
    struct stat info;
    EXPECT_EQ(stat((base + "/outside/tree/file").c_str(), &info), 0);
    EXPECT_EQ(stat((base + "/outside/file").c_str(), &info), 0);
}

TEST_F(PosixDisk, MovesNeverReplace) {
    Write("one");
    Write("two");
    EXPECT_FALSE(MoveFileW(u"X:\\one", u"X:\\TWO"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(MoveFileW(u"X:\\one", u"X:\\nowhere\\one"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(MoveFileW(u"X:\\none", u"X:\\three"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(MoveFileW(u"X:\\one", u"X:\\ONE"));  // the same file: nothing changes
    EXPECT_TRUE(Exists("one"));
    EXPECT_TRUE(MoveFileW(u"X:\\one", u"X:\\sub\\deeper\\Moved"));
    EXPECT_TRUE(Exists("sub/deeper/Moved"));
    EXPECT_TRUE(MoveFileW(u"Moved", u"..\\dir-moved-next"));  // relative to Y:\deeper
    EXPECT_TRUE(Exists("sub/dir-moved-next"));
}

// A big folder's names are kept between calls; the process's own changes
// must show at once, and a change from outside must not be missed.
TEST_F(PosixDisk, BigFolderLookupsFollowEveryChange) {
    Run("mkdir '" + base + "/disk/big'");
    for (int i = 0; i < 300; ++i) Write("big/Dc" + std::to_string(i) + ".txt");
    EXPECT_NE(GetFileAttributesW(u"X:\\BIG\\DC7.TXT"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(u"X:\\big\\dc300.txt"), INVALID_FILE_ATTRIBUTES);

    // Made by this process: found under any case, and never made twice.
    FILE* made = _wfopen(u"X:\\big\\New.TXT", u"wb");
    ASSERT_NE(made, nullptr);
    std::fclose(made);
    EXPECT_NE(GetFileAttributesW(u"X:\\big\\NEW.txt"), INVALID_FILE_ATTRIBUTES);
    Write("outside.txt");
    EXPECT_FALSE(MoveFileW(u"X:\\outside.txt", u"X:\\big\\new.txt"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(MoveFileW(u"X:\\outside.txt", u"X:\\big\\Moved.txt"));
    EXPECT_NE(GetFileAttributesW(u"X:\\big\\MOVED.TXT"), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(DeleteFileW(u"X:\\big\\moved.TXT"));
    EXPECT_EQ(GetFileAttributesW(u"X:\\big\\Moved.txt"), INVALID_FILE_ATTRIBUTES);

    // Changed from outside (a new modification time): read again.
    timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
    Write("big/Outsider.txt");
    ASSERT_EQ(utimensat(AT_FDCWD, (base + "/disk/big").c_str(), later, 0), 0);
    EXPECT_NE(GetFileAttributesW(u"X:\\big\\OUTSIDER.TXT"), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(MoveFileW(u"X:\\big\\Dc1.txt", u"X:\\big\\outsider.TXT"));
    EXPECT_TRUE(Exists("big/Dc1.txt"));
}

// A lookup that misses a name in a big folder reads all its names, which
// the next search of the folder takes over: that search must still list the
// folder as it is then, after a change from outside or by this process, and
// a read that failed part way must neither pass for a smaller folder nor be
// handed over.
TEST_F(PosixDisk, SearchesAfterAMissedLookupListTheFolderAsItIs) {
    Run("mkdir '" + base + "/disk/big'");
    for (int i = 0; i < 300; ++i) Write("big/Dc" + std::to_string(i) + ".txt");
    const std::u16string all = List(u"X:\\big\\*");
    // The first name missed in a folder is looked for by reading it through;
    // the read fails after `entries` names when that is not -1.
    auto miss = [&](int entries) {
        PosixResetState();
        sEntriesBeforeReadError = entries;
        EXPECT_EQ(GetFileAttributesW(u"X:\\big\\desktop.ini"), INVALID_FILE_ATTRIBUTES);
        sEntriesBeforeReadError = -1;
    };
    miss(-1);
    EXPECT_EQ(List(u"X:\\big\\*"), all);
    EXPECT_EQ(List(u"X:\\big\\*"), all);  // handed over once, then read again

    timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
    miss(-1);
    Write("big/Outsider.txt");
    ASSERT_EQ(utimensat(AT_FDCWD, (base + "/disk/big").c_str(), later, 0), 0);
    EXPECT_NE(List(u"X:\\big\\*").find(u"|Outsider.txt|"), std::u16string::npos);

    miss(-1);
    FILE* made = _wfopen(u"X:\\big\\Own.txt", u"wb");
    ASSERT_NE(made, nullptr);
    std::fclose(made);
    ASSERT_EQ(utimensat(AT_FDCWD, (base + "/disk/big").c_str(), later, 0), 0);  // as if in the same tick
    EXPECT_NE(List(u"X:\\big\\*").find(u"|Own.txt|"), std::u16string::npos);

    // Reads that fail part way: of a lookup, of the kept names, of a search.
    const std::u16string now = List(u"X:\\big\\*");
    miss(280);
    EXPECT_EQ(List(u"X:\\big\\*"), now);
    miss(-1);
    sEntriesBeforeReadError = 280;
    EXPECT_EQ(GetFileAttributesW(u"X:\\big\\desktop.INI"), INVALID_FILE_ATTRIBUTES);  // builds the kept names
    sEntriesBeforeReadError = -1;
    for (int i = 0; i < 300; ++i) {
        std::string name = "X:\\big\\DC" + std::to_string(i) + ".TXT";
        EXPECT_EQ(GetFileAttributesW(std::u16string(name.begin(), name.end()).c_str()), (DWORD)FILE_ATTRIBUTE_ARCHIVE) << i;
    }
    EXPECT_EQ(List(u"X:\\big\\*"), now);  // takes what the first lookup read
    WIN32_FIND_DATAW data;
    sEntriesBeforeReadError = 100;
    EXPECT_EQ(FindFirstFileW(u"X:\\big\\*", &data), INVALID_HANDLE_VALUE);
    DWORD error = GetLastError();
    sEntriesBeforeReadError = -1;
    EXPECT_NE(error, (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_NE(error, (DWORD)ERROR_NO_MORE_FILES);
}

// A search describes each entry relative to the folder it holds open; a
// path to the entry is described from the root down. Both must agree on
// every entry of every kind, and a search must leave out what Wine leaves
// out (dangling links, the prefix, /dev, /proc, /sys). Returns the entries.
int ExpectSearchAgreesWithPaths(const std::u16string& folder) {
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((folder + u"\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int entries = 0;
    do {
        std::u16string name = data.cFileName;
        if (name == u"." || name == u"..") continue;
        ++entries;
        std::u16string path = folder + u"\\" + name;
        EXPECT_EQ(data.dwFileAttributes, GetFileAttributesW(path.c_str())) << std::string(name.begin(), name.end());
        WIN32_FIND_DATAW alone;
        HANDLE one = FindFirstFileW(path.c_str(), &alone);
        EXPECT_NE(one, INVALID_HANDLE_VALUE);
        if (one == INVALID_HANDLE_VALUE) continue;
        EXPECT_EQ(alone.dwFileAttributes, data.dwFileAttributes);
        EXPECT_EQ(alone.nFileSizeLow, data.nFileSizeLow);
        EXPECT_EQ(alone.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwLowDateTime);
        FindClose(one);
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return entries;
}

TEST_F(PosixDisk, SearchesDescribeEntriesAsTheirPathsDo) {
    Run("mkdir -p '" + base + "/disk/kinds/folder' '" + base + "/disk/kinds/marked'");
    Write("kinds/plain");
    Write("kinds/locked");
    Run("chmod 444 '" + base + "/disk/kinds/locked'");
    Write("kinds/.dot");
    Write("kinds/dosattrib");
    // Samba's attribute, where the file system keeps user attributes.
    bool marks = setxattr((base + "/disk/kinds/dosattrib").c_str(), "user.DOSATTRIB", "0x6", 3, 0) == 0 &&
                 setxattr((base + "/disk/kinds/marked").c_str(), "user.DOSATTRIB", "0x2", 3, 0) == 0;
    Run("ln -s plain '" + base + "/disk/kinds/to-file'");
    Run("ln -s folder '" + base + "/disk/kinds/to-folder'");
    Run("ln -s nowhere '" + base + "/disk/kinds/dangling'");
    Run("ln -s /proc '" + base + "/disk/kinds/to-proc'");
    Run("ln -s '" + base + "/prefix' '" + base + "/disk/kinds/to-prefix'");

    EXPECT_EQ(List(u"X:\\kinds\\*"), u".|..|.dot|dosattrib|folder|locked|marked|plain|to-file|to-folder|");
    EXPECT_EQ(ExpectSearchAgreesWithPaths(u"X:\\kinds"), 8);
    struct Expected {
        const char16_t* name;
        DWORD attributes;
    };
    const DWORD marked = marks ? FILE_ATTRIBUTE_HIDDEN : 0;
    for (const Expected& expected : {
             Expected{u"plain", FILE_ATTRIBUTE_ARCHIVE},
             Expected{u"locked", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
             Expected{u".dot", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN},
             Expected{u"dosattrib", (DWORD)(FILE_ATTRIBUTE_ARCHIVE | (marks ? FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM : 0))},
             Expected{u"folder", FILE_ATTRIBUTE_DIRECTORY},
             Expected{u"marked", FILE_ATTRIBUTE_DIRECTORY | marked},
             Expected{u"to-file", FILE_ATTRIBUTE_ARCHIVE},
             Expected{u"to-folder", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT},
         }) {
        WIN32_FIND_DATAW data;
        HANDLE one = FindFirstFileW((std::u16string(u"X:\\kinds\\") + expected.name).c_str(), &data);
        ASSERT_NE(one, INVALID_HANDLE_VALUE);
        EXPECT_EQ(data.dwFileAttributes, expected.attributes) << std::string(expected.name, expected.name + 4);
        FindClose(one);
    }

    // Mount points (reparse points), devices and links of the host's /dev.
    Link("/", "z:");
    PosixResetState();
    EXPECT_GT(ExpectSearchAgreesWithPaths(u"Z:\\dev"), 0);
    std::u16string root = List(u"Z:\\*");
    EXPECT_EQ(root.find(u"|proc|"), std::u16string::npos);
    EXPECT_EQ(root.find(u"|dev|"), std::u16string::npos);
}

// Moving names between two big folders by turns keeps both folders' names:
// each name is found under another case where it went, and no longer where
// it was.
TEST_F(PosixDisk, BigFoldersTakenInTurnsKeepTheirNames) {
    Run("mkdir '" + base + "/disk/from' '" + base + "/disk/into'");
    for (int i = 0; i < 300; ++i) {
        Write("from/Item" + std::to_string(i) + ".txt");
        Write("into/Old" + std::to_string(i) + ".txt");
    }
    for (int i = 0; i < 40; ++i) {
        std::string number = std::to_string(i);
        std::u16string from = u"X:\\from\\Item" + std::u16string(number.begin(), number.end()) + u".txt";
        std::u16string into = u"X:\\into\\New" + std::u16string(number.begin(), number.end()) + u".txt";
        std::u16string fromOtherCase = u"X:\\FROM\\ITEM" + std::u16string(number.begin(), number.end()) + u".TXT";
        std::u16string intoOtherCase = u"X:\\INTO\\new" + std::u16string(number.begin(), number.end()) + u".TXT";
        EXPECT_EQ(GetFileAttributesW(intoOtherCase.c_str()), INVALID_FILE_ATTRIBUTES) << i;
        ASSERT_TRUE(MoveFileW(from.c_str(), into.c_str())) << i;
        EXPECT_EQ(GetFileAttributesW(fromOtherCase.c_str()), INVALID_FILE_ATTRIBUTES) << i;
        EXPECT_EQ(GetFileAttributesW(intoOtherCase.c_str()), (DWORD)FILE_ATTRIBUTE_ARCHIVE) << i;
        EXPECT_EQ(GetFileAttributesW(u"X:\\into\\OLD7.TXT"), (DWORD)FILE_ATTRIBUTE_ARCHIVE) << i;
        EXPECT_EQ(GetFileAttributesW(u"X:\\from\\ITEM299.TXT"), (DWORD)FILE_ATTRIBUTE_ARCHIVE) << i;
    }
    EXPECT_TRUE(Exists("into/New39.txt"));
    EXPECT_FALSE(Exists("from/Item39.txt"));
}

TEST_F(PosixDisk, DiskGeometryOfADrive) {
    DWORD sectors = 0, bytes = 0, free = 0, total = 0;
    ASSERT_TRUE(GetDiskFreeSpaceA("X:\\", &sectors, &bytes, &free, &total));
    EXPECT_EQ(bytes, 512u);
    EXPECT_GE(sectors, 1u);
    EXPECT_GT(total, 0u);
    EXPECT_FALSE(GetDiskFreeSpaceA("Q:\\", &sectors, &bytes, &free, &total));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
}

}  // namespace

#endif
