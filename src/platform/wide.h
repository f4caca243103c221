// Small helpers on zero-terminated wide (UTF-16) strings. The same code
// serves both builds, so wchar_t's size never matters.
#ifndef DUSTPAIL_PLATFORM_WIDE_H
#define DUSTPAIL_PLATFORM_WIDE_H

#include <cstdint>

#include "platform/sysapi.h"

size_t WideLength(const WCHAR* text);
// A new heap copy (MemAlloc), or null when memory runs out or text is null.
WCHAR* WideDuplicate(const WCHAR* text);
// A new heap string of the first `count` characters of text.
WCHAR* WideDuplicateCount(const WCHAR* text, size_t count);
// The last (or first) occurrence of ch, or null.
const WCHAR* WideFindLast(const WCHAR* text, WCHAR ch);
const WCHAR* WideFindFirst(const WCHAR* text, WCHAR ch);
// Compares, folding A-Z to a-z only (the rule of the store's path match).
int WideCompareAsciiNoCase(const WCHAR* a, const WCHAR* b);
// Two byte strings equal but for the case of A-Z (bytes above 0x7F exact).
bool AnsiEqualsNoCase(const char* a, const char* b);
int WideCompare(const WCHAR* a, const WCHAR* b);
// Decimal value of the leading digits, in the manner of wcstol base 10:
// leading blanks and a sign allowed, the rest ignored, clamped to the
// 32-bit signed range.
long WideToLong(const WCHAR* text);
// Appends src to dst (capacity in characters, terminator included).
// Returns false, leaving dst unchanged, when the result would not fit.
bool WideAppend(WCHAR* dst, size_t capacity, const WCHAR* src);
// Copies src to dst; false (dst unchanged) when it does not fit.
bool WideCopy(WCHAR* dst, size_t capacity, const WCHAR* src);
inline WCHAR WideLowerAscii(WCHAR ch) { return (ch >= 'A' && ch <= 'Z') ? (WCHAR)(ch + 32) : ch; }
inline WCHAR WideUpperAscii(WCHAR ch) { return (ch >= 'a' && ch <= 'z') ? (WCHAR)(ch - 32) : ch; }
// Upper case of one unit by the system's table, as file names compare.
WCHAR WideUpcase(WCHAR ch);
// Whether a name matches a mask of '*' and '?' as the system's folder
// search matches names, without regard to case.
bool WildcardMatch(const WCHAR* name, size_t nameLength, const WCHAR* mask, size_t maskLength);
// Both separate the names of a path, as the system reads it.
inline bool IsPathSeparator(WCHAR ch) { return ch == '\\' || ch == '/'; }
inline bool IsDriveLetter(WCHAR ch) { return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'); }
// The halves of a character beyond the BMP.
inline bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

#endif
