// The record numbers in use in a bin: a bitmap of the numbers that the
// data item names and the live records of the index take, read once and
// kept current while a run takes more.
#include <cstring>

#include "platform/fs.h"
#include "platform/memory.h"
#include "store/store.h"

namespace {

// The bitmap of record numbers never starts smaller than this.
const uint32_t MIN_NUMBER_LIMIT = 64;

bool IsDigit(WCHAR ch) { return ch >= '0' && ch <= '9'; }

bool IsBitSet(const RecordNumberSet* set, uint32_t n) {
    return (set->bits[n / 8] & (1u << (n % 8))) != 0;
}

bool IsNumberUsed(const RecordNumberSet* set, uint32_t n) {
    if (n < set->limit) return IsBitSet(set, n);
    // Only reached after a failed growth left the bitmap full.
    for (int32_t i = 0; i < set->above.Length(); ++i)
        if (set->above.At(i) == n) return true;
    return false;
}

// Sets the bit of n (n below the limit); true when it was clear.
bool SetBit(RecordNumberSet* set, uint32_t n) {
    if (IsBitSet(set, n)) return false;
    set->bits[n / 8] = (uint8_t)(set->bits[n / 8] | (1u << (n % 8)));
    ++set->usedBelowLimit;
    return true;
}

bool AppendAbove(RecordNumberSet* set, uint32_t n) { return set->above.Add(n) >= 0; }

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
    int32_t kept = 0;
    for (int32_t i = 0; i < set->above.Length(); ++i) {
        uint32_t n = set->above.At(i);
        if (n < set->limit)
            SetBit(set, n);
        else
            set->above.storage[kept++] = n;
    }
    set->above.Shorten(kept);
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

StoreStatus CollectFolderNumbers(const Bin* bin, RecordNumberSet* set) {
    FolderWalk walk;
    FolderStep step = FirstInBinFolder(bin, &walk, WIDE("D*.*"));
    StoreStatus result = STORE_OK;
    for (; step == FOLDER_ENTRY; step = FsNextInFolder(&walk)) {
        // The system matches a pattern against the short name too.
        if (!CollectNamePrefixes(set, walk.found.cFileName) ||
            !CollectNamePrefixes(set, walk.found.cAlternateFileName)) {
            result = STORE_NO_MEMORY;
            break;
        }
    }
    FsEndFolderWalk(&walk);
    if (step == FOLDER_FAILED) result = STORE_READ_FAILED;
    return result;
}

// Every live record keeps its number, whether or not its data item is
// there: a record left by a killed or failed run would otherwise claim the
// new item that takes its number, and deleting it would destroy that item.
StoreStatus CollectIndexNumbers(const Bin* bin, RecordNumberSet* set, const BinEntry* leaving) {
    if (bin->format != FORMAT_INFO && bin->format != FORMAT_INFO2) return STORE_OK;
    FILE* index = OpenIndexFile(bin, WIDE("rb"));
    if (index == nullptr) return STORE_READ_FAILED;
    uint8_t headerBytes[HEADER_SIZE];
    IndexHeader header;
    StoreStatus result = STORE_READ_FAILED;
    int64_t size = -1;
    if (ReadIndexHeaderAt(index, headerBytes, &header) && FsSeek(index, 0, SEEK_END))
        size = FsTell(index);
    if (size >= (int64_t)HEADER_SIZE && SeekIndex(index, HEADER_SIZE)) {
        uint8_t fixed[RECORD_SIZE_INFO];
        result = STORE_OK;
        // Whole records only, as loading reads them: a piece of a record at
        // the end is where the next one goes. Of each record the fixed
        // fields are read, the rest skipped.
        int64_t records = (size - HEADER_SIZE) / header.recordSize;
        bool passed = leaving == nullptr;
        for (int64_t i = 0; result == STORE_OK && i < records; ++i) {
            if (!FsReadExact(fixed, sizeof fixed, index)) {
                result = STORE_READ_FAILED;
                break;
            }
            IndexRecord record;
            DecodeIndexRecord(fixed, RECORD_SIZE_INFO, &record);
            if (record.live && !passed && record.recordNumber == leaving->recordNumber &&
                record.driveNumber == leaving->driveNumber &&
                record.deletionTime == leaving->deletionTime) {
                passed = true;  // the record being removed
            } else if (record.live && !AppendAbove(set, record.recordNumber)) {
                result = STORE_NO_MEMORY;
            }
            if (header.recordSize > sizeof fixed &&
                !FsSeek(index, (long)(header.recordSize - sizeof fixed), SEEK_CUR))
                result = STORE_READ_FAILED;
        }
        if (result == STORE_OK && FsReadFailed(index)) result = STORE_READ_FAILED;
    }
    FsClose(index);
    return result;
}

}  // namespace

bool BuildRecordNumberSet(const Bin* bin, RecordNumberSet* set, const BinEntry* leaving, StoreStatus* status) {
    FreeRecordNumberSet(set);
    StoreStatus result = CollectFolderNumbers(bin, set);
    if (result == STORE_OK) result = CollectIndexNumbers(bin, set, leaving);
    if (result == STORE_OK && (!GrowBitmap(set, (uint64_t)set->above.Length() + 2) || !KeepTwoFree(set)))
        result = STORE_NO_MEMORY;
    if (result != STORE_OK) FreeRecordNumberSet(set);
    SetStoreStatus(status, result);
    return result == STORE_OK;
}

bool MarkRecordNumberUsed(RecordNumberSet* set, uint32_t number) {
    if (number >= set->limit) return AppendAbove(set, number);
    SetBit(set, number);
    return KeepTwoFree(set);
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
    *set = RecordNumberSet();
}

uint32_t FreeRecordNumber(const Bin* bin, bool skipOne, const BinEntry* leaving, StoreStatus* status) {
    RecordNumberSet set;
    if (!BuildRecordNumberSet(bin, &set, leaving, status)) return 0;
    uint32_t number = FirstFreeRecordNumber(&set, skipOne);
    FreeRecordNumberSet(&set);
    return number;
}
