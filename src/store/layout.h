// The bin's byte layouts in one place: the named offsets of the index
// header, the index record and both $I versions, the little-endian fields
// (UTF-16LE text among them) they are made of, and the codecs between those
// bytes and their fields. Nothing here reads or writes a file.
#ifndef DUSTPAIL_STORE_LAYOUT_H
#define DUSTPAIL_STORE_LAYOUT_H

#include <cstddef>
#include <cstdint>

#include "platform/sysapi.h"

// A path field holds this many characters: bytes in the ANSI code page, or
// UTF-16 units. A path that fills its field has no terminator there.
const uint32_t PATH_FIELD_CHARS = 260;

// The index header (INFO, INFO2): five 32-bit fields.
const uint32_t HEADER_VERSION_AT = 0;
const uint32_t HEADER_ENTRY_COUNT_AT = 4;
const uint32_t HEADER_NEXT_NUMBER_AT = 8;
const uint32_t HEADER_RECORD_SIZE_AT = 12;
const uint32_t HEADER_TOTAL_SIZE_AT = 16;
const uint32_t HEADER_SIZE = 20;

// An index record: the ANSI path, four fields, and in records of 800 bytes
// and more the UTF-16 path. A record whose first byte is 0 is removed.
const uint32_t RECORD_ANSI_PATH_AT = 0;
const uint32_t RECORD_NUMBER_AT = 260;
const uint32_t RECORD_DRIVE_AT = 264;
const uint32_t RECORD_DELETION_TIME_AT = 268;  // FILETIME, 64 bits
const uint32_t RECORD_ITEM_SIZE_AT = 276;
const uint32_t RECORD_WIDE_PATH_AT = 280;
const uint32_t RECORD_SIZE_INFO = 280;   // Windows 95, NT 4
const uint32_t RECORD_SIZE_INFO2 = 800;  // Windows 98 and later
// Record sizes outside this range mark an index as damaged.
const uint32_t RECORD_SIZE_MIN = RECORD_SIZE_INFO;
const uint32_t RECORD_SIZE_MAX = 65536;

// A $I file: three 64-bit fields, then the path. Version 1 (Vista to
// Windows 8.1) has a field of 260 units; version 2 (Windows 10 and later)
// counts the path's units, terminator included, and holds no more.
const uint32_t ITEM_VERSION_AT = 0;
const uint32_t ITEM_FILE_SIZE_AT = 8;
const uint32_t ITEM_DELETION_TIME_AT = 16;  // FILETIME
const uint32_t ITEM_V1_PATH_AT = 24;
const uint32_t ITEM_V1_SIZE = ITEM_V1_PATH_AT + 2 * PATH_FIELD_CHARS;
const uint64_t ITEM_V2_VERSION = 2;
const uint32_t ITEM_V2_PATH_UNITS_AT = 24;
const uint32_t ITEM_V2_PATH_AT = 28;
// The most of a $I file any reader looks at: enough for version 1 and for
// version 2 with the longest path.
const uint32_t ITEM_READ_LIMIT = ITEM_V2_PATH_AT + 2 * PATH_FIELD_CHARS;

// FILETIME counts 100 ns units from 1601.
const uint64_t FILETIME_UNITS_PER_SECOND = 10000000ULL;
const uint64_t FILETIME_UNIX_EPOCH_SECONDS = 11644473600ULL;  // 1601 to 1970

// Little-endian fields.
uint16_t ReadLe16(const uint8_t* bytes);
uint32_t ReadLe32(const uint8_t* bytes);
uint64_t ReadLe64(const uint8_t* bytes);
void WriteLe16(uint8_t* bytes, uint16_t value);
void WriteLe32(uint8_t* bytes, uint32_t value);
void WriteLe64(uint8_t* bytes, uint64_t value);

// A path field of `units` characters as terminated text: the characters
// before its terminator, or all of them (the caller's buffer holds
// units + 1). Returns that length, `units` when the field has none.
size_t ReadAnsiField(const uint8_t* field, size_t units, char* text);
size_t ReadWideField(const uint8_t* field, size_t units, WCHAR* text);
// Writes text into a field of `units` characters, zero-padded. An ANSI
// text may fill its field; a UTF-16 text is cut so that its last unit is
// always 0, as Windows writes them.
void WriteAnsiField(uint8_t* field, size_t units, const char* text);
void WriteWideField(uint8_t* field, size_t units, const WCHAR* text);

struct IndexHeader {
    uint32_t version;
    uint32_t entryCount;
    uint32_t nextRecordNumber;
    uint32_t recordSize;
    uint32_t totalSize;
};

// The fields of an index record, its paths as text. The raw bytes stay in
// the caller's buffer, so that a record is always written back exactly as
// it was read.
struct IndexRecord {
    bool live;                               // not marked removed
    char ansiPath[PATH_FIELD_CHARS + 1];
    uint32_t recordNumber;
    uint32_t driveNumber;
    uint64_t deletionTime;
    uint32_t size;
    bool hasWidePath;                        // records of 800 bytes and more
    WCHAR widePath[PATH_FIELD_CHARS + 1];
};

struct ItemInfoRecord {
    uint64_t version;
    uint64_t fileSize;
    uint64_t deletionTime;
    WCHAR originalPath[PATH_FIELD_CHARS + 1];
};

void DecodeIndexHeader(const uint8_t* bytes, IndexHeader* header);
void EncodeIndexHeader(const IndexHeader* header, uint8_t* bytes);
bool IsRecordSizeValid(uint32_t recordSize);
// Reads a record of recordSize bytes (at least 280; the UTF-16 path only
// from 800).
void DecodeIndexRecord(const uint8_t* bytes, uint32_t recordSize, IndexRecord* record);
// Writes a new record of recordSize bytes: the fields, the ANSI path and
// from 800 bytes the UTF-16 path, the rest 0.
void EncodeIndexRecord(const IndexRecord* record, uint32_t recordSize, uint8_t* bytes);
// The first byte of a record marks it removed.
void MarkRecordRemoved(uint8_t* bytes);
// Decodes a $I file's bytes (version 1, 544 bytes, or version 2 with its
// counted path). False when the bytes are no readable item index.
bool DecodeItemInfo(const uint8_t* bytes, size_t length, ItemInfoRecord* record);
// Always the fixed 544-byte layout of version 1, which every Windows since
// Vista reads.
void EncodeItemInfo(const ItemInfoRecord* record, uint8_t bytes[ITEM_V1_SIZE]);

// A 64-bit size or sum in a 32-bit field of an index: the largest value
// rather than a wrapped one.
uint32_t SaturatedSize(uint64_t size);
uint64_t UnixTimeToFileTime(int64_t seconds);
int64_t FileTimeToUnixTime(uint64_t fileTime);

// Data item names of the index layouts: "D", the drive letter of the
// record, its number in decimal, and the item's extension.
// The letter of a record's drive number: 'a' plus the number, so a network
// path (drive number 26) gives '{'.
WCHAR DriveLetterOf(uint32_t driveNumber);
// Reads a data item name: "D" (either case), one letter (lower-cased A-Z),
// the record number in decimal without leading zeros, then the end of the
// name or ".". False for every other name.
bool ParseDataItemName(const WCHAR* name, WCHAR* letter, uint32_t* number);

#endif
