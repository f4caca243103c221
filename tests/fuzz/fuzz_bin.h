// The bin the fuzz targets read, on the tests' fake disk: a fixed set of
// names in F:\bin, every file of which reads the fuzzer's bytes.
#ifndef DUSTPAIL_TESTS_FUZZ_BIN_H
#define DUSTPAIL_TESTS_FUZZ_BIN_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/runstate.h"
#include "support/fake_disk.h"

namespace fuzzbin {

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

inline fakedisk::Disk gDisk;
inline std::vector<uint8_t> gBytes;

// Puts the fake disk in place with the bin on it, the bin path set and
// standard output muted.
inline void Install() {
    fakedisk::Install(&gDisk);
    fakedisk::AddNode(u"F:", fakedisk::ATTR_DIRECTORY);
    fakedisk::AddNode(BIN, fakedisk::ATTR_DIRECTORY);
    for (const Name& name : NAMES) fakedisk::AddNode(std::u16string(BIN) + u"\\" + name.name, name.attributes);
    gDisk.everyFile = &gBytes;
    static std::u16string bin(BIN);
    gRun.bin.path = reinterpret_cast<WCHAR*>(&bin[0]);
    gRun.language = LANGUAGE_ENGLISH;
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}

// The input as every file's bytes; the disk's log is dropped so that it
// does not grow from one input to the next.
inline void Feed(const uint8_t* data, size_t size) {
    gBytes.assign(data, data + size);
    gDisk.log.clear();
    gRun.exitCode = 0;
}

}  // namespace fuzzbin

#endif
