// The bin's lock. Two runs that change one bin at once would both take the
// same record number, or one would empty what the other is throwing in;
// every run that changes the store therefore holds this lock from before it
// reads what it changes until the change is complete. Listing takes none.
#include <cstdio>

#include "platform/fs.h"
#include "store/store.h"

namespace {

const DWORD LOCK_RETRY_MS = 50;
// A wait this long is shown, so that a run that waits does not look hung.
const DWORD LOCK_NOTICE_MS = 500;

// The file that carries the lock: the index, which every change of an index
// layout writes; the per-item layout has none, so its desktop.ini, which the
// program never changes, stands in.
const WCHAR* LockFileName(const Bin* bin) {
    switch (bin->format) {
        case FORMAT_INFO:
            return WIDE("INFO");
        case FORMAT_INFO2:
            return WIDE("INFO2");
        default:
            return WIDE("desktop.ini");
    }
}

// An index or desktop.ini that is a link is not the bin's own: writing
// through it would change a file elsewhere.
FILE* OpenLockFile(const Bin* bin) {
    WCHAR path[MAX_PATH];
    if (FormatWide(path, MAX_PATH, WIDE("%s\\%s"), bin->path, LockFileName(bin)) < 0) return nullptr;
    if (FsIsLink(path)) return nullptr;
    FILE* stream = FsOpenFile(path, WIDE("r+b"));
    // desktop.ini may be read-only; it is never written, only locked.
    if (stream == nullptr && bin->format == FORMAT_ITEM_FILES) stream = FsOpenFile(path, WIDE("rb"));
    return stream;
}

bool LockFailed(StoreStatus* status, StoreStatus why) {
    SetStoreStatus(status, why);
    return false;
}

}  // namespace

bool LockBin(Bin* bin, uint32_t waitMs, StoreStatus* status, void (*waiting)()) {
    SetStoreStatus(status, STORE_OK);
    if (bin->lock != nullptr) return true;
    FILE* stream = OpenLockFile(bin);
    if (stream == nullptr) return LockFailed(status, STORE_READ_FAILED);
    DWORD waited = 0;
    bool noticed = false;
    while (!FsLock(stream)) {
        bool busy = FsLastError() == ERROR_LOCK_VIOLATION;
        if (!busy || waited >= waitMs) {
            FsClose(stream);
            return LockFailed(status, busy ? STORE_BUSY : STORE_READ_FAILED);
        }
        if (!noticed && waited >= LOCK_NOTICE_MS) {
            if (waiting != nullptr) waiting();
            noticed = true;
        }
        FsSleep(LOCK_RETRY_MS);
        waited += LOCK_RETRY_MS;
    }
    // Unbuffered: every write reaches the file when it returns, so a failed
    // one is seen at once and no stale bytes wait in a buffer to be written
    // after the file has been put back.
    std::setvbuf(stream, nullptr, _IONBF, 0);
    bin->lock = stream;
    return true;
}

void UnlockBin(Bin* bin) {
    if (bin->lock == nullptr) return;
    FsUnlock(bin->lock);
    FsClose(bin->lock);
    bin->lock = nullptr;
}
