// File-system access: the wide calls, or the ANSI ones on a system without
// them. Every system service is reached through `gSys` so that tests can
// make any of them fail.
#include "platform/fs.h"

#include <cstring>

#include "platform/memory.h"
#include "platform/os.h"
#include "platform/wide.h"

namespace {

#ifdef _WIN32
FILE* OpenAnsi(const char* name, const char* mode) { return std::fopen(name, mode); }
#else
// The POSIX backend stores names as UTF-8; an ANSI name is read in the
// ANSI code page, as Windows' own fopen does.
FILE* OpenAnsi(const char* name, const char* mode) {
    WCHAR* wideName = AnsiToWideAlloc(name);
    WCHAR* wideMode = AnsiToWideAlloc(mode);
    FILE* stream = (wideName && wideMode) ? _wfopen(wideName, wideMode) : nullptr;
    MemFree(wideName);
    MemFree(wideMode);
    return stream;
}
#endif

size_t ReadStream(void* buffer, size_t size, size_t count, FILE* stream) {
    return std::fread(buffer, size, count, stream);
}
size_t WriteStream(const void* buffer, size_t size, size_t count, FILE* stream) {
    return std::fwrite(buffer, size, count, stream);
}
int SeekStream(FILE* stream, long offset, int origin) { return std::fseek(stream, offset, origin); }
int CloseStream(FILE* stream) { return std::fclose(stream); }
int FlushStream(FILE* stream) { return std::fflush(stream); }
int BufferStream(FILE* stream, char* buffer, size_t bytes) {
    return std::setvbuf(stream, buffer, _IOFBF, bytes);
}
int StreamError(FILE* stream) { return std::ferror(stream); }

BOOL GetDiskFreeSpaceAnsi(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                          DWORD* freeClusters, DWORD* totalClusters) {
    return GetDiskFreeSpaceA(root, sectorsPerCluster, bytesPerSector, freeClusters, totalClusters);
}

// The fixed fields of a search record are the same in both forms; the names
// are converted over their whole fixed arrays.
void WidenFindData(const WIN32_FIND_DATAA& ansi, WIN32_FIND_DATAW* wide) {
    wide->dwFileAttributes = ansi.dwFileAttributes;
    wide->ftCreationTime = ansi.ftCreationTime;
    wide->ftLastAccessTime = ansi.ftLastAccessTime;
    wide->ftLastWriteTime = ansi.ftLastWriteTime;
    wide->nFileSizeHigh = ansi.nFileSizeHigh;
    wide->nFileSizeLow = ansi.nFileSizeLow;
    wide->dwReserved0 = ansi.dwReserved0;
    wide->dwReserved1 = ansi.dwReserved1;
    gSys.multiByteToWideChar(CP_ACP, 0, ansi.cFileName, MAX_PATH, wide->cFileName, MAX_PATH);
    gSys.multiByteToWideChar(CP_ACP, 0, ansi.cAlternateFileName, 14, wide->cAlternateFileName, 14);
    // A name cut by the conversion still ends inside its array.
    wide->cFileName[MAX_PATH - 1] = 0;
    wide->cAlternateFileName[13] = 0;
}

DWORD LastError() { return GetLastError(); }

#if DUSTPAIL_ANSI_ONLY
// A system that implements only the ANSI forms: each wide entry reports
// that it is not implemented.
template <auto field, typename Pointer = typename SystemCall<field>::Pointer>
struct MissingWide;

template <auto field, typename Result, typename... Arguments>
struct MissingWide<field, Result (*)(Arguments...)> {
    static Result Call(Arguments...) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return SystemCall<field>::Failure();
    }
};

#define WIDE_DEFAULT(name, Result, parameters, arguments, failure, implementation) \
    MissingWide<&SystemCalls::name>::Call,
#else
#define WIDE_DEFAULT(name, Result, parameters, arguments, failure, implementation) implementation,
#endif
#define PLAIN_DEFAULT(name, Result, parameters, arguments, failure, implementation) implementation,

enum WideCalls { WIDE_UNDECIDED, WIDE_PRESENT, WIDE_MISSING };

WideCalls sWideCalls = WIDE_UNDECIDED;

}  // namespace

const SystemCalls DEFAULT_SYSTEM_CALLS = {DUSTPAIL_SYSTEM_CALLS(PLAIN_DEFAULT, WIDE_DEFAULT, PLAIN_DEFAULT)};

SystemCalls gSys = DEFAULT_SYSTEM_CALLS;

// Asked once, of the system itself rather than of gSys, so that an entry a
// test replaces (or makes fail) never decides it.
bool FsHasWideCalls() {
    if (sWideCalls == WIDE_UNDECIDED) {
        SetLastError(ERROR_SUCCESS);
        bool missing = DEFAULT_SYSTEM_CALLS.getFileAttributesW(WIDE("")) == INVALID_FILE_ATTRIBUTES &&
                       GetLastError() == ERROR_CALL_NOT_IMPLEMENTED;
        sWideCalls = missing ? WIDE_MISSING : WIDE_PRESENT;
    }
    return sWideCalls == WIDE_PRESENT;
}

FILE* FsOpenFile(const WCHAR* name, const WCHAR* mode) {
    if (FsHasWideCalls()) return gSys.wopen(name, mode);
    char* ansiName = WideToAnsiExactAlloc(name);
    char* ansiMode = WideToAnsiAlloc(mode);
    FILE* stream = nullptr;
    if (ansiName != nullptr && ansiMode != nullptr) stream = gSys.open(ansiName, ansiMode);
    MemFree(ansiName);
    MemFree(ansiMode);
    return stream;
}

// The ANSI forms of the one- and two-path calls, on a system without the
// wide ones. A path the code page cannot carry exactly
// fails the call: its ANSI form names another file. So does a conversion
// that runs out of memory.
template <typename Result, typename Call>
Result WithAnsiPath(const WCHAR* path, Result failure, Call call) {
    char* ansi = WideToAnsiExactAlloc(path);
    if (ansi == nullptr) return failure;
    Result result = call(ansi);
    MemFree(ansi);
    return result;
}

BOOL FsMoveFile(const WCHAR* existing, const WCHAR* target) {
    if (FsHasWideCalls()) return gSys.moveFileW(existing, target);
    char* ansiExisting = WideToAnsiExactAlloc(existing);
    char* ansiTarget = WideToAnsiExactAlloc(target);
    BOOL result = (ansiExisting && ansiTarget) ? gSys.moveFileA(ansiExisting, ansiTarget) : FALSE;
    MemFree(ansiExisting);
    MemFree(ansiTarget);
    return result;
}

DWORD FsGetFileAttributes(const WCHAR* path) {
    if (FsHasWideCalls()) return gSys.getFileAttributesW(path);
    return WithAnsiPath(path, INVALID_FILE_ATTRIBUTES,
                        [](const char* ansi) { return gSys.getFileAttributesA(ansi); });
}

BOOL FsDeleteFile(const WCHAR* path) {
    if (FsHasWideCalls()) return gSys.deleteFileW(path);
    return WithAnsiPath(path, (BOOL)FALSE, [](const char* ansi) { return gSys.deleteFileA(ansi); });
}

BOOL FsRemoveDirectory(const WCHAR* path) {
    if (FsHasWideCalls()) return gSys.removeDirectoryW(path);
    return WithAnsiPath(path, (BOOL)FALSE,
                        [](const char* ansi) { return gSys.removeDirectoryA(ansi); });
}

HANDLE FsFindFirstFile(const WCHAR* pattern, WIN32_FIND_DATAW* data) {
    if (FsHasWideCalls()) return gSys.findFirstFileW(pattern, data);
    WIN32_FIND_DATAA ansiData;
    std::memset(&ansiData, 0, sizeof ansiData);
    HANDLE search = WithAnsiPath(pattern, INVALID_HANDLE_VALUE, [&ansiData](const char* ansi) {
        return gSys.findFirstFileA(ansi, &ansiData);
    });
    if (search == INVALID_HANDLE_VALUE) {
        std::memset(data, 0, sizeof *data);
        return search;
    }
    WidenFindData(ansiData, data);
    return search;
}

BOOL FsFindNextFile(HANDLE search, WIN32_FIND_DATAW* data) {
    if (FsHasWideCalls()) return gSys.findNextFileW(search, data);
    WIN32_FIND_DATAA ansiData;
    std::memset(&ansiData, 0, sizeof ansiData);
    BOOL result = gSys.findNextFileA(search, &ansiData);
    if (result) WidenFindData(ansiData, data);
    return result;
}

BOOL FsFindClose(HANDLE search) { return gSys.findClose(search); }

DWORD FsLastError() { return gSys.getLastError(); }

namespace {

// A search that ends for any other reason than "no (more) such names" (or
// no such folder, which holds none either) has not seen the whole folder.
bool SearchEndedNormally() {
    DWORD error = FsLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_NO_MORE_FILES;
}

bool IsDotName(const WCHAR* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

}  // namespace

FolderStep FsFirstInFolder(FolderWalk* walk, const WCHAR* pattern) {
    walk->search = FsFindFirstFile(pattern, &walk->found);
    if (walk->search == INVALID_HANDLE_VALUE) return SearchEndedNormally() ? FOLDER_NOTHING : FOLDER_FAILED;
    return IsDotName(walk->found.cFileName) ? FsNextInFolder(walk) : FOLDER_ENTRY;
}

FolderStep FsNextInFolder(FolderWalk* walk) {
    do {
        if (!FsFindNextFile(walk->search, &walk->found))
            return SearchEndedNormally() ? FOLDER_DONE : FOLDER_FAILED;
    } while (IsDotName(walk->found.cFileName));
    return FOLDER_ENTRY;
}

void FsEndFolderWalk(FolderWalk* walk) {
    if (walk->search != INVALID_HANDLE_VALUE) FsFindClose(walk->search);
    walk->search = INVALID_HANDLE_VALUE;
}

bool FsPathMissing(const WCHAR* path) {
    if (FsGetFileAttributes(path) != INVALID_FILE_ATTRIBUTES) return false;
    DWORD error = FsLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

uint64_t FsGetFileSize(const WCHAR* path) {
    WIN32_FIND_DATAW data;
    HANDLE search = FsFindFirstFile(path, &data);
    if (search == INVALID_HANDLE_VALUE) return 0;
    FsFindClose(search);
    return ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

FILE* FsCreateNewFile(const WCHAR* path) {
    if (FsHasWideCalls()) return gSys.createNewW(path);
    return WithAnsiPath(path, (FILE*)nullptr, [](const char* ansi) { return gSys.createNewA(ansi); });
}

bool FsGetFileIdentity(const WCHAR* path, bool follow, FileIdentity* identity) {
    if (FsHasWideCalls()) return gSys.identityW(path, follow, identity) != 0;
    return WithAnsiPath(path, (BOOL)FALSE, [follow, identity](const char* ansi) {
               return gSys.identityA(ansi, follow, identity);
           }) != 0;
}

bool FsSameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.volume == b.volume && a.file == b.file;
}

bool FsIsLink(const WCHAR* path) {
    FileIdentity identity;
    return FsGetFileIdentity(path, false, &identity) && identity.isLink;
}

bool FsHandlesLinksItself() { return OsHandlesLinksItself() != 0; }

bool FsRandomBytes(void* buffer, size_t size) { return gSys.randomBytes(buffer, size) != 0; }

void FsSleep(DWORD milliseconds) { gSys.sleep(milliseconds); }

size_t FsRead(void* buffer, size_t size, FILE* stream) { return gSys.read(buffer, 1, size, stream); }

bool FsReadExact(void* buffer, size_t size, FILE* stream) { return FsRead(buffer, size, stream) == size; }

bool FsReadFailed(FILE* stream) { return gSys.streamError(stream) != 0; }

bool FsWrite(const void* buffer, size_t size, FILE* stream) {
    return gSys.write(buffer, 1, size, stream) == size;
}

bool FsSeek(FILE* stream, long offset, int origin) { return gSys.seek(stream, offset, origin) == 0; }

// The flush first, on its own: Wine's fclose reports success even when
// writing out its buffer failed (a full disk), so only the flush tells.
bool FsClose(FILE* stream) {
    bool flushed = gSys.flush(stream) == 0;
    return gSys.close(stream) == 0 && flushed;
}

bool FsFlush(FILE* stream) { return gSys.flush(stream) == 0; }
bool FsReadAhead(FILE* stream, char* buffer, size_t bytes) {
    return gSys.buffer(stream, buffer, bytes) == 0;
}

int64_t FsTell(FILE* stream) { return gSys.tell(stream); }

bool FsTruncate(FILE* stream, uint64_t size) { return gSys.truncate(stream, size) != 0; }

bool FsLock(FILE* stream) { return gSys.lock(stream) != 0; }

bool FsUnlock(FILE* stream) { return gSys.unlock(stream) != 0; }

BOOL FsGetDiskFreeSpace(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector) {
    DWORD freeClusters = 0, totalClusters = 0;
    return gSys.getDiskFreeSpaceA(root, sectorsPerCluster, bytesPerSector, &freeClusters,
                                  &totalClusters);
}

WCHAR* FsGetDriveDirectoryW(int drive, WCHAR* buffer, int capacity) {
    if (!FsHasWideCalls()) return nullptr;
    return gSys.wgetdcwd(drive, buffer, capacity);
}

char* FsGetDriveDirectoryA(int drive, char* buffer, int capacity) {
    return gSys.getdcwd(drive, buffer, capacity);
}

int FsCurrentDrive() { return gSys.getdrive(); }

bool FsChangeDrive(int drive) { return gSys.chdrive(drive) == 0; }

UINT FsCodePage() { return gSys.getACP(); }

void FsSetLastError(DWORD error) { gSys.setLastError(error); }

// glibc's localtime() looks at /etc/localtime again on every call (a status
// call per listed entry); localtime_r() reads the zone once per run.
bool FsLocalTime(int64_t seconds, struct tm* out) {
    time_t value = (time_t)seconds;
#ifdef _WIN32
    const struct tm* local = std::localtime(&value);
    if (local != nullptr) *out = *local;
    return local != nullptr;
#else
    return localtime_r(&value, out) != nullptr;
#endif
}
