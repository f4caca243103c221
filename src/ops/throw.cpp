// /f: moving files and directories into the bin of their drive and
// registering each one, as an appended index record or as a $I file.
//
// The store is written first and the item moved last. When the move fails
// the store is put back, so that no live record or $I file ever claims an
// item that is not in the bin.
#include <cstdlib>
#include <cstring>
#include <ctime>

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
const int RANDOM_RANGE = 32768;
const uint32_t CLUSTER_SECTORS_QUIRK = 127;
const uint32_t CLUSTER_QUIRK_BYTES = 4096;

// What a run of /f carries from one name to the next.
struct ThrowProgress {
    bool countsSet = false;
    uint32_t entryCount = 0;  // live records the index counts
    uint32_t totalSize = 0;   // sum of their sizes
    bool numbersRead = false;
    RecordNumberSet numbers;  // record numbers in use, kept current
    bool codesRead = false;
    ItemCodeSet codes;        // $I/$R names in use, kept current
};

ThrowProgress gThrow;

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
    for (uint32_t i = 0; i < set->count; ++i)
        if (set->codes[i] == code) return true;
    return false;
}

bool AddItemCode(ItemCodeSet* set, uint32_t code) {
    if (set->count == set->capacity) {
        uint32_t capacity = set->capacity < 64 ? 64 : set->capacity * 2;
        void* grown = MemRealloc(set->codes, sizeof(uint32_t) * (size_t)capacity);
        if (grown == nullptr) return false;
        set->codes = static_cast<uint32_t*>(grown);
        set->capacity = capacity;
    }
    set->codes[set->count++] = code;
    return true;
}

void FreeItemCodes(ItemCodeSet* set) {
    MemFree(set->codes);
    *set = ItemCodeSet();
}

// One search of the bin folder for "$*"; the short names count too, as
// the system matches names against them. False when memory runs out.
bool ReadItemCodes(ItemCodeSet* set) {
    WCHAR pattern[FULL_PATH_CHARS];
    if (FormatWide(pattern, FULL_PATH_CHARS, WIDE("%s\\$*"), gRun.binPath) < 0) return true;
    WIN32_FIND_DATAW data;
    HANDLE search = FsFindFirstFile(pattern, &data);
    if (search == INVALID_HANDLE_VALUE) return true;
    bool ok = true;
    do {
        uint32_t code = 0;
        if (ItemCodeOf(data.cFileName, &code)) ok = AddItemCode(set, code);
        if (ok && ItemCodeOf(data.cAlternateFileName, &code)) ok = AddItemCode(set, code);
    } while (ok && FsFindNextFile(search, &data));
    FsFindClose(search);
    return ok;
}

void ResetProgress() {
    FreeRecordNumberSet(&gThrow.numbers);
    gThrow.numbers = RecordNumberSet();
    gThrow.numbersRead = false;
    FreeItemCodes(&gThrow.codes);
    gThrow.codesRead = false;
    gThrow.countsSet = false;
    gThrow.entryCount = 0;
    gThrow.totalSize = 0;
}

void Fail(int32_t code) { gRun.exitCode = code; }

void ReportInvalid(const WCHAR* path) {
    PrintCatalogue(MSG_ERR_FILE_INVALID, path);
    Fail(EXIT_FILE_INVALID);
}

void ReportReadFailed() {
    PrintCatalogue(MSG_ERR_READ_FAILED, gRun.binPath);
    Fail(EXIT_READ_FAILED);
}

bool IsDriveLetter(WCHAR ch) { return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'); }

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

// A full path the store can record and give back: short enough to be
// kept whole, and not a part of the bin itself.
bool AcceptItem(const WCHAR* path, const WCHAR* binFull) {
    if (WideLength(path) >= (size_t)FULL_PATH_CHARS || TouchesBin(path, binFull)) {
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

WCHAR RandomNameChar() {
    // The Microsoft runtime's rand() gives 15 bits; other runtimes are cut
    // to the same range so that every build draws the same way.
    int value = (std::rand() % RANDOM_RANGE) * RANDOM_DIGITS / RANDOM_RANGE;
    return (WCHAR)(value < 10 ? '0' + value : 'A' + value - 10);
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

ItemOutcome ThrowAsItemFiles(const WCHAR* path, const WCHAR* binFull) {
    if (!gThrow.codesRead) {
        if (!ReadItemCodes(&gThrow.codes)) {
            FreeItemCodes(&gThrow.codes);
            ReportNoMemory();
            return ITEM_STOP;
        }
        gThrow.codesRead = true;
    }
    PrintMessage(WIDE("%s\n"), path);
    const WCHAR* extension = ExtensionOf(path);
    size_t nameLength = ITEM_NAME_CHARS + (extension != nullptr ? 1 + WideLength(extension) : 0);
    ItemNameResult result = ITEM_NAME_OK;
    WCHAR* indexName = nullptr;
    if (FitsInBin(binFull, nameLength))
        indexName = MakeItemIndexName(gRun.binPath, ITEM_INDEX_PREFIX, extension, &gThrow.codes, &result);
    else
        result = ITEM_NAME_TOO_LONG;
    switch (result) {
        case ITEM_NAME_OK:
            break;
        case ITEM_NAME_TOO_LONG:
            ReportInvalid(path);
            return ITEM_DONE;
        case ITEM_NAME_NONE_FREE:
            PrintCatalogue(MSG_ERR_CREATE_FAILED, gRun.binPath);
            Fail(EXIT_CREATE_FAILED);
            return ITEM_STOP;
        case ITEM_NAME_NO_MEMORY:
            ReportNoMemory();
            return ITEM_STOP;
    }

    ItemInfoRecord record;
    std::memset(&record, 0, sizeof record);
    record.version = 1;
    record.fileSize = FsGetFileSize(path);
    record.deletionTime = DeletionTimeNow();
    CopyWideTerminated(record.originalPath, PATH_FIELD_CHARS, path);
    uint8_t bytes[ITEM_INFO_SIZE];
    EncodeItemInfo(&record, bytes);

    // Taken from now on, whatever becomes of the item.
    uint32_t code = 0;
    size_t marker = ItemMarkerPosition(indexName);
    if (ItemCodeOf(indexName + marker - 1, &code) && !AddItemCode(&gThrow.codes, code)) {
        MemFree(indexName);
        ReportNoMemory();
        return ITEM_STOP;
    }

    FILE* stream = FsOpenFile(indexName, WIDE("wb"));
    bool written = stream != nullptr && FsWrite(bytes, sizeof bytes, stream);
    if (stream != nullptr && !FsClose(stream)) written = false;
    if (!written) {
        // A short $I file would hide the item from every reader.
        if (stream != nullptr) FsDeleteFile(indexName);
        MemFree(indexName);
        PrintCatalogue(MSG_ERR_CREATE_FAILED, gRun.binPath);
        Fail(EXIT_CREATE_FAILED);
        return ITEM_STOP;
    }

    WCHAR* dataName = WideDuplicate(indexName);
    if (dataName == nullptr) {
        FsDeleteFile(indexName);
        MemFree(indexName);
        ReportNoMemory();
        return ITEM_STOP;
    }
    dataName[marker] = 'R';
    if (!FsMoveFile(path, dataName)) {
        // Without its item the $I file would list a thing the bin lacks.
        FsDeleteFile(indexName);
        PrintCatalogue(MSG_ERR_UNKNOWN);
        Fail(EXIT_UNKNOWN);
    }
    MemFree(dataName);
    MemFree(indexName);
    return ITEM_DONE;
}

// --- The index layouts -----------------------------------------------------

// The running counts start from the loaded entries and the record numbers
// from one reading of the bin folder; both are then kept current for the
// rest of the run.
bool StartIndexRun() {
    if (!gThrow.countsSet) {
        gThrow.entryCount = (uint32_t)gRun.entries.Length();
        gThrow.totalSize = 0;
        for (int32_t i = 0; i < gRun.entries.Length(); ++i)
            gThrow.totalSize += static_cast<const BinEntry*>(gRun.entries.At(i))->size;
        gThrow.countsSet = true;
    }
    if (!gThrow.numbersRead) {
        if (!BuildRecordNumberSet(&gThrow.numbers)) return false;  // reported
        gThrow.numbersRead = true;
    }
    return true;
}

// Writes back the 20 header bytes as they were before this item.
void PutHeaderBack(FILE* stream, const uint8_t* before) {
    if (FsSeek(stream, 0, SEEK_SET)) FsWrite(before, INDEX_HEADER_SIZE, stream);
}

// Takes back an item whose record was appended but that did not reach the
// bin: the record (the last one in the file, checked by its fixed fields)
// is marked removed in place and the header's counts are put back.
void WithdrawRecord(uint8_t* record, uint32_t recordSize, const uint8_t* headerBefore) {
    FILE* stream = OpenIndexFile(WIDE("r+b"), true);
    if (stream == nullptr) return;
    uint8_t fixed[INFO_RECORD_SIZE];
    long back = -(long)recordSize;
    if (FsSeek(stream, back, SEEK_END) && FsReadExact(fixed, sizeof fixed, stream) &&
        std::memcmp(fixed, record, sizeof fixed) == 0 && FsSeek(stream, back, SEEK_END)) {
        record[0] = 0;
        FsWrite(record, recordSize, stream);
    }
    PutHeaderBack(stream, headerBefore);
    FsClose(stream);
}

void PutHeaderBackOnly(const uint8_t* headerBefore) {
    FILE* stream = OpenIndexFile(WIDE("r+b"), true);
    if (stream == nullptr) return;
    PutHeaderBack(stream, headerBefore);
    FsClose(stream);
}

void FillRecord(uint8_t* record, uint32_t recordSize, const char* ansiPath, uint32_t number,
                WCHAR letter, uint64_t deletionTime, uint32_t size, const WCHAR* path) {
    std::memset(record, 0, recordSize);
    std::memcpy(record + RECORD_ANSI_PATH, ansiPath, PATH_FIELD_CHARS);
    WriteU32(record + RECORD_NUMBER, number);
    WriteU32(record + RECORD_DRIVE_NUMBER, (uint32_t)(letter - 'a'));
    WriteU64(record + RECORD_DELETION_TIME, deletionTime);
    WriteU32(record + RECORD_SIZE_FIELD, size);
    if (recordSize >= INFO2_RECORD_SIZE) {
        WCHAR wide[PATH_FIELD_CHARS];
        CopyWideTerminated(wide, PATH_FIELD_CHARS, path);
        uint8_t* field = record + RECORD_UNICODE_PATH;
        for (uint32_t i = 0; i < PATH_FIELD_CHARS; ++i) {
            field[2 * i] = (uint8_t)(wide[i] & 0xFF);
            field[2 * i + 1] = (uint8_t)((wide[i] >> 8) & 0xFF);
        }
    }
}

ItemOutcome ThrowAsRecord(const WCHAR* path, const WCHAR* binFull) {
    if (!StartIndexRun()) return ITEM_STOP;
    uint32_t number = FirstFreeRecordNumber(&gThrow.numbers, false);
    WCHAR letter = WideLowerAscii(path[0]);
    const WCHAR* extension = ExtensionOf(path);

    WCHAR dataName[FULL_PATH_CHARS];
    int length = extension != nullptr
                     ? FormatWide(dataName, FULL_PATH_CHARS, WIDE("%s\\D%c%lu.%s"), gRun.binPath,
                                  (int)letter, (unsigned long)number, extension)
                     : FormatWide(dataName, FULL_PATH_CHARS, WIDE("%s\\D%c%lu"), gRun.binPath,
                                  (int)letter, (unsigned long)number);
    // The ANSI field must hold the whole path too: a record whose first
    // byte is 0 reads as removed, and a cut path cannot be restored.
    char ansiPath[PATH_FIELD_CHARS];
    std::memset(ansiPath, 0, sizeof ansiPath);
    if (length < 0 || !FitsInBin(binFull, (size_t)length - WideLength(gRun.binPath) - 1) ||
        WideToAnsiBuffer(ansiPath, (int)sizeof ansiPath, path) == 0) {
        ReportInvalid(path);
        return ITEM_DONE;
    }

    uint64_t deletionTime = DeletionTimeNow();
    uint32_t size = ClusterRoundedSize(path);

    FILE* stream = OpenIndexFile(WIDE("r+b"), true);
    if (stream == nullptr) {
        ReportReadFailed();
        return ITEM_STOP;
    }
    uint8_t headerBefore[INDEX_HEADER_SIZE];
    IndexHeader header;
    if (!FsReadExact(headerBefore, sizeof headerBefore, stream)) {
        FsClose(stream);
        ReportReadFailed();
        return ITEM_STOP;
    }
    DecodeIndexHeader(headerBefore, &header);
    if (!IsRecordSizeValid(header.recordSize)) {
        FsClose(stream);
        ReportReadFailed();
        return ITEM_STOP;
    }
    uint8_t* record = static_cast<uint8_t*>(MemAlloc(header.recordSize));
    if (record == nullptr) {
        FsClose(stream);
        ReportNoMemory();
        return ITEM_STOP;
    }

    gThrow.entryCount += 1;
    gThrow.totalSize += size;
    header.entryCount = gThrow.entryCount;
    header.nextRecordNumber = FirstFreeRecordNumber(&gThrow.numbers, true);
    header.totalSize = gThrow.totalSize;
    uint8_t headerBytes[INDEX_HEADER_SIZE];
    EncodeIndexHeader(&header, headerBytes);
    if (FsSeek(stream, 0, SEEK_SET)) FsWrite(headerBytes, sizeof headerBytes, stream);
    FsClose(stream);

    PrintMessage(WIDE("%s\n"), path);

    stream = OpenIndexFile(WIDE("ab"), true);
    if (stream == nullptr) {
        // Nothing appended and nothing moved: the header counts go back too.
        gThrow.entryCount -= 1;
        gThrow.totalSize -= size;
        PutHeaderBackOnly(headerBefore);
        MemFree(record);
        return ITEM_DONE;
    }
    FillRecord(record, header.recordSize, ansiPath, number, letter, deletionTime, size, path);
    FsWrite(record, header.recordSize, stream);
    FsClose(stream);

    ItemOutcome outcome = ITEM_DONE;
    if (!FsMoveFile(path, dataName)) {
        // The number stays free, so the next item takes it: this record
        // must not stay live and claim that item.
        gThrow.entryCount -= 1;
        gThrow.totalSize -= size;
        WithdrawRecord(record, header.recordSize, headerBefore);
        PrintCatalogue(MSG_ERR_UNKNOWN);
        Fail(EXIT_UNKNOWN);
    } else if (!MarkRecordNumberUsed(&gThrow.numbers, number)) {
        // Reported; the folder is read again should another name come.
        FreeRecordNumberSet(&gThrow.numbers);
        gThrow.numbers = RecordNumberSet();
        gThrow.numbersRead = false;
        outcome = ITEM_STOP;
    }
    MemFree(record);
    return outcome;
}

// --- One name --------------------------------------------------------------

// Every match of a pattern, as full paths in the order of the search; false
// (reported) when nothing or only "." and ".." matched, or memory ran out.
bool CollectMatches(const WCHAR* name, StringArray* matches) {
    WIN32_FIND_DATAW data;
    HANDLE search = FsFindFirstFile(name, &data);
    if (search == INVALID_HANDLE_VALUE) {
        ReportInvalid(name);
        return false;
    }
    // The folder part keeps the separator before the pattern; the matches'
    // long names are joined to it.
    // (The name is a drive path shorter than a path buffer.)
    size_t folderLength = 0;
    for (size_t i = 0; name[i] != 0; ++i)
        if (IsPathSeparator(name[i])) folderLength = i + 1;
    WCHAR joined[2 * FULL_PATH_CHARS];
    std::memcpy(joined, name, folderLength * sizeof(WCHAR));
    do {
        const WCHAR* found = data.cFileName;
        bool dots = found[0] == '.' && (found[1] == 0 || (found[1] == '.' && found[2] == 0));
        if (dots) continue;
        CopyWideTerminated(joined + folderLength, MAX_PATH, found);
        if (matches->Add(joined) < 0) {
            FsFindClose(search);
            ReportNoMemory();
            return false;
        }
    } while (FsFindNextFile(search, &data));
    FsFindClose(search);
    if (matches->Length() == 0) {
        PrintCatalogue(MSG_ERR_NOTHING_TO_THROW);
        Fail(EXIT_NOTHING_TO_THROW);
        return false;
    }
    return true;
}

}  // namespace

uint32_t ClusterRoundedSize(const WCHAR* path) {
    uint32_t size = FsGetFileSize(path);
    if (size == 0) return 0;
    if (!IsDriveLetter(path[0])) return size;
    char root[4] = {(char)WideLowerAscii(path[0]), ':', '\\', 0};
    DWORD sectorsPerCluster = 0, bytesPerSector = 0;
    // Without the drive's geometry the plain size is the best figure.
    if (!FsGetDiskFreeSpace(root, &sectorsPerCluster, &bytesPerSector)) return size;
    uint32_t cluster = sectorsPerCluster == CLUSTER_SECTORS_QUIRK
                           ? CLUSTER_QUIRK_BYTES
                           : (uint32_t)(bytesPerSector * sectorsPerCluster);
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
        for (int i = fixed; i < ITEM_NAME_CHARS; ++i) chars[i] = RandomNameChar();
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
    WCHAR* binFull = MakeFullPath(gRun.binPath);
    if (binFull == nullptr) {
        ReportNoMemory();
        return false;
    }
    // The bin's drive is that of its full path, so that a bin given as a
    // relative path is checked by the drive it lies on.
    if (WideLowerAscii(binFull[0]) != WideLowerAscii(name[0])) {
        PrintCatalogue(MSG_ERR_DRIVE_MISMATCH, (int)WideUpperAscii(name[0]),
                       (int)WideUpperAscii(binFull[0]));
        Fail(EXIT_DRIVE_MISMATCH);
        MemFree(binFull);
        return false;
    }
    if (!IsDrivePath(name) || WideLength(name) >= (size_t)FULL_PATH_CHARS) {
        ReportInvalid(name);
        MemFree(binFull);
        return false;
    }

    StringArray matches;
    if (!CollectMatches(name, &matches)) {
        MemFree(binFull);
        return false;
    }
    bool itemFiles = gRun.binFormat == FORMAT_ITEM_FILES;
    for (int32_t i = 0; i < matches.Length(); ++i) {
        const WCHAR* path = matches.At(i);
        if (!AcceptItem(path, binFull)) continue;
        ItemOutcome outcome = itemFiles ? ThrowAsItemFiles(path, binFull) : ThrowAsRecord(path, binFull);
        if (outcome == ITEM_STOP) break;
    }
    MemFree(binFull);

    if (gRun.exitCode >= EXIT_FIRST_ERROR) return false;
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
        if (!(gRun.options & OPT_YES)) PrintMessage(WIDE("%d: %s\n"), (int)(i + 1), gRun.throwList.At(i));
    }
    if (!(gRun.options & OPT_YES) && !AskYesNo(MessageText(MSG_ASK_THROW))) {
        PrintCatalogue(MSG_CANCELED);
        Fail(EXIT_CANCELED);
        return;
    }
    if (!LoadEntries()) ReportReadFailed();
    for (int32_t i = 0; i < gRun.throwList.Length(); ++i) ThrowOne(gRun.throwList.At(i));
    ResetProgress();
}
