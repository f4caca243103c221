// The bin's byte layouts. Every field is read and written byte by byte in
// little-endian order, so the layouts never depend on the host's struct
// packing or byte order.
#include "store/layout.h"

#include <cstring>

#include "platform/wide.h"

namespace {

bool IsDigit(WCHAR ch) { return ch >= '0' && ch <= '9'; }

}  // namespace

uint16_t ReadLe16(const uint8_t* bytes) { return (uint16_t)(bytes[0] | (bytes[1] << 8)); }

uint32_t ReadLe32(const uint8_t* bytes) {
    return (uint32_t)bytes[0] | ((uint32_t)bytes[1] << 8) | ((uint32_t)bytes[2] << 16) |
           ((uint32_t)bytes[3] << 24);
}

uint64_t ReadLe64(const uint8_t* bytes) {
    return (uint64_t)ReadLe32(bytes) | ((uint64_t)ReadLe32(bytes + 4) << 32);
}

void WriteLe16(uint8_t* bytes, uint16_t value) {
    bytes[0] = (uint8_t)value;
    bytes[1] = (uint8_t)(value >> 8);
}

void WriteLe32(uint8_t* bytes, uint32_t value) {
    WriteLe16(bytes, (uint16_t)value);
    WriteLe16(bytes + 2, (uint16_t)(value >> 16));
}

void WriteLe64(uint8_t* bytes, uint64_t value) {
    WriteLe32(bytes, (uint32_t)value);
    WriteLe32(bytes + 4, (uint32_t)(value >> 32));
}

size_t ReadAnsiField(const uint8_t* field, size_t units, char* text) {
    const void* end = std::memchr(field, 0, units);
    size_t length = end != nullptr ? (size_t)(static_cast<const uint8_t*>(end) - field) : units;
    std::memcpy(text, field, length);
    text[length] = 0;
    return length;
}

size_t ReadWideField(const uint8_t* field, size_t units, WCHAR* text) {
    size_t length = 0;
    while (length < units && (field[2 * length] | field[2 * length + 1]) != 0) ++length;
    // Measured first, so that the copy has no early way out and goes many
    // units at a time.
    for (size_t i = 0; i < length; ++i) text[i] = (WCHAR)ReadLe16(field + 2 * i);
    text[length] = 0;
    return length;
}

void WriteAnsiField(uint8_t* field, size_t units, const char* text) {
    size_t length = 0;
    while (length < units && text[length] != 0) ++length;
    std::memcpy(field, text, length);
    std::memset(field + length, 0, units - length);
}

void WriteWideField(uint8_t* field, size_t units, const WCHAR* text) {
    // Past the terminator the text is not read again: it may end there.
    bool ended = false;
    for (size_t i = 0; i < units; ++i) {
        if (!ended && (i + 1 == units || text[i] == 0)) ended = true;
        WriteLe16(field + 2 * i, ended ? 0 : (uint16_t)text[i]);
    }
}

void DecodeIndexHeader(const uint8_t* bytes, IndexHeader* header) {
    header->version = ReadLe32(bytes + HEADER_VERSION_AT);
    header->entryCount = ReadLe32(bytes + HEADER_ENTRY_COUNT_AT);
    header->nextRecordNumber = ReadLe32(bytes + HEADER_NEXT_NUMBER_AT);
    header->recordSize = ReadLe32(bytes + HEADER_RECORD_SIZE_AT);
    header->totalSize = ReadLe32(bytes + HEADER_TOTAL_SIZE_AT);
}

void EncodeIndexHeader(const IndexHeader* header, uint8_t* bytes) {
    WriteLe32(bytes + HEADER_VERSION_AT, header->version);
    WriteLe32(bytes + HEADER_ENTRY_COUNT_AT, header->entryCount);
    WriteLe32(bytes + HEADER_NEXT_NUMBER_AT, header->nextRecordNumber);
    WriteLe32(bytes + HEADER_RECORD_SIZE_AT, header->recordSize);
    WriteLe32(bytes + HEADER_TOTAL_SIZE_AT, header->totalSize);
}

bool IsRecordSizeValid(uint32_t recordSize) {
    return recordSize >= RECORD_SIZE_MIN && recordSize <= RECORD_SIZE_MAX;
}

void DecodeIndexRecord(const uint8_t* bytes, uint32_t recordSize, IndexRecord* record) {
    record->live = bytes[0] != 0;
    ReadAnsiField(bytes + RECORD_ANSI_PATH_AT, PATH_FIELD_CHARS, record->ansiPath);
    record->recordNumber = ReadLe32(bytes + RECORD_NUMBER_AT);
    record->driveNumber = ReadLe32(bytes + RECORD_DRIVE_AT);
    record->deletionTime = ReadLe64(bytes + RECORD_DELETION_TIME_AT);
    record->size = ReadLe32(bytes + RECORD_ITEM_SIZE_AT);
    record->hasWidePath = recordSize >= RECORD_SIZE_INFO2;
    record->widePath[0] = 0;
    if (record->hasWidePath) ReadWideField(bytes + RECORD_WIDE_PATH_AT, PATH_FIELD_CHARS, record->widePath);
}

void EncodeIndexRecord(const IndexRecord* record, uint32_t recordSize, uint8_t* bytes) {
    std::memset(bytes, 0, recordSize);
    WriteAnsiField(bytes + RECORD_ANSI_PATH_AT, PATH_FIELD_CHARS, record->ansiPath);
    WriteLe32(bytes + RECORD_NUMBER_AT, record->recordNumber);
    WriteLe32(bytes + RECORD_DRIVE_AT, record->driveNumber);
    WriteLe64(bytes + RECORD_DELETION_TIME_AT, record->deletionTime);
    WriteLe32(bytes + RECORD_ITEM_SIZE_AT, record->size);
    if (recordSize >= RECORD_SIZE_INFO2)
        WriteWideField(bytes + RECORD_WIDE_PATH_AT, PATH_FIELD_CHARS, record->widePath);
}

void MarkRecordRemoved(uint8_t* bytes) { bytes[0] = 0; }

bool DecodeItemInfo(const uint8_t* bytes, size_t length, ItemInfoRecord* record) {
    if (length < ITEM_V2_PATH_AT) return false;
    uint64_t version = ReadLe64(bytes + ITEM_VERSION_AT);
    std::memset(record->originalPath, 0, sizeof record->originalPath);
    if (version == ITEM_V2_VERSION) {
        uint32_t units = ReadLe32(bytes + ITEM_V2_PATH_UNITS_AT);
        if (units == 0 || units > PATH_FIELD_CHARS) return false;
        if (length < ITEM_V2_PATH_AT + 2 * (size_t)units) return false;
        if (ReadWideField(bytes + ITEM_V2_PATH_AT, units, record->originalPath) == units) return false;
    } else {
        // Version 1, and any other value, which Windows never checks either.
        if (length < ITEM_V1_SIZE) return false;
        // A path that fills its field without a terminator would be restored
        // under a cut name.
        if (ReadWideField(bytes + ITEM_V1_PATH_AT, PATH_FIELD_CHARS, record->originalPath) == PATH_FIELD_CHARS)
            return false;
    }
    record->version = version;
    record->fileSize = ReadLe64(bytes + ITEM_FILE_SIZE_AT);
    record->deletionTime = ReadLe64(bytes + ITEM_DELETION_TIME_AT);
    return true;
}

void EncodeItemInfo(const ItemInfoRecord* record, uint8_t bytes[ITEM_V1_SIZE]) {
    WriteLe64(bytes + ITEM_VERSION_AT, 1);
    WriteLe64(bytes + ITEM_FILE_SIZE_AT, record->fileSize);
    WriteLe64(bytes + ITEM_DELETION_TIME_AT, record->deletionTime);
    WriteWideField(bytes + ITEM_V1_PATH_AT, PATH_FIELD_CHARS, record->originalPath);
}

uint32_t SaturatedSize(uint64_t size) { return size > 0xFFFFFFFFULL ? 0xFFFFFFFFu : (uint32_t)size; }

uint64_t UnixTimeToFileTime(int64_t seconds) {
    // Unsigned arithmetic: a damaged value wraps instead of overflowing.
    return ((uint64_t)seconds + FILETIME_UNIX_EPOCH_SECONDS) * FILETIME_UNITS_PER_SECOND;
}

int64_t FileTimeToUnixTime(uint64_t fileTime) {
    // Division truncates toward zero: half a second before 1970 is 0.
    return (int64_t)(fileTime - FILETIME_UNIX_EPOCH_SECONDS * FILETIME_UNITS_PER_SECOND) /
           (int64_t)FILETIME_UNITS_PER_SECOND;
}

WCHAR DriveLetterOf(uint32_t driveNumber) { return (WCHAR)('a' + driveNumber); }

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
