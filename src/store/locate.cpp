// Finding a drive's bins and telling a bin folder's layout.
#include <cstring>

#include "app/messages.h"
#include "app/runstate.h"
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

char LowerAscii(char ch) { return (ch >= 'A' && ch <= 'Z') ? (char)(ch + 32) : ch; }

bool EqualNoCase(const char* a, const char* b) {
    for (; *a != 0 && LowerAscii(*a) == LowerAscii(*b); ++a, ++b) {
    }
    return *a == 0 && *b == 0;
}

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

bool IsItemFilesBin(const WCHAR* folder) { return DetectBinFormat(folder) == FORMAT_ITEM_FILES; }

// The bins among the entries of "X:\<parent>", in the order of the search:
// returns how many there are, copies the last one to `last` when given and
// adds each to `found` when given; -1 (reported) when memory runs out.
int32_t ScanSubfolders(WCHAR letter, const WCHAR* parent, bool itemFilesOnly, WCHAR* last,
                       StringArray* found) {
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
        bool isBin = itemFilesOnly ? IsItemFilesBin(path) : DetectBinFormat(path) != FORMAT_NONE;
        if (!isBin) continue;
        ++count;
        if (last != nullptr) WideCopy(last, MAX_PATH, path);
        if (found != nullptr && found->Add(path) < 0) {
            ReportNoMemory();
            count = -1;
            break;
        }
    }
    FsEndFolderWalk(&walk);
    return count;
}

WCHAR* DuplicateOrReport(const WCHAR* path) {
    WCHAR* copy = WideDuplicate(path);
    if (copy == nullptr) ReportNoMemory();
    return copy;
}

WCHAR DriveLetterOfRun(int32_t drive) { return (WCHAR)('A' + drive - 1); }

}  // namespace

bool CheckBinMarker(const WCHAR* folder) {
    WCHAR path[MAX_PATH];
    if (FormatWide(path, MAX_PATH, WIDE("%s\\%s"), folder, WIDE("desktop.ini")) < 0) return false;
    FILE* stream = FsOpenFile(path, WIDE("rb"));
    if (stream == nullptr) return false;
    bool inSection = false, binKey = false, localizedKey = false;
    for (;;) {
        char* line = ReadTextLine(stream);
        if (line == nullptr) {
            if (gRun.exitCode != 0) {
                FsClose(stream);
                return false;
            }
            break;
        }
        char* comment = std::strchr(line, ';');
        if (comment != nullptr) *comment = 0;
        bool stop = false;
        if (line[0] == 0) {
            // blank or comment only
        } else if (EqualNoCase(line, BIN_SECTION)) {
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
                if (EqualNoCase(line, "CLSID") && EqualNoCase(equals + 1, BIN_CLSID))
                    binKey = true;
                else if (EqualNoCase(line, "LocalizedResourceName"))
                    localizedKey = true;
            }
        }
        MemFree(line);
        if (stop) break;
    }
    FsClose(stream);
    return inSection && binKey && localizedKey;
}

BinFormat DetectBinFormat(const WCHAR* folder) {
    BinFormat format = FORMAT_NONE;
    if (CheckBinMarker(folder))
        format = FORMAT_ITEM_FILES;
    else if (IsBelowRecycleBin(folder) && CanOpenChild(folder, WIDE("desktop.ini")))
        format = FORMAT_ITEM_FILES;
    else if (CanOpenChild(folder, WIDE("INFO2")))
        format = FORMAT_INFO2;
    else if (CanOpenChild(folder, WIDE("INFO")))
        format = FORMAT_INFO;
    return format;
}

WCHAR* FindDriveBin(int32_t drive) {
    WCHAR letter = DriveLetterOfRun(drive);
    WCHAR remembered[MAX_PATH] = {0};
    WCHAR path[MAX_PATH];
    int32_t total = 0;

    if (FormatDriveFolder(path, letter, RECYCLE_BIN) && CheckBinMarker(path)) {
        total = 1;
        WideCopy(remembered, MAX_PATH, path);
    } else {
        WCHAR last[MAX_PATH] = {0};
        int32_t count = ScanSubfolders(letter, RECYCLE_BIN, true, last, nullptr);
        if (count == 1) WideCopy(remembered, MAX_PATH, last);
        if (count > 0) total = count;
    }

    WCHAR last[MAX_PATH] = {0};
    int32_t count = ScanSubfolders(letter, RECYCLER, false, last, nullptr);
    if (count == 1 && total == 0) WideCopy(remembered, MAX_PATH, last);
    if (count > 0) total += count;

    bool recycled = FormatDriveFolder(path, letter, RECYCLED) && DetectBinFormat(path) != FORMAT_NONE;
    if (recycled && total == 0) return DuplicateOrReport(path);
    if (recycled || total >= 2) return ChooseBin(drive);
    return total == 0 ? nullptr : DuplicateOrReport(remembered);
}

WCHAR* ChooseBin(int32_t drive) {
    WCHAR letter = DriveLetterOfRun(drive);
    StringArray candidates;
    WCHAR path[MAX_PATH];
    if (FormatDriveFolder(path, letter, RECYCLE_BIN) && CheckBinMarker(path) &&
        candidates.Add(path) < 0) {
        ReportNoMemory();
        return nullptr;
    }
    if (ScanSubfolders(letter, RECYCLE_BIN, true, nullptr, &candidates) < 0) return nullptr;
    if (ScanSubfolders(letter, RECYCLER, false, nullptr, &candidates) < 0) return nullptr;
    if (FormatDriveFolder(path, letter, RECYCLED) && DetectBinFormat(path) != FORMAT_NONE &&
        candidates.Add(path) < 0) {
        ReportNoMemory();
        return nullptr;
    }
    int32_t count = candidates.Length();
    if (count == 0) return nullptr;
    PrintCatalogue(MSG_CHOOSE_BIN);
    for (int32_t i = 0; i < count; ++i) PrintMessage(WIDE("%-5d %s\n"), i + 1, candidates.At(i));
    int32_t chosen = AskNumber(1, count);
    if (chosen < 1 || chosen > count) return nullptr;
    return DuplicateOrReport(candidates.At(chosen - 1));
}

char* ReadTextLine(FILE* stream) {
    uint8_t byte = 0;
    if (FsRead(&byte, 1, stream) != 1) return nullptr;
    size_t capacity = LINE_GROWTH;
    size_t length = 0;
    char* line = static_cast<char*>(MemAlloc(capacity));
    if (line == nullptr) {
        ReportNoMemory();
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
                    ReportNoMemory();
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
