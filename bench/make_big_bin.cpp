// make_big_bin <folder> <info|info2|items1|items2> <count>
// Fills an existing empty folder (a host path) with a bin of <count> live
// items, each with its data item, for the store benchmark.
#include <cstdio>
#include <cstdlib>

#include "bigbin.h"

int main(int argc, char** argv) {
    BigBinLayout layout;
    WCHAR layoutName[16] = {0};
    for (int i = 0; argc == 4 && i < 15 && argv[2][i] != 0; ++i) layoutName[i] = (WCHAR)argv[2][i];
    if (argc != 4 || !ParseBigBinLayout(layoutName, &layout)) {
        std::fprintf(stderr, "usage: make_big_bin <folder> <info|info2|items1|items2> <count>\n");
        return 2;
    }
    long items = std::atol(argv[3]);
    if (items < 0 || !WriteBigBinHost(argv[1], layout, (uint32_t)items)) {
        std::fprintf(stderr, "make_big_bin: writing the bin failed\n");
        return 1;
    }
    return 0;
}
