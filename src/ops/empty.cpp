// Emptying the bin under its lock: every data item and item index file
// removed, each path printed as it goes, and then the index reset to its
// bare header (index layouts). Items that cannot be removed keep their
// records, so they stay listed and can be tried again.
#include "ops/ops.h"

#include <cstdio>

#include "app/bins.h"
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
// whether that exists or not. False when memory ran out (reported) or the
// search failed part way: the caller then removes nothing.
bool CollectBinItems(const WCHAR* pattern, bool pairs, StringArray* paths) {
    WCHAR* search = BinChildPath(&gRun.bin, pattern);
    if (search == nullptr) {
        ReportNoMemory();
        return false;
    }
    size_t nameStart = WideLength(search) - WideLength(pattern);
    FolderWalk walk;
    FolderStep step = FsFirstInFolder(&walk, search);
    MemFree(search);
    bool collected = true;
    for (; step == FOLDER_ENTRY; step = FsNextInFolder(&walk)) {
        if (!pairs && IsBinMarker(walk.found)) continue;
        WCHAR* path = BinChildPath(&gRun.bin, walk.found.cFileName);
        collected = path != nullptr && paths->Add(path) >= 0;
        if (collected && pairs && MakeDataItemName(path, nameStart))
            collected = paths->Add(path) >= 0;
        MemFree(path);
        if (!collected) break;
    }
    if (!collected) ReportNoMemory();
    FsEndFolderWalk(&walk);
    return collected && step != FOLDER_FAILED;
}

// Removes every path, printing each first. A failure never stops the pass;
// the result is false when something that exists is left behind (a path
// that is simply not there, such as a $R item never created, is no failure).
// With pairs, the paths come as ($I, $R) and the $R item goes first: a $I
// file is removed only once its item is gone, so an item that stays is
// still listed and can be tried again.
bool RemoveCollected(const StringArray& paths, bool pairs) {
    PrintCatalogue(MSG_DELETING);
    bool complete = true;
    int32_t step = pairs ? 2 : 1;
    for (int32_t i = 0; i + step <= paths.Length(); i += step) {
        for (int32_t k = 0; k < step; ++k) PrintMessage(WIDE("%s\n"), paths.At(i + k));
        const WCHAR* item = paths.At(i + step - 1);
        bool gone = RemovePath(item) || FsPathMissing(item);
        if (gone && pairs) {
            const WCHAR* index = paths.At(i);
            gone = RemovePath(index) || FsPathMissing(index);
        }
        if (!gone) complete = false;
    }
    PrintMessage(WIDE("\n"));
    PrintCatalogue(MSG_FINISHED);
    return complete;
}

// Every data item went: the index becomes its bare header, version and
// record size kept, written in place and only then cut, so that the file
// is never shorter than its header.
bool ResetIndex(FILE* index) {
    uint8_t bytes[HEADER_SIZE];
    IndexHeader header;
    if (!ReadIndexHeaderAt(index, bytes, &header)) return false;
    header.entryCount = 0;
    header.nextRecordNumber = 0;
    header.totalSize = 0;
    EncodeIndexHeader(&header, bytes);
    return FsSeek(index, 0, SEEK_SET) && FsWrite(bytes, HEADER_SIZE, index) && FsFlush(index) &&
           FsTruncate(index, HEADER_SIZE);
}

bool SameRecord(const IndexRecord& record, const BinEntry* entry) {
    return entry->recordNumber == record.recordNumber && entry->driveNumber == record.driveNumber &&
           entry->deletionTime == record.deletionTime;
}

// Some data items stayed: the records of the items that went are marked
// removed and the header counts what is left, as loaded afresh. Loading
// lists the live records that still have their item in file order, so one
// walk through the records meets them in turn.
bool SweepIndex(FILE* index) {
    if (!LoadBinEntries(&gRun.bin, false)) return false;
    uint8_t headerBytes[HEADER_SIZE];
    IndexHeader header;
    if (!ReadIndexHeaderAt(index, headerBytes, &header)) return false;
    uint8_t* record = static_cast<uint8_t*>(MemAlloc(header.recordSize));
    if (record == nullptr) return false;
    int32_t next = 0;
    uint64_t sum = 0;
    bool ok = true;
    int64_t offset = HEADER_SIZE;
    while (ok && SeekIndex(index, offset) && FsReadExact(record, header.recordSize, index)) {
        IndexRecord fields;
        DecodeIndexRecord(record, header.recordSize, &fields);
        if (fields.live) {
            const BinEntry* kept = next < gRun.bin.entries.Length()
                                       ? static_cast<const BinEntry*>(gRun.bin.entries.At(next))
                                       : nullptr;
            if (kept != nullptr && SameRecord(fields, kept)) {
                sum += kept->size;
                ++next;
            } else {
                MarkRecordRemoved(record);
                ok = SeekIndex(index, offset) && FsWrite(record, header.recordSize, index);
            }
        }
        offset += header.recordSize;
    }
    MemFree(record);
    if (!ok || FsReadFailed(index)) return false;
    // Counted once the records of the items that went are marked. A
    // failure is told, and the emptying reported as failed.
    StoreStatus status = STORE_OK;
    uint32_t nextNumber = FreeRecordNumber(&gRun.bin, false, nullptr, &status);
    if (status != STORE_OK) {
        PrintStoreFailure(status, gRun.bin.path);
        return false;
    }
    header.entryCount = (uint32_t)gRun.bin.entries.Length();
    header.nextRecordNumber = nextNumber;
    header.totalSize = SaturatedSize(sum);
    EncodeIndexHeader(&header, headerBytes);
    return FsSeek(index, 0, SEEK_SET) && FsWrite(headerBytes, HEADER_SIZE, index) &&
           FsFlush(index);
}

// /whatif's report of the paths an emptying would remove. A $R partner
// that is not there is no item to remove.
void ShowForeseenRemovals(const StringArray& paths) {
    for (int32_t i = 0; i < paths.Length(); ++i)
        if (!FsPathMissing(paths.At(i))) PrintCatalogue(MSG_WHATIF_DELETE, paths.At(i));
    PrintCatalogue(MSG_WHATIF_DONE);
}

// /whatif: every path emptying would remove, as the bin is now; nothing
// is asked, locked or changed. A bin that cannot be searched would fail to
// empty (64).
void ForeseeEmpty() {
    StringArray paths;
    bool itemFiles = gRun.bin.format == FORMAT_ITEM_FILES;
    if (!CollectBinItems(itemFiles ? WIDE("$I*.*") : WIDE("D*.*"), itemFiles, &paths)) {
        if (gRun.exitCode < EXIT_FIRST_ERROR) {
            PrintCatalogue(MSG_ERR_EMPTY_FAILED, gRun.bin.path);
            gRun.exitCode = EXIT_EMPTY_FAILED;
        }
        PrintCatalogue(MSG_WHATIF_DONE);
        return;
    }
    ShowForeseenRemovals(paths);
}

// Asks the question of `id` with the count, unless /Y answered it. False
// (reported) when the user says no or memory runs out.
bool ConfirmWithCount(int id, int32_t count) {
    if ((gRun.options & OPT_YES) != 0) return true;
    const WCHAR* text = MessageText(id);
    size_t capacity = WideLength(text) + ASK_EMPTY_SPARE;
    WCHAR* question = static_cast<WCHAR*>(MemAlloc(capacity * sizeof(WCHAR)));
    if (question == nullptr) {
        ReportNoMemory();
        return false;
    }
    FormatWide(question, capacity, text, (int)count);
    bool yes = AskYesNo(question);
    MemFree(question);
    if (!yes) {
        PrintCatalogue(MSG_CANCELED);
        gRun.exitCode = EXIT_CANCELED;
    }
    return yes;
}

// --- Emptying what a selection takes ----------------------------------------

BinEntry* LoadedEntry(int32_t position) { return static_cast<BinEntry*>(gRun.bin.entries.At(position)); }

// The positions, in the list loaded under the lock, of the confirmed
// entries still in the bin; one that left it meanwhile is passed over.
// Loading keeps the store's order, so the search goes on from the last
// one found and wraps around only when the order changed.
bool FindConfirmedAgain(const PtrArray& confirmed, PositionArray* positions) {
    int32_t count = gRun.bin.entries.Length();
    int32_t next = 0;
    for (int32_t c = 0; c < confirmed.Length(); ++c) {
        const BinEntry* wanted = static_cast<const BinEntry*>(confirmed.At(c));
        for (int32_t step = 0; step < count; ++step) {
            int32_t i = (next + step) % count;
            if (!SameEntry(LoadedEntry(i), wanted)) continue;
            if (positions->Add(i) < 0) {
                ReportNoMemory();
                return false;
            }
            next = i + 1;
            break;
        }
    }
    return true;
}

// The paths to remove for the entries at `positions`: in the per-item
// layout each $I file and its $R item, as the full emptying lists them; in
// the index layouts the data item. False when memory ran out (reported).
bool CollectSelectedItems(const PositionArray& positions, StringArray* paths) {
    bool pairs = gRun.bin.format == FORMAT_ITEM_FILES;
    for (int32_t k = 0; k < positions.Length(); ++k) {
        const BinEntry* entry = LoadedEntry(positions.At(k));
        const WCHAR* known = pairs ? entry->dataPath : entry->itemName;
        if (known == nullptr) continue;  // loading found no item of it
        WCHAR* item = pairs ? WideDuplicate(known) : BinChildPath(&gRun.bin, known);
        bool added = item != nullptr;
        if (added && pairs) {
            const WCHAR* slash = WideFindLast(item, '\\');
            size_t nameStart = slash != nullptr ? (size_t)(slash - item) + 1 : 0;
            item[nameStart + 1] = 'I';
            added = paths->Add(item) >= 0;
            item[nameStart + 1] = 'R';
        }
        added = added && paths->Add(item) >= 0;
        MemFree(item);
        if (!added) {
            ReportNoMemory();
            return false;
        }
    }
    return true;
}

// /whatif with a selection: the paths its emptying would remove.
void ForeseeSelectedEmpty(const PositionArray& chosen) {
    StringArray paths;
    if (CollectSelectedItems(chosen, &paths)) ShowForeseenRemovals(paths);
}

// Removes the items, the data first; then the index layouts mark the
// records of the items that went removed and rewrite the header, as the
// emptying does when some items stay.
bool RemoveSelected(const PositionArray& positions) {
    StringArray paths;
    bool pairs = gRun.bin.format == FORMAT_ITEM_FILES;
    if (!CollectSelectedItems(positions, &paths)) return false;
    if (!pairs && gRun.bin.lock == nullptr) return false;
    bool complete = RemoveCollected(paths, pairs);
    return (pairs || SweepIndex(gRun.bin.lock)) && complete;
}

// /empty with /older or /match: only the entries the selection takes go.
// The user confirms their count; under the lock the bin is read afresh and
// only those same entries are removed.
void RunSelectedEmpty() {
    PositionArray chosen;
    if (!SelectEntries(&gRun.bin, &chosen)) return;
    if (chosen.Length() == 0) {
        PrintCatalogue(MSG_NONE_SELECTED);
        gRun.exitCode = EXIT_ALREADY_EMPTY;
        return;
    }
    if (gRun.options & OPT_WHATIF) {
        ForeseeSelectedEmpty(chosen);
        return;
    }
    if (!ConfirmWithCount(MSG_ASK_EMPTY_SELECTED, chosen.Length())) return;
    PtrArray confirmed;
    if (CopyEntriesAt(chosen, &confirmed) && TakeBinLock(&gRun.bin)) {
        PositionArray again;
        bool found = LoadBinEntries(&gRun.bin, false) && FindConfirmedAgain(confirmed, &again);
        if (found && again.Length() == 0) {
            PrintCatalogue(MSG_NONE_SELECTED);
            gRun.exitCode = EXIT_ALREADY_EMPTY;
        } else if (found && RemoveSelected(again)) {
            PrintCatalogue(MSG_SELECTED_DELETED);
        } else if (gRun.exitCode < EXIT_FIRST_ERROR) {
            PrintCatalogue(MSG_ERR_EMPTY_FAILED, gRun.bin.path);
            gRun.exitCode = EXIT_EMPTY_FAILED;
        }
        UnlockBin(&gRun.bin);
    }
    FreeEntryCopies(&confirmed);
}

}  // namespace

bool EmptyStore() {
    StringArray paths;
    if (gRun.bin.format == FORMAT_ITEM_FILES) {
        // The list is made before anything is removed, so that running out
        // of memory, or a search that fails part way, leaves the bin as it was.
        if (!CollectBinItems(WIDE("$I*.*"), true, &paths)) return false;
        return paths.Length() == 0 || RemoveCollected(paths, true);
    }
    FILE* index = gRun.bin.lock;  // the index, open for update
    if (index == nullptr || !CollectBinItems(WIDE("D*.*"), false, &paths)) return false;
    bool complete = paths.Length() == 0 || RemoveCollected(paths, false);
    if (complete) return ResetIndex(index);
    SweepIndex(index);
    return false;
}

void RunEmptyCommand() {
    int32_t count = gRun.bin.entries.Length();
    if (count == 0) {
        PrintCatalogue(MSG_ALREADY_EMPTY);
        gRun.exitCode = EXIT_ALREADY_EMPTY;
        return;
    }
    if (HasSelection(gRun.selection)) {
        RunSelectedEmpty();
        return;
    }
    if (gRun.options & OPT_WHATIF) {
        ForeseeEmpty();
        return;
    }
    if (!ConfirmWithCount(MSG_ASK_EMPTY, count)) return;
    // What is emptied is what the bin holds under the lock, read afresh.
    if (!TakeBinLock(&gRun.bin)) return;
    bool loaded = LoadBinEntries(&gRun.bin, false);
    if (loaded && EmptyStore()) {
        PrintCatalogue(MSG_EMPTIED);
    } else if (gRun.exitCode < EXIT_FIRST_ERROR) {
        PrintCatalogue(MSG_ERR_EMPTY_FAILED, gRun.bin.path);
        gRun.exitCode = EXIT_EMPTY_FAILED;
    }
    UnlockBin(&gRun.bin);
}
