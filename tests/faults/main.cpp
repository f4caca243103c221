// The program's entry with one injected fault, for tests/faults/run_faults.py.
//
//   DUSTPAIL_FAIL_ALLOC=N          the N-th allocation fails, and only it
//   DUSTPAIL_FAIL_ALLOC_FROM=N     the N-th allocation and every later one fail
//   DUSTPAIL_FAIL_SYSCALL=name:K   the K-th call of that entry of `gSys` fails;
//                                  name "any": the K-th call of any entry
//   DUSTPAIL_FAIL_SYSCALL_FROM=name:K  the K-th call and every later one fail
//   DUSTPAIL_KILL_AT=K             just before the K-th call that changes the
//                                  disk, the process ends at once with
//                                  _exit(137): no stdio flush, no atexit, as
//                                  when it is killed (KillPlan below says
//                                  which calls count)
//   DUSTPAIL_FAULT_REPORT=path     written at the end of the run:
//                                  "met 0|1", "allocs N", "calls N", the
//                                  entry names of the failed calls,
//                                  "killed 0|1", "mutating N" (calls that
//                                  changed the disk, or could have) and
//                                  "next NAME" (the call a kill came before)
//
// A failed call returns what the system returns on failure and leaves a
// plausible last error (access denied), never "not implemented", which
// would send the program down its ANSI path instead. A wide open that fails
// takes the ANSI open right after it down too, so that the program's one
// open fails as a whole, as it does on a real disk.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/runstate.h"
#include "platform/fs.h"
#include "platform/memory.h"

namespace {

// One fault plan for the whole run.
struct FaultPlan {
    const char* name = nullptr;  // entry name, or "any"
    long at = 0;                 // 1-based call number; 0: no system-call fault
    bool from = false;           // every call from `at` on
    long calls = 0;              // calls counted so far (of `name`, or of all)
    long totalCalls = 0;         // every call of every entry
    bool met = false;
    bool failNextAnsiOpen = false;
    char failed[1024] = {0};     // names of the entries that were failed
};

FaultPlan gPlan;
const SystemCalls& kReal = kDefaultSystemCalls;

// The kill plan: the calls that change the disk are counted on their own.
// Those are opens in a mode that can write, writes, flushes and closes of a
// stream that was written (its buffer reaches the file there), exclusive
// creates, truncations, moves, deletes and directory removals.
struct KillPlan {
    long at = 0;         // 1-based mutating call to die before; 0: never
    long mutating = 0;   // mutating calls made so far
    FILE* written[64] = {nullptr};  // open streams that have had a write
};

KillPlan gKill;

// Ends the process the way a kill does: no stdio buffer reaches its file,
// no atexit handler runs. The report is written with plain system calls.
[[noreturn]] void DieNow(const char* next) {
    const char* path = std::getenv("DUSTPAIL_FAULT_REPORT");
    if (path != nullptr && path[0] != 0) {
        char text[256];
        int length = std::snprintf(text, sizeof text, "met 1\nkilled 1\nmutating %ld\nnext %s\n",
                                   gKill.mutating - 1, next);
        int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            if (length > 0 && write(fd, text, (size_t)length) < 0) {
                // Nothing more can be done on the way out.
            }
            close(fd);
        }
    }
    _exit(137);
}

// Counts one call that changes the disk; dies first when it is the chosen one.
void BeforeMutating(const char* name) {
    ++gKill.mutating;
    if (gKill.at != 0 && gKill.mutating == gKill.at) DieNow(name);
}

bool WritingMode(const char* mode) {
    return std::strchr(mode, 'w') != nullptr || std::strchr(mode, 'a') != nullptr ||
           std::strchr(mode, '+') != nullptr;
}

bool WritingModeW(const WCHAR* mode) {
    for (const WCHAR* at = mode; *at != 0 && *at != ','; ++at)
        if (*at == 'w' || *at == 'a' || *at == '+') return true;
    return false;
}

void NoteWritten(FILE* stream) {
    for (FILE*& slot : gKill.written)
        if (slot == stream) return;
    for (FILE*& slot : gKill.written)
        if (slot == nullptr) {
            slot = stream;
            return;
        }
}

bool WasWritten(FILE* stream) {
    for (FILE* slot : gKill.written)
        if (slot == stream) return true;
    return false;
}

// True (and forgotten) when the stream has had a write.
bool TakeWritten(FILE* stream) {
    for (FILE*& slot : gKill.written)
        if (slot == stream) {
            slot = nullptr;
            return true;
        }
    return false;
}

void NoteFailed(const char* name) {
    size_t used = std::strlen(gPlan.failed);
    if (used + std::strlen(name) + 2 < sizeof gPlan.failed) {
        if (used > 0) gPlan.failed[used++] = ' ';
        std::strcpy(gPlan.failed + used, name);
    }
}

// Counts the call and tells whether it is to fail.
bool ShouldFail(const char* name) {
    ++gPlan.totalCalls;
    if (gPlan.at == 0) return false;
    bool counted = std::strcmp(gPlan.name, "any") == 0 || std::strcmp(gPlan.name, name) == 0;
    if (!counted) return false;
    ++gPlan.calls;
    bool fail = gPlan.from ? gPlan.calls >= gPlan.at : gPlan.calls == gPlan.at;
    if (!fail) return false;
    gPlan.met = true;
    NoteFailed(name);
    SetLastError(ERROR_ACCESS_DENIED);
    errno = EACCES;
    return true;
}

FILE* WideOpen(const WCHAR* name, const WCHAR* mode) {
    if (WritingModeW(mode)) BeforeMutating("wopen");
    gPlan.failNextAnsiOpen = false;
    if (ShouldFail("wopen")) {
        gPlan.failNextAnsiOpen = true;
        return nullptr;
    }
    return kReal.wopen(name, mode);
}
FILE* AnsiOpen(const char* name, const char* mode) {
    if (WritingMode(mode)) BeforeMutating("open");
    bool followsFailedWide = gPlan.failNextAnsiOpen;
    gPlan.failNextAnsiOpen = false;
    if (ShouldFail("open") || followsFailedWide) {
        SetLastError(ERROR_ACCESS_DENIED);
        errno = EACCES;
        return nullptr;
    }
    return kReal.open(name, mode);
}
// A failed read leaves its stream in error, as a real one does.
FILE* gFailedStream = nullptr;
size_t Read(void* buffer, size_t size, size_t count, FILE* stream) {
    if (!ShouldFail("read")) return kReal.read(buffer, size, count, stream);
    gFailedStream = stream;
    return 0;
}
int StreamError(FILE* stream) { return stream == gFailedStream || kReal.streamError(stream); }
size_t Write(const void* buffer, size_t size, size_t count, FILE* stream) {
    BeforeMutating("write");
    NoteWritten(stream);
    return ShouldFail("write") ? 0 : kReal.write(buffer, size, count, stream);
}
int Seek(FILE* stream, long offset, int origin) {
    return ShouldFail("seek") ? -1 : kReal.seek(stream, offset, origin);
}
// A close that fails has still released the stream, as fclose does.
int Close(FILE* stream) {
    if (stream == gFailedStream) gFailedStream = nullptr;
    if (TakeWritten(stream)) BeforeMutating("close");
    bool fail = ShouldFail("close");
    int result = kReal.close(stream);
    return fail ? EOF : result;
}
BOOL MoveW(const WCHAR* existing, const WCHAR* target) {
    BeforeMutating("moveFileW");
    return ShouldFail("moveFileW") ? FALSE : kReal.moveFileW(existing, target);
}
BOOL MoveA(const char* existing, const char* target) {
    BeforeMutating("moveFileA");
    return ShouldFail("moveFileA") ? FALSE : kReal.moveFileA(existing, target);
}
DWORD AttributesW(const WCHAR* path) {
    return ShouldFail("getFileAttributesW") ? INVALID_FILE_ATTRIBUTES : kReal.getFileAttributesW(path);
}
DWORD AttributesA(const char* path) {
    return ShouldFail("getFileAttributesA") ? INVALID_FILE_ATTRIBUTES : kReal.getFileAttributesA(path);
}
BOOL DeleteW(const WCHAR* path) {
    BeforeMutating("deleteFileW");
    return ShouldFail("deleteFileW") ? FALSE : kReal.deleteFileW(path);
}
BOOL DeleteA(const char* path) {
    BeforeMutating("deleteFileA");
    return ShouldFail("deleteFileA") ? FALSE : kReal.deleteFileA(path);
}
BOOL RemoveW(const WCHAR* path) {
    BeforeMutating("removeDirectoryW");
    return ShouldFail("removeDirectoryW") ? FALSE : kReal.removeDirectoryW(path);
}
BOOL RemoveA(const char* path) {
    BeforeMutating("removeDirectoryA");
    return ShouldFail("removeDirectoryA") ? FALSE : kReal.removeDirectoryA(path);
}
HANDLE FindFirstW(const WCHAR* pattern, WIN32_FIND_DATAW* data) {
    return ShouldFail("findFirstFileW") ? INVALID_HANDLE_VALUE : kReal.findFirstFileW(pattern, data);
}
HANDLE FindFirstA(const char* pattern, WIN32_FIND_DATAA* data) {
    return ShouldFail("findFirstFileA") ? INVALID_HANDLE_VALUE : kReal.findFirstFileA(pattern, data);
}
BOOL FindNextW(HANDLE search, WIN32_FIND_DATAW* data) {
    return ShouldFail("findNextFileW") ? FALSE : kReal.findNextFileW(search, data);
}
BOOL FindNextA(HANDLE search, WIN32_FIND_DATAA* data) {
    return ShouldFail("findNextFileA") ? FALSE : kReal.findNextFileA(search, data);
}
// Like a close, a failed FindClose still ends the search.
BOOL FindEnd(HANDLE search) {
    bool fail = ShouldFail("findClose");
    BOOL result = kReal.findClose(search);
    return fail ? FALSE : result;
}
BOOL DiskFreeSpace(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                   DWORD* freeClusters, DWORD* totalClusters) {
    return ShouldFail("getDiskFreeSpaceA")
               ? FALSE
               : kReal.getDiskFreeSpaceA(root, sectorsPerCluster, bytesPerSector, freeClusters,
                                         totalClusters);
}
WCHAR* DriveDirectoryW(int drive, WCHAR* buffer, int capacity) {
    return ShouldFail("wgetdcwd") ? nullptr : kReal.wgetdcwd(drive, buffer, capacity);
}
char* DriveDirectoryA(int drive, char* buffer, int capacity) {
    return ShouldFail("getdcwd") ? nullptr : kReal.getdcwd(drive, buffer, capacity);
}

// A flush of a stream that was written sends its buffer to the file.
int Flush(FILE* stream) {
    if (WasWritten(stream)) BeforeMutating("flush");
    return ShouldFail("flush") ? EOF : kReal.flush(stream);
}
// A failed exclusive create has made nothing.
FILE* CreateNewW(const WCHAR* path) {
    BeforeMutating("createNewW");
    return ShouldFail("createNewW") ? nullptr : kReal.createNewW(path);
}
FILE* CreateNewA(const char* path) {
    BeforeMutating("createNewA");
    return ShouldFail("createNewA") ? nullptr : kReal.createNewA(path);
}
int64_t Tell(FILE* stream) { return ShouldFail("tell") ? -1 : kReal.tell(stream); }
BOOL Truncate(FILE* stream, uint64_t size) {
    BeforeMutating("truncate");
    return ShouldFail("truncate") ? FALSE : kReal.truncate(stream, size);
}
BOOL Lock(FILE* stream) { return ShouldFail("lock") ? FALSE : kReal.lock(stream); }
BOOL Unlock(FILE* stream) { return ShouldFail("unlock") ? FALSE : kReal.unlock(stream); }
BOOL IdentityW(const WCHAR* path, BOOL follow, FileIdentity* identity) {
    return ShouldFail("identityW") ? FALSE : kReal.identityW(path, follow, identity);
}
BOOL IdentityA(const char* path, BOOL follow, FileIdentity* identity) {
    return ShouldFail("identityA") ? FALSE : kReal.identityA(path, follow, identity);
}
BOOL RandomBytes(void* buffer, size_t size) {
    return ShouldFail("randomBytes") ? FALSE : kReal.randomBytes(buffer, size);
}

// Every entry of the table is wrapped by name. An entry added to
// SystemCalls stops the build here until it is wrapped, and counted in
// BeforeMutating when it can change the disk (an exclusive create, a
// truncation, a lock): a kill test that does not know it would miss the
// points where it runs.
static_assert(sizeof(SystemCalls) == 35 * sizeof(void (*)()),
              "gSys has a new entry: wrap it in FaultyCalls (and count it as mutating if it writes)");

SystemCalls FaultyCalls() {
    SystemCalls calls = kDefaultSystemCalls;
    calls.wopen = WideOpen;
    calls.open = AnsiOpen;
    calls.read = Read;
    calls.write = Write;
    calls.seek = Seek;
    calls.close = Close;
    calls.moveFileW = MoveW;
    calls.moveFileA = MoveA;
    calls.getFileAttributesW = AttributesW;
    calls.getFileAttributesA = AttributesA;
    calls.deleteFileW = DeleteW;
    calls.deleteFileA = DeleteA;
    calls.removeDirectoryW = RemoveW;
    calls.removeDirectoryA = RemoveA;
    calls.findFirstFileW = FindFirstW;
    calls.findFirstFileA = FindFirstA;
    calls.findNextFileW = FindNextW;
    calls.findNextFileA = FindNextA;
    calls.findClose = FindEnd;
    calls.getDiskFreeSpaceA = DiskFreeSpace;
    calls.wgetdcwd = DriveDirectoryW;
    calls.getdcwd = DriveDirectoryA;
    calls.createNewW = CreateNewW;
    calls.createNewA = CreateNewA;
    calls.flush = Flush;
    calls.streamError = StreamError;
    calls.tell = Tell;
    calls.truncate = Truncate;
    calls.lock = Lock;
    calls.unlock = Unlock;
    calls.identityW = IdentityW;
    calls.identityA = IdentityA;
    calls.randomBytes = RandomBytes;
    // sleep: waiting changes nothing and cannot fail.
    return calls;
}

long NumberFromEnv(const char* variable) {
    const char* text = std::getenv(variable);
    return text != nullptr ? std::strtol(text, nullptr, 10) : 0;
}

// "name:K" into the plan; false for anything else.
bool ParseCallPlan(const char* text, bool from) {
    static char name[64];
    const char* colon = std::strchr(text, ':');
    if (colon == nullptr || colon == text || (size_t)(colon - text) >= sizeof name) return false;
    std::memcpy(name, text, (size_t)(colon - text));
    name[colon - text] = 0;
    gPlan.name = name;
    gPlan.at = std::strtol(colon + 1, nullptr, 10);
    gPlan.from = from;
    return gPlan.at > 0;
}

void WriteReport() {
    const char* path = std::getenv("DUSTPAIL_FAULT_REPORT");
    if (path == nullptr || path[0] == 0) return;
    FILE* report = std::fopen(path, "w");
    if (report == nullptr) return;
    std::fprintf(report, "met %d\nallocs %ld\ncalls %ld\nfailed %s\nkilled 0\nmutating %ld\n",
                 (MemFailureMet() || gPlan.met) ? 1 : 0, MemAllocCount(), gPlan.totalCalls,
                 gPlan.failed, gKill.mutating);
    std::fclose(report);
}

bool InstallFaults() {
    if (long n = NumberFromEnv("DUSTPAIL_FAIL_ALLOC")) MemSetFailOnce(n);
    if (long n = NumberFromEnv("DUSTPAIL_FAIL_ALLOC_FROM")) MemSetFailAt(n);
    const char* once = std::getenv("DUSTPAIL_FAIL_SYSCALL");
    const char* from = std::getenv("DUSTPAIL_FAIL_SYSCALL_FROM");
    if (once != nullptr && !ParseCallPlan(once, false)) return false;
    if (from != nullptr && !ParseCallPlan(from, true)) return false;
    const char* kill = std::getenv("DUSTPAIL_KILL_AT");
    if (kill != nullptr && (gKill.at = std::strtol(kill, nullptr, 10)) <= 0) return false;
    gSys = FaultyCalls();
    // Written after main returns, and also when a run ends early (Ctrl+C).
    std::atexit(WriteReport);
    return true;
}

}  // namespace

// The program's own entry (src/app/main.cpp), compiled under this name.
int ProgramMain(int argc, char** argv);

int main(int argc, char** argv) {
    if (!InstallFaults()) {
        std::fprintf(stderr,
                     "dustpail-faults: DUSTPAIL_FAIL_SYSCALL must be name:K, DUSTPAIL_KILL_AT a number\n");
        return 125;
    }
    return ProgramMain(argc, argv);
}
