// The bin's byte layouts and the store operations every reader and writer
// shares. Every field is read and written byte by byte in little-endian
// order, so the layouts never depend on the host's struct packing.
#include <cstring>

#include "app/messages.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "store/store.h"

namespace {

const int64_t SECONDS_1601_TO_1970 = 11644473600LL;
const int64_t FILETIME_UNITS_PER_SECOND = 10000000LL;
const size_t LINE_GROWTH = 260;
// The bitmap of record numbers never starts smaller than this.
const uint32_t MIN_NUMBER_LIMIT = 64;

uint16_t ReadU16(const uint8_t* bytes) { return (uint16_t)(bytes[0] | (bytes[1] << 8)); }

void WriteU16(uint8_t* bytes, uint16_t value) {
    bytes[0] = (uint8_t)value;
    bytes[1] = (uint8_t)(value >> 8);
}

bool IsDigit(WCHAR ch) { return ch >= '0' && ch <= '9'; }

bool IsBitSet(const RecordNumberSet* set, uint32_t n) {
    return (set->bits[n / 8] & (1u << (n % 8))) != 0;
}

bool IsNumberUsed(const RecordNumberSet* set, uint32_t n) {
    if (n < set->limit) return IsBitSet(set, n);
    // Only reached after a failed growth left the bitmap full.
    for (uint32_t i = 0; i < set->aboveCount; ++i)
        if (set->above[i] == n) return true;
    return false;
}

// Sets the bit of n (n below the limit); true when it was clear.
bool SetBit(RecordNumberSet* set, uint32_t n) {
    if (IsBitSet(set, n)) return false;
    set->bits[n / 8] = (uint8_t)(set->bits[n / 8] | (1u << (n % 8)));
    ++set->usedBelowLimit;
    return true;
}

bool AppendAbove(RecordNumberSet* set, uint32_t n) {
    if (set->aboveCount == set->aboveCapacity) {
        uint32_t capacity = set->aboveCapacity < 64 ? 64 : set->aboveCapacity * 2;
        void* grown = MemRealloc(set->above, sizeof(uint32_t) * (size_t)capacity);
        if (grown == nullptr) return false;
        set->above = static_cast<uint32_t*>(grown);
        set->aboveCapacity = capacity;
    }
    set->above[set->aboveCount++] = n;
    return true;
}

// Widens the bitmap to at least newLimit bits and moves the numbers of
// `above` that now fall below it into the bitmap.
bool GrowBitmap(RecordNumberSet* set, uint64_t newLimit) {
    if (newLimit > 0xFFFFFFF8ULL) newLimit = 0xFFFFFFF8ULL;
    newLimit = (newLimit + 7) / 8 * 8;
    if (newLimit <= set->limit) return true;
    uint8_t* bits = static_cast<uint8_t*>(MemAlloc((size_t)(newLimit / 8)));
    if (bits == nullptr) return false;
    std::memset(bits, 0, (size_t)(newLimit / 8));
    if (set->bits != nullptr) std::memcpy(bits, set->bits, set->limit / 8);
    MemFree(set->bits);
    set->bits = bits;
    set->limit = (uint32_t)newLimit;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < set->aboveCount; ++i) {
        uint32_t n = set->above[i];
        if (n < set->limit)
            SetBit(set, n);
        else
            set->above[kept++] = n;
    }
    set->aboveCount = kept;
    return true;
}

// Keeps two numbers below the limit free, so that a query never has to
// look beyond the bitmap.
bool KeepTwoFree(RecordNumberSet* set) {
    while ((uint64_t)set->usedBelowLimit + 2 > set->limit) {
        uint64_t wanted = set->limit < MIN_NUMBER_LIMIT ? MIN_NUMBER_LIMIT : (uint64_t)set->limit * 2;
        if (!GrowBitmap(set, wanted)) return false;
    }
    return true;
}

// A name that begins with "D", any character and digits puts in use every
// number whose decimal form begins those digits ("D?%u*.*" matches it).
bool CollectNamePrefixes(RecordNumberSet* set, const WCHAR* name) {
    if ((name[0] != 'D' && name[0] != 'd') || name[1] == 0) return true;
    const WCHAR* digits = name + 2;
    if (digits[0] == '0') return AppendAbove(set, 0);
    uint64_t value = 0;
    for (const WCHAR* p = digits; IsDigit(*p); ++p) {
        value = value * 10 + (uint64_t)(*p - '0');
        if (value > 0xFFFFFFFFULL) break;
        if (!AppendAbove(set, (uint32_t)value)) return false;
    }
    return true;
}

enum CollectResult { COLLECT_OK, COLLECT_NO_MEMORY, COLLECT_READ_FAILED };

CollectResult CollectFolderNumbers(RecordNumberSet* set) {
    WCHAR pattern[MAX_PATH];
    if (FormatWide(pattern, MAX_PATH, WIDE("%s\\D*.*"), gRun.binPath) < 0) return COLLECT_READ_FAILED;
    FolderWalk walk;
    FolderStep step = FsFirstInFolder(&walk, pattern);
    CollectResult result = COLLECT_OK;
    for (; step == FOLDER_ENTRY; step = FsNextInFolder(&walk)) {
        // The system matches a pattern against the short name too.
        if (!CollectNamePrefixes(set, walk.found.cFileName) ||
            !CollectNamePrefixes(set, walk.found.cAlternateFileName)) {
            result = COLLECT_NO_MEMORY;
            break;
        }
    }
    FsEndFolderWalk(&walk);
    if (step == FOLDER_FAILED) result = COLLECT_READ_FAILED;
    return result;
}

// Every live record keeps its number, whether or not its data item is
// there: a record left by a killed or failed run would otherwise claim the
// new item that takes its number, and deleting it would destroy that item.
CollectResult CollectIndexNumbers(RecordNumberSet* set, const BinEntry* leaving) {
    if (gRun.binFormat != FORMAT_INFO && gRun.binFormat != FORMAT_INFO2) return COLLECT_OK;
    FILE* index = OpenIndexFile(WIDE("rb"), true);
    if (index == nullptr) return COLLECT_READ_FAILED;
    uint8_t headerBytes[INDEX_HEADER_SIZE];
    IndexHeader header;
    CollectResult result = COLLECT_READ_FAILED;
    int64_t size = -1;
    if (ReadIndexHeaderAt(index, headerBytes, &header) && FsSeek(index, 0, SEEK_END))
        size = FsTell(index);
    if (size >= (int64_t)INDEX_HEADER_SIZE && SeekIndex(index, INDEX_HEADER_SIZE)) {
        uint8_t fixed[INFO_RECORD_SIZE];
        result = COLLECT_OK;
        // Whole records only, as loading reads them: a piece of a record at
        // the end is where the next one goes. Of each record the fixed
        // fields are read, the rest skipped.
        int64_t records = (size - INDEX_HEADER_SIZE) / header.recordSize;
        bool passed = leaving == nullptr;
        for (int64_t i = 0; result == COLLECT_OK && i < records; ++i) {
            if (!FsReadExact(fixed, sizeof fixed, index)) {
                result = COLLECT_READ_FAILED;
                break;
            }
            IndexRecord record;
            DecodeIndexRecord(fixed, INFO_RECORD_SIZE, &record);
            bool live = fixed[0] != 0;
            if (live && !passed && record.recordNumber == leaving->recordNumber &&
                record.driveNumber == leaving->driveNumber &&
                record.deletionTime == leaving->deletionTime) {
                passed = true;  // the record being removed
            } else if (live && !AppendAbove(set, record.recordNumber)) {
                result = COLLECT_NO_MEMORY;
            }
            if (header.recordSize > sizeof fixed &&
                !FsSeek(index, (long)(header.recordSize - sizeof fixed), SEEK_CUR))
                result = COLLECT_READ_FAILED;
        }
        if (result == COLLECT_OK && FsReadFailed(index)) result = COLLECT_READ_FAILED;
    }
    FsClose(index);
    return result;
}

// Copies a zero-terminated UTF-16LE field of `units` units into `path`
// (room for PATH_FIELD_CHARS), zero-padded. Returns the units before the
// terminator, or `units` when the field has none.
size_t CopyPathField(const uint8_t* field, size_t units, WCHAR* path) {
    size_t length = 0;
    while (length < units && ReadU16(field + 2 * length) != 0) ++length;
    size_t kept = length < PATH_FIELD_CHARS ? length : PATH_FIELD_CHARS - 1;
    for (size_t i = 0; i < kept; ++i) path[i] = (WCHAR)ReadU16(field + 2 * i);
    for (size_t i = kept; i < PATH_FIELD_CHARS; ++i) path[i] = 0;
    return length;
}

}  // namespace

uint32_t SaturatedSize(uint64_t size) { return size > 0xFFFFFFFFULL ? 0xFFFFFFFFu : (uint32_t)size; }

uint32_t ReadU32(const uint8_t* bytes) {
    return (uint32_t)bytes[0] | ((uint32_t)bytes[1] << 8) | ((uint32_t)bytes[2] << 16) |
           ((uint32_t)bytes[3] << 24);
}

uint64_t ReadU64(const uint8_t* bytes) {
    return (uint64_t)ReadU32(bytes) | ((uint64_t)ReadU32(bytes + 4) << 32);
}

void WriteU32(uint8_t* bytes, uint32_t value) {
    bytes[0] = (uint8_t)value;
    bytes[1] = (uint8_t)(value >> 8);
    bytes[2] = (uint8_t)(value >> 16);
    bytes[3] = (uint8_t)(value >> 24);
}

void WriteU64(uint8_t* bytes, uint64_t value) {
    WriteU32(bytes, (uint32_t)value);
    WriteU32(bytes + 4, (uint32_t)(value >> 32));
}

void DecodeIndexHeader(const uint8_t* bytes, IndexHeader* header) {
    header->version = ReadU32(bytes);
    header->entryCount = ReadU32(bytes + 4);
    header->nextRecordNumber = ReadU32(bytes + 8);
    header->recordSize = ReadU32(bytes + 12);
    header->totalSize = ReadU32(bytes + 16);
}

void EncodeIndexHeader(const IndexHeader* header, uint8_t* bytes) {
    WriteU32(bytes, header->version);
    WriteU32(bytes + 4, header->entryCount);
    WriteU32(bytes + 8, header->nextRecordNumber);
    WriteU32(bytes + 12, header->recordSize);
    WriteU32(bytes + 16, header->totalSize);
}

void DecodeIndexRecord(const uint8_t* bytes, uint32_t recordSize, IndexRecord* record) {
    record->ansiPath = bytes + RECORD_ANSI_PATH;
    record->recordNumber = ReadU32(bytes + RECORD_NUMBER);
    record->driveNumber = ReadU32(bytes + RECORD_DRIVE_NUMBER);
    record->deletionTime = ReadU64(bytes + RECORD_DELETION_TIME);
    record->size = ReadU32(bytes + RECORD_SIZE_FIELD);
    record->unicodePath = recordSize >= INFO2_RECORD_SIZE ? bytes + RECORD_UNICODE_PATH : nullptr;
}

bool DecodeItemInfo(const uint8_t* bytes, size_t length, ItemInfoRecord* record) {
    if (length < ITEM_INFO_COUNTED_HEADER) return false;
    uint64_t version = ReadU64(bytes);
    if (version == ITEM_INFO_VERSION_COUNTED) {
        uint32_t count = ReadU32(bytes + 24);
        if (count == 0 || count > PATH_FIELD_CHARS) return false;
        if (length < ITEM_INFO_COUNTED_HEADER + 2 * (size_t)count) return false;
        if (CopyPathField(bytes + ITEM_INFO_COUNTED_HEADER, count, record->originalPath) == count)
            return false;
    } else {
        // Version 1, and any other value, which Windows never checks either.
        if (length < ITEM_INFO_SIZE) return false;
        // A path that fills its field without a terminator would be restored
        // under a cut name.
        if (CopyPathField(bytes + 24, PATH_FIELD_CHARS, record->originalPath) == PATH_FIELD_CHARS)
            return false;
    }
    record->version = version;
    record->fileSize = ReadU64(bytes + 8);
    record->deletionTime = ReadU64(bytes + 16);
    return true;
}

void EncodeItemInfo(const ItemInfoRecord* record, uint8_t bytes[ITEM_INFO_SIZE]) {
    // Always the fixed 544-byte layout of version 1, which every Windows
    // since Vista reads.
    WriteU64(bytes, 1);
    WriteU64(bytes + 8, record->fileSize);
    WriteU64(bytes + 16, record->deletionTime);
    bool ended = false;
    for (uint32_t i = 0; i < PATH_FIELD_CHARS; ++i) {
        if (record->originalPath[i] == 0) ended = true;
        WriteU16(bytes + 24 + 2 * i, ended ? 0 : (uint16_t)record->originalPath[i]);
    }
    WriteU16(bytes + 24 + 2 * (PATH_FIELD_CHARS - 1), 0);
}

bool IsRecordSizeValid(uint32_t recordSize) {
    return recordSize >= MIN_RECORD_SIZE && recordSize <= MAX_RECORD_SIZE;
}

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

WCHAR DriveLetterOf(uint32_t driveNumber) { return (WCHAR)('a' + driveNumber); }

WCHAR EntryDriveLetter(const BinEntry* entry) { return DriveLetterOf(entry->driveNumber); }

bool ParseDataItemName(const WCHAR* name, WCHAR* letter, uint32_t* number) {
    if ((name[0] != 'D' && name[0] != 'd') || name[1] == 0) return false;
    const WCHAR* p = name + 2;
    if (!IsDigit(p[0])) return false;
    // "%u" never writes a leading zero, so "Dc07" belongs to no record.
    if (p[0] == '0' && IsDigit(p[1])) return false;
    uint64_t value = 0;
    for (; IsDigit(*p); ++p) {
        value = value * 10 + (uint64_t)(*p - '0');
        if (value > 0xFFFFFFFFULL) return false;
    }
    if (*p != 0 && *p != '.') return false;
    *letter = WideLowerAscii(name[1]);
    *number = (uint32_t)value;
    return true;
}

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

bool BuildRecordNumberSet(RecordNumberSet* set, const BinEntry* leaving) {
    FreeRecordNumberSet(set);
    CollectResult result = CollectFolderNumbers(set);
    if (result == COLLECT_OK) result = CollectIndexNumbers(set, leaving);
    if (result == COLLECT_READ_FAILED) {
        FreeRecordNumberSet(set);
        PrintCatalogue(MSG_ERR_READ_FAILED, gRun.binPath);
        gRun.exitCode = EXIT_READ_FAILED;
        return false;
    }
    if (result == COLLECT_NO_MEMORY || !GrowBitmap(set, (uint64_t)set->aboveCount + 2) ||
        !KeepTwoFree(set)) {
        FreeRecordNumberSet(set);
        ReportNoMemory();
        return false;
    }
    return true;
}

bool MarkRecordNumberUsed(RecordNumberSet* set, uint32_t number) {
    bool ok = true;
    if (number < set->limit) {
        SetBit(set, number);
        ok = KeepTwoFree(set);
    } else {
        ok = AppendAbove(set, number);
    }
    if (!ok) ReportNoMemory();
    return ok;
}

uint32_t FirstFreeRecordNumber(RecordNumberSet* set, bool skipOne) {
    uint32_t n = set->lowestFree;
    while (IsNumberUsed(set, n)) ++n;
    set->lowestFree = n;
    if (!skipOne) return n;
    ++n;
    while (IsNumberUsed(set, n)) ++n;
    return n;
}

void FreeRecordNumberSet(RecordNumberSet* set) {
    MemFree(set->bits);
    MemFree(set->above);
    *set = RecordNumberSet();
}

uint32_t FreeRecordNumber(bool skipOne, const BinEntry* leaving) {
    RecordNumberSet set;
    if (!BuildRecordNumberSet(&set, leaving)) return 0;
    uint32_t number = FirstFreeRecordNumber(&set, skipOne);
    FreeRecordNumberSet(&set);
    return number;
}

uint64_t UnixTimeToFileTime(int64_t seconds) {
    // Unsigned arithmetic: a damaged value wraps instead of overflowing.
    return ((uint64_t)seconds + (uint64_t)SECONDS_1601_TO_1970) * (uint64_t)FILETIME_UNITS_PER_SECOND;
}

int64_t FileTimeToUnixTime(uint64_t fileTime) {
    // Division truncates toward zero: half a second before 1970 is 0.
    return (int64_t)(fileTime - FILETIME_UNIX_EPOCH) / FILETIME_UNITS_PER_SECOND;
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
