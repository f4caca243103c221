// The program's wide argument vector.
#ifndef DUSTPAIL_PLATFORM_ENTRY_H
#define DUSTPAIL_PLATFORM_ENTRY_H

#include "platform/sysapi.h"

// The arguments as wide strings: on Windows the wide command line as the
// runtime splits it (the narrow vector, widened from the ANSI code page, only
// where the system has no wide functions); on POSIX argv decoded from the
// locale's character set. Null when memory runs out. Release with
// FreeWideArguments.
WCHAR** GetWideArguments(int argc, char** argv, int* count);
void FreeWideArguments(WCHAR** arguments, int count);
WCHAR** CopyWideArguments(int count, WCHAR* const* source);

#endif
