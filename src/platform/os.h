// Services that each system backend (os_win.cpp, posix/files.cpp) implements
// in its own way, for the table in fs.cpp. Nothing else includes this.
#ifndef DUSTPAIL_PLATFORM_OS_H
#define DUSTPAIL_PLATFORM_OS_H

#include <cstdint>
#include <cstdio>

#include "platform/fs.h"
#include "platform/sysapi.h"

FILE* OsCreateNewFileW(const WCHAR* path);
FILE* OsCreateNewFileA(const char* path);
int64_t OsTell(FILE* stream);
BOOL OsTruncate(FILE* stream, uint64_t size);
BOOL OsLock(FILE* stream);
BOOL OsUnlock(FILE* stream);
BOOL OsFileIdentityW(const WCHAR* path, BOOL follow, FileIdentity* identity);
BOOL OsFileIdentityA(const char* path, BOOL follow, FileIdentity* identity);
BOOL OsRandomBytes(void* buffer, size_t size);
// Whether deleting or moving a link acts on the link itself (Windows and
// POSIX) rather than on what it points to (Wine).
BOOL OsHandlesLinksItself(void);
void OsSleep(DWORD milliseconds);

#endif
