// The bin's store: the entries loaded from it and the operations every
// reader and writer shares (its byte layouts: store/layout.h). The store
// prints nothing and keeps no run state: a call that can fail returns its
// usual result and tells what it met through a StoreStatus, which the
// command that made the call reports (app/bins.h).
#ifndef DUSTPAIL_STORE_STORE_H
#define DUSTPAIL_STORE_STORE_H

#include <cstdint>
#include <cstdio>

#include "platform/arrays.h"
#include "platform/fs.h"
#include "platform/sysapi.h"
#include "store/layout.h"

typedef uint8_t BinFormat;
enum : BinFormat {
    FORMAT_NONE = 0,
    FORMAT_INFO = 1,
    FORMAT_INFO2 = 2,
    FORMAT_ITEM_FILES = 4,
};

// What a store call met. A call that can fail takes `StoreStatus* status`
// last and sets it on every return; the caller may pass null when the
// reason is of no use to it (a benchmark, a test).
typedef uint8_t StoreStatus;
enum : StoreStatus {
    STORE_OK = 0,
    STORE_NO_MEMORY = 1,    // an allocation failed
    STORE_READ_FAILED = 2,  // a file or the bin folder could not be opened or read whole
    STORE_BUSY = 3,         // another run holds the bin's lock
};
// For the store's own calls: records `value` where the caller asked for it.
inline void SetStoreStatus(StoreStatus* status, StoreStatus value) {
    if (status != nullptr) *status = value;
}

// ReadTextLine keeps at most this many bytes of a line and drops the rest,
// so that a file without line breaks cannot take memory without bound.
const size_t TEXT_LINE_LIMIT = 65536;

struct BinEntry {
    // The original path as stored: in the ANSI code page by records that
    // carry no UTF-16 path (INFO, INFO2 of records under 800 bytes), else
    // in UTF-16. One of the two is set; neither once the entry has been
    // taken out of the store.
    char* ansiPath;
    WCHAR* widePath;
    uint32_t recordNumber;
    uint32_t attributes;
    uint64_t deletionTime;       // FILETIME as a 64-bit count
    uint64_t size;               // bytes as recorded ($I files carry 64 bits)
    WCHAR* dataPath;             // per-item layout: the $R item
    uint32_t driveNumber;        // index layouts: the record's drive number
    WCHAR* itemName;             // index layouts: the data item's file name
};

// The bin a run works on: its folder and layout, the entries loaded from
// it, and the lock a command holds while it changes the bin.
struct Bin {
    WCHAR* path = nullptr;
    BinFormat format = FORMAT_NONE;
    PtrArray entries;       // BinEntry*, in load order
    FILE* lock = nullptr;   // the locked file, open for update (the index of an index layout)
};

// The store operations.
// The full path of the index file of an index layout ("INFO", "INFO2");
// false for the per-item layout or a path that does not fit.
bool IndexFilePath(const Bin* bin, WCHAR path[MAX_PATH]);
FILE* OpenIndexFile(const Bin* bin, const WCHAR* mode);
// The data item of a record, looked up by drive letter and number. With
// wantPath a new full path (caller frees), otherwise its attributes. False
// when there is none, or (STORE_NO_MEMORY) when the path could not be made.
bool FindDataItem(const Bin* bin, WCHAR letter, uint32_t recordNumber, bool wantPath, WCHAR** path,
                  DWORD* attributes, StoreStatus* status = nullptr);
// The lowest record number in use by no data item and no live record
// (with skipOne the second lowest); `leaving`, when given, names a record
// about to be removed, whose number does not count. One folder search and
// one reading of the index; 0 when memory runs out or a read fails.
uint32_t FreeRecordNumber(const Bin* bin, bool skipOne, const BinEntry* leaving = nullptr,
                          StoreStatus* status = nullptr);
// One line of a byte stream, CR, LF or CR LF ended; new string, or null at
// the end of the stream or when memory runs out (STORE_NO_MEMORY).
char* ReadTextLine(FILE* stream, StoreStatus* status = nullptr);
// The letter of the data item names of an entry: for a record of a network
// path (drive number 26) and any other, the one loading used.
WCHAR EntryDriveLetter(const BinEntry* entry);

// A new string: the bin folder, a backslash unless it ends with one, and
// name. Null (nothing reported) when memory runs out.
WCHAR* BinChildPath(const Bin* bin, const WCHAR* name);
// Starts a walk over the names of the bin folder that a pattern ("D*.*")
// matches; FOLDER_FAILED, without a search, when the path would not fit.
FolderStep FirstInBinFolder(const Bin* bin, FolderWalk* walk, const WCHAR* pattern);

// The record numbers in use in the bin, read once, so that a caller that
// takes many numbers in one run need not search the folder for every
// candidate. A number n is in use when a live record of the index has it
// (whether or not its data item is there), or when some name (long or
// short) begins with "D", any one character and the decimal digits of n;
// so "Dc10.txt" puts both 1 and 10 in use.
//   BuildRecordNumberSet   one search of "D*.*" and one reading of the
//                          index; false when memory runs out or either
//                          read fails, the set empty
//   MarkRecordNumberUsed   adds a number taken in this run; false when
//                          memory runs out
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
    NumberArray above;
};
bool BuildRecordNumberSet(const Bin* bin, RecordNumberSet* set, const BinEntry* leaving = nullptr,
                          StoreStatus* status = nullptr);
bool MarkRecordNumberUsed(RecordNumberSet* set, uint32_t number);
uint32_t FirstFreeRecordNumber(RecordNumberSet* set, bool skipOne);
void FreeRecordNumberSet(RecordNumberSet* set);

// Reading the header of an index open for update: from offset 0, with a
// record size that can be trusted. False on a short read or a bad size.
bool ReadIndexHeaderAt(FILE* index, uint8_t bytes[HEADER_SIZE], IndexHeader* header);
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
    uint8_t headerBefore[HEADER_SIZE] = {};
    uint8_t* tail = nullptr;                       // the piece that was there
    size_t tailLength = 0;
};
enum AppendResult { APPEND_OK, APPEND_FAILED, APPEND_NO_MEMORY };
AppendResult AppendIndexRecord(FILE* index, const uint8_t* record, uint32_t recordSize,
                               const uint8_t headerBefore[HEADER_SIZE],
                               const uint8_t headerAfter[HEADER_SIZE], IndexAppend* append);
// Puts the index back as it was before AppendIndexRecord: cut to the
// boundary, the old piece and header written back. False when a step fails.
bool WithdrawIndexRecord(FILE* index, const IndexAppend* append);
void FreeIndexAppend(IndexAppend* append);

// Bin location and detection. DetectBinFormat gives FORMAT_NONE for a
// folder that is no bin, and when memory runs out reading its marker.
bool CheckBinMarker(const WCHAR* folder, StoreStatus* status = nullptr);
BinFormat DetectBinFormat(const WCHAR* folder, StoreStatus* status = nullptr);
// The drive's (1 = A:) one bin, a new string; null when it has none, when
// the search failed (status), or with *choose set when there are several
// to choose from (ListDriveBins).
WCHAR* FindDriveBin(int32_t drive, bool* choose, StoreStatus* status = nullptr);
// Every bin of the drive, in the order they are offered; false when memory
// runs out.
bool ListDriveBins(int32_t drive, StringArray* bins, StoreStatus* status = nullptr);

// The bin's lock, held by every command that changes the store, from before
// it reads what it changes until the change is complete. Taken on the index
// file ("INFO", "INFO2") or, in the per-item layout, on desktop.ini; waits
// up to waitMs for another run to let go, calling `waiting` (when given)
// once the wait has lasted long enough to be shown. False when the bin is
// busy (STORE_BUSY) or its file cannot be opened or locked (STORE_READ_FAILED).
bool LockBin(Bin* bin, uint32_t waitMs, StoreStatus* status = nullptr, void (*waiting)() = nullptr);
void UnlockBin(Bin* bin);

// Loading: the bin's entries replace the list. False when memory runs out
// or the index or the folder cannot be read whole.
bool LoadEntries(Bin* bin, StoreStatus* status = nullptr);
void FreeEntries(Bin* bin);
// One entry apart from the list: a deep copy (null when memory runs out),
// its release, and whether two entries are the same item of the store (the
// same record or $I file, path and time).
BinEntry* DuplicateEntry(const BinEntry* entry);
void FreeEntry(BinEntry* entry);
bool HasOriginalPath(const BinEntry* entry);
// Frees the original path, as once the entry has left the store.
void DropOriginalPath(BinEntry* entry);
bool SameEntry(const BinEntry* a, const BinEntry* b);

#endif
