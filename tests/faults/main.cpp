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
//                                  when it is killed (CALL_RULES below says
//                                  which calls count)
//   DUSTPAIL_FAULT_REPORT=path     written at the end of the run:
//                                  "met 0|1", "allocs N", "calls N", the
//                                  entry names of the failed calls,
//                                  "killed 0|1", "mutating N" (calls that
//                                  changed the disk, or could have) and
//                                  "next NAME" (the call a kill came before)
//
// A failed call returns what the system returns on failure and leaves a
// plausible last error (access denied).
//
// Every fallible entry of `gSys` (platform/syscalls.h) is wrapped by its
// name in the same way; CALL_RULES below says how a kill counts each one
// and what a failure of it leaves behind.
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
    char failed[1024] = {0};     // names of the entries that were failed
};

FaultPlan sPlan;
const SystemCalls& REAL = DEFAULT_SYSTEM_CALLS;

// The kill plan: the calls that change the disk are counted on their own.
struct KillPlan {
    long at = 0;         // 1-based mutating call to die before; 0: never
    long mutating = 0;   // mutating calls made so far
    FILE* written[64] = {nullptr};  // open streams that have had a write
};

KillPlan sKill;

// A failed read leaves its stream in error, as a real one does.
FILE* sFailedStream = nullptr;

// How a kill counts a call: never, always (exclusive creates, truncations,
// moves, deletes, directory removals), or by its last argument: an open in
// a mode that can write, a write (whose stream is then written), a flush or
// a close of a stream that was written (its buffer reaches the file there).
enum KillRule { KILL_NEVER, KILL_ALWAYS, KILL_OPEN_FOR_WRITING, KILL_WRITE, KILL_FLUSH, KILL_CLOSE };

// What a failure leaves: nothing done, the stream in error (a read), or
// the call made all the same (a failed close or FindClose still ends its
// stream or search).
enum FailRule { FAIL_PLAIN, FAIL_STREAM_IN_ERROR, FAIL_RELEASES, FAIL_NEVER };

struct CallRule {
    const char* name;
    KillRule kill;
    FailRule fail;
};

// Every entry of SystemCalls, by name. A new entry stops the build until it
// is listed here: a kill test that does not know it would miss the points
// where it changes the disk.
constexpr CallRule CALL_RULES[] = {
    {"wopen", KILL_OPEN_FOR_WRITING, FAIL_PLAIN},
    {"open", KILL_OPEN_FOR_WRITING, FAIL_PLAIN},
    {"read", KILL_NEVER, FAIL_STREAM_IN_ERROR},
    {"write", KILL_WRITE, FAIL_PLAIN},
    {"seek", KILL_NEVER, FAIL_PLAIN},
    {"close", KILL_CLOSE, FAIL_RELEASES},
    {"flush", KILL_FLUSH, FAIL_PLAIN},
    {"buffer", KILL_NEVER, FAIL_PLAIN},
    {"streamError", KILL_NEVER, FAIL_NEVER},
    {"tell", KILL_NEVER, FAIL_PLAIN},
    {"truncate", KILL_ALWAYS, FAIL_PLAIN},
    {"lock", KILL_NEVER, FAIL_PLAIN},
    {"unlock", KILL_NEVER, FAIL_PLAIN},
    {"createNewW", KILL_ALWAYS, FAIL_PLAIN},
    {"createNewA", KILL_ALWAYS, FAIL_PLAIN},
    {"moveFileW", KILL_ALWAYS, FAIL_PLAIN},
    {"moveFileA", KILL_ALWAYS, FAIL_PLAIN},
    {"getFileAttributesW", KILL_NEVER, FAIL_PLAIN},
    {"getFileAttributesA", KILL_NEVER, FAIL_PLAIN},
    {"deleteFileW", KILL_ALWAYS, FAIL_PLAIN},
    {"deleteFileA", KILL_ALWAYS, FAIL_PLAIN},
    {"removeDirectoryW", KILL_ALWAYS, FAIL_PLAIN},
    {"removeDirectoryA", KILL_ALWAYS, FAIL_PLAIN},
    {"findFirstFileW", KILL_NEVER, FAIL_PLAIN},
    {"findFirstFileA", KILL_NEVER, FAIL_PLAIN},
    {"findNextFileW", KILL_NEVER, FAIL_PLAIN},
    {"findNextFileA", KILL_NEVER, FAIL_PLAIN},
    {"findClose", KILL_NEVER, FAIL_RELEASES},
    {"identityW", KILL_NEVER, FAIL_PLAIN},
    {"identityA", KILL_NEVER, FAIL_PLAIN},
    {"getDiskFreeSpaceA", KILL_NEVER, FAIL_PLAIN},
    {"wgetdcwd", KILL_NEVER, FAIL_PLAIN},
    {"getdcwd", KILL_NEVER, FAIL_PLAIN},
    {"getdrive", KILL_NEVER, FAIL_PLAIN},
    {"chdrive", KILL_NEVER, FAIL_PLAIN},
    {"getACP", KILL_NEVER, FAIL_NEVER},
    {"wideCharToMultiByte", KILL_NEVER, FAIL_PLAIN},
    {"multiByteToWideChar", KILL_NEVER, FAIL_PLAIN},
    {"getLastError", KILL_NEVER, FAIL_NEVER},
    {"setLastError", KILL_NEVER, FAIL_NEVER},
    {"randomBytes", KILL_NEVER, FAIL_PLAIN},
    {"sleep", KILL_NEVER, FAIL_NEVER},
};

constexpr bool SameName(const char* a, const char* b) {
    while (*a != 0 && *a == *b) ++a, ++b;
    return *a == *b;
}

constexpr int RuleIndex(const char* name) {
    for (int i = 0; i < (int)(sizeof CALL_RULES / sizeof CALL_RULES[0]); ++i)
        if (SameName(CALL_RULES[i].name, name)) return i;
    return -1;
}

#define REQUIRE_RULE(name, Result, parameters, arguments, failure, implementation)                   \
    static_assert(RuleIndex(#name) >= 0,                                                             \
                  "gSys." #name " is new: say in CALL_RULES how a kill counts it and what its failure leaves");
DUSTPAIL_SYSTEM_CALLS(REQUIRE_RULE, REQUIRE_RULE, REQUIRE_RULE)
static_assert(sizeof CALL_RULES / sizeof CALL_RULES[0] == SYSTEM_CALL_COUNT,
              "CALL_RULES names an entry that SystemCalls no longer has");

// Ends the process the way a kill does: no stdio buffer reaches its file,
// no atexit handler runs. The report is written with plain system calls.
[[noreturn]] void DieNow(const char* next) {
    const char* path = std::getenv("DUSTPAIL_FAULT_REPORT");
    if (path != nullptr && path[0] != 0) {
        char text[256];
        int length = std::snprintf(text, sizeof text, "met 1\nkilled 1\nmutating %ld\nnext %s\n",
                                   sKill.mutating - 1, next);
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
    ++sKill.mutating;
    if (sKill.at != 0 && sKill.mutating == sKill.at) DieNow(name);
}

bool WritingMode(const char* mode) {
    return std::strchr(mode, 'w') != nullptr || std::strchr(mode, 'a') != nullptr ||
           std::strchr(mode, '+') != nullptr;
}

bool WritingMode(const WCHAR* mode) {
    for (const WCHAR* at = mode; *at != 0 && *at != ','; ++at)
        if (*at == 'w' || *at == 'a' || *at == '+') return true;
    return false;
}

void NoteWritten(FILE* stream) {
    for (FILE*& slot : sKill.written)
        if (slot == stream) return;
    for (FILE*& slot : sKill.written)
        if (slot == nullptr) {
            slot = stream;
            return;
        }
}

bool WasWritten(FILE* stream) {
    for (FILE* slot : sKill.written)
        if (slot == stream) return true;
    return false;
}

// True (and forgotten) when the stream has had a write.
bool TakeWritten(FILE* stream) {
    for (FILE*& slot : sKill.written)
        if (slot == stream) {
            slot = nullptr;
            return true;
        }
    return false;
}

void NoteFailed(const char* name) {
    size_t used = std::strlen(sPlan.failed);
    if (used + std::strlen(name) + 2 < sizeof sPlan.failed) {
        if (used > 0) sPlan.failed[used++] = ' ';
        std::strcpy(sPlan.failed + used, name);
    }
}

// Counts the call and tells whether it is to fail.
bool CallShouldFail(const char* name) {
    ++sPlan.totalCalls;
    if (sPlan.at == 0) return false;
    bool counted = std::strcmp(sPlan.name, "any") == 0 || std::strcmp(sPlan.name, name) == 0;
    if (!counted) return false;
    ++sPlan.calls;
    bool fail = sPlan.from ? sPlan.calls >= sPlan.at : sPlan.calls == sPlan.at;
    if (!fail) return false;
    sPlan.met = true;
    NoteFailed(name);
    SetLastError(ERROR_ACCESS_DENIED);
    errno = EACCES;
    return true;
}

template <typename Only>
Only LastOf(Only only) {
    return only;
}

template <typename First, typename... Rest>
auto LastOf(First, Rest... rest) {
    return LastOf(rest...);
}

// Counts a call that changes the disk, as its rule says.
template <KillRule rule, typename... Arguments>
void CountMutating(const char* name, Arguments... arguments) {
    if constexpr (rule == KILL_ALWAYS) {
        BeforeMutating(name);
    } else if constexpr (rule == KILL_OPEN_FOR_WRITING) {
        if (WritingMode(LastOf(arguments...))) BeforeMutating(name);
    } else if constexpr (rule == KILL_WRITE) {
        BeforeMutating(name);
        NoteWritten(LastOf(arguments...));
    } else if constexpr (rule == KILL_FLUSH) {
        if (WasWritten(LastOf(arguments...))) BeforeMutating(name);
    } else if constexpr (rule == KILL_CLOSE) {
        FILE* stream = LastOf(arguments...);
        if (stream == sFailedStream) sFailedStream = nullptr;
        if (TakeWritten(stream)) BeforeMutating(name);
    }
}

// The harness's form of one entry: counted, killed before and failed as its
// rules say, else the real call.
template <auto field, typename Pointer = typename SystemCall<field>::Pointer>
struct Faulty;

template <auto field, typename Result, typename... Arguments>
struct Faulty<field, Result (*)(Arguments...)> {
    typedef SystemCall<field> Entry;
    static constexpr CallRule RULE = CALL_RULES[RuleIndex(Entry::NAME)];

    static Result Call(Arguments... arguments) {
        CountMutating<RULE.kill>(Entry::NAME, arguments...);
        if (!CallShouldFail(Entry::NAME)) return Entry::In(REAL)(arguments...);
        if constexpr (RULE.fail == FAIL_RELEASES) Entry::In(REAL)(arguments...);
        if constexpr (RULE.fail == FAIL_STREAM_IN_ERROR) sFailedStream = LastOf(arguments...);
        return Entry::Failure();
    }
};

int FaultyStreamError(FILE* stream) { return stream == sFailedStream || REAL.streamError(stream); }

// The calls that cannot fail stay as they are; the stream error also tells
// the failed read.
#define INSTALL_FAULTY(name, Result, parameters, arguments, failure, implementation) \
    calls.name = Faulty<&SystemCalls::name>::Call;
#define LEAVE_AS_IT_IS(name, Result, parameters, arguments, failure, implementation)

SystemCalls FaultyCalls() {
    SystemCalls calls = DEFAULT_SYSTEM_CALLS;
    DUSTPAIL_SYSTEM_CALLS(INSTALL_FAULTY, INSTALL_FAULTY, LEAVE_AS_IT_IS)
    calls.streamError = FaultyStreamError;
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
    sPlan.name = name;
    sPlan.at = std::strtol(colon + 1, nullptr, 10);
    sPlan.from = from;
    return sPlan.at > 0;
}

void WriteReport() {
    const char* path = std::getenv("DUSTPAIL_FAULT_REPORT");
    if (path == nullptr || path[0] == 0) return;
    FILE* report = std::fopen(path, "w");
    if (report == nullptr) return;
    std::fprintf(report, "met %d\nallocs %ld\ncalls %ld\nfailed %s\nkilled 0\nmutating %ld\n",
                 (MemFailureMet() || sPlan.met) ? 1 : 0, MemAllocCount(), sPlan.totalCalls,
                 sPlan.failed, sKill.mutating);
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
    if (kill != nullptr && (sKill.at = std::strtol(kill, nullptr, 10)) <= 0) return false;
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
