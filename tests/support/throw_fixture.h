// The throw tests' disk and bins: an INFO2 bin of five records, a per-item
// bin, /f run on names, and the attribute queries the throw makes (some
// names the test says are taken). Shared by throw_test.cpp (the index
// layouts, refusals) and throw_items_test.cpp (the per-item layout).
#ifndef DUSTPAIL_TESTS_SUPPORT_THROW_FIXTURE_H
#define DUSTPAIL_TESTS_SUPPORT_THROW_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/runstate.h"
#include "ops/ops.h"
#include "support/fake_disk.h"
#include "support/store_bytes.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "store/store.h"

namespace throwtest {

using fakedisk::AddNode;
using fakedisk::ATTR_DIRECTORY;
using fakedisk::ATTR_FILE;
using fakedisk::Exists;
using fakedisk::Fold;
using fakedisk::Narrow;
using fakedisk::ReadFile;
using fakedisk::Text;
using fakedisk::WriteFile;
using storebytes::AnsiField;
using storebytes::Bytes;
using storebytes::FileTimeOf;
using storebytes::Get32;
using storebytes::Get64;
using storebytes::Slice;
using storebytes::WideField;

inline const std::u16string INDEX_BIN = u"C:\\Recycler\\S-1";
inline const std::u16string INFO2 = INDEX_BIN + u"\\INFO2";
inline const std::u16string ITEM_BIN = u"C:\\$Recycle.Bin\\S-1";
inline const uint32_t OLD_ENTRIES = 5;
inline const uint32_t OLD_TOTAL = OLD_ENTRIES * 4096;

// An index header of version 5 and a record of drive C: with a fixed time,
// its UTF-16 path the ASCII one widened.
inline Bytes Header(uint32_t count, uint32_t next, uint32_t recordSize, uint32_t total) {
    return storebytes::Header(5, count, next, recordSize, total);
}

inline Bytes Record(uint32_t recordSize, const std::string& path, uint32_t number, uint32_t size) {
    storebytes::Record record = {path, fakedisk::Widen(path), number, 2, 0x01D0000011223344ULL, size, false};
    return storebytes::RecordBytes(record, recordSize, 0);
}

// --- The disk -------------------------------------------------------------

inline std::function<bool(const std::u16string&)> sTakenNames;
inline int sAttributeQueries = 0;
inline std::vector<std::u16string> sQueriedPaths;

// Names the test says are taken, and every query counted.
inline DWORD Attributes(const WCHAR* path) {
    ++sAttributeQueries;
    sQueriedPaths.push_back(Text(path));
    if (sTakenNames && sTakenNames(Text(path))) return ATTR_FILE;
    return fakedisk::FakeAttributes(path);
}

inline WCHAR* DriveDirectory(int, WCHAR* buffer, int capacity) {
    return WideCopy(buffer, (size_t)capacity, WIDE("C:\\")) ? buffer : nullptr;
}

class ThrowTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakedisk::Install(&disk);
        gSys.getFileAttributesW = Attributes;
        gSys.wgetdcwd = DriveDirectory;
        sTakenNames = nullptr;
        sAttributeQueries = 0;
        sQueriedPaths.clear();
        AddNode(u"C:", ATTR_DIRECTORY);
        AddNode(u"C:\\work", ATTR_DIRECTORY);
        gRun.exitCode = 0;
        gRun.language = LANGUAGE_ENGLISH;
        gRun.options = OPT_YES | OPT_NOLOGO;
        gRun.throwList.RemoveAll();
    }

    void TearDown() override {
        // The cluster geometry is only ever asked of the items' drive root.
        if (disk.geometryCalls > 0) {
            EXPECT_EQ(disk.geometryRoot, "c:\\");
        }
        FreeEntries(&gRun.bin);
        gRun.throwList.RemoveAll();
        MemFree(gRun.bin.path);
        gRun.bin.path = nullptr;
        gRun.bin.format = FORMAT_NONE;
        gRun.exitCode = 0;
        fakedisk::Uninstall();
    }

    static void File(const std::u16string& path, uint64_t size) { fakedisk::AddFile(path, size); }

    // An INFO2 bin with five live records (numbers 0 to 4) of 4096 bytes,
    // each with its data item.
    static void MakeIndexBin(uint32_t recordSize = 800) {
        AddNode(u"C:\\Recycler", ATTR_DIRECTORY);
        AddNode(INDEX_BIN, ATTR_DIRECTORY);
        Bytes bytes = Header(OLD_ENTRIES, OLD_ENTRIES, recordSize, OLD_TOTAL);
        for (uint32_t n = 0; n < OLD_ENTRIES; ++n) {
            std::string path = "C:\\old\\f" + std::to_string(n) + ".txt";
            Bytes record = Record(recordSize, path, n, 4096);
            bytes.insert(bytes.end(), record.begin(), record.end());
            AddNode(INDEX_BIN + u"\\Dc" + fakedisk::Widen(std::to_string(n)) + u".txt", ATTR_FILE);
        }
        WriteFile(recordSize >= 800 ? INFO2 : INDEX_BIN + u"\\INFO", bytes);
        gRun.bin.path = WideDuplicate((const WCHAR*)INDEX_BIN.c_str());
        gRun.bin.format = recordSize >= 800 ? FORMAT_INFO2 : FORMAT_INFO;
    }

    // A per-item bin: its desktop.ini (which carries the lock) alone.
    static void MakeItemBin() {
        AddNode(u"C:\\$Recycle.Bin", ATTR_DIRECTORY);
        AddNode(ITEM_BIN, ATTR_DIRECTORY);
        WriteFile(ITEM_BIN + u"\\desktop.ini", Bytes{'[', ']'});
        gRun.bin.path = WideDuplicate((const WCHAR*)ITEM_BIN.c_str());
        gRun.bin.format = FORMAT_ITEM_FILES;
    }

    // Runs /f /Y with the names; returns what was printed.
    static std::string Throw(std::vector<std::u16string> names) {
        for (const auto& name : names) gRun.throwList.Add((const WCHAR*)name.c_str());
        testing::internal::CaptureStdout();
        ThrowFiles();
        std::fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    // The records after the header, each as its bytes.
    static std::vector<Bytes> Records(const Bytes& index, uint32_t recordSize) {
        std::vector<Bytes> records;
        for (size_t at = 20; at + recordSize <= index.size(); at += recordSize)
            records.push_back(Slice(index, at, recordSize));
        return records;
    }

    fakedisk::Disk disk;
};

inline const std::string READING = "Reading: C:\\Recycler\\S-1\\INFO2 ...\n";
inline const std::string THROW_OK = "The file has been moved to the Recycle Bin successfully.\n";
inline const std::string UNKNOWN = "Error: Unknown error occurred.\n";

inline std::string Invalid(const std::string& path) { return "Error: The file '" + path + "' is invalid or missing.\n"; }

}  // namespace throwtest

#endif
