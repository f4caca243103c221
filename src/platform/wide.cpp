#include "platform/wide.h"

#include <climits>
#include <cstring>

#include "platform/memory.h"

size_t WideLength(const WCHAR* text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

WCHAR* WideDuplicateCount(const WCHAR* text, size_t count) {
    if (text == nullptr) return nullptr;
    WCHAR* copy = static_cast<WCHAR*>(MemAlloc((count + 1) * sizeof(WCHAR)));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, text, count * sizeof(WCHAR));
    copy[count] = 0;
    return copy;
}

WCHAR* WideDuplicate(const WCHAR* text) {
    if (text == nullptr) return nullptr;
    return WideDuplicateCount(text, WideLength(text));
}

const WCHAR* WideFindLast(const WCHAR* text, WCHAR ch) {
    const WCHAR* found = nullptr;
    for (; *text != 0; ++text)
        if (*text == ch) found = text;
    return found;
}

const WCHAR* WideFindFirst(const WCHAR* text, WCHAR ch) {
    for (; *text != 0; ++text)
        if (*text == ch) return text;
    return nullptr;
}

bool AnsiEqualsNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (WideLowerAscii((uint8_t)*a) != WideLowerAscii((uint8_t)*b)) return false;
        if (*a == 0) return true;
    }
}

int WideCompareAsciiNoCase(const WCHAR* a, const WCHAR* b) {
    for (;; ++a, ++b) {
        WCHAR ca = WideLowerAscii(*a), cb = WideLowerAscii(*b);
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
    }
}

int WideCompare(const WCHAR* a, const WCHAR* b) {
    for (;; ++a, ++b) {
        if (*a != *b) return *a < *b ? -1 : 1;
        if (*a == 0) return 0;
    }
}

long WideToLong(const WCHAR* text) {
    while (*text == ' ' || (*text >= 9 && *text <= 13)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = (*text++ == '-');
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > (long long)INT_MAX + 1) value = (long long)INT_MAX + 1;
    }
    if (negative) return value > (long long)INT_MAX + 1 ? INT_MIN : (long)-value;
    return value > INT_MAX ? INT_MAX : (long)value;
}

bool WideAppend(WCHAR* dst, size_t capacity, const WCHAR* src) {
    size_t have = WideLength(dst), add = WideLength(src);
    if (have + add + 1 > capacity) return false;
    std::memcpy(dst + have, src, (add + 1) * sizeof(WCHAR));
    return true;
}

bool WideCopy(WCHAR* dst, size_t capacity, const WCHAR* src) {
    size_t n = WideLength(src);
    if (n + 1 > capacity) return false;
    std::memcpy(dst, src, (n + 1) * sizeof(WCHAR));
    return true;
}
