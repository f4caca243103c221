// Emptying the bin: the index reset to its bare header (index layouts) and
// every data item and item index file removed, each path printed as it goes.
#include "ops/ops.h"

#include <cstdio>

#include "app/messages.h"
#include "app/runstate.h"
#include "platform/arrays.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"

namespace {

// Room for the count in the question beyond the catalogue text's length.
const size_t ASK_EMPTY_SPARE = 16;

bool IsBinMarker(const WIN32_FIND_DATAW& found) {
    return WideCompareAsciiNoCase(found.cFileName, WIDE("desktop.ini")) == 0 ||
           WideCompareAsciiNoCase(found.cAlternateFileName, WIDE("desktop.ini")) == 0;
}

// Turns the full path of an item index file into its $R partner's: the
// character after the "$" of the name, which begins at nameStart. False for
// a name too short to have one.
bool MakeDataItemName(WCHAR* path, size_t nameStart) {
    if (path[nameStart] == 0 || path[nameStart + 1] == 0) return false;
    path[nameStart + 1] = 'R';
    return true;
}

// Adds the full path of every match of pattern in the bin folder, in the
// search's order; with pairs, each $I file is followed by its $R partner
// whether that exists or not. False, reported, when memory ran out: the
// caller then removes nothing.
bool CollectBinItems(const WCHAR* pattern, bool pairs, StringArray* paths) {
    WCHAR* search = BinChildPath(pattern);
    if (search == nullptr) {
        ReportNoMemory();
        return false;
    }
    size_t nameStart = WideLength(search) - WideLength(pattern);
    WIN32_FIND_DATAW found;
    HANDLE handle = FsFindFirstFile(search, &found);
    MemFree(search);
    if (handle == INVALID_HANDLE_VALUE) return true;
    bool collected = true;
    do {
        if (!pairs && IsBinMarker(found)) continue;
        WCHAR* path = BinChildPath(found.cFileName);
        collected = path != nullptr && paths->Add(path) >= 0;
        if (collected && pairs && MakeDataItemName(path, nameStart))
            collected = paths->Add(path) >= 0;
        MemFree(path);
    } while (collected && FsFindNextFile(handle, &found));
    FsFindClose(handle);
    if (!collected) ReportNoMemory();
    return collected;
}

// Reads the index header; a file that does not yield it whole is left
// untouched, since there is nothing sound to write back.
bool ReadIndexHeader(uint8_t header[INDEX_HEADER_SIZE]) {
    FILE* index = OpenIndexFile(WIDE("rb"), true);
    if (index == nullptr) return false;
    bool read = FsReadExact(header, INDEX_HEADER_SIZE, index);
    FsClose(index);
    return read;
}

// Rewrites the index as its header alone, version and record size kept.
bool ResetIndex(const uint8_t headerBytes[INDEX_HEADER_SIZE]) {
    IndexHeader header;
    DecodeIndexHeader(headerBytes, &header);
    header.entryCount = 0;
    header.nextRecordNumber = 0;
    header.totalSize = 0;
    uint8_t bytes[INDEX_HEADER_SIZE];
    EncodeIndexHeader(&header, bytes);
    FILE* index = OpenIndexFile(WIDE("wb"), true);
    if (index == nullptr) return false;
    bool written = FsWrite(bytes, INDEX_HEADER_SIZE, index);
    return FsClose(index) && written;
}

// Removes every path, printing each first. A failure never stops the pass;
// the result is false when something that exists is left behind (a path
// that is simply not there, such as a $R item never created, is no failure).
bool RemoveCollected(const StringArray& paths) {
    PrintCatalogue(MSG_DELETING);
    bool complete = true;
    for (int32_t i = 0; i < paths.Length(); ++i) {
        const WCHAR* path = paths.At(i);
        PrintMessage(WIDE("%s\n"), path);
        if (!RemovePath(path) && FsGetFileAttributes(path) != INVALID_FILE_ATTRIBUTES)
            complete = false;
    }
    std::fputs("\n", stdout);
    PrintCatalogue(MSG_FINISHED);
    return complete;
}

}  // namespace

bool EmptyStore() {
    StringArray paths;
    if (gRun.binFormat == FORMAT_ITEM_FILES) {
        if (!CollectBinItems(WIDE("$I*.*"), true, &paths)) return false;
    } else {
        // The list is made before the index is reset, so that running out of
        // memory leaves the bin as it was.
        uint8_t header[INDEX_HEADER_SIZE];
        if (!ReadIndexHeader(header)) return false;
        if (!CollectBinItems(WIDE("D*.*"), false, &paths)) return false;
        if (!ResetIndex(header)) return false;
    }
    if (paths.Length() == 0) return true;
    return RemoveCollected(paths);
}

void RunEmptyCommand() {
    int32_t count = gRun.entries.Length();
    if (count == 0) {
        PrintCatalogue(MSG_ALREADY_EMPTY);
        gRun.exitCode = EXIT_ALREADY_EMPTY;
        return;
    }
    if ((gRun.options & OPT_YES) == 0) {
        const WCHAR* text = MessageText(MSG_ASK_EMPTY);
        size_t capacity = WideLength(text) + ASK_EMPTY_SPARE;
        WCHAR* question = static_cast<WCHAR*>(MemAlloc(capacity * sizeof(WCHAR)));
        if (question == nullptr) {
            ReportNoMemory();
            return;
        }
        FormatWide(question, capacity, text, (int)count);
        bool yes = AskYesNo(question);
        MemFree(question);
        if (!yes) {
            PrintCatalogue(MSG_CANCELED);
            gRun.exitCode = EXIT_CANCELED;
            return;
        }
    }
    if (EmptyStore()) {
        PrintCatalogue(MSG_EMPTIED);
    } else {
        PrintCatalogue(MSG_ERR_EMPTY_FAILED, gRun.binPath);
        gRun.exitCode = EXIT_EMPTY_FAILED;
    }
}
