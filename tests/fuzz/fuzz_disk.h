// A bin folder held in memory behind `gSys`, for the fuzz targets: a fixed
// set of names, one of which has the fuzzer's bytes as its content.
#ifndef DUSTPAIL_TESTS_FUZZ_DISK_H
#define DUSTPAIL_TESTS_FUZZ_DISK_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/runstate.h"
#include "platform/fs.h"
#include "platform/wide.h"

namespace fuzzdisk {

const char16_t BIN[] = u"F:\\bin";

struct Name {
    const char16_t* name;
    DWORD attributes;
};

// Data items of several records, item files and a bin marker.
const Name NAMES[] = {
    {u"Dc0.txt", FILE_ATTRIBUTE_ARCHIVE},     {u"Dc1", FILE_ATTRIBUTE_DIRECTORY},
    {u"Dc10.txt", FILE_ATTRIBUTE_ARCHIVE},    {u"D{2.xls", FILE_ATTRIBUTE_HIDDEN},
    {u"DC3.TXT", FILE_ATTRIBUTE_READONLY},    {u"Da4294967295", FILE_ATTRIBUTE_ARCHIVE},
    {u"Dc07.txt", FILE_ATTRIBUTE_ARCHIVE},    {u"desktop.ini", FILE_ATTRIBUTE_ARCHIVE},
    {u"$IAAAAAA.txt", FILE_ATTRIBUTE_ARCHIVE}, {u"$RAAAAAA.txt", FILE_ATTRIBUTE_ARCHIVE},
    {u"$IFOLDER", FILE_ATTRIBUTE_DIRECTORY},  {u"$IBBBBBB", FILE_ATTRIBUTE_ARCHIVE},
    {u"INFO", FILE_ATTRIBUTE_ARCHIVE},        {u"INFO2", FILE_ATTRIBUTE_ARCHIVE},
};
const size_t NAME_COUNT = sizeof NAMES / sizeof NAMES[0];

// The fuzzer's bytes stand behind every file that is opened.
inline const uint8_t* gData = nullptr;
inline size_t gSize = 0;
inline std::vector<uint8_t> gCopy;

struct Search {
    std::u16string prefix;  // the pattern's name before "*.*", lower-cased
    size_t next;
};

inline std::u16string Lower(const std::u16string& text) {
    std::u16string out;
    for (char16_t ch : text) out += (char16_t)WideLowerAscii((WCHAR)ch);
    return out;
}

inline bool Matches(const Search& search, const char16_t* name) {
    std::u16string lower = Lower(name);
    if (lower.size() < search.prefix.size()) return false;
    for (size_t i = 0; i < search.prefix.size(); ++i)
        if (search.prefix[i] != u'?' && search.prefix[i] != lower[i]) return false;
    return true;
}

inline bool Advance(Search* search, WIN32_FIND_DATAW* data) {
    for (; search->next < NAME_COUNT; ++search->next) {
        const Name& name = NAMES[search->next];
        if (!Matches(*search, name.name)) continue;
        std::memset(data, 0, sizeof *data);
        data->dwFileAttributes = name.attributes;
        for (size_t i = 0; name.name[i] != 0; ++i) data->cFileName[i] = (WCHAR)name.name[i];
        ++search->next;
        return true;
    }
    return false;
}

inline HANDLE FindFirst(const WCHAR* pattern, WIN32_FIND_DATAW* data) {
    std::u16string text(reinterpret_cast<const char16_t*>(pattern));
    size_t slash = text.rfind(u'\\');
    std::u16string mask = text.substr(slash + 1);
    if (text.substr(0, slash) != BIN || mask.size() < 3 || mask.substr(mask.size() - 3) != u"*.*")
        return INVALID_HANDLE_VALUE;
    Search* search = new Search{Lower(mask.substr(0, mask.size() - 3)), 0};
    if (!Advance(search, data)) {
        delete search;
        return INVALID_HANDLE_VALUE;
    }
    return search;
}

inline BOOL FindNext(HANDLE handle, WIN32_FIND_DATAW* data) {
    return Advance(static_cast<Search*>(handle), data) ? TRUE : FALSE;
}

inline BOOL FindClose(HANDLE handle) {
    delete static_cast<Search*>(handle);
    return TRUE;
}

inline FILE* Open(const WCHAR*, const WCHAR* mode) {
    if (mode[0] != 'r' || mode[1] == '+') return nullptr;  // nothing is ever written
    if (gSize == 0) return std::fopen("/dev/null", "rb");
    gCopy.assign(gData, gData + gSize);
    return fmemopen(gCopy.data(), gCopy.size(), "rb");
}

inline FILE* OpenAnsi(const char*, const char*) { return nullptr; }

inline DWORD Attributes(const WCHAR* path) {
    std::u16string text(reinterpret_cast<const char16_t*>(path));
    for (const Name& name : NAMES)
        if (Lower(text) == Lower(std::u16string(BIN) + u"\\" + name.name)) return name.attributes;
    return INVALID_FILE_ATTRIBUTES;
}

inline DWORD NoError() { return 0; }

// Puts the fake disk in place, the bin path set and standard output muted.
inline void Install() {
    gSys.findFirstFileW = FindFirst;
    gSys.findNextFileW = FindNext;
    gSys.findClose = FindClose;
    gSys.wopen = Open;
    gSys.open = OpenAnsi;
    gSys.getFileAttributesW = Attributes;
    gSys.getLastError = NoError;
    static std::u16string bin(BIN);
    gRun.binPath = reinterpret_cast<WCHAR*>(&bin[0]);
    gRun.language = LANGUAGE_ENGLISH;
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}

inline void Feed(const uint8_t* data, size_t size) {
    gData = data;
    gSize = size;
    gRun.exitCode = 0;
}

}  // namespace fuzzdisk

#endif
