// The Windows C runtime's wide formatting (_vsnwprintf, _vscwprintf) on
// the POSIX backend.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/sysapi.h"

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
    static const WCHAR NULL_TEXT[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
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
                if (text == nullptr) text = NULL_TEXT;
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
