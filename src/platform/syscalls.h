// The system table: every system service the program reaches, each under a
// name, so that a test can replace any of them by that name (gSys.wopen =
// ...) and the fault harness can make each fail in turn.
//
// DUSTPAIL_SYSTEM_CALLS lists them, one line each, in three kinds:
//   CALL(name, Result, (parameters), (arguments), failure, implementation)
//     a call that can fail; `failure` is what it returns then
//   WIDE(...)  the same, for the wide form of a call that also has an ANSI
//     form: a system without wide calls (the ANSI-only test build) reports
//     it as not implemented, and the program uses the ANSI form instead
//   SURE(name, Result, (parameters), (arguments), , implementation)
//     a call that cannot fail (the last error, the code page, waiting)
// `implementation` is the function the table starts with (fs.cpp).
#ifndef DUSTPAIL_PLATFORM_SYSCALLS_H
#define DUSTPAIL_PLATFORM_SYSCALLS_H

#include <cstdint>
#include <cstdio>

#include "platform/sysapi.h"

// Which file a path names: its volume and its number there, so that two
// spellings of one file (another case, an 8.3 name, "x\..", a trailing dot)
// compare equal. `isLink` tells a symbolic link or other reparse point,
// described itself and not its target.
struct FileIdentity {
    uint64_t volume;
    uint64_t file;
    DWORD attributes;
    bool isLink;
};

#define DUSTPAIL_SYSTEM_CALLS(CALL, WIDE, SURE)                                                       \
    /* Streams. */                                                                                    \
    WIDE(wopen, FILE*, (const WCHAR* name, const WCHAR* mode), (name, mode), nullptr, _wfopen)         \
    CALL(open, FILE*, (const char* name, const char* mode), (name, mode), nullptr, OpenAnsi)           \
    CALL(read, size_t, (void* buffer, size_t size, size_t count, FILE* stream),                       \
         (buffer, size, count, stream), 0, ReadStream)                                                \
    CALL(write, size_t, (const void* buffer, size_t size, size_t count, FILE* stream),                \
         (buffer, size, count, stream), 0, WriteStream)                                               \
    CALL(seek, int, (FILE* stream, long offset, int origin), (stream, offset, origin), -1, SeekStream) \
    CALL(close, int, (FILE* stream), (stream), EOF, CloseStream)                                      \
    CALL(flush, int, (FILE* stream), (stream), EOF, FlushStream)                                      \
    /* The caller's buffer for a stream not yet read (setvbuf). */                                    \
    CALL(buffer, int, (FILE* stream, char* buffer, size_t bytes), (stream, buffer, bytes), -1, BufferStream) \
    /* Nonzero once a read or write of the stream has failed (ferror). */                             \
    SURE(streamError, int, (FILE* stream), (stream), , StreamError)                                   \
    /* Position, and cutting the file to `size` bytes (buffers flushed first). */                     \
    CALL(tell, int64_t, (FILE* stream), (stream), -1, OsTell)                                         \
    CALL(truncate, BOOL, (FILE* stream, uint64_t size), (stream, size), FALSE, OsTruncate)            \
    /* An exclusive lock on one byte far past any data, taken at once or not */                       \
    /* at all; the .exe under Wine and the native build see each other's. */                          \
    CALL(lock, BOOL, (FILE* stream), (stream), FALSE, OsLock)                                         \
    CALL(unlock, BOOL, (FILE* stream), (stream), FALSE, OsUnlock)                                     \
    /* A new file, opened for binary writing; fails when the name exists in */                        \
    /* any form, a link included, so nothing is ever created through a link. */                       \
    WIDE(createNewW, FILE*, (const WCHAR* path), (path), nullptr, OsCreateNewFileW)                   \
    CALL(createNewA, FILE*, (const char* path), (path), nullptr, OsCreateNewFileA)                    \
    /* Files and folders. */                                                                          \
    WIDE(moveFileW, BOOL, (const WCHAR* existing, const WCHAR* target), (existing, target), FALSE,    \
         MoveFileW)                                                                                   \
    CALL(moveFileA, BOOL, (const char* existing, const char* target), (existing, target), FALSE,      \
         MoveFileA)                                                                                   \
    WIDE(getFileAttributesW, DWORD, (const WCHAR* path), (path), INVALID_FILE_ATTRIBUTES,             \
         GetFileAttributesW)                                                                          \
    CALL(getFileAttributesA, DWORD, (const char* path), (path), INVALID_FILE_ATTRIBUTES,              \
         GetFileAttributesA)                                                                          \
    WIDE(deleteFileW, BOOL, (const WCHAR* path), (path), FALSE, DeleteFileW)                          \
    CALL(deleteFileA, BOOL, (const char* path), (path), FALSE, DeleteFileA)                           \
    WIDE(removeDirectoryW, BOOL, (const WCHAR* path), (path), FALSE, RemoveDirectoryW)                \
    CALL(removeDirectoryA, BOOL, (const char* path), (path), FALSE, RemoveDirectoryA)                 \
    WIDE(findFirstFileW, HANDLE, (const WCHAR* pattern, WIN32_FIND_DATAW* data), (pattern, data),     \
         INVALID_HANDLE_VALUE, FindFirstFileW)                                                        \
    CALL(findFirstFileA, HANDLE, (const char* pattern, WIN32_FIND_DATAA* data), (pattern, data),      \
         INVALID_HANDLE_VALUE, FindFirstFileA)                                                        \
    WIDE(findNextFileW, BOOL, (HANDLE search, WIN32_FIND_DATAW* data), (search, data), FALSE,         \
         FindNextFileW)                                                                               \
    CALL(findNextFileA, BOOL, (HANDLE search, WIN32_FIND_DATAA* data), (search, data), FALSE,         \
         FindNextFileA)                                                                               \
    CALL(findClose, BOOL, (HANDLE search), (search), FALSE, FindClose)                                \
    /* With follow, a link is described by its target (as a path through it */                        \
    /* resolves); without, by itself. */                                                              \
    WIDE(identityW, BOOL, (const WCHAR* path, BOOL follow, FileIdentity* identity),                   \
         (path, follow, identity), FALSE, OsFileIdentityW)                                            \
    CALL(identityA, BOOL, (const char* path, BOOL follow, FileIdentity* identity),                    \
         (path, follow, identity), FALSE, OsFileIdentityA)                                            \
    /* Drives. */                                                                                     \
    CALL(getDiskFreeSpaceA, BOOL,                                                                     \
         (const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector, DWORD* freeClusters,     \
          DWORD* totalClusters),                                                                      \
         (root, sectorsPerCluster, bytesPerSector, freeClusters, totalClusters), FALSE,               \
         GetDiskFreeSpaceAnsi)                                                                        \
    WIDE(wgetdcwd, WCHAR*, (int drive, WCHAR* buffer, int capacity), (drive, buffer, capacity),       \
         nullptr, _wgetdcwd)                                                                          \
    CALL(getdcwd, char*, (int drive, char* buffer, int capacity), (drive, buffer, capacity), nullptr, \
         _getdcwd)                                                                                    \
    /* The current drive (1 = A), 0 outside every drive; making one current. */                       \
    CALL(getdrive, int, (void), (), 0, _getdrive)                                                     \
    CALL(chdrive, int, (int drive), (drive), -1, _chdrive)                                            \
    /* Text in the ANSI code page. */                                                                 \
    SURE(getACP, UINT, (void), (), , GetACP)                                                          \
    CALL(wideCharToMultiByte, int,                                                                    \
         (UINT codePage, DWORD flags, const WCHAR* wide, int wideCount, char* bytes, int byteCount,   \
          const char* defaultChar, BOOL* usedDefault),                                                \
         (codePage, flags, wide, wideCount, bytes, byteCount, defaultChar, usedDefault), 0,           \
         WideCharToMultiByte)                                                                         \
    CALL(multiByteToWideChar, int,                                                                    \
         (UINT codePage, DWORD flags, const char* bytes, int byteCount, WCHAR* wide, int wideCount),  \
         (codePage, flags, bytes, byteCount, wide, wideCount), 0, MultiByteToWideChar)                \
    /* The rest. */                                                                                   \
    SURE(getLastError, DWORD, (void), (), , LastError)                                                \
    SURE(setLastError, void, (DWORD error), (error), , SetLastError)                                  \
    CALL(randomBytes, BOOL, (void* buffer, size_t size), (buffer, size), FALSE, OsRandomBytes)        \
    SURE(sleep, void, (DWORD milliseconds), (milliseconds), , OsSleep)

#define DUSTPAIL_SYSTEM_CALL_FIELD(name, Result, parameters, arguments, failure, implementation) \
    Result(*name) parameters;

struct SystemCalls {
    DUSTPAIL_SYSTEM_CALLS(DUSTPAIL_SYSTEM_CALL_FIELD, DUSTPAIL_SYSTEM_CALL_FIELD,
                          DUSTPAIL_SYSTEM_CALL_FIELD)
};

#define DUSTPAIL_SYSTEM_CALL_ONE(name, Result, parameters, arguments, failure, implementation) +1

const int SYSTEM_CALL_COUNT = 0 DUSTPAIL_SYSTEM_CALLS(DUSTPAIL_SYSTEM_CALL_ONE, DUSTPAIL_SYSTEM_CALL_ONE,
                                                      DUSTPAIL_SYSTEM_CALL_ONE);

// What is known of each entry, for code that treats every entry alike (the
// fault harness, the ANSI-only build's missing wide calls), by the entry's
// field (SystemCall<&SystemCalls::read>):
//   NAME        its name
//   Pointer     its type
//   In(calls)   the entry in a table
//   Failure()   what it returns when it fails (not for SURE entries)
template <auto field>
struct SystemCall;

#define DUSTPAIL_SYSTEM_CALL_FACTS(name, Result, parameters, failureFunction)  \
    template <>                                                               \
    struct SystemCall<&SystemCalls::name> {                                   \
        typedef Result(*Pointer) parameters;                                  \
        static constexpr const char* NAME = #name;                            \
        static Pointer& In(SystemCalls& calls) { return calls.name; }         \
        static Pointer In(const SystemCalls& calls) { return calls.name; }    \
        failureFunction                                                       \
    };
#define DUSTPAIL_SYSTEM_CALL_FALLIBLE(name, Result, parameters, arguments, failure, implementation) \
    DUSTPAIL_SYSTEM_CALL_FACTS(name, Result, parameters, static Result Failure() { return failure; })
#define DUSTPAIL_SYSTEM_CALL_SURE(name, Result, parameters, arguments, failure, implementation) \
    DUSTPAIL_SYSTEM_CALL_FACTS(name, Result, parameters, )

DUSTPAIL_SYSTEM_CALLS(DUSTPAIL_SYSTEM_CALL_FALLIBLE, DUSTPAIL_SYSTEM_CALL_FALLIBLE,
                      DUSTPAIL_SYSTEM_CALL_SURE)

#endif
