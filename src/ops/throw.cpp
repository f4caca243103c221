// /f: moving files and directories into the bin of their drive and
// registering each one, as an appended index record or as a $I file.
//
// The whole throw holds the bin's lock. The store is written first and the
// item moved last: a run killed in between leaves a record or $I file
// without its item, which claims nothing (its number stays taken). When a
// write or the move fails the store is put back as it was, so that no live
// record or $I file claims an item that is not in the bin.
#include <cstring>
#include <ctime>

#include "app/bins.h"
#include "app/messages.h"
#include "app/runstate.h"
#include "ops/ops.h"
#include "platform/arrays.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "store/store.h"

namespace {

const WCHAR ITEM_INDEX_PREFIX[] = WIDE("$I");
const int ITEM_NAME_CHARS = 8;
const int ITEM_PREFIX_MAX = 3;
const int RANDOM_DIGITS = 36;
// Random bytes at or above this are drawn again, so that every one of the
// 36 characters is equally likely.
const int RANDOM_BYTE_LIMIT = 252;
const uint32_t CLUSTER_SECTORS_QUIRK = 127;
const uint32_t CLUSTER_QUIRK_BYTES = 4096;

// What a run of /f carries from one name to the next.
struct ThrowProgress {
    bool countsSet = false;
    uint32_t entryCount = 0;  // live records the index counts
    uint64_t totalSize = 0;   // sum of their sizes
    bool numbersRead = false;
    RecordNumberSet numbers;  // record numbers in use, kept current
    bool codesRead = false;
    ItemCodeSet codes;        // $I/$R names in use, kept current
};

ThrowProgress sThrow;

// --- Codes of per-item names --------------------------------------------

const uint32_t ITEM_CODE_CHARS = 6;

int CodeDigit(WCHAR ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    ch = WideUpperAscii(ch);
    if (ch >= 'A' && ch <= 'Z') return ch - 'A' + 10;
    return -1;
}

// The code of a name "$I" or "$R" and six characters (either case), or
// false for any other name.
bool ItemCodeOf(const WCHAR* name, uint32_t* code) {
    if (name[0] != '$') return false;
    WCHAR kind = WideUpperAscii(name[1]);
    if (kind != 'I' && kind != 'R') return false;
    uint32_t value = 0;
    for (uint32_t i = 0; i < ITEM_CODE_CHARS; ++i) {
        int digit = CodeDigit(name[2 + i]);
        if (digit < 0) return false;
        value = value * RANDOM_DIGITS + (uint32_t)digit;
    }
    *code = value;
    return true;
}

bool HasItemCode(const ItemCodeSet* set, uint32_t code) {
    for (int32_t i = 0; i < set->codes.Length(); ++i)
        if (set->codes.At(i) == code) return true;
    return false;
}

bool AddItemCode(ItemCodeSet* set, uint32_t code) { return set->codes.Add(code) >= 0; }

void FreeItemCodes(ItemCodeSet* set) { *set = ItemCodeSet(); }

enum ReadResult { READ_OK, READ_NO_MEMORY, READ_FAILED };

// One search of the bin folder for "$*"; the short names count too, as
// the system matches names against them. A search that fails part way
// fails: a name it missed could be drawn again.
ReadResult ReadItemCodes(ItemCodeSet* set) {
    WCHAR pattern[FULL_PATH_CHARS];
    if (FormatWide(pattern, FULL_PATH_CHARS, WIDE("%s\\$*"), gRun.bin.path) < 0) return READ_FAILED;
    FolderWalk walk;
    FolderStep step = FsFirstInFolder(&walk, pattern);
    bool ok = true;
    for (; step == FOLDER_ENTRY; step = FsNextInFolder(&walk)) {
        uint32_t code = 0;
        if (ItemCodeOf(walk.found.cFileName, &code)) ok = AddItemCode(set, code);
        if (ok && ItemCodeOf(walk.found.cAlternateFileName, &code)) ok = AddItemCode(set, code);
        if (!ok) break;
    }
    FsEndFolderWalk(&walk);
    return !ok ? READ_NO_MEMORY : step == FOLDER_FAILED ? READ_FAILED : READ_OK;
}

void ResetProgress() {
    FreeRecordNumberSet(&sThrow.numbers);
    sThrow.numbers = RecordNumberSet();
    sThrow.numbersRead = false;
    FreeItemCodes(&sThrow.codes);
    sThrow.codesRead = false;
    sThrow.countsSet = false;
    sThrow.entryCount = 0;
    sThrow.totalSize = 0;
}

// The exit code alone; the message is printed where the failure is met.
void SetExitCode(int32_t code) { gRun.exitCode = code; }

void ReportInvalid(const WCHAR* path) {
    PrintCatalogue(MSG_ERR_FILE_INVALID, path);
    SetExitCode(EXIT_FILE_INVALID);
}

void ReportReadFailed() {
    PrintCatalogue(MSG_ERR_READ_FAILED, gRun.bin.path);
    SetExitCode(EXIT_READ_FAILED);
}

// "X:\..." or "X:/...": the only form an item can be thrown from.
bool IsDrivePath(const WCHAR* path) {
    return IsDriveLetter(path[0]) && path[1] == ':' && IsPathSeparator(path[2]);
}

// The text after the last "." of the item's own name, or null.
const WCHAR* ExtensionOf(const WCHAR* path) {
    const WCHAR* name = path;
    for (const WCHAR* at = path; *at != 0; ++at)
        if (IsPathSeparator(*at)) name = at + 1;
    const WCHAR* dot = WideFindLast(name, '.');
    return dot != nullptr ? dot + 1 : nullptr;
}

// Length of a path without the separators at its end.
size_t TrimmedLength(const WCHAR* path) {
    size_t length = WideLength(path);
    while (length > 0 && IsPathSeparator(path[length - 1])) --length;
    return length;
}

// Case-insensitive (A-Z) comparison of a prefix; either separator matches
// either.
bool SamePathPrefix(const WCHAR* a, const WCHAR* b, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (IsPathSeparator(a[i]) && IsPathSeparator(b[i])) continue;
        if (WideLowerAscii(a[i]) != WideLowerAscii(b[i])) return false;
    }
    return true;
}

// True when `path` is the bin folder, a folder that holds it, or anything
// inside it (its index, desktop.ini, $I and $R files, data items): moving
// any of them would damage the store.
bool TouchesBin(const WCHAR* path, const WCHAR* binFull) {
    size_t pathLength = TrimmedLength(path), binLength = TrimmedLength(binFull);
    size_t shorter = pathLength < binLength ? pathLength : binLength;
    if (!SamePathPrefix(path, binFull, shorter)) return false;
    if (pathLength == binLength) return true;
    const WCHAR* longer = pathLength < binLength ? binFull : path;
    return IsPathSeparator(longer[shorter]);
}

// True when the item is the bin folder, lies inside it or holds it, by
// identity: "T:\Recycled.", "T:\\Recycled", "T:\x\..\Recycled", an 8.3
// name of the bin or another case of its name all reach the same folder.
bool TouchesBinFolder(const WCHAR* path, const WCHAR* binFull, const FileIdentity& bin) {
    if (PathWithin(path, false, bin)) return true;
    // Only a folder can hold the bin: for a file the walk up from the bin,
    // an identity per folder (under Wine most of a throw's time), is spared.
    FileIdentity item;
    return FsGetFileIdentity(path, false, &item) && (item.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           PathWithin(binFull, true, item);
}

// A full path the store can record and give back: short enough to be
// kept whole, and not a part of the bin itself.
bool AcceptItem(const WCHAR* path, const WCHAR* binFull, const FileIdentity& bin) {
    // Where moving a link would move what it points to (Wine), a link is
    // not thrown: that could pull a file from anywhere into the bin.
    if (WideLength(path) >= (size_t)FULL_PATH_CHARS || TouchesBin(path, binFull) ||
        TouchesBinFolder(path, binFull, bin) || (!FsHandlesLinksItself() && FsIsLink(path))) {
        ReportInvalid(path);
        return false;
    }
    return true;
}

// Whether a name of `nameLength` characters, joined to the bin's full path
// by a separator, still fits a path buffer.
bool FitsInBin(const WCHAR* binFull, size_t nameLength) {
    return WideLength(binFull) + 1 + nameLength < (size_t)FULL_PATH_CHARS;
}

uint64_t DeletionTimeNow() { return UnixTimeToFileTime((int64_t)std::time(nullptr)); }

// The characters of a name from the system's random source: names that
// another run, started in the same second, cannot draw as well, and that
// nobody can foresee to plant a link under. False when the source fails.
bool DrawNameChars(WCHAR* chars, int count) {
    int filled = 0;
    while (filled < count) {
        uint8_t bytes[16];
        if (!FsRandomBytes(bytes, sizeof bytes)) return false;
        for (size_t i = 0; i < sizeof bytes && filled < count; ++i) {
            if (bytes[i] >= RANDOM_BYTE_LIMIT) continue;
            int value = bytes[i] % RANDOM_DIGITS;
            chars[filled++] = (WCHAR)(value < 10 ? '0' + value : 'A' + value - 10);
        }
    }
    return true;
}

bool PathExists(const WCHAR* path) { return FsGetFileAttributes(path) != INVALID_FILE_ATTRIBUTES; }

// The position of the character after "$" in the last component of a name
// that MakeItemIndexName made.
size_t ItemMarkerPosition(const WCHAR* name) {
    size_t start = 0;
    for (size_t i = 0; name[i] != 0; ++i)
        if (name[i] == '\\') start = i + 1;
    return start + 1;
}

enum ItemOutcome {
    ITEM_DONE,     // this item is finished, thrown or not
    ITEM_STOP,     // the rest of the name is skipped
};

// --- The per-item layout ---------------------------------------------------

// Moves an item into the bin. A bin on another file system gets a copy and
// the source is removed; a system that cannot remove it may still report
// success (Wine does), which would leave the item in two places: the copy
// in the bin is taken back and the move counts as failed.
bool MovedWhole(const WCHAR* path, const WCHAR* target) {
    if (!FsMoveFile(path, target)) return false;
    if (FsGetFileAttributes(path) == INVALID_FILE_ATTRIBUTES) return true;
    RemovePath(target);
    FsSetLastError(ERROR_ACCESS_DENIED);
    return false;
}

enum CreateOutcome { INDEX_CREATED, INDEX_NAME_TAKEN, INDEX_NOT_CREATED };

// Writes the $I file under a name that no file had. A short $I file would
// hide the item from every reader, so one that is not written whole is
// removed again; it is ours, made just now, so that touches nothing else.
CreateOutcome CreateItemIndex(const WCHAR* indexName, const uint8_t* bytes) {
    FILE* stream = FsCreateNewFile(indexName);
    if (stream == nullptr) {
        DWORD error = FsLastError();
        return (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) ? INDEX_NAME_TAKEN
                                                                             : INDEX_NOT_CREATED;
    }
    bool written = FsWrite(bytes, ITEM_V1_SIZE, stream);
    if (!FsClose(stream)) written = false;
    if (written) return INDEX_CREATED;
    FsDeleteFile(indexName);
    return INDEX_NOT_CREATED;
}

ItemOutcome StopCreateFailed() {
    PrintCatalogue(MSG_ERR_CREATE_FAILED, gRun.bin.path);
    SetExitCode(EXIT_CREATE_FAILED);
    return ITEM_STOP;
}

bool IsNameTaken(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

// One attempt under one new name: the $I file first, then the item moved
// to the $R name. ATTEMPT_RETRY when the name turned out to be taken.
enum AttemptOutcome { ATTEMPT_DONE, ATTEMPT_RETRY, ATTEMPT_STOP };

AttemptOutcome ThrowUnderName(const WCHAR* path, const WCHAR* indexName, const uint8_t* bytes) {
    CreateOutcome created = CreateItemIndex(indexName, bytes);
    if (created == INDEX_NAME_TAKEN) return ATTEMPT_RETRY;
    if (created == INDEX_NOT_CREATED) {
        StopCreateFailed();
        return ATTEMPT_STOP;
    }
    WCHAR* dataName = WideDuplicate(indexName);
    if (dataName == nullptr) {
        FsDeleteFile(indexName);
        ReportNoMemory();
        return ATTEMPT_STOP;
    }
    dataName[ItemMarkerPosition(indexName)] = 'R';
    bool moved = MovedWhole(path, dataName);
    DWORD error = FsLastError();
    MemFree(dataName);
    if (moved) return ATTEMPT_DONE;
    // Without its item the $I file would list a thing the bin lacks.
    FsDeleteFile(indexName);
    if (IsNameTaken(error)) return ATTEMPT_RETRY;  // an $R of that name: another name
    PrintCatalogue(MSG_ERR_UNKNOWN);
    SetExitCode(EXIT_UNKNOWN);
    return ATTEMPT_DONE;
}

// Whether the $I and $R names of an item fit a path buffer in the bin;
// false after a report.
bool ItemNameFits(const WCHAR* path, const WCHAR* binFull) {
    const WCHAR* extension = ExtensionOf(path);
    size_t nameLength = ITEM_NAME_CHARS + (extension != nullptr ? 1 + WideLength(extension) : 0);
    if (FitsInBin(binFull, nameLength)) return true;
    ReportInvalid(path);
    return false;
}

ItemOutcome ThrowAsItemFiles(const WCHAR* path, const WCHAR* binFull) {
    if (!sThrow.codesRead) {
        ReadResult read = ReadItemCodes(&sThrow.codes);
        if (read != READ_OK) {
            FreeItemCodes(&sThrow.codes);
            if (read == READ_NO_MEMORY)
                ReportNoMemory();
            else
                ReportReadFailed();
            return ITEM_STOP;
        }
        sThrow.codesRead = true;
    }
    PrintMessage(WIDE("%s\n"), path);
    const WCHAR* extension = ExtensionOf(path);
    if (!ItemNameFits(path, binFull)) return ITEM_DONE;

    ItemInfoRecord record;
    std::memset(&record, 0, sizeof record);
    record.version = 1;
    record.fileSize = FsGetFileSize(path);
    record.deletionTime = DeletionTimeNow();
    CopyWideTerminated(record.originalPath, PATH_FIELD_CHARS, path);
    uint8_t bytes[ITEM_V1_SIZE];
    EncodeItemInfo(&record, bytes);

    for (int attempt = 0; attempt < MAX_NAME_ATTEMPTS; ++attempt) {
        ItemNameResult result = ITEM_NAME_OK;
        WCHAR* indexName =
            MakeItemIndexName(gRun.bin.path, ITEM_INDEX_PREFIX, extension, &sThrow.codes, &result);
        switch (result) {
            case ITEM_NAME_OK:
                break;
            case ITEM_NAME_TOO_LONG:
                ReportInvalid(path);
                return ITEM_DONE;
            case ITEM_NAME_NONE_FREE:
            case ITEM_NAME_NO_RANDOM:
                return StopCreateFailed();
            case ITEM_NAME_NO_MEMORY:
                ReportNoMemory();
                return ITEM_STOP;
        }
        // Taken from now on, whatever becomes of the item.
        uint32_t code = 0;
        if (ItemCodeOf(indexName + ItemMarkerPosition(indexName) - 1, &code) &&
            !AddItemCode(&sThrow.codes, code)) {
            MemFree(indexName);
            ReportNoMemory();
            return ITEM_STOP;
        }
        AttemptOutcome outcome = ThrowUnderName(path, indexName, bytes);
        MemFree(indexName);
        if (outcome == ATTEMPT_DONE) return ITEM_DONE;
        if (outcome == ATTEMPT_STOP) return ITEM_STOP;
    }
    return StopCreateFailed();
}

// --- The index layouts -----------------------------------------------------

// The running counts start from the entries loaded under the lock and the
// record numbers from one reading of the bin folder and the index; both are
// then kept current for the rest of the run.
bool StartIndexRun() {
    if (!sThrow.countsSet) {
        sThrow.entryCount = (uint32_t)gRun.bin.entries.Length();
        sThrow.totalSize = 0;
        for (int32_t i = 0; i < gRun.bin.entries.Length(); ++i)
            sThrow.totalSize += static_cast<const BinEntry*>(gRun.bin.entries.At(i))->size;
        sThrow.countsSet = true;
    }
    if (!sThrow.numbersRead) {
        StoreStatus status = STORE_OK;
        if (!BuildRecordNumberSet(&gRun.bin, &sThrow.numbers, nullptr, &status)) {
            ReportStoreFailure(status, gRun.bin.path);
            return false;
        }
        sThrow.numbersRead = true;
    }
    return true;
}

// The paths of a new record. Records without a UTF-16 path hold the ANSI
// path alone, so a path the code page cannot carry exactly is refused:
// stored with '#' it would be restored under another name.
bool SetRecordPaths(IndexRecord* record, uint32_t recordSize, const WCHAR* path) {
    std::memset(record, 0, sizeof *record);
    if (WideToAnsiBuffer(record->ansiPath, (int)PATH_FIELD_CHARS, path) == 0) return false;
    if (recordSize < RECORD_SIZE_INFO2 && !IsExactAnsi(path, record->ansiPath)) return false;
    CopyWideTerminated(record->widePath, PATH_FIELD_CHARS, path);
    return true;
}

// The data item name of a record numbered `number` and the record's paths;
// false after a report when either cannot hold the item's path whole (the
// ANSI field too: a record whose first byte is 0 reads as removed, and a
// cut path cannot be restored).
bool NameRecord(const WCHAR* path, const WCHAR* binFull, uint32_t number, uint32_t recordSize,
                WCHAR dataName[FULL_PATH_CHARS], IndexRecord* fields) {
    WCHAR letter = WideLowerAscii(path[0]);
    const WCHAR* extension = ExtensionOf(path);
    int length = extension != nullptr
                     ? FormatWide(dataName, FULL_PATH_CHARS, WIDE("%s\\D%c%lu.%s"), gRun.bin.path,
                                  (int)letter, (unsigned long)number, extension)
                     : FormatWide(dataName, FULL_PATH_CHARS, WIDE("%s\\D%c%lu"), gRun.bin.path,
                                  (int)letter, (unsigned long)number);
    if (length >= 0 && FitsInBin(binFull, (size_t)length - WideLength(gRun.bin.path) - 1) &&
        SetRecordPaths(fields, recordSize, path))
        return true;
    ReportInvalid(path);
    return false;
}

ItemOutcome ThrowAsRecord(const WCHAR* path, const WCHAR* binFull) {
    if (!StartIndexRun()) return ITEM_STOP;
    FILE* index = gRun.bin.lock;  // the index itself, open for update
    IndexHeader header;
    uint8_t headerBefore[HEADER_SIZE];
    if (index == nullptr || !ReadIndexHeaderAt(index, headerBefore, &header)) {
        ReportReadFailed();
        return ITEM_STOP;
    }
    uint32_t number = FirstFreeRecordNumber(&sThrow.numbers, false);
    WCHAR letter = WideLowerAscii(path[0]);
    WCHAR dataName[FULL_PATH_CHARS];
    IndexRecord fields;
    if (!NameRecord(path, binFull, number, header.recordSize, dataName, &fields)) return ITEM_DONE;

    uint8_t* record = static_cast<uint8_t*>(MemAlloc(header.recordSize));
    if (record == nullptr) {
        ReportNoMemory();
        return ITEM_STOP;
    }
    uint64_t size = ClusterRoundedSize(path);
    fields.recordNumber = number;
    fields.driveNumber = (uint32_t)(letter - 'a');
    fields.deletionTime = DeletionTimeNow();
    fields.size = SaturatedSize(size);
    EncodeIndexRecord(&fields, header.recordSize, record);
    header.entryCount = sThrow.entryCount + 1;
    header.nextRecordNumber = FirstFreeRecordNumber(&sThrow.numbers, true);
    header.totalSize = SaturatedSize(sThrow.totalSize + size);
    uint8_t headerBytes[HEADER_SIZE];
    EncodeIndexHeader(&header, headerBytes);

    PrintMessage(WIDE("%s\n"), path);
    IndexAppend append;
    AppendResult appended = AppendIndexRecord(index, record, header.recordSize, headerBefore,
                                              headerBytes, &append);
    MemFree(record);
    if (appended == APPEND_NO_MEMORY) {
        ReportNoMemory();
        return ITEM_STOP;
    }
    if (appended == APPEND_FAILED) return StopCreateFailed();

    // Taken from now on: if the record cannot be taken back below, it stays
    // live and must keep its number.
    if (!MarkRecordNumberUsed(&sThrow.numbers, number)) {
        ReportNoMemory();
        WithdrawIndexRecord(index, &append);
        FreeIndexAppend(&append);
        return ITEM_STOP;
    }
    ItemOutcome outcome = ITEM_DONE;
    if (MovedWhole(path, dataName)) {
        sThrow.entryCount += 1;
        sThrow.totalSize += size;
    } else {
        WithdrawIndexRecord(index, &append);
        PrintCatalogue(MSG_ERR_UNKNOWN);
        SetExitCode(EXIT_UNKNOWN);
    }
    FreeIndexAppend(&append);
    return outcome;
}

// --- /whatif ---------------------------------------------------------------

// What throwing one accepted item would do, with the refusals the store
// would give it, read without the lock and without writing. Each item
// takes a number, as the real run's would.
ItemOutcome ForeseeItem(const WCHAR* path, const WCHAR* binFull) {
    if (gRun.bin.format == FORMAT_ITEM_FILES) {
        if (ItemNameFits(path, binFull)) PrintCatalogue(MSG_WHATIF_THROW, path);
        return ITEM_DONE;
    }
    if (!StartIndexRun()) return ITEM_STOP;
    FILE* index = OpenIndexFile(&gRun.bin, WIDE("rb"));
    uint8_t headerBytes[HEADER_SIZE];
    IndexHeader header;
    bool read = index != nullptr && ReadIndexHeaderAt(index, headerBytes, &header);
    if (index != nullptr) FsClose(index);
    if (!read) {
        ReportReadFailed();
        return ITEM_STOP;
    }
    uint32_t number = FirstFreeRecordNumber(&sThrow.numbers, false);
    WCHAR dataName[FULL_PATH_CHARS];
    IndexRecord fields;
    if (!NameRecord(path, binFull, number, header.recordSize, dataName, &fields)) return ITEM_DONE;
    if (!MarkRecordNumberUsed(&sThrow.numbers, number)) {
        ReportNoMemory();
        return ITEM_STOP;
    }
    PrintCatalogue(MSG_WHATIF_THROW, path);
    return ITEM_DONE;
}

// --- One name --------------------------------------------------------------

// Every match of a pattern, as full paths in the order of the search; false
// (reported) when nothing or only "." and ".." matched, or memory ran out.
bool CollectMatches(const WCHAR* name, StringArray* matches) {
    FolderWalk walk;
    FolderStep step = FsFirstInFolder(&walk, name);
    // The folder part keeps the separator before the pattern; the matches'
    // long names are joined to it.
    // (The name is a drive path shorter than a path buffer.)
    size_t folderLength = 0;
    for (size_t i = 0; name[i] != 0; ++i)
        if (IsPathSeparator(name[i])) folderLength = i + 1;
    WCHAR joined[2 * FULL_PATH_CHARS];
    std::memcpy(joined, name, folderLength * sizeof(WCHAR));
    for (; step == FOLDER_ENTRY; step = FsNextInFolder(&walk)) {
        CopyWideTerminated(joined + folderLength, MAX_PATH, walk.found.cFileName);
        if (matches->Add(joined) < 0) {
            FsEndFolderWalk(&walk);
            ReportNoMemory();
            return false;
        }
    }
    FsEndFolderWalk(&walk);
    // Nothing by that name, or a search that fails part way and would throw
    // only some of the matches.
    if (step != FOLDER_DONE) {
        ReportInvalid(name);
        return false;
    }
    if (matches->Length() == 0) {
        PrintCatalogue(MSG_ERR_NOTHING_TO_THROW);
        SetExitCode(EXIT_NOTHING_TO_THROW);
        return false;
    }
    return true;
}

}  // namespace

// /whatif: every name checked and every item it would throw shown, from the
// bin as it is now; nothing is asked, locked or changed.
void ForeseeThrow() {
    ResetProgress();
    if (LoadBinEntries(&gRun.bin, true)) {
        for (int32_t i = 0; i < gRun.throwList.Length(); ++i) ThrowOne(gRun.throwList.At(i));
    } else if (gRun.exitCode < EXIT_FIRST_ERROR) {
        ReportReadFailed();
    }
    PrintCatalogue(MSG_WHATIF_DONE);
    ResetProgress();
}

uint64_t ClusterRoundedSize(const WCHAR* path) {
    uint64_t size = FsGetFileSize(path);
    if (size == 0) return 0;
    if (!IsDriveLetter(path[0])) return size;
    char root[4] = {(char)WideLowerAscii(path[0]), ':', '\\', 0};
    DWORD sectorsPerCluster = 0, bytesPerSector = 0;
    // Without the drive's geometry the plain size is the best figure.
    if (!FsGetDiskFreeSpace(root, &sectorsPerCluster, &bytesPerSector)) return size;
    uint64_t cluster = sectorsPerCluster == CLUSTER_SECTORS_QUIRK
                           ? CLUSTER_QUIRK_BYTES
                           : (uint64_t)bytesPerSector * sectorsPerCluster;
    if (cluster == 0) return size;
    return (size / cluster + (size % cluster != 0 ? 1 : 0)) * cluster;
}

WCHAR* MakeItemIndexName(const WCHAR* folder, const WCHAR* prefix, const WCHAR* extension,
                         const ItemCodeSet* inUse, ItemNameResult* result) {
    WCHAR chars[ITEM_NAME_CHARS + 1];
    int fixed = 0;
    while (fixed < ITEM_PREFIX_MAX && prefix[fixed] != 0) {
        chars[fixed] = prefix[fixed];
        ++fixed;
    }
    size_t folderLength = WideLength(folder);
    const WCHAR* separator = folderLength > 0 && folder[folderLength - 1] == '\\' ? WIDE("") : WIDE("\\");
    WCHAR candidate[FULL_PATH_CHARS];
    for (int attempt = 0; attempt < MAX_NAME_ATTEMPTS; ++attempt) {
        if (!DrawNameChars(chars + fixed, ITEM_NAME_CHARS - fixed)) {
            *result = ITEM_NAME_NO_RANDOM;
            return nullptr;
        }
        chars[ITEM_NAME_CHARS] = 0;
        int length = extension != nullptr
                         ? FormatWide(candidate, FULL_PATH_CHARS, WIDE("%s%s%s.%s"), folder,
                                      separator, chars, extension)
                         : FormatWide(candidate, FULL_PATH_CHARS, WIDE("%s%s%s"), folder,
                                      separator, chars);
        if (length < 0) {
            *result = ITEM_NAME_TOO_LONG;
            return nullptr;
        }
        // The data item's name must be free as well: an orphan $R of the
        // same name would be taken for the new item's data.
        size_t marker = folderLength + WideLength(separator) + 1;
        uint32_t code = 0;
        bool taken;
        if (inUse != nullptr && ItemCodeOf(candidate + marker - 1, &code)) {
            taken = HasItemCode(inUse, code);
        } else {
            taken = PathExists(candidate);
            if (!taken && fixed >= 2 && prefix[0] == '$') {
                WCHAR saved = candidate[marker];
                candidate[marker] = 'R';
                taken = PathExists(candidate);
                candidate[marker] = saved;
            }
        }
        if (!taken) {
            WCHAR* name = WideDuplicate(candidate);
            *result = name != nullptr ? ITEM_NAME_OK : ITEM_NAME_NO_MEMORY;
            return name;
        }
    }
    *result = ITEM_NAME_NONE_FREE;
    return nullptr;
}

bool ThrowOne(const WCHAR* name) {
    WCHAR* binFull = MakeFullPath(gRun.bin.path);
    if (binFull == nullptr) {
        ReportNoMemory();
        return false;
    }
    // The bin's drive is that of its full path, so that a bin given as a
    // relative path is checked by the drive it lies on.
    if (WideLowerAscii(binFull[0]) != WideLowerAscii(name[0])) {
        PrintCatalogue(MSG_ERR_DRIVE_MISMATCH, (int)WideUpperAscii(name[0]),
                       (int)WideUpperAscii(binFull[0]));
        SetExitCode(EXIT_DRIVE_MISMATCH);
        MemFree(binFull);
        return false;
    }
    if (!IsDrivePath(name) || WideLength(name) >= (size_t)FULL_PATH_CHARS) {
        ReportInvalid(name);
        MemFree(binFull);
        return false;
    }

    FileIdentity bin;
    if (!FsGetFileIdentity(binFull, true, &bin)) {
        ReportReadFailed();
        MemFree(binFull);
        return false;
    }
    StringArray matches;
    if (!CollectMatches(name, &matches)) {
        MemFree(binFull);
        return false;
    }
    bool itemFiles = gRun.bin.format == FORMAT_ITEM_FILES;
    bool whatIf = (gRun.options & OPT_WHATIF) != 0;
    for (int32_t i = 0; i < matches.Length(); ++i) {
        const WCHAR* path = matches.At(i);
        if (!AcceptItem(path, binFull, bin)) continue;
        ItemOutcome outcome = whatIf      ? ForeseeItem(path, binFull)
                              : itemFiles ? ThrowAsItemFiles(path, binFull)
                                          : ThrowAsRecord(path, binFull);
        if (outcome == ITEM_STOP) break;
    }
    MemFree(binFull);

    if (gRun.exitCode >= EXIT_FIRST_ERROR) return false;
    if (whatIf) return true;
    PrintCatalogue(MSG_THROW_OK);
    return true;
}

void ThrowFiles() {
    ResetProgress();
    for (int32_t i = 0; i < gRun.throwList.Length(); ++i) {
        WCHAR* full = MakeFullPath(gRun.throwList.At(i));
        bool stored = full != nullptr && gRun.throwList.SetAt(i, full);
        MemFree(full);
        if (!stored) {
            ReportNoMemory();
            return;
        }
        if (!(gRun.options & (OPT_YES | OPT_WHATIF)))
            PrintMessage(WIDE("%d: %s\n"), (int)(i + 1), gRun.throwList.At(i));
    }
    if (gRun.options & OPT_WHATIF) {
        ForeseeThrow();
        return;
    }
    if (!(gRun.options & OPT_YES) && !AskYesNo(MessageText(MSG_ASK_THROW))) {
        PrintCatalogue(MSG_CANCELED);
        SetExitCode(EXIT_CANCELED);
        return;
    }
    // The counts written and the numbers taken come from what is read under
    // the lock; a bin that cannot be read whole is not written.
    if (!TakeBinLock(&gRun.bin)) return;
    if (LoadBinEntries(&gRun.bin, true)) {
        for (int32_t i = 0; i < gRun.throwList.Length(); ++i) ThrowOne(gRun.throwList.At(i));
    } else if (gRun.exitCode < EXIT_FIRST_ERROR) {
        ReportReadFailed();
    }
    UnlockBin(&gRun.bin);
    ResetProgress();
}
