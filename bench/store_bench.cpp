// store_bench <bin folder>...
// Times, for each bin: one plain read of its store (the index file read
// through once and the folder searched once, or every $I file read once),
// loading the entries, listing them (as the table and as JSON Lines, with
// the ratio of the two), finding the free record number, and
// (estimated from a sample) a load that searched the folder per record.
// Results go to standard error; send standard output (the listing) to a
// null device.
#include <chrono>
#include <cstdio>

#include "app/runstate.h"
#include "ops/ops.h"
#include "platform/entry.h"
#include "platform/fs.h"
#include "store/store.h"

namespace {

const int ROUNDS = 3;
// Records timed for the one-search-per-record estimate.
const int SEARCH_SAMPLE = 50;

double Milliseconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

// Reads a whole file in blocks; the bytes read.
uint64_t ReadThrough(const WCHAR* path) {
    FILE* stream = FsOpenFile(path, WIDE("rb"));
    if (stream == nullptr) return 0;
    static uint8_t block[65536];
    uint64_t total = 0;
    size_t got;
    while ((got = FsRead(block, sizeof block, stream)) > 0) total += got;
    FsClose(stream);
    return total;
}

// The floor a loader cannot go below: the store's bytes and the folder's
// names, each read once.
uint64_t PlainRead() {
    uint64_t bytes = 0;
    WCHAR path[MAX_PATH];
    if (gRun.bin.format != FORMAT_ITEM_FILES) {
        FormatWide(path, MAX_PATH, WIDE("%s\\%s"), gRun.bin.path,
                   gRun.bin.format == FORMAT_INFO2 ? WIDE("INFO2") : WIDE("INFO"));
        bytes += ReadThrough(path);
    }
    FormatWide(path, MAX_PATH, WIDE("%s\\*.*"), gRun.bin.path);
    FolderWalk walk;
    for (FolderStep step = FsFirstInFolder(&walk, path); step == FOLDER_ENTRY;
         step = FsNextInFolder(&walk)) {
        const WCHAR* name = walk.found.cFileName;
        if (gRun.bin.format == FORMAT_ITEM_FILES && name[0] == '$' && name[1] == 'I') {
            FormatWide(path, MAX_PATH, WIDE("%s\\%s"), gRun.bin.path, name);
            bytes += ReadThrough(path);
        }
    }
    FsEndFolderWalk(&walk);
    return bytes;
}

// What loading would cost with one folder search per record (FindDataItem
// for each): a sample of the loaded records, scaled to all of them.
double SearchPerRecord() {
    int32_t count = gRun.bin.entries.Length();
    if (count == 0 || gRun.bin.format == FORMAT_ITEM_FILES) return 0;
    int sample = count < SEARCH_SAMPLE ? (int)count : SEARCH_SAMPLE;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < sample; ++i) {
        const BinEntry* entry = static_cast<const BinEntry*>(gRun.bin.entries.At(i * (count / sample)));
        DWORD attributes = 0;
        FindDataItem(&gRun.bin, EntryDriveLetter(entry), entry->recordNumber, false, nullptr, &attributes);
    }
    return Milliseconds(start) / sample * count;
}

template <typename Step>
double BestOf(Step step) {
    double best = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        auto start = std::chrono::steady_clock::now();
        step();
        double ms = Milliseconds(start);
        if (round == 0 || ms < best) best = ms;
    }
    return best;
}

const char* LayoutName() {
    switch (gRun.bin.format) {
        case FORMAT_INFO: return "INFO";
        case FORMAT_INFO2: return "INFO2";
        case FORMAT_ITEM_FILES: return "$I";
    }
    return "?";
}

bool BenchOne(const WCHAR* folder) {
    gRun.bin.path = const_cast<WCHAR*>(folder);
    gRun.bin.format = DetectBinFormat(folder);
    if (gRun.bin.format == FORMAT_NONE) return false;
    double plain = BestOf([] { PlainRead(); });
    bool loaded = true;
    double load = BestOf([&loaded] { loaded = LoadEntries(&gRun.bin) && loaded; });
    if (!loaded) return false;
    double list = BestOf([] { ListEntries(); });
    gRun.listFormat = LIST_JSON;
    double json = BestOf([] { ListEntries(); });
    gRun.listFormat = LIST_TABLE;
    double number = gRun.bin.format == FORMAT_ITEM_FILES ? 0 : BestOf([] { FreeRecordNumber(&gRun.bin, false); });
    double perRecord = SearchPerRecord();
    std::fprintf(stderr, "%-6s %8d %12.1f %10.1f %10.1f %10.1f %10.2f %12.1f %14.0f\n", LayoutName(),
                 (int)gRun.bin.entries.Length(), plain, load, list, json, list > 0 ? json / list : 0.0, number,
                 perRecord);
    FreeEntries(&gRun.bin);
    gRun.bin.path = nullptr;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 0;
    WCHAR** arguments = GetWideArguments(argc, argv, &count);
    if (arguments == nullptr || count < 2) {
        std::fprintf(stderr, "usage: store_bench <bin folder>... >/dev/null\n");
        return 2;
    }
    gRun.language = LANGUAGE_ENGLISH;
    // Whole blocks to the null device: the Windows runtime otherwise writes
    // each printf call on its own, which under Wine costs a millisecond and
    // would hide the listing's own work.
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    std::fprintf(stderr, "%-6s %8s %12s %10s %10s %10s %10s %12s %14s   (ms, best of %d)\n", "layout",
                 "items", "plain read", "load", "list", "list json", "json/list", "free number", "search/record",
                 ROUNDS);
    int failures = 0;
    for (int i = 1; i < count; ++i) {
        if (!BenchOne(arguments[i])) {
            std::fprintf(stderr, "store_bench: no readable bin at argument %d\n", i);
            ++failures;
        }
    }
    FreeWideArguments(arguments, count);
    return failures == 0 ? 0 : 1;
}
