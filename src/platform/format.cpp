// Text conversions between UTF-16 and the ANSI code page, and bounded wide
// formatting.
#include <cstdarg>
#include <cstring>

#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"

namespace {

// Every character without an exact mapping becomes '#'. Without
// WC_NO_BEST_FIT_CHARS Windows maps look-alikes instead (a full-width
// asterisk to '*', a full-width backslash to '\'), which would turn a name
// into a wildcard or another path.
const char DEFAULT_CHAR[] = "#";

DWORD NarrowingFlags() {
    // UTF-8 as the ANSI code page accepts neither flag nor default character.
    return FsCodePage() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
}

const char* DefaultChar() { return FsCodePage() == CP_UTF8 ? nullptr : DEFAULT_CHAR; }

}  // namespace

char* WideToAnsiAlloc(const WCHAR* text) {
    int n = gSys.wideCharToMultiByte(CP_ACP, NarrowingFlags(), text, -1, nullptr, 0, DefaultChar(),
                                nullptr);
    if (n <= 0) return nullptr;
    char* bytes = static_cast<char*>(MemAlloc((size_t)n));
    if (bytes == nullptr) return nullptr;
    bytes[n - 1] = 0;
    if (gSys.wideCharToMultiByte(CP_ACP, NarrowingFlags(), text, -1, bytes, n, DefaultChar(),
                            nullptr) <= 0) {
        MemFree(bytes);
        return nullptr;
    }
    return bytes;
}

bool IsExactAnsi(const WCHAR* text, const char* ansi) {
    WCHAR* back = AnsiToWideAlloc(ansi);
    bool exact = back != nullptr && WideCompare(back, text) == 0;
    MemFree(back);
    return exact;
}

char* WideToAnsiExactAlloc(const WCHAR* text) {
    char* bytes = WideToAnsiAlloc(text);
    if (bytes == nullptr || IsExactAnsi(text, bytes)) return bytes;
    MemFree(bytes);
    FsSetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return nullptr;
}

WCHAR* AnsiToWideAlloc(const char* text) {
    int n = gSys.multiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0) return nullptr;
    WCHAR* wide = static_cast<WCHAR*>(MemAlloc(sizeof(WCHAR) * (size_t)n));
    if (wide == nullptr) return nullptr;
    wide[n - 1] = 0;
    if (gSys.multiByteToWideChar(CP_ACP, 0, text, -1, wide, n) <= 0) {
        MemFree(wide);
        return nullptr;
    }
    return wide;
}

int AnsiToWideBuffer(WCHAR* buffer, int capacity, const char* text) {
    int r = gSys.multiByteToWideChar(CP_ACP, 0, text, -1, buffer, capacity);
    return r > 0 ? r - 1 : -1;
}

int WideToAnsiBuffer(char* buffer, int capacity, const WCHAR* text) {
    int r = gSys.wideCharToMultiByte(CP_ACP, NarrowingFlags(), text, -1, buffer, capacity,
                                DefaultChar(), nullptr);
    return r > 0 ? r - 1 : 0;
}

int WideToAnsiUnits(const WCHAR* text, int count, char* buffer, int capacity) {
    if (count <= 0) return 0;
    int r = gSys.wideCharToMultiByte(CP_ACP, NarrowingFlags(), text, count, buffer, capacity,
                                DefaultChar(), nullptr);
    return r > 0 ? r : 0;
}

size_t CopyWideTerminated(WCHAR* dst, size_t n, const WCHAR* src) {
    if (n == 0) return 0;
    size_t i = 0;
    for (; i < n && src[i] != 0; ++i) dst[i] = src[i];
    for (; i < n; ++i) dst[i] = 0;
    dst[n - 1] = 0;
    return WideLength(dst);
}

int FormatWideV(WCHAR* buffer, size_t capacity, const WCHAR* format, va_list args) {
    if (capacity == 0) return -1;
    va_list copy;
    va_copy(copy, args);
    int n = _vsnwprintf(buffer, capacity, format, copy);
    va_end(copy);
    // The runtime leaves the buffer unterminated when the text fills it.
    if (n < 0 || (size_t)n >= capacity) {
        buffer[0] = 0;
        return -1;
    }
    buffer[n] = 0;
    return n;
}

int FormatWide(WCHAR* buffer, size_t capacity, const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    int n = FormatWideV(buffer, capacity, format, args);
    va_end(args);
    return n;
}

int CountWideV(const WCHAR* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = _vscwprintf(format, copy);
    va_end(copy);
    return n;
}
