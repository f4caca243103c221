// The run state between tests: what a command or a test left (a held lock,
// entries, paths, options, the exit code) let go of and forgotten.
#ifndef DUSTPAIL_TESTS_SUPPORT_RUN_H
#define DUSTPAIL_TESTS_SUPPORT_RUN_H

#include "app/runstate.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "store/store.h"

namespace testrun {

inline void ClearRun() {
    UnlockBin(&gRun.bin);
    FreeEntries(&gRun.bin);
    gRun.throwList.RemoveAll();
    MemFree(gRun.bin.path);
    MemFree(gRun.restorePath);
    MemFree(gRun.indexText);
    gRun.bin.path = nullptr;
    gRun.restorePath = nullptr;
    gRun.indexText = nullptr;
    gRun.exitCode = 0;
    gRun.options = 0;
    gRun.index = 0;
    gRun.bin.format = FORMAT_NONE;
    gRun.language = LANGUAGE_ENGLISH;
}

inline void StartRun(const WCHAR* binPath, BinFormat format) {
    ClearRun();
    gRun.bin.path = WideDuplicate(binPath);
    gRun.bin.format = format;
}

}  // namespace testrun

#endif
