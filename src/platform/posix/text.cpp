// Text on the POSIX backend as Wine gives it: UTF-8 as Wine decodes Unix
// names and arguments, Wine's simple case mapping, the ANSI code pages and
// their conversions (WideCharToMultiByte, MultiByteToWideChar), and the
// locale, from which Wine derives the ANSI code page and the character set
// of Unix names. The tables, measured under Wine, are in text_tables.inc.
#include <iconv.h>
#include <langinfo.h>
#include <strings.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>

#include "platform/os_posix.h"
#include "platform/posix/posix.h"

namespace posix {

namespace {

// ---------------------------------------------------------------------------
// UTF-8, decoded as Wine decodes Unix names and arguments: an invalid or cut
// sequence gives U+FFFD for the bytes that were taken into it.

// Decodes `length` bytes; returns the number of units the text needs and
// stores as many as fit. *invalid (if given) tells whether U+FFFD was put in.
size_t DecodeUtf8(const char* text, size_t length, WCHAR* out, size_t capacity, bool* invalid) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = in + length;
    size_t n = 0;
    bool bad = false;
    auto put = [&](uint32_t unit) {
        if (out != nullptr && n < capacity) out[n] = (WCHAR)unit;
        ++n;
    };
    while (in < end) {
        unsigned char ch = *in++;
        if (ch < 0x80) {
            put(ch);
            continue;
        }
        uint32_t value = DecodeUtf8Sequence(ch, &in, end);
        if (value == POSIX_NO_CHAR) {
            put(POSIX_REPLACEMENT);
            bad = true;
        } else if (value <= 0xFFFF) {
            put(value);
        } else {
            value -= 0x10000;
            put(0xD800 | (value >> 10));
            put(0xDC00 | (value & 0x3FF));
        }
    }
    if (invalid != nullptr) *invalid = bad;
    return n;
}

// Encodes `length` units; a lone surrogate becomes U+FFFD. Returns the byte
// count and stores as many whole sequences as fit.
size_t EncodeUtf8(const WCHAR* text, size_t length, char* out, size_t capacity) {
    size_t n = 0;
    bool full = false;
    for (size_t i = 0; i < length; ++i) {
        // A run of ASCII, most of any text, is copied as it is.
        if (out != nullptr && !full && text[i] < 0x80) {
            size_t room = capacity - n < length - i ? capacity - n : length - i;
            size_t end = i;
            // Four units at a time, while all four are ASCII.
            for (uint64_t units; end + 4 <= i + room; end += 4) {
                std::memcpy(&units, text + end, sizeof units);
                if ((units & 0xFF80FF80FF80FF80ull) != 0) break;
            }
            while (end < i + room && text[end] < 0x80) ++end;
            for (size_t k = i; k < end; ++k) out[n + k - i] = (char)text[k];
            n += end - i;
            i = end;
            if (i == length) break;
            if (text[i] < 0x80) full = true;  // no room left
        }
        uint32_t value = text[i];
        if (IsHighSurrogate(value) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
            value = 0x10000 + ((value & 0x3FF) << 10) + (text[i + 1] & 0x3FF);
            ++i;
        } else if (IsHighSurrogate(value) || IsLowSurrogate(value)) {
            value = POSIX_REPLACEMENT;
        }
        if (value < 0x80) {
            ++n;  // counted only: no output, or no room
            continue;
        }
        unsigned char bytes[4];
        size_t size;
        if (value < 0x800) {
            bytes[0] = (unsigned char)(0xC0 | (value >> 6));
            bytes[1] = (unsigned char)(0x80 | (value & 0x3F));
            size = 2;
        } else if (value < 0x10000) {
            bytes[0] = (unsigned char)(0xE0 | (value >> 12));
            bytes[1] = (unsigned char)(0x80 | ((value >> 6) & 0x3F));
            bytes[2] = (unsigned char)(0x80 | (value & 0x3F));
            size = 3;
        } else {
            bytes[0] = (unsigned char)(0xF0 | (value >> 18));
            bytes[1] = (unsigned char)(0x80 | ((value >> 12) & 0x3F));
            bytes[2] = (unsigned char)(0x80 | ((value >> 6) & 0x3F));
            bytes[3] = (unsigned char)(0x80 | (value & 0x3F));
            size = 4;
        }
        if (out != nullptr && !full) {
            if (n + size <= capacity)
                std::memcpy(out + n, bytes, size);
            else
                full = true;
        }
        n += size;
    }
    return n;
}

// ---------------------------------------------------------------------------
// Tables measured under Wine (text_tables.inc).

// Case mapping: ranges of code points that move by the same distance, every
// code point or every second one.
struct CaseRange {
    uint16_t first;
    uint16_t last;
    int32_t delta;
    uint8_t step;
};

// A single-byte code page: bytes 0x80-0xFF (below that ASCII).
struct SingleByteTable {
    UINT codePage;
    uint16_t high[128];
};

// Byte codes that a double-byte page maps to consecutive characters.
struct ByteRun {
    uint16_t firstCode;  // a single byte, or lead << 8 | trail
    uint16_t lastCode;
    uint16_t firstUnit;
};

// A character that a double-byte page converts to other bytes (0: none).
struct UnitOverride {
    uint16_t unit;
    uint16_t code;
};

struct LocaleCodePages {
    UINT codePage;
    const char* names;  // Windows locale names, blank-separated
};

#include "platform/posix/text_tables.inc"

WCHAR MapCase(const CaseRange* table, size_t count, WCHAR ch) {
    size_t low = 0, high = count;
    while (low < high) {  // the last range that starts at or before ch
        size_t middle = (low + high) / 2;
        if (table[middle].first <= ch)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == 0) return ch;
    const CaseRange& range = table[low - 1];
    if (ch > range.last || (ch - range.first) % range.step != 0) return ch;
    return (WCHAR)(ch + range.delta);
}

// ---------------------------------------------------------------------------
// Code pages. The single-byte ones are Windows' tables as Wine gives them;
// a character converts back only to the byte that converts to it (no best
// fit). The double-byte ones go through glibc's converters, corrected to
// Windows' tables where the two differ (compared over every character and
// every byte pair): mostly the user-defined areas.
struct DoubleByteCodePage {
    UINT codePage;
    const char* iconvName;
    WCHAR defaultUnit;  // what an invalid byte sequence becomes
    unsigned char leadFirst[2];
    unsigned char leadLast[2];
    const ByteRun* runs;
    size_t runCount;
    const UnitOverride* overrides;
    size_t overrideCount;
    bool opened;
    iconv_t toWide;
    iconv_t fromWide;
};

#define POSIX_TABLE(table) table, sizeof table / sizeof table[0]

DoubleByteCodePage sDoubleByte[] = {
    {932, "CP932", 0x30FB, {0x81, 0xE0}, {0x9F, 0xFC}, POSIX_TABLE(RUNS_932), POSIX_TABLE(OVERRIDES_932),
     false, (iconv_t)-1, (iconv_t)-1},
    {936, "CP936", 0x003F, {0x81, 0x81}, {0xFE, 0xFE}, POSIX_TABLE(RUNS_936), nullptr, 0, false,
     (iconv_t)-1, (iconv_t)-1},
    {949, "CP949", 0x003F, {0x81, 0x81}, {0xFE, 0xFE}, POSIX_TABLE(RUNS_949), nullptr, 0, false,
     (iconv_t)-1, (iconv_t)-1},
    {950, "CP950", 0x003F, {0x81, 0x81}, {0xFE, 0xFE}, POSIX_TABLE(RUNS_950), POSIX_TABLE(OVERRIDES_950),
     false, (iconv_t)-1, (iconv_t)-1},
};

#undef POSIX_TABLE

struct CodePage {
    UINT id;
    const SingleByteTable* single;   // a single-byte page, or
    DoubleByteCodePage* doubleByte;  // a double-byte page, or neither:
    bool ascii7;                     // US-ASCII (20127): the high bit dropped
};

bool IsLeadByte(const DoubleByteCodePage* page, unsigned char byte) {
    for (int i = 0; i < 2; ++i)
        if (byte >= page->leadFirst[i] && byte <= page->leadLast[i]) return true;
    return false;
}

bool OpenDoubleByte(DoubleByteCodePage* page) {
    if (!page->opened) {
        page->opened = true;
        page->toWide = iconv_open("UTF-16LE", page->iconvName);
        page->fromWide = iconv_open(page->iconvName, "UTF-16LE");
    }
    return page->toWide != (iconv_t)-1 && page->fromWide != (iconv_t)-1;
}

int CodeToBytes(uint16_t code, unsigned char out[2]) {
    if (code <= 0xFF) {
        out[0] = (unsigned char)code;
        return 1;
    }
    out[0] = (unsigned char)(code >> 8);
    out[1] = (unsigned char)code;
    return 2;
}

bool FindCodePage(UINT id, CodePage* page) {
    page->id = id;
    page->single = nullptr;
    page->doubleByte = nullptr;
    page->ascii7 = false;
    if (id == 20127) {
        page->ascii7 = true;
        return true;
    }
    for (const SingleByteTable& table : SINGLE_BYTE_TABLES) {
        if (table.codePage == id) {
            page->single = &table;
            return true;
        }
    }
    for (DoubleByteCodePage& table : sDoubleByte) {
        if (table.codePage == id) {
            if (!OpenDoubleByte(&table)) return false;
            page->doubleByte = &table;
            return true;
        }
    }
    return false;
}

// The bytes of one UTF-16 unit (1 or 2), or 0 when the page has none.
int UnitToBytes(const CodePage& page, WCHAR unit, unsigned char out[2]) {
    if (unit < 0x80) {
        out[0] = (unsigned char)unit;
        return 1;
    }
    if (page.ascii7 || IsHighSurrogate(unit) || IsLowSurrogate(unit)) return 0;
    if (page.single != nullptr) {
        for (int i = 0; i < 128; ++i) {
            if (page.single->high[i] == unit) {
                out[0] = (unsigned char)(0x80 + i);
                return 1;
            }
        }
        return 0;
    }
    const DoubleByteCodePage* table = page.doubleByte;
    for (size_t i = 0; i < table->overrideCount; ++i)
        if (table->overrides[i].unit == unit)
            return table->overrides[i].code == 0 ? 0 : CodeToBytes(table->overrides[i].code, out);
    for (size_t i = 0; i < table->runCount; ++i) {
        const ByteRun& run = table->runs[i];
        if (unit >= run.firstUnit && unit <= run.firstUnit + (run.lastCode - run.firstCode))
            return CodeToBytes((uint16_t)(run.firstCode + (unit - run.firstUnit)), out);
    }
    unsigned char in[2] = {(unsigned char)(unit & 0xFF), (unsigned char)(unit >> 8)};
    char* inPtr = reinterpret_cast<char*>(in);
    char* outPtr = reinterpret_cast<char*>(out);
    size_t inLeft = 2, outLeft = 2;
    iconv(table->fromWide, nullptr, nullptr, nullptr, nullptr);
    if (iconv(table->fromWide, &inPtr, &inLeft, &outPtr, &outLeft) != 0) return 0;
    return (int)(2 - outLeft);
}

// One character from `available` bytes: its unit, and how many bytes it
// took. *valid is false when the bytes have no character (the page's default
// unit is given then).
int BytesToUnit(const CodePage& page, const unsigned char* in, size_t available, WCHAR* unit,
                bool* valid) {
    unsigned char byte = in[0];
    *valid = true;
    if (byte < 0x80) {
        *unit = byte;
        return 1;
    }
    if (page.ascii7) {
        *unit = byte & 0x7F;
        return 1;
    }
    if (page.single != nullptr) {
        *unit = page.single->high[byte - 0x80];
        return 1;
    }
    const DoubleByteCodePage* table = page.doubleByte;
    int length = 1;
    uint16_t code = byte;
    if (IsLeadByte(table, byte)) {
        // A lead byte at the end, or before a zero, stands alone.
        if (available < 2 || in[1] == 0) {
            *unit = table->defaultUnit;
            *valid = false;
            return 1;
        }
        length = 2;
        code = (uint16_t)(byte << 8 | in[1]);
    }
    for (size_t i = 0; i < table->runCount; ++i) {
        const ByteRun& run = table->runs[i];
        if (code >= run.firstCode && code <= run.lastCode) {
            *unit = (WCHAR)(run.firstUnit + (code - run.firstCode));
            return length;
        }
    }
    unsigned char out[8];
    char* inPtr = const_cast<char*>(reinterpret_cast<const char*>(in));
    char* outPtr = reinterpret_cast<char*>(out);
    size_t inLeft = (size_t)length, outLeft = sizeof out;
    iconv(table->toWide, nullptr, nullptr, nullptr, nullptr);
    if (iconv(table->toWide, &inPtr, &inLeft, &outPtr, &outLeft) != 0 || outLeft != sizeof out - 2) {
        *unit = table->defaultUnit;
        *valid = false;
        return length;
    }
    *unit = (WCHAR)(out[0] | out[1] << 8);
    return length;
}

// ---------------------------------------------------------------------------
// The locale: the ANSI code page Wine derives from it, and the character set
// of Unix names and arguments.

const size_t LOCALE_NAME_BYTES = 85;

bool HasLocaleName(const char* names, const char* name) {
    size_t length = std::strlen(name);
    for (const char* p = names; *p != 0;) {
        const char* end = std::strchr(p, ' ');
        size_t tokenLength = end != nullptr ? (size_t)(end - p) : std::strlen(p);
        if (tokenLength == length && strncasecmp(p, name, length) == 0) return true;
        if (end == nullptr) break;
        p = end + 1;
    }
    return false;
}

UINT CodePageOfWindowsLocale(const char* name) {
    for (const LocaleCodePages& group : LOCALE_CODE_PAGES)
        if (HasLocaleName(group.names, name)) return group.codePage;
    return 1252;  // not in the table: the default system locale, en-US
}

enum UnixCharset { CHARSET_UTF8, CHARSET_ASCII, CHARSET_TABLE, CHARSET_ICONV };

struct LocaleState {
    bool known;
    UINT ansiCodePage;
    UnixCharset charset;
    CodePage table;
    iconv_t toWide;
    iconv_t fromWide;
};

LocaleState sLocale = {false, 1252, CHARSET_UTF8, {0, nullptr, nullptr, false}, (iconv_t)-1,
                       (iconv_t)-1};

// The character set's name without punctuation, upper-cased ("UTF-8" gives
// "UTF8"), as Wine compares them.
void NormaliseCharsetName(const char* name, char* out, size_t capacity) {
    size_t n = 0;
    for (; *name != 0 && n + 1 < capacity; ++name) {
        char ch = *name;
        if ((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z'))
            out[n++] = ch;
        else if (ch >= 'a' && ch <= 'z')
            out[n++] = (char)(ch - 32);
    }
    out[n] = 0;
}

// Wine reads Unix names and arguments in the locale's character set when it
// knows that set, else as UTF-8; the plain C locale's ASCII drops the high bit.
void ChooseCharset(const char* codeset) {
    char name[32];
    NormaliseCharsetName(codeset, name, sizeof name);
    static const struct {
        const char* name;
        UINT codePage;
    } TABLE_CHARSETS[] = {{"CP1250", 1250}, {"CP1251", 1251},   {"CP1252", 1252},    {"CP1253", 1253},
                   {"CP1254", 1254}, {"CP1255", 1255},   {"CP1256", 1256},    {"CP1257", 1257},
                   {"CP1258", 1258}, {"CP932", 932},     {"CP936", 936},      {"CP949", 949},
                   {"CP950", 950},   {"BIG5", 950},      {"BIG5HKSCS", 950},  {"EUCKR", 949},
                   {"GB18030", 936}, {"GB2312", 936},    {"GBK", 936},        {"IBM874", 874}};
    sLocale.charset = CHARSET_UTF8;
    if (std::strcmp(name, "ANSIX341968") == 0) {
        sLocale.charset = CHARSET_ASCII;
        return;
    }
    for (const auto& entry : TABLE_CHARSETS) {
        if (std::strcmp(name, entry.name) == 0) {
            if (FindCodePage(entry.codePage, &sLocale.table)) sLocale.charset = CHARSET_TABLE;
            return;
        }
    }
    static const char* const ICONV_CHARSET_PREFIXES[] = {"EUCJP", "IBM", "ISO8859", "KOI8R", "KOI8U", "TIS620"};
    for (const char* other : ICONV_CHARSET_PREFIXES) {
        if (std::strncmp(name, other, std::strlen(other)) == 0) {
            sLocale.toWide = iconv_open("UTF-16LE", codeset);
            sLocale.fromWide = iconv_open(codeset, "UTF-16LE");
            if (sLocale.toWide != (iconv_t)-1 && sLocale.fromWide != (iconv_t)-1)
                sLocale.charset = CHARSET_ICONV;
            return;
        }
    }
}

// Asks the C library for the locale of the environment as Wine does at start
// (LC_CTYPE for the character set, then LC_ALL for the system locale), and
// puts the process's own locale back: nothing else of the program changes.
void ReadLocale() {
    if (sLocale.known) return;
    sLocale.known = true;
    char saved[1024], codeset[64], ctype[256];
    CopyString(saved, sizeof saved, std::setlocale(LC_ALL, nullptr));
    std::setlocale(LC_CTYPE, "");
    CopyString(codeset, sizeof codeset, nl_langinfo(CODESET));
    std::setlocale(LC_ALL, "");
    CopyString(ctype, sizeof ctype, std::setlocale(LC_CTYPE, nullptr));
    std::setlocale(LC_ALL, saved);

    const char* name = ctype;
    if (name[0] == 0 || std::strcmp(name, "C") == 0) name = std::getenv("LC_ALL");
    sLocale.ansiCodePage = (name != nullptr && name[0] != 0) ? PosixCodePageForLocale(name) : 1252;
    ChooseCharset(codeset);
}

}  // namespace

uint32_t DecodeUtf8Sequence(unsigned char lead, const unsigned char** in, const unsigned char* end) {
    static const unsigned char UTF8_LEAD_MASKS[4] = {0x7F, 0x1F, 0x0F, 0x07};
    int length = lead >= 0xF5 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : 0;
    if (length == 0) return POSIX_NO_CHAR;
    const unsigned char* p = *in;
    if (p + length > end) {
        *in = end;
        return POSIX_NO_CHAR;
    }
    uint32_t value = lead & UTF8_LEAD_MASKS[length];
    unsigned next;
    if (length == 3) {
        if ((next = p[0] ^ 0x80u) >= 0x40) return POSIX_NO_CHAR;
        value = value << 6 | next;
        *in = ++p;
        if (value < 0x10) return POSIX_NO_CHAR;  // overlong
    }
    if (length >= 2) {
        if ((next = p[0] ^ 0x80u) >= 0x40) return POSIX_NO_CHAR;
        value = value << 6 | next;
        if (value >= (0x110000u >> 6)) return POSIX_NO_CHAR;
        *in = ++p;
        if (value < 0x20) return POSIX_NO_CHAR;  // overlong
        if (value >= (0xD800u >> 6) && value <= (0xDFFFu >> 6)) return POSIX_NO_CHAR;
    }
    if ((next = p[0] ^ 0x80u) >= 0x40) return POSIX_NO_CHAR;
    value = value << 6 | next;
    *in = ++p;
    if (value < 0x80) return POSIX_NO_CHAR;  // overlong
    return value;
}

WCHAR Upcase(WCHAR ch) {
    if (ch < 0x80) return WideUpperAscii(ch);
    return MapCase(UPPER_RANGES, sizeof UPPER_RANGES / sizeof UPPER_RANGES[0], ch);
}

WCHAR Downcase(WCHAR ch) {
    if (ch < 0x80) return WideLowerAscii(ch);
    return MapCase(LOWER_RANGES, sizeof LOWER_RANGES / sizeof LOWER_RANGES[0], ch);
}

bool NamesEqual(const WCHAR* a, size_t aLength, const WCHAR* b, size_t bLength) {
    if (aLength != bLength) return false;
    for (size_t i = 0; i < aLength; ++i)
        if (Upcase(a[i]) != Upcase(b[i])) return false;
    return true;
}

void CopyString(char* out, size_t capacity, const char* text) {
    size_t length = text != nullptr ? std::strlen(text) : 0;
    if (length > capacity - 1) length = capacity - 1;
    if (length > 0) std::memcpy(out, text, length);
    out[length] = 0;
}

// Unix bytes (a name, a path, an argument) to UTF-16; returns the units the
// text needs, storing as many as fit.
size_t UnixToWide(const char* bytes, size_t length, WCHAR* out, size_t capacity) {
    ReadLocale();
    if (sLocale.charset == CHARSET_UTF8) return DecodeUtf8(bytes, length, out, capacity, nullptr);
    const unsigned char* in = reinterpret_cast<const unsigned char*>(bytes);
    size_t n = 0, i = 0;
    while (i < length) {
        WCHAR unit = POSIX_REPLACEMENT;
        size_t used = 1;
        if (sLocale.charset == CHARSET_ASCII) {
            unit = in[i] & 0x7F;
        } else if (sLocale.charset == CHARSET_TABLE) {
            bool valid;
            used = (size_t)BytesToUnit(sLocale.table, in + i, length - i, &unit, &valid);
        } else {
            for (size_t take = 1; take <= 4 && i + take <= length; ++take) {
                unsigned char wide[8];
                char* inPtr = const_cast<char*>(bytes + i);
                char* outPtr = reinterpret_cast<char*>(wide);
                size_t inLeft = take, outLeft = sizeof wide;
                iconv(sLocale.toWide, nullptr, nullptr, nullptr, nullptr);
                if (iconv(sLocale.toWide, &inPtr, &inLeft, &outPtr, &outLeft) == 0 &&
                    outLeft == sizeof wide - 2) {
                    unit = (WCHAR)(wide[0] | wide[1] << 8);
                    used = take;
                    break;
                }
            }
        }
        if (out != nullptr && n < capacity) out[n] = unit;
        ++n;
        i += used;
    }
    return n;
}

// UTF-16 to Unix bytes, zero-terminated; false when it does not fit.
bool WideToUnix(const WCHAR* text, size_t length, char* out, size_t capacity) {
    ReadLocale();
    size_t n = 0;
    if (sLocale.charset == CHARSET_UTF8) {
        n = EncodeUtf8(text, length, out, capacity);
    } else {
        for (size_t i = 0; i < length; ++i) {
            unsigned char bytes[4] = {'?', 0, 0, 0};
            size_t size = 1;
            if (sLocale.charset == CHARSET_ASCII) {
                if (text[i] < 0x80) bytes[0] = (unsigned char)text[i];
            } else if (sLocale.charset == CHARSET_TABLE) {
                int got = UnitToBytes(sLocale.table, text[i], bytes);
                if (got > 0)
                    size = (size_t)got;
                else
                    bytes[0] = '?';
            } else {
                unsigned char in[2] = {(unsigned char)(text[i] & 0xFF), (unsigned char)(text[i] >> 8)};
                char* inPtr = reinterpret_cast<char*>(in);
                char* outPtr = reinterpret_cast<char*>(bytes);
                size_t inLeft = 2, outLeft = sizeof bytes;
                iconv(sLocale.fromWide, nullptr, nullptr, nullptr, nullptr);
                if (iconv(sLocale.fromWide, &inPtr, &inLeft, &outPtr, &outLeft) == 0)
                    size = sizeof bytes - outLeft;
                else
                    bytes[0] = '?';
            }
            if (n + size <= capacity) std::memcpy(out + n, bytes, size);
            n += size;
        }
    }
    if (n + 1 > capacity) return false;
    out[n] = 0;
    return true;
}

bool LocaleIsUtf8() {
    ReadLocale();
    return sLocale.charset == CHARSET_UTF8;
}

void ForgetLocale() {
    sLocale.known = false;
    if (sLocale.toWide != (iconv_t)-1) iconv_close(sLocale.toWide);
    if (sLocale.fromWide != (iconv_t)-1) iconv_close(sLocale.fromWide);
    sLocale.toWide = sLocale.fromWide = (iconv_t)-1;
}

// ANSI arguments of the "A" functions, widened from the ANSI code page.
WCHAR* WidenAnsi(const char* text) {
    if (text == nullptr) return nullptr;
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0) return nullptr;
    WCHAR* wide = static_cast<WCHAR*>(std::malloc((size_t)n * sizeof(WCHAR)));
    if (wide != nullptr) MultiByteToWideChar(CP_ACP, 0, text, -1, wide, n);
    return wide;
}

}  // namespace posix

using namespace posix;

// ===========================================================================
// KERNEL32

UINT GetACP(void) {
    ReadLocale();
    return sLocale.ansiCodePage;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int wideCount, char* bytes,
                        int byteCount, const char* defaultChar, BOOL* usedDefault) {
    (void)flags;  // no best fit in any case: every character without its own byte is the default
    if (wide == nullptr || wideCount == 0 || byteCount < 0 || (bytes == nullptr && byteCount > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (codePage == CP_ACP) codePage = GetACP();
    size_t count = wideCount < 0 ? WideLength(wide) + 1 : (size_t)wideCount;
    if (codePage == CP_UTF8) {
        if (usedDefault != nullptr) *usedDefault = FALSE;
        size_t needed = EncodeUtf8(wide, count, bytes, (size_t)byteCount);
        if (needed > (size_t)INT_MAX) needed = (size_t)INT_MAX;
        if (byteCount == 0) return (int)needed;
        if (needed > (size_t)byteCount) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        return (int)needed;
    }
    CodePage page;
    if (!FindCodePage(codePage, &page)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    unsigned char fallback[2] = {'?', 0};
    int fallbackLength = 1;
    if (defaultChar != nullptr) {
        fallback[0] = (unsigned char)defaultChar[0];
        if (page.doubleByte != nullptr && IsLeadByte(page.doubleByte, fallback[0]) && defaultChar[1] != 0) {
            fallback[1] = (unsigned char)defaultChar[1];
            fallbackLength = 2;
        }
    }
    bool used = false;
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        unsigned char out[2];
        int length = UnitToBytes(page, wide[i], out);
        if (length == 0) {
            used = true;
            std::memcpy(out, fallback, 2);
            length = fallbackLength;
        }
        if (byteCount > 0) {
            if (n + (size_t)length > (size_t)byteCount) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            std::memcpy(bytes + n, out, (size_t)length);
        }
        n += (size_t)length;
    }
    if (usedDefault != nullptr) *usedDefault = used ? TRUE : FALSE;
    return n > (size_t)INT_MAX ? INT_MAX : (int)n;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* bytes, int byteCount, WCHAR* wide,
                        int wideCount) {
    if (bytes == nullptr || byteCount == 0 || wideCount < 0 || (wide == nullptr && wideCount > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (codePage == CP_ACP) codePage = GetACP();
    size_t count = byteCount < 0 ? std::strlen(bytes) + 1 : (size_t)byteCount;
    bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
    size_t n = 0;
    if (codePage == CP_UTF8) {
        bool invalid = false;
        n = DecodeUtf8(bytes, count, wide, (size_t)wideCount, &invalid);
        if (strict && invalid) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
    } else {
        CodePage page;
        if (!FindCodePage(codePage, &page)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        const unsigned char* in = reinterpret_cast<const unsigned char*>(bytes);
        for (size_t i = 0; i < count;) {
            WCHAR unit;
            bool valid;
            i += (size_t)BytesToUnit(page, in + i, count - i, &unit, &valid);
            if (strict && !valid) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
            if (wideCount > 0 && n < (size_t)wideCount) wide[n] = unit;
            ++n;
        }
    }
    if (wideCount > 0 && n > (size_t)wideCount) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return n > (size_t)INT_MAX ? INT_MAX : (int)n;
}

// ---------------------------------------------------------------------------
// For the unit tests.

WCHAR PosixUpcase(WCHAR ch) { return Upcase(ch); }
WCHAR WideUpcase(WCHAR ch) { return Upcase(ch); }

WCHAR PosixDowncase(WCHAR ch) { return Downcase(ch); }

// Wine's reading of a Unix locale name (language_COUNTRY.charset@modifier)
// as a Windows one (language-COUNTRY, "@latin" as "-Latn"), looked up in
// Windows' table of default ANSI code pages; Unicode-only locales get UTF-8.
UINT PosixCodePageForLocale(const char* localeName) {
    if (localeName == nullptr || localeName[0] == 0) return 1252;
    if (std::strlen(localeName) >= LOCALE_NAME_BYTES) return 1252;
    char buffer[LOCALE_NAME_BYTES], windowsName[LOCALE_NAME_BYTES + 8];
    std::strcpy(buffer, localeName);
    char* p = std::strpbrk(buffer, "_.@");
    if (p == nullptr) {
        if (std::strcmp(buffer, "POSIX") == 0 || std::strcmp(buffer, "C") == 0) return 1252;
        return CodePageOfWindowsLocale(buffer);
    }
    char* country = nullptr;
    char* modifier = nullptr;
    if (*p == '_') {
        *p++ = 0;
        country = p;
        p = std::strpbrk(p, ".@");
    }
    if (p != nullptr && *p == '.') {
        *p++ = 0;
        p = std::strchr(p, '@');
    }
    if (p != nullptr) {
        *p++ = 0;
        modifier = p;
    }
    std::strcpy(windowsName, buffer);
    if (modifier != nullptr) {
        if (std::strcmp(modifier, "latin") == 0)
            std::strcat(windowsName, "-Latn");
        else if (std::strcmp(modifier, "euro") != 0)
            return 1252;
    }
    if (country != nullptr) {
        std::strcat(windowsName, "-");
        std::strcat(windowsName, country);
    }
    return CodePageOfWindowsLocale(windowsName);
}
