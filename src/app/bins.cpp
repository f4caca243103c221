#include "app/bins.h"

#include "app/messages.h"
#include "app/runstate.h"
#include "platform/arrays.h"
#include "platform/console.h"
#include "platform/wide.h"

namespace {

// Shown while another run holds the bin, so that a run that waits does not
// look hung.
void PrintWaitNotice() {
    PrintCatalogue(MSG_WAIT_BIN);
    FlushOutput();
}

WCHAR* ChooseBin(int32_t drive) {
    StringArray candidates;
    StoreStatus status = STORE_OK;
    if (!ListDriveBins(drive, &candidates, &status)) {
        ReportStoreFailure(status, nullptr);
        return nullptr;
    }
    int32_t count = candidates.Length();
    if (count == 0) return nullptr;
    PrintCatalogue(MSG_CHOOSE_BIN);
    for (int32_t i = 0; i < count; ++i) PrintMessage(WIDE("%-5d %s\n"), i + 1, candidates.At(i));
    int32_t chosen = AskNumber(1, count);
    if (chosen < 1 || chosen > count) return nullptr;
    WCHAR* copy = WideDuplicate(candidates.At(chosen - 1));
    if (copy == nullptr) ReportNoMemory();
    return copy;
}

}  // namespace

int32_t PrintStoreFailure(StoreStatus status, const WCHAR* binPath) {
    switch (status) {
        case STORE_OK:
            return EXIT_OK;
        case STORE_NO_MEMORY:
            PrintCatalogue(MSG_ERR_NO_MEMORY);
            return EXIT_NO_MEMORY;
        case STORE_BUSY:
            PrintCatalogue(MSG_ERR_BIN_BUSY, binPath);
            return EXIT_BIN_BUSY;
        default:
            PrintCatalogue(MSG_ERR_READ_FAILED, binPath);
            return EXIT_READ_FAILED;
    }
}

void ReportStoreFailure(StoreStatus status, const WCHAR* binPath) {
    gRun.exitCode = PrintStoreFailure(status, binPath);
}

WCHAR* FindRunBin(int32_t drive) {
    bool choose = false;
    StoreStatus status = STORE_OK;
    WCHAR* path = FindDriveBin(drive, &choose, &status);
    if (status != STORE_OK) {
        ReportStoreFailure(status, nullptr);
        return nullptr;
    }
    return choose ? ChooseBin(drive) : path;
}

void PrintReading(const Bin* bin) {
    WCHAR indexPath[MAX_PATH];
    if (bin->format == FORMAT_ITEM_FILES)
        PrintCatalogue(MSG_READING, bin->path);
    else if (IndexFilePath(bin, indexPath))
        PrintCatalogue(MSG_READING, indexPath);
}

bool LoadBinEntries(Bin* bin, bool announce) {
    if (announce) PrintReading(bin);
    StoreStatus status = STORE_OK;
    if (LoadEntries(bin, &status)) return true;
    if (status == STORE_NO_MEMORY) ReportNoMemory();
    return false;
}

bool TakeBinLock(Bin* bin) {
    StoreStatus status = STORE_OK;
    if (LockBin(bin, gRun.lockWaitMs, &status, PrintWaitNotice)) return true;
    ReportStoreFailure(status, bin->path);
    return false;
}
