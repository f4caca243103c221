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
// in it. Its position, or -1 after a report: the entry has left the bin
// (another run restored or deleted it) or the bin cannot be read.
int32_t FindEntryAgain(int32_t position, bool deleting) {
    BinEntry* chosen = DuplicateEntry(EntryAt(position));
    if (chosen == nullptr) {
        ReportNoMemory();
        return -1;
    }
    int32_t found = -1;
    if (!LoadBinEntries(&gRun.bin, false)) {
        if (gRun.exitCode < EXIT_FIRST_ERROR) {
            PrintCatalogue(MSG_ERR_READ_FAILED, gRun.bin.path);
            gRun.exitCode = EXIT_READ_FAILED;
        }
    } else {
        for (int32_t i = 0; i < gRun.bin.entries.Length() && found < 0; ++i)
            if (SameEntry(EntryAt(i), chosen)) found = i;
        if (found < 0)
            Fail(deleting ? EXIT_DELETE_FAILED : EXIT_RESTORE_FAILED, MSG_ERR_ENTRY_CHANGED);
    }
    FreeEntry(chosen);
    return found;
}

}  // namespace

void RunEntryCommand() {
    int32_t count = gRun.bin.entries.Length();
    if (count == 0) {
        Fail(EXIT_NO_FILES, MSG_ERR_NO_FILES);
        return;
    }
    if (gRun.index <= 0 || gRun.index > count) {
        PrintCatalogue(MSG_ERR_INDEX_RANGE, (int)count);
        gRun.exitCode = EXIT_INDEX_RANGE;
        return;
    }
    gRun.index -= 1;
    int32_t position = gRun.index;
    BinEntry* entry = EntryAt(position);
    if (!PrintEntryDetail(entry, position)) return;
    bool deleting = (gRun.options & OPT_DELETE) != 0;
    if ((gRun.options & OPT_YES) == 0 &&
        !AskYesNo(MessageText(deleting ? MSG_ASK_DELETE : MSG_ASK_RESTORE))) {
        Fail(EXIT_CANCELED, MSG_CANCELED);
        return;
    }
    if (!TakeBinLock(&gRun.bin)) return;
    position = FindEntryAgain(position, deleting);
    if (position >= 0) {
        gRun.index = position;
        if (deleting) {
            if (DeleteEntry(position)) PrintCatalogue(MSG_DELETE_OK);
        } else if (PrepareRestoreTarget(EntryAt(position)) && RestoreEntry(position)) {
            PrintCatalogue(MSG_RESTORE_OK);
        }
    }
    UnlockBin(&gRun.bin);
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
    // A target the path buffer cannot hold whole is refused: cut short, it
    // would name another place.
    WCHAR target[PATH_FIELD_CHARS];
    const WCHAR* given = gRun.restorePath != nullptr ? gRun.restorePath : WIDE("");
    if (gRun.restorePath == nullptr || !WideCopy(target, PATH_FIELD_CHARS, given)) {
        PrintCatalogue(MSG_ERR_RESTORE_FAILED, given);
        gRun.exitCode = EXIT_RESTORE_FAILED;
        MemFree(source);
        return false;
    }
    // Where moving a link would move what it points to (Wine), the item is
    // not moved at all.
    if (TargetInsideBin(target) || (!FsHandlesLinksItself() && FsIsLink(source))) {
        PrintCatalogue(MSG_ERR_RESTORE_FAILED, target);
        gRun.exitCode = EXIT_RESTORE_FAILED;
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
