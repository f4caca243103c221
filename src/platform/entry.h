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

// What an argument is as a path. The POSIX build reads one that begins
// with '/' and holds another '/' as a Unix path and turns it into the drive
// path Wine gives it; Windows has no Unix paths, and its build reads every
// argument as typed.
enum ArgumentPath {
    ARGUMENT_AS_TYPED,    // not a Unix path
    ARGUMENT_DRIVE_PATH,  // *drivePath is the drive path (MemFree)
    ARGUMENT_NO_DRIVE,    // a Unix path that no mapped drive holds
    ARGUMENT_NO_MEMORY,
};
ArgumentPath DrivePathOfArgument(const WCHAR* argument, WCHAR** drivePath);

#endif
