// make_big_bin <folder> <info|info2|items1|items2> <count>
// Fills an existing empty folder with a bin of <count> live items, each
// with its data item, for the store benchmark.
#include <cstdio>

#include "bigbin.h"
#include "platform/entry.h"
#include "platform/wide.h"

int main(int argc, char** argv) {
    int count = 0;
    WCHAR** arguments = GetWideArguments(argc, argv, &count);
    BigBinLayout layout;
    if (arguments == nullptr || count != 4 || !ParseBigBinLayout(arguments[2], &layout)) {
        std::fprintf(stderr, "usage: make_big_bin <folder> <info|info2|items1|items2> <count>\n");
        return 2;
    }
    long items = WideToLong(arguments[3]);
    bool ok = items >= 0 && WriteBigBin(arguments[1], layout, (uint32_t)items);
    if (!ok) std::fprintf(stderr, "make_big_bin: writing the bin failed\n");
    FreeWideArguments(arguments, count);
    return ok ? 0 : 1;
}
