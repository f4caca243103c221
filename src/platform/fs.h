// File-system access with the ANSI fallback, text conversions between UTF-16
// and the ANSI code page, and bounded wide formatting.
//
// Every system service goes through the table `gSys` (syscalls.h), so that a
// test can replace any entry to inject a failure (and the ANSI-only test
// build starts with the wide entries reporting ERROR_CALL_NOT_IMPLEMENTED).
#ifndef DUSTPAIL_PLATFORM_FS_H
#define DUSTPAIL_PLATFORM_FS_H

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "platform/syscalls.h"
#include "platform/sysapi.h"

extern SystemCalls gSys;
// The table as the build starts it, for tests that put an entry back.
extern const SystemCalls DEFAULT_SYSTEM_CALLS;
// Whether the system has the wide calls, decided once per run by the first
// wide call's answer: a system without them (the ANSI-only test build)
// reports it as not implemented. Without them the ANSI forms are used.
bool FsHasWideCalls();

// File operations, wide or, on a system without the wide calls, ANSI.
FILE* FsOpenFile(const WCHAR* name, const WCHAR* mode);
BOOL FsMoveFile(const WCHAR* existing, const WCHAR* target);
DWORD FsGetFileAttributes(const WCHAR* path);
BOOL FsDeleteFile(const WCHAR* path);
BOOL FsRemoveDirectory(const WCHAR* path);
HANDLE FsFindFirstFile(const WCHAR* pattern, WIN32_FIND_DATAW* data);
BOOL FsFindNextFile(HANDLE search, WIN32_FIND_DATAW* data);
BOOL FsFindClose(HANDLE search);
// The size of a file as its directory entry gives it (0 when missing).
uint64_t FsGetFileSize(const WCHAR* path);
// A new file that did not exist in any form (see createNewW); null when the
// name is taken (last error ERROR_FILE_EXISTS) or on any other failure.
FILE* FsCreateNewFile(const WCHAR* path);
// The identity of what the path names: with follow what a link leads to,
// without it the link itself.
bool FsGetFileIdentity(const WCHAR* path, bool follow, FileIdentity* identity);
bool FsSameFile(const FileIdentity& a, const FileIdentity& b);
// Whether the path names a link (symbolic link, junction, other reparse
// point) rather than a file or folder of its own; false when it is missing.
bool FsIsLink(const WCHAR* path);
// Whether the system deletes and moves a link itself (Windows, POSIX) or
// what the link points to (Wine), where a link must therefore be left alone.
bool FsHandlesLinksItself();
bool FsRandomBytes(void* buffer, size_t size);
void FsSleep(DWORD milliseconds);
// True only when the path is known not to exist: its attributes cannot be
// read because it (or a folder on its way) is not there. Any other failure
// leaves the question open, which callers must not take for "gone".
bool FsPathMissing(const WCHAR* path);
// The last error of the calls above, as the system left it.
DWORD FsLastError();

// Stream access through the table. FsReadExact is true only when all
// `size` bytes were read.
size_t FsRead(void* buffer, size_t size, FILE* stream);
// True when a read that came back short did so because it failed, not
// because the file ended.
bool FsReadFailed(FILE* stream);
bool FsReadExact(void* buffer, size_t size, FILE* stream);
bool FsWrite(const void* buffer, size_t size, FILE* stream);
bool FsSeek(FILE* stream, long offset, int origin);
bool FsClose(FILE* stream);
bool FsFlush(FILE* stream);
// Gives a stream that is read whole in order the caller's large buffer
// (which must outlive it: glibc ignores the size of a buffer it makes
// itself), so that a big file takes few reads; false, the stream
// unchanged, when that fails.
bool FsReadAhead(FILE* stream, char* buffer, size_t bytes);
// The stream's position, -1 on failure.
int64_t FsTell(FILE* stream);
bool FsTruncate(FILE* stream, uint64_t size);
bool FsLock(FILE* stream);
bool FsUnlock(FILE* stream);

// Cluster geometry of a drive root such as "C:\".
BOOL FsGetDiskFreeSpace(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector);
// Current directory of a drive (0 = current, 1 = A); the wide form fails on
// a system without the wide calls.
WCHAR* FsGetDriveDirectoryW(int drive, WCHAR* buffer, int capacity);
char* FsGetDriveDirectoryA(int drive, char* buffer, int capacity);
// The current drive (1 = A), 0 outside every drive.
int FsCurrentDrive();
// Makes a drive current; false when it cannot be.
bool FsChangeDrive(int drive);
// The ANSI code page.
UINT FsCodePage();
void FsSetLastError(DWORD error);
// The local calendar time of `seconds` since 1970 (localtime); false when
// the runtime cannot give it.
bool FsLocalTime(int64_t seconds, struct tm* out);

// A walk over the names a search pattern ("folder\\D*.*") matches, "." and
// ".." passed over. Each step tells which of four things it met, so that a
// folder that could not be read whole is never taken for one read to its end:
//   FOLDER_ENTRY    walk.found holds the next name
//   FOLDER_DONE     every match has been given
//   FOLDER_NOTHING  nothing matched, or the folder is not there
//   FOLDER_FAILED   the search could not start, or broke off part way
// FsEndFolderWalk ends the search after any step, also one that broke out
// of the walk early.
enum FolderStep { FOLDER_ENTRY, FOLDER_DONE, FOLDER_NOTHING, FOLDER_FAILED };
struct FolderWalk {
    HANDLE search;
    WIN32_FIND_DATAW found;
};
FolderStep FsFirstInFolder(FolderWalk* walk, const WCHAR* pattern);
FolderStep FsNextInFolder(FolderWalk* walk);
void FsEndFolderWalk(FolderWalk* walk);

// Text conversions (code page CP_ACP, '#' for what it lacks, no best fit).
// New heap strings (MemFree), or null when memory runs out.
char* WideToAnsiAlloc(const WCHAR* text);
// The same, but null (last error ERROR_NO_UNICODE_TRANSLATION) when the code
// page cannot carry the text exactly: such a name would reach another file.
char* WideToAnsiExactAlloc(const WCHAR* text);
// Whether `ansi` reads back as exactly `text`.
bool IsExactAnsi(const WCHAR* text, const char* ansi);
WCHAR* AnsiToWideAlloc(const char* text);
// Into a caller's buffer: the length without terminator, -1 on failure
// (such as a buffer too small).
int AnsiToWideBuffer(WCHAR* buffer, int capacity, const char* text);
// Into a caller's buffer: the length without terminator, 0 on failure
// (such as a buffer too small).
int WideToAnsiBuffer(char* buffer, int capacity, const WCHAR* text);
// The first `count` units of text into a caller's buffer, unterminated: the
// byte count, 0 on failure. A null buffer measures: the bytes the text
// takes, the width a redirected Windows listing gives it.
int WideToAnsiUnits(const WCHAR* text, int count, char* buffer, int capacity);
// wcsncpy into a fixed field of n characters, always terminated.
size_t CopyWideTerminated(WCHAR* dst, size_t n, const WCHAR* src);

// Wide printf formatting (%s wide string, %c wide character, %d, %u, %lu,
// with flags and widths) into a buffer of `capacity` characters. Returns the
// number of characters written, or -1 when the result does not fit (the
// buffer then holds an empty string): a path is refused, never cut.
int FormatWide(WCHAR* buffer, size_t capacity, const WCHAR* format, ...);
int FormatWideV(WCHAR* buffer, size_t capacity, const WCHAR* format, va_list args);
// Characters the format produces, -1 when it cannot be formatted.
int CountWideV(const WCHAR* format, va_list args);

#endif
