// The Win32 and Windows C runtime services the program stands on.
//
// On Windows this is <windows.h> and the Microsoft runtime. Elsewhere the
// same names are declared here and implemented by src/platform/posix, which
// gives what the Windows build shows under Wine in the same environment:
// drives from the Wine prefix's dosdevices folder, case-insensitive lookups,
// Windows wildcard matching and the ANSI code page Wine derives from the
// locale.
//
// Nothing above src/platform includes a system header of its own for these.
#ifndef DUSTPAIL_PLATFORM_SYSAPI_H
#define DUSTPAIL_PLATFORM_SYSAPI_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <conio.h>
#include <direct.h>
#include <wchar.h>

// Wide string literal in the program's wide character type.
#define WIDE(s) L"" s

#else  // POSIX

typedef char16_t WCHAR;
typedef uint32_t DWORD;
typedef int BOOL;
typedef uint32_t UINT;
typedef void* HANDLE;
typedef const char* LPCSTR;
typedef const WCHAR* LPCWSTR;

#define WIDE(s) u"" s

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFF)

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_NO_MORE_FILES 18
#define ERROR_NOT_READY 21
#define ERROR_SHARING_VIOLATION 32
#define ERROR_LOCK_VIOLATION 33
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_CALL_NOT_IMPLEMENTED 120
#define ERROR_INVALID_NAME 123
#define ERROR_DIR_NOT_EMPTY 145
#define ERROR_ALREADY_EXISTS 183
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_NO_UNICODE_TRANSLATION 1113

#define CP_ACP 0
#define CP_UTF8 65001
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define MB_ERR_INVALID_CHARS 0x00000008

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

typedef struct _WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW;

typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[MAX_PATH];
    char cAlternateFileName[14];
} WIN32_FIND_DATAA;

// KERNEL32
DWORD GetLastError(void);
void SetLastError(DWORD error);
UINT GetACP(void);
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int wideCount, char* bytes,
                        int byteCount, const char* defaultChar, BOOL* usedDefault);
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* bytes, int byteCount, WCHAR* wide,
                        int wideCount);
BOOL MoveFileW(const WCHAR* existing, const WCHAR* target);
BOOL MoveFileA(const char* existing, const char* target);
DWORD GetFileAttributesW(const WCHAR* path);
DWORD GetFileAttributesA(const char* path);
BOOL DeleteFileW(const WCHAR* path);
BOOL DeleteFileA(const char* path);
BOOL RemoveDirectoryW(const WCHAR* path);
BOOL RemoveDirectoryA(const char* path);
HANDLE FindFirstFileW(const WCHAR* pattern, WIN32_FIND_DATAW* data);
HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data);
BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* data);
BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* data);
BOOL FindClose(HANDLE search);
BOOL GetDiskFreeSpaceA(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                       DWORD* freeClusters, DWORD* totalClusters);

// The Windows C runtime
int _getdrive(void);
int _chdrive(int drive);
FILE* _wfopen(const WCHAR* name, const WCHAR* mode);
WCHAR* _wgetdcwd(int drive, WCHAR* buffer, int capacity);
char* _getdcwd(int drive, char* buffer, int capacity);
int _vscwprintf(const WCHAR* format, va_list args);
int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);

// The wide command line as Windows hands it to a program: the POSIX backend
// builds it from argv, decoded from the locale's character set as Wine does.
// Returns an argument vector of `*count` wide strings (owned by the backend).
WCHAR** PosixWideArguments(int argc, char** argv, int* count);
// The drive path that Wine gives a Unix path ("/mnt/c/x" is "C:\x" when
// dosdevices maps c: to /mnt/c). Returns the length it needs without the
// zero, writing it whole only where `capacity` exceeds that; 0 when no
// mapped drive holds the path.
size_t PosixDrivePathOfUnixPath(const WCHAR* unixPath, WCHAR* out, size_t capacity);

#endif  // _WIN32

#endif
