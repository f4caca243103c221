// Paths in the bin folder: its files, its index file and the data item of
// a record.
#include <cstring>

#include "app/messages.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "store/store.h"

FILE* OpenIndexFile(const WCHAR* mode, bool quiet) {
    const WCHAR* name = nullptr;
    if (gRun.binFormat == FORMAT_INFO)
        name = WIDE("INFO");
    else if (gRun.binFormat == FORMAT_INFO2)
        name = WIDE("INFO2");
    else
        return nullptr;
    WCHAR path[MAX_PATH];
    if (FormatWide(path, MAX_PATH, WIDE("%s\\%s"), gRun.binPath, name) < 0) return nullptr;
    if (!quiet) PrintCatalogue(MSG_READING, path);
    return FsOpenFile(path, mode != nullptr ? mode : WIDE("rb"));
}

WCHAR EntryDriveLetter(const BinEntry* entry) { return DriveLetterOf(entry->driveNumber); }

WCHAR* BinChildPath(const WCHAR* name) {
    size_t folderLength = WideLength(gRun.binPath);
    size_t nameLength = WideLength(name);
    bool slash = folderLength == 0 || gRun.binPath[folderLength - 1] != '\\';
    size_t total = folderLength + (slash ? 1 : 0) + nameLength + 1;
    WCHAR* path = static_cast<WCHAR*>(MemAlloc(total * sizeof(WCHAR)));
    if (path == nullptr) return nullptr;
    std::memcpy(path, gRun.binPath, folderLength * sizeof(WCHAR));
    size_t at = folderLength;
    if (slash) path[at++] = '\\';
    std::memcpy(path + at, name, (nameLength + 1) * sizeof(WCHAR));
    return path;
}

bool FindDataItem(WCHAR letter, uint32_t recordNumber, bool wantPath, WCHAR** path,
                  DWORD* attributes) {
    if (gRun.binFormat == FORMAT_ITEM_FILES) return false;
    letter = WideLowerAscii(letter);
    if (letter == 0) return false;
    WCHAR pattern[MAX_PATH];
    if (FormatWide(pattern, MAX_PATH, WIDE("%s\\D%c%u*.*"), gRun.binPath, (int)letter,
                   (unsigned)recordNumber) < 0)
        return false;
    // The pattern is a prefix match: record 1 also finds Dc10 and Dc1x.
    FolderWalk walk;
    FolderStep step = FsFirstInFolder(&walk, pattern);
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
        *path = BinChildPath(walk.found.cFileName);
        if (*path == nullptr) {
            ReportNoMemory();
            return false;
        }
    } else if (attributes != nullptr) {
        *attributes = walk.found.dwFileAttributes;
    }
    return true;
}
