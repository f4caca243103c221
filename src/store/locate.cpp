// Finding a drive's bins and telling a bin folder's layout.
#include <cstring>

#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "store/store.h"

namespace {

const char BIN_SECTION[] = "[.ShellClassInfo]";
const char BIN_CLSID[] = "{645FF040-5081-101B-9F08-00AA002F954E}";
const WCHAR* const RECYCLE_BIN = WIDE("$RECYCLE.BIN");
const WCHAR* const RECYCLER = WIDE("Recycler");
const WCHAR* const RECYCLED = WIDE("Recycled");
const size_t LINE_GROWTH = 260;

// True when "folder\name" can be opened for reading; nothing is read.
bool CanOpenChild(const WCHAR* folder, const WCHAR* name) {
    WCHAR path[MAX_PATH];
    if (FormatWide(path, MAX_PATH, WIDE("%s\\%s"), folder, name) < 0) return false;
    FILE* stream = FsOpenFile(path, WIDE("rb"));
    if (stream == nullptr) return false;
    FsClose(stream);
    return true;
}

// "X:\$RECYCLE.BIN" itself or any folder below it.
bool IsBelowRecycleBin(const WCHAR* folder) {
    if (folder[0] == 0) return false;
    const WCHAR* tail = WIDE(":\\$RECYCLE.BIN");
    size_t i = 0;
    for (; tail[i] != 0; ++i)
        if (WideLowerAscii(folder[i + 1]) != WideLowerAscii(tail[i])) return false;
    WCHAR next = folder[i + 1];
    return next == 0 || next == '\\';
}

bool FormatDriveFolder(WCHAR* path, WCHAR letter, const WCHAR* folder) {
    return FormatWide(path, MAX_PATH, WIDE("%c:\\%s"), (int)letter, folder) >= 0;
}

// The bins among the entries of "X:\<parent>", in the order of the search:
// returns how many there are, copies the last one to `last` when given and
// adds each to `found` when given; -1 when memory runs out (status).
int32_t ScanSubfolders(WCHAR letter, const WCHAR* parent, bool itemFilesOnly, WCHAR* last,
                       StringArray* found, StoreStatus* status) {
    WCHAR pattern[MAX_PATH];
    if (FormatWide(pattern, MAX_PATH, WIDE("%c:\\%s\\*.*"), (int)letter, parent) < 0) return 0;
    // A folder that cannot be read to its end offers the bins read so far.
    FolderWalk walk;
    int32_t count = 0;
    for (FolderStep step = FsFirstInFolder(&walk, pattern); step == FOLDER_ENTRY;
         step = FsNextInFolder(&walk)) {
        const WCHAR* name = walk.found.cFileName;
        WCHAR path[MAX_PATH];
        if (FormatWide(path, MAX_PATH, WIDE("%c:\\%s\\%s"), (int)letter, parent, name) < 0) continue;
        BinFormat format = DetectBinFormat(path, status);
        if (*status != STORE_OK) {
            count = -1;
            break;
        }
        bool isBin = itemFilesOnly ? format == FORMAT_ITEM_FILES : format != FORMAT_NONE;
        if (!isBin) continue;
        ++count;
        if (last != nullptr) WideCopy(last, MAX_PATH, path);
        if (found != nullptr && found->Add(path) < 0) {
            *status = STORE_NO_MEMORY;
            count = -1;
            break;
        }
    }
    FsEndFolderWalk(&walk);
    return count;
}

WCHAR* DuplicatePath(const WCHAR* path, StoreStatus* status) {
    WCHAR* copy = WideDuplicate(path);
    if (copy == nullptr) *status = STORE_NO_MEMORY;
    return copy;
}

WCHAR DriveLetterOfRun(int32_t drive) { return (WCHAR)('A' + drive - 1); }

// FindDriveBin's search; it stops at the first failure (*status).
WCHAR* SearchDriveBin(WCHAR letter, bool* choose, StoreStatus* status) {
    *choose = false;
    WCHAR remembered[MAX_PATH] = {0};
    WCHAR path[MAX_PATH];
    int32_t total = 0;

    if (FormatDriveFolder(path, letter, RECYCLE_BIN) && CheckBinMarker(path, status)) {
        total = 1;
        WideCopy(remembered, MAX_PATH, path);
    } else if (*status == STORE_OK) {
        WCHAR last[MAX_PATH] = {0};
        int32_t count = ScanSubfolders(letter, RECYCLE_BIN, true, last, nullptr, status);
        if (count == 1) WideCopy(remembered, MAX_PATH, last);
        if (count > 0) total = count;
    }
    if (*status != STORE_OK) return nullptr;

    WCHAR last[MAX_PATH] = {0};
    int32_t count = ScanSubfolders(letter, RECYCLER, false, last, nullptr, status);
    if (count == 1 && total == 0) WideCopy(remembered, MAX_PATH, last);
    if (count > 0) total += count;
    if (*status != STORE_OK) return nullptr;

    bool recycled = FormatDriveFolder(path, letter, RECYCLED) && DetectBinFormat(path, status) != FORMAT_NONE;
    if (*status != STORE_OK) return nullptr;
    if (recycled && total == 0) return DuplicatePath(path, status);
    *choose = recycled || total >= 2;
    return total == 0 || *choose ? nullptr : DuplicatePath(remembered, status);
}

}  // namespace

bool CheckBinMarker(const WCHAR* folder, StoreStatus* status) {
    SetStoreStatus(status, STORE_OK);
    WCHAR path[MAX_PATH];
    if (FormatWide(path, MAX_PATH, WIDE("%s\\%s"), folder, WIDE("desktop.ini")) < 0) return false;
    FILE* stream = FsOpenFile(path, WIDE("rb"));
    if (stream == nullptr) return false;
    bool inSection = false, binKey = false, localizedKey = false;
    for (;;) {
        StoreStatus lineStatus = STORE_OK;
        char* line = ReadTextLine(stream, &lineStatus);
        if (line == nullptr) {
            if (lineStatus != STORE_OK) {
                FsClose(stream);
                SetStoreStatus(status, lineStatus);
                return false;
            }
            break;
        }
        char* comment = std::strchr(line, ';');
        if (comment != nullptr) *comment = 0;
        bool stop = false;
        if (line[0] == 0) {
            // blank or comment only
        } else if (AnsiEqualsNoCase(line, BIN_SECTION)) {
            inSection = true;
        } else if (line[0] == '[') {
            // The bin's section has ended once its key was seen.
            if (binKey)
                stop = true;
            else
                inSection = false;
        } else if (inSection) {
            char* equals = std::strchr(line, '=');
            if (equals != nullptr) {
                *equals = 0;
                if (AnsiEqualsNoCase(line, "CLSID") && AnsiEqualsNoCase(equals + 1, BIN_CLSID))
                    binKey = true;
                else if (AnsiEqualsNoCase(line, "LocalizedResourceName"))
                    localizedKey = true;
            }
        }
        MemFree(line);
        if (stop) break;
    }
    FsClose(stream);
    return inSection && binKey && localizedKey;
}

BinFormat DetectBinFormat(const WCHAR* folder, StoreStatus* status) {
    StoreStatus marker = STORE_OK;
    BinFormat format = FORMAT_NONE;
    if (CheckBinMarker(folder, &marker))
        format = FORMAT_ITEM_FILES;
    else if (marker != STORE_OK)
        format = FORMAT_NONE;  // a marker not read whole tells nothing
    else if (IsBelowRecycleBin(folder) && CanOpenChild(folder, WIDE("desktop.ini")))
        format = FORMAT_ITEM_FILES;
    else if (CanOpenChild(folder, WIDE("INFO2")))
        format = FORMAT_INFO2;
    else if (CanOpenChild(folder, WIDE("INFO")))
        format = FORMAT_INFO;
    SetStoreStatus(status, marker);
    return format;
}

WCHAR* FindDriveBin(int32_t drive, bool* choose, StoreStatus* status) {
    StoreStatus result = STORE_OK;
    WCHAR* found = SearchDriveBin(DriveLetterOfRun(drive), choose, &result);
    SetStoreStatus(status, result);
    return found;
}

bool ListDriveBins(int32_t drive, StringArray* bins, StoreStatus* status) {
    WCHAR letter = DriveLetterOfRun(drive);
    StoreStatus result = STORE_OK;
    WCHAR path[MAX_PATH];
    if (FormatDriveFolder(path, letter, RECYCLE_BIN) && CheckBinMarker(path, &result) && bins->Add(path) < 0)
        result = STORE_NO_MEMORY;
    if (result == STORE_OK) ScanSubfolders(letter, RECYCLE_BIN, true, nullptr, bins, &result);
    if (result == STORE_OK) ScanSubfolders(letter, RECYCLER, false, nullptr, bins, &result);
    if (result == STORE_OK && FormatDriveFolder(path, letter, RECYCLED) &&
        DetectBinFormat(path, &result) != FORMAT_NONE && bins->Add(path) < 0)
        result = STORE_NO_MEMORY;
    SetStoreStatus(status, result);
    return result == STORE_OK;
}

char* ReadTextLine(FILE* stream, StoreStatus* status) {
    SetStoreStatus(status, STORE_OK);
    uint8_t byte = 0;
    if (FsRead(&byte, 1, stream) != 1) return nullptr;
    size_t capacity = LINE_GROWTH;
    size_t length = 0;
    char* line = static_cast<char*>(MemAlloc(capacity));
    if (line == nullptr) {
        SetStoreStatus(status, STORE_NO_MEMORY);
        return nullptr;
    }
    for (;;) {
        if (byte == '\n') break;
        if (byte == '\r') {
            uint8_t next = 0;
            if (FsRead(&next, 1, stream) == 1 && next != '\n') FsSeek(stream, -1, SEEK_CUR);
            break;
        }
        // Past the limit the rest of the line is read and dropped.
        if (length + 1 < TEXT_LINE_LIMIT) {
            if (length + 1 == capacity) {
                char* grown = static_cast<char*>(MemRealloc(line, capacity + LINE_GROWTH));
                if (grown == nullptr) {
                    MemFree(line);
                    SetStoreStatus(status, STORE_NO_MEMORY);
                    return nullptr;
                }
                line = grown;
                capacity += LINE_GROWTH;
            }
            line[length++] = (char)byte;
        }
        if (FsRead(&byte, 1, stream) != 1) break;
    }
    line[length] = 0;
    return line;
}
