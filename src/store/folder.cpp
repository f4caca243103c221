// Paths in the bin folder: its files, its index file, the walks over its
// names and the data item of a record.
#include <cstring>

#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "store/store.h"

bool IndexFilePath(const Bin* bin, WCHAR path[MAX_PATH]) {
    const WCHAR* name = nullptr;
    if (bin->format == FORMAT_INFO)
        name = WIDE("INFO");
    else if (bin->format == FORMAT_INFO2)
        name = WIDE("INFO2");
    else
        return false;
    return FormatWide(path, MAX_PATH, WIDE("%s\\%s"), bin->path, name) >= 0;
}

FILE* OpenIndexFile(const Bin* bin, const WCHAR* mode) {
    WCHAR path[MAX_PATH];
    if (!IndexFilePath(bin, path)) return nullptr;
    return FsOpenFile(path, mode != nullptr ? mode : WIDE("rb"));
}

WCHAR EntryDriveLetter(const BinEntry* entry) { return DriveLetterOf(entry->driveNumber); }

WCHAR* BinChildPath(const Bin* bin, const WCHAR* name) {
    size_t folderLength = WideLength(bin->path);
    size_t nameLength = WideLength(name);
    bool slash = folderLength == 0 || bin->path[folderLength - 1] != '\\';
    size_t total = folderLength + (slash ? 1 : 0) + nameLength + 1;
    WCHAR* path = static_cast<WCHAR*>(MemAlloc(total * sizeof(WCHAR)));
    if (path == nullptr) return nullptr;
    std::memcpy(path, bin->path, folderLength * sizeof(WCHAR));
    size_t at = folderLength;
    if (slash) path[at++] = '\\';
    std::memcpy(path + at, name, (nameLength + 1) * sizeof(WCHAR));
    return path;
}

FolderStep FirstInBinFolder(const Bin* bin, FolderWalk* walk, const WCHAR* pattern) {
    WCHAR path[MAX_PATH];
    if (FormatWide(path, MAX_PATH, WIDE("%s\\%s"), bin->path, pattern) < 0) {
        walk->search = INVALID_HANDLE_VALUE;
        return FOLDER_FAILED;
    }
    return FsFirstInFolder(walk, path);
}

bool FindDataItem(const Bin* bin, WCHAR letter, uint32_t recordNumber, bool wantPath, WCHAR** path,
                  DWORD* attributes, StoreStatus* status) {
    SetStoreStatus(status, STORE_OK);
    if (bin->format == FORMAT_ITEM_FILES) return false;
    letter = WideLowerAscii(letter);
    if (letter == 0) return false;
    WCHAR pattern[MAX_PATH];
    if (FormatWide(pattern, MAX_PATH, WIDE("D%c%u*.*"), (int)letter, (unsigned)recordNumber) < 0) return false;
    // The pattern is a prefix match: record 1 also finds Dc10 and Dc1x.
    FolderWalk walk;
    FolderStep step = FirstInBinFolder(bin, &walk, pattern);
    for (; step == FOLDER_ENTRY; step = FsNextInFolder(&walk)) {
        WCHAR nameLetter = 0;
        uint32_t nameNumber = 0;
        if (ParseDataItemName(walk.found.cFileName, &nameLetter, &nameNumber) &&
            nameLetter == letter && nameNumber == recordNumber)
            break;
    }
    FsEndFolderWalk(&walk);
    if (step != FOLDER_ENTRY) return false;
    if (wantPath) {
        *path = BinChildPath(bin, walk.found.cFileName);
        if (*path == nullptr) {
            SetStoreStatus(status, STORE_NO_MEMORY);
            return false;
        }
    } else if (attributes != nullptr) {
        *attributes = walk.found.dwFileAttributes;
    }
    return true;
}
