// Index lists: "2,5,7-9" names entries 2, 5, 7, 8 and 9 of the listing.
// An argument whose leading digits are followed by anything but ',' or '-'
// is one number, the rest ignored ("12abc" is 12), as it has always been.
#include "ops/ops.h"

#include <climits>

namespace {

bool IsDigit(WCHAR ch) { return ch >= '0' && ch <= '9'; }

// The decimal number at *cursor, moved past its digits; values past 32 bits
// read as INT32_MAX (out of every range). False when no digit is there.
bool ReadNumber(const WCHAR** cursor, int32_t* value) {
    const WCHAR* at = *cursor;
    if (!IsDigit(*at)) return false;
    int64_t number = 0;
    for (; IsDigit(*at); ++at) {
        number = number * 10 + (*at - '0');
        if (number > INT32_MAX) number = INT32_MAX;
    }
    *value = (int32_t)number;
    *cursor = at;
    return true;
}

}  // namespace

bool IsIndexList(const WCHAR* text) {
    if (text == nullptr || !IsDigit(*text)) return false;
    while (IsDigit(*text)) ++text;
    return *text == ',' || *text == '-';
}

IndexListStep NextIndexRange(const WCHAR** cursor, int32_t* low, int32_t* high) {
    const WCHAR* at = *cursor;
    if (*at == 0) return INDEX_LIST_END;
    if (!ReadNumber(&at, low)) return INDEX_LIST_BAD;
    *high = *low;
    if (*at == '-') {
        ++at;
        if (!ReadNumber(&at, high) || *high < *low) return INDEX_LIST_BAD;
    }
    if (*at == ',') {
        ++at;
        if (*at == 0) return INDEX_LIST_BAD;  // "1,"
    } else if (*at != 0) {
        return INDEX_LIST_BAD;
    }
    *cursor = at;
    return INDEX_LIST_RANGE;
}

bool IndexListNamesSeveral(const WCHAR* text) {
    if (!IsIndexList(text)) return false;
    int32_t first = 0, low = 0, high = 0;
    bool seen = false;
    IndexListStep step;
    while ((step = NextIndexRange(&text, &low, &high)) == INDEX_LIST_RANGE) {
        if (!seen) first = low;
        seen = true;
        if (low != first || high != first) return true;
    }
    return false;
}

SelectResult SelectEntryPositions(const WCHAR* text, int32_t single, int32_t count,
                                  PositionArray* positions) {
    if (!IsIndexList(text)) {
        if (single <= 0 || single > count) return SELECT_OUT_OF_RANGE;
        return positions->Add(single - 1) >= 0 ? SELECT_OK : SELECT_NO_MEMORY;
    }
    // Every number is checked before any is taken, so that a bad one
    // anywhere leaves the run with nothing chosen.
    ByteArray chosen;
    for (int32_t i = 0; i < count; ++i)
        if (chosen.Add(0) < 0) return SELECT_NO_MEMORY;
    int32_t low = 0, high = 0;
    IndexListStep step;
    while ((step = NextIndexRange(&text, &low, &high)) == INDEX_LIST_RANGE) {
        if (low <= 0 || high > count) return SELECT_OUT_OF_RANGE;
        for (int32_t n = low; n <= high; ++n) chosen.storage[n - 1] = 1;
    }
    if (step == INDEX_LIST_BAD) return SELECT_OUT_OF_RANGE;
    for (int32_t i = 0; i < count; ++i)
        if (chosen.At(i) != 0 && positions->Add(i) < 0) return SELECT_NO_MEMORY;
    return SELECT_OK;
}
