// Big bins for the benchmark: every record live, every data item present.
#ifndef DUSTPAIL_BENCH_BIGBIN_H
#define DUSTPAIL_BENCH_BIGBIN_H

#include <cstdint>

#include "platform/sysapi.h"

enum BigBinLayout {
    BIG_BIN_INFO,    // "INFO", 280-byte records
    BIG_BIN_INFO2,   // "INFO2", 800-byte records
    BIG_BIN_ITEMS1,  // $I files of version 1
    BIG_BIN_ITEMS2,  // $I files of version 2
};

// Parses "info", "info2", "items1" or "items2"; false for anything else.
bool ParseBigBinLayout(const WCHAR* name, BigBinLayout* layout);
// Fills the existing, empty folder with `count` items of the layout,
// through the program's file layer (a folder as the program names it).
bool WriteBigBin(const WCHAR* folder, BigBinLayout layout, uint32_t count);
// The same with the host's own file calls and a host path. Much faster for
// big bins: the file layer, like Windows under Wine, looks through the whole
// folder for every name it creates.
bool WriteBigBinHost(const char* folder, BigBinLayout layout, uint32_t count);

#endif
