// Writing an index file in place: appending a record so that it can be
// taken back, and the header read that every writer starts from.
#include <climits>
#include <cstring>

#include "platform/fs.h"
#include "platform/memory.h"
#include "store/store.h"

bool SeekIndex(FILE* index, int64_t offset) {
    if (offset < 0 || offset > (int64_t)LONG_MAX) return false;
    return FsSeek(index, (long)offset, SEEK_SET);
}

bool ReadIndexHeaderAt(FILE* index, uint8_t bytes[HEADER_SIZE], IndexHeader* header) {
    if (!FsSeek(index, 0, SEEK_SET) || !FsReadExact(bytes, HEADER_SIZE, index)) return false;
    DecodeIndexHeader(bytes, header);
    return IsRecordSizeValid(header->recordSize);
}

AppendResult AppendIndexRecord(FILE* index, const uint8_t* record, uint32_t recordSize,
                               const uint8_t headerBefore[HEADER_SIZE],
                               const uint8_t headerAfter[HEADER_SIZE], IndexAppend* append) {
    *append = IndexAppend();
    std::memcpy(append->headerBefore, headerBefore, HEADER_SIZE);
    if (!FsSeek(index, 0, SEEK_END)) return APPEND_FAILED;
    int64_t size = FsTell(index);
    if (size < (int64_t)HEADER_SIZE) return APPEND_FAILED;
    append->sizeBefore = size;
    append->boundary = HEADER_SIZE + (size - HEADER_SIZE) / recordSize * recordSize;
    append->tailLength = (size_t)(size - append->boundary);
    if (append->tailLength > 0) {
        append->tail = static_cast<uint8_t*>(MemAlloc(append->tailLength));
        if (append->tail == nullptr) return APPEND_NO_MEMORY;
        if (!SeekIndex(index, append->boundary) ||
            !FsReadExact(append->tail, append->tailLength, index)) {
            FreeIndexAppend(append);
            return APPEND_FAILED;
        }
    }
    bool written = SeekIndex(index, append->boundary) && FsWrite(record, recordSize, index) &&
                   FsFlush(index) && FsSeek(index, 0, SEEK_SET) &&
                   FsWrite(headerAfter, HEADER_SIZE, index) && FsFlush(index);
    if (written) return APPEND_OK;
    WithdrawIndexRecord(index, append);
    FreeIndexAppend(append);
    return APPEND_FAILED;
}

bool WithdrawIndexRecord(FILE* index, const IndexAppend* append) {
    // A write that failed half way may sit in the stream's buffer: the
    // flush inside the cut sends or drops it before the old bytes go back.
    bool restored = FsTruncate(index, (uint64_t)append->boundary);
    if (append->tailLength > 0)
        restored = restored && SeekIndex(index, append->boundary) &&
                   FsWrite(append->tail, append->tailLength, index);
    bool header = FsSeek(index, 0, SEEK_SET) && FsWrite(append->headerBefore, HEADER_SIZE, index);
    return FsFlush(index) && restored && header;
}

void FreeIndexAppend(IndexAppend* append) {
    MemFree(append->tail);
    append->tail = nullptr;
    append->tailLength = 0;
}
