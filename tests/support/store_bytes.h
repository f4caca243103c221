// The bin's stores built and read byte by byte for the tests, independent
// of the store's own encoders: little-endian fields, index headers and
// records, $I files of both versions, and the entries loading makes of
// them.
#ifndef DUSTPAIL_TESTS_SUPPORT_STORE_BYTES_H
#define DUSTPAIL_TESTS_SUPPORT_STORE_BYTES_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/runstate.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "store/store.h"

namespace storebytes {

typedef std::vector<uint8_t> Bytes;

// --- Little-endian fields ---------------------------------------------------

inline void PutLe(Bytes& bytes, size_t at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes[at + i] = (uint8_t)(value >> (8 * i));
}
inline uint64_t GetLe(const Bytes& bytes, size_t at, int width) {
    uint64_t value = 0;
    for (int i = 0; i < width; ++i) value |= (uint64_t)bytes[at + i] << (8 * i);
    return value;
}
inline void Put32(Bytes& bytes, size_t at, uint32_t value) { PutLe(bytes, at, value, 4); }
inline void Put64(Bytes& bytes, size_t at, uint64_t value) { PutLe(bytes, at, value, 8); }
inline uint32_t Get32(const Bytes& bytes, size_t at) { return (uint32_t)GetLe(bytes, at, 4); }
inline uint64_t Get64(const Bytes& bytes, size_t at) { return GetLe(bytes, at, 8); }

// UTF-16LE units from `at`, no terminator added.
inline void PutWide(Bytes& bytes, size_t at, const std::u16string& text) {
    for (size_t i = 0; i < text.size(); ++i) PutLe(bytes, at + 2 * i, text[i], 2);
}

// A 260-byte ANSI path field up to its terminator.
inline std::string AnsiField(const Bytes& bytes, size_t at) {
    std::string text;
    for (size_t i = at; i < at + 260 && bytes[i] != 0; ++i) text += (char)bytes[i];
    return text;
}

// A 260-unit UTF-16 path field up to its terminator, '?' for what is not ASCII.
inline std::string WideField(const Bytes& bytes, size_t at) {
    std::string text;
    for (size_t i = 0; i < 260; ++i) {
        uint16_t unit = (uint16_t)GetLe(bytes, at + 2 * i, 2);
        if (unit == 0) break;
        text += unit < 0x80 ? (char)unit : '?';
    }
    return text;
}

inline Bytes Slice(const Bytes& bytes, size_t at, size_t count) {
    return Bytes(bytes.begin() + (long)at, bytes.begin() + (long)(at + count));
}

inline uint64_t FileTimeOf(int64_t unixSeconds) {
    return ((uint64_t)unixSeconds + 11644473600ULL) * 10000000ULL;
}

// --- Index files (INFO, INFO2) -------------------------------------------------

struct Record {
    std::string ansiPath;
    std::u16string widePath;
    uint32_t number;
    uint32_t drive;
    uint64_t time;
    uint32_t size;
    bool removed;
};

inline Bytes Header(uint32_t version, uint32_t count, uint32_t next, uint32_t recordSize, uint32_t total) {
    Bytes bytes(20, 0);
    Put32(bytes, 0, version);
    Put32(bytes, 4, count);
    Put32(bytes, 8, next);
    Put32(bytes, 12, recordSize);
    Put32(bytes, 16, total);
    return bytes;
}

// One record of recordSize bytes; the bytes past the fixed fields are left
// as `filler` so that a test sees whether they are written back unchanged.
inline Bytes RecordBytes(const Record& record, uint32_t recordSize, uint8_t filler) {
    Bytes bytes(recordSize, filler);
    for (size_t i = 0; i < 260 && i < recordSize; ++i)
        bytes[i] = i < record.ansiPath.size() ? (uint8_t)record.ansiPath[i] : 0;
    if (record.removed) bytes[0] = 0;
    Put32(bytes, 260, record.number);
    Put32(bytes, 264, record.drive);
    Put64(bytes, 268, record.time);
    Put32(bytes, 276, record.size);
    if (recordSize >= 800) {
        std::fill(bytes.begin() + 280, bytes.begin() + 800, 0);
        PutWide(bytes, 280, record.widePath.substr(0, 260));
    }
    return bytes;
}

inline Bytes Index(const Bytes& header, uint32_t recordSize, const std::vector<Record>& records) {
    Bytes bytes = header;
    uint8_t filler = 0xA0;
    for (const Record& record : records) {
        Bytes one = RecordBytes(record, recordSize, filler++);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}

// --- $I files ----------------------------------------------------------------

// Version 1: 544 bytes, the path in a field of 260 units.
inline Bytes ItemV1(const std::u16string& path, uint64_t time, uint64_t size) {
    Bytes bytes(544, 0);
    Put64(bytes, 0, 1);
    Put64(bytes, 8, size);
    Put64(bytes, 16, time);
    PutWide(bytes, 24, path.substr(0, 260));
    return bytes;
}

// Version 2: the path counted in `count` units, terminator included (by
// default the whole path and its terminator).
inline Bytes ItemV2(const std::u16string& path, uint64_t time, uint64_t size, uint32_t count) {
    Bytes bytes(28 + 2 * (size_t)count, 0);
    Put64(bytes, 0, 2);
    Put64(bytes, 8, size);
    Put64(bytes, 16, time);
    Put32(bytes, 24, count);
    PutWide(bytes, 28, path.substr(0, count));
    return bytes;
}
inline Bytes ItemV2(const std::u16string& path, uint64_t time, uint64_t size) {
    return ItemV2(path, time, size, (uint32_t)path.size() + 1);
}

// --- Loaded entries ------------------------------------------------------------

// A loaded entry as the loader makes it from a record (wide when the
// record carries the UTF-16 path).
inline BinEntry* Entry(const Record& record, bool wide) {
    BinEntry* entry = static_cast<BinEntry*>(MemAlloc(sizeof(BinEntry)));
    *entry = BinEntry();
    if (wide) {
        entry->widePath = WideDuplicate((const WCHAR*)record.widePath.c_str());
    } else {
        entry->ansiPath = static_cast<char*>(MemAlloc(record.ansiPath.size() + 1));
        std::copy(record.ansiPath.begin(), record.ansiPath.end(), entry->ansiPath);
        entry->ansiPath[record.ansiPath.size()] = 0;
    }
    entry->recordNumber = record.number;
    entry->driveNumber = record.drive;
    entry->deletionTime = record.time;
    entry->size = record.size;
    return entry;
}

// A per-item entry: its original path and its $R item.
inline BinEntry* ItemEntry(const std::u16string& originalPath, const std::u16string& dataPath) {
    BinEntry* entry = static_cast<BinEntry*>(MemAlloc(sizeof(BinEntry)));
    *entry = BinEntry();
    entry->widePath = WideDuplicate((const WCHAR*)originalPath.c_str());
    entry->dataPath = WideDuplicate((const WCHAR*)dataPath.c_str());
    return entry;
}

}  // namespace storebytes

#endif
