// The Win32 and Windows C runtime services of sysapi.h on Linux.
//
// The model is what the Windows build meets under Wine in the same
// environment, so that both builds behave alike: drives are the links in the
// Wine prefix's dosdevices folder, names are looked up without regard to case
// (Wine's case table, and Wine's generated 8.3 names), directory listings are
// sorted and matched as Wine does, and the ANSI code page follows the locale
// as Wine derives it. Where Wine's behaviour was measured rather than read,
// docs/platform-facts.md lists the facts.
//
// Memory here is the system's own (std::malloc), as the Windows heap behind
// kernel32 is: it does not count among the program's allocations, so a test
// that makes the N-th program allocation fail meets the same N on both builds.
#include "platform/os_posix.h"

#include "platform/os.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <iconv.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <sys/xattr.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <clocale>
#include <cstdlib>
#include <cstring>

#include "platform/console.h"

namespace {

// Win32 error codes that sysapi.h does not name.
const DWORD POSIX_ERROR_GEN_FAILURE = 31;
const DWORD POSIX_ERROR_BAD_DEV_TYPE = 66;
const DWORD POSIX_ERROR_DISK_FULL = 112;
const DWORD POSIX_ERROR_DIRECTORY = 267;
const DWORD POSIX_ERROR_NO_SUCH_DEVICE = 433;

const uint32_t POSIX_NO_CHAR = 0xFFFFFFFFu;
const WCHAR POSIX_REPLACEMENT = 0xFFFD;

// Sizes of the work buffers: a Unix path, a wide path, one name.
const size_t UNIX_PATH_BYTES = 4096;
const size_t WIDE_PATH_UNITS = 4096;
const size_t NAME_UNITS = 256;  // Wine skips longer directory entries
const int MAX_PATH_PARTS = 1024;

DWORD sLastError = 0;

bool IsSeparator(WCHAR ch) { return ch == '\\' || ch == '/'; }
bool IsAsciiLetter(WCHAR ch) { return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'); }
WCHAR AsciiUpper(WCHAR ch) { return (ch >= 'a' && ch <= 'z') ? (WCHAR)(ch - 32) : ch; }

size_t WideLen(const WCHAR* text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// ---------------------------------------------------------------------------
// UTF-8, decoded as Wine decodes Unix names and arguments: an invalid or cut
// sequence gives U+FFFD for the bytes that were taken into it.

uint32_t DecodeUtf8Sequence(unsigned char lead, const unsigned char** in, const unsigned char* end) {
    static const unsigned char kMasks[4] = {0x7F, 0x1F, 0x0F, 0x07};
    int length = lead >= 0xF5 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : 0;
    if (length == 0) return POSIX_NO_CHAR;
    const unsigned char* p = *in;
    if (p + length > end) {
        *in = end;
        return POSIX_NO_CHAR;
    }
    uint32_t value = lead & kMasks[length];
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
        uint32_t value = text[i];
        if (IsHighSurrogate(value) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
            value = 0x10000 + ((value & 0x3FF) << 10) + (text[i + 1] & 0x3FF);
            ++i;
        } else if (IsHighSurrogate(value) || IsLowSurrogate(value)) {
            value = POSIX_REPLACEMENT;
        }
        unsigned char bytes[4];
        size_t size;
        if (value < 0x80) {
            bytes[0] = (unsigned char)value;
            size = 1;
        } else if (value < 0x800) {
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
// Tables measured under Wine (os_posix_tables.inc).

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

#include "platform/os_posix_tables.inc"

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

WCHAR Upcase(WCHAR ch) {
    if (ch < 0x80) return AsciiUpper(ch);
    return MapCase(kUpperRanges, sizeof kUpperRanges / sizeof kUpperRanges[0], ch);
}

WCHAR Downcase(WCHAR ch) {
    if (ch < 0x80) return (ch >= 'A' && ch <= 'Z') ? (WCHAR)(ch + 32) : ch;
    return MapCase(kLowerRanges, sizeof kLowerRanges / sizeof kLowerRanges[0], ch);
}

bool EqualNoCase(const WCHAR* a, size_t aLength, const WCHAR* b, size_t bLength) {
    if (aLength != bLength) return false;
    for (size_t i = 0; i < aLength; ++i)
        if (Upcase(a[i]) != Upcase(b[i])) return false;
    return true;
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
    {932, "CP932", 0x30FB, {0x81, 0xE0}, {0x9F, 0xFC}, POSIX_TABLE(kRuns932), POSIX_TABLE(kOverrides932),
     false, (iconv_t)-1, (iconv_t)-1},
    {936, "CP936", 0x003F, {0x81, 0x81}, {0xFE, 0xFE}, POSIX_TABLE(kRuns936), nullptr, 0, false,
     (iconv_t)-1, (iconv_t)-1},
    {949, "CP949", 0x003F, {0x81, 0x81}, {0xFE, 0xFE}, POSIX_TABLE(kRuns949), nullptr, 0, false,
     (iconv_t)-1, (iconv_t)-1},
    {950, "CP950", 0x003F, {0x81, 0x81}, {0xFE, 0xFE}, POSIX_TABLE(kRuns950), POSIX_TABLE(kOverrides950),
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
    for (const SingleByteTable& table : kSingleByteTables) {
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
    for (const LocaleCodePages& group : kLocaleCodePages)
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
    } kTables[] = {{"CP1250", 1250}, {"CP1251", 1251},   {"CP1252", 1252},    {"CP1253", 1253},
                   {"CP1254", 1254}, {"CP1255", 1255},   {"CP1256", 1256},    {"CP1257", 1257},
                   {"CP1258", 1258}, {"CP932", 932},     {"CP936", 936},      {"CP949", 949},
                   {"CP950", 950},   {"BIG5", 950},      {"BIG5HKSCS", 950},  {"EUCKR", 949},
                   {"GB18030", 936}, {"GB2312", 936},    {"GBK", 936},        {"IBM874", 874}};
    sLocale.charset = CHARSET_UTF8;
    if (std::strcmp(name, "ANSIX341968") == 0) {
        sLocale.charset = CHARSET_ASCII;
        return;
    }
    for (const auto& entry : kTables) {
        if (std::strcmp(name, entry.name) == 0) {
            if (FindCodePage(entry.codePage, &sLocale.table)) sLocale.charset = CHARSET_TABLE;
            return;
        }
    }
    static const char* const kOthers[] = {"EUCJP", "IBM", "ISO8859", "KOI8R", "KOI8U", "TIS620"};
    for (const char* other : kOthers) {
        if (std::strncmp(name, other, std::strlen(other)) == 0) {
            sLocale.toWide = iconv_open("UTF-16LE", codeset);
            sLocale.fromWide = iconv_open(codeset, "UTF-16LE");
            if (sLocale.toWide != (iconv_t)-1 && sLocale.fromWide != (iconv_t)-1)
                sLocale.charset = CHARSET_ICONV;
            return;
        }
    }
}

void CopyString(char* out, size_t capacity, const char* text) {
    size_t length = text != nullptr ? std::strlen(text) : 0;
    if (length > capacity - 1) length = capacity - 1;
    if (length > 0) std::memcpy(out, text, length);
    out[length] = 0;
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

// ---------------------------------------------------------------------------
// Drives: the links "a:" to "z:" in the dosdevices folder of the Wine prefix
// ($WINEPREFIX, else ~/.wine). Without that folder Z: is the root, as in a
// fresh prefix. A link whose target is missing maps nothing.

struct DriveTable {
    bool loaded;
    char prefix[UNIX_PATH_BYTES];
    char* roots[26];  // real paths of the drives' folders
};

DriveTable sDrives;

// The drive made current by _chdrive, kept while the working directory is
// the one it set: two letters may name the same folder.
struct ChosenDrive {
    int drive;
    char cwd[UNIX_PATH_BYTES];
};

ChosenDrive sChosen;

void PrefixFolder(char* out, size_t capacity) {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix != nullptr && prefix[0] != 0) {
        CopyString(out, capacity, prefix);
        return;
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == 0) {
        out[0] = 0;
        return;
    }
    std::snprintf(out, capacity, "%s/.wine", home);
}

void ForgetDrives() {
    for (char*& root : sDrives.roots) {
        std::free(root);
        root = nullptr;
    }
    sDrives.loaded = false;
}

char* DuplicateString(const char* text) {
    size_t length = std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy != nullptr) std::memcpy(copy, text, length + 1);
    return copy;
}

void LoadDrives() {
    char prefix[UNIX_PATH_BYTES];
    PrefixFolder(prefix, sizeof prefix);
    if (sDrives.loaded && std::strcmp(prefix, sDrives.prefix) == 0) return;
    ForgetDrives();
    sDrives.loaded = true;
    CopyString(sDrives.prefix, sizeof sDrives.prefix, prefix);
    char folder[UNIX_PATH_BYTES + 16];
    std::snprintf(folder, sizeof folder, "%s/dosdevices", prefix);
    struct stat info;
    if (prefix[0] == 0 || stat(folder, &info) != 0 || !S_ISDIR(info.st_mode)) {
        sDrives.roots[25] = DuplicateString("/");
        return;
    }
    for (int i = 0; i < 26; ++i) {
        char link[UNIX_PATH_BYTES + 24], target[PATH_MAX];
        std::snprintf(link, sizeof link, "%s/%c:", folder, 'a' + i);
        if (realpath(link, target) == nullptr) continue;
        if (stat(target, &info) != 0 || !S_ISDIR(info.st_mode)) continue;
        sDrives.roots[i] = DuplicateString(target);
    }
}

const char* DriveRoot(int drive) {
    LoadDrives();
    if (drive < 1 || drive > 26) return nullptr;
    return sDrives.roots[drive - 1];
}

// The length of `root` when the folder `path` lies inside it, else -1.
long RootContains(const char* root, const char* path) {
    size_t length = std::strlen(root);
    if (length == 1 && root[0] == '/') return 1;
    if (std::strncmp(root, path, length) != 0) return -1;
    if (path[length] != 0 && path[length] != '/') return -1;
    return (long)length;
}

// The current drive (1 = A), or 0 when the working directory lies in no
// drive; the working directory's real path goes to cwd. The drive is the
// most specific one that holds it (the first letter among equals).
int CurrentDrive(char* cwd, size_t capacity) {
    LoadDrives();
    if (getcwd(cwd, capacity) == nullptr) {
        cwd[0] = 0;
        return 0;
    }
    if (sChosen.drive != 0 && std::strcmp(sChosen.cwd, cwd) == 0 &&
        sDrives.roots[sChosen.drive - 1] != nullptr &&
        RootContains(sDrives.roots[sChosen.drive - 1], cwd) >= 0)
        return sChosen.drive;
    int best = 0;
    long bestLength = -1;
    for (int i = 0; i < 26; ++i) {
        if (sDrives.roots[i] == nullptr) continue;
        long length = RootContains(sDrives.roots[i], cwd);
        if (length > bestLength) {
            bestLength = length;
            best = i + 1;
        }
    }
    return best;
}

int CurrentDrive() {
    char cwd[UNIX_PATH_BYTES];
    return CurrentDrive(cwd, sizeof cwd);
}

// The DOS form of a drive's current directory: the working directory for the
// current drive, the root for any other. Returns the length, or -1 for a
// drive that maps nothing. Outside every drive Wine shows "unix\..." .
long DriveDirectory(int drive, WCHAR* out, size_t capacity) {
    char cwd[UNIX_PATH_BYTES];
    int current = CurrentDrive(cwd, sizeof cwd);
    if (drive == 0) drive = current;
    size_t n = 0;
    auto put = [&](WCHAR ch) {
        if (n < capacity) out[n] = ch;
        ++n;
    };
    const char* rest;
    if (drive == 0) {
        if (cwd[0] == 0) return -1;
        for (const char* p = "unix"; *p != 0; ++p) put((WCHAR)*p);
        rest = cwd;
    } else {
        const char* root = DriveRoot(drive);
        if (root == nullptr) return -1;
        put((WCHAR)('A' + drive - 1));
        put(':');
        put('\\');
        rest = "";
        if (drive == current) {
            long length = RootContains(root, cwd);
            rest = cwd + (length == 1 ? 1 : length);
            if (*rest == '/') ++rest;
        }
    }
    while (*rest != 0) {
        const char* end = std::strchr(rest, '/');
        size_t length = end != nullptr ? (size_t)(end - rest) : std::strlen(rest);
        if (length > 0) {
            if (drive == 0 || n > 3) put('\\');
            WCHAR name[NAME_UNITS * 2];
            size_t units = UnixToWide(rest, length, name, sizeof name / sizeof name[0]);
            for (size_t i = 0; i < units && i < sizeof name / sizeof name[0]; ++i) put(name[i]);
        }
        if (end == nullptr) break;
        rest = end + 1;
    }
    if (n < capacity) out[n] = 0;
    return (long)n;
}

// ---------------------------------------------------------------------------
// Names: Wine's generated 8.3 names and its mask match.

bool IsInvalidShortNameChar(WCHAR ch) {
    static const char kInvalid[] = "*?<>|\"+=,;[] \345~.";
    if (ch > 0x7F) return true;
    for (const char* p = kInvalid; *p != 0; ++p)
        if (ch == (WCHAR)(unsigned char)*p) return true;
    return false;
}

bool IsLegalShortName(const WCHAR* name, size_t length) {
    static const char kInvalid[] = "*?<>|\"+=,;[] \345:/\\";
    if (length > 12) return false;
    if (length > 0 && name[0] == '.') return length == 1 || (length == 2 && name[1] == '.');
    long dot = -1;
    for (size_t i = 0; i < length; ++i) {
        if (name[i] > 0x7F) return false;
        for (const char* p = kInvalid; *p != 0; ++p)
            if (name[i] == (WCHAR)(unsigned char)*p) return false;
        if (name[i] == '.') {
            if (dot != -1) return false;
            dot = (long)i;
        }
    }
    if (dot == -1) return length <= 8;
    if (dot > 8) return false;
    return (long)length - dot > 1 && (long)length - dot < 5;
}

// Four characters of the name, a hash of the whole name in three, the first
// three characters of the extension; upper case.
size_t MakeShortName(const WCHAR* name, size_t length, WCHAR* buffer) {
    static const char kHashChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    if (length == 0) return 0;
    const WCHAR* end = name + length;
    uint16_t hash = 0xBEEF;
    const WCHAR* p = name;
    for (; p < end - 1; ++p)
        hash = (uint16_t)((hash << 3) ^ (hash >> 5) ^ Downcase(p[0]) ^ (Downcase(p[1]) << 8));
    hash = (uint16_t)((hash << 3) ^ (hash >> 5) ^ Downcase(*p));

    const WCHAR* extension = nullptr;
    for (p = name + 1; p < end - 1; ++p)
        if (*p == '.') extension = p;

    WCHAR* out = buffer;
    int left = 4;
    for (p = name; left > 0; --left, ++p) {
        if (p == end || p == extension) break;
        *out++ = IsInvalidShortNameChar(*p) ? (WCHAR)'_' : *p;
    }
    while (left-- >= 0) *out++ = '~';
    *out++ = (WCHAR)kHashChars[(hash >> 10) & 0x1F];
    *out++ = (WCHAR)kHashChars[(hash >> 5) & 0x1F];
    *out++ = (WCHAR)kHashChars[hash & 0x1F];
    if (extension != nullptr) {
        *out++ = '.';
        int count = 3;
        for (p = extension + 1; count > 0 && p < end; --count, ++p)
            *out++ = IsInvalidShortNameChar(*p) ? (WCHAR)'_' : *p;
    }
    size_t n = (size_t)(out - buffer);
    for (size_t i = 0; i < n; ++i) buffer[i] = Upcase(buffer[i]);
    buffer[n] = 0;
    return n;
}

// Wine's match: a '*' skips to the next character equal to the one after it
// and retries one further on after a mismatch; a '?' takes any one
// character. Once the name is used up, trailing '.' and '*' of the mask
// are ignored. (So "a*?" matches nothing and "*." matches every name.)
bool MatchMask(const WCHAR* name, size_t nameLength, const WCHAR* mask, size_t maskLength) {
    const WCHAR* nameEnd = name + nameLength;
    const WCHAR* maskEnd = mask + maskLength;
    const WCHAR* afterStar = nullptr;
    const WCHAR* retry = nullptr;
    while (name < nameEnd && mask < maskEnd) {
        if (*mask == '*') {
            while (mask < maskEnd && *mask == '*') ++mask;
            if (mask == maskEnd) return true;
            afterStar = mask;
            while (name < nameEnd && Upcase(*name) != Upcase(*mask)) ++name;
            retry = name;
        } else if (*mask == '?') {
            ++mask;
            ++name;
        } else if (Upcase(*mask) == Upcase(*name)) {
            ++mask;
            ++name;
            if (mask == maskEnd) {
                if (name == nameEnd) return true;
                if (afterStar != nullptr) mask = afterStar;
            }
        } else if (afterStar != nullptr) {
            mask = afterStar;
            name = ++retry;
        } else {
            return false;
        }
    }
    while (mask < maskEnd && (*mask == '.' || *mask == '*')) ++mask;
    return name == nameEnd && mask == maskEnd;
}

bool HasWildcard(const WCHAR* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] == '*' || text[i] == '?') return true;
    return false;
}

bool HasInvalidNameChar(const WCHAR* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        WCHAR ch = text[i];
        if (ch == '*' || ch == '?' || ch == '<' || ch == '>' || ch == '|' || ch == '"') return true;
        if (ch < 0x20) return true;  // Wine refuses C0 controls; DEL and C1 pass
    }
    return false;
}

// ---------------------------------------------------------------------------
// DOS paths. A path is made absolute against the current directory of its
// drive and its "." and ".." are resolved by text, as Windows does before it
// looks at the disk; trailing dots and blanks of the last name are dropped.

struct PathParts {
    int drive;  // 1 = A ... 26 = Z, or 0: the Unix root (cwd outside every drive)
    int count;
    bool trailingSeparator;
    bool literal;     // "\\?\" or "\\.\" before the drive: no name is a device
    bool lastIsName;  // the path ends in a name as written, not in "." or ".."
    size_t used;
    uint32_t start[MAX_PATH_PARTS];
    uint32_t length[MAX_PATH_PARTS];
    WCHAR text[WIDE_PATH_UNITS];
};

const WCHAR* PartText(const PathParts* parts, int index) { return parts->text + parts->start[index]; }

bool AddPart(PathParts* parts, const WCHAR* text, size_t length) {
    if (parts->count >= MAX_PATH_PARTS || parts->used + length > WIDE_PATH_UNITS) return false;
    std::memcpy(parts->text + parts->used, text, length * sizeof(WCHAR));
    parts->start[parts->count] = (uint32_t)parts->used;
    parts->length[parts->count] = (uint32_t)length;
    parts->used += length;
    ++parts->count;
    return true;
}

void RemoveLastPart(PathParts* parts) {
    if (parts->count == 0) return;
    --parts->count;
    parts->used = parts->start[parts->count];
}

// Adds the components of a Unix folder below `root`.
bool AddUnixParts(PathParts* parts, const char* folder, const char* root) {
    long skip = RootContains(root, folder);
    const char* rest = folder + (skip < 0 ? 0 : skip);
    while (*rest != 0) {
        while (*rest == '/') ++rest;
        const char* end = std::strchr(rest, '/');
        size_t length = end != nullptr ? (size_t)(end - rest) : std::strlen(rest);
        if (length > 0) {
            WCHAR name[NAME_UNITS * 2];
            size_t units = UnixToWide(rest, length, name, sizeof name / sizeof name[0]);
            if (units > sizeof name / sizeof name[0] || !AddPart(parts, name, units)) return false;
        }
        if (end == nullptr) break;
        rest = end + 1;
    }
    return true;
}

// Splits a DOS path into its drive and names. Returns 0 or a Win32 error.
DWORD ParseDosPath(const WCHAR* path, PathParts* parts) {
    parts->drive = 0;
    parts->count = 0;
    parts->used = 0;
    parts->trailingSeparator = false;
    parts->literal = false;
    parts->lastIsName = false;
    if (path == nullptr) return ERROR_INVALID_PARAMETER;
    if (path[0] == 0) return ERROR_PATH_NOT_FOUND;
    const WCHAR* p = path;
    if (IsSeparator(p[0]) && IsSeparator(p[1])) {
        // "\\?\X:\..." and "\\.\X:\..." name a drive path; anything else is a
        // network name, which no drive here serves.
        if ((p[2] == '?' || p[2] == '.') && IsSeparator(p[3]) && IsAsciiLetter(p[4]) && p[5] == ':') {
            p += 4;
            parts->literal = true;
        } else
            return POSIX_ERROR_BAD_DEV_TYPE;
    }
    char cwd[UNIX_PATH_BYTES];
    int current = CurrentDrive(cwd, sizeof cwd);
    if (IsAsciiLetter(p[0]) && p[1] == ':') {
        // A letter that maps nothing is kept: its names are then missing.
        parts->drive = AsciiUpper(p[0]) - 'A' + 1;
        const char* root = DriveRoot(parts->drive);
        p += 2;
        if (!IsSeparator(*p) && parts->drive == current && !AddUnixParts(parts, cwd, root))
            return ERROR_FILENAME_EXCED_RANGE;
    } else {
        parts->drive = current;
        if (!IsSeparator(*p)) {
            const char* root = current != 0 ? DriveRoot(current) : "/";
            if (!AddUnixParts(parts, cwd, root)) return ERROR_FILENAME_EXCED_RANGE;
        }
    }
    bool lastWasName = false;
    while (*p != 0) {
        while (IsSeparator(*p)) ++p;
        const WCHAR* end = p;
        while (*end != 0 && !IsSeparator(*end)) ++end;
        size_t length = (size_t)(end - p);
        if (length == 0) break;
        lastWasName = false;
        if (length == 1 && p[0] == '.') {
            // the folder itself
        } else if (length == 2 && p[0] == '.' && p[1] == '.') {
            RemoveLastPart(parts);
        } else {
            // A name before a separator loses one trailing dot ("dir.\x").
            if (*end != 0 && length > 1 && p[length - 1] == '.') --length;
            if (!AddPart(parts, p, length)) return ERROR_FILENAME_EXCED_RANGE;
            lastWasName = true;
        }
        p = end;
    }
    size_t total = WideLen(path);
    parts->trailingSeparator = total > 0 && IsSeparator(path[total - 1]);
    if (lastWasName && !parts->trailingSeparator) {
        int last = parts->count - 1;
        while (parts->length[last] > 0) {
            WCHAR ch = parts->text[parts->start[last] + parts->length[last] - 1];
            if (ch != '.' && ch != ' ') break;
            --parts->length[last];
            --parts->used;
        }
        if (parts->length[last] == 0) {
            RemoveLastPart(parts);
            lastWasName = false;
        }
    }
    parts->lastIsName = lastWasName;
    return 0;
}

// ---------------------------------------------------------------------------
// The names of one big folder, kept between calls. A name that is not there
// as typed must be looked for among all the folder's names without regard to
// case, and a throw makes two new names per item in the bin folder: without
// this every new name would read the whole folder again. The names stay
// valid while the folder's identity and modification time are unchanged,
// and this process's own changes to it are applied as they are made (the
// program does not guard against other processes changing the bin while it
// runs). Small folders are read each time.
const size_t FOLDER_CACHE_MIN_NAMES = 256;

struct CachedName {
    WCHAR* folded;     // upper case, as the comparison sees it
    size_t length;
    char* unixName;
    uint32_t order;    // readdir order, so the first of equal names wins
};

struct FolderCache {
    bool valid;
    char folder[UNIX_PATH_BYTES];
    dev_t device;
    ino_t inode;
    struct timespec modified;
    CachedName* names;
    size_t count;
    size_t capacity;
    uint32_t nextOrder;
};

FolderCache sFolderCache = {};

void FreeFolderCache(FolderCache* cache) {
    for (size_t i = 0; i < cache->count; ++i) {
        std::free(cache->names[i].folded);
        std::free(cache->names[i].unixName);
    }
    std::free(cache->names);
    *cache = FolderCache();
}

void ForgetFolderCache() { FreeFolderCache(&sFolderCache); }

int CompareFolded(const WCHAR* a, size_t aLength, const WCHAR* b, size_t bLength) {
    size_t n = aLength < bLength ? aLength : bLength;
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return aLength == bLength ? 0 : (aLength < bLength ? -1 : 1);
}

int CompareCachedNames(const void* a, const void* b) {
    const CachedName* x = static_cast<const CachedName*>(a);
    const CachedName* y = static_cast<const CachedName*>(b);
    int order = CompareFolded(x->folded, x->length, y->folded, y->length);
    if (order != 0) return order;
    return x->order < y->order ? -1 : (x->order > y->order ? 1 : 0);
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool FolderCacheCurrent(const char* folder, const struct stat& info) {
    return sFolderCache.valid && std::strcmp(sFolderCache.folder, folder) == 0 &&
           sFolderCache.device == info.st_dev && sFolderCache.inode == info.st_ino &&
           SameTime(sFolderCache.modified, info.st_mtim);
}

// Appends one name (unsorted); false when memory runs out.
bool AppendCachedName(FolderCache* cache, const char* unixName) {
    WCHAR wide[NAME_UNITS];
    size_t units = UnixToWide(unixName, std::strlen(unixName), wide, NAME_UNITS);
    if (units >= NAME_UNITS) return true;  // never matches a lookup either
    if (cache->count == cache->capacity) {
        size_t grown = cache->capacity < 64 ? 64 : cache->capacity * 2;
        CachedName* names = static_cast<CachedName*>(std::realloc(cache->names, grown * sizeof(CachedName)));
        if (names == nullptr) return false;
        cache->names = names;
        cache->capacity = grown;
    }
    CachedName name;
    name.folded = static_cast<WCHAR*>(std::malloc((units + 1) * sizeof(WCHAR)));
    name.unixName = strdup(unixName);
    if (name.folded == nullptr || name.unixName == nullptr) {
        std::free(name.folded);
        std::free(name.unixName);
        return false;
    }
    for (size_t i = 0; i < units; ++i) name.folded[i] = Upcase(wide[i]);
    name.folded[units] = 0;
    name.length = units;
    name.order = cache->nextOrder++;
    cache->names[cache->count++] = name;
    return true;
}

// The index of the first of the first `count` cached names not below
// `folded` (with `order`).
size_t LowerBound(const FolderCache* cache, size_t count, const WCHAR* folded, size_t length,
                  uint32_t order) {
    size_t low = 0, high = count;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        const CachedName& at = cache->names[middle];
        int compared = CompareFolded(at.folded, at.length, folded, length);
        if (compared < 0 || (compared == 0 && at.order < order))
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

// Reads a folder's names; a big folder's names replace the cache, a small
// folder leaves it as it was.
void BuildFolderCache(const char* folder) {
    FolderCache built = {};
    struct stat info;
    if (std::strlen(folder) >= sizeof built.folder || stat(folder, &info) != 0) return;
    DIR* directory = opendir(folder);
    if (directory == nullptr) return;
    bool ok = true;
    while (struct dirent* entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        if (!AppendCachedName(&built, entry->d_name)) {
            ok = false;
            break;
        }
    }
    closedir(directory);
    if (!ok || built.count < FOLDER_CACHE_MIN_NAMES) {
        FreeFolderCache(&built);
        return;
    }
    std::qsort(built.names, built.count, sizeof(CachedName), CompareCachedNames);
    CopyString(built.folder, sizeof built.folder, folder);
    built.device = info.st_dev;
    built.inode = info.st_ino;
    built.modified = info.st_mtim;
    built.valid = true;
    ForgetFolderCache();
    sFolderCache = built;
}

// The first name of the cached folder equal to `name` without regard to case.
bool LookUpCachedName(const WCHAR* name, size_t length, char* found, size_t capacity) {
    WCHAR folded[NAME_UNITS];
    if (length >= NAME_UNITS) return false;
    for (size_t i = 0; i < length; ++i) folded[i] = Upcase(name[i]);
    size_t at = LowerBound(&sFolderCache, sFolderCache.count, folded, length, 0);
    if (at == sFolderCache.count) return false;
    const CachedName& candidate = sFolderCache.names[at];
    if (CompareFolded(candidate.folded, candidate.length, folded, length) != 0) return false;
    CopyString(found, capacity, candidate.unixName);
    return true;
}

// Splits a Unix path into its folder and its last name, in `folder`.
const char* SplitUnixPath(const char* path, char* folder, size_t capacity) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return nullptr;
    size_t length = slash == path ? 1 : (size_t)(slash - path);
    if (length >= capacity) return nullptr;
    std::memcpy(folder, path, length);
    folder[length] = 0;
    return slash + 1;
}

// This process made a new name at `path`: the cached folder takes it in.
void NoteNameAdded(const char* path) {
    if (!sFolderCache.valid) return;
    char folder[UNIX_PATH_BYTES];
    const char* name = SplitUnixPath(path, folder, sizeof folder);
    if (name == nullptr || std::strcmp(folder, sFolderCache.folder) != 0) return;
    struct stat info;
    size_t before = sFolderCache.count;
    if (stat(folder, &info) != 0 || !AppendCachedName(&sFolderCache, name)) {
        ForgetFolderCache();
        return;
    }
    if (sFolderCache.count > before) {
        // Moved from the end into its sorted place.
        CachedName added = sFolderCache.names[before];
        size_t at = LowerBound(&sFolderCache, before, added.folded, added.length, added.order);
        std::memmove(sFolderCache.names + at + 1, sFolderCache.names + at,
                     (before - at) * sizeof(CachedName));
        sFolderCache.names[at] = added;
    }
    sFolderCache.modified = info.st_mtim;
}

// This process removed or renamed away the name at `path`.
void NoteNameRemoved(const char* path) {
    if (!sFolderCache.valid) return;
    char folder[UNIX_PATH_BYTES];
    const char* name = SplitUnixPath(path, folder, sizeof folder);
    if (name == nullptr || std::strcmp(folder, sFolderCache.folder) == 0) ForgetFolderCache();
}

bool IsAsciiWide(const WCHAR* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] > 0x7F) return false;
    return true;
}

bool IsAsciiBytes(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if ((unsigned char)text[i] > 0x7F) return false;
    return true;
}

bool HasTilde(const WCHAR* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] == '~') return true;
    return false;
}

bool AsciiEqualNoCase(const char* bytes, const WCHAR* name, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (AsciiUpper((WCHAR)(unsigned char)bytes[i]) != AsciiUpper(name[i])) return false;
    return true;
}

// Looks a name up in a Unix folder: the exact name first, else the first
// entry equal to it without regard to case, or whose generated 8.3 name is.
// The entry's own name goes to `found`.
bool FindEntry(const char* folder, const WCHAR* name, size_t length, char* found, size_t capacity) {
    char exact[NAME_UNITS * 4];
    if (WideToUnix(name, length, exact, sizeof exact)) {
        char path[UNIX_PATH_BYTES];
        struct stat info;
        if (std::snprintf(path, sizeof path, "%s/%s", folder, exact) < (int)sizeof path &&
            lstat(path, &info) == 0) {
            CopyString(found, capacity, exact);
            return true;
        }
    }
    if (!HasTilde(name, length)) {
        struct stat info;
        if (stat(folder, &info) == 0 && !FolderCacheCurrent(folder, info)) BuildFolderCache(folder);
        if (stat(folder, &info) == 0 && FolderCacheCurrent(folder, info))
            return LookUpCachedName(name, length, found, capacity);
    }
    DIR* directory = opendir(folder);
    if (directory == nullptr) return false;
    // Every name of a big folder is compared for each new name made in it,
    // so the common case stays cheap: an ASCII name can equal an ASCII name
    // only letter for letter, and a generated 8.3 name always holds a '~'.
    bool asciiName = IsAsciiWide(name, length);
    bool mayBeShortName = HasTilde(name, length);
    bool matched = false;
    while (struct dirent* entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        size_t bytes = std::strlen(entry->d_name);
        if (asciiName && !mayBeShortName && IsAsciiBytes(entry->d_name, bytes)) {
            matched = bytes == length && AsciiEqualNoCase(entry->d_name, name, length);
            if (matched) {
                CopyString(found, capacity, entry->d_name);
                break;
            }
            continue;
        }
        WCHAR wide[NAME_UNITS];
        size_t units = UnixToWide(entry->d_name, bytes, wide, NAME_UNITS);
        if (units >= NAME_UNITS) continue;
        matched = EqualNoCase(wide, units, name, length);
        if (!matched && mayBeShortName && !IsLegalShortName(wide, units)) {
            WCHAR shortName[14];
            size_t shortLength = MakeShortName(wide, units, shortName);
            matched = EqualNoCase(shortName, shortLength, name, length);
        }
        if (matched) {
            CopyString(found, capacity, entry->d_name);
            break;
        }
    }
    closedir(directory);
    return matched;
}

bool AppendUnix(char* path, size_t capacity, const char* name) {
    size_t length = std::strlen(path);
    bool slash = !(length == 1 && path[0] == '/');
    size_t extra = std::strlen(name) + (slash ? 1 : 0);
    if (length + extra + 1 > capacity) return false;
    if (slash) path[length++] = '/';
    std::memcpy(path + length, name, std::strlen(name) + 1);
    return true;
}

bool IsDirectory(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// The Unix path of the first `upto` names of a DOS path. Every name before
// the last must be a folder. The last may be missing (*lastMissing is set and
// its name appended as given), for the callers that create it.
// Returns 0 or a Win32 error.
DWORD ResolveParts(const PathParts* parts, int upto, char* out, size_t capacity, bool* lastMissing) {
    *lastMissing = false;
    const char* root = parts->drive != 0 ? DriveRoot(parts->drive) : "/";
    if (root == nullptr) return upto == 1 ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    CopyString(out, capacity, root);
    for (int i = 0; i < upto; ++i) {
        const WCHAR* name = PartText(parts, i);
        size_t length = parts->length[i];
        bool last = i == upto - 1;
        if (HasInvalidNameChar(name, length)) return ERROR_INVALID_NAME;
        if (i > 0 && !IsDirectory(out)) return ERROR_PATH_NOT_FOUND;
        // A colon is a character like any other on a Unix drive (Wine keeps
        // no streams there): "a:b" is a name.
        char found[NAME_UNITS * 4];
        if (!FindEntry(out, name, length, found, sizeof found)) {
            if (!last) return ERROR_PATH_NOT_FOUND;
            if (!WideToUnix(name, length, found, sizeof found)) return ERROR_FILENAME_EXCED_RANGE;
            *lastMissing = true;
        }
        if (!AppendUnix(out, capacity, found)) return ERROR_FILENAME_EXCED_RANGE;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// DOS devices. Wine takes a path's last name for a device when its base (up
// to its first '.' or ':', blanks at the end dropped) is NUL, CON, AUX, PRN,
// COM1-COM9 or LPT1-LPT9 in any case, whatever the folder holds, unless the
// path starts "\\?\" or "\\.\". The folder must exist all the same.
// A port (AUX stands for COM1, PRN for LPT1) is there when the prefix's
// dosdevices folder has it. The calls' answers are in platform-facts.md.

enum DeviceKind {
    DEVICE_NONE,
    DEVICE_NUL,
    DEVICE_CON,      // the console, which a process of this build never has
    DEVICE_PORT,     // a port the prefix maps
    DEVICE_NO_PORT,  // a port it does not map
};

struct Device {
    DeviceKind kind;
    size_t baseLength;  // the device's name as typed: the last name's first units
};

bool PrefixHasDevice(const char* name) {
    LoadDrives();
    if (sDrives.prefix[0] == 0) return false;
    char path[UNIX_PATH_BYTES + 32];
    std::snprintf(path, sizeof path, "%s/dosdevices/%s", sDrives.prefix, name);
    struct stat info;
    return stat(path, &info) == 0;
}

Device DeviceOf(const PathParts* parts) {
    Device device = {DEVICE_NONE, 0};
    if (parts->literal || !parts->lastIsName || parts->trailingSeparator || parts->count == 0)
        return device;
    const WCHAR* name = PartText(parts, parts->count - 1);
    size_t length = parts->length[parts->count - 1];
    size_t base = 0;
    while (base < length && name[base] != '.' && name[base] != ':') ++base;
    while (base > 0 && name[base - 1] == ' ') --base;
    if (base != 3 && base != 4) return device;
    char lower[5];
    for (size_t i = 0; i < base; ++i) {
        WCHAR ch = name[i];
        lower[i] = (char)((ch >= 'A' && ch <= 'Z') ? ch + 32 : (ch < 0x80 ? ch : '?'));
    }
    lower[base] = 0;
    if (base == 3 && std::strcmp(lower, "nul") == 0) {
        device.kind = DEVICE_NUL;
    } else if (base == 3 && std::strcmp(lower, "con") == 0) {
        device.kind = DEVICE_CON;
    } else if (base == 3 && (std::strcmp(lower, "aux") == 0 || std::strcmp(lower, "prn") == 0)) {
        const char* port = lower[0] == 'a' ? "com1" : "lpt1";
        device.kind = PrefixHasDevice(lower) || PrefixHasDevice(port) ? DEVICE_PORT : DEVICE_NO_PORT;
    } else if (base == 4 && (std::strncmp(lower, "com", 3) == 0 || std::strncmp(lower, "lpt", 3) == 0) &&
               lower[3] >= '1' && lower[3] <= '9') {
        device.kind = PrefixHasDevice(lower) ? DEVICE_PORT : DEVICE_NO_PORT;
    }
    if (device.kind != DEVICE_NONE) device.baseLength = base;
    return device;
}

// The folder of a device name: 0 when it is there, else the error that
// every call gives for the device (ERROR_PATH_NOT_FOUND, even on a drive
// that maps nothing).
DWORD DeviceFolderError(const PathParts* parts) {
    char folder[UNIX_PATH_BYTES];
    bool missing = false;
    DWORD error = ResolveParts(parts, parts->count - 1, folder, sizeof folder, &missing);
    if (error == ERROR_FILE_NOT_FOUND || (error == 0 && (missing || !IsDirectory(folder))))
        error = ERROR_PATH_NOT_FOUND;
    return error;
}

// What deleting a device, moving it away or asking for its identity gives.
DWORD DeviceUseError(DeviceKind kind) {
    switch (kind) {
        case DEVICE_CON:
            return ERROR_INVALID_HANDLE;
        case DEVICE_NO_PORT:
            return ERROR_FILE_NOT_FOUND;
        default:
            return ERROR_INVALID_PARAMETER;
    }
}

// The Unix path of a whole DOS path whose last name must exist. A device
// name (only where `device` is given) is not looked up: device->kind tells
// it, and the result is then 0 or the error of its folder.
DWORD ResolveExisting(const WCHAR* path, PathParts* parts, char* out, size_t capacity, Device* device) {
    DWORD error = ParseDosPath(path, parts);
    if (device != nullptr) *device = Device{DEVICE_NONE, 0};
    if (error != 0) return error;
    if (device != nullptr) {
        *device = DeviceOf(parts);
        if (device->kind != DEVICE_NONE) return DeviceFolderError(parts);
    }
    bool missing;
    error = ResolveParts(parts, parts->count, out, capacity, &missing);
    if (error != 0) return error;
    return missing ? ERROR_FILE_NOT_FOUND : 0;
}

// ---------------------------------------------------------------------------
// File information as Wine reports it.

struct FileInfo {
    DWORD attributes;
    uint64_t size;
    FILETIME creation, access, write;
    dev_t device;
    ino_t inode;
};

FILETIME ToFileTime(const struct timespec& time) {
    const uint64_t ticks1601To1970 = 116444736000000000ull;
    uint64_t ticks = (uint64_t)time.tv_sec * 10000000ull + ticks1601To1970 + (uint64_t)time.tv_nsec / 100;
    FILETIME result;
    result.dwLowDateTime = (DWORD)ticks;
    result.dwHighDateTime = (DWORD)(ticks >> 32);
    return result;
}

bool IsDotName(const char* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Attributes: directory or archive; read-only when nobody may write; hidden
// for a dot name; a link to a folder, or a mount point, is a reparse point;
// Samba's DOS attribute (user.DOSATTRIB) adds hidden and system. A link is
// reported by its target; a dangling one does not exist.
bool GetFileInfo(const char* path, const char* name, FileInfo* info) {
    struct stat st;
    if (lstat(path, &st) != 0) return false;
    DWORD attributes = 0;
    if (S_ISLNK(st.st_mode)) {
        if (stat(path, &st) != 0) return false;
        if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    } else if (S_ISDIR(st.st_mode)) {
        char parent[UNIX_PATH_BYTES + 4];
        struct stat up;
        std::snprintf(parent, sizeof parent, "%s/..", path);
        if (stat(parent, &up) == 0 && (up.st_dev != st.st_dev || up.st_ino == st.st_ino))
            attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    }
    attributes |= S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
    if (name != nullptr && name[0] == '.' && !IsDotName(name)) attributes |= FILE_ATTRIBUTE_HIDDEN;
    char dos[65];
    ssize_t length = getxattr(path, "user.DOSATTRIB", dos, sizeof dos - 1);
    if (length > 2 && dos[0] == '0' && (dos[1] == 'x' || dos[1] == 'X')) {
        dos[length] = 0;
        attributes |= (DWORD)std::strtoul(dos + 2, nullptr, 16) &
                      (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    }
    info->attributes = attributes;
    info->size = S_ISDIR(st.st_mode) ? 0 : (uint64_t)st.st_size;
    info->write = ToFileTime(st.st_mtim);
    info->access = ToFileTime(st.st_atim);
    info->creation = info->write;  // Linux keeps no creation time; Wine shows the write time
    info->device = st.st_dev;
    info->inode = st.st_ino;
    return true;
}

const char* LastUnixName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

DWORD ErrorFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EBUSY:
            return ERROR_SHARING_VIOLATION;
        case ENOSPC:
            return POSIX_ERROR_DISK_FULL;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return POSIX_ERROR_GEN_FAILURE;
    }
}

BOOL Fail(DWORD error) {
    sLastError = error;
    return FALSE;
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

// An "A" function of one path: the wide form on the widened path.
template <typename Result, typename Call>
Result CallWithWidePath(const char* path, Result failure, Call call) {
    WCHAR* wide = WidenAnsi(path);
    if (wide == nullptr) {
        sLastError = path == nullptr ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY;
        return failure;
    }
    Result result = call(wide);
    std::free(wide);
    return result;
}

// ---------------------------------------------------------------------------
// Directory searches. The whole listing is read at the first call: "." and
// ".." first (not in a drive's root), then the other entries in Wine's order,
// without regard to case, names equal so far by their code units.

const uint32_t SEARCH_MAGIC = 0x44505348u;

struct FoundEntry {
    FileInfo info;
    WCHAR name[NAME_UNITS];
    WCHAR shortName[14];
};

struct Search {
    uint32_t magic;
    size_t count;
    size_t capacity;
    size_t next;
    size_t dropped;  // matching names that were left out (dangling links, ignored folders)
    FoundEntry* entries;
};

int CompareNames(const WCHAR* a, const WCHAR* b) {
    size_t aLength = WideLen(a), bLength = WideLen(b);
    size_t n = aLength < bLength ? aLength : bLength;
    for (size_t i = 0; i < n; ++i) {
        int difference = (int)Upcase(a[i]) - (int)Upcase(b[i]);
        if (difference != 0) return difference;
    }
    if (aLength != bLength) return aLength < bLength ? -1 : 1;
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return (int)a[i] - (int)b[i];
    return 0;
}

int CompareEntries(const void* a, const void* b) {
    return CompareNames(static_cast<const FoundEntry*>(a)->name, static_cast<const FoundEntry*>(b)->name);
}

bool AddFound(Search* search, const FileInfo& info, const WCHAR* name, size_t length,
              const WCHAR* shortName) {
    if (search->count == search->capacity) {
        size_t capacity = search->capacity == 0 ? 16 : search->capacity * 2;
        void* grown = std::realloc(search->entries, capacity * sizeof(FoundEntry));
        if (grown == nullptr) return false;
        search->entries = static_cast<FoundEntry*>(grown);
        search->capacity = capacity;
    }
    FoundEntry& entry = search->entries[search->count++];
    entry.info = info;
    std::memcpy(entry.name, name, length * sizeof(WCHAR));
    entry.name[length] = 0;
    size_t shortLength = WideLen(shortName);
    std::memcpy(entry.shortName, shortName, (shortLength + 1) * sizeof(WCHAR));
    return true;
}

void FreeSearch(Search* search) {
    if (search == nullptr) return;
    search->magic = 0;
    std::free(search->entries);
    std::free(search);
}

// Folders that Wine leaves out of every listing: the prefix itself, /dev,
// /proc and /sys.
bool IsIgnoredFolder(const FileInfo& info) {
    const char* folders[4] = {sDrives.prefix, "/dev", "/proc", "/sys"};
    for (const char* folder : folders) {
        struct stat st;
        if (folder[0] != 0 && stat(folder, &st) == 0 && st.st_dev == info.device && st.st_ino == info.inode)
            return true;
    }
    return false;
}

// Adds the entry `unixName` of `folder` when its name, or its generated
// 8.3 name, matches the mask.
bool AddIfMatching(Search* search, const char* folder, const char* unixName, const WCHAR* mask,
                   size_t maskLength) {
    WCHAR name[NAME_UNITS];
    size_t length = UnixToWide(unixName, std::strlen(unixName), name, NAME_UNITS);
    if (length >= NAME_UNITS) return true;  // too long for a Windows name: not listed
    WCHAR shortName[14] = {0};
    size_t shortLength = 0;
    if (!IsLegalShortName(name, length)) shortLength = MakeShortName(name, length, shortName);
    if (!MatchMask(name, length, mask, maskLength) &&
        (shortLength == 0 || !MatchMask(shortName, shortLength, mask, maskLength)))
        return true;
    char path[UNIX_PATH_BYTES];
    CopyString(path, sizeof path, folder);
    if (!IsDotName(unixName) || std::strcmp(unixName, "..") == 0) {
        if (!AppendUnix(path, sizeof path, unixName)) return true;
    }
    FileInfo info;
    if (!GetFileInfo(path, IsDotName(unixName) ? nullptr : unixName, &info) || IsIgnoredFolder(info)) {
        ++search->dropped;
        return true;
    }
    return AddFound(search, info, name, length, shortName);
}

HANDLE StartSearch(const WCHAR* pattern) {
    PathParts* parts = static_cast<PathParts*>(std::malloc(sizeof(PathParts)));
    if (parts == nullptr) {
        sLastError = ERROR_NOT_ENOUGH_MEMORY;
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ParseDosPath(pattern, parts);
    // A bare drive ("X:") names no entry, even where its directory is not the root.
    bool bareDrive = pattern != nullptr && IsAsciiLetter(pattern[0]) && pattern[1] == ':' && pattern[2] == 0;
    if (error == 0 && (parts->count == 0 || parts->trailingSeparator || bareDrive)) error = ERROR_FILE_NOT_FOUND;
    Device device = {DEVICE_NONE, 0};
    if (error == 0) device = DeviceOf(parts);
    char folder[UNIX_PATH_BYTES];
    bool missing = false;
    if (error == 0 && device.kind != DEVICE_NONE) {
        error = DeviceFolderError(parts);
    } else if (error == 0) {
        error = ResolveParts(parts, parts->count - 1, folder, sizeof folder, &missing);
        if (error == ERROR_FILE_NOT_FOUND) error = ERROR_PATH_NOT_FOUND;  // the folder is missing
    }
    if (error == 0 && device.kind == DEVICE_NONE && (missing || !IsDirectory(folder)))
        error = parts->count >= 2 && !missing ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND;
    Search* search = nullptr;
    if (error == 0) {
        search = static_cast<Search*>(std::calloc(1, sizeof(Search)));
        if (search == nullptr) error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (error != 0) {
        std::free(parts);
        sLastError = error;
        return INVALID_HANDLE_VALUE;
    }
    search->magic = SEARCH_MAGIC;
    const WCHAR* mask = PartText(parts, parts->count - 1);
    size_t maskLength = parts->length[parts->count - 1];
    static const WCHAR kStarDotStar[] = {'*', '.', '*'};
    if (maskLength == 3 && std::memcmp(mask, kStarDotStar, sizeof kStarDotStar) == 0) maskLength = 1;

    bool ok = true;
    char exact[NAME_UNITS * 4];
    struct stat st;
    char exactPath[UNIX_PATH_BYTES];
    if (device.kind != DEVICE_NONE) {
        // The device alone, named as typed, with a wildcard in the name or not.
        FileInfo info = {};
        info.attributes = FILE_ATTRIBUTE_ARCHIVE;
        WCHAR none[1] = {0};
        ok = AddFound(search, info, mask, device.baseLength, none);
    } else if (!HasWildcard(mask, maskLength) && WideToUnix(mask, maskLength, exact, sizeof exact) &&
        std::snprintf(exactPath, sizeof exactPath, "%s/%s", folder, exact) < (int)sizeof exactPath &&
        lstat(exactPath, &st) == 0) {
        // A plain name that exists as typed is the one entry.
        ok = AddIfMatching(search, folder, exact, mask, maskLength);
    } else {
        size_t dots = 0;
        if (parts->count >= 2) {
            ok = AddIfMatching(search, folder, ".", mask, maskLength) &&
                 AddIfMatching(search, folder, "..", mask, maskLength);
            dots = search->count;
        }
        DIR* directory = ok ? opendir(folder) : nullptr;
        if (directory != nullptr) {
            while (struct dirent* entry = readdir(directory)) {
                if (IsDotName(entry->d_name)) continue;
                if (!AddIfMatching(search, folder, entry->d_name, mask, maskLength)) {
                    ok = false;
                    break;
                }
            }
            closedir(directory);
        }
        if (search->count > dots)
            std::qsort(search->entries + dots, search->count - dots, sizeof(FoundEntry), CompareEntries);
    }
    std::free(parts);
    if (!ok || search->count == 0) {
        // Names that matched but were all left out end the search at once.
        sLastError = !ok ? ERROR_NOT_ENOUGH_MEMORY : search->dropped > 0 ? ERROR_NO_MORE_FILES : ERROR_FILE_NOT_FOUND;
        FreeSearch(search);
        return INVALID_HANDLE_VALUE;
    }
    return search;
}

Search* AsSearch(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    Search* search = static_cast<Search*>(handle);
    return search->magic == SEARCH_MAGIC ? search : nullptr;
}

void FillWide(const FoundEntry& entry, WIN32_FIND_DATAW* data) {
    std::memset(data, 0, sizeof *data);
    data->dwFileAttributes = entry.info.attributes;
    data->ftCreationTime = entry.info.creation;
    data->ftLastAccessTime = entry.info.access;
    data->ftLastWriteTime = entry.info.write;
    data->nFileSizeHigh = (DWORD)(entry.info.size >> 32);
    data->nFileSizeLow = (DWORD)entry.info.size;
    std::memcpy(data->cFileName, entry.name, (WideLen(entry.name) + 1) * sizeof(WCHAR));
    std::memcpy(data->cAlternateFileName, entry.shortName, (WideLen(entry.shortName) + 1) * sizeof(WCHAR));
}

void FillAnsi(const FoundEntry& entry, WIN32_FIND_DATAA* data) {
    std::memset(data, 0, sizeof *data);
    data->dwFileAttributes = entry.info.attributes;
    data->ftCreationTime = entry.info.creation;
    data->ftLastAccessTime = entry.info.access;
    data->ftLastWriteTime = entry.info.write;
    data->nFileSizeHigh = (DWORD)(entry.info.size >> 32);
    data->nFileSizeLow = (DWORD)entry.info.size;
    WideCharToMultiByte(CP_ACP, 0, entry.name, -1, data->cFileName, MAX_PATH, nullptr, nullptr);
    WideCharToMultiByte(CP_ACP, 0, entry.shortName, -1, data->cAlternateFileName, 14, nullptr, nullptr);
}

// ---------------------------------------------------------------------------
// Moving a file across file systems: Wine copies it and removes the source.

bool CopyAcross(const char* source, const char* target) {
    int in = open(source, O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st;
    if (fstat(in, &st) != 0) {
        close(in);
        return false;
    }
    int out = open(target, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
    if (out < 0) {
        close(in);
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        ssize_t got = read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (ssize_t done = 0; done < got;) {
            ssize_t put = write(out, buffer + done, (size_t)(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                ok = false;
                break;
            }
            done += put;
        }
        if (!ok) break;
    }
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (ok) futimens(out, times);
    int saved = errno;
    if (close(out) != 0) ok = false;
    close(in);
    if (!ok) {
        unlink(target);
        errno = saved;
    }
    return ok;
}

// A move that never replaces, even a name that appears after the check for
// it: renameat2 refuses atomically. Where the file system lacks it, a file
// is linked under the new name and unlinked under the old (link() fails on
// an existing name); a folder, which cannot be linked, is renamed after a
// last check.
int RenameNoReplace(const char* from, const char* to, bool directory) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return -1;
    struct stat other;
    if (directory) {
        if (lstat(to, &other) == 0) {
            errno = EEXIST;
            return -1;
        }
        return rename(from, to);
    }
    if (link(from, to) != 0) return -1;
    if (unlink(from) != 0) {
        int saved = errno;
        unlink(to);
        errno = saved;
        return -1;
    }
    return 0;
}

// Wine holds its working directory open without leave to delete it, so
// that folder itself can be neither moved nor removed (its parent can).
// Only this process's own working directory counts here.
bool IsWorkingDirectory(const struct stat& info) {
    struct stat cwd;
    return S_ISDIR(info.st_mode) && stat(".", &cwd) == 0 && cwd.st_dev == info.st_dev &&
           cwd.st_ino == info.st_ino;
}

}  // namespace

// ===========================================================================
// KERNEL32

DWORD GetLastError(void) { return sLastError; }

void SetLastError(DWORD error) { sLastError = error; }

UINT GetACP(void) {
    ReadLocale();
    return sLocale.ansiCodePage;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int wideCount, char* bytes,
                        int byteCount, const char* defaultChar, BOOL* usedDefault) {
    (void)flags;  // no best fit in any case: every character without its own byte is the default
    if (wide == nullptr || wideCount == 0 || byteCount < 0 || (bytes == nullptr && byteCount > 0)) {
        sLastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (codePage == CP_ACP) codePage = GetACP();
    size_t count = wideCount < 0 ? WideLen(wide) + 1 : (size_t)wideCount;
    if (codePage == CP_UTF8) {
        if (usedDefault != nullptr) *usedDefault = FALSE;
        size_t needed = EncodeUtf8(wide, count, bytes, (size_t)byteCount);
        if (needed > (size_t)INT_MAX) needed = (size_t)INT_MAX;
        if (byteCount == 0) return (int)needed;
        if (needed > (size_t)byteCount) {
            sLastError = ERROR_INSUFFICIENT_BUFFER;
            return 0;
        }
        return (int)needed;
    }
    CodePage page;
    if (!FindCodePage(codePage, &page)) {
        sLastError = ERROR_INVALID_PARAMETER;
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
                sLastError = ERROR_INSUFFICIENT_BUFFER;
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
        sLastError = ERROR_INVALID_PARAMETER;
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
            sLastError = ERROR_NO_UNICODE_TRANSLATION;
            return 0;
        }
    } else {
        CodePage page;
        if (!FindCodePage(codePage, &page)) {
            sLastError = ERROR_INVALID_PARAMETER;
            return 0;
        }
        const unsigned char* in = reinterpret_cast<const unsigned char*>(bytes);
        for (size_t i = 0; i < count;) {
            WCHAR unit;
            bool valid;
            i += (size_t)BytesToUnit(page, in + i, count - i, &unit, &valid);
            if (strict && !valid) {
                sLastError = ERROR_NO_UNICODE_TRANSLATION;
                return 0;
            }
            if (wideCount > 0 && n < (size_t)wideCount) wide[n] = unit;
            ++n;
        }
    }
    if (wideCount > 0 && n > (size_t)wideCount) {
        sLastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    return n > (size_t)INT_MAX ? INT_MAX : (int)n;
}

DWORD GetFileAttributesW(const WCHAR* path) {
    PathParts* parts = static_cast<PathParts*>(std::malloc(sizeof(PathParts)));
    if (parts == nullptr) {
        sLastError = ERROR_NOT_ENOUGH_MEMORY;
        return INVALID_FILE_ATTRIBUTES;
    }
    char unixPath[UNIX_PATH_BYTES];
    Device device;
    DWORD error = ResolveExisting(path, parts, unixPath, sizeof unixPath, &device);
    if (error == 0 && device.kind != DEVICE_NONE) {
        std::free(parts);
        return FILE_ATTRIBUTE_ARCHIVE;  // any device, the console and a missing port too
    }
    FileInfo info;
    if (error == 0 && !GetFileInfo(unixPath, parts->count > 0 ? LastUnixName(unixPath) : nullptr, &info))
        error = ERROR_FILE_NOT_FOUND;
    if (error == 0 && parts->trailingSeparator && !(info.attributes & FILE_ATTRIBUTE_DIRECTORY))
        error = ERROR_PATH_NOT_FOUND;
    std::free(parts);
    if (error != 0) {
        sLastError = error;
        return INVALID_FILE_ATTRIBUTES;
    }
    return info.attributes;
}

DWORD GetFileAttributesA(const char* path) {
    return CallWithWidePath(path, INVALID_FILE_ATTRIBUTES, GetFileAttributesW);
}

// Deleting a file: never a folder, never a read-only file (even where the
// process could), and a link is removed itself, never its target.
BOOL DeleteFileW(const WCHAR* path) {
    PathParts* parts = static_cast<PathParts*>(std::malloc(sizeof(PathParts)));
    if (parts == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    char unixPath[UNIX_PATH_BYTES];
    Device device;
    DWORD error = ResolveExisting(path, parts, unixPath, sizeof unixPath, &device);
    if (error == 0 && device.kind != DEVICE_NONE) error = DeviceUseError(device.kind);
    if (error == 0 && parts->count == 0) error = ERROR_ACCESS_DENIED;
    struct stat target;
    if (error == 0 && stat(unixPath, &target) != 0) error = ERROR_FILE_NOT_FOUND;
    if (error == 0 && S_ISDIR(target.st_mode)) error = ERROR_ACCESS_DENIED;
    if (error == 0 && parts->trailingSeparator) error = ERROR_INVALID_NAME;
    if (error == 0 && (target.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) error = ERROR_ACCESS_DENIED;
    if (error == 0 && unlink(unixPath) != 0) error = ErrorFromErrno(errno);
    if (error == 0) NoteNameRemoved(unixPath);
    std::free(parts);
    return error != 0 ? Fail(error) : TRUE;
}

BOOL DeleteFileA(const char* path) { return CallWithWidePath(path, (BOOL)FALSE, DeleteFileW); }

// Removing an empty folder; a link to a folder is removed itself. The
// working directory is not removed, as under Wine, which holds it open.
BOOL RemoveDirectoryW(const WCHAR* path) {
    PathParts* parts = static_cast<PathParts*>(std::malloc(sizeof(PathParts)));
    if (parts == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    char unixPath[UNIX_PATH_BYTES];
    Device device;
    DWORD error = ResolveExisting(path, parts, unixPath, sizeof unixPath, &device);
    if (device.kind != DEVICE_NONE) {
        // A device's missing folder is an invalid name here, unlike elsewhere.
        error = error != 0                        ? ERROR_INVALID_NAME
                : device.kind == DEVICE_NO_PORT ? ERROR_FILE_NOT_FOUND
                                                : ERROR_INVALID_HANDLE;
    }
    if (error == 0 && parts->count == 0) error = ERROR_ACCESS_DENIED;
    struct stat own, target;
    if (error == 0 && (lstat(unixPath, &own) != 0 || stat(unixPath, &target) != 0))
        error = ERROR_FILE_NOT_FOUND;
    if (error == 0 && IsWorkingDirectory(own)) error = ERROR_SHARING_VIOLATION;
    if (error == 0 && !S_ISDIR(target.st_mode)) error = POSIX_ERROR_DIRECTORY;
    if (error == 0) {
        int result = S_ISLNK(own.st_mode) ? unlink(unixPath) : rmdir(unixPath);
        if (result != 0) error = errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ErrorFromErrno(errno);
        if (result == 0) NoteNameRemoved(unixPath);
    }
    std::free(parts);
    return error != 0 ? Fail(error) : TRUE;
}

BOOL RemoveDirectoryA(const char* path) {
    return CallWithWidePath(path, (BOOL)FALSE, RemoveDirectoryW);
}

// Moving never replaces: an existing target fails, unless it is the source
// itself under another case (then nothing changes, as in Wine). The working
// directory stays where it is, as under Wine, which holds it open.
BOOL MoveFileW(const WCHAR* existing, const WCHAR* target) {
    PathParts* parts = static_cast<PathParts*>(std::malloc(sizeof(PathParts)));
    if (parts == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    char from[UNIX_PATH_BYTES], to[UNIX_PATH_BYTES];
    struct stat source, other;
    Device device;
    DWORD error = ResolveExisting(existing, parts, from, sizeof from, &device);
    if (error == 0 && device.kind != DEVICE_NONE) error = DeviceUseError(device.kind);
    if (error == 0 && parts->count == 0) error = ERROR_ACCESS_DENIED;
    if (error == 0 && (lstat(from, &source) != 0 || (S_ISLNK(source.st_mode) && stat(from, &other) != 0)))
        error = ERROR_FILE_NOT_FOUND;
    if (error == 0 && IsWorkingDirectory(source)) error = ERROR_SHARING_VIOLATION;
    bool missing = false;
    if (error == 0) error = ParseDosPath(target, parts);
    if (error == 0) device = DeviceOf(parts);
    if (error == 0 && device.kind != DEVICE_NONE) {
        // A port that is there exists as a name; nothing else can be a target.
        error = DeviceFolderError(parts);
        if (error == 0) error = device.kind == DEVICE_PORT ? ERROR_ALREADY_EXISTS : POSIX_ERROR_BAD_DEV_TYPE;
    }
    if (error == 0) error = ResolveParts(parts, parts->count, to, sizeof to, &missing);
    if (error == 0 && !missing) {
        if (lstat(to, &other) == 0 && other.st_dev == source.st_dev && other.st_ino == source.st_ino) {
            std::free(parts);
            return TRUE;
        }
        error = ERROR_ALREADY_EXISTS;
    }
    if (error == 0 && RenameNoReplace(from, to, S_ISDIR(source.st_mode)) != 0) {
        if (errno == EXDEV) {
            if (!S_ISREG(source.st_mode)) {
                error = ERROR_ACCESS_DENIED;
            } else if (!CopyAcross(from, to)) {
                error = ErrorFromErrno(errno);
            } else if (unlink(from) != 0) {
                // Wine reports success here and leaves the file in both
                // places; this build takes the copy back and fails, so that
                // a move never ends with two of a file.
                error = ErrorFromErrno(errno);
                unlink(to);
            } else {
                sLastError = 0;
            }
        } else {
            error = ErrorFromErrno(errno);
        }
    }
    if (error == 0) {
        NoteNameRemoved(from);
        NoteNameAdded(to);
    } else {
        ForgetFolderCache();  // a failed copy across may have left a part behind
    }
    std::free(parts);
    return error != 0 ? Fail(error) : TRUE;
}

BOOL MoveFileA(const char* existing, const char* target) {
    WCHAR* wideExisting = WidenAnsi(existing);
    WCHAR* wideTarget = WidenAnsi(target);
    BOOL result;
    if (wideExisting == nullptr || wideTarget == nullptr)
        result = Fail(existing == nullptr || target == nullptr ? ERROR_INVALID_PARAMETER
                                                               : ERROR_NOT_ENOUGH_MEMORY);
    else
        result = MoveFileW(wideExisting, wideTarget);
    std::free(wideExisting);
    std::free(wideTarget);
    return result;
}

HANDLE FindFirstFileW(const WCHAR* pattern, WIN32_FIND_DATAW* data) {
    HANDLE handle = StartSearch(pattern);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    Search* search = static_cast<Search*>(handle);
    FillWide(search->entries[search->next++], data);
    return handle;
}

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
    WCHAR* wide = WidenAnsi(pattern);
    if (wide == nullptr) {
        sLastError = pattern == nullptr ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY;
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = StartSearch(wide);
    std::free(wide);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    Search* search = static_cast<Search*>(handle);
    FillAnsi(search->entries[search->next++], data);
    return handle;
}

BOOL FindNextFileW(HANDLE handle, WIN32_FIND_DATAW* data) {
    Search* search = AsSearch(handle);
    if (search == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (search->next >= search->count) return Fail(ERROR_NO_MORE_FILES);
    FillWide(search->entries[search->next++], data);
    return TRUE;
}

BOOL FindNextFileA(HANDLE handle, WIN32_FIND_DATAA* data) {
    Search* search = AsSearch(handle);
    if (search == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (search->next >= search->count) return Fail(ERROR_NO_MORE_FILES);
    FillAnsi(search->entries[search->next++], data);
    return TRUE;
}

BOOL FindClose(HANDLE handle) {
    Search* search = AsSearch(handle);
    if (search == nullptr) return Fail(ERROR_INVALID_HANDLE);
    FreeSearch(search);
    return TRUE;
}

// Wine reports 512-byte sectors, a cluster of the file system's fragment
// size, and the blocks available to the process as the free clusters.
BOOL GetDiskFreeSpaceA(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                       DWORD* freeClusters, DWORD* totalClusters) {
    char folder[UNIX_PATH_BYTES];
    if (root == nullptr) {
        int drive = CurrentDrive();
        const char* driveRoot = drive != 0 ? DriveRoot(drive) : "/";
        CopyString(folder, sizeof folder, driveRoot);
    } else {
        WCHAR* wide = WidenAnsi(root);
        if (wide == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
        PathParts* parts = static_cast<PathParts*>(std::malloc(sizeof(PathParts)));
        DWORD error = parts == nullptr ? ERROR_NOT_ENOUGH_MEMORY
                                       : ResolveExisting(wide, parts, folder, sizeof folder, nullptr);
        std::free(parts);
        std::free(wide);
        if (error == ERROR_FILE_NOT_FOUND) error = ERROR_PATH_NOT_FOUND;
        if (error == 0 && !IsDirectory(folder)) error = ERROR_PATH_NOT_FOUND;
        if (error != 0) return Fail(error);
    }
    struct statvfs fs;
    if (statvfs(folder, &fs) != 0) return Fail(ErrorFromErrno(errno));
    uint64_t clusterBytes = fs.f_frsize >= 512 ? fs.f_frsize : 512;
    uint64_t sectors = clusterBytes / 512;
    uint64_t free = (uint64_t)fs.f_bavail * fs.f_frsize / clusterBytes;
    uint64_t total = (uint64_t)fs.f_blocks * fs.f_frsize / clusterBytes;
    if (sectorsPerCluster != nullptr) *sectorsPerCluster = (DWORD)sectors;
    if (bytesPerSector != nullptr) *bytesPerSector = 512;
    if (freeClusters != nullptr) *freeClusters = free > 0xFFFFFFFFu ? 0xFFFFFFFFu : (DWORD)free;
    if (totalClusters != nullptr) *totalClusters = total > 0xFFFFFFFFu ? 0xFFFFFFFFu : (DWORD)total;
    return TRUE;
}

// ===========================================================================
// The Windows C runtime

namespace {

// A device that _wfopen reaches. NUL reads nothing and takes every write.
// Under Wine a port that the prefix maps is the Unix device itself, where a
// read waits for input that may never come; this build opens any such port
// as NUL instead, so that it never blocks and never writes to a line.
FILE* OpenDevice(DeviceKind kind, DWORD folderError, const char* mode) {
    int code = 0;
    if (folderError != 0) {
        code = ENOENT;
        sLastError = folderError;
    } else if (kind == DEVICE_CON) {
        code = EBADF;  // no console here
        sLastError = ERROR_INVALID_HANDLE;
    } else if (kind == DEVICE_NO_PORT) {
        code = ENOENT;
        sLastError = ERROR_FILE_NOT_FOUND;
    } else {
        FILE* file = std::fopen("/dev/null", mode);
        if (file == nullptr) sLastError = ErrorFromErrno(errno);
        return file;
    }
    errno = code;
    return nullptr;
}

}  // namespace

FILE* _wfopen(const WCHAR* name, const WCHAR* mode) {
    if (name == nullptr || mode == nullptr) {
        errno = EINVAL;
        sLastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    // The mode as the C library reads it: r, w or a, then '+' and 'b'.
    char narrowMode[8];
    size_t m = 0;
    for (const WCHAR* p = mode; *p != 0 && *p != ',' && m + 1 < sizeof narrowMode; ++p) {
        if (*p == 'r' || *p == 'w' || *p == 'a' || *p == '+' || *p == 'b') narrowMode[m++] = (char)*p;
    }
    narrowMode[m] = 0;
    if (m == 0 || (narrowMode[0] != 'r' && narrowMode[0] != 'w' && narrowMode[0] != 'a')) {
        errno = EINVAL;
        sLastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    bool creates = narrowMode[0] != 'r';
    PathParts* parts = static_cast<PathParts*>(std::malloc(sizeof(PathParts)));
    if (parts == nullptr) {
        errno = ENOMEM;
        sLastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    char unixPath[UNIX_PATH_BYTES];
    bool missing = false;
    DWORD error = ParseDosPath(name, parts);
    Device device = {DEVICE_NONE, 0};
    if (error == 0) device = DeviceOf(parts);
    if (error == 0 && device.kind != DEVICE_NONE) {
        error = DeviceFolderError(parts);
        std::free(parts);
        return OpenDevice(device.kind, error, narrowMode);
    }
    if (error == 0) error = ResolveParts(parts, parts->count, unixPath, sizeof unixPath, &missing);
    int code = 0;  // errno for a failure found here
    if (error == 0 && parts->count == 0) {
        error = ERROR_ACCESS_DENIED;
    } else if (error == 0 && !missing && IsDirectory(unixPath)) {
        error = ERROR_ACCESS_DENIED;  // a folder is never opened as a file
    } else if (error == 0 && parts->trailingSeparator) {
        error = ERROR_INVALID_NAME;
    } else if (error == 0 && missing && !creates) {
        error = ERROR_FILE_NOT_FOUND;
    }
    std::free(parts);
    if (error != 0) {
        code = error == ERROR_ACCESS_DENIED                              ? EACCES
               : error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT
                                                                            : EINVAL;
        errno = code;
        sLastError = error;
        return nullptr;
    }
    FILE* file = std::fopen(unixPath, narrowMode);
    if (file == nullptr) sLastError = ErrorFromErrno(errno);
    if (file != nullptr && missing) NoteNameAdded(unixPath);
    return file;
}

int _getdrive(void) { return CurrentDrive(); }

// Making another drive current goes to its root: Wine keeps no current
// directory for a drive that is not current.
int _chdrive(int drive) {
    if (drive < 1 || drive > 26) {
        errno = drive < 1 ? EACCES : ENOENT;
        sLastError = drive < 0 ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND;
        return -1;
    }
    int savedErrno = errno;
    const char* root = DriveRoot(drive);
    if (root == nullptr) {
        errno = ENOENT;
        sLastError = ERROR_PATH_NOT_FOUND;
        return -1;
    }
    char cwd[UNIX_PATH_BYTES];
    if (CurrentDrive(cwd, sizeof cwd) == drive) {
        errno = savedErrno;
        return 0;
    }
    if (chdir(root) != 0) {
        sLastError = ErrorFromErrno(errno);
        errno = EACCES;
        return -1;
    }
    sChosen.drive = drive;
    if (getcwd(sChosen.cwd, sizeof sChosen.cwd) == nullptr) sChosen.drive = 0;
    errno = savedErrno;
    return 0;
}

// Without a buffer the runtime allocates one (free() releases it); for a
// drive that is not current it wants `capacity` to hold the path already.
WCHAR* _wgetdcwd(int drive, WCHAR* buffer, int capacity) {
    int savedErrno = errno;
    WCHAR path[WIDE_PATH_UNITS];
    int current = CurrentDrive();
    long length = DriveDirectory(drive, path, WIDE_PATH_UNITS);
    if (length < 0 || (size_t)length >= WIDE_PATH_UNITS) {
        errno = EACCES;
        sLastError = POSIX_ERROR_NO_SUCH_DEVICE;
        return nullptr;
    }
    bool isCurrent = drive == 0 || drive == current;
    if (buffer == nullptr) {
        if (!isCurrent && capacity <= length) {
            errno = ERANGE;
            return nullptr;
        }
        size_t units = (size_t)length + 1;
        if (isCurrent && capacity > length) units = (size_t)capacity;
        buffer = static_cast<WCHAR*>(std::malloc(units * sizeof(WCHAR)));
        if (buffer == nullptr) {
            errno = ENOMEM;
            return nullptr;
        }
    } else if (capacity <= length) {
        errno = ERANGE;
        return nullptr;
    }
    std::memcpy(buffer, path, ((size_t)length + 1) * sizeof(WCHAR));
    errno = savedErrno;
    return buffer;
}

char* _getdcwd(int drive, char* buffer, int capacity) {
    int savedErrno = errno;
    WCHAR path[WIDE_PATH_UNITS];
    int current = CurrentDrive();
    long length = DriveDirectory(drive, path, WIDE_PATH_UNITS);
    if (length < 0 || (size_t)length >= WIDE_PATH_UNITS) {
        errno = EACCES;
        sLastError = POSIX_ERROR_NO_SUCH_DEVICE;
        return nullptr;
    }
    int bytes = WideCharToMultiByte(CP_ACP, 0, path, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        errno = EINVAL;
        return nullptr;
    }
    bool isCurrent = drive == 0 || drive == current;
    if (buffer == nullptr) {
        if (!isCurrent && capacity < bytes) {
            errno = ERANGE;
            return nullptr;
        }
        size_t size = (size_t)bytes;
        if (isCurrent && capacity > bytes) size = (size_t)capacity;
        buffer = static_cast<char*>(std::malloc(size));
        if (buffer == nullptr) {
            errno = ENOMEM;
            return nullptr;
        }
    } else if (capacity < bytes) {
        errno = ERANGE;
        return nullptr;
    }
    WideCharToMultiByte(CP_ACP, 0, path, -1, buffer, bytes, nullptr, nullptr);
    errno = savedErrno;
    return buffer;
}

// ---------------------------------------------------------------------------
// Console keys: standard input when it is a terminal (Wine's console gives
// end of input for any other). The terminal is raw and silent while a key is
// read, and as it was after. The bytes are taken as Wine's console takes
// them: what arrives together with an ESC is one key, a special key's escape
// sequence or a key typed with Alt; an ESC with nothing after it is Esc.

namespace {

// How long the rest of a key may take to arrive after its first byte: a
// terminal writes a key's bytes at once, a person types slower.
const int KEY_REST_WAIT_MS = 50;
const int WAIT_FOREVER = -1;
const int BYTE_NONE = -1;  // end of input or a read error
const int BYTE_LATE = -2;  // nothing within the wait

// Bytes read with a key that begin the next keys, in input order.
unsigned char sHeldBytes[8];
int sHeldCount = 0;

// Puts bytes just read back in front of the input (a key holds at most 3).
void HoldBytes(const unsigned char* bytes, int count) {
    if (count <= 0 || sHeldCount + count > (int)sizeof sHeldBytes) return;
    std::memmove(sHeldBytes + count, sHeldBytes, (size_t)sHeldCount);
    std::memcpy(sHeldBytes, bytes, (size_t)count);
    sHeldCount += count;
}

int ReadTerminalByte(int waitMs) {
    if (sHeldCount > 0) {
        int byte = sHeldBytes[0];
        std::memmove(sHeldBytes, sHeldBytes + 1, (size_t)--sHeldCount);
        return byte;
    }
    for (;;) {
        if (waitMs != WAIT_FOREVER) {
            struct pollfd entry = {STDIN_FILENO, POLLIN, 0};
            int ready = poll(&entry, 1, waitMs);
            if (ready < 0 && errno == EINTR) continue;
            if (ready == 0) return BYTE_LATE;
        }
        unsigned char byte;
        ssize_t got = read(STDIN_FILENO, &byte, 1);
        if (got == 1) return byte;
        if (got < 0 && errno == EINTR) continue;
        return BYTE_NONE;
    }
}

ConsoleKey CharacterKey(uint32_t character) { return {CONSOLE_KEY_CHARACTER, character}; }
ConsoleKey SpecialKey() { return {CONSOLE_KEY_SPECIAL, 0}; }

// A character from its first byte. In a UTF-8 locale its continuation bytes
// follow within the wait, and the character is decoded as Wine decodes the
// terminal: U+FFFD for the bytes taken into an invalid or cut sequence, the
// bytes after them start the next key. In any other locale each byte is a
// character of its own.
uint32_t ReadCharacter(int lead) {
    if (lead < 0x80) return (uint32_t)lead;
    ReadLocale();
    if (sLocale.charset != CHARSET_UTF8) return (uint32_t)lead;
    int continuations = lead >= 0xF5 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : 0;
    unsigned char rest[4];
    int count = 0;
    while (count < continuations) {
        int byte = ReadTerminalByte(KEY_REST_WAIT_MS);
        if (byte < 0) break;
        rest[count++] = (unsigned char)byte;
        if ((byte & 0xC0) != 0x80) break;
    }
    const unsigned char* in = rest;
    uint32_t value = DecodeUtf8Sequence((unsigned char)lead, &in, rest + count);
    HoldBytes(in, (int)(rest + count - in));
    return value == POSIX_NO_CHAR ? POSIX_REPLACEMENT : value;
}

// The parameters of an "ESC [" or "ESC O" sequence up to its final byte.
void SkipEscapeSequence() {
    for (;;) {
        int byte = ReadTerminalByte(KEY_REST_WAIT_MS);
        if (byte < 0 || (byte >= 0x40 && byte <= 0x7E)) return;
        if (byte < 0x20 || byte > 0x3F) {
            unsigned char held = (unsigned char)byte;
            HoldBytes(&held, 1);
            return;
        }
    }
}

// After an ESC: nothing within the wait, or a second ESC, is the Esc key
// (Wine reads ESC ESC as Esc with Alt); "[" or "O" starts a special key's
// sequence; any other key that came with it was typed with Alt.
ConsoleKey ReadEscapeKey() {
    int next = ReadTerminalByte(KEY_REST_WAIT_MS);
    if (next < 0 || next == 0x1B) return CharacterKey(0x1B);
    if (next == '[' || next == 'O')
        SkipEscapeSequence();
    else
        ReadCharacter(next);
    return SpecialKey();
}

ConsoleKey ReadKey() {
    int byte = ReadTerminalByte(WAIT_FOREVER);
    if (byte < 0) return {CONSOLE_KEY_END, 0};
    if (byte == 0x1B) return ReadEscapeKey();
    if (byte == 0) return SpecialKey();          // Ctrl+Space: a key without a character
    if (byte == 0x7F) return CharacterKey(8);   // Backspace
    return CharacterKey(ReadCharacter(byte));
}

}  // namespace

void DiscardConsoleInput() {
    sHeldCount = 0;
    if (isatty(STDIN_FILENO)) tcflush(STDIN_FILENO, TCIFLUSH);
}

ConsoleKey ReadConsoleKey() {
    if (!isatty(STDIN_FILENO)) return {CONSOLE_KEY_END, 0};
    struct termios saved;
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return {CONSOLE_KEY_END, 0};
    struct termios raw = saved;
    raw.c_lflag &= (tcflag_t) ~(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= (tcflag_t) ~(IXON | ICRNL | INLCR | IGNCR);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    ConsoleKey key = ReadKey();
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return key;
}

// ---------------------------------------------------------------------------
// Standard output, in the locale's character set to terminals and pipes
// alike, so that a name keeps every character and a pipe carries text that
// other tools read (the .exe under Wine writes its console in UTF-8 too, but
// the ANSI code page when redirected). A character the set lacks is '?', as
// in a name; no look-alike, which could pass for another name.

namespace {

// Units converted at a time; no unit takes more than four bytes.
const size_t OUTPUT_PIECE_UNITS = 512;

}  // namespace

void WriteOutput(const WCHAR* text, size_t length) {
    char bytes[OUTPUT_PIECE_UNITS * 4 + 1];
    while (length > 0) {
        size_t take = length;
        if (take > OUTPUT_PIECE_UNITS) {
            // A surrogate pair is never cut, so that it stays one character.
            take = OUTPUT_PIECE_UNITS;
            if (IsHighSurrogate(text[take - 1])) --take;
        }
        if (WideToUnix(text, take, bytes, sizeof bytes)) std::fputs(bytes, stdout);
        text += take;
        length -= take;
    }
}

void FlushOutput() { std::fflush(stdout); }

// ---------------------------------------------------------------------------
// Wide formatting with the Microsoft runtime's rules: %s is a wide string and
// %c a wide character, %S and %hs narrow ones; 'l' is 32 bits wide as on
// Windows; an unknown conversion prints its letter alone.

namespace {

struct Sink {
    WCHAR* out;
    size_t capacity;
    size_t length;
};

void Put(Sink* sink, WCHAR ch) {
    if (sink->out != nullptr && sink->length < sink->capacity) sink->out[sink->length] = ch;
    ++sink->length;
}

void PutRepeated(Sink* sink, WCHAR ch, long count) {
    for (long i = 0; i < count; ++i) Put(sink, ch);
}

struct Field {
    bool left, plus, space, alternate, zero;
    long width;
    long precision;  // -1: none
};

// Puts prefix and body, padded to the width. Zeros go between the two.
void PutField(Sink* sink, const Field& field, const char* prefix, const WCHAR* body, size_t bodyLength,
              bool zeroPad) {
    size_t prefixLength = std::strlen(prefix);
    long padding = field.width - (long)(prefixLength + bodyLength);
    if (!field.left && !zeroPad) PutRepeated(sink, ' ', padding);
    for (size_t i = 0; i < prefixLength; ++i) Put(sink, (WCHAR)prefix[i]);
    if (!field.left && zeroPad) PutRepeated(sink, '0', padding);
    for (size_t i = 0; i < bodyLength; ++i) Put(sink, body[i]);
    if (field.left) PutRepeated(sink, ' ', padding);
}

void PutNarrowField(Sink* sink, const Field& field, const char* prefix, const char* body, bool zeroPad) {
    WCHAR wide[128];
    size_t n = 0;
    for (; body[n] != 0 && n < sizeof wide / sizeof wide[0]; ++n) wide[n] = (WCHAR)(unsigned char)body[n];
    PutField(sink, field, prefix, wide, n, zeroPad);
}

void PutInteger(Sink* sink, const Field& field, uint64_t magnitude, bool negative, int base, bool upper,
                const char* alternatePrefix) {
    char digits[72];
    size_t n = 0;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    while (magnitude != 0) {
        digits[n++] = set[magnitude % (uint64_t)base];
        magnitude /= (uint64_t)base;
    }
    long minimum = field.precision < 0 ? 1 : field.precision;
    char body[80];
    size_t b = 0;
    for (long i = (long)n; i < minimum && b < 64; ++i) body[b++] = '0';
    while (n > 0) body[b++] = digits[--n];
    body[b] = 0;
    char prefix[4] = {0};
    if (negative)
        prefix[0] = '-';
    else if (field.plus)
        prefix[0] = '+';
    else if (field.space)
        prefix[0] = ' ';
    if (alternatePrefix != nullptr && b > 0 && !(b == 1 && body[0] == '0') && field.alternate)
        std::strcat(prefix, alternatePrefix);
    PutNarrowField(sink, field, prefix, body, field.zero && field.precision < 0);
}

// A double in the runtime's form: three exponent digits.
void PutFloat(Sink* sink, const Field& field, double value, char conversion) {
    char format[16], text[512];
    size_t f = 0;
    format[f++] = '%';
    if (field.alternate) format[f++] = '#';
    format[f++] = '.';
    format[f++] = '*';
    format[f++] = conversion;
    format[f] = 0;
    std::snprintf(text, sizeof text, format, (int)(field.precision < 0 ? 6 : field.precision),
                  value < 0 ? -value : value);
    char fixed[520];
    size_t o = 0;
    for (size_t i = 0; text[i] != 0 && o + 2 < sizeof fixed; ++i) {
        fixed[o++] = text[i];
        if ((text[i] == 'e' || text[i] == 'E') && (text[i + 1] == '+' || text[i + 1] == '-')) {
            fixed[o++] = text[++i];
            size_t digits = 0;
            while (text[i + 1 + digits] >= '0' && text[i + 1 + digits] <= '9') ++digits;
            for (size_t d = digits; d < 3; ++d) fixed[o++] = '0';
        }
    }
    fixed[o] = 0;
    bool negative = value < 0 || (value == 0 && std::signbit(value));
    const char* prefix = negative ? "-" : field.plus ? "+" : field.space ? " " : "";
    PutNarrowField(sink, field, prefix, fixed, field.zero);
}

void PutNarrowString(Sink* sink, const Field& field, const char* text) {
    if (text == nullptr) text = "(null)";
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    WCHAR* wide = n > 0 ? static_cast<WCHAR*>(std::malloc((size_t)n * sizeof(WCHAR))) : nullptr;
    if (wide == nullptr) return;
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide, n);
    size_t length = (size_t)n - 1;
    if (field.precision >= 0 && (size_t)field.precision < length) length = (size_t)field.precision;
    PutField(sink, field, "", wide, length, false);
    std::free(wide);
}

size_t FormatInto(Sink* sink, const WCHAR* format, va_list args) {
    static const WCHAR kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
    for (const WCHAR* p = format; *p != 0; ++p) {
        if (*p != '%') {
            Put(sink, *p);
            continue;
        }
        ++p;
        Field field = {false, false, false, false, false, 0, -1};
        for (;; ++p) {
            if (*p == '-') field.left = true;
            else if (*p == '+') field.plus = true;
            else if (*p == ' ') field.space = true;
            else if (*p == '#') field.alternate = true;
            else if (*p == '0') field.zero = true;
            else break;
        }
        if (*p == '*') {
            field.width = va_arg(args, int);
            if (field.width < 0) {
                field.left = true;
                field.width = -field.width;
            }
            ++p;
        } else {
            while (*p >= '0' && *p <= '9') field.width = field.width * 10 + (*p++ - '0');
        }
        if (*p == '.') {
            ++p;
            field.precision = 0;
            if (*p == '*') {
                field.precision = va_arg(args, int);
                if (field.precision < 0) field.precision = -1;
                ++p;
            } else {
                while (*p >= '0' && *p <= '9') field.precision = field.precision * 10 + (*p++ - '0');
            }
        }
        // Sizes: 'h' short (or narrow text), 'l' 32 bits, 'll' and "I64"
        // 64 bits, 'I', 'z', 'j', 't' pointer-sized, 'w' wide text.
        int size = 0;  // -1 short, 0 int, 1 long, 2 64 bits
        bool narrowText = false, wideText = false;
        for (;;) {
            if (*p == 'h') {
                size = size == -1 ? 0 : -1;  // "hh" is read as a plain int
                narrowText = true;
                ++p;
            } else if (*p == 'l') {
                size = size == 1 ? 2 : 1;
                wideText = true;
                ++p;
            } else if (*p == 'w') {
                wideText = true;
                ++p;
            } else if (*p == 'I' && p[1] == '6' && p[2] == '4') {
                size = 2;
                p += 3;
            } else if (*p == 'I' && p[1] == '3' && p[2] == '2') {
                size = 0;
                p += 3;
            } else if (*p == 'I' || *p == 'z' || *p == 'j' || *p == 't') {
                size = 2;
                ++p;
            } else if (*p == 'L') {
                ++p;
            } else {
                break;
            }
        }
        WCHAR conversion = *p;
        if (conversion == 0) break;  // a lone '%' at the end prints nothing
        switch (conversion) {
            case 'd':
            case 'i': {
                int64_t value;
                if (size == 2) value = va_arg(args, long long);
                else if (size == 1) value = (int32_t)va_arg(args, long);
                else if (size == -1) value = (short)va_arg(args, int);
                else value = va_arg(args, int);
                uint64_t magnitude = value < 0 ? (uint64_t)0 - (uint64_t)value : (uint64_t)value;
                PutInteger(sink, field, magnitude, value < 0, 10, false, nullptr);
                break;
            }
            case 'u':
            case 'x':
            case 'X':
            case 'o': {
                uint64_t value;
                if (size == 2) value = va_arg(args, unsigned long long);
                else if (size == 1) value = (uint32_t)va_arg(args, unsigned long);
                else if (size == -1) value = (unsigned short)va_arg(args, unsigned int);
                else value = va_arg(args, unsigned int);
                int base = conversion == 'u' ? 10 : conversion == 'o' ? 8 : 16;
                const char* prefix = conversion == 'x' ? "0x" : conversion == 'X' ? "0X" : conversion == 'o' ? "0" : nullptr;
                Field unsignedField = field;
                unsignedField.plus = unsignedField.space = false;
                PutInteger(sink, unsignedField, value, false, base, conversion == 'X', prefix);
                break;
            }
            case 'p': {
                Field pointerField = field;
                pointerField.precision = (long)(2 * sizeof(void*));
                pointerField.plus = pointerField.space = pointerField.alternate = false;
                PutInteger(sink, pointerField, (uint64_t)(uintptr_t)va_arg(args, void*), false, 16, true, nullptr);
                break;
            }
            case 'c':
            case 'C': {
                int value = va_arg(args, int);
                WCHAR ch = (WCHAR)value;
                if ((conversion == 'C' && !wideText) || (conversion == 'c' && narrowText)) {
                    char narrow[2] = {(char)value, 0};
                    WCHAR widened[2];
                    if (MultiByteToWideChar(CP_ACP, 0, narrow, 1, widened, 2) == 1) ch = widened[0];
                }
                PutField(sink, field, "", &ch, 1, false);
                break;
            }
            case 's':
            case 'S': {
                if ((conversion == 'S' && !wideText) || (conversion == 's' && narrowText)) {
                    PutNarrowString(sink, field, va_arg(args, const char*));
                    break;
                }
                const WCHAR* text = va_arg(args, const WCHAR*);
                if (text == nullptr) text = kNull;
                size_t length = 0;
                while (text[length] != 0 && (field.precision < 0 || (long)length < field.precision)) ++length;
                PutField(sink, field, "", text, length, false);
                break;
            }
            case 'e':
            case 'E':
            case 'f':
            case 'g':
            case 'G':
                PutFloat(sink, field, va_arg(args, double), (char)conversion);
                break;
            case 'n': {
                int* where = va_arg(args, int*);
                if (where != nullptr) *where = (int)sink->length;
                break;
            }
            default:
                Put(sink, conversion);  // "%%" and unknown letters print the letter
                break;
        }
    }
    return sink->length;
}

}  // namespace

int _vscwprintf(const WCHAR* format, va_list args) {
    if (format == nullptr) {
        errno = EINVAL;
        return -1;
    }
    Sink sink = {nullptr, 0, 0};
    va_list copy;
    va_copy(copy, args);
    size_t length = FormatInto(&sink, format, copy);
    va_end(copy);
    return length > (size_t)INT_MAX ? -1 : (int)length;
}

int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args) {
    if (format == nullptr || (buffer == nullptr && count > 0)) {
        errno = EINVAL;
        return -1;
    }
    Sink sink = {buffer, count, 0};
    va_list copy;
    va_copy(copy, args);
    size_t length = FormatInto(&sink, format, copy);
    va_end(copy);
    if (length > count || length > (size_t)INT_MAX) return -1;
    if (length < count) buffer[length] = 0;
    return (int)length;
}

// ---------------------------------------------------------------------------
// The wide argument vector, decoded from the locale's character set.

WCHAR** PosixWideArguments(int argc, char** argv, int* count) {
    static WCHAR** sArguments = nullptr;
    static int sCount = 0;
    if (sArguments == nullptr) {
        WCHAR** arguments = static_cast<WCHAR**>(std::calloc((size_t)argc + 1, sizeof(WCHAR*)));
        if (arguments == nullptr) return nullptr;
        for (int i = 0; i < argc; ++i) {
            // The terminator is decoded with the text, as Wine does: a cut
            // sequence at the end then reads the same.
            size_t length = std::strlen(argv[i]) + 1;
            size_t units = UnixToWide(argv[i], length, nullptr, 0);
            arguments[i] = static_cast<WCHAR*>(std::malloc((units + 1) * sizeof(WCHAR)));
            if (arguments[i] == nullptr) {
                for (int k = 0; k < i; ++k) std::free(arguments[k]);
                std::free(arguments);
                return nullptr;
            }
            UnixToWide(argv[i], length, arguments[i], units);
            arguments[i][units] = 0;
        }
        sArguments = arguments;
        sCount = argc;
    }
    *count = sCount;
    return sArguments;
}

// ---------------------------------------------------------------------------
// Unix paths given as arguments, turned into drive paths as Wine turns them
// (measured with winepath -w and GetFullPathNameW, docs/platform-facts.md):
// the longest leading part of the path that is the folder of a mapped drive
// gives the drive, compared by identity so that a link to the folder counts
// too, the lowest letter among drives of one folder. The leading parts are
// cut name by name from the end, a ".." together with the name before it.
// The names after that part follow, with "." and ".." resolved by text.

namespace {

// The drive (1 = A) whose folder is the folder `path`, or 0.
int DriveOfFolder(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISDIR(info.st_mode)) return 0;
    for (int i = 0; i < 26; ++i) {
        const char* root = DriveRoot(i + 1);
        struct stat rootInfo;
        if (root != nullptr && stat(root, &rootInfo) == 0 && rootInfo.st_dev == info.st_dev &&
            rootInfo.st_ino == info.st_ino)
            return i + 1;
    }
    return 0;
}

// The drive of the first `length` units of a Unix path, or 0.
int DriveOfLeadingPart(const WCHAR* path, size_t length) {
    char unixPath[UNIX_PATH_BYTES];
    if (!WideToUnix(path, length, unixPath, sizeof unixPath)) return 0;
    return DriveOfFolder(unixPath);
}

// Where the leading part one folder up from the first `end` units ends: a
// "." name is passed over and a ".." name takes one more name along, the
// folder it climbed out of. The root stays.
size_t ParentEnd(const WCHAR* path, size_t end) {
    int levels = 0;
    while (levels < 1 && end > 1) {
        size_t start = end;
        while (start > 1 && path[start - 1] != '/') --start;
        size_t length = end - start;
        if (length == 2 && path[start] == '.' && path[start + 1] == '.')
            --levels;
        else if (length != 1 || path[start] != '.')
            ++levels;
        end = start;
        while (end > 1 && path[end - 1] == '/') --end;
    }
    return end;
}

// Finds the drive of a Unix path and where the names after its folder
// begin; 0 when no mapped drive holds the path.
int FindDriveOfUnixPath(const WCHAR* path, size_t* rest) {
    size_t end = WideLen(path);
    while (end > 1 && path[end - 1] == '/') --end;
    for (;;) {
        int drive = DriveOfLeadingPart(path, end);
        if (drive != 0) {
            *rest = end;
            return drive;
        }
        if (end <= 1) return 0;
        end = ParentEnd(path, end);
    }
}

}  // namespace

size_t PosixDrivePathOfUnixPath(const WCHAR* unixPath, WCHAR* out, size_t capacity) {
    if (unixPath == nullptr || unixPath[0] != '/') return 0;
    size_t rest = 0;
    int drive = FindDriveOfUnixPath(unixPath, &rest);
    if (drive == 0) return 0;
    // "X:\" and the names after the drive's folder, then read as a DOS path,
    // which resolves "." and ".." and drops what Windows drops.
    size_t restLength = WideLen(unixPath + rest);
    WCHAR* dosPath = static_cast<WCHAR*>(std::malloc((restLength + 4) * sizeof(WCHAR)));
    PathParts* parts = static_cast<PathParts*>(std::malloc(sizeof(PathParts)));
    size_t n = 0;
    if (dosPath != nullptr && parts != nullptr) {
        dosPath[0] = (WCHAR)('A' + drive - 1);
        dosPath[1] = ':';
        dosPath[2] = '\\';
        for (size_t i = 0; i <= restLength; ++i) dosPath[3 + i] = unixPath[rest + i];
        if (ParseDosPath(dosPath, parts) == 0) {
            auto put = [&](WCHAR ch) {
                if (out != nullptr && n < capacity) out[n] = ch;
                ++n;
            };
            put(dosPath[0]);
            put(':');
            put('\\');
            for (int i = 0; i < parts->count; ++i) {
                if (i > 0) put('\\');
                for (uint32_t k = 0; k < parts->length[i]; ++k) put(PartText(parts, i)[k]);
            }
            if (parts->trailingSeparator && parts->count > 0) put('\\');
            if (out != nullptr && n < capacity) out[n] = 0;
        }
    }
    std::free(parts);
    std::free(dosPath);
    return n;
}

// ---------------------------------------------------------------------------
// For the unit tests.

WCHAR PosixUpcase(WCHAR ch) { return Upcase(ch); }

WCHAR PosixDowncase(WCHAR ch) { return Downcase(ch); }

bool PosixMatchMask(const WCHAR* name, const WCHAR* mask) {
    return MatchMask(name, WideLen(name), mask, WideLen(mask));
}

size_t PosixShortName(const WCHAR* name, WCHAR* buffer) {
    size_t length = WideLen(name);
    buffer[0] = 0;
    if (IsLegalShortName(name, length)) return 0;
    return MakeShortName(name, length, buffer);
}

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

void PosixResetState(void) {
    ForgetDrives();
    ForgetFolderCache();
    sChosen.drive = 0;
    sLocale.known = false;
    if (sLocale.toWide != (iconv_t)-1) iconv_close(sLocale.toWide);
    if (sLocale.fromWide != (iconv_t)-1) iconv_close(sLocale.fromWide);
    sLocale.toWide = sLocale.fromWide = (iconv_t)-1;
    sHeldCount = 0;
}

// ===========================================================================
// The services of os.h

namespace {

// The byte that the bin lock covers: far past the end of any real file, so
// that the lock never stands in the way of reading or writing data (Windows
// locks are mandatory). Wine turns LockFileEx into an fcntl lock on the same
// range, so the builds exclude each other.
const off_t LOCK_BYTE = (off_t)1 << 62;

bool LockRange(FILE* stream, short type) {
    struct flock range;
    std::memset(&range, 0, sizeof range);
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = LOCK_BYTE;
    range.l_len = 1;
    // An open-file-description lock: closing another descriptor of the same
    // file (an index read while the lock is held) does not drop it.
    for (;;) {
        if (fcntl(fileno(stream), F_OFD_SETLK, &range) == 0) return true;
        // As Wine: a file open for reading only gets a read lock, and a file
        // system without locks is worked on without them. Read locks do not
        // exclude each other, so such a file also gets an flock() lock, which
        // keeps two native runs apart (Wine keeps its own runs apart itself).
        if (errno == EBADF && range.l_type == F_WRLCK) {
            if (flock(fileno(stream), LOCK_EX | LOCK_NB) != 0) {
                sLastError = errno == EWOULDBLOCK ? ERROR_LOCK_VIOLATION : ErrorFromErrno(errno);
                return false;
            }
            range.l_type = F_RDLCK;
            continue;
        }
        if (errno == ENOLCK || errno == ENOTSUP || errno == EIO) return true;
        sLastError = (errno == EAGAIN || errno == EACCES) ? ERROR_LOCK_VIOLATION : ErrorFromErrno(errno);
        return false;
    }
}

}  // namespace

FILE* OsCreateNewFileW(const WCHAR* path) {
    PathParts* parts = static_cast<PathParts*>(std::malloc(sizeof(PathParts)));
    if (parts == nullptr) {
        sLastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    char unixPath[UNIX_PATH_BYTES];
    bool missing = false;
    DWORD error = ParseDosPath(path, parts);
    Device device = {DEVICE_NONE, 0};
    if (error == 0) device = DeviceOf(parts);
    if (error == 0 && device.kind != DEVICE_NONE) {
        // NUL is opened (nothing is made); a port that is there exists.
        error = DeviceFolderError(parts);
        if (error == 0 && device.kind != DEVICE_NUL)
            error = device.kind == DEVICE_CON    ? ERROR_INVALID_HANDLE
                    : device.kind == DEVICE_PORT ? ERROR_FILE_EXISTS
                                                 : ERROR_FILE_NOT_FOUND;
        std::free(parts);
        if (error != 0) {
            sLastError = error;
            return nullptr;
        }
        FILE* null = std::fopen("/dev/null", "wb");
        if (null == nullptr) sLastError = ErrorFromErrno(errno);
        return null;
    }
    if (error == 0) error = ResolveParts(parts, parts->count, unixPath, sizeof unixPath, &missing);
    if (error == 0 && parts->count == 0) error = ERROR_ACCESS_DENIED;
    if (error == 0 && parts->trailingSeparator) error = ERROR_INVALID_NAME;
    if (error == 0 && !missing) error = ERROR_FILE_EXISTS;
    std::free(parts);
    if (error != 0) {
        sLastError = error;
        return nullptr;
    }
    // O_EXCL fails on any name that exists, a dangling link included.
    int fd = open(unixPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        sLastError = errno == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(errno);
        return nullptr;
    }
    NoteNameAdded(unixPath);
    FILE* stream = fdopen(fd, "wb");
    if (stream == nullptr) {
        sLastError = ErrorFromErrno(errno);
        close(fd);
        unlink(unixPath);
        NoteNameRemoved(unixPath);
    }
    return stream;
}

FILE* OsCreateNewFileA(const char* path) {
    return CallWithWidePath(path, (FILE*)nullptr, OsCreateNewFileW);
}

int64_t OsTell(FILE* stream) {
    off_t position = ftello(stream);
    if (position < 0) sLastError = ErrorFromErrno(errno);
    return (int64_t)position;
}

BOOL OsTruncate(FILE* stream, uint64_t size) {
    if (std::fflush(stream) != 0 || ftruncate(fileno(stream), (off_t)size) != 0)
        return Fail(ErrorFromErrno(errno));
    return TRUE;
}

BOOL OsLock(FILE* stream) { return LockRange(stream, F_WRLCK) ? TRUE : FALSE; }

BOOL OsUnlock(FILE* stream) {
    flock(fileno(stream), LOCK_UN);
    return LockRange(stream, F_UNLCK) ? TRUE : FALSE;
}

BOOL OsFileIdentityW(const WCHAR* path, BOOL follow, FileIdentity* identity) {
    PathParts* parts = static_cast<PathParts*>(std::malloc(sizeof(PathParts)));
    if (parts == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    char unixPath[UNIX_PATH_BYTES];
    Device device;
    DWORD error = ResolveExisting(path, parts, unixPath, sizeof unixPath, &device);
    if (error == 0 && device.kind != DEVICE_NONE) error = DeviceUseError(device.kind);
    FileInfo info;
    struct stat own;
    int described = error != 0 ? -1 : follow ? stat(unixPath, &own) : lstat(unixPath, &own);
    if (error == 0 &&
        (described != 0 || !GetFileInfo(unixPath, parts->count > 0 ? LastUnixName(unixPath) : nullptr, &info)))
        error = ERROR_FILE_NOT_FOUND;
    std::free(parts);
    if (error != 0) return Fail(error);
    identity->volume = (uint64_t)own.st_dev;
    identity->file = (uint64_t)own.st_ino;
    identity->attributes = info.attributes;
    identity->isLink = S_ISLNK(own.st_mode);
    return TRUE;
}

BOOL OsFileIdentityA(const char* path, BOOL follow, FileIdentity* identity) {
    return CallWithWidePath(path, (BOOL)FALSE, [follow, identity](const WCHAR* wide) {
        return OsFileIdentityW(wide, follow, identity);
    });
}

BOOL OsRandomBytes(void* buffer, size_t size) {
    unsigned char* out = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        ssize_t got = getrandom(out, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return Fail(ErrorFromErrno(errno));
        out += got;
        size -= (size_t)got;
    }
    return TRUE;
}

// unlink() and rename() act on a link itself.
BOOL OsHandlesLinksItself(void) { return TRUE; }

void OsSleep(DWORD milliseconds) {
    struct timespec wait = {(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}
