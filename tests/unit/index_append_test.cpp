// Appending a record to an index in place and taking it back, on the
// in-memory disk: where the record goes when a killed writer left a piece of
// one, and that every step that fails leaves the index byte for byte as it
// was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_disk.h"
#include "support/run.h"
#include "support/store_bytes.h"
#include "platform/memory.h"
#include "store/store.h"

namespace {

using fakedisk::ATTR_DIRECTORY;
using fakedisk::ReadFile;
using fakedisk::WriteFile;
using storebytes::Header;
using storebytes::Record;

typedef std::vector<uint8_t> Bytes;

const char16_t INFO2[] = u"C:\\bin\\INFO2";

const Record kOld[] = {
    {"C:\\a.txt", u"C:\\a.txt", 0, 2, 130000000000000000ULL, 4096, false},
    {"C:\\b.txt", u"C:\\b.txt", 1, 2, 130000000010000000ULL, 8192, true},
};
const Record kNew = {"C:\\new.txt", u"C:\\new.txt", 2, 2, 130000000020000000ULL, 512, false};

// An index of `records` whole records and a trailing piece of `tail` bytes.
struct Shape {
    uint32_t recordSize;
    int records;
    size_t tail;
};

const Shape kShapes[] = {
    {800, 2, 0}, {800, 2, 1}, {800, 2, 20}, {800, 2, 279}, {800, 2, 799},
    {280, 2, 0}, {280, 2, 1}, {280, 2, 279}, {800, 0, 0},  {800, 0, 5},
};

std::string Describe(const Shape& shape) {
    return std::to_string(shape.recordSize) + "-byte records, " + std::to_string(shape.records) +
           " whole, " + std::to_string(shape.tail) + " bytes after";
}

class IndexAppendTest : public ::testing::Test {
protected:
    fakedisk::Disk disk;
    Bytes original, tail, record, headerBefore, headerAfter;

    void SetUp() override {
        fakedisk::Install(&disk);
        fakedisk::AddNode(u"C:", ATTR_DIRECTORY);
        fakedisk::AddNode(u"C:\\bin", ATTR_DIRECTORY);
        testrun::StartRun(WIDE("C:\\bin"), FORMAT_INFO2);
    }
    void TearDown() override {
        MemSetFailAt(0);
        testrun::ClearRun();
        fakedisk::Uninstall();
    }

    // Writes the index of the shape and opens it the way every writer has
    // it: held under the bin's lock.
    FILE* Open(const Shape& shape) {
        UnlockBin(&gRun.bin);
        headerBefore = Header(5, 1, 2, shape.recordSize, 4096);
        headerAfter = Header(5, 2, 3, shape.recordSize, 4608);
        std::vector<Record> records(kOld, kOld + shape.records);
        original = storebytes::Index(headerBefore, shape.recordSize, records);
        tail.assign(shape.tail, 0);
        for (size_t i = 0; i < shape.tail; ++i) tail[i] = (uint8_t)(0xC0 + i % 50);
        original.insert(original.end(), tail.begin(), tail.end());
        record = storebytes::RecordBytes(kNew, shape.recordSize, 0x5A);
        WriteFile(INFO2, original);
        disk.fault = fakedisk::Fault();
        return LockBin(&gRun.bin, gRun.lockWaitMs) ? gRun.bin.lock : nullptr;
    }

    // What the index holds after the append: the new header, the whole
    // records, the new record where the piece began.
    Bytes Appended(const Shape& shape) const {
        Bytes bytes(original.begin(), original.end() - (long)shape.tail);
        std::copy(headerAfter.begin(), headerAfter.end(), bytes.begin());
        bytes.insert(bytes.end(), record.begin(), record.end());
        return bytes;
    }

    AppendResult Append(FILE* index, IndexAppend* append) {
        return AppendIndexRecord(index, record.data(), (uint32_t)record.size(), headerBefore.data(),
                                 headerAfter.data(), append);
    }
};

TEST_F(IndexAppendTest, RecordGoesToTheBoundaryAndComesBackOut) {
    for (const Shape& shape : kShapes) {
        SCOPED_TRACE(Describe(shape));
        FILE* index = Open(shape);
        ASSERT_NE(index, nullptr);
        IndexAppend append;
        ASSERT_EQ(Append(index, &append), APPEND_OK);
        EXPECT_EQ(ReadFile(INFO2), Appended(shape));
        EXPECT_EQ(append.sizeBefore, (int64_t)original.size());
        EXPECT_EQ(append.boundary, 20 + (int64_t)shape.records * shape.recordSize);
        ASSERT_EQ(append.tailLength, shape.tail);
        EXPECT_EQ(Bytes(append.tail, append.tail + append.tailLength), tail);

        // Loaded, the new record is read as one, in its place.
        fakedisk::AddNode(u"C:\\bin\\Dc2.txt", fakedisk::ATTR_FILE);
        testing::internal::CaptureStdout();
        ASSERT_TRUE(LoadEntries(&gRun.bin));
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(gRun.bin.entries.Length(), 1);
        EXPECT_EQ(static_cast<BinEntry*>(gRun.bin.entries.At(0))->recordNumber, kNew.number);
        FreeEntries(&gRun.bin);
        disk.nodes.erase(fakedisk::Fold(u"C:\\bin\\Dc2.txt"));

        EXPECT_TRUE(WithdrawIndexRecord(index, &append));
        FreeIndexAppend(&append);
        EXPECT_EQ(ReadFile(INFO2), original);
    }
}

// Each call of the append made to fail in turn, until one runs without
// meeting its fault: each failure puts back every byte, the piece after the
// last record included.
TEST_F(IndexAppendTest, EveryFailedStepLeavesTheIndexAsItWas) {
    for (const Shape& shape : kShapes) {
        SCOPED_TRACE(Describe(shape));
        int failedSteps = 0;
        for (int at = 1; at < 50; ++at) {
            SCOPED_TRACE(at);
            FILE* index = Open(shape);
            ASSERT_NE(index, nullptr);
            fakedisk::FailCall("any", at);
            IndexAppend append;
            AppendResult result = Append(index, &append);
            FreeIndexAppend(&append);
            if (!disk.fault.met) {
                EXPECT_EQ(result, APPEND_OK);
                EXPECT_EQ(ReadFile(INFO2), Appended(shape));
                break;
            }
            ++failedSteps;
            EXPECT_EQ(result, APPEND_FAILED);
            EXPECT_EQ(ReadFile(INFO2), original);
        }
        // Seek, tell, seek, two writes and flushes, a seek between them;
        // a piece after the records is read first.
        EXPECT_GE(failedSteps, shape.tail > 0 ? 10 : 8);
    }
}

// The writes that change the file, one by one: a write that stops half way
// (the record over the piece, or the header) and a flush that fails after
// its write.
TEST_F(IndexAppendTest, HalfWrittenRecordOrHeaderIsTakenBack) {
    const struct {
        const char* call;
        int at;
    } faults[] = {{"write", 1}, {"write", 2}, {"flush", 1}, {"flush", 2}};
    for (const Shape& shape : kShapes) {
        for (const auto& fault : faults) {
            SCOPED_TRACE(Describe(shape) + ", " + fault.call + " " + std::to_string(fault.at));
            FILE* index = Open(shape);
            ASSERT_NE(index, nullptr);
            fakedisk::FailCall(fault.call, fault.at);
            IndexAppend append;
            EXPECT_EQ(Append(index, &append), APPEND_FAILED);
            EXPECT_TRUE(disk.fault.met);
            EXPECT_EQ(ReadFile(INFO2), original);
            // Cut back to the boundary before the old piece went back.
            std::string last = disk.log.empty() ? std::string() : disk.log.back();
            EXPECT_EQ(last, "truncate c:\\bin\\info2 " + std::to_string(20 + shape.records * shape.recordSize));
        }
    }
}

// Taking the record back reports each step that fails; once nothing fails
// the index is as it was.
TEST_F(IndexAppendTest, WithdrawalReportsAFailedStep) {
    for (const Shape& shape : kShapes) {
        SCOPED_TRACE(Describe(shape));
        int failedSteps = 0;
        for (int at = 1; at < 50; ++at) {
            FILE* index = Open(shape);
            ASSERT_NE(index, nullptr);
            IndexAppend append;
            ASSERT_EQ(Append(index, &append), APPEND_OK);
            fakedisk::FailCall("any", at);
            bool withdrawn = WithdrawIndexRecord(index, &append);
            FreeIndexAppend(&append);
            if (!disk.fault.met) {
                EXPECT_TRUE(withdrawn);
                EXPECT_EQ(ReadFile(INFO2), original);
                break;
            }
            ++failedSteps;
            EXPECT_FALSE(withdrawn) << at;
        }
        // Truncate, seek, write, flush; and a seek and a write for a piece.
        EXPECT_EQ(failedSteps, shape.tail > 0 ? 6 : 4);
    }
}

// An index shorter than its header has no boundary to append at; running
// out of memory for the piece after the records changes nothing either.
TEST_F(IndexAppendTest, ShortIndexOrNoMemoryWritesNothing) {
    for (size_t length : {0u, 1u, 19u}) {
        SCOPED_TRACE(length);
        Shape shape = {800, 0, 0};
        FILE* index = Open(shape);
        ASSERT_NE(index, nullptr);
        original.resize(length);
        WriteFile(INFO2, original);
        IndexAppend append;
        EXPECT_EQ(Append(index, &append), APPEND_FAILED);
        FreeIndexAppend(&append);
        EXPECT_EQ(ReadFile(INFO2), original);
    }
    Shape shape = {800, 2, 7};
    FILE* index = Open(shape);
    ASSERT_NE(index, nullptr);
    IndexAppend append;
    MemSetFailAt(1);
    EXPECT_EQ(Append(index, &append), APPEND_NO_MEMORY);
    MemSetFailAt(0);
    FreeIndexAppend(&append);
    EXPECT_EQ(ReadFile(INFO2), original);
}

}  // namespace
