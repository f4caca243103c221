// Pieces of the POSIX backend (src/platform/posix) that the unit tests reach
// directly. The program itself uses only the names of sysapi.h.
#ifndef DUSTPAIL_PLATFORM_OS_POSIX_H
#define DUSTPAIL_PLATFORM_OS_POSIX_H

#ifndef _WIN32

#include "platform/sysapi.h"

// Simple case mapping of one UTF-16 unit, by Wine's table.
WCHAR PosixUpcase(WCHAR ch);
WCHAR PosixDowncase(WCHAR ch);
// Wine's directory mask match: '*' and '?', without regard to case; once the
// name is used up, trailing '.' and '*' of the mask match nothing.
bool PosixMatchMask(const WCHAR* name, const WCHAR* mask);
// The generated 8.3 name of a long name into buffer (13 units with the
// terminator); 0 and an empty buffer when the name is a legal 8.3 name.
size_t PosixShortName(const WCHAR* name, WCHAR* buffer);
// The ANSI code page that Wine gives a system whose locale is `localeName`
// (a Unix locale name such as "ja_JP.UTF-8").
UINT PosixCodePageForLocale(const char* localeName);
// Forgets the drive table, the drive chosen by _chdrive and the code page,
// so that they are read again (tests change WINEPREFIX and the locale).
void PosixResetState(void);

#endif

#endif
