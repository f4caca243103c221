// desktop.ini of any size and encoding: the marker check, detection, and
// the line reader's lines, which never exceed their limit.
#include <cstring>

#include "fuzz_disk.h"
#include "platform/memory.h"
#include "store/store.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzdisk::Install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzdisk::Feed(data, size);
    CheckBinMarker(gRun.binPath);
    DetectBinFormat(gRun.binPath);
    FILE* stream = gSys.wopen(gRun.binPath, WIDE("rb"));
    if (stream == nullptr) return 0;
    size_t lines = 0;
    for (char* line; (line = ReadTextLine(stream)) != nullptr; ++lines) {
        if (std::strlen(line) >= TEXT_LINE_LIMIT) __builtin_trap();
        MemFree(line);
    }
    if (lines > size) __builtin_trap();
    std::fclose(stream);
    return 0;
}
