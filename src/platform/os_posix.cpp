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

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <sys/xattr.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <clocale>
#include <cstdlib>
#include <cstring>

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
// Case mapping: Wine's simple upper- and lower-case tables (measured with
// RtlUpcaseUnicodeChar and RtlDowncaseUnicodeChar), as ranges of code points
// that move by the same distance, every code point or every second one.

struct CaseRange {
    uint16_t first;
    uint16_t last;
    int32_t delta;
    uint8_t step;
};

const CaseRange kUpperRanges[] = {
    {0x0061, 0x007A, -32, 1}, {0x00E0, 0x00F6, -32, 1}, {0x00F8, 0x00FE, -32, 1},
    {0x00FF, 0x00FF, 121, 1}, {0x0101, 0x012F, -1, 2}, {0x0133, 0x0137, -1, 2},
    {0x013A, 0x0148, -1, 2}, {0x014B, 0x0177, -1, 2}, {0x017A, 0x017E, -1, 2},
    {0x0180, 0x0180, 195, 1}, {0x0183, 0x0185, -1, 2}, {0x0188, 0x0188, -1, 1},
    {0x018C, 0x018C, -1, 1}, {0x0192, 0x0192, -1, 1}, {0x0195, 0x0195, 97, 1},
    {0x0199, 0x0199, -1, 1}, {0x019A, 0x019A, 163, 1}, {0x019E, 0x019E, 130, 1},
    {0x01A1, 0x01A5, -1, 2}, {0x01A8, 0x01A8, -1, 1}, {0x01AD, 0x01AD, -1, 1},
    {0x01B0, 0x01B0, -1, 1}, {0x01B4, 0x01B6, -1, 2}, {0x01B9, 0x01B9, -1, 1},
    {0x01BD, 0x01BD, -1, 1}, {0x01BF, 0x01BF, 56, 1}, {0x01C6, 0x01C6, -2, 1},
    {0x01C9, 0x01C9, -2, 1}, {0x01CC, 0x01CC, -2, 1}, {0x01CE, 0x01DC, -1, 2},
    {0x01DD, 0x01DD, -79, 1}, {0x01DF, 0x01EF, -1, 2}, {0x01F3, 0x01F3, -2, 1},
    {0x01F5, 0x01F5, -1, 1}, {0x01F9, 0x021F, -1, 2}, {0x0223, 0x0233, -1, 2},
    {0x023C, 0x023C, -1, 1}, {0x023F, 0x0240, 10815, 1}, {0x0242, 0x0242, -1, 1},
    {0x0247, 0x024F, -1, 2}, {0x0250, 0x0250, 10783, 1}, {0x0251, 0x0251, 10780, 1},
    {0x0252, 0x0252, 10782, 1}, {0x0253, 0x0253, -210, 1}, {0x0254, 0x0254, -206, 1},
    {0x0256, 0x0257, -205, 1}, {0x0259, 0x0259, -202, 1}, {0x025B, 0x025B, -203, 1},
    {0x025C, 0x025C, 42319, 1}, {0x0260, 0x0260, -205, 1}, {0x0261, 0x0261, 42315, 1},
    {0x0263, 0x0263, -207, 1}, {0x0265, 0x0265, 42280, 1}, {0x0266, 0x0266, 42308, 1},
    {0x0268, 0x0268, -209, 1}, {0x0269, 0x0269, -211, 1}, {0x026A, 0x026A, 42308, 1},
    {0x026B, 0x026B, 10743, 1}, {0x026C, 0x026C, 42305, 1}, {0x026F, 0x026F, -211, 1},
    {0x0271, 0x0271, 10749, 1}, {0x0272, 0x0272, -213, 1}, {0x0275, 0x0275, -214, 1},
    {0x027D, 0x027D, 10727, 1}, {0x0280, 0x0280, -218, 1}, {0x0282, 0x0282, 42307, 1},
    {0x0283, 0x0283, -218, 1}, {0x0287, 0x0287, 42282, 1}, {0x0288, 0x0288, -218, 1},
    {0x0289, 0x0289, -69, 1}, {0x028A, 0x028B, -217, 1}, {0x028C, 0x028C, -71, 1},
    {0x0292, 0x0292, -219, 1}, {0x029D, 0x029D, 42261, 1}, {0x029E, 0x029E, 42258, 1},
    {0x0371, 0x0373, -1, 2}, {0x0377, 0x0377, -1, 1}, {0x037B, 0x037D, 130, 1},
    {0x03AC, 0x03AC, -38, 1}, {0x03AD, 0x03AF, -37, 1}, {0x03B1, 0x03C1, -32, 1},
    {0x03C3, 0x03CB, -32, 1}, {0x03CC, 0x03CC, -64, 1}, {0x03CD, 0x03CE, -63, 1},
    {0x03D7, 0x03D7, -8, 1}, {0x03D9, 0x03EF, -1, 2}, {0x03F2, 0x03F2, 7, 1},
    {0x03F3, 0x03F3, -116, 1}, {0x03F8, 0x03F8, -1, 1}, {0x03FB, 0x03FB, -1, 1},
    {0x0430, 0x044F, -32, 1}, {0x0450, 0x045F, -80, 1}, {0x0461, 0x0481, -1, 2},
    {0x048B, 0x04BF, -1, 2}, {0x04C2, 0x04CE, -1, 2}, {0x04CF, 0x04CF, -15, 1},
    {0x04D1, 0x052F, -1, 2}, {0x0561, 0x0586, -48, 1}, {0x10D0, 0x10FA, 3008, 1},
    {0x10FD, 0x10FF, 3008, 1}, {0x13F8, 0x13FD, -8, 1}, {0x1D79, 0x1D79, 35332, 1},
    {0x1D7D, 0x1D7D, 3814, 1}, {0x1D8E, 0x1D8E, 35384, 1}, {0x1E01, 0x1E95, -1, 2},
    {0x1EA1, 0x1EFF, -1, 2}, {0x1F00, 0x1F07, 8, 1}, {0x1F10, 0x1F15, 8, 1}, {0x1F20, 0x1F27, 8, 1},
    {0x1F30, 0x1F37, 8, 1}, {0x1F40, 0x1F45, 8, 1}, {0x1F51, 0x1F57, 8, 2}, {0x1F60, 0x1F67, 8, 1},
    {0x1F70, 0x1F71, 74, 1}, {0x1F72, 0x1F75, 86, 1}, {0x1F76, 0x1F77, 100, 1},
    {0x1F78, 0x1F79, 128, 1}, {0x1F7A, 0x1F7B, 112, 1}, {0x1F7C, 0x1F7D, 126, 1},
    {0x1F80, 0x1F87, 8, 1}, {0x1F90, 0x1F97, 8, 1}, {0x1FA0, 0x1FA7, 8, 1}, {0x1FB0, 0x1FB1, 8, 1},
    {0x1FB3, 0x1FB3, 9, 1}, {0x1FC3, 0x1FC3, 9, 1}, {0x1FD0, 0x1FD1, 8, 1}, {0x1FE0, 0x1FE1, 8, 1},
    {0x1FE5, 0x1FE5, 7, 1}, {0x1FF3, 0x1FF3, 9, 1}, {0x214E, 0x214E, -28, 1},
    {0x2170, 0x217F, -16, 1}, {0x2184, 0x2184, -1, 1}, {0x24D0, 0x24E9, -26, 1},
    {0x2C30, 0x2C5F, -48, 1}, {0x2C61, 0x2C61, -1, 1}, {0x2C65, 0x2C65, -10795, 1},
    {0x2C66, 0x2C66, -10792, 1}, {0x2C68, 0x2C6C, -1, 2}, {0x2C73, 0x2C73, -1, 1},
    {0x2C76, 0x2C76, -1, 1}, {0x2C81, 0x2CE3, -1, 2}, {0x2CEC, 0x2CEE, -1, 2},
    {0x2CF3, 0x2CF3, -1, 1}, {0x2D00, 0x2D25, -7264, 1}, {0x2D27, 0x2D27, -7264, 1},
    {0x2D2D, 0x2D2D, -7264, 1}, {0xA641, 0xA66D, -1, 2}, {0xA681, 0xA69B, -1, 2},
    {0xA723, 0xA72F, -1, 2}, {0xA733, 0xA76F, -1, 2}, {0xA77A, 0xA77C, -1, 2},
    {0xA77F, 0xA787, -1, 2}, {0xA78C, 0xA78C, -1, 1}, {0xA791, 0xA793, -1, 2},
    {0xA794, 0xA794, 48, 1}, {0xA797, 0xA7A9, -1, 2}, {0xA7B5, 0xA7C3, -1, 2},
    {0xA7C8, 0xA7CA, -1, 2}, {0xA7D1, 0xA7D1, -1, 1}, {0xA7D7, 0xA7D9, -1, 2},
    {0xA7F6, 0xA7F6, -1, 1}, {0xAB53, 0xAB53, -928, 1}, {0xAB70, 0xABBF, -38864, 1},
    {0xFF41, 0xFF5A, -32, 1},
};
const CaseRange kLowerRanges[] = {
    {0x0041, 0x005A, 32, 1}, {0x00C0, 0x00D6, 32, 1}, {0x00D8, 0x00DE, 32, 1},
    {0x0100, 0x012E, 1, 2}, {0x0132, 0x0136, 1, 2}, {0x0139, 0x0147, 1, 2}, {0x014A, 0x0176, 1, 2},
    {0x0178, 0x0178, -121, 1}, {0x0179, 0x017D, 1, 2}, {0x0181, 0x0181, 210, 1},
    {0x0182, 0x0184, 1, 2}, {0x0186, 0x0186, 206, 1}, {0x0187, 0x0187, 1, 1},
    {0x0189, 0x018A, 205, 1}, {0x018B, 0x018B, 1, 1}, {0x018E, 0x018E, 79, 1},
    {0x018F, 0x018F, 202, 1}, {0x0190, 0x0190, 203, 1}, {0x0191, 0x0191, 1, 1},
    {0x0193, 0x0193, 205, 1}, {0x0194, 0x0194, 207, 1}, {0x0196, 0x0196, 211, 1},
    {0x0197, 0x0197, 209, 1}, {0x0198, 0x0198, 1, 1}, {0x019C, 0x019C, 211, 1},
    {0x019D, 0x019D, 213, 1}, {0x019F, 0x019F, 214, 1}, {0x01A0, 0x01A4, 1, 2},
    {0x01A6, 0x01A6, 218, 1}, {0x01A7, 0x01A7, 1, 1}, {0x01A9, 0x01A9, 218, 1},
    {0x01AC, 0x01AC, 1, 1}, {0x01AE, 0x01AE, 218, 1}, {0x01AF, 0x01AF, 1, 1},
    {0x01B1, 0x01B2, 217, 1}, {0x01B3, 0x01B5, 1, 2}, {0x01B7, 0x01B7, 219, 1},
    {0x01B8, 0x01B8, 1, 1}, {0x01BC, 0x01BC, 1, 1}, {0x01C4, 0x01C4, 2, 1}, {0x01C7, 0x01C7, 2, 1},
    {0x01CA, 0x01CA, 2, 1}, {0x01CD, 0x01DB, 1, 2}, {0x01DE, 0x01EE, 1, 2}, {0x01F1, 0x01F1, 2, 1},
    {0x01F4, 0x01F4, 1, 1}, {0x01F6, 0x01F6, -97, 1}, {0x01F7, 0x01F7, -56, 1},
    {0x01F8, 0x021E, 1, 2}, {0x0220, 0x0220, -130, 1}, {0x0222, 0x0232, 1, 2},
    {0x023A, 0x023A, 10795, 1}, {0x023B, 0x023B, 1, 1}, {0x023D, 0x023D, -163, 1},
    {0x023E, 0x023E, 10792, 1}, {0x0241, 0x0241, 1, 1}, {0x0243, 0x0243, -195, 1},
    {0x0244, 0x0244, 69, 1}, {0x0245, 0x0245, 71, 1}, {0x0246, 0x024E, 1, 2},
    {0x0370, 0x0372, 1, 2}, {0x0376, 0x0376, 1, 1}, {0x037F, 0x037F, 116, 1},
    {0x0386, 0x0386, 38, 1}, {0x0388, 0x038A, 37, 1}, {0x038C, 0x038C, 64, 1},
    {0x038E, 0x038F, 63, 1}, {0x0391, 0x03A1, 32, 1}, {0x03A3, 0x03AB, 32, 1},
    {0x03CF, 0x03CF, 8, 1}, {0x03D8, 0x03EE, 1, 2}, {0x03F7, 0x03F7, 1, 1}, {0x03F9, 0x03F9, -7, 1},
    {0x03FA, 0x03FA, 1, 1}, {0x03FD, 0x03FF, -130, 1}, {0x0400, 0x040F, 80, 1},
    {0x0410, 0x042F, 32, 1}, {0x0460, 0x0480, 1, 2}, {0x048A, 0x04BE, 1, 2},
    {0x04C0, 0x04C0, 15, 1}, {0x04C1, 0x04CD, 1, 2}, {0x04D0, 0x052E, 1, 2},
    {0x0531, 0x0556, 48, 1}, {0x10A0, 0x10C5, 7264, 1}, {0x10C7, 0x10C7, 7264, 1},
    {0x10CD, 0x10CD, 7264, 1}, {0x13A0, 0x13EF, 38864, 1}, {0x13F0, 0x13F5, 8, 1},
    {0x1C90, 0x1CBA, -3008, 1}, {0x1CBD, 0x1CBF, -3008, 1}, {0x1E00, 0x1E94, 1, 2},
    {0x1EA0, 0x1EFE, 1, 2}, {0x1F08, 0x1F0F, -8, 1}, {0x1F18, 0x1F1D, -8, 1},
    {0x1F28, 0x1F2F, -8, 1}, {0x1F38, 0x1F3F, -8, 1}, {0x1F48, 0x1F4D, -8, 1},
    {0x1F59, 0x1F5F, -8, 2}, {0x1F68, 0x1F6F, -8, 1}, {0x1F88, 0x1F8F, -8, 1},
    {0x1F98, 0x1F9F, -8, 1}, {0x1FA8, 0x1FAF, -8, 1}, {0x1FB8, 0x1FB9, -8, 1},
    {0x1FBA, 0x1FBB, -74, 1}, {0x1FBC, 0x1FBC, -9, 1}, {0x1FC8, 0x1FCB, -86, 1},
    {0x1FCC, 0x1FCC, -9, 1}, {0x1FD8, 0x1FD9, -8, 1}, {0x1FDA, 0x1FDB, -100, 1},
    {0x1FE8, 0x1FE9, -8, 1}, {0x1FEA, 0x1FEB, -112, 1}, {0x1FEC, 0x1FEC, -7, 1},
    {0x1FF8, 0x1FF9, -128, 1}, {0x1FFA, 0x1FFB, -126, 1}, {0x1FFC, 0x1FFC, -9, 1},
    {0x2132, 0x2132, 28, 1}, {0x2160, 0x216F, 16, 1}, {0x2183, 0x2183, 1, 1},
    {0x24B6, 0x24CF, 26, 1}, {0x2C00, 0x2C2F, 48, 1}, {0x2C60, 0x2C60, 1, 1},
    {0x2C62, 0x2C62, -10743, 1}, {0x2C63, 0x2C63, -3814, 1}, {0x2C64, 0x2C64, -10727, 1},
    {0x2C67, 0x2C6B, 1, 2}, {0x2C6D, 0x2C6D, -10780, 1}, {0x2C6E, 0x2C6E, -10749, 1},
    {0x2C6F, 0x2C6F, -10783, 1}, {0x2C70, 0x2C70, -10782, 1}, {0x2C72, 0x2C72, 1, 1},
    {0x2C75, 0x2C75, 1, 1}, {0x2C7E, 0x2C7F, -10815, 1}, {0x2C80, 0x2CE2, 1, 2},
    {0x2CEB, 0x2CED, 1, 2}, {0x2CF2, 0x2CF2, 1, 1}, {0xA640, 0xA66C, 1, 2}, {0xA680, 0xA69A, 1, 2},
    {0xA722, 0xA72E, 1, 2}, {0xA732, 0xA76E, 1, 2}, {0xA779, 0xA77B, 1, 2},
    {0xA77D, 0xA77D, -35332, 1}, {0xA77E, 0xA786, 1, 2}, {0xA78B, 0xA78B, 1, 1},
    {0xA78D, 0xA78D, -42280, 1}, {0xA790, 0xA792, 1, 2}, {0xA796, 0xA7A8, 1, 2},
    {0xA7AA, 0xA7AA, -42308, 1}, {0xA7AB, 0xA7AB, -42319, 1}, {0xA7AC, 0xA7AC, -42315, 1},
    {0xA7AD, 0xA7AD, -42305, 1}, {0xA7AE, 0xA7AE, -42308, 1}, {0xA7B0, 0xA7B0, -42258, 1},
    {0xA7B1, 0xA7B1, -42282, 1}, {0xA7B2, 0xA7B2, -42261, 1}, {0xA7B3, 0xA7B3, 928, 1},
    {0xA7B4, 0xA7C2, 1, 2}, {0xA7C4, 0xA7C4, -48, 1}, {0xA7C5, 0xA7C5, -42307, 1},
    {0xA7C6, 0xA7C6, -35384, 1}, {0xA7C7, 0xA7C9, 1, 2}, {0xA7D0, 0xA7D0, 1, 1},
    {0xA7D6, 0xA7D8, 1, 2}, {0xA7F5, 0xA7F5, 1, 1}, {0xFF21, 0xFF3A, 32, 1},
};

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
// Code pages. The single-byte ones are Windows' tables as Wine gives them
// (bytes 0x80-0xFF; below that ASCII). A character converts back only to
// the byte that converts to it: no best fit.

struct SingleByteTable {
    UINT codePage;
    uint16_t high[128];
};

const SingleByteTable kSingleByteTables[] = {
    {874,
     {
      0x20AC, 0x0081, 0x0082, 0x0083, 0x0084, 0x2026, 0x0086, 0x0087,
      0x0088, 0x0089, 0x008A, 0x008B, 0x008C, 0x008D, 0x008E, 0x008F,
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x0098, 0x0099, 0x009A, 0x009B, 0x009C, 0x009D, 0x009E, 0x009F,
      0x00A0, 0x0E01, 0x0E02, 0x0E03, 0x0E04, 0x0E05, 0x0E06, 0x0E07,
      0x0E08, 0x0E09, 0x0E0A, 0x0E0B, 0x0E0C, 0x0E0D, 0x0E0E, 0x0E0F,
      0x0E10, 0x0E11, 0x0E12, 0x0E13, 0x0E14, 0x0E15, 0x0E16, 0x0E17,
      0x0E18, 0x0E19, 0x0E1A, 0x0E1B, 0x0E1C, 0x0E1D, 0x0E1E, 0x0E1F,
      0x0E20, 0x0E21, 0x0E22, 0x0E23, 0x0E24, 0x0E25, 0x0E26, 0x0E27,
      0x0E28, 0x0E29, 0x0E2A, 0x0E2B, 0x0E2C, 0x0E2D, 0x0E2E, 0x0E2F,
      0x0E30, 0x0E31, 0x0E32, 0x0E33, 0x0E34, 0x0E35, 0x0E36, 0x0E37,
      0x0E38, 0x0E39, 0x0E3A, 0xF8C1, 0xF8C2, 0xF8C3, 0xF8C4, 0x0E3F,
      0x0E40, 0x0E41, 0x0E42, 0x0E43, 0x0E44, 0x0E45, 0x0E46, 0x0E47,
      0x0E48, 0x0E49, 0x0E4A, 0x0E4B, 0x0E4C, 0x0E4D, 0x0E4E, 0x0E4F,
      0x0E50, 0x0E51, 0x0E52, 0x0E53, 0x0E54, 0x0E55, 0x0E56, 0x0E57,
      0x0E58, 0x0E59, 0x0E5A, 0x0E5B, 0xF8C5, 0xF8C6, 0xF8C7, 0xF8C8,
     }},
    {1250,
     {
      0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,
      0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
      0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,
      0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
      0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
      0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
      0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
      0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
      0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
      0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
      0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
      0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
      0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
      0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
     }},
    {1251,
     {
      0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
      0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
      0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
      0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
      0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
      0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
      0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
      0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
      0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
      0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
      0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
      0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
      0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
      0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
      0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
     }},
    {1252,
     {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
      0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
      0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
      0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
      0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
      0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
      0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
      0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
      0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
      0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
      0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
      0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
      0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
     }},
    {1253,
     {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x0088, 0x2030, 0x008A, 0x2039, 0x008C, 0x008D, 0x008E, 0x008F,
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x0098, 0x2122, 0x009A, 0x203A, 0x009C, 0x009D, 0x009E, 0x009F,
      0x00A0, 0x0385, 0x0386, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
      0x00A8, 0x00A9, 0xF8F9, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x2015,
      0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x0384, 0x00B5, 0x00B6, 0x00B7,
      0x0388, 0x0389, 0x038A, 0x00BB, 0x038C, 0x00BD, 0x038E, 0x038F,
      0x0390, 0x0391, 0x0392, 0x0393, 0x0394, 0x0395, 0x0396, 0x0397,
      0x0398, 0x0399, 0x039A, 0x039B, 0x039C, 0x039D, 0x039E, 0x039F,
      0x03A0, 0x03A1, 0xF8FA, 0x03A3, 0x03A4, 0x03A5, 0x03A6, 0x03A7,
      0x03A8, 0x03A9, 0x03AA, 0x03AB, 0x03AC, 0x03AD, 0x03AE, 0x03AF,
      0x03B0, 0x03B1, 0x03B2, 0x03B3, 0x03B4, 0x03B5, 0x03B6, 0x03B7,
      0x03B8, 0x03B9, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BE, 0x03BF,
      0x03C0, 0x03C1, 0x03C2, 0x03C3, 0x03C4, 0x03C5, 0x03C6, 0x03C7,
      0x03C8, 0x03C9, 0x03CA, 0x03CB, 0x03CC, 0x03CD, 0x03CE, 0xF8FB,
     }},
    {1254,
     {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x008E, 0x008F,
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x009E, 0x0178,
      0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
      0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
      0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
      0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
      0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
      0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
      0x011E, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
      0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x0130, 0x015E, 0x00DF,
      0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
      0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
      0x011F, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
      0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0131, 0x015F, 0x00FF,
     }},
    {1255,
     {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x02C6, 0x2030, 0x008A, 0x2039, 0x008C, 0x008D, 0x008E, 0x008F,
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x02DC, 0x2122, 0x009A, 0x203A, 0x009C, 0x009D, 0x009E, 0x009F,
      0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x20AA, 0x00A5, 0x00A6, 0x00A7,
      0x00A8, 0x00A9, 0x00D7, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
      0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
      0x00B8, 0x00B9, 0x00F7, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
      0x05B0, 0x05B1, 0x05B2, 0x05B3, 0x05B4, 0x05B5, 0x05B6, 0x05B7,
      0x05B8, 0x05B9, 0x05BA, 0x05BB, 0x05BC, 0x05BD, 0x05BE, 0x05BF,
      0x05C0, 0x05C1, 0x05C2, 0x05C3, 0x05F0, 0x05F1, 0x05F2, 0x05F3,
      0x05F4, 0xF88D, 0xF88E, 0xF88F, 0xF890, 0xF891, 0xF892, 0xF893,
      0x05D0, 0x05D1, 0x05D2, 0x05D3, 0x05D4, 0x05D5, 0x05D6, 0x05D7,
      0x05D8, 0x05D9, 0x05DA, 0x05DB, 0x05DC, 0x05DD, 0x05DE, 0x05DF,
      0x05E0, 0x05E1, 0x05E2, 0x05E3, 0x05E4, 0x05E5, 0x05E6, 0x05E7,
      0x05E8, 0x05E9, 0x05EA, 0xF894, 0xF895, 0x200E, 0x200F, 0xF896,
     }},
    {1256,
     {
      0x20AC, 0x067E, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x02C6, 0x2030, 0x0679, 0x2039, 0x0152, 0x0686, 0x0698, 0x0688,
      0x06AF, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x06A9, 0x2122, 0x0691, 0x203A, 0x0153, 0x200C, 0x200D, 0x06BA,
      0x00A0, 0x060C, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
      0x00A8, 0x00A9, 0x06BE, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
      0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
      0x00B8, 0x00B9, 0x061B, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x061F,
      0x06C1, 0x0621, 0x0622, 0x0623, 0x0624, 0x0625, 0x0626, 0x0627,
      0x0628, 0x0629, 0x062A, 0x062B, 0x062C, 0x062D, 0x062E, 0x062F,
      0x0630, 0x0631, 0x0632, 0x0633, 0x0634, 0x0635, 0x0636, 0x00D7,
      0x0637, 0x0638, 0x0639, 0x063A, 0x0640, 0x0641, 0x0642, 0x0643,
      0x00E0, 0x0644, 0x00E2, 0x0645, 0x0646, 0x0647, 0x0648, 0x00E7,
      0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x0649, 0x064A, 0x00EE, 0x00EF,
      0x064B, 0x064C, 0x064D, 0x064E, 0x00F4, 0x064F, 0x0650, 0x00F7,
      0x0651, 0x00F9, 0x0652, 0x00FB, 0x00FC, 0x200E, 0x200F, 0x06D2,
     }},
    {1257,
     {
      0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,
      0x0088, 0x2030, 0x008A, 0x2039, 0x008C, 0x00A8, 0x02C7, 0x00B8,
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x0098, 0x2122, 0x009A, 0x203A, 0x009C, 0x00AF, 0x02DB, 0x009F,
      0x00A0, 0xF8FC, 0x00A2, 0x00A3, 0x00A4, 0xF8FD, 0x00A6, 0x00A7,
      0x00D8, 0x00A9, 0x0156, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00C6,
      0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
      0x00F8, 0x00B9, 0x0157, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00E6,
      0x0104, 0x012E, 0x0100, 0x0106, 0x00C4, 0x00C5, 0x0118, 0x0112,
      0x010C, 0x00C9, 0x0179, 0x0116, 0x0122, 0x0136, 0x012A, 0x013B,
      0x0160, 0x0143, 0x0145, 0x00D3, 0x014C, 0x00D5, 0x00D6, 0x00D7,
      0x0172, 0x0141, 0x015A, 0x016A, 0x00DC, 0x017B, 0x017D, 0x00DF,
      0x0105, 0x012F, 0x0101, 0x0107, 0x00E4, 0x00E5, 0x0119, 0x0113,
      0x010D, 0x00E9, 0x017A, 0x0117, 0x0123, 0x0137, 0x012B, 0x013C,
      0x0161, 0x0144, 0x0146, 0x00F3, 0x014D, 0x00F5, 0x00F6, 0x00F7,
      0x0173, 0x0142, 0x015B, 0x016B, 0x00FC, 0x017C, 0x017E, 0x02D9,
     }},
    {1258,
     {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x02C6, 0x2030, 0x008A, 0x2039, 0x0152, 0x008D, 0x008E, 0x008F,
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x02DC, 0x2122, 0x009A, 0x203A, 0x0153, 0x009D, 0x009E, 0x0178,
      0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
      0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
      0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
      0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
      0x00C0, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
      0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x0300, 0x00CD, 0x00CE, 0x00CF,
      0x0110, 0x00D1, 0x0309, 0x00D3, 0x00D4, 0x01A0, 0x00D6, 0x00D7,
      0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x01AF, 0x0303, 0x00DF,
      0x00E0, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
      0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x0301, 0x00ED, 0x00EE, 0x00EF,
      0x0111, 0x00F1, 0x0323, 0x00F3, 0x00F4, 0x01A1, 0x00F6, 0x00F7,
      0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x01B0, 0x20AB, 0x00FF,
     }},
};

// The double-byte code pages go through glibc's converters, corrected to
// Windows' tables where the two differ (compared over every character and
// every byte pair): runs of byte codes that Windows maps and glibc does not
// (mostly the user-defined areas), and characters that Windows converts to
// other bytes, or to none (0).
struct ByteRun {
    uint16_t firstCode;  // a single byte, or lead << 8 | trail
    uint16_t lastCode;
    uint16_t firstUnit;
};

struct UnitOverride {
    uint16_t unit;
    uint16_t code;
};

const ByteRun kRuns932[] = {
    {0x0080, 0x0080, 0x0080}, {0x00A0, 0x00A0, 0xF8F0}, {0x00FD, 0x00FF, 0xF8F1},
};
const UnitOverride kOverrides932[] = {
    {0x00A2, 0x0000}, {0x00A3, 0x0000}, {0x00A5, 0x0000}, {0x00AC, 0x0000}, {0x2014, 0x0000},
    {0x2016, 0x0000}, {0x203E, 0x0000}, {0x2212, 0x0000}, {0x301C, 0x0000},
};
const ByteRun kRuns936[] = {
    {0x00FF, 0x00FF, 0xF8F5}, {0xA140, 0xA17E, 0xE4C6}, {0xA180, 0xA1A0, 0xE505},
    {0xA240, 0xA27E, 0xE526}, {0xA280, 0xA2A0, 0xE565}, {0xA2AB, 0xA2B0, 0xE766},
    {0xA2E3, 0xA2E4, 0xE76C}, {0xA2EF, 0xA2F0, 0xE76E}, {0xA2FD, 0xA2FE, 0xE770},
    {0xA340, 0xA37E, 0xE586}, {0xA380, 0xA3A0, 0xE5C5}, {0xA440, 0xA47E, 0xE5E6},
    {0xA480, 0xA4A0, 0xE625}, {0xA4F4, 0xA4FE, 0xE772}, {0xA540, 0xA57E, 0xE646},
    {0xA580, 0xA5A0, 0xE685}, {0xA5F7, 0xA5FE, 0xE77D}, {0xA640, 0xA67E, 0xE6A6},
    {0xA680, 0xA6A0, 0xE6E5}, {0xA6B9, 0xA6C0, 0xE785}, {0xA6D9, 0xA6DF, 0xE78D},
    {0xA6EC, 0xA6ED, 0xE794}, {0xA6F3, 0xA6F3, 0xE796}, {0xA6F6, 0xA6FE, 0xE797},
    {0xA740, 0xA77E, 0xE706}, {0xA780, 0xA7A0, 0xE745}, {0xA7C2, 0xA7D0, 0xE7A0},
    {0xA7F2, 0xA7FE, 0xE7AF}, {0xA896, 0xA8A0, 0xE7BC}, {0xA8BC, 0xA8BC, 0xE7C7},
    {0xA8BF, 0xA8BF, 0xE7C8}, {0xA8C1, 0xA8C4, 0xE7C9}, {0xA8EA, 0xA8FE, 0xE7CD},
    {0xA958, 0xA958, 0xE7E2}, {0xA95B, 0xA95B, 0xE7E3}, {0xA95D, 0xA95F, 0xE7E4},
    {0xA989, 0xA995, 0xE7E7}, {0xA997, 0xA9A3, 0xE7F4}, {0xA9F0, 0xA9FE, 0xE801},
    {0xAAA1, 0xAAFE, 0xE000}, {0xABA1, 0xABFE, 0xE05E}, {0xACA1, 0xACFE, 0xE0BC},
    {0xADA1, 0xADFE, 0xE11A}, {0xAEA1, 0xAEFE, 0xE178}, {0xAFA1, 0xAFFE, 0xE1D6},
    {0xD7FA, 0xD7FE, 0xE810}, {0xF8A1, 0xF8FE, 0xE234}, {0xF9A1, 0xF9FE, 0xE292},
    {0xFAA1, 0xFAFE, 0xE2F0}, {0xFBA1, 0xFBFE, 0xE34E}, {0xFCA1, 0xFCFE, 0xE3AC},
    {0xFDA1, 0xFDFE, 0xE40A}, {0xFE50, 0xFE7E, 0xE815}, {0xFE80, 0xFEA0, 0xE844},
    {0xFEA1, 0xFEFE, 0xE468},
};
const ByteRun kRuns949[] = {
    {0x0080, 0x0080, 0x0080}, {0x00FF, 0x00FF, 0xF8F7}, {0xC9A1, 0xC9FE, 0xE000},
    {0xFEA1, 0xFEFE, 0xE05E},
};
const ByteRun kRuns950[] = {
    {0x00FF, 0x00FF, 0xF8F8}, {0x8140, 0x817E, 0xEEB8}, {0x81A1, 0x81FE, 0xEEF7},
    {0x8240, 0x827E, 0xEF55}, {0x82A1, 0x82FE, 0xEF94}, {0x8340, 0x837E, 0xEFF2},
    {0x83A1, 0x83FE, 0xF031}, {0x8440, 0x847E, 0xF08F}, {0x84A1, 0x84FE, 0xF0CE},
    {0x8540, 0x857E, 0xF12C}, {0x85A1, 0x85FE, 0xF16B}, {0x8640, 0x867E, 0xF1C9},
    {0x86A1, 0x86FE, 0xF208}, {0x8740, 0x877E, 0xF266}, {0x87A1, 0x87FE, 0xF2A5},
    {0x8840, 0x887E, 0xF303}, {0x88A1, 0x88FE, 0xF342}, {0x8940, 0x897E, 0xF3A0},
    {0x89A1, 0x89FE, 0xF3DF}, {0x8A40, 0x8A7E, 0xF43D}, {0x8AA1, 0x8AFE, 0xF47C},
    {0x8B40, 0x8B7E, 0xF4DA}, {0x8BA1, 0x8BFE, 0xF519}, {0x8C40, 0x8C7E, 0xF577},
    {0x8CA1, 0x8CFE, 0xF5B6}, {0x8D40, 0x8D7E, 0xF614}, {0x8DA1, 0x8DFE, 0xF653},
    {0x8E40, 0x8E7E, 0xE311}, {0x8EA1, 0x8EFE, 0xE350}, {0x8F40, 0x8F7E, 0xE3AE},
    {0x8FA1, 0x8FFE, 0xE3ED}, {0x9040, 0x907E, 0xE44B}, {0x90A1, 0x90FE, 0xE48A},
    {0x9140, 0x917E, 0xE4E8}, {0x91A1, 0x91FE, 0xE527}, {0x9240, 0x927E, 0xE585},
    {0x92A1, 0x92FE, 0xE5C4}, {0x9340, 0x937E, 0xE622}, {0x93A1, 0x93FE, 0xE661},
    {0x9440, 0x947E, 0xE6BF}, {0x94A1, 0x94FE, 0xE6FE}, {0x9540, 0x957E, 0xE75C},
    {0x95A1, 0x95FE, 0xE79B}, {0x9640, 0x967E, 0xE7F9}, {0x96A1, 0x96FE, 0xE838},
    {0x9740, 0x977E, 0xE896}, {0x97A1, 0x97FE, 0xE8D5}, {0x9840, 0x987E, 0xE933},
    {0x98A1, 0x98FE, 0xE972}, {0x9940, 0x997E, 0xE9D0}, {0x99A1, 0x99FE, 0xEA0F},
    {0x9A40, 0x9A7E, 0xEA6D}, {0x9AA1, 0x9AFE, 0xEAAC}, {0x9B40, 0x9B7E, 0xEB0A},
    {0x9BA1, 0x9BFE, 0xEB49}, {0x9C40, 0x9C7E, 0xEBA7}, {0x9CA1, 0x9CFE, 0xEBE6},
    {0x9D40, 0x9D7E, 0xEC44}, {0x9DA1, 0x9DFE, 0xEC83}, {0x9E40, 0x9E7E, 0xECE1},
    {0x9EA1, 0x9EFE, 0xED20}, {0x9F40, 0x9F7E, 0xED7E}, {0x9FA1, 0x9FFE, 0xEDBD},
    {0xA040, 0xA07E, 0xEE1B}, {0xA0A1, 0xA0FE, 0xEE5A}, {0xFA40, 0xFA7E, 0xE000},
    {0xFAA1, 0xFAFE, 0xE03F}, {0xFB40, 0xFB7E, 0xE09D}, {0xFBA1, 0xFBFE, 0xE0DC},
    {0xFC40, 0xFC7E, 0xE13A}, {0xFCA1, 0xFCFE, 0xE179}, {0xFD40, 0xFD7E, 0xE1D7},
    {0xFDA1, 0xFDFE, 0xE216}, {0xFE40, 0xFE7E, 0xE274}, {0xFEA1, 0xFEFE, 0xE2B3},
};
const UnitOverride kOverrides950[] = {
    {0x2550, 0xF9F9}, {0x255E, 0xF9E9}, {0x2561, 0xF9EB}, {0x256A, 0xF9EA},
};

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

struct LocaleCodePages {
    UINT codePage;
    const char* names;  // Windows locale names, blank-separated
};

const LocaleCodePages kLocaleCodePages[] = {
    {CP_UTF8,
     "aa aa-DJ aa-ER aa-ET agq agq-CM ak ak-GH am am-ET as as-IN asa asa-TZ ast ast-ES bas bas-CM "
     "bem bem-ZM bez bez-TZ bm bm-Latn bm-Latn-ML bn bn-BD bn-IN bo bo-CN bo-IN brx brx-IN byn "
     "byn-ER ccp ccp-Cakm ccp-Cakm-BD ccp-Cakm-IN ce ce-RU ceb ceb-Latn ceb-Latn-PH cgg cgg-UG chr "
     "chr-Cher chr-Cher-US cu cu-RU dav dav-KE de-IT dje dje-NE doi doi-Deva doi-Deva-IN dua "
     "dua-CM dv dv-MV dyo dyo-SN dz dz-BT ebu ebu-KE ee ee-GH ee-TG en-150 en-AE en-AT en-BI en-CH "
     "en-CY en-DE en-DK en-FI en-IL en-NL en-SE en-SI eo eo-001 es-BR es-BZ ewo ewo-CM ff-Adlm "
     "ff-Adlm-BF ff-Adlm-CM ff-Adlm-GH ff-Adlm-GM ff-Adlm-GN ff-Adlm-GW ff-Adlm-LR ff-Adlm-MR "
     "ff-Adlm-NE ff-Adlm-NG ff-Adlm-SL ff-Adlm-SN ff-Latn-BF ff-Latn-GH ff-Latn-GM ff-Latn-GW "
     "ff-Latn-LR ff-Latn-NE ff-Latn-SL fo-DK fur fur-IT ga-GB gu gu-IN guz guz-KE gv gv-GB gv-IM "
     "hi hi-IN hy hy-AM ia ia-001 ii ii-CN it-VA iu-Cans iu-Cans-CA jgo jgo-CM jmc jmc-TZ ka ka-GE "
     "ka-GE_modern kab kab-DZ kam kam-KE kde kde-TZ kea kea-CV kgp kgp-BR khq khq-ML ki ki-KE kk "
     "kk-KZ kkj kkj-CM kln kln-KE km km-KH kn kn-IN ko-KP kok kok-IN ks ks-Arab ks-Arab-IN ks-Deva "
     "ks-Deva-IN ksb ksb-TZ ksf ksf-CM ksh ksh-DE ku-Arab-IR kw kw-GB lag lag-TZ lg lg-UG lkt "
     "lkt-US ln ln-AO ln-CD ln-CF ln-CG lo lo-LA lrc lrc-IQ lrc-IR lu lu-CD luo luo-KE luy luy-KE "
     "mai mai-IN mas mas-KE mas-TZ mer mer-KE mfe mfe-MU mg mg-MG mgh mgh-MZ mgo mgo-CM mi mi-NZ "
     "ml ml-IN mn-Mong mn-Mong-CN mn-Mong-MN mni mni-Beng mni-IN mr mr-IN mt mt-MT mua mua-CM my "
     "my-MM mzn mzn-IR naq naq-NA nd nd-ZW nds nds-DE nds-NL ne ne-IN ne-NP nmg nmg-CM nnh nnh-CM "
     "nqo nqo-GN nr nr-ZA nus nus-SS nyn nyn-UG om om-ET om-KE or or-IN os os-GE os-RU pa pa-Guru "
     "pa-IN pcm pcm-Latn pcm-Latn-NG ps ps-AF ps-PK pt-CH pt-GQ pt-LU rn rn-BI rof rof-TZ rwk "
     "rwk-TZ sa sa-IN saq saq-KE sat sat-Olck sat-Olck-IN sbp sbp-TZ sc sc-IT sd-Deva sd-Deva-IN "
     "seh seh-MZ ses ses-ML sg sg-CF shi shi-Latn shi-Latn-MA shi-Tfng shi-Tfng-MA si si-LK sn "
     "sn-Latn sn-Latn-ZW so so-DJ so-ET so-KE so-SO ss ss-SZ ss-ZA ssy ssy-ER st st-LS st-ZA su "
     "su-Latn su-Latn-ID syr syr-SY ta ta-IN ta-LK ta-MY ta-SG te te-IN teo teo-KE teo-UG ti ti-ER "
     "ti-ET tig tig-ER to to-TO ts ts-ZA twq twq-NE tzm-Latn-MA uz-Arab uz-Arab-AF vai vai-Latn "
     "vai-Latn-LR vai-Vaii vai-Vaii-LR ve ve-ZA vo vo-001 vun vun-TZ wae wae-CH wal wal-ET xog "
     "xog-UG yav yav-CM yi yi-001 yrl yrl-BR yrl-CO yrl-VE yue yue-Hans yue-Hans-CN yue-Hant "
     "yue-Hant-HK zgh zgh-Tfng zgh-Tfng-MA"},
    {874,
     "th th-TH"},
    {932,
     "ja ja-JP ja-JP_radstr"},
    {936,
     "zh zh-CN zh-CN_phoneb zh-CN_stroke zh-Hans zh-Hans-HK zh-Hans-MO zh-SG zh-SG_phoneb "
     "zh-SG_stroke"},
    {949,
     "ko ko-KR"},
    {950,
     "zh-Hant zh-HK zh-HK_radstr zh-MO zh-MO_radstr zh-MO_stroke zh-TW zh-TW_pronun zh-TW_radstr"},
    {1250,
     "bs bs-Latn bs-Latn-BA cs cs-CZ hr hr-BA hr-HR hu hu-HU hu-HU_technl pl pl-PL ro ro-MD ro-RO "
     "sk sk-SK sl sl-SI sq sq-AL sq-MK sq-XK sr sr-Latn sr-Latn-BA sr-Latn-ME sr-Latn-RS "
     "sr-Latn-XK tk tk-TM"},
    {1251,
     "az-Cyrl az-Cyrl-AZ ba ba-RU be be-BY bg bg-BG bs-Cyrl bs-Cyrl-BA ky ky-KG mk mk-MK mn "
     "mn-Cyrl mn-MN ru ru-BY ru-KG ru-KZ ru-MD ru-RU ru-UA sah sah-RU sr-Cyrl sr-Cyrl-BA "
     "sr-Cyrl-ME sr-Cyrl-RS sr-Cyrl-XK tg tg-Cyrl tg-Cyrl-TJ tt tt-RU uk uk-UA uz-Cyrl uz-Cyrl-UZ"},
    {1253,
     "el el-CY el-GR"},
    {1254,
     "az az-Latn az-Latn-AZ tr tr-CY tr-TR uz uz-Latn uz-Latn-UZ"},
    {1255,
     "he he-IL"},
    {1256,
     "ar ar-001 ar-AE ar-BH ar-DJ ar-DZ ar-EG ar-EH ar-ER ar-IL ar-IQ ar-JO ar-KM ar-KW ar-LB "
     "ar-LY ar-MA ar-MR ar-OM ar-PS ar-QA ar-SA ar-SD ar-SO ar-SS ar-SY ar-TD ar-TN ar-YE fa fa-IR "
     "ku ku-Arab ku-Arab-IQ pa-Arab pa-Arab-PK prs prs-AF sd sd-Arab sd-Arab-PK ug ug-CN ur ur-IN "
     "ur-PK"},
    {1257,
     "et et-EE lt lt-LT lv lv-LV"},
    {1258,
     "vi vi-VN"},
};

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
    std::strncpy(out, text != nullptr ? text : "", capacity - 1);
    out[capacity - 1] = 0;
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
    if (path == nullptr) return ERROR_INVALID_PARAMETER;
    if (path[0] == 0) return ERROR_PATH_NOT_FOUND;
    const WCHAR* p = path;
    if (IsSeparator(p[0]) && IsSeparator(p[1])) {
        // "\\?\X:\..." and "\\.\X:\..." name a drive path; anything else is a
        // network name, which no drive here serves.
        if ((p[2] == '?' || p[2] == '.') && IsSeparator(p[3]) && IsAsciiLetter(p[4]) && p[5] == ':')
            p += 4;
        else
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
        if (parts->length[last] == 0) RemoveLastPart(parts);
    }
    return 0;
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
    DIR* directory = opendir(folder);
    if (directory == nullptr) return false;
    bool matched = false;
    while (struct dirent* entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        WCHAR wide[NAME_UNITS];
        size_t units = UnixToWide(entry->d_name, std::strlen(entry->d_name), wide, NAME_UNITS);
        if (units >= NAME_UNITS) continue;
        matched = EqualNoCase(wide, units, name, length);
        if (!matched && !IsLegalShortName(wide, units)) {
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
        // A colon names a stream of a file, which no Unix file has.
        for (size_t k = 0; k < length; ++k)
            if (name[k] == ':') return last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
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

// The Unix path of a whole DOS path whose last name must exist.
DWORD ResolveExisting(const WCHAR* path, PathParts* parts, char* out, size_t capacity) {
    DWORD error = ParseDosPath(path, parts);
    if (error != 0) return error;
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
    char folder[UNIX_PATH_BYTES];
    bool missing = false;
    if (error == 0) error = ResolveParts(parts, parts->count - 1, folder, sizeof folder, &missing);
    if (error == ERROR_FILE_NOT_FOUND) error = ERROR_PATH_NOT_FOUND;
    if (error == 0 && (missing || !IsDirectory(folder)))
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
    if (!HasWildcard(mask, maskLength) && WideToUnix(mask, maskLength, exact, sizeof exact) &&
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
    DWORD error = ResolveExisting(path, parts, unixPath, sizeof unixPath);
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
    WCHAR* wide = WidenAnsi(path);
    if (wide == nullptr) {
        sLastError = path == nullptr ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY;
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD result = GetFileAttributesW(wide);
    std::free(wide);
    return result;
}

// Deleting a file: never a folder, never a read-only file (even where the
// process could), and a link is removed itself, never its target.
BOOL DeleteFileW(const WCHAR* path) {
    PathParts* parts = static_cast<PathParts*>(std::malloc(sizeof(PathParts)));
    if (parts == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    char unixPath[UNIX_PATH_BYTES];
    DWORD error = ResolveExisting(path, parts, unixPath, sizeof unixPath);
    if (error == 0 && parts->count == 0) error = ERROR_ACCESS_DENIED;
    struct stat target;
    if (error == 0 && stat(unixPath, &target) != 0) error = ERROR_FILE_NOT_FOUND;
    if (error == 0 && S_ISDIR(target.st_mode)) error = ERROR_ACCESS_DENIED;
    if (error == 0 && parts->trailingSeparator) error = ERROR_INVALID_NAME;
    if (error == 0 && (target.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) error = ERROR_ACCESS_DENIED;
    if (error == 0 && unlink(unixPath) != 0) error = ErrorFromErrno(errno);
    std::free(parts);
    return error != 0 ? Fail(error) : TRUE;
}

BOOL DeleteFileA(const char* path) {
    WCHAR* wide = WidenAnsi(path);
    if (wide == nullptr) return Fail(path == nullptr ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
    BOOL result = DeleteFileW(wide);
    std::free(wide);
    return result;
}

// Removing an empty folder; a link to a folder is removed itself.
BOOL RemoveDirectoryW(const WCHAR* path) {
    PathParts* parts = static_cast<PathParts*>(std::malloc(sizeof(PathParts)));
    if (parts == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    char unixPath[UNIX_PATH_BYTES];
    DWORD error = ResolveExisting(path, parts, unixPath, sizeof unixPath);
    if (error == 0 && parts->count == 0) error = ERROR_ACCESS_DENIED;
    struct stat own, target;
    if (error == 0 && (lstat(unixPath, &own) != 0 || stat(unixPath, &target) != 0))
        error = ERROR_FILE_NOT_FOUND;
    if (error == 0 && !S_ISDIR(target.st_mode)) error = POSIX_ERROR_DIRECTORY;
    if (error == 0) {
        int result = S_ISLNK(own.st_mode) ? unlink(unixPath) : rmdir(unixPath);
        if (result != 0) error = errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ErrorFromErrno(errno);
    }
    std::free(parts);
    return error != 0 ? Fail(error) : TRUE;
}

BOOL RemoveDirectoryA(const char* path) {
    WCHAR* wide = WidenAnsi(path);
    if (wide == nullptr) return Fail(path == nullptr ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
    BOOL result = RemoveDirectoryW(wide);
    std::free(wide);
    return result;
}

// Moving never replaces: an existing target fails, unless it is the source
// itself under another case (then nothing changes, as in Wine).
BOOL MoveFileW(const WCHAR* existing, const WCHAR* target) {
    PathParts* parts = static_cast<PathParts*>(std::malloc(sizeof(PathParts)));
    if (parts == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    char from[UNIX_PATH_BYTES], to[UNIX_PATH_BYTES];
    struct stat source, other;
    DWORD error = ResolveExisting(existing, parts, from, sizeof from);
    if (error == 0 && parts->count == 0) error = ERROR_ACCESS_DENIED;
    if (error == 0 && (lstat(from, &source) != 0 || (S_ISLNK(source.st_mode) && stat(from, &other) != 0)))
        error = ERROR_FILE_NOT_FOUND;
    bool missing = false;
    if (error == 0) error = ParseDosPath(target, parts);
    if (error == 0) error = ResolveParts(parts, parts->count, to, sizeof to, &missing);
    if (error == 0 && !missing) {
        if (lstat(to, &other) == 0 && other.st_dev == source.st_dev && other.st_ino == source.st_ino) {
            std::free(parts);
            return TRUE;
        }
        error = ERROR_ALREADY_EXISTS;
    }
    if (error == 0 && rename(from, to) != 0) {
        if (errno == EXDEV) {
            if (!S_ISREG(source.st_mode))
                error = ERROR_ACCESS_DENIED;
            else if (!CopyAcross(from, to) || unlink(from) != 0)
                error = ErrorFromErrno(errno);
            else
                sLastError = 0;
        } else {
            error = ErrorFromErrno(errno);
        }
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
                                       : ResolveExisting(wide, parts, folder, sizeof folder);
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
// _getch: one key from the console, which is standard input when that is a
// terminal (Wine gives -1, end of file, for any other standard input). The
// terminal is raw and silent while a key is read, and as it was after.

namespace {

int sPendingKey = -1;  // the second code of a two-code key

int ReadTerminalByte() {
    for (;;) {
        unsigned char byte;
        ssize_t got = read(STDIN_FILENO, &byte, 1);
        if (got == 1) return byte;
        if (got < 0 && errno == EINTR) continue;
        return -1;
    }
}

// The scan code Windows gives an editing key after the prefix 224.
int EditingKey(int final, int number, bool control) {
    switch (final) {
        case 'A': return control ? 141 : 72;  // up
        case 'B': return control ? 145 : 80;  // down
        case 'C': return control ? 116 : 77;  // right
        case 'D': return control ? 115 : 75;  // left
        case 'H': return control ? 119 : 71;  // home
        case 'F': return control ? 117 : 79;  // end
        default: break;
    }
    if (final != '~') return 0;
    switch (number) {
        case 1:
        case 7: return control ? 119 : 71;
        case 2: return control ? 146 : 82;  // insert
        case 3: return control ? 147 : 83;  // delete
        case 4:
        case 8: return control ? 117 : 79;
        case 5: return control ? 134 : 73;  // page up
        case 6: return control ? 118 : 81;  // page down
        default: return 0;                  // function keys give nothing, as in Wine
    }
}

// After ESC: a second ESC is the Esc key, "[" or "O" starts a key's escape
// sequence, anything else is that key with Alt. Returns -2 for a sequence
// that gives no key.
int ReadEscapeKey() {
    int next = ReadTerminalByte();
    if (next < 0) return -1;
    if (next == 0x1B) return 27;
    if (next != '[' && next != 'O') return next == 0x7F ? 8 : next;
    int number = 0, modifier = 0, field = 0;
    int final = ReadTerminalByte();
    while (final >= 0 && ((final >= '0' && final <= '9') || final == ';')) {
        if (final == ';') {
            ++field;
        } else if (field == 0) {
            number = number * 10 + (final - '0');
        } else if (field == 1) {
            modifier = modifier * 10 + (final - '0');
        }
        final = ReadTerminalByte();
    }
    if (final < 0) return -1;
    if (next == '[' && final == 'Z') return 9;  // shift+tab
    int code = EditingKey(final, number, modifier == 5);
    if (code == 0) return -2;
    sPendingKey = code;
    return 224;
}

// A character beyond ASCII: its first byte in the ANSI code page ('?' when
// the page lacks it); a double-byte character gives its second byte next.
int ReadCharacterKey(int lead) {
    ReadLocale();
    if (sLocale.charset != CHARSET_UTF8 || lead < 0xC2 || lead > 0xF4) return (int)(signed char)lead;
    unsigned char bytes[4] = {(unsigned char)lead, 0, 0, 0};
    int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    for (int i = 1; i < length; ++i) {
        int byte = ReadTerminalByte();
        if (byte < 0) return -1;
        bytes[i] = (unsigned char)byte;
    }
    WCHAR units[2];
    size_t count = DecodeUtf8(reinterpret_cast<const char*>(bytes), (size_t)length, units, 2, nullptr);
    char out[4];
    int written = WideCharToMultiByte(CP_ACP, 0, units, count > 2 ? 2 : (int)count, out, sizeof out, "?",
                                      nullptr);
    if (written <= 0 || count != 1) return '?';
    if (written == 2) sPendingKey = (int)(signed char)out[1];
    return (int)(signed char)out[0];
}

int ReadKey() {
    for (;;) {
        int byte = ReadTerminalByte();
        if (byte < 0) return -1;
        if (byte == 0) continue;  // Ctrl+Space gives no character
        if (byte == 0x1B) {
            int key = ReadEscapeKey();
            if (key == -2) continue;
            return key;
        }
        if (byte == 0x7F) return 8;
        if (byte >= 0x80) return ReadCharacterKey(byte);
        return byte;
    }
}

}  // namespace

int _getch(void) {
    if (sPendingKey != -1) {
        int key = sPendingKey;
        sPendingKey = -1;
        return key;
    }
    if (!isatty(STDIN_FILENO)) return -1;
    struct termios saved;
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return -1;
    struct termios raw = saved;
    raw.c_lflag &= (tcflag_t) ~(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= (tcflag_t) ~(IXON | ICRNL | INLCR | IGNCR);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    int key = ReadKey();
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return key;
}

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

struct Spec {
    bool left, plus, space, alternate, zero;
    long width;
    long precision;  // -1: none
};

// Puts prefix and body, padded to the width. Zeros go between the two.
void PutField(Sink* sink, const Spec& spec, const char* prefix, const WCHAR* body, size_t bodyLength,
              bool zeroPad) {
    size_t prefixLength = std::strlen(prefix);
    long padding = spec.width - (long)(prefixLength + bodyLength);
    if (!spec.left && !zeroPad) PutRepeated(sink, ' ', padding);
    for (size_t i = 0; i < prefixLength; ++i) Put(sink, (WCHAR)prefix[i]);
    if (!spec.left && zeroPad) PutRepeated(sink, '0', padding);
    for (size_t i = 0; i < bodyLength; ++i) Put(sink, body[i]);
    if (spec.left) PutRepeated(sink, ' ', padding);
}

void PutNarrowField(Sink* sink, const Spec& spec, const char* prefix, const char* body, bool zeroPad) {
    WCHAR wide[128];
    size_t n = 0;
    for (; body[n] != 0 && n < sizeof wide / sizeof wide[0]; ++n) wide[n] = (WCHAR)(unsigned char)body[n];
    PutField(sink, spec, prefix, wide, n, zeroPad);
}

void PutInteger(Sink* sink, const Spec& spec, uint64_t magnitude, bool negative, int base, bool upper,
                const char* alternatePrefix) {
    char digits[72];
    size_t n = 0;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    while (magnitude != 0) {
        digits[n++] = set[magnitude % (uint64_t)base];
        magnitude /= (uint64_t)base;
    }
    long minimum = spec.precision < 0 ? 1 : spec.precision;
    char body[80];
    size_t b = 0;
    for (long i = (long)n; i < minimum && b < 64; ++i) body[b++] = '0';
    while (n > 0) body[b++] = digits[--n];
    body[b] = 0;
    char prefix[4] = {0};
    if (negative)
        prefix[0] = '-';
    else if (spec.plus)
        prefix[0] = '+';
    else if (spec.space)
        prefix[0] = ' ';
    if (alternatePrefix != nullptr && b > 0 && !(b == 1 && body[0] == '0') && spec.alternate)
        std::strcat(prefix, alternatePrefix);
    PutNarrowField(sink, spec, prefix, body, spec.zero && spec.precision < 0);
}

// A double in the runtime's form: three exponent digits.
void PutFloat(Sink* sink, const Spec& spec, double value, char conversion) {
    char format[16], text[512];
    size_t f = 0;
    format[f++] = '%';
    if (spec.alternate) format[f++] = '#';
    format[f++] = '.';
    format[f++] = '*';
    format[f++] = conversion;
    format[f] = 0;
    std::snprintf(text, sizeof text, format, (int)(spec.precision < 0 ? 6 : spec.precision),
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
    const char* prefix = negative ? "-" : spec.plus ? "+" : spec.space ? " " : "";
    PutNarrowField(sink, spec, prefix, fixed, spec.zero);
}

void PutNarrowString(Sink* sink, const Spec& spec, const char* text) {
    if (text == nullptr) text = "(null)";
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    WCHAR* wide = n > 0 ? static_cast<WCHAR*>(std::malloc((size_t)n * sizeof(WCHAR))) : nullptr;
    if (wide == nullptr) return;
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide, n);
    size_t length = (size_t)n - 1;
    if (spec.precision >= 0 && (size_t)spec.precision < length) length = (size_t)spec.precision;
    PutField(sink, spec, "", wide, length, false);
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
        Spec spec = {false, false, false, false, false, 0, -1};
        for (;; ++p) {
            if (*p == '-') spec.left = true;
            else if (*p == '+') spec.plus = true;
            else if (*p == ' ') spec.space = true;
            else if (*p == '#') spec.alternate = true;
            else if (*p == '0') spec.zero = true;
            else break;
        }
        if (*p == '*') {
            spec.width = va_arg(args, int);
            if (spec.width < 0) {
                spec.left = true;
                spec.width = -spec.width;
            }
            ++p;
        } else {
            while (*p >= '0' && *p <= '9') spec.width = spec.width * 10 + (*p++ - '0');
        }
        if (*p == '.') {
            ++p;
            spec.precision = 0;
            if (*p == '*') {
                spec.precision = va_arg(args, int);
                if (spec.precision < 0) spec.precision = -1;
                ++p;
            } else {
                while (*p >= '0' && *p <= '9') spec.precision = spec.precision * 10 + (*p++ - '0');
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
                PutInteger(sink, spec, magnitude, value < 0, 10, false, nullptr);
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
                Spec unsignedSpec = spec;
                unsignedSpec.plus = unsignedSpec.space = false;
                PutInteger(sink, unsignedSpec, value, false, base, conversion == 'X', prefix);
                break;
            }
            case 'p': {
                Spec pointerSpec = spec;
                pointerSpec.precision = (long)(2 * sizeof(void*));
                pointerSpec.plus = pointerSpec.space = pointerSpec.alternate = false;
                PutInteger(sink, pointerSpec, (uint64_t)(uintptr_t)va_arg(args, void*), false, 16, true, nullptr);
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
                PutField(sink, spec, "", &ch, 1, false);
                break;
            }
            case 's':
            case 'S': {
                if ((conversion == 'S' && !wideText) || (conversion == 's' && narrowText)) {
                    PutNarrowString(sink, spec, va_arg(args, const char*));
                    break;
                }
                const WCHAR* text = va_arg(args, const WCHAR*);
                if (text == nullptr) text = kNull;
                size_t length = 0;
                while (text[length] != 0 && (spec.precision < 0 || (long)length < spec.precision)) ++length;
                PutField(sink, spec, "", text, length, false);
                break;
            }
            case 'e':
            case 'E':
            case 'f':
            case 'g':
            case 'G':
                PutFloat(sink, spec, va_arg(args, double), (char)conversion);
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
    sChosen.drive = 0;
    sLocale.known = false;
    if (sLocale.toWide != (iconv_t)-1) iconv_close(sLocale.toWide);
    if (sLocale.fromWide != (iconv_t)-1) iconv_close(sLocale.fromWide);
    sLocale.toWide = sLocale.fromWide = (iconv_t)-1;
    sPendingKey = -1;
}
