// $I files of any content, decoded alone and loaded as a bin.
#include "fuzz_bin.h"
#include "ops/ops.h"
#include "store/store.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzbin::Install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzbin::Feed(data, size);
    ItemInfoRecord record;
    if (DecodeItemInfo(data, size, &record)) {
        // A decoded path always ends inside its field.
        size_t length = 0;
        while (length < PATH_FIELD_CHARS && record.originalPath[length] != 0) ++length;
        if (length == PATH_FIELD_CHARS) __builtin_trap();
        uint8_t bytes[ITEM_V1_SIZE];
        EncodeItemInfo(&record, bytes);
    }
    gRun.bin.format = FORMAT_ITEM_FILES;
    if (LoadEntries(&gRun.bin)) ListEntries();
    FreeEntries(&gRun.bin);
    return 0;
}
