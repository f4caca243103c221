// Loading the bin's items into the run's entry list.
#include <algorithm>
#include <cstring>

#include "platform/arrays.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "store/store.h"

namespace {

// The data items of an index bin, read from the folder in one search and
// sorted by (letter, number), so that each record is one lookup instead of
// one folder search: loading stays linear in the size of the bin.
struct DataItem {
    uint64_t key;       // letter << 32 | record number
    uint32_t order;     // position in the search, so the first one wins
    DWORD attributes;
    WCHAR* name;        // the item's file name, which the machine-readable listings give
    bool taken;         // the name belongs to an entry now
};

typedef GrowArray<DataItem, DataItem, PlainPolicy> DataItemTable;

uint64_t DataItemKey(WCHAR letter, uint32_t number) { return ((uint64_t)letter << 32) | number; }

bool AddDataItem(DataItemTable* table, uint64_t key, const WIN32_FIND_DATAW& found) {
    WCHAR* name = WideDuplicate(found.cFileName);
    if (name == nullptr) return false;
    if (table->Add(DataItem{key, (uint32_t)table->Length(), found.dwFileAttributes, name, false}) >= 0) return true;
    MemFree(name);
    return false;
}

bool DataItemBefore(const DataItem& a, const DataItem& b) {
    return a.key != b.key ? a.key < b.key : a.order < b.order;
}

// Fails when memory runs out or the search fails part way: a half-read
// folder would hide items and give wrong counts.
StoreStatus ReadDataItems(const Bin* bin, DataItemTable* table) {
    FolderWalk walk;
    FolderStep step = FirstInBinFolder(bin, &walk, WIDE("D*.*"));
    StoreStatus result = STORE_OK;
    for (; step == FOLDER_ENTRY; step = FsNextInFolder(&walk)) {
        WCHAR letter = 0;
        uint32_t number = 0;
        if (ParseDataItemName(walk.found.cFileName, &letter, &number) &&
            !AddDataItem(table, DataItemKey(letter, number), walk.found)) {
            result = STORE_NO_MEMORY;
            break;
        }
    }
    FsEndFolderWalk(&walk);
    if (result == STORE_OK && step == FOLDER_FAILED) result = STORE_READ_FAILED;
    // A lambda, which the sort takes in line, unlike a function pointer.
    if (result == STORE_OK)
        std::sort(table->storage, table->storage + table->Length(),
                  [](const DataItem& a, const DataItem& b) { return DataItemBefore(a, b); });
    return result;
}

// The position of the first item whose key is not below `key`. Records
// mostly come in the order of their numbers, so the search starts where
// the one before ended and widens its steps from there: a bin read in order
// touches its items in order, and any other order costs a binary search.
int32_t FirstNotBelow(const DataItemTable* table, int32_t from, uint64_t key) {
    const DataItem* items = table->storage;
    int32_t count = table->Length();
    if (from >= count && count > 0) from = count - 1;  // the lookup before went past the last item
    int32_t low = 0, high = count;  // the answer lies in [low, high]
    if (from < count && items[from].key < key) {
        low = from + 1;
        for (int64_t step = 1; from + step < count; step *= 2) {
            int32_t probe = (int32_t)(from + step);
            if (items[probe].key >= key) {
                high = probe;
                break;
            }
            low = probe + 1;
        }
    } else if (from < count) {
        high = from;
        for (int64_t step = 1; from - step >= 0; step *= 2) {
            int32_t probe = (int32_t)(from - step);
            if (items[probe].key < key) {
                low = probe + 1;
                break;
            }
            high = probe;
        }
    }
    while (low < high) {
        int32_t middle = low + (high - low) / 2;
        if (items[middle].key < key)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

// The first data item of (letter, number) in search order, as a search
// for that one record would have found it; `*finger` is where the lookup
// before ended.
DataItem* LookUpDataItem(DataItemTable* table, int32_t* finger, WCHAR letter, uint32_t number) {
    uint64_t key = DataItemKey(WideLowerAscii(letter), number);
    *finger = FirstNotBelow(table, *finger, key);
    return (*finger < table->Length() && table->storage[*finger].key == key) ? &table->storage[*finger] : nullptr;
}

// Two texts that may be absent: both absent, or both there and equal.
bool SameText(const char* a, const char* b) {
    return a == nullptr || b == nullptr ? a == b : std::strcmp(a, b) == 0;
}

bool SameText(const WCHAR* a, const WCHAR* b) {
    return a == nullptr || b == nullptr ? a == b : WideCompare(a, b) == 0;
}

char* DuplicateAnsi(const char* text) {
    size_t length = std::strlen(text);
    char* copy = static_cast<char*>(MemAlloc(length + 1));
    if (copy != nullptr) std::memcpy(copy, text, length + 1);
    return copy;
}

BinEntry* NewEntry() {
    BinEntry* entry = static_cast<BinEntry*>(MemAlloc(sizeof(BinEntry)));
    if (entry != nullptr) std::memset(entry, 0, sizeof *entry);
    return entry;
}

// Appends a complete entry; when memory runs out frees it.
bool AppendEntry(Bin* bin, BinEntry* entry) {
    if (bin->entries.Add(entry) >= 0) return true;
    FreeEntry(entry);
    return false;
}

// The table's cells are plain; the names they hold, where no entry took
// them, are freed here.
void FreeDataItemNames(DataItemTable* table) {
    for (int32_t i = 0; i < table->Length(); ++i)
        if (!table->At(i).taken) MemFree(table->At(i).name);
}

// The first entry of a data item takes its name over; another record of
// the same item (a damaged index) gets a copy.
BinEntry* EntryFromRecord(const IndexRecord& record, DataItem* item) {
    BinEntry* entry = NewEntry();
    if (entry == nullptr) return nullptr;
    entry->itemName = item->taken ? WideDuplicate(item->name) : item->name;
    item->taken = true;
    if (record.hasWidePath)
        entry->widePath = WideDuplicate(record.widePath);
    else
        entry->ansiPath = DuplicateAnsi(record.ansiPath);
    if (!HasOriginalPath(entry) || entry->itemName == nullptr) {
        FreeEntry(entry);
        return nullptr;
    }
    entry->recordNumber = record.recordNumber;
    entry->attributes = item->attributes;
    entry->deletionTime = record.deletionTime;
    entry->size = record.size;
    entry->driveNumber = record.driveNumber;
    return entry;
}

// Reads the next whole record; false at the end of the records, with *ok
// cleared when the end came from a read error.
bool ReadRecord(uint8_t* buffer, uint32_t recordSize, FILE* stream, bool* ok) {
    size_t got = FsRead(buffer, recordSize, stream);
    if (got == recordSize) return true;
    if (FsReadFailed(stream)) *ok = false;
    return false;
}

StoreStatus ReadIndexRecords(Bin* bin, FILE* stream, uint32_t recordSize, DataItemTable* table) {
    uint8_t* buffer = static_cast<uint8_t*>(MemAlloc(recordSize));
    if (buffer == nullptr) return STORE_NO_MEMORY;
    StoreStatus result = STORE_OK;
    bool readOk = true;
    int32_t finger = 0;
    // A trailing piece shorter than a record is the normal end; a read that
    // fails is not.
    while (result == STORE_OK && ReadRecord(buffer, recordSize, stream, &readOk)) {
        IndexRecord record;
        DecodeIndexRecord(buffer, recordSize, &record);
        if (!record.live) continue;
        DataItem* item =
            LookUpDataItem(table, &finger, DriveLetterOf(record.driveNumber), record.recordNumber);
        if (item == nullptr) continue;  // its item has left the bin folder
        BinEntry* entry = EntryFromRecord(record, item);
        if (entry == nullptr || !AppendEntry(bin, entry)) result = STORE_NO_MEMORY;
    }
    MemFree(buffer);
    if (result == STORE_OK && !readOk) result = STORE_READ_FAILED;
    return result;
}

// Small enough to stay in the processor's cache between reads: copying a
// big index through a buffer four times this size took longer.
const size_t INDEX_READ_AHEAD_BYTES = 64 * 1024;

StoreStatus LoadIndexEntries(Bin* bin) {
    FILE* stream = OpenIndexFile(bin, nullptr);
    if (stream == nullptr) return STORE_READ_FAILED;
    // The index is read once from start to end; without the buffer a big
    // one costs a read call per few records. Without it, it is read as is.
    char* readAhead = static_cast<char*>(MemAlloc(INDEX_READ_AHEAD_BYTES));
    if (readAhead != nullptr) FsReadAhead(stream, readAhead, INDEX_READ_AHEAD_BYTES);
    FreeEntries(bin);
    uint8_t headerBytes[HEADER_SIZE];
    IndexHeader header;
    StoreStatus result = STORE_READ_FAILED;
    if (FsReadExact(headerBytes, HEADER_SIZE, stream)) {
        DecodeIndexHeader(headerBytes, &header);
        if (IsRecordSizeValid(header.recordSize)) result = STORE_OK;
    }
    if (result == STORE_OK) {
        DataItemTable table;
        result = ReadDataItems(bin, &table);
        if (result == STORE_OK) result = ReadIndexRecords(bin, stream, header.recordSize, &table);
        FreeDataItemNames(&table);
    }
    FsClose(stream);
    MemFree(readAhead);
    return result;
}

// One $I file as an entry: null when the file is to be passed over
// (unreadable, short, damaged); *failed is set when memory ran out.
BinEntry* EntryFromItemFile(const Bin* bin, const WCHAR* name, bool* failed) {
    WCHAR* infoPath = BinChildPath(bin, name);
    if (infoPath == nullptr) {
        *failed = true;
        return nullptr;
    }
    FILE* stream = FsOpenFile(infoPath, WIDE("rb"));
    if (stream == nullptr) {
        MemFree(infoPath);
        return nullptr;
    }
    // Never more than a version-2 file with the longest path can use.
    uint8_t bytes[ITEM_READ_LIMIT];
    size_t length = FsRead(bytes, sizeof bytes, stream);
    FsClose(stream);
    ItemInfoRecord record;
    if (!DecodeItemInfo(bytes, length, &record)) {
        MemFree(infoPath);
        return nullptr;
    }
    // The data item has the same name with "$R" for "$I".
    WCHAR* dataPath = infoPath;
    dataPath[WideLength(dataPath) - WideLength(name) + 1] = 'R';
    BinEntry* entry = NewEntry();
    WCHAR* widePath = entry != nullptr ? WideDuplicate(record.originalPath) : nullptr;
    if (widePath == nullptr) {
        MemFree(entry);
        MemFree(dataPath);
        *failed = true;
        return nullptr;
    }
    DWORD attributes = FsGetFileAttributes(dataPath);
    entry->widePath = widePath;
    entry->attributes = attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes;
    entry->deletionTime = record.deletionTime;
    entry->size = record.fileSize;
    entry->dataPath = dataPath;
    return entry;
}

StoreStatus LoadItemEntries(Bin* bin) {
    FreeEntries(bin);
    FolderWalk walk;
    FolderStep step = FirstInBinFolder(bin, &walk, WIDE("$I*.*"));
    StoreStatus result = STORE_OK;
    for (; step == FOLDER_ENTRY; step = FsNextInFolder(&walk)) {
        const WCHAR* name = walk.found.cFileName;
        // A folder named like an index file, or a name that matched only
        // by its short form, holds no item.
        if ((walk.found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        if (name[0] != '$' || (name[1] != 'I' && name[1] != 'i')) continue;
        bool failed = false;
        BinEntry* entry = EntryFromItemFile(bin, name, &failed);
        if (failed || (entry != nullptr && !AppendEntry(bin, entry))) {
            result = STORE_NO_MEMORY;
            break;
        }
    }
    FsEndFolderWalk(&walk);
    if (result == STORE_OK && step == FOLDER_FAILED) result = STORE_READ_FAILED;
    return result;
}

}  // namespace

void FreeEntry(BinEntry* entry) {
    if (entry == nullptr) return;
    DropOriginalPath(entry);
    MemFree(entry->dataPath);
    MemFree(entry->itemName);
    MemFree(entry);
}

bool HasOriginalPath(const BinEntry* entry) { return entry->ansiPath != nullptr || entry->widePath != nullptr; }

void DropOriginalPath(BinEntry* entry) {
    MemFree(entry->ansiPath);
    MemFree(entry->widePath);
    entry->ansiPath = nullptr;
    entry->widePath = nullptr;
}

BinEntry* DuplicateEntry(const BinEntry* entry) {
    BinEntry* copy = NewEntry();
    if (copy == nullptr) return nullptr;
    *copy = *entry;
    copy->ansiPath = entry->ansiPath != nullptr ? DuplicateAnsi(entry->ansiPath) : nullptr;
    copy->widePath = entry->widePath != nullptr ? WideDuplicate(entry->widePath) : nullptr;
    copy->dataPath = entry->dataPath != nullptr ? WideDuplicate(entry->dataPath) : nullptr;
    copy->itemName = entry->itemName != nullptr ? WideDuplicate(entry->itemName) : nullptr;
    if (HasOriginalPath(copy) != HasOriginalPath(entry) || (copy->dataPath == nullptr) != (entry->dataPath == nullptr) ||
        (copy->itemName == nullptr) != (entry->itemName == nullptr)) {
        FreeEntry(copy);
        return nullptr;
    }
    return copy;
}

bool SameEntry(const BinEntry* a, const BinEntry* b) {
    return a->recordNumber == b->recordNumber && a->driveNumber == b->driveNumber &&
           a->deletionTime == b->deletionTime && SameText(a->ansiPath, b->ansiPath) &&
           SameText(a->widePath, b->widePath) && SameText(a->dataPath, b->dataPath);
}

bool LoadEntries(Bin* bin, StoreStatus* status) {
    StoreStatus result = bin->format == FORMAT_ITEM_FILES ? LoadItemEntries(bin) : LoadIndexEntries(bin);
    SetStoreStatus(status, result);
    return result == STORE_OK;
}

void FreeEntries(Bin* bin) {
    for (int32_t i = 0; i < bin->entries.Length(); ++i)
        FreeEntry(static_cast<BinEntry*>(bin->entries.At(i)));
    bin->entries.RemoveAll();
}
