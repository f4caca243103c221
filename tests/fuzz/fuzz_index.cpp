// Index files ("INFO", "INFO2") of any content: loaded, listed, and their
// record numbers (data items and live records) worked out, in both layouts.
#include <cstdlib>

#include "fuzz_bin.h"
#include "ops/ops.h"
#include "store/store.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzbin::Install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzbin::Feed(data, size);
    for (BinFormat format : {FORMAT_INFO, FORMAT_INFO2}) {
        gRun.bin.format = format;
        if (LoadEntries(&gRun.bin)) ListEntries();
        for (int32_t i = 0; i < gRun.bin.entries.Length(); ++i) {
            const BinEntry* entry = static_cast<const BinEntry*>(gRun.bin.entries.At(i));
            WCHAR* path = nullptr;
            if (FindDataItem(&gRun.bin, EntryDriveLetter(entry), entry->recordNumber, true, &path, nullptr))
                MemFree(path);
        }
        FreeEntries(&gRun.bin);
    }
    // The bytes as a run of taken numbers: from the live records of the
    // index when it reads, else from the folder alone.
    RecordNumberSet set;
    bool built = BuildRecordNumberSet(&gRun.bin, &set);
    if (!built) {
        gRun.bin.format = FORMAT_NONE;
        gRun.exitCode = 0;
        built = BuildRecordNumberSet(&gRun.bin, &set);
    }
    if (built) {
        for (size_t at = 0; at + 4 <= size && at < 4096; at += 4) {
            uint32_t n = ReadLe32(data + at);
            uint32_t free = FirstFreeRecordNumber(&set, (n & 1) != 0);
            if (!MarkRecordNumberUsed(&set, (n & 2) ? free : n % 5000)) break;
        }
        FreeRecordNumberSet(&set);
    }
    return 0;
}
