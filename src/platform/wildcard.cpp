// Matching a name against a mask with the system's wildcards.
#include "platform/wide.h"

namespace {

// ASCII is folded here, as every case table folds it; only other
// characters need the system's table. Each name of a big folder is matched.
WCHAR Fold(WCHAR ch) {
    if (ch >= 0x80) return WideUpcase(ch);
    return ch >= 'a' && ch <= 'z' ? (WCHAR)(ch - 'a' + 'A') : ch;
}

}  // namespace

// Wine's match: a '*' skips to the next character equal to the one after it
// and retries one further on after a mismatch; a '?' takes any one
// character. Once the name is used up, trailing '.' and '*' of the mask
// are ignored. (So "a*?" matches nothing and "*." matches every name.)
bool WildcardMatch(const WCHAR* name, size_t nameLength, const WCHAR* mask, size_t maskLength) {
    const WCHAR* nameEnd = name + nameLength;
    const WCHAR* maskEnd = mask + maskLength;
    const WCHAR* afterStar = nullptr;
    const WCHAR* retry = nullptr;
    while (name < nameEnd && mask < maskEnd) {
        if (*mask == '*') {
            while (mask < maskEnd && *mask == '*') ++mask;
            if (mask == maskEnd) return true;
            afterStar = mask;
            while (name < nameEnd && Fold(*name) != Fold(*mask)) ++name;
            retry = name;
        } else if (*mask == '?') {
            ++mask;
            ++name;
        } else if (Fold(*mask) == Fold(*name)) {
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
