// The bin's on-disk layouts, the loaded entries, and the store operations
// every reader and writer shares.
#ifndef DUSTPAIL_STORE_STORE_H
#define DUSTPAIL_STORE_STORE_H

#include <cstdint>
#include <cstdio>

#include "app/runstate.h"
#include "platform/sysapi.h"

// Layout sizes and limits.
const uint32_t INDEX_HEADER_SIZE = 20;
const uint32_t INFO_RECORD_SIZE = 280;
const uint32_t INFO2_RECORD_SIZE = 800;
const uint32_t ITEM_INFO_SIZE = 544;
const uint32_t PATH_FIELD_CHARS = 260;
// Record sizes outside this range mark an index as damaged.
const uint32_t MIN_RECORD_SIZE = INFO_RECORD_SIZE;
const uint32_t MAX_RECORD_SIZE = 65536;
// Offsets inside an index record.
const uint32_t RECORD_ANSI_PATH = 0;
const uint32_t RECORD_NUMBER = 260;
const uint32_t RECORD_DRIVE_NUMBER = 264;
const uint32_t RECORD_DELETION_TIME = 268;
const uint32_t RECORD_SIZE_FIELD = 276;
const uint32_t RECORD_UNICODE_PATH = 280;
// Drive number that Windows records for a network path (\\server\share).
const uint32_t NETWORK_DRIVE_NUMBER = 26;
const uint64_t FILETIME_UNIX_EPOCH = 116444736000000000ULL;
// A $I file of version 2 (Windows 10 and later): u64 version, u64 size,
// FILETIME, u32 count of path units (terminator included), then the path.
const uint64_t ITEM_INFO_VERSION_COUNTED = 2;
const uint32_t ITEM_INFO_COUNTED_HEADER = 28;
// The most of a $I file any reader looks at: enough for version 1 and for
// version 2 with the longest path (260 units).
const uint32_t ITEM_INFO_READ_LIMIT = ITEM_INFO_COUNTED_HEADER + 2 * PATH_FIELD_CHARS;
// ReadTextLine keeps at most this many bytes of a line and drops the rest,
// so that a file without line breaks cannot take memory without bound.
const size_t TEXT_LINE_LIMIT = 65536;

struct IndexHeader {
    uint32_t version;
    uint32_t entryCount;
    uint32_t nextRecordNumber;
    uint32_t recordSize;
    uint32_t totalSize;
};

// The fixed fields of an index record; the raw bytes stay in the caller's
// buffer so that a record is always written back exactly as it was read.
struct IndexRecord {
    const uint8_t* ansiPath;     // 260 bytes
    uint32_t recordNumber;
    uint32_t driveNumber;
    uint64_t deletionTime;
    uint32_t size;
    const uint8_t* unicodePath;  // 520 bytes, or null below 800-byte records
};

struct ItemInfoRecord {
    uint64_t version;
    uint64_t fileSize;
    uint64_t deletionTime;
    WCHAR originalPath[PATH_FIELD_CHARS];
};

struct BinEntry {
    uint8_t isWide;
    void* originalPath;          // WCHAR* when isWide, else char* (ANSI)
    uint32_t recordNumber;
    uint32_t attributes;
    uint64_t deletionTime;       // FILETIME as a 64-bit count
    uint64_t size;               // bytes as recorded ($I files carry 64 bits)
    WCHAR* dataPath;             // per-item layout: the $R item
    uint32_t driveNumber;        // index layouts: the record's drive number
};

// Little-endian field access.
uint32_t ReadU32(const uint8_t* bytes);
uint64_t ReadU64(const uint8_t* bytes);
void WriteU32(uint8_t* bytes, uint32_t value);
void WriteU64(uint8_t* bytes, uint64_t value);
void DecodeIndexHeader(const uint8_t* bytes, IndexHeader* header);
void EncodeIndexHeader(const IndexHeader* header, uint8_t* bytes);
// Reads the fixed fields of a record of recordSize bytes (at least 280).
void DecodeIndexRecord(const uint8_t* bytes, uint32_t recordSize, IndexRecord* record);
// Decodes a $I file's bytes (version 1, 544 bytes, or version 2 with its
// counted path). False when the bytes are no readable item index.
bool DecodeItemInfo(const uint8_t* bytes, size_t length, ItemInfoRecord* record);
void EncodeItemInfo(const ItemInfoRecord* record, uint8_t bytes[ITEM_INFO_SIZE]);
bool IsRecordSizeValid(uint32_t recordSize);

// The store operations.
FILE* OpenIndexFile(const WCHAR* mode, bool quiet);
// A 64-bit size or sum in a 32-bit field of an index: the largest value
// rather than a wrapped one.
uint32_t SaturatedSize(uint64_t size);
// The data item of a record, looked up by drive letter and number. With
// wantPath a new full path (caller frees), otherwise its attributes.
bool FindDataItem(WCHAR letter, uint32_t recordNumber, bool wantPath, WCHAR** path,
                  DWORD* attributes);
// The lowest record number in use by no data item and no live record
// (with skipOne the second lowest); `leaving`, when given, names a record
// about to be removed, whose number does not count. One folder search and
// one reading of the index; 0 with exit code 254 (no memory) or 61 (a read
// failed) after a report.
uint32_t FreeRecordNumber(bool skipOne, const BinEntry* leaving = nullptr);
uint64_t UnixTimeToFileTime(int64_t seconds);
int64_t FileTimeToUnixTime(uint64_t fileTime);
// One line of a byte stream, CR, LF or CR LF ended; new string or null.
char* ReadTextLine(FILE* stream);
// The letter of the data item names of an entry: for a record of a network
// path (drive number 26) and any other, the one loading used.
WCHAR EntryDriveLetter(const BinEntry* entry);

// The letter in the data item names of a record's drive number: 'a' plus
// the number, so a network path (26) gives '{'.
WCHAR DriveLetterOf(uint32_t driveNumber);
// Reads a data item name: "D" (either case), one letter (lower-cased A-Z),
// the record number in decimal without leading zeros, then the end of the
// name or ".". False for every other name.
bool ParseDataItemName(const WCHAR* name, WCHAR* letter, uint32_t* number);
// A new string: the bin folder, a backslash unless it ends with one, and
// name. Null (nothing reported) when memory runs out.
WCHAR* BinChildPath(const WCHAR* name);

// The record numbers in use in the bin, read once, so that a caller that
// takes many numbers in one run need not search the folder for every
// candidate. A number n is in use when a live record of the index has it
// (whether or not its data item is there), or when some name (long or
// short) begins with "D", any one character and the decimal digits of n;
// so "Dc10.txt" puts both 1 and 10 in use.
//   BuildRecordNumberSet   one search of "D*.*" and one reading of the
//                          index; false, reported, when memory runs out
//                          (254) or either read fails (61), the set empty
//   MarkRecordNumberUsed   adds a number taken in this run; false when
//                          memory runs out (reported)
//   FirstFreeRecordNumber  the lowest number not in use, or with skipOne
//                          the second lowest; never fails
//   FreeRecordNumberSet    releases it (safe on a zeroed or failed set)
// Numbers below `limit` sit in a bitmap that always keeps two of them free,
// so a query never looks past it; larger ones wait in `above` until the
// bitmap grows over them.
struct RecordNumberSet {
    uint8_t* bits = nullptr;
    uint32_t limit = 0;
    uint32_t usedBelowLimit = 0;
    uint32_t lowestFree = 0;     // every number below it is in use
    uint32_t* above = nullptr;
    uint32_t aboveCount = 0;
    uint32_t aboveCapacity = 0;
};
bool BuildRecordNumberSet(RecordNumberSet* set, const BinEntry* leaving = nullptr);
bool MarkRecordNumberUsed(RecordNumberSet* set, uint32_t number);
uint32_t FirstFreeRecordNumber(RecordNumberSet* set, bool skipOne);
void FreeRecordNumberSet(RecordNumberSet* set);

// Reading the header of an index open for update: from offset 0, with a
// record size that can be trusted. False on a short read or a bad size.
bool ReadIndexHeaderAt(FILE* index, uint8_t bytes[INDEX_HEADER_SIZE], IndexHeader* header);
// Moves an index stream to an absolute offset; false beyond what a seek
// can reach.
bool SeekIndex(FILE* index, int64_t offset);

// Appending one record to an index open for update, so that it can be taken
// back: the record goes to the boundary after the last whole record (over a
// piece of a record a killed writer may have left, so the new one is read
// back), then the header is rewritten. Every write is flushed and checked;
// when one fails, the index is put back as it was.
struct IndexAppend {
    int64_t sizeBefore = 0;
    int64_t boundary = 0;                          // where the record went
    uint8_t headerBefore[INDEX_HEADER_SIZE] = {};
    uint8_t* tail = nullptr;                       // the piece that was there
    size_t tailLength = 0;
};
enum AppendResult { APPEND_OK, APPEND_FAILED, APPEND_NO_MEMORY };
AppendResult AppendIndexRecord(FILE* index, const uint8_t* record, uint32_t recordSize,
                               const uint8_t headerBefore[INDEX_HEADER_SIZE],
                               const uint8_t headerAfter[INDEX_HEADER_SIZE], IndexAppend* append);
// Puts the index back as it was before AppendIndexRecord: cut to the
// boundary, the old piece and header written back. False when a step fails.
bool WithdrawIndexRecord(FILE* index, const IndexAppend* append);
void FreeIndexAppend(IndexAppend* append);

// Bin location and detection.
bool CheckBinMarker(const WCHAR* folder);
bool DetectBinFormat(const WCHAR* folder);
WCHAR* FindDriveBin();
WCHAR* ChooseBin(int32_t drive);

// The bin's lock, held by every command that changes the store, from before
// it reads what it changes until the change is complete. Taken on the index
// file ("INFO", "INFO2") or, in the per-item layout, on desktop.ini; waits
// up to gRun.lockWaitMs for another run to let go. False after a report
// (busy: EXIT_BIN_BUSY; the file cannot be opened: EXIT_READ_FAILED).
bool LockBin();
void UnlockBin();

// Loading. With quiet, no "Reading" line (a reload under the lock).
bool LoadEntries(bool quiet = false);
void FreeEntries();
// One entry apart from the list: a deep copy (null when memory runs out),
// its release, and whether two entries are the same item of the store (the
// same record or $I file, path and time).
BinEntry* DuplicateEntry(const BinEntry* entry);
void FreeEntry(BinEntry* entry);
bool SameEntry(const BinEntry* a, const BinEntry* b);

#endif
