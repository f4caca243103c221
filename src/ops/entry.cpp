// Restoring one entry to its place, or deleting it for good, and taking it
// out of the bin's store afterwards. The change holds the bin's lock, and
// the entry is found again under it, since another run may have changed the
// bin while the user was asked. The disk changes first, the store second; a
// store update that fails after the move or removal is a warning.
#include "ops/ops.h"

#include "app/bins.h"
#include "app/messages.h"
#include "app/runstate.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"

namespace {

// Room for the detail block's time text or its placeholder.
const size_t DETAIL_TIME_BYTES = 32;

BinEntry* EntryAt(int32_t position) { return static_cast<BinEntry*>(gRun.bin.entries.At(position)); }

void Fail(int32_t exitCode, int messageId) {
    PrintCatalogue(messageId);
    gRun.exitCode = exitCode;
}

// The blank line, "[n] path time" and another blank line. False, reported,
// when memory runs out for the path's conversion.
bool PrintEntryDetail(const BinEntry* entry, int32_t position) {
    WCHAR* path = WideOriginalPath(entry);
    if (HasOriginalPath(entry) && path == nullptr) {
        ReportNoMemory();
        return false;
    }
    char timeText[DETAIL_TIME_BYTES];
    FormatDeletionTime(entry->deletionTime, timeText, sizeof timeText);
    PrintMessage(WIDE("\n[%u] %s %hs\n\n"), (unsigned)(position + 1), path != nullptr ? path : WIDE(""),
                 timeText);
    MemFree(path);
    return true;
}

// Sets restorePath to the target: the original path when none was given,
// else the given one completed by ComposeRestoreTarget.
bool PrepareRestoreTarget(const BinEntry* entry) {
    WCHAR* original = WideOriginalPath(entry);
    if (HasOriginalPath(entry) && original == nullptr) {
        ReportNoMemory();
        return false;
    }
    if (gRun.restorePath == nullptr) {
        gRun.restorePath = original;
        return true;
    }
    bool composed = original == nullptr || ComposeRestoreTarget(original);
    MemFree(original);
    return composed;
}

// The full path of the entry's data item (new string), or null after the
// failure has been reported. Index layouts look the item up with the same
// letter that loading used, so that every listed entry can be reached.
WCHAR* DataItemPath(const BinEntry* entry) {
    if (!HasOriginalPath(entry)) {
        Fail(EXIT_UNKNOWN, MSG_ERR_UNKNOWN);
        return nullptr;
    }
    if (gRun.bin.format == FORMAT_ITEM_FILES) {
        if (entry->dataPath == nullptr) {
            Fail(EXIT_UNKNOWN, MSG_ERR_UNKNOWN);
            return nullptr;
        }
        WCHAR* copy = WideDuplicate(entry->dataPath);
        if (copy == nullptr) ReportNoMemory();
        return copy;
    }
    WCHAR* path = nullptr;
    DWORD attributes = 0;
    StoreStatus status = STORE_OK;
    if (FindDataItem(&gRun.bin, EntryDriveLetter(entry), entry->recordNumber, true, &path, &attributes, &status))
        return path;
    if (status != STORE_OK)
        ReportStoreFailure(status, gRun.bin.path);
    else
        Fail(EXIT_UNKNOWN, MSG_ERR_UNKNOWN);
    return nullptr;
}

// A live record with the entry's path (folding A-Z only), deletion time and
// record number.
bool RecordMatches(const IndexRecord& record, const BinEntry* entry) {
    if (!record.live || !HasOriginalPath(entry)) return false;
    if (record.recordNumber != entry->recordNumber || record.deletionTime != entry->deletionTime)
        return false;
    if (entry->widePath != nullptr)
        return record.hasWidePath && WideCompareAsciiNoCase(record.widePath, entry->widePath) == 0;
    return AnsiEqualsNoCase(record.ansiPath, entry->ansiPath);
}

// Marks the first matching record removed and writes it back in place.
bool MarkFirstMatch(FILE* index, uint8_t* record, uint32_t recordSize, const BinEntry* entry,
                    uint32_t* removedSize) {
    while (FsReadExact(record, recordSize, index)) {
        IndexRecord fields;
        DecodeIndexRecord(record, recordSize, &fields);
        if (!RecordMatches(fields, entry)) continue;
        *removedSize = fields.size;
        MarkRecordRemoved(record);
        return FsSeek(index, -(long)recordSize, SEEK_CUR) && FsWrite(record, recordSize, index) &&
               FsFlush(index);
    }
    return false;
}

uint64_t LoadedSizeSum() {
    uint64_t sum = 0;
    for (int32_t i = 0; i < gRun.bin.entries.Length(); ++i) sum += EntryAt(i)->size;
    return sum;
}

// The record removed and the header's counts rewritten from the header just
// read and the entries loaded under the lock; a header or record size that
// cannot be trusted fails the update.
bool RemoveIndexRecord(FILE* index, const BinEntry* entry) {
    uint8_t headerBytes[HEADER_SIZE];
    IndexHeader header;
    if (!ReadIndexHeaderAt(index, headerBytes, &header)) return false;
    // The data item is already gone, so the number is final; taken before
    // anything is written, so that running out of memory changes nothing.
    StoreStatus status = STORE_OK;
    header.nextRecordNumber = FreeRecordNumber(&gRun.bin, false, entry, &status);
    if (status != STORE_OK) {
        ReportStoreFailure(status, gRun.bin.path);
        return false;
    }
    uint8_t* record = static_cast<uint8_t*>(MemAlloc(header.recordSize));
    if (record == nullptr) {
        ReportNoMemory();
        return false;
    }
    uint32_t removedSize = 0;
    bool marked = MarkFirstMatch(index, record, header.recordSize, entry, &removedSize);
    MemFree(record);
    if (!marked) return false;
    header.entryCount = (uint32_t)gRun.bin.entries.Length() - 1;
    uint64_t sum = LoadedSizeSum();
    header.totalSize = SaturatedSize(sum > removedSize ? sum - removedSize : 0);
    EncodeIndexHeader(&header, headerBytes);
    return FsSeek(index, 0, SEEK_SET) && FsWrite(headerBytes, HEADER_SIZE, index) &&
           FsFlush(index);
}

// The index is the file the lock holds open for update.
bool UnregisterIndexRecord(const BinEntry* entry) {
    return gRun.bin.lock != nullptr && RemoveIndexRecord(gRun.bin.lock, entry);
}

// Removes the $I file named like the entry's $R item.
bool UnregisterItemFiles(BinEntry* entry) {
    WCHAR* path = entry->dataPath;
    if (path == nullptr) return false;
    const WCHAR* slash = WideFindLast(path, '\\');
    size_t nameStart = slash != nullptr ? (size_t)(slash - path) + 1 : 0;
    if (path[nameStart] == 0 || path[nameStart + 1] == 0) return false;
    path[nameStart + 1] = 'I';
    return RemovePath(path);
}

// A target in the bin folder (the item itself among them) would hide the
// item where no entry lists it. Compared by identity, so that another
// spelling of the folder is caught as well; a bin whose identity cannot be
// read is not restored into either.
bool TargetInsideBin(const WCHAR* target) {
    WCHAR* full = MakeFullPath(target);
    if (full == nullptr) return true;
    FileIdentity bin;
    bool inside = !FsGetFileIdentity(gRun.bin.path, true, &bin) || PathWithin(full, true, bin);
    MemFree(full);
    return inside;
}

// Reads the bin again under the lock and finds the entry the user chose
// in it (a copy taken from the listing before the run). Its position, or
// -1 after a report: the entry has left the bin (another run restored or
// deleted it) or the bin cannot be read.
int32_t FindEntryAgain(const BinEntry* chosen, bool deleting) {
    if (!LoadBinEntries(&gRun.bin, false)) {
        if (gRun.exitCode < EXIT_FIRST_ERROR) {
            PrintCatalogue(MSG_ERR_READ_FAILED, gRun.bin.path);
            gRun.exitCode = EXIT_READ_FAILED;
        }
        return -1;
    }
    for (int32_t i = 0; i < gRun.bin.entries.Length(); ++i)
        if (SameEntry(EntryAt(i), chosen)) return i;
    Fail(deleting ? EXIT_DELETE_FAILED : EXIT_RESTORE_FAILED, MSG_ERR_ENTRY_CHANGED);
    return -1;
}

// restorePath for one entry of the run: the path given on the command line
// (kept apart, as composing replaces restorePath) completed for it.
bool SetRestoreTarget(const BinEntry* entry, const WCHAR* given) {
    MemFree(gRun.restorePath);
    gRun.restorePath = nullptr;
    if (given != nullptr && (gRun.restorePath = WideDuplicate(given)) == nullptr) {
        ReportNoMemory();
        return false;
    }
    return PrepareRestoreTarget(entry);
}

bool IsDirectory(const WCHAR* path) {
    DWORD attributes = FsGetFileAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// What one pass over the chosen entries shares.
struct EntryRun {
    const WCHAR* given = nullptr;  // the restore path as typed, or null
    bool deleting = false;
    StringArray foreseen;          // /whatif: the full targets the entries before took
};

// Whether `path` is `folder` or lies in it (A-Z folded).
bool IsAtOrBelow(const WCHAR* path, const WCHAR* folder) {
    size_t length = WideLength(folder);
    if (WideLength(path) < length) return false;
    for (size_t i = 0; i < length; ++i)
        if (WideLowerAscii(path[i]) != WideLowerAscii(folder[i])) return false;
    return path[length] == 0 || path[length] == '\\';
}

// Whether the move to `target` is bound to fail: the place is taken (now,
// or by an entry before it in this run), or the folder it goes into is
// neither there nor brought back by an entry before it. Known before
// anything changes, so /whatif can tell it. Running out of memory is
// reported and counts as blocked.
bool TargetBlocked(const WCHAR* target, StringArray* foreseen) {
    if (!FsPathMissing(target)) return true;
    WCHAR* full = MakeFullPath(target);
    bool blocked = full == nullptr || foreseen->Add(full) < 0;
    if (blocked) {
        ReportNoMemory();
        MemFree(full);
        return true;
    }
    bool folderComes = false;
    for (int32_t i = 0; i + 1 < foreseen->Length(); ++i) {
        blocked = blocked || WideCompareAsciiNoCase(full, foreseen->At(i)) == 0;
        folderComes = folderComes || IsAtOrBelow(full, foreseen->At(i));
    }
    WCHAR* slash = const_cast<WCHAR*>(WideFindLast(full, '\\'));
    if (!blocked && !folderComes) {
        // A drive's root keeps its separator: "T:" alone is a current folder.
        if (slash != nullptr) slash[slash - full <= 2 ? 1 : 0] = 0;
        blocked = slash == nullptr || !IsDirectory(full);
    }
    MemFree(full);
    return blocked;
}

// Reports a restore that cannot be done (62) and gives false.
bool RestoreRefused(const WCHAR* target) {
    PrintCatalogue(MSG_ERR_RESTORE_FAILED, target);
    gRun.exitCode = EXIT_RESTORE_FAILED;
    return false;
}

// The target as the move gets it, or false (reported) when it cannot be
// used: cut short it would name another place; in the bin folder it would
// hide the item; where moving a link would move what it points to (Wine),
// the item is not moved at all.
bool TakeRestoreTarget(const WCHAR* source, WCHAR* target) {
    const WCHAR* given = gRun.restorePath != nullptr ? gRun.restorePath : WIDE("");
    if (gRun.restorePath == nullptr || !WideCopy(target, PATH_FIELD_CHARS, given))
        return RestoreRefused(given);
    if (TargetInsideBin(target) || (!FsHandlesLinksItself() && FsIsLink(source)))
        return RestoreRefused(target);
    return true;
}

// /whatif for one entry: what restoring or deleting it would do, with the
// failures that can be told before anything changes. False after a report.
bool ForeseeEntry(const BinEntry* entry, EntryRun* run) {
    WCHAR* source = DataItemPath(entry);
    if (source == nullptr) return false;
    bool ok = true;
    if (run->deleting) {
        PrintCatalogue(MSG_WHATIF_DELETE, source);
    } else {
        WCHAR target[PATH_FIELD_CHARS];
        ok = SetRestoreTarget(entry, run->given) && TakeRestoreTarget(source, target);
        // A $R item that is gone cannot be moved; a deletion only unlists it.
        if (ok && (FsPathMissing(source) || TargetBlocked(target, &run->foreseen)))
            ok = gRun.exitCode < EXIT_FIRST_ERROR && RestoreRefused(target);  // else reported
        if (ok) PrintCatalogue(MSG_WHATIF_RESTORE, source, target);
    }
    MemFree(source);
    return ok;
}

// One chosen entry: its detail block, the question, then the change under
// the lock, the entry found again by what it is. False when the run must
// stop: a failure (reported, code 20 or more); a "no" skips this entry only.
bool HandleEntry(const BinEntry* chosen, int32_t position, EntryRun* run) {
    if (!PrintEntryDetail(chosen, position)) return false;
    if (gRun.options & OPT_WHATIF) return ForeseeEntry(chosen, run);
    bool deleting = run->deleting;
    if ((gRun.options & OPT_YES) == 0 &&
        !AskYesNo(MessageText(deleting ? MSG_ASK_DELETE : MSG_ASK_RESTORE))) {
        Fail(EXIT_CANCELED, MSG_CANCELED);
        return true;
    }
    if (!TakeBinLock(&gRun.bin)) return false;
    int32_t at = FindEntryAgain(chosen, deleting);
    if (at >= 0) {
        gRun.index = at;
        if (deleting) {
            if (DeleteEntry(at)) PrintCatalogue(MSG_DELETE_OK);
        } else if (SetRestoreTarget(EntryAt(at), run->given) && RestoreEntry(at)) {
            PrintCatalogue(MSG_RESTORE_OK);
        }
    }
    UnlockBin(&gRun.bin);
    return gRun.exitCode < EXIT_FIRST_ERROR;
}

// Each chosen entry in listing order. The run ends with the code of the
// first error; without one, with that of the first entry that was declined
// (2) or left listed (11); 0 when every entry went.
void HandleChosen(const PositionArray& positions, const PtrArray& chosen, const WCHAR* given) {
    EntryRun run;
    run.given = given;
    run.deleting = (gRun.options & OPT_DELETE) != 0;
    int32_t firstOutcome = EXIT_OK;
    bool failed = false;
    for (int32_t k = 0; k < chosen.Length() && !failed; ++k) {
        gRun.exitCode = EXIT_OK;
        failed = !HandleEntry(static_cast<const BinEntry*>(chosen.At(k)), positions.At(k), &run);
        if (!failed && firstOutcome == EXIT_OK) firstOutcome = gRun.exitCode;
    }
    if (!failed) gRun.exitCode = firstOutcome;  // else the error's code stands
    if (gRun.options & OPT_WHATIF) PrintCatalogue(MSG_WHATIF_DONE);
}

}  // namespace

bool CopyEntriesAt(const PositionArray& positions, PtrArray* copies) {
    for (int32_t k = 0; k < positions.Length(); ++k) {
        BinEntry* copy = DuplicateEntry(EntryAt(positions.At(k)));
        if (copy == nullptr || copies->Add(copy) < 0) {
            FreeEntry(copy);
            ReportNoMemory();
            return false;
        }
    }
    return true;
}

void FreeEntryCopies(PtrArray* copies) {
    for (int32_t k = 0; k < copies->Length(); ++k) FreeEntry(static_cast<BinEntry*>(copies->At(k)));
    copies->RemoveAll();
}

void RunEntryCommand() {
    int32_t count = gRun.bin.entries.Length();
    if (count == 0) {
        Fail(EXIT_NO_FILES, MSG_ERR_NO_FILES);
        return;
    }
    PositionArray positions;
    SelectResult selected = SelectEntryPositions(gRun.indexText, gRun.index, count, &positions);
    if (selected == SELECT_NO_MEMORY) {
        ReportNoMemory();
        return;
    }
    if (selected == SELECT_OUT_OF_RANGE) {
        PrintCatalogue(MSG_ERR_INDEX_RANGE, (int)count);
        gRun.exitCode = EXIT_INDEX_RANGE;
        return;
    }
    gRun.index = positions.At(0);
    PtrArray chosen;
    if (CopyEntriesAt(positions, &chosen)) {
        // The given path is kept apart: each entry's target is made from it.
        WCHAR* given = gRun.restorePath;
        gRun.restorePath = nullptr;
        HandleChosen(positions, chosen, given);
        MemFree(gRun.restorePath);
        gRun.restorePath = given;
    }
    FreeEntryCopies(&chosen);
}

bool ComposeRestoreTarget(const WCHAR* originalPath) {
    WCHAR* given = gRun.restorePath;
    if (given == nullptr) return true;
    // A folder typed with a trailing '/' is one with '\'.
    UseBackslashes(given);
    size_t length = WideLength(given);
    if (length == 0 || given[length - 1] != '\\') return true;
    // The last name follows either separator: a record written with '/'
    // (as earlier versions stored names typed so) keeps its own name too.
    const WCHAR* name = nullptr;
    for (const WCHAR* at = originalPath; *at != 0; ++at)
        if (IsPathSeparator(*at)) name = at + 1;
    if (name == nullptr) return true;
    size_t capacity = length + WideLength(name) + 1;
    WCHAR* target = static_cast<WCHAR*>(MemAlloc(capacity * sizeof(WCHAR)));
    if (target == nullptr) {
        ReportNoMemory();
        return false;
    }
    FormatWide(target, capacity, WIDE("%s%s"), given, name);
    MemFree(gRun.restorePath);
    gRun.restorePath = target;
    return true;
}

bool RestoreEntry(int32_t position) {
    BinEntry* entry = EntryAt(position);
    WCHAR* source = DataItemPath(entry);
    if (source == nullptr) return false;
    WCHAR target[PATH_FIELD_CHARS];
    if (!TakeRestoreTarget(source, target)) {
        MemFree(source);
        return false;
    }
    PrintCatalogue(MSG_RESTORING, source, target);
    bool moved = FsMoveFile(source, target) != 0;
    // A move to another drive copies the item, then removes the source; a
    // system that cannot remove it may still report success (Wine does),
    // which would leave the item in two places: the copy is taken back.
    if (moved && FsGetFileAttributes(source) != INVALID_FILE_ATTRIBUTES) {
        RemovePath(target);
        moved = false;
    }
    if (!moved) {
        PrintCatalogue(MSG_ERR_RESTORE_FAILED, target);
        gRun.exitCode = EXIT_RESTORE_FAILED;
        MemFree(source);
        return false;
    }
    if (!UnregisterEntry(position)) {
        PrintCatalogue(MSG_WARN_MOVED_NOT_UNREGISTERED);
        gRun.exitCode = EXIT_WARN_NOT_UNREGISTERED;
    }
    MemFree(source);
    return true;
}

bool DeleteEntry(int32_t position) {
    BinEntry* entry = EntryAt(position);
    WCHAR* source = DataItemPath(entry);
    if (source == nullptr) return false;
    PrintCatalogue(MSG_DELETING_ONE, source);
    bool deleted = true;
    if (RemovePath(source)) {
        if (!UnregisterEntry(position)) {
            PrintCatalogue(MSG_WARN_DELETED_NOT_UNREGISTERED);
            gRun.exitCode = EXIT_WARN_NOT_UNREGISTERED;
        }
    } else if (gRun.bin.format == FORMAT_ITEM_FILES &&
               FsPathMissing(source) &&
               UnregisterEntry(position)) {
        // The $R item was already gone: its $I file alone still listed it.
    } else {
        // A $R item that is still there keeps its $I file, so that the
        // data stays listed and reachable.
        PrintCatalogue(MSG_ERR_DELETE_FAILED, source);
        gRun.exitCode = EXIT_DELETE_FAILED;
        deleted = false;
    }
    MemFree(source);
    return deleted;
}

bool UnregisterEntry(int32_t position) {
    BinEntry* entry = EntryAt(position);
    bool removed = gRun.bin.format == FORMAT_ITEM_FILES ? UnregisterItemFiles(entry)
                                                        : UnregisterIndexRecord(entry);
    DropOriginalPath(entry);
    MemFree(entry->dataPath);
    entry->dataPath = nullptr;
    return removed;
}
