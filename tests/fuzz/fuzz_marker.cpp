// desktop.ini of any size and encoding: the marker check, detection, and
// the line reader's lines, which never exceed their limit.
#include <cstring>

#include "fuzz_bin.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "store/store.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzbin::Install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzbin::Feed(data, size);
    CheckBinMarker(gRun.bin.path);
    DetectBinFormat(gRun.bin.path);
    FILE* stream = FsOpenFile(WIDE("F:\\bin\\desktop.ini"), WIDE("rb"));
    if (stream == nullptr) return 0;
    size_t lines = 0;
    for (char* line; (line = ReadTextLine(stream)) != nullptr; ++lines) {
        if (std::strlen(line) >= TEXT_LINE_LIMIT) __builtin_trap();
        MemFree(line);
    }
    if (lines > size) __builtin_trap();
    FsClose(stream);
    return 0;
}
