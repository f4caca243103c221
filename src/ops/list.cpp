// The numbered table of the bin's items.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/messages.h"
#include "app/runstate.h"
#include "ops/ops.h"
#include "platform/console.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "store/store.h"

namespace {

// Shown for a deletion time the local-time conversion rejects. Split so
// that no "??/" trigraph is ever read by an older compiler mode.
const char TIME_PLACEHOLDER[] = "????" "/??" "/??" " ??:??:??";
// The Windows runtime converts times from 1970 up to the end of the year
// 3000 only; both builds keep to that range so they show the same.
const int64_t LATEST_LOCAL_TIME = 32535215999LL;
const int PATH_COLUMN_WIDTH = 39;

// Digits of the largest number, up to three, so the brackets line up.
int NumberWidth(int32_t count) { return count < 10 ? 1 : (count < 100 ? 2 : 3); }

// A line's room: the path's column and what follows it; a longer path is
// printed in pieces.
const size_t LINE_UNITS = 1024;
const size_t LINE_TAIL_UNITS = 48;

// Appends `value` at `*at`, at least `digits` wide, padded in front with
// `pad` (as "%0*u" or "%*u" would).
template <typename Unit>
void PutNumber(Unit* text, size_t* at, uint32_t value, int digits, char pad) {
    char reversed[10];
    int n = 0;
    do {
        reversed[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = n; i < digits; ++i) text[(*at)++] = (Unit)pad;
    while (n > 0) text[(*at)++] = (Unit)reversed[--n];
}

void PutText(WCHAR* text, size_t* at, const char* part) {
    while (*part != 0) text[(*at)++] = (WCHAR)(unsigned char)*part++;
}

// The line is put together from its columns rather than formatted, and
// written at once: a big bin's listing is thousands of lines.
void PrintEntryLine(const BinEntry* entry, int32_t number, int width) {
    WCHAR line[LINE_UNITS];
    size_t at = 0;
    line[at++] = '[';
    PutNumber(line, &at, (uint32_t)number, width, ' ');
    PutText(line, &at, "] ");
    // The wide field is shown as it is; only an ANSI one needs a copy.
    WCHAR* converted = entry->widePath == nullptr ? WideOriginalPath(entry) : nullptr;
    const WCHAR* path = entry->widePath != nullptr ? entry->widePath : converted;
    // A line without its path must not pass for a complete listing.
    if (HasOriginalPath(entry) && path == nullptr) ReportNoMemory();
    const WCHAR* shown = path != nullptr ? path : WIDE("");
    size_t length = 0, used = 0;
    if (CopyShownText(line + at, LINE_UNITS - at - PATH_COLUMN_WIDTH - LINE_TAIL_UNITS, shown, &length, &used)) {
        at += length;
    } else {
        WriteOutput(line, at);
        PrintShownText(shown);
        used = ShownAnsiWidth(shown);
        at = 0;
    }
    MemFree(converted);
    for (; used < (size_t)PATH_COLUMN_WIDTH; ++used) line[at++] = ' ';
    char time[32];
    FormatDeletionTime(entry->deletionTime, time, sizeof time);
    line[at++] = ' ';
    PutText(line, &at, time);
    line[at++] = ' ';
    size_t column = at;
    if (entry->attributes & FILE_ATTRIBUTE_DIRECTORY) PutText(line, &at, "<DIR>");
    while (at < column + 6) line[at++] = ' ';
    line[at++] = (WCHAR)AttributeLetter(entry->attributes, FILE_ATTRIBUTE_ARCHIVE, 'A');
    line[at++] = (WCHAR)AttributeLetter(entry->attributes, FILE_ATTRIBUTE_SYSTEM, 'S');
    line[at++] = (WCHAR)AttributeLetter(entry->attributes, FILE_ATTRIBUTE_HIDDEN, 'H');
    line[at++] = (WCHAR)AttributeLetter(entry->attributes, FILE_ATTRIBUTE_READONLY, 'R');
    line[at++] = '\n';
    WriteOutput(line, at);
}

}  // namespace

WCHAR* WideOriginalPath(const BinEntry* entry) {
    if (entry->widePath != nullptr) return WideDuplicate(entry->widePath);
    if (entry->ansiPath != nullptr) return AnsiToWideAlloc(entry->ansiPath);
    return nullptr;
}

char AttributeLetter(uint32_t attributes, uint32_t bit, char letter) {
    return (attributes & bit) != 0 ? letter : '-';
}

bool IsDeletionTimeShown(uint64_t fileTime) {
    int64_t seconds = FileTimeToUnixTime(fileTime);
    return seconds >= 0 && seconds <= LATEST_LOCAL_TIME;
}

void FormatDeletionTime(uint64_t fileTime, char* buffer, size_t capacity) {
    struct tm local;
    if (!IsDeletionTimeShown(fileTime) || !FsLocalTime(FileTimeToUnixTime(fileTime), &local)) {
        std::snprintf(buffer, capacity, "%s", TIME_PLACEHOLDER);
        return;
    }
    char text[24];
    size_t at = 0;
    PutNumber(text, &at, (uint32_t)(local.tm_year + 1900), 4, '0');
    text[at++] = '/';
    PutNumber(text, &at, (uint32_t)(local.tm_mon + 1), 2, '0');
    text[at++] = '/';
    PutNumber(text, &at, (uint32_t)local.tm_mday, 2, '0');
    text[at++] = ' ';
    PutNumber(text, &at, (uint32_t)local.tm_hour, 2, '0');
    text[at++] = ':';
    PutNumber(text, &at, (uint32_t)local.tm_min, 2, '0');
    text[at++] = ':';
    PutNumber(text, &at, (uint32_t)local.tm_sec, 2, '0');
    if (capacity == 0) return;
    if (at >= capacity) at = capacity - 1;
    std::memcpy(buffer, text, at);
    buffer[at] = 0;
}

namespace {

// A selection lists the entries it takes, each with its number in the full
// listing, so that the number can be used afterwards.
void WriteListing() {
    PositionArray chosen;
    bool selecting = HasSelection(gRun.selection);
    if (selecting && !SelectEntries(&gRun.bin, &chosen)) return;
    if (gRun.listFormat != LIST_TABLE) {
        WriteEntriesAsData(selecting ? &chosen : nullptr);
        return;
    }
    int32_t count = gRun.bin.entries.Length();
    int32_t shown = selecting ? chosen.Length() : count;
    PrintMessage(WIDE("\n"));
    PrintCatalogue(MSG_FILE_COUNT, (int)shown);
    if (shown == 0) {
        PrintMessage(WIDE("\n"));
        PrintCatalogue(count > 0 ? MSG_NONE_SELECTED : MSG_BIN_EMPTY);
        return;
    }
    PrintCatalogue(MSG_LIST_HEADER);
    int width = NumberWidth(count);
    for (int32_t k = 0; k < shown; ++k) {
        int32_t i = selecting ? chosen.At(k) : k;
        PrintEntryLine(static_cast<const BinEntry*>(gRun.bin.entries.At(i)), i + 1, width);
    }
}

}  // namespace

// The listing is the command's result: one that could not be written out
// (a full disk, a closed pipe) is a failure, not a success. The message
// goes where text goes, which for a data listing is standard error.
void ListEntries() {
    WriteListing();
    bool written = gRun.listFormat == LIST_TABLE ? FlushOutput() : FlushData();
    if (written) return;
    PrintCatalogue(MSG_ERR_OUTPUT_FAILED);
    FlushOutput();
    if (gRun.exitCode < EXIT_FIRST_ERROR) gRun.exitCode = EXIT_OUTPUT_FAILED;
}
