// Loading, data item lookups, record numbers and bin detection over the
// in-memory disk, with stores built byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "app/runstate.h"
#include "support/fake_disk.h"
#include "support/store_bytes.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "store/store.h"

namespace {

using fakedisk::ATTR_DIRECTORY;
using fakedisk::ATTR_FILE;
using fakedisk::AddNode;
using fakedisk::WriteFile;
using storebytes::Bytes;
using storebytes::ItemV1;
using storebytes::ItemV2;
using storebytes::Record;

const char16_t BIN[] = u"T:\\Recycled";
const uint64_t TIME_A = 129171908960000000ULL;

std::u16string In(const std::u16string& name) { return std::u16string(BIN) + u"\\" + name; }

std::u16string Wide16(const WCHAR* text) { return fakedisk::Text(text); }

class StoreDisk : public ::testing::Test {
protected:
    fakedisk::Disk disk;

    void SetUp() override {
        fakedisk::Install(&disk);
        gRun.exitCode = 0;
        gRun.bin.format = FORMAT_NONE;
        gRun.bin.path = nullptr;
        gRun.drive = 20;  // T:
        UseBin(BIN);
        AddNode(u"T:", ATTR_DIRECTORY);
        AddNode(BIN, ATTR_DIRECTORY);
    }
    void TearDown() override {
        FreeEntries(&gRun.bin);
        MemFree(gRun.bin.path);
        gRun.bin.path = nullptr;
        gRun.bin.format = FORMAT_NONE;
        gRun.exitCode = 0;
        MemSetFailAt(0);
        EXPECT_EQ(0, disk.openSearches);
        fakedisk::Uninstall();
    }
    void UseBin(const std::u16string& path) {
        MemFree(gRun.bin.path);
        gRun.bin.path = WideDuplicate(reinterpret_cast<const WCHAR*>(path.c_str()));
    }
    BinEntry* Entry(int32_t i) { return static_cast<BinEntry*>(gRun.bin.entries.At(i)); }
    std::u16string WidePath(int32_t i) {
        return Wide16(Entry(i)->widePath);
    }
    int Searches(const std::string& pattern) {
        return (int)std::count(disk.log.begin(), disk.log.end(), "find " + pattern);
    }
    void WriteIndex(const char16_t* name, uint32_t recordSize, const std::vector<Record>& records) {
        WriteFile(In(name), storebytes::Index(storebytes::Header(5, 0, 0, recordSize, 0), recordSize,
                                              records));
    }
};

Record Rec(const std::string& ansi, const std::u16string& wide, uint32_t number, uint32_t drive,
           bool removed = false) {
    return Record{ansi, wide, number, drive, TIME_A + number, 100 + number, removed};
}

TEST_F(StoreDisk, Info2LoadsLiveRecordsWhoseItemsArePresent) {
    gRun.bin.format = FORMAT_INFO2;
    WriteIndex(u"INFO2", 800, {
        Rec("C:\\a.txt", u"C:\\a.txt", 0, 2),
        Rec("C:\\gone.txt", u"C:\\gone.txt", 2, 2, true),  // removed, its item still there
        Rec("C:\\lost.txt", u"C:\\lost.txt", 1, 2),         // item missing, Dc10 and Dc1x present
        Rec("\\\\srv\\share\\p.xls", u"\\\\srv\\share\\p.xls", 12, 26),
        Rec("C:\\stale ansi", u"C:\\\u65E5\u672C\\dir", 10, 2),
        Rec("E:\\README", u"E:\\README", 100, 4),
    });
    AddNode(In(u"Dc0.txt"), ATTR_FILE | FILE_ATTRIBUTE_READONLY);
    AddNode(In(u"Dc2.txt"), ATTR_FILE);
    AddNode(In(u"Dc10"), ATTR_DIRECTORY);
    AddNode(In(u"Dc1x.txt"), ATTR_FILE);
    AddNode(In(u"D{12.xls"), ATTR_FILE);
    AddNode(In(u"De100"), ATTR_FILE);
    AddNode(In(u"desktop.ini"), ATTR_FILE);

    ASSERT_TRUE(LoadEntries(&gRun.bin));
    ASSERT_EQ(4, gRun.bin.entries.Length());
    EXPECT_EQ(u"C:\\a.txt", WidePath(0));
    EXPECT_NE(nullptr, Entry(0)->widePath);
    EXPECT_EQ(0u, Entry(0)->recordNumber);
    EXPECT_EQ(2u, Entry(0)->driveNumber);
    EXPECT_EQ(ATTR_FILE | FILE_ATTRIBUTE_READONLY, Entry(0)->attributes);
    EXPECT_EQ(TIME_A, Entry(0)->deletionTime);
    EXPECT_EQ(100u, Entry(0)->size);
    EXPECT_EQ(nullptr, Entry(0)->dataPath);
    EXPECT_EQ(u"\\\\srv\\share\\p.xls", WidePath(1));
    EXPECT_EQ(26u, Entry(1)->driveNumber);
    EXPECT_EQ('{', EntryDriveLetter(Entry(1)));
    // 800-byte records show the UTF-16 path even when the ANSI one differs.
    EXPECT_EQ(u"C:\\\u65E5\u672C\\dir", WidePath(2));
    EXPECT_EQ(ATTR_DIRECTORY, Entry(2)->attributes);
    EXPECT_EQ(u"E:\\README", WidePath(3));
    EXPECT_EQ(0, gRun.exitCode);
}

TEST_F(StoreDisk, ShortRecordsCarryTheAnsiPathAsStored) {
    gRun.bin.format = FORMAT_INFO;
    const std::string memo932 = "C:\\\x8F\x91\x97\xDE\\\x83\x81\x83\x82.TXT";
    WriteIndex(u"INFO", 280, {Rec(memo932, u"", 3, 2), Rec("D:\\GAMES\\OLD", u"", 4, 3)});
    AddNode(In(u"Dc3.TXT"), ATTR_FILE);
    AddNode(In(u"Dd4"), ATTR_DIRECTORY);
    ASSERT_TRUE(LoadEntries(&gRun.bin));
    ASSERT_EQ(2, gRun.bin.entries.Length());
    EXPECT_EQ(nullptr, Entry(0)->widePath);
    EXPECT_EQ(memo932, Entry(0)->ansiPath);
    EXPECT_EQ("D:\\GAMES\\OLD", std::string(Entry(1)->ansiPath));
    EXPECT_EQ(3u, Entry(1)->driveNumber);
}

TEST_F(StoreDisk, The800ByteBoundaryDecidesThePathField) {
    gRun.bin.format = FORMAT_INFO2;
    WriteIndex(u"INFO2", 799, {Rec("C:\\ansi.txt", u"C:\\wide.txt", 0, 2)});
    AddNode(In(u"Dc0.txt"), ATTR_FILE);
    ASSERT_TRUE(LoadEntries(&gRun.bin));
    ASSERT_EQ(1, gRun.bin.entries.Length());
    EXPECT_EQ(nullptr, Entry(0)->widePath);
    EXPECT_STREQ("C:\\ansi.txt", Entry(0)->ansiPath);
}

TEST_F(StoreDisk, AnsiPathFieldWithoutTerminatorStopsAtItsWidth) {
    gRun.bin.format = FORMAT_INFO;
    WriteIndex(u"INFO", 280, {Rec(std::string(260, 'x'), u"", 0, 2)});
    AddNode(In(u"Dc0"), ATTR_FILE);
    ASSERT_TRUE(LoadEntries(&gRun.bin));
    ASSERT_EQ(1, gRun.bin.entries.Length());
    EXPECT_EQ(260u, std::string(Entry(0)->ansiPath).size());
}

TEST_F(StoreDisk, OneFolderSearchServesEveryRecord) {
    gRun.bin.format = FORMAT_INFO2;
    std::vector<Record> records;
    for (uint32_t n = 0; n < 300; ++n) {
        records.push_back(Rec("C:\\f", u"C:\\f", n, 2));
        if (n % 3 != 0) AddNode(In(u"Dc" + fakedisk::Widen(std::to_string(n))), ATTR_FILE);
    }
    WriteIndex(u"INFO2", 800, records);
    ASSERT_TRUE(LoadEntries(&gRun.bin));
    EXPECT_EQ(200, gRun.bin.entries.Length());
    EXPECT_EQ(1, Searches("T:\\Recycled\\D*.*"));
    EXPECT_EQ(1u, disk.log.size());  // no other search at all
    for (int32_t i = 0; i < gRun.bin.entries.Length(); ++i)
        ASSERT_NE(0u, Entry(i)->recordNumber % 3) << i;
}

// Records in every order a lookup may meet: rising and falling runs, jumps,
// repeats, the extreme numbers, other drives and items that are missing.
// Each record finds its own item, and of two files of one record the first
// in search order.
TEST_F(StoreDisk, RecordsInAnyOrderFindTheirOwnItems) {
    gRun.bin.format = FORMAT_INFO2;
    std::mt19937 random(7);
    std::vector<uint32_t> present;
    for (uint32_t n = 0; n < 400; ++n)
        if (random() % 4 != 0) present.push_back(n * 3);
    present.push_back(0xFFFFFFFFu);
    for (uint32_t n : present) AddNode(In(u"Dc" + fakedisk::Widen(std::to_string(n)) + u".zzz"), ATTR_FILE);
    AddNode(In(u"Dc9.aaa"), ATTR_FILE);  // before Dc9.zzz in search order
    AddNode(In(u"Dd5.txt"), ATTR_FILE);
    std::vector<Record> records;
    auto add = [&](uint32_t number, uint32_t drive) { records.push_back(Rec("C:\f", u"C:\f", number, drive)); };
    for (uint32_t n = 0; n < 200 * 3; n += 3) {
        add(n, 2);  // rising, some twice in a row
        if (n % 5 == 0) add(n, 2);
    }
    for (uint32_t n = 1200; n >= 600; n -= 3) add(n, 2);          // falling
    for (int i = 0; i < 300; ++i) add((uint32_t)(random() % 1300), 2);  // jumps and repeats
    add(0xFFFFFFFFu, 2);
    add(0, 2);
    add(5, 3);
    add(0xFFFFFFFFu, 3);  // the same number on a drive without it
    WriteIndex(u"INFO2", 800, records);
    ASSERT_TRUE(LoadEntries(&gRun.bin));

    std::vector<std::u16string> expected;
    for (const Record& record : records) {
        if (record.drive == 3) {
            if (record.number == 5) expected.push_back(u"Dd5.txt");
        } else if (record.number == 9) {
            expected.push_back(u"Dc9.aaa");
        } else if (std::count(present.begin(), present.end(), record.number) != 0) {
            expected.push_back(u"Dc" + fakedisk::Widen(std::to_string(record.number)) + u".zzz");
        }
    }
    ASSERT_EQ((int32_t)expected.size(), gRun.bin.entries.Length());
    for (int32_t i = 0; i < gRun.bin.entries.Length(); ++i)
        ASSERT_EQ(expected[i], Wide16(Entry(i)->itemName)) << i;
}

TEST_F(StoreDisk, RecordsWithoutAnyItemLoadNothing) {
    gRun.bin.format = FORMAT_INFO2;
    WriteIndex(u"INFO2", 800, {Rec("C:\\a", u"C:\\a", 0, 2), Rec("C:\\b", u"C:\\b", 7, 2)});
    ASSERT_TRUE(LoadEntries(&gRun.bin));
    EXPECT_EQ(0, gRun.bin.entries.Length());
}

TEST_F(StoreDisk, DamagedIndexesFailWithoutSearching) {
    gRun.bin.format = FORMAT_INFO2;
    AddNode(In(u"Dc0.txt"), ATTR_FILE);
    Bytes record = storebytes::RecordBytes(Rec("C:\\a", u"C:\\a", 0, 2), 800, 0);
    for (uint32_t size : {0u, 1u, 279u, 65537u, 0xFFFFFFFFu}) {
        Bytes bytes = storebytes::Header(5, 1, 1, size, 0);
        bytes.insert(bytes.end(), record.begin(), record.end());
        WriteFile(In(u"INFO2"), bytes);
        disk.log.clear();
        EXPECT_FALSE(LoadEntries(&gRun.bin)) << size;
        EXPECT_EQ(0, gRun.bin.entries.Length());
        EXPECT_EQ(0, gRun.exitCode);
        EXPECT_TRUE(disk.log.empty()) << size;
    }
    WriteFile(In(u"INFO2"), Bytes(19, 0));
    EXPECT_FALSE(LoadEntries(&gRun.bin));
    disk.nodes.erase(fakedisk::Fold(In(u"INFO2")));
    EXPECT_FALSE(LoadEntries(&gRun.bin));
}

TEST_F(StoreDisk, HeaderAloneAndTrailingPiecesLoadWhatIsWhole) {
    gRun.bin.format = FORMAT_INFO2;
    WriteFile(In(u"INFO2"), storebytes::Header(5, 0, 0, 800, 0));
    ASSERT_TRUE(LoadEntries(&gRun.bin));
    EXPECT_EQ(0, gRun.bin.entries.Length());

    Bytes bytes = storebytes::Index(storebytes::Header(5, 1, 1, 800, 0), 800,
                                    {Rec("C:\\a", u"C:\\a", 0, 2), Rec("C:\\b", u"C:\\b", 1, 2)});
    bytes.resize(bytes.size() - 1);
    WriteFile(In(u"INFO2"), bytes);
    AddNode(In(u"Dc0"), ATTR_FILE);
    AddNode(In(u"Dc1"), ATTR_FILE);
    ASSERT_TRUE(LoadEntries(&gRun.bin));
    ASSERT_EQ(1, gRun.bin.entries.Length());  // loading again replaces the list
    EXPECT_EQ(u"C:\\a", WidePath(0));
}

TEST_F(StoreDisk, ItemFilesOfBothVersions) {
    const std::u16string bin = u"T:\\$RECYCLE.BIN\\S-1-5-21";
    AddNode(u"T:\\$RECYCLE.BIN", ATTR_DIRECTORY);
    AddNode(bin, ATTR_DIRECTORY);
    UseBin(bin);
    gRun.bin.format = FORMAT_ITEM_FILES;
    auto at = [&](const std::u16string& name) { return bin + u"\\" + name; };
    WriteFile(at(u"$IAAAAA1.txt"), ItemV1(u"C:\\one.txt", TIME_A, 0x100000005ULL));
    AddNode(at(u"$RAAAAA1.txt"), ATTR_FILE | FILE_ATTRIBUTE_HIDDEN);
    WriteFile(at(u"$IBBBBB2"), ItemV2(u"C:\\\u65E5\u672C", TIME_A + 1, 0));
    AddNode(at(u"$RBBBBB2"), ATTR_DIRECTORY);
    Bytes longer = ItemV1(u"C:\\long.txt", TIME_A + 2, 7);
    longer.resize(600, 0x41);
    WriteFile(at(u"$ICCCCC3.txt"), longer);  // no $R: loaded with attributes 0
    Bytes shorter = ItemV1(u"C:\\short.txt", TIME_A, 1);
    shorter.resize(543);
    WriteFile(at(u"$IDDDDD4.txt"), shorter);
    AddNode(at(u"$RDDDDD4.txt"), ATTR_FILE);
    Bytes cut = ItemV2(u"C:\\cut.txt", TIME_A, 1);
    cut.pop_back();
    WriteFile(at(u"$IEEEEE5.txt"), cut);
    AddNode(at(u"$IFOLDER.txt"), ATTR_DIRECTORY);
    AddNode(at(u"$RNOINFO.txt"), ATTR_FILE);
    WriteFile(at(u"desktop.ini"), Bytes(10, 'x'));

    ASSERT_TRUE(LoadEntries(&gRun.bin));
    ASSERT_EQ(3, gRun.bin.entries.Length());
    EXPECT_EQ(u"C:\\one.txt", WidePath(0));
    EXPECT_EQ(0x100000005ULL, Entry(0)->size);  // all 64 bits
    EXPECT_EQ(ATTR_FILE | FILE_ATTRIBUTE_HIDDEN, Entry(0)->attributes);
    EXPECT_EQ(at(u"$RAAAAA1.txt"), Wide16(Entry(0)->dataPath));
    EXPECT_EQ(0u, Entry(0)->recordNumber);
    EXPECT_EQ(u"C:\\\u65E5\u672C", WidePath(1));
    EXPECT_EQ(ATTR_DIRECTORY, Entry(1)->attributes);
    EXPECT_EQ(TIME_A + 1, Entry(1)->deletionTime);
    EXPECT_EQ(u"C:\\long.txt", WidePath(2));
    EXPECT_EQ(0u, Entry(2)->attributes);
    EXPECT_EQ(at(u"$RCCCCC3.txt"), Wide16(Entry(2)->dataPath));
}

TEST_F(StoreDisk, EmptyItemBinLoadsNothing) {
    gRun.bin.format = FORMAT_ITEM_FILES;
    ASSERT_TRUE(LoadEntries(&gRun.bin));
    EXPECT_EQ(0, gRun.bin.entries.Length());
}

// Every allocation of a load fails in turn: each failure is told as memory
// exhaustion and leaves no entry half made.
TEST_F(StoreDisk, MemoryExhaustionAtEveryStepIsReported) {
    for (BinFormat format : {FORMAT_INFO2, FORMAT_ITEM_FILES}) {
        gRun.bin.format = format;
        WriteIndex(u"INFO2", 800, {Rec("C:\\a", u"C:\\a", 0, 2), Rec("C:\\b", u"C:\\b", 1, 2)});
        AddNode(In(u"Dc0"), ATTR_FILE);
        AddNode(In(u"Dc1"), ATTR_FILE);
        WriteFile(In(u"$IAAAAA1"), ItemV1(u"C:\\x", TIME_A, 1));
        WriteFile(In(u"$IAAAAA2"), ItemV2(u"C:\\y", TIME_A, 1));
        bool loaded = false;
        for (long failAt = 1; failAt < 200 && !loaded; ++failAt) {
            StoreStatus status = STORE_OK;
            MemSetFailAt(failAt);
            loaded = LoadEntries(&gRun.bin, &status);
            bool failed = MemFailureMet();
            MemSetFailAt(0);
            if (loaded) {
                EXPECT_FALSE(failed) << failAt;
                EXPECT_EQ(2, gRun.bin.entries.Length());
            } else {
                EXPECT_EQ(STORE_NO_MEMORY, status) << failAt;
            }
            for (int32_t i = 0; i < gRun.bin.entries.Length(); ++i) ASSERT_TRUE(HasOriginalPath(Entry(i)));
        }
        EXPECT_TRUE(loaded);
        FreeEntries(&gRun.bin);
    }
}

TEST_F(StoreDisk, FindDataItemTakesOnlyTheRecordsOwnName) {
    gRun.bin.format = FORMAT_INFO2;
    AddNode(In(u"Dc10.txt"), ATTR_FILE);
    AddNode(In(u"Dc1x.txt"), ATTR_FILE);
    AddNode(In(u"Dc11"), ATTR_FILE);
    WCHAR* path = nullptr;
    DWORD attributes = 0;
    EXPECT_FALSE(FindDataItem(&gRun.bin, 'c', 1, true, &path, &attributes));
    EXPECT_EQ(nullptr, path);
    EXPECT_EQ(0, gRun.exitCode);

    AddNode(In(u"Dc1.txt"), ATTR_FILE | FILE_ATTRIBUTE_SYSTEM);
    ASSERT_TRUE(FindDataItem(&gRun.bin, 'C', 1, true, &path, &attributes));
    EXPECT_EQ(In(u"Dc1.txt"), Wide16(path));
    MemFree(path);
    ASSERT_TRUE(FindDataItem(&gRun.bin, 'c', 1, false, nullptr, &attributes));
    EXPECT_EQ(ATTR_FILE | FILE_ATTRIBUTE_SYSTEM, attributes);
    ASSERT_TRUE(FindDataItem(&gRun.bin, 'c', 10, false, nullptr, &attributes));
    EXPECT_FALSE(FindDataItem(&gRun.bin, 'd', 10, false, nullptr, &attributes));

    // A bin path that ends in a backslash gets no second one.
    UseBin(std::u16string(BIN) + u"\\");
    path = nullptr;
    ASSERT_TRUE(FindDataItem(&gRun.bin, 'c', 11, true, &path, &attributes));
    EXPECT_EQ(In(u"Dc11"), Wide16(path));
    MemFree(path);

    StoreStatus status = STORE_OK;
    MemSetFailAt(1);
    path = nullptr;
    EXPECT_FALSE(FindDataItem(&gRun.bin, 'c', 11, true, &path, &attributes, &status));
    MemSetFailAt(0);
    EXPECT_EQ(STORE_NO_MEMORY, status);

    gRun.bin.format = FORMAT_ITEM_FILES;
    EXPECT_FALSE(FindDataItem(&gRun.bin, 'c', 10, false, nullptr, &attributes, &status));
    EXPECT_EQ(STORE_OK, status);  // none there, nothing failed
    EXPECT_EQ(0, gRun.exitCode);
}

TEST_F(StoreDisk, FreeRecordNumberCountsNamePrefixes) {
    gRun.bin.format = FORMAT_INFO2;
    WriteIndex(u"INFO2", 800, {});
    EXPECT_EQ(0u, FreeRecordNumber(&gRun.bin, false));
    EXPECT_EQ(1u, FreeRecordNumber(&gRun.bin, true));
    AddNode(In(u"Dc10.txt"), ATTR_FILE);
    EXPECT_EQ(0u, FreeRecordNumber(&gRun.bin, false));
    EXPECT_EQ(2u, FreeRecordNumber(&gRun.bin, true));  // 1 is in use through Dc10
    AddNode(In(u"Dc0.txt"), ATTR_FILE);
    AddNode(In(u"Dc1.txt"), ATTR_FILE);
    EXPECT_EQ(2u, FreeRecordNumber(&gRun.bin, false));
    EXPECT_EQ(3u, FreeRecordNumber(&gRun.bin, true));
    AddNode(In(u"D{2.xls"), ATTR_FILE);  // any letter
    AddNode(In(u"de3"), ATTR_DIRECTORY); // any case
    AddNode(In(u"Dc04.txt"), ATTR_FILE);  // "04" begins with the digits of 0 only
    AddNode(In(u"desktop.ini"), ATTR_FILE);
    EXPECT_EQ(4u, FreeRecordNumber(&gRun.bin, false));
    EXPECT_EQ(5u, FreeRecordNumber(&gRun.bin, true));
    EXPECT_EQ(8, Searches("T:\\Recycled\\D*.*"));  // one search per call
}

TEST_F(StoreDisk, RecordNumberSetStaysCurrentAcrossAThrow) {
    gRun.bin.format = FORMAT_INFO2;
    WriteIndex(u"INFO2", 800, {});
    AddNode(In(u"Dc0.txt"), ATTR_FILE);
    AddNode(In(u"Dc2.txt"), ATTR_FILE);
    AddNode(In(u"Dc9999999999.txt"), ATTR_FILE);  // beyond 32 bits: 999999999 and below
    RecordNumberSet set;
    ASSERT_TRUE(BuildRecordNumberSet(&gRun.bin, &set));
    EXPECT_EQ(1u, FirstFreeRecordNumber(&set, false));
    EXPECT_EQ(3u, FirstFreeRecordNumber(&set, true));
    ASSERT_TRUE(MarkRecordNumberUsed(&set, 1));
    EXPECT_EQ(3u, FirstFreeRecordNumber(&set, false));
    EXPECT_EQ(4u, FirstFreeRecordNumber(&set, true));
    FreeRecordNumberSet(&set);

    StoreStatus status = STORE_OK;
    MemSetFailAt(1);
    EXPECT_FALSE(BuildRecordNumberSet(&gRun.bin, &set, nullptr, &status));
    MemSetFailAt(0);
    EXPECT_EQ(STORE_NO_MEMORY, status);
    EXPECT_EQ(0, gRun.exitCode);
    FreeRecordNumberSet(&set);
}

// The numbers in use are those of the data items and of every live record,
// whether its item is there or not; the record being removed (`leaving`)
// frees its number, and only one record's worth of it.
TEST_F(StoreDisk, LiveRecordsKeepTheirNumbers) {
    struct Row {
        const char* what;
        std::vector<Record> records;
        std::vector<std::u16string> items;
        int leaving;            // index into records, or -1
        uint64_t leavingTime;   // added to that record's time
        uint32_t leavingDrive;  // 0: that record's drive
        uint32_t first, second;
    };
    Record zero = Rec("C:\\a", u"C:\\a", 0, 2), one = Rec("C:\\b", u"C:\\b", 1, 2);
    Record zeroRemoved = Rec("C:\\a", u"C:\\a", 0, 2, true);
    const Row rows[] = {
        {"records without items", {zero, one}, {}, -1, 0, 0, 2, 3},
        {"a removed record", {zeroRemoved, one}, {}, -1, 0, 0, 0, 2},
        {"items and records", {one}, {u"Dc0.txt", u"De3"}, -1, 0, 0, 2, 4},
        {"leaving frees its own", {zero, one}, {}, 0, 0, 0, 0, 2},
        {"leaving frees one of twins", {zero, zero}, {}, 0, 0, 0, 1, 2},
        {"leaving of another time", {zero}, {}, 0, 1, 0, 1, 2},
        {"leaving of another drive", {zero}, {}, 0, 0, 3, 1, 2},
        {"leaving passes a removed twin", {zeroRemoved, zero}, {}, 1, 0, 0, 0, 1},
        {"leaving whose item is there", {zero}, {u"Dc0"}, 0, 0, 0, 1, 2},
    };
    gRun.bin.format = FORMAT_INFO2;
    for (uint32_t recordSize : {280u, 800u, 1000u}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.what) + ", " + std::to_string(recordSize));
            Bytes bytes = storebytes::Index(storebytes::Header(5, 0, 0, recordSize, 0), recordSize,
                                            row.records);
            bytes.insert(bytes.end(), 100, 0x41);  // a piece of a record: no record
            WriteFile(In(u"INFO2"), bytes);
            for (const std::u16string& item : row.items) AddNode(In(item), ATTR_FILE);
            BinEntry* leaving = nullptr;
            if (row.leaving >= 0) {
                Record left = row.records[(size_t)row.leaving];
                left.time += row.leavingTime;
                if (row.leavingDrive != 0) left.drive = row.leavingDrive;
                left.removed = false;
                leaving = storebytes::Entry(left, recordSize >= 800);
            }
            EXPECT_EQ(FreeRecordNumber(&gRun.bin, false, leaving), row.first);
            EXPECT_EQ(FreeRecordNumber(&gRun.bin, true, leaving), row.second);
            RecordNumberSet set;
            ASSERT_TRUE(BuildRecordNumberSet(&gRun.bin, &set, leaving));
            EXPECT_EQ(FirstFreeRecordNumber(&set, false), row.first);
            FreeRecordNumberSet(&set);
            EXPECT_EQ(gRun.exitCode, 0);
            FreeEntry(leaving);
            for (const std::u16string& item : row.items) disk.nodes.erase(fakedisk::Fold(In(item)));
        }
    }
}

// An index that cannot be read whole must not pass for one with fewer
// records: a number taken from it may belong to a record. The per-item
// layout reads no index.
TEST_F(StoreDisk, UnreadIndexFailsTheRecordNumbers) {
    gRun.bin.format = FORMAT_INFO2;
    std::vector<Record> records = {Rec("C:\\a", u"C:\\a", 0, 2), Rec("C:\\b", u"C:\\b", 1, 2)};
    const struct {
        const char* what;
        uint32_t recordSize;
        const char* call;  // the stream call made to fail, or null
        int at;
        bool missing;
    } rows[] = {
        {"missing index", 800, nullptr, 0, true},
        {"record size too small", 279, nullptr, 0, false},
        {"header read fails", 800, "read", 1, false},
        {"second record's read fails", 800, "read", 3, false},
        {"skip over a record fails", 800, "seek", 2, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        gRun.exitCode = 0;
        if (row.missing)
            disk.nodes.erase(fakedisk::Fold(In(u"INFO2")));
        else  // 800-byte records behind the header's size
            WriteFile(In(u"INFO2"), storebytes::Index(storebytes::Header(5, 0, 0, row.recordSize, 0), 800, records));
        if (row.call != nullptr) fakedisk::FailCall(row.call, row.at);
        StoreStatus status = STORE_OK;
        testing::internal::CaptureStdout();
        uint32_t number = FreeRecordNumber(&gRun.bin, false, nullptr, &status);
        std::string output = testing::internal::GetCapturedStdout();
        disk.fault = fakedisk::Fault();
        EXPECT_EQ(number, 0u);
        EXPECT_EQ(status, STORE_READ_FAILED);
        EXPECT_EQ(output, "");  // the store prints nothing
    }
    gRun.exitCode = 0;
    gRun.bin.format = FORMAT_ITEM_FILES;
    disk.nodes.erase(fakedisk::Fold(In(u"INFO2")));
    AddNode(In(u"Dc0"), ATTR_FILE);  // not an item of this layout, yet the prefix rule holds
    EXPECT_EQ(FreeRecordNumber(&gRun.bin, false), 1u);
    EXPECT_EQ(gRun.exitCode, 0);
}

// desktop.ini texts and whether they mark a folder.
class MarkerTest : public StoreDisk {
protected:
    bool Marks(const std::string& text) {
        WriteFile(In(u"desktop.ini"), Bytes(text.begin(), text.end()));
        return CheckBinMarker(gRun.bin.path);
    }
};

const std::string CLSID_LINE = "CLSID={645FF040-5081-101B-9F08-00AA002F954E}\r\n";
const std::string LOCALIZED = "LocalizedResourceName=@%SystemRoot%\\system32\\shell32.dll,-8964\r\n";

TEST_F(MarkerTest, SectionNeedsTheBinsClsidAndALocalizedName) {
    EXPECT_FALSE(CheckBinMarker(gRun.bin.path));  // no desktop.ini
    EXPECT_TRUE(Marks("[.ShellClassInfo]\r\n" + CLSID_LINE + LOCALIZED));
    EXPECT_TRUE(Marks("[.shellclassinfo]\n" + LOCALIZED + "clsid={645ff040-5081-101b-9f08-00aa002f954e}"));
    EXPECT_FALSE(Marks("[.ShellClassInfo]\r\n" + CLSID_LINE));
    EXPECT_FALSE(Marks("[.ShellClassInfo]\r\nCLSID = {645FF040-5081-101B-9F08-00AA002F954E}\r\n" + LOCALIZED));
    EXPECT_FALSE(Marks("[Other]\r\n" + CLSID_LINE + "[.ShellClassInfo]\r\n" + LOCALIZED));
    EXPECT_FALSE(Marks("[.ShellClassInfo]\r\n;" + CLSID_LINE + LOCALIZED));
    EXPECT_FALSE(Marks("[.ShellClassInfo]\r\nCLSID={645FF040-5081-101B-9F08-00AA002F954F}\r\n" + LOCALIZED));
}

TEST_F(MarkerTest, ReadingStopsAtTheSectionAfterTheBinsKey) {
    EXPECT_TRUE(Marks("[.ShellClassInfo]\r\n" + CLSID_LINE + LOCALIZED + "[Other]\r\nx=y\r\n"));
    EXPECT_TRUE(Marks("; comment\r\n\r\n[.ShellClassInfo]; note\r\n" + CLSID_LINE + LOCALIZED));
    // A blank before the comment is part of the section name.
    EXPECT_FALSE(Marks("[.ShellClassInfo] ; note\r\n" + CLSID_LINE + LOCALIZED));
    EXPECT_FALSE(Marks("[.ShellClassInfo]\r\n" + CLSID_LINE + "[Other]\r\n" + LOCALIZED));
}

TEST_F(MarkerTest, TwoByteTextAndHugeLinesNeverMark) {
    std::string text = "[.ShellClassInfo]\r\n" + CLSID_LINE + LOCALIZED;
    std::string utf16 = "\xFF\xFE";
    for (char ch : text) utf16 += std::string(1, ch) + std::string(1, '\0');
    EXPECT_FALSE(Marks(utf16));
    EXPECT_FALSE(Marks(std::string(3 << 20, '[')));
    EXPECT_TRUE(Marks(std::string(200000, 'z') + "\n[.ShellClassInfo]\r\n" + CLSID_LINE + LOCALIZED));
}

TEST_F(StoreDisk, DetectionOrder) {
    const std::u16string below = u"T:\\$recycle.bin\\user7";
    AddNode(u"T:\\$recycle.bin", ATTR_DIRECTORY);
    AddNode(below, ATTR_DIRECTORY);
    WriteFile(below + u"\\INFO2", storebytes::Header(5, 0, 0, 800, 0));
    EXPECT_EQ(FORMAT_INFO2, DetectBinFormat(reinterpret_cast<const WCHAR*>(below.c_str())));
    WriteFile(below + u"\\desktop.ini", Bytes{'x'});
    EXPECT_EQ(FORMAT_ITEM_FILES, DetectBinFormat(reinterpret_cast<const WCHAR*>(below.c_str())));

    const std::u16string beside = u"T:\\$RECYCLE.BINX";
    AddNode(beside, ATTR_DIRECTORY);
    WriteFile(beside + u"\\desktop.ini", Bytes{'x'});
    WriteFile(beside + u"\\INFO", storebytes::Header(0, 0, 0, 280, 0));
    EXPECT_EQ(FORMAT_INFO, DetectBinFormat(reinterpret_cast<const WCHAR*>(beside.c_str())));
    WriteFile(beside + u"\\INFO2", storebytes::Header(5, 0, 0, 800, 0));
    EXPECT_EQ(FORMAT_INFO2, DetectBinFormat(reinterpret_cast<const WCHAR*>(beside.c_str())));

    EXPECT_EQ(FORMAT_NONE, DetectBinFormat(WIDE("T:\\nothing")));
    EXPECT_EQ(FORMAT_NONE, DetectBinFormat(WIDE("")));
    EXPECT_EQ(FORMAT_NONE, DetectBinFormat(WIDE("T")));
}

// The drive's one bin, or null; a drive with several is a choice.
WCHAR* OneDriveBin() {
    bool choose = true;
    StoreStatus status = STORE_NO_MEMORY;
    WCHAR* found = FindDriveBin(gRun.drive, &choose, &status);
    EXPECT_FALSE(choose);
    EXPECT_EQ(STORE_OK, status);
    return found;
}

TEST_F(StoreDisk, FindDriveBinTakesASingleBinWithoutAsking) {
    EXPECT_EQ(nullptr, OneDriveBin());

    AddNode(u"T:\\Recycler", ATTR_DIRECTORY);
    AddNode(u"T:\\Recycler\\empty", ATTR_DIRECTORY);
    AddNode(u"T:\\$RECYCLE.BIN", ATTR_DIRECTORY);
    AddNode(u"T:\\$RECYCLE.BIN\\S-1", ATTR_DIRECTORY);
    WriteFile(u"T:\\$RECYCLE.BIN\\S-1\\desktop.ini", Bytes{'x'});
    WCHAR* found = OneDriveBin();
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(u"T:\\$RECYCLE.BIN\\S-1", Wide16(found));
    MemFree(found);

    // A marked drive-level folder is the one bin, its subfolders aside.
    const std::string marker = "[.ShellClassInfo]\r\n" + CLSID_LINE + LOCALIZED;
    WriteFile(u"T:\\$RECYCLE.BIN\\desktop.ini", Bytes(marker.begin(), marker.end()));
    AddNode(u"T:\\$RECYCLE.BIN\\S-2", ATTR_DIRECTORY);
    WriteFile(u"T:\\$RECYCLE.BIN\\S-2\\desktop.ini", Bytes{'x'});
    found = OneDriveBin();
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(u"T:\\$RECYCLE.BIN", Wide16(found));
    MemFree(found);
}

TEST_F(StoreDisk, FindDriveBinTakesRecycledOrTheOneRecyclerBin) {
    WriteFile(In(u"INFO"), storebytes::Header(0, 0, 0, 280, 0));
    WCHAR* found = OneDriveBin();
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(u"T:\\Recycled", Wide16(found));
    MemFree(found);

    disk.nodes.erase(fakedisk::Fold(In(u"INFO")));
    AddNode(u"T:\\Recycler", ATTR_DIRECTORY);
    AddNode(u"T:\\Recycler\\S-9", ATTR_DIRECTORY);
    WriteFile(u"T:\\Recycler\\S-9\\INFO2", storebytes::Header(5, 0, 0, 800, 0));
    found = OneDriveBin();
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(u"T:\\Recycler\\S-9", Wide16(found));
    MemFree(found);
}

// Several bins are offered in the order of the search; running out of
// memory anywhere in it finds none and says so.
TEST_F(StoreDisk, DriveWithSeveralBinsIsAChoice) {
    WriteFile(In(u"INFO"), storebytes::Header(0, 0, 0, 280, 0));
    AddNode(u"T:\\Recycler", ATTR_DIRECTORY);
    AddNode(u"T:\\Recycler\\S-9", ATTR_DIRECTORY);
    WriteFile(u"T:\\Recycler\\S-9\\INFO2", storebytes::Header(5, 0, 0, 800, 0));
    const std::string marker = "[.ShellClassInfo]\r\n" + CLSID_LINE + LOCALIZED;
    AddNode(u"T:\\$RECYCLE.BIN", ATTR_DIRECTORY);
    WriteFile(u"T:\\$RECYCLE.BIN\\desktop.ini", Bytes(marker.begin(), marker.end()));
    bool choose = false;
    StoreStatus status = STORE_NO_MEMORY;
    EXPECT_EQ(nullptr, FindDriveBin(gRun.drive, &choose, &status));
    EXPECT_TRUE(choose);
    EXPECT_EQ(STORE_OK, status);
    StringArray bins;
    ASSERT_TRUE(ListDriveBins(gRun.drive, &bins, &status));
    ASSERT_EQ(3, bins.Length());
    EXPECT_EQ(u"T:\\$RECYCLE.BIN", Wide16(bins.At(0)));
    EXPECT_EQ(u"T:\\Recycler\\S-9", Wide16(bins.At(1)));
    EXPECT_EQ(u"T:\\Recycled", Wide16(bins.At(2)));
    bins.RemoveAll();
    // Each allocation of either search made to fail in turn, until one
    // runs without meeting the failure.
    for (int search = 0; search < 2; ++search) {
        long points = 0;
        for (long n = 1;; ++n) {
            SCOPED_TRACE(n);
            MemSetFailOnce(n);
            WCHAR* found = nullptr;
            bool listed = search == 0 ? (found = FindDriveBin(gRun.drive, &choose, &status)) != nullptr || choose
                                      : ListDriveBins(gRun.drive, &bins, &status);
            bool met = MemFailureMet();
            MemSetFailOnce(0);
            bins.RemoveAll();
            MemFree(found);
            if (!met) {
                EXPECT_TRUE(listed);
                break;
            }
            ++points;
            EXPECT_FALSE(listed);
            EXPECT_EQ(STORE_NO_MEMORY, status);
        }
        EXPECT_GT(points, 0);
    }
    EXPECT_EQ(0, gRun.exitCode);
}

}  // namespace
