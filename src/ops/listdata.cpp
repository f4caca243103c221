// The listing as data for programs (JSON Lines, CSV), and the selection of
// entries by age and name that listings and a selective emptying share. The
// data is UTF-8 whatever the code page, and keeps every character of a path.
#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "app/messages.h"
#include "app/runstate.h"
#include "ops/ops.h"
#include "platform/console.h"
#include "platform/memory.h"
#include "platform/wide.h"

namespace {

// The longest line: two names of 260 units, each unit escaped in six
// bytes at most, and the other fields.
const size_t DATA_LINE_BYTES = 4096;
const int64_t SECONDS_PER_DAY = 86400;
const char CSV_HEADER[] = "index,path,deleted,size,attributes,folder,item\r\n";

struct DataLine {
    char bytes[DATA_LINE_BYTES];
    size_t length = 0;
};

void Put(DataLine* line, const char* text, size_t length) {
    // Cannot overflow: DATA_LINE_BYTES holds the longest line.
    if (line->length + length > DATA_LINE_BYTES) length = DATA_LINE_BYTES - line->length;
    for (size_t i = 0; i < length; ++i) line->bytes[line->length++] = text[i];
}

void PutText(DataLine* line, const char* text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    Put(line, text, length);
}

void PutUtf8(DataLine* line, uint32_t code) {
    char bytes[4];
    size_t n;
    if (code < 0x80) {
        bytes[0] = (char)code;
        n = 1;
    } else if (code < 0x800) {
        bytes[0] = (char)(0xC0 | (code >> 6));
        bytes[1] = (char)(0x80 | (code & 0x3F));
        n = 2;
    } else if (code < 0x10000) {
        bytes[0] = (char)(0xE0 | (code >> 12));
        bytes[1] = (char)(0x80 | ((code >> 6) & 0x3F));
        bytes[2] = (char)(0x80 | (code & 0x3F));
        n = 3;
    } else {
        bytes[0] = (char)(0xF0 | (code >> 18));
        bytes[1] = (char)(0x80 | ((code >> 12) & 0x3F));
        bytes[2] = (char)(0x80 | ((code >> 6) & 0x3F));
        bytes[3] = (char)(0x80 | (code & 0x3F));
        n = 4;
    }
    Put(line, bytes, n);
}

// The next character of UTF-16 text; a lone surrogate comes as itself, with
// *lone set.
uint32_t NextCharacter(const WCHAR** text, bool* lone) {
    uint32_t unit = *(*text)++;
    *lone = false;
    if (IsHighSurrogate(unit) && IsLowSurrogate(**text)) {
        uint32_t low = *(*text)++;
        return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    *lone = IsHighSurrogate(unit) || IsLowSurrogate(unit);
    return unit;
}

// A JSON string: quotes, backslashes and control characters escaped, and a
// lone surrogate, which UTF-8 cannot carry, as its \u escape.
void PutJsonString(DataLine* line, const WCHAR* text) {
    Put(line, "\"", 1);
    while (*text != 0) {
        bool lone;
        uint32_t code = NextCharacter(&text, &lone);
        char escape[8];
        if (code == '"' || code == '\\') {
            escape[0] = '\\';
            escape[1] = (char)code;
            Put(line, escape, 2);
        } else if (code < 0x20 || lone) {
            std::snprintf(escape, sizeof escape, "\\u%04" PRIX32, code);
            Put(line, escape, 6);
        } else {
            PutUtf8(line, code);
        }
    }
    Put(line, "\"", 1);
}

// A CSV field, quoted when it holds a comma, a quote or a line break; a lone
// surrogate becomes U+FFFD.
void PutCsvField(DataLine* line, const WCHAR* text) {
    bool quoted = false;
    for (const WCHAR* at = text; *at != 0; ++at)
        if (*at == ',' || *at == '"' || *at == '\r' || *at == '\n') quoted = true;
    if (quoted) Put(line, "\"", 1);
    while (*text != 0) {
        bool lone;
        uint32_t code = NextCharacter(&text, &lone);
        if (code == '"') Put(line, "\"", 1);
        PutUtf8(line, lone ? 0xFFFD : code);
    }
    if (quoted) Put(line, "\"", 1);
}

void PutString(DataLine* line, const WCHAR* text) {
    if (gRun.listFormat == LIST_JSON)
        PutJsonString(line, text);
    else
        PutCsvField(line, text);
}

// "yyyy-mm-ddThh:mm:ssZ" of seconds since 1970 (not negative), by the
// civil calendar, the same in every build.
void FormatUtcTime(int64_t seconds, char* buffer, size_t capacity) {
    int64_t days = seconds / SECONDS_PER_DAY + 719468;  // from 0000-03-01
    int64_t rest = seconds % SECONDS_PER_DAY;
    int64_t era = days / 146097;
    int64_t dayOfEra = days - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    int64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
    int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    std::snprintf(buffer, capacity, "%04d-%02d-%02dT%02d:%02d:%02dZ", (int)year, (int)month, (int)day,
                  (int)(rest / 3600), (int)(rest / 60 % 60), (int)(rest % 60));
}

// The data item's file name: the one loading found (index layouts), or
// the last name of the $R item's path.
const WCHAR* ItemName(const BinEntry* entry) {
    if (entry->itemName != nullptr) return entry->itemName;
    if (entry->dataPath == nullptr) return WIDE("");
    const WCHAR* slash = WideFindLast(entry->dataPath, '\\');
    return slash != nullptr ? slash + 1 : entry->dataPath;
}

// One entry's line; false when memory ran out for its path (reported).
bool PutEntry(DataLine* line, const BinEntry* entry, int32_t number) {
    WCHAR* path = WideOriginalPath(entry);
    if (HasOriginalPath(entry) && path == nullptr) {
        ReportNoMemory();
        return false;
    }
    bool json = gRun.listFormat == LIST_JSON;
    char text[64];
    bool timeShown = IsDeletionTimeShown(entry->deletionTime);
    char time[32] = "";
    if (timeShown) FormatUtcTime(FileTimeToUnixTime(entry->deletionTime), time, sizeof time);
    bool folder = (entry->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    char attributes[16];
    std::snprintf(attributes, sizeof attributes, "%s%c%c%c%c", folder ? "<DIR> " : "",
                  AttributeLetter(entry->attributes, FILE_ATTRIBUTE_ARCHIVE, 'A'),
                  AttributeLetter(entry->attributes, FILE_ATTRIBUTE_SYSTEM, 'S'),
                  AttributeLetter(entry->attributes, FILE_ATTRIBUTE_HIDDEN, 'H'),
                  AttributeLetter(entry->attributes, FILE_ATTRIBUTE_READONLY, 'R'));
    std::snprintf(text, sizeof text, json ? "{\"index\":%d,\"path\":" : "%d,", (int)number);
    PutText(line, text);
    PutString(line, path != nullptr ? path : WIDE(""));
    MemFree(path);
    if (json) {
        PutText(line, ",\"deleted\":");
        PutText(line, timeShown ? "\"" : "null");
        PutText(line, time);
        PutText(line, timeShown ? "\"" : "");
        std::snprintf(text, sizeof text, ",\"size\":%" PRIu64 ",\"attributes\":\"", entry->size);
        PutText(line, text);
        PutText(line, attributes);
        PutText(line, folder ? "\",\"folder\":true,\"item\":" : "\",\"folder\":false,\"item\":");
    } else {
        std::snprintf(text, sizeof text, ",%s,%" PRIu64 ",", time, entry->size);
        PutText(line, text);
        PutText(line, attributes);
        PutText(line, folder ? ",true," : ",false,");
    }
    PutString(line, ItemName(entry));
    PutText(line, json ? "}\n" : "\r\n");
    return true;
}

// Whether the entry is selected at `now`; false when memory ran out.
bool EntrySelected(const BinEntry* entry, int64_t now, bool* selected) {
    const Selection& selection = gRun.selection;
    *selected = !selection.byAge || now - FileTimeToUnixTime(entry->deletionTime) > selection.olderSeconds;
    if (!*selected || selection.pattern == nullptr) return true;
    WCHAR* path = WideOriginalPath(entry);
    if (path == nullptr) {
        *selected = false;
        return !HasOriginalPath(entry);
    }
    // A pattern without a folder is matched against the last name alone;
    // a record written with '/' (earlier versions stored names typed so)
    // is read with '\', as the pattern is.
    UseBackslashes(path);
    const WCHAR* subject = path;
    if (WideFindFirst(selection.pattern, '\\') == nullptr)
        for (const WCHAR* at = path; *at != 0; ++at)
            if (*at == '\\') subject = at + 1;
    *selected = WildcardMatch(subject, WideLength(subject), selection.pattern, WideLength(selection.pattern));
    MemFree(path);
    return true;
}

}  // namespace

bool SelectEntries(const Bin* bin, PositionArray* positions) {
    int64_t now = (int64_t)std::time(nullptr);
    for (int32_t i = 0; i < bin->entries.Length(); ++i) {
        bool selected = false;
        if (!EntrySelected(static_cast<const BinEntry*>(bin->entries.At(i)), now, &selected) ||
            (selected && positions->Add(i) < 0)) {
            ReportNoMemory();
            return false;
        }
    }
    return true;
}

void WriteEntriesAsData(const PositionArray* chosen) {
    if (gRun.listFormat == LIST_CSV) WriteData(CSV_HEADER, sizeof CSV_HEADER - 1);
    int32_t count = chosen != nullptr ? chosen->Length() : gRun.bin.entries.Length();
    DataLine line;
    for (int32_t k = 0; k < count; ++k) {
        int32_t position = chosen != nullptr ? chosen->At(k) : k;
        line.length = 0;
        if (!PutEntry(&line, static_cast<const BinEntry*>(gRun.bin.entries.At(position)), position + 1)) break;
        WriteData(line.bytes, line.length);
    }
}
