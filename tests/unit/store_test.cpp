// The store's byte layouts and shared operations on bytes built by hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/runstate.h"
#include "support/store_bytes.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "store/store.h"

namespace {

using storebytes::Bytes;
using storebytes::ItemV1;
using storebytes::ItemV2;
using storebytes::Put32;
using storebytes::Put64;
using storebytes::PutWide;

std::u16string Wide(const WCHAR* text) { return std::u16string((const char16_t*)text); }

TEST(LittleEndian, ReadsAndWritesLowByteFirst) {
    const uint8_t bytes[8] = {0x0A, 0x1A, 0x00, 0x80, 0xFF, 0x01, 0x02, 0x03};
    EXPECT_EQ(0x80001A0Au, ReadLe32(bytes));
    EXPECT_EQ(0x030201FF80001A0AULL, ReadLe64(bytes));
    uint8_t out[8] = {0};
    WriteLe64(out, 0x030201FF80001A0AULL);
    EXPECT_EQ(0, std::memcmp(bytes, out, 8));
    WriteLe32(out, 0x11223344u);
    EXPECT_EQ(0x44, out[0]);
    EXPECT_EQ(0x11, out[3]);
    EXPECT_EQ(0xFF, out[4]);  // the bytes after the field stay
    EXPECT_EQ(0x1A0Au, ReadLe16(bytes));
    WriteLe16(out, 0xBEEF);
    EXPECT_EQ(0xEF, out[0]);
    EXPECT_EQ(0xBE, out[1]);
}

TEST(IndexLayout, HeaderFieldsSitAtTheirOffsets) {
    Bytes b(20, 0);
    Put32(b, 0, 5);
    Put32(b, 4, 0x0A);
    Put32(b, 8, 0x1A);
    Put32(b, 12, 800);
    Put32(b, 16, 0xDEADBEEF);
    IndexHeader header;
    DecodeIndexHeader(b.data(), &header);
    EXPECT_EQ(5u, header.version);
    EXPECT_EQ(0x0Au, header.entryCount);
    EXPECT_EQ(0x1Au, header.nextRecordNumber);
    EXPECT_EQ(800u, header.recordSize);
    EXPECT_EQ(0xDEADBEEFu, header.totalSize);
    uint8_t out[20];
    std::memset(out, 0x55, sizeof out);
    EncodeIndexHeader(&header, out);
    EXPECT_EQ(0, std::memcmp(b.data(), out, 20));
}

TEST(IndexLayout, RecordFieldsAndThePathFieldByRecordSize) {
    Bytes b(800, 0);
    std::memcpy(b.data(), "C:\\work\\notes.txt", 17);
    Put32(b, 260, 10);
    Put32(b, 264, 26);
    Put64(b, 268, 0x01CAE90A0A1A0A0AULL);
    Put32(b, 276, 4096);
    PutWide(b, 280, u"\\\\server\\share\\a.txt");
    IndexRecord record;
    DecodeIndexRecord(b.data(), 800, &record);
    EXPECT_TRUE(record.live);
    EXPECT_STREQ("C:\\work\\notes.txt", record.ansiPath);
    EXPECT_EQ(10u, record.recordNumber);
    EXPECT_EQ(26u, record.driveNumber);
    EXPECT_EQ(0x01CAE90A0A1A0A0AULL, record.deletionTime);
    EXPECT_EQ(4096u, record.size);
    ASSERT_TRUE(record.hasWidePath);
    EXPECT_EQ(u"\\\\server\\share\\a.txt", Wide(record.widePath));
    DecodeIndexRecord(b.data(), 799, &record);
    EXPECT_FALSE(record.hasWidePath);
    EXPECT_EQ(0, record.widePath[0]);
    DecodeIndexRecord(b.data(), 280, &record);
    EXPECT_FALSE(record.hasWidePath);
    EXPECT_EQ(10u, record.recordNumber);
    b[0] = 0;
    DecodeIndexRecord(b.data(), 800, &record);
    EXPECT_FALSE(record.live);
}

TEST(IndexLayout, PathFieldsWithoutTerminatorAreReadWhole) {
    Bytes b(800, 'a');
    PutWide(b, 280, std::u16string(260, u'w'));
    IndexRecord record;
    DecodeIndexRecord(b.data(), 800, &record);
    EXPECT_EQ(std::string(260, 'a'), record.ansiPath);
    EXPECT_EQ(std::u16string(260, u'w'), Wide(record.widePath));
}

TEST(IndexLayout, EncodedRecordHasItsFieldsAndZerosElsewhere) {
    storebytes::Record expected = {"C:\\a\\b.txt", u"C:\\a\\b.txt", 7, 2, 0x01D0000011223344ULL, 4096, false};
    for (uint32_t recordSize : {280u, 800u, 1000u}) {
        IndexRecord record;
        std::memset(&record, 0x55, sizeof record);
        std::strcpy(record.ansiPath, expected.ansiPath.c_str());
        for (size_t i = 0; i <= expected.widePath.size(); ++i) record.widePath[i] = expected.widePath.c_str()[i];
        record.recordNumber = 7;
        record.driveNumber = 2;
        record.deletionTime = 0x01D0000011223344ULL;
        record.size = 4096;
        Bytes out(recordSize, 0xEE);
        EncodeIndexRecord(&record, recordSize, out.data());
        EXPECT_EQ(storebytes::RecordBytes(expected, recordSize, 0), out) << recordSize;
    }
}

TEST(IndexLayout, WideFieldsAreCutToKeepTheirTerminator) {
    Bytes field(2 * 4, 0xEE);
    WriteWideField(field.data(), 4, WIDE("abcdef"));
    EXPECT_EQ(Bytes({'a', 0, 'b', 0, 'c', 0, 0, 0}), field);
    WriteWideField(field.data(), 4, WIDE("x"));
    EXPECT_EQ(Bytes({'x', 0, 0, 0, 0, 0, 0, 0}), field);
    WCHAR text[5];
    EXPECT_EQ(1u, ReadWideField(field.data(), 4, text));
    EXPECT_EQ(u"x", Wide(text));
}

TEST(IndexLayout, RecordSizeLimits) {
    EXPECT_FALSE(IsRecordSizeValid(0));
    EXPECT_FALSE(IsRecordSizeValid(279));
    EXPECT_TRUE(IsRecordSizeValid(280));
    EXPECT_TRUE(IsRecordSizeValid(799));
    EXPECT_TRUE(IsRecordSizeValid(65536));
    EXPECT_FALSE(IsRecordSizeValid(65537));
    EXPECT_FALSE(IsRecordSizeValid(0xFFFFFFFFu));
}

TEST(ItemInfo, VersionOneNeeds544BytesAndReadsNoMore) {
    Bytes b = ItemV1(u"C:\\Users\\me\\a.txt", 0x01D0000000000000ULL, 0x1122334455667788ULL);
    ItemInfoRecord record;
    ASSERT_TRUE(DecodeItemInfo(b.data(), b.size(), &record));
    EXPECT_EQ(1u, record.version);
    EXPECT_EQ(0x1122334455667788ULL, record.fileSize);
    EXPECT_EQ(0x01D0000000000000ULL, record.deletionTime);
    EXPECT_EQ(u"C:\\Users\\me\\a.txt", Wide(record.originalPath));
    EXPECT_FALSE(DecodeItemInfo(b.data(), 543, &record));
    EXPECT_FALSE(DecodeItemInfo(b.data(), 0, &record));
    b.resize(600, 0x41);  // a longer file: bytes after 544 are never looked at
    ASSERT_TRUE(DecodeItemInfo(b.data(), b.size(), &record));
    EXPECT_EQ(u"C:\\Users\\me\\a.txt", Wide(record.originalPath));
}

TEST(ItemInfo, VersionOneWithoutTerminatorIsPassedOver) {
    // Its path would be restored under a cut name.
    Bytes b = ItemV1(std::u16string(260, u'x'), 2, 1);
    ItemInfoRecord record;
    EXPECT_FALSE(DecodeItemInfo(b.data(), b.size(), &record));
    Bytes fits = ItemV1(std::u16string(259, u'x'), 2, 1);
    ASSERT_TRUE(DecodeItemInfo(fits.data(), fits.size(), &record));
    EXPECT_EQ(259u, WideLength(record.originalPath));
}

TEST(ItemInfo, UnknownVersionsReadAsVersionOne) {
    Bytes b = ItemV1(u"C:\\x", 8, 7);
    Put64(b, 0, 3);
    ItemInfoRecord record;
    ASSERT_TRUE(DecodeItemInfo(b.data(), b.size(), &record));
    EXPECT_EQ(u"C:\\x", Wide(record.originalPath));
    Put64(b, 0, 0);
    EXPECT_TRUE(DecodeItemInfo(b.data(), b.size(), &record));
}

TEST(ItemInfo, VersionTwoReadsTheCountedPath) {
    std::u16string path = u"C:\\Users\\me\\\u65E5\u672C.txt";
    Bytes b = ItemV2(path + u'\0', 0x01DA000000000000ULL, 12345, (uint32_t)path.size() + 1);
    EXPECT_LT(b.size(), 544u);
    ItemInfoRecord record;
    ASSERT_TRUE(DecodeItemInfo(b.data(), b.size(), &record));
    EXPECT_EQ(2u, record.version);
    EXPECT_EQ(12345u, record.fileSize);
    EXPECT_EQ(0x01DA000000000000ULL, record.deletionTime);
    EXPECT_EQ(path, Wide(record.originalPath));
    // The rest of the field is zero, as if read from a 544-byte file.
    for (size_t i = path.size(); i < PATH_FIELD_CHARS; ++i) ASSERT_EQ(0, record.originalPath[i]);
}

TEST(ItemInfo, VersionTwoPathMaySitInAWiderCount) {
    // Text up to the first zero; the rest of the counted units is padding.
    Bytes b = ItemV2(std::u16string(u"C:\\a\0zz\0", 8), 2, 1, 8);
    ItemInfoRecord record;
    ASSERT_TRUE(DecodeItemInfo(b.data(), b.size(), &record));
    EXPECT_EQ(u"C:\\a", Wide(record.originalPath));
}

TEST(ItemInfo, VersionTwoRejectsCountsThatDoNotFit) {
    ItemInfoRecord record;
    std::u16string path = u"C:\\a.txt";
    Bytes good = ItemV2(path + u'\0', 2, 1, 9);
    ASSERT_TRUE(DecodeItemInfo(good.data(), good.size(), &record));
    // One byte short of the counted path.
    EXPECT_FALSE(DecodeItemInfo(good.data(), good.size() - 1, &record));
    EXPECT_FALSE(DecodeItemInfo(good.data(), 27, &record));
    // Count 0, a count past the file, a count beyond 260 units.
    Bytes zero = good;
    Put32(zero, 24, 0);
    EXPECT_FALSE(DecodeItemInfo(zero.data(), zero.size(), &record));
    Bytes huge = good;
    Put32(huge, 24, 0xFFFFFFFFu);
    EXPECT_FALSE(DecodeItemInfo(huge.data(), huge.size(), &record));
    Bytes longest = ItemV2(std::u16string(259, u'y') + u'\0', 2, 1, 260);
    EXPECT_TRUE(DecodeItemInfo(longest.data(), longest.size(), &record));
    EXPECT_EQ(259u, WideLength(record.originalPath));
    Bytes tooLong = ItemV2(std::u16string(260, u'y') + u'\0', 2, 1, 261);
    EXPECT_FALSE(DecodeItemInfo(tooLong.data(), tooLong.size(), &record));
    // No terminator within the count.
    Bytes open = ItemV2(path, 2, 1, (uint32_t)path.size());
    EXPECT_FALSE(DecodeItemInfo(open.data(), open.size(), &record));
}

TEST(ItemInfo, EncodeWritesVersionOneByteForByte) {
    ItemInfoRecord record;
    std::memset(&record, 0xCC, sizeof record);
    record.version = 2;
    record.fileSize = 0x0A1A;
    record.deletionTime = 0x01CAE90A0A1A0A0AULL;
    const std::u16string path = u"D:\\tmp\\x\u00E9.txt";
    for (size_t i = 0; i < path.size(); ++i) record.originalPath[i] = (WCHAR)path[i];
    record.originalPath[path.size()] = 0;  // the rest of the array is 0xCCCC garbage
    uint8_t out[ITEM_V1_SIZE];
    EncodeItemInfo(&record, out);
    Bytes expected = ItemV1(path, 0x01CAE90A0A1A0A0AULL, 0x0A1A);
    EXPECT_EQ(0, std::memcmp(expected.data(), out, ITEM_V1_SIZE));
}

TEST(TimeConversion, EpochAndTruncation) {
    EXPECT_EQ(0, FileTimeToUnixTime(116444736000000000ULL));
    EXPECT_EQ(116444736000000000ULL, UnixTimeToFileTime(0));
    EXPECT_EQ(0, FileTimeToUnixTime(116444736000000000ULL - 5000000));
    EXPECT_EQ(-1, FileTimeToUnixTime(116444736000000000ULL - 10000000));
    EXPECT_EQ(1272717296, FileTimeToUnixTime(UnixTimeToFileTime(1272717296)));
    EXPECT_EQ(129171908960000000ULL, UnixTimeToFileTime(1272717296));
    EXPECT_EQ(-11644473600LL, FileTimeToUnixTime(0));
    // Damaged values give some number, never a trap.
    (void)FileTimeToUnixTime(0xFFFFFFFFFFFFFFFFULL);
    (void)UnixTimeToFileTime(INT64_MIN);
}

TEST(DataItemName, AcceptsOnlyTheRecordsOwnName) {
    WCHAR letter = 0;
    uint32_t number = 0;
    ASSERT_TRUE(ParseDataItemName(WIDE("Dc7.txt"), &letter, &number));
    EXPECT_EQ('c', letter);
    EXPECT_EQ(7u, number);
    ASSERT_TRUE(ParseDataItemName(WIDE("Dc12"), &letter, &number));
    EXPECT_EQ(12u, number);
    ASSERT_TRUE(ParseDataItemName(WIDE("DC0.tar.gz"), &letter, &number));
    EXPECT_EQ('c', letter);
    EXPECT_EQ(0u, number);
    ASSERT_TRUE(ParseDataItemName(WIDE("D{3.txt"), &letter, &number));
    EXPECT_EQ('{', letter);
    ASSERT_TRUE(ParseDataItemName(WIDE("dd4294967295."), &letter, &number));
    EXPECT_EQ(4294967295u, number);

    const WCHAR* wrong[] = {WIDE("D"), WIDE("Dc"), WIDE("Dc.txt"), WIDE("Dc07.txt"), WIDE("Dc1x.txt"),
                            WIDE("Dc1 copy.txt"), WIDE("Ec1.txt"), WIDE("Dc4294967296"), WIDE("desktop.ini"),
                            WIDE("$Ic1.txt")};
    for (const WCHAR* name : wrong) EXPECT_FALSE(ParseDataItemName(name, &letter, &number));
}

TEST(DriveLetter, NetworkRecordsUseTheLetterAfterZ) {
    EXPECT_EQ('a', DriveLetterOf(0));
    EXPECT_EQ('c', DriveLetterOf(2));
    EXPECT_EQ('z', DriveLetterOf(25));
    EXPECT_EQ('{', DriveLetterOf(26));
    BinEntry entry;
    std::memset(&entry, 0, sizeof entry);
    entry.driveNumber = 26;
    EXPECT_EQ('{', EntryDriveLetter(&entry));
}

// ReadTextLine over an in-memory stream.
struct LineReader {
    FILE* stream;
    explicit LineReader(const std::string& bytes) {
        stream = tmpfile();
        fwrite(bytes.data(), 1, bytes.size(), stream);
        rewind(stream);
    }
    ~LineReader() { fclose(stream); }
    // Every line up to the end, "<none>" marking the end.
    std::vector<std::string> All() {
        std::vector<std::string> lines;
        for (;;) {
            char* line = ReadTextLine(stream);
            if (line == nullptr) break;
            lines.push_back(line);
            MemFree(line);
        }
        return lines;
    }
};

TEST(ReadTextLine, LineEnds) {
    typedef std::vector<std::string> Lines;
    EXPECT_EQ((Lines{"x", "y"}), LineReader("x\r\ny").All());
    EXPECT_EQ((Lines{"x", "y"}), LineReader("x\ry").All());
    EXPECT_EQ((Lines{"x", ""}), LineReader("x\n\n").All());
    EXPECT_EQ((Lines{"x", "", "y"}), LineReader("x\r\ry").All());
    EXPECT_EQ((Lines{"a", "last"}), LineReader("a\nlast").All());
    EXPECT_EQ((Lines{"a"}), LineReader("a\r").All());
    EXPECT_EQ(Lines{}, LineReader("").All());
    EXPECT_EQ((Lines{"a"}), LineReader(std::string("a\0b", 3)).All());
}

TEST(ReadTextLine, LongLinesGrowAndOverlongOnesAreCut) {
    typedef std::vector<std::string> Lines;
    for (size_t n : {259u, 260u, 261u, 520u, 521u}) {
        std::string line(n, 'k');
        EXPECT_EQ((Lines{line, "next"}), LineReader(line + "\nnext").All()) << n;
    }
    // A megabyte without a break keeps its first TEXT_LINE_LIMIT - 1 bytes
    // and the next line still starts where it should.
    std::string big(1 << 20, 'q');
    big[5] = 'Z';
    Lines lines = LineReader(big + "\r\nafter").All();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(TEXT_LINE_LIMIT - 1, lines[0].size());
    EXPECT_EQ('Z', lines[0][5]);
    EXPECT_EQ("after", lines[1]);
}

TEST(ReadTextLine, MemoryExhaustionIsToldApartFromTheEnd) {
    LineReader reader(std::string(1000, 'm') + "\n");
    StoreStatus status = STORE_OK;
    MemSetFailAt(2);  // the first growth of the buffer
    char* line = ReadTextLine(reader.stream, &status);
    MemSetFailAt(0);
    EXPECT_EQ(nullptr, line);
    EXPECT_EQ(STORE_NO_MEMORY, status);
    EXPECT_EQ(0, gRun.exitCode);  // nothing reported: the caller does that
    LineReader empty("");
    EXPECT_EQ(nullptr, ReadTextLine(empty.stream, &status));
    EXPECT_EQ(STORE_OK, status);
}

TEST(RecordNumberSet, TakesNumbersInOrderAcrossGrowth) {
    // A folder that cannot be searched has every number free; the per-item
    // layout has no index whose records would count.
    gRun.bin.path = const_cast<WCHAR*>(WIDE("Q:\\no\\such\\folder"));
    gRun.bin.format = FORMAT_ITEM_FILES;
    RecordNumberSet set;
    ASSERT_TRUE(BuildRecordNumberSet(&gRun.bin, &set));
    EXPECT_EQ(0u, FirstFreeRecordNumber(&set, false));
    EXPECT_EQ(1u, FirstFreeRecordNumber(&set, true));
    for (uint32_t expected = 0; expected < 5000; ++expected) {
        ASSERT_EQ(expected, FirstFreeRecordNumber(&set, false));
        ASSERT_EQ(expected + 1, FirstFreeRecordNumber(&set, true));
        ASSERT_TRUE(MarkRecordNumberUsed(&set, expected));
    }
    // Numbers far above wait until the bitmap reaches them.
    ASSERT_TRUE(MarkRecordNumberUsed(&set, 5001));
    ASSERT_TRUE(MarkRecordNumberUsed(&set, 4294967295u));
    ASSERT_TRUE(MarkRecordNumberUsed(&set, 100000));
    EXPECT_EQ(5000u, FirstFreeRecordNumber(&set, false));
    EXPECT_EQ(5002u, FirstFreeRecordNumber(&set, true));
    for (uint32_t n = 5000; n < 100000; ++n) {
        if (n == 5001) continue;
        ASSERT_TRUE(MarkRecordNumberUsed(&set, n));
    }
    EXPECT_EQ(100001u, FirstFreeRecordNumber(&set, false));
    EXPECT_EQ(100002u, FirstFreeRecordNumber(&set, true));
    FreeRecordNumberSet(&set);
    FreeRecordNumberSet(&set);  // twice is harmless
    gRun.bin.path = nullptr;
    gRun.bin.format = FORMAT_NONE;
}


// An entry is the same item when its record (number, drive, time and path)
// or its $I file is; what the listing shows besides (size, attributes) may
// change. The path compares exactly: both come from the same bytes.
TEST(SameEntry, ComparesWhatIdentifiesTheItem) {
    const storebytes::Record base = {"C:\\a.txt", u"C:\\a.txt", 7, 2, 130000000000000000ULL, 4096, false};
    struct Row {
        const char* what;
        std::function<void(BinEntry*)> change;
        bool same;
    };
    for (bool wide : {true, false}) {
        // A path as the entry holds it: UTF-16, or bytes for ANSI entries.
        auto setPath = [wide](BinEntry* entry, const char* path) {
            DropOriginalPath(entry);
            if (path == nullptr) return;
            storebytes::Record text = {path, std::u16string(path, path + std::strlen(path)), 0, 0, 0, 0, false};
            BinEntry* made = storebytes::Entry(text, wide);
            entry->ansiPath = made->ansiPath;
            entry->widePath = made->widePath;
            MemFree(made);
        };
        const Row rows[] = {
            {"itself", [](BinEntry*) {}, true},
            {"size", [](BinEntry* e) { e->size += 1; }, true},
            {"attributes", [](BinEntry* e) { e->attributes ^= 0x20; }, true},
            {"number", [](BinEntry* e) { e->recordNumber += 1; }, false},
            {"drive", [](BinEntry* e) { e->driveNumber += 1; }, false},
            {"time", [](BinEntry* e) { e->deletionTime += 1; }, false},
            {"path", [&](BinEntry* e) { setPath(e, "C:\\b.txt"); }, false},
            {"path's case", [&](BinEntry* e) { setPath(e, "C:\\A.txt"); }, false},
            {"path's end", [&](BinEntry* e) { setPath(e, "C:\\a.txt2"); }, false},
            {"no path", [&](BinEntry* e) { setPath(e, nullptr); }, false},
            {"a data path", [](BinEntry* e) { e->dataPath = WideDuplicate(WIDE("C:\\bin\\$Rx")); }, false},
        };
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.what) + (wide ? ", wide" : ", ANSI"));
            BinEntry* a = storebytes::Entry(base, wide);
            BinEntry* b = storebytes::Entry(base, wide);
            row.change(b);
            EXPECT_EQ(SameEntry(a, b), row.same);
            EXPECT_EQ(SameEntry(b, a), row.same);
            FreeEntry(a);
            FreeEntry(b);
        }
    }
    // The same path as wide and as ANSI text is not the same record field.
    BinEntry* wideEntry = storebytes::Entry(base, true);
    BinEntry* ansiEntry = storebytes::Entry(base, false);
    EXPECT_FALSE(SameEntry(wideEntry, ansiEntry));
    FreeEntry(wideEntry);
    FreeEntry(ansiEntry);
    // Per-item entries: the $R item tells them apart.
    BinEntry* one = storebytes::ItemEntry(u"C:\\a.txt", u"C:\\bin\\$RAAAAAA.txt");
    BinEntry* other = storebytes::ItemEntry(u"C:\\a.txt", u"C:\\bin\\$RBBBBBB.txt");
    BinEntry* again = storebytes::ItemEntry(u"C:\\a.txt", u"C:\\bin\\$RAAAAAA.txt");
    EXPECT_FALSE(SameEntry(one, other));
    EXPECT_TRUE(SameEntry(one, again));
    FreeEntry(one);
    FreeEntry(other);
    FreeEntry(again);
}

// A copy owns its strings: it outlives the list it came from. Running out
// of memory at any of its allocations gives no copy.
TEST(DuplicateEntry, DeepCopyOrNone) {
    const storebytes::Record base = {"C:\\a.txt", u"C:\\a.txt", 7, 2, 130000000000000000ULL, 4096, false};
    std::vector<BinEntry*> originals = {
        storebytes::Entry(base, true), storebytes::Entry(base, false),
        storebytes::ItemEntry(u"C:\\x\\y.txt", u"C:\\bin\\$RAB12CD.txt"), storebytes::Entry(base, true)};
    DropOriginalPath(originals[3]);  // a record whose path could not be read
    for (BinEntry* original : originals) {
        original->attributes = 0x21;
        original->size = 0x100000001ULL;
        BinEntry* copy = DuplicateEntry(original);
        ASSERT_NE(copy, nullptr);
        EXPECT_TRUE(SameEntry(copy, original));
        EXPECT_EQ(copy->size, original->size);
        EXPECT_EQ(copy->attributes, original->attributes);
        EXPECT_TRUE(copy->ansiPath == nullptr || copy->ansiPath != original->ansiPath);
        EXPECT_TRUE(copy->widePath == nullptr || copy->widePath != original->widePath);
        EXPECT_TRUE(copy->dataPath == nullptr || copy->dataPath != original->dataPath);
        EXPECT_EQ(copy->ansiPath == nullptr, original->ansiPath == nullptr);
        EXPECT_EQ(copy->widePath == nullptr, original->widePath == nullptr);
        EXPECT_EQ(copy->dataPath == nullptr, original->dataPath == nullptr);

        int allocations = 0;
        for (long failAt = 1; failAt < 10; ++failAt) {
            MemSetFailAt(failAt);
            BinEntry* failed = DuplicateEntry(original);
            bool met = MemFailureMet();
            MemSetFailAt(0);
            if (!met) {
                ASSERT_NE(failed, nullptr);
                FreeEntry(failed);
                break;
            }
            ++allocations;
            EXPECT_EQ(failed, nullptr) << failAt;
        }
        EXPECT_EQ(allocations, 1 + HasOriginalPath(original) + (original->dataPath != nullptr));

        FreeEntry(original);  // the copy stays whole
        BinEntry* again = DuplicateEntry(copy);
        ASSERT_NE(again, nullptr);
        EXPECT_TRUE(SameEntry(again, copy));
        FreeEntry(again);
        FreeEntry(copy);
    }
    FreeEntry(nullptr);  // harmless
}

}  // namespace
