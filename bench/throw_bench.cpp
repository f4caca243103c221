// throw_bench <bin folder> <work folder> <info|info2|items1|items2> <bin items> <files>
//             [<bin folder as a host path>]
// Fills the empty <bin folder> with a bin of <bin items> (with the host's
// own file calls when its host path is given: much faster) and the empty
// <work folder> with <files> small files, then times one /f /Y run that
// throws them all ("<work folder>\*"), and checks that the bin then holds
// every item. For the index layouts it also times the record numbering of
// one folder search per number, twice per item, on a sample of items, and
// scales it to <files> items (not with THROW_BENCH_ONLY_THROW=1). Figures go
// to standard error; send standard output (the thrown paths) to a null
// device.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/runstate.h"
#include "bigbin.h"
#include "ops/ops.h"
#include "platform/entry.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "store/store.h"

namespace {

const int NUMBERING_SAMPLE = 20;

double Milliseconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

bool WriteFiles(const WCHAR* folder, const WCHAR* stem, long count) {
    for (long i = 0; i < count; ++i) {
        WCHAR path[MAX_PATH];
        if (FormatWide(path, MAX_PATH, WIDE("%s\\%s%06d.txt"), folder, stem, (int)i) < 0) return false;
        FILE* stream = FsOpenFile(path, WIDE("wb"));
        if (stream == nullptr) return false;
        bool ok = FsWrite("data\n", 5, stream);
        if (!FsClose(stream) || !ok) return false;
    }
    return true;
}

// The file-system work that any throw of `count` items does, alone, in
// the bin as it is: each item moved into the bin folder under a new name,
// and for the per-item layout a new 544-byte file made there first. The
// new names are removed again afterwards, so that the throw then meets the
// same folder. On a file system that tells case apart, every new name
// costs the platform (and Wine alike) a look through the whole folder for
// a name that differs in case only.
double TimeFloor(const WCHAR* bin, const WCHAR* work, long count, bool itemFiles) {
    if (!WriteFiles(work, WIDE("floor"), count)) return -1;
    static const uint8_t info[ITEM_V1_SIZE] = {1};
    WCHAR from[MAX_PATH], made[MAX_PATH], moved[MAX_PATH];
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        FormatWide(from, MAX_PATH, WIDE("%s\\floor%06d.txt"), work, (int)i);
        if (itemFiles) {
            FormatWide(made, MAX_PATH, WIDE("%s\\~I%06d.txt"), bin, (int)i);
            FILE* stream = FsOpenFile(made, WIDE("wb"));
            if (stream == nullptr) return -1;
            FsWrite(info, sizeof info, stream);
            FsClose(stream);
        }
        FormatWide(moved, MAX_PATH, WIDE("%s\\~R%06d.txt"), bin, (int)i);
        if (!FsMoveFile(from, moved)) return -1;
    }
    double ms = Milliseconds(start);
    for (long i = 0; i < count; ++i) {
        FormatWide(moved, MAX_PATH, WIDE("%s\\~R%06d.txt"), bin, (int)i);
        FsDeleteFile(moved);
        FormatWide(made, MAX_PATH, WIDE("%s\\~I%06d.txt"), bin, (int)i);
        if (itemFiles) FsDeleteFile(made);
    }
    return ms;
}

// Folder searches and the names they return, counted through the system
// table: the numbering of one search per number shows here as k x n names.
struct SearchCount {
    long searches;
    long names;
};
SearchCount sCount;

HANDLE CountFindFirst(const WCHAR* pattern, WIN32_FIND_DATAW* data) {
    HANDLE search = DEFAULT_SYSTEM_CALLS.findFirstFileW(pattern, data);
    ++sCount.searches;
    if (search != INVALID_HANDLE_VALUE) ++sCount.names;
    return search;
}

BOOL CountFindNext(HANDLE search, WIN32_FIND_DATAW* data) {
    BOOL found = DEFAULT_SYSTEM_CALLS.findNextFileW(search, data);
    if (found) ++sCount.names;
    return found;
}

const char* LayoutName() {
    switch (gRun.bin.format) {
        case FORMAT_INFO: return "INFO";
        case FORMAT_INFO2: return "INFO2";
        case FORMAT_ITEM_FILES: return "$I";
    }
    return "?";
}

}  // namespace

int main(int argc, char** argv) {
    int count = 0;
    WCHAR** arguments = GetWideArguments(argc, argv, &count);
    BigBinLayout layout;
    if (arguments == nullptr || (count != 6 && count != 7) || !ParseBigBinLayout(arguments[3], &layout)) {
        std::fprintf(stderr, "usage: throw_bench <bin folder> <work folder> "
                             "<info|info2|items1|items2> <bin items> <files> [<bin host folder>] >/dev/null\n");
        return 2;
    }
    const WCHAR* bin = arguments[1];
    const WCHAR* work = arguments[2];
    long binItems = WideToLong(arguments[4]);
    long files = WideToLong(arguments[5]);
    bool binWritten = binItems >= 0 && (count == 7 ? WriteBigBinHost(argv[6], layout, (uint32_t)binItems)
                                                   : WriteBigBin(bin, layout, (uint32_t)binItems));
    if (!binWritten || files < 1 || !WriteFiles(work, WIDE("item"), files)) {
        std::fprintf(stderr, "throw_bench: setting up the bin or the files failed\n");
        return 1;
    }

    std::srand(1);
    gRun.language = LANGUAGE_ENGLISH;
    gRun.options = OPT_YES | OPT_NOLOGO;
    gRun.bin.path = WideDuplicate(bin);
    gRun.bin.format = DetectBinFormat(bin);
    if (gRun.bin.format == FORMAT_NONE) {
        std::fprintf(stderr, "throw_bench: no bin in the folder\n");
        return 1;
    }

    // The numbering of one folder search per number, as many times as a
    // throw of `files` items would run it.
    // THROW_BENCH_ONLY_THROW=1 leaves out the two slow comparisons.
    const char* onlyThrowSetting = std::getenv("THROW_BENCH_ONLY_THROW");
    bool onlyThrow = onlyThrowSetting != nullptr && onlyThrowSetting[0] == '1';
    double perItemSearches = 0;
    if (gRun.bin.format != FORMAT_ITEM_FILES && !onlyThrow) {
        int sample = files < NUMBERING_SAMPLE ? (int)files : NUMBERING_SAMPLE;
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < sample; ++i) {
            FreeRecordNumber(&gRun.bin, false);
            FreeRecordNumber(&gRun.bin, true);
        }
        perItemSearches = Milliseconds(start) / sample * (double)files;
    }

    double floor = onlyThrow ? 0 : TimeFloor(bin, work, files, gRun.bin.format == FORMAT_ITEM_FILES);

    WCHAR pattern[MAX_PATH];
    FormatWide(pattern, MAX_PATH, WIDE("%s\\item*"), work);
    gRun.throwList.Add(pattern);
    gSys.findFirstFileW = CountFindFirst;
    gSys.findNextFileW = CountFindNext;
    sCount = SearchCount();
    // The processor time beside the elapsed: on a machine that others share
    // it is what the throw itself cost (std::clock is process time on POSIX).
    std::clock_t cpuStart = std::clock();
    auto start = std::chrono::steady_clock::now();
    ThrowFiles();
    std::fflush(stdout);
    double thrown = Milliseconds(start);
    double thrownCpu = (double)(std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC;
    SearchCount counted = sCount;
    gSys = DEFAULT_SYSTEM_CALLS;
    int32_t exitCode = gRun.exitCode;

    bool loaded = LoadEntries(&gRun.bin);
    long held = gRun.bin.entries.Length();
    bool complete = loaded && exitCode == 0 && held == binItems + files;
    std::fprintf(stderr, "%-6s %9ld %7ld %11.1f %11.1f %11.1f %9ld %11ld", LayoutName(), binItems, files, thrown,
                 thrownCpu, floor, counted.searches, counted.names);
    if (gRun.bin.format != FORMAT_ITEM_FILES)
        std::fprintf(stderr, " %14.1f", perItemSearches);
    else
        std::fprintf(stderr, " %14s", "-");
    std::fprintf(stderr, "   %s\n", complete ? "all thrown" : "INCOMPLETE");
    if (!complete)
        std::fprintf(stderr, "throw_bench: exit code %d, %ld items in the bin, %ld expected\n",
                     (int)exitCode, held, binItems + files);

    FreeEntries(&gRun.bin);
    gRun.throwList.RemoveAll();
    MemFree(gRun.bin.path);
    gRun.bin.path = nullptr;
    FreeWideArguments(arguments, count);
    return complete ? 0 : 1;
}
