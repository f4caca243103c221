#include "bigbin.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/fs.h"
#include "platform/wide.h"
#include "store/store.h"

namespace {

const uint64_t FIRST_DELETION = 129171908960000000ULL;  // 2010-05-01 12:34:56 UTC
const uint32_t ITEM_SIZE = 4096;

// Where the files of a bin go: one call per file, named within the folder.
struct Sink {
    bool (*create)(const Sink& sink, const WCHAR* name, const void* bytes, size_t size);
    const WCHAR* wideFolder;
    const char* hostFolder;
};

bool CreateThroughFileLayer(const Sink& sink, const WCHAR* name, const void* bytes, size_t size) {
    WCHAR path[MAX_PATH];
    if (FormatWide(path, MAX_PATH, WIDE("%s\\%s"), sink.wideFolder, name) < 0) return false;
    FILE* stream = FsOpenFile(path, WIDE("wb"));
    if (stream == nullptr) return false;
    bool ok = size == 0 || FsWrite(bytes, size, stream);
    return FsClose(stream) && ok;
}

// The generated names are ASCII, so they pass to the host unchanged.
bool CreateOnHost(const Sink& sink, const WCHAR* name, const void* bytes, size_t size) {
    std::string path = std::string(sink.hostFolder) + "/";
    for (; *name != 0; ++name) path += (char)*name;
    FILE* stream = std::fopen(path.c_str(), "wb");
    if (stream == nullptr) return false;
    bool ok = size == 0 || std::fwrite(bytes, 1, size, stream) == size;
    return std::fclose(stream) == 0 && ok;
}

void OriginalPath(uint32_t i, WCHAR* path) {
    FormatWide(path, MAX_PATH, WIDE("C:\\bench\\folder%u\\file%06u.txt"), (unsigned)(i / 1000),
               (unsigned)i);
}

bool WriteIndexBin(const Sink& sink, uint32_t recordSize, uint32_t count) {
    std::string index;
    IndexHeader header = {5, count, count, recordSize, count * ITEM_SIZE};
    uint8_t headerBytes[HEADER_SIZE];
    EncodeIndexHeader(&header, headerBytes);
    index.append(reinterpret_cast<const char*>(headerBytes), sizeof headerBytes);
    uint8_t record[RECORD_SIZE_INFO2];
    for (uint32_t i = 0; i < count; ++i) {
        IndexRecord fields;
        std::memset(&fields, 0, sizeof fields);
        OriginalPath(i, fields.widePath);
        for (size_t k = 0; fields.widePath[k] != 0; ++k) fields.ansiPath[k] = (char)fields.widePath[k];
        fields.recordNumber = i;
        fields.driveNumber = 2;
        fields.deletionTime = FIRST_DELETION + 10000000ULL * i;
        fields.size = ITEM_SIZE;
        EncodeIndexRecord(&fields, recordSize, record);
        index.append(reinterpret_cast<const char*>(record), recordSize);
    }
    const WCHAR* name = recordSize >= RECORD_SIZE_INFO2 ? WIDE("INFO2") : WIDE("INFO");
    bool ok = sink.create(sink, name, index.data(), index.size());
    for (uint32_t i = 0; ok && i < count; ++i) {
        WCHAR item[32];
        FormatWide(item, 32, WIDE("Dc%u.txt"), (unsigned)i);
        ok = sink.create(sink, item, nullptr, 0);
    }
    return ok;
}

// Six characters of the number in base 36, as Windows' random names look.
void ItemCode(uint32_t i, WCHAR* code) {
    const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (int k = 5; k >= 0; --k) {
        code[k] = (WCHAR)digits[i % 36];
        i /= 36;
    }
    code[6] = 0;
}

// The marker that makes a folder a $I bin wherever it lies.
const char BIN_MARKER[] =
    "[.ShellClassInfo]\r\nCLSID={645FF040-5081-101B-9F08-00AA002F954E}\r\n"
    "LocalizedResourceName=@%SystemRoot%\\system32\\shell32.dll,-8964\r\n";

bool WriteItemBin(const Sink& sink, bool counted, uint32_t count) {
    bool ok = sink.create(sink, WIDE("desktop.ini"), BIN_MARKER, sizeof BIN_MARKER - 1);
    for (uint32_t i = 0; ok && i < count; ++i) {
        WCHAR original[MAX_PATH];
        OriginalPath(i, original);
        size_t units = WideLength(original) + 1;
        uint8_t bytes[ITEM_READ_LIMIT];
        std::memset(bytes, 0, sizeof bytes);
        WriteLe64(bytes + ITEM_VERSION_AT, counted ? ITEM_V2_VERSION : 1);
        WriteLe64(bytes + ITEM_FILE_SIZE_AT, ITEM_SIZE);
        WriteLe64(bytes + ITEM_DELETION_TIME_AT, FIRST_DELETION + 10000000ULL * i);
        size_t pathAt = counted ? ITEM_V2_PATH_AT : ITEM_V1_PATH_AT;
        if (counted) WriteLe32(bytes + ITEM_V2_PATH_UNITS_AT, (uint32_t)units);
        WriteWideField(bytes + pathAt, units, original);
        size_t size = counted ? pathAt + 2 * units : ITEM_V1_SIZE;
        WCHAR code[7];
        ItemCode(i, code);
        WCHAR name[32];
        FormatWide(name, 32, WIDE("$I%s.txt"), code);
        ok = sink.create(sink, name, bytes, size);
        FormatWide(name, 32, WIDE("$R%s.txt"), code);
        ok = ok && sink.create(sink, name, nullptr, 0);
    }
    return ok;
}

bool WriteLayout(const Sink& sink, BigBinLayout layout, uint32_t count) {
    switch (layout) {
        case BIG_BIN_INFO: return WriteIndexBin(sink, RECORD_SIZE_INFO, count);
        case BIG_BIN_INFO2: return WriteIndexBin(sink, RECORD_SIZE_INFO2, count);
        case BIG_BIN_ITEMS1: return WriteItemBin(sink, false, count);
        case BIG_BIN_ITEMS2: return WriteItemBin(sink, true, count);
    }
    return false;
}

}  // namespace

bool ParseBigBinLayout(const WCHAR* name, BigBinLayout* layout) {
    const struct {
        const WCHAR* name;
        BigBinLayout layout;
    } names[] = {{WIDE("info"), BIG_BIN_INFO},
                 {WIDE("info2"), BIG_BIN_INFO2},
                 {WIDE("items1"), BIG_BIN_ITEMS1},
                 {WIDE("items2"), BIG_BIN_ITEMS2}};
    for (const auto& entry : names) {
        if (WideCompareAsciiNoCase(name, entry.name) == 0) {
            *layout = entry.layout;
            return true;
        }
    }
    return false;
}

bool WriteBigBin(const WCHAR* folder, BigBinLayout layout, uint32_t count) {
    return WriteLayout(Sink{CreateThroughFileLayer, folder, nullptr}, layout, count);
}

bool WriteBigBinHost(const char* folder, BigBinLayout layout, uint32_t count) {
    return WriteLayout(Sink{CreateOnHost, nullptr, folder}, layout, count);
}
