// Index files and loaded entries built byte by byte for the operations'
// tests, independent of the store's own encoders.
#ifndef DUSTPAIL_TESTS_OPS_INDEX_BYTES_H
#define DUSTPAIL_TESTS_OPS_INDEX_BYTES_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/runstate.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "store/store.h"

namespace indexbytes {

struct Record {
    std::string ansiPath;
    std::u16string widePath;
    uint32_t number;
    uint32_t drive;
    uint64_t time;
    uint32_t size;
    bool removed;
};

inline void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = (uint8_t)(value >> (8 * i));
}

inline uint32_t Get32(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= (uint32_t)bytes[at + i] << (8 * i);
    return value;
}

inline std::vector<uint8_t> Header(uint32_t version, uint32_t count, uint32_t next,
                                   uint32_t recordSize, uint32_t total) {
    std::vector<uint8_t> bytes(20, 0);
    Put32(bytes, 0, version);
    Put32(bytes, 4, count);
    Put32(bytes, 8, next);
    Put32(bytes, 12, recordSize);
    Put32(bytes, 16, total);
    return bytes;
}

// One record of recordSize bytes; the bytes past the fixed fields are left
// as `filler` so that a test sees whether they are written back unchanged.
inline std::vector<uint8_t> RecordBytes(const Record& record, uint32_t recordSize, uint8_t filler) {
    std::vector<uint8_t> bytes(recordSize, filler);
    for (size_t i = 0; i < 260 && i < recordSize; ++i)
        bytes[i] = i < record.ansiPath.size() ? (uint8_t)record.ansiPath[i] : 0;
    if (record.removed) bytes[0] = 0;
    Put32(bytes, 260, record.number);
    Put32(bytes, 264, record.drive);
    Put32(bytes, 268, (uint32_t)record.time);
    Put32(bytes, 272, (uint32_t)(record.time >> 32));
    Put32(bytes, 276, record.size);
    if (recordSize >= 800)
        for (size_t i = 0; i < 260; ++i) {
            char16_t ch = i < record.widePath.size() ? record.widePath[i] : 0;
            bytes[280 + 2 * i] = (uint8_t)ch;
            bytes[281 + 2 * i] = (uint8_t)(ch >> 8);
        }
    return bytes;
}

inline std::vector<uint8_t> Index(const std::vector<uint8_t>& header, uint32_t recordSize,
                                  const std::vector<Record>& records) {
    std::vector<uint8_t> bytes = header;
    uint8_t filler = 0xA0;
    for (const Record& record : records) {
        std::vector<uint8_t> one = RecordBytes(record, recordSize, filler++);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}

// A loaded entry as the loader makes it from a record (wide when the
// record carries the UTF-16 path).
inline BinEntry* Entry(const Record& record, bool wide) {
    BinEntry* entry = static_cast<BinEntry*>(MemAlloc(sizeof(BinEntry)));
    *entry = BinEntry();
    entry->isWide = wide ? 1 : 0;
    if (wide) {
        entry->originalPath = WideDuplicate((const WCHAR*)record.widePath.c_str());
    } else {
        char* path = static_cast<char*>(MemAlloc(record.ansiPath.size() + 1));
        std::copy(record.ansiPath.begin(), record.ansiPath.end(), path);
        path[record.ansiPath.size()] = 0;
        entry->originalPath = path;
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
    entry->isWide = 1;
    entry->originalPath = WideDuplicate((const WCHAR*)originalPath.c_str());
    entry->dataPath = WideDuplicate((const WCHAR*)dataPath.c_str());
    return entry;
}

// A $I file of version 1 (544 bytes), as the loader reads it back into
// ItemEntry(originalPath, ...) with the given time and size.
inline std::vector<uint8_t> ItemInfo(const std::u16string& originalPath, uint64_t time, uint64_t size) {
    std::vector<uint8_t> bytes(544, 0);
    bytes[0] = 1;
    for (int i = 0; i < 8; ++i) {
        bytes[8 + i] = (uint8_t)(size >> (8 * i));
        bytes[16 + i] = (uint8_t)(time >> (8 * i));
    }
    for (size_t i = 0; i < originalPath.size() && i < 259; ++i) {
        bytes[24 + 2 * i] = (uint8_t)originalPath[i];
        bytes[25 + 2 * i] = (uint8_t)(originalPath[i] >> 8);
    }
    return bytes;
}

// Lets go of a lock a command or test left, then forgets the run.
inline void ClearRun() {
    UnlockBin();
    for (int32_t i = 0; i < gRun.entries.Length(); ++i) {
        BinEntry* entry = static_cast<BinEntry*>(gRun.entries.At(i));
        MemFree(entry->originalPath);
        MemFree(entry->dataPath);
        MemFree(entry);
    }
    gRun.entries.RemoveAll();
    MemFree(gRun.binPath);
    MemFree(gRun.restorePath);
    gRun.binPath = nullptr;
    gRun.restorePath = nullptr;
    gRun.exitCode = 0;
    gRun.options = 0;
    gRun.index = 0;
    gRun.binFormat = FORMAT_NONE;
    gRun.language = LANGUAGE_ENGLISH;
}

inline void StartRun(const WCHAR* binPath, BinFormat format) {
    ClearRun();
    gRun.binPath = WideDuplicate(binPath);
    gRun.binFormat = format;
}

}  // namespace indexbytes

#endif
