// The Windows C runtime's file and drive calls on the POSIX backend:
// _wfopen (devices included), _getdrive, _chdrive, _wgetdcwd, _getdcwd.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/posix.h"

using namespace posix;

namespace {

// A device that _wfopen reaches. NUL reads nothing and takes every write.
// Under Wine a port that the prefix maps is the Unix device itself, where a
// read waits for input that may never come; this build opens any such port
// as NUL instead, so that it never blocks and never writes to a line.
FILE* OpenDevice(DeviceKind kind, DWORD folderError, const char* mode) {
    int code = 0;
    if (folderError != 0) {
        code = ENOENT;
        SetLastError(folderError);
    } else if (kind == DEVICE_CON) {
        code = EBADF;  // no console here
        SetLastError(ERROR_INVALID_HANDLE);
    } else if (kind == DEVICE_NO_PORT) {
        code = ENOENT;
        SetLastError(ERROR_FILE_NOT_FOUND);
    } else {
        FILE* file = std::fopen("/dev/null", mode);
        if (file == nullptr) SetLastError(ErrorFromErrno(errno));
        return file;
    }
    errno = code;
    return nullptr;
}

// A drive's current directory in DOS form into `path` (WIDE_PATH_UNITS),
// and whether the drive is the current one; its length, or -1 (errno and
// the last error set) for a drive that maps nothing.
long DirectoryOfDrive(int drive, WCHAR* path, bool* isCurrent) {
    int current = CurrentDrive();
    long length = DriveDirectory(drive, path, WIDE_PATH_UNITS);
    if (length < 0 || (size_t)length >= WIDE_PATH_UNITS) {
        errno = EACCES;
        SetLastError(POSIX_ERROR_NO_SUCH_DEVICE);
        return -1;
    }
    *isCurrent = drive == 0 || drive == current;
    return length;
}

// Where the runtime puts a directory of `cells` cells, terminator included:
// the caller's buffer when it holds them; without one a new one of that
// size, or of `capacity` cells when that is more, for the current drive.
// Null (errno set) when it cannot be had.
void* DirectoryBuffer(void* buffer, int capacity, size_t cells, size_t cellSize, bool isCurrent) {
    if ((long)capacity < (long)cells && (buffer != nullptr || !isCurrent)) {
        errno = ERANGE;
        return nullptr;
    }
    if (buffer != nullptr) return buffer;
    size_t size = isCurrent && (long)capacity > (long)cells ? (size_t)capacity : cells;
    buffer = std::malloc(size * cellSize);
    if (buffer == nullptr) errno = ENOMEM;
    return buffer;
}

}  // namespace

FILE* _wfopen(const WCHAR* name, const WCHAR* mode) {
    if (name == nullptr || mode == nullptr) {
        errno = EINVAL;
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // The mode as the C library reads it: r, w or a, then '+' and 'b'.
    char narrowMode[8];
    size_t m = 0;
    for (const WCHAR* p = mode; *p != 0 && *p != ',' && m + 1 < sizeof narrowMode; ++p) {
        if (*p == 'r' || *p == 'w' || *p == 'a' || *p == '+' || *p == 'b') narrowMode[m++] = (char)*p;
    }
    narrowMode[m] = 0;
    if (m == 0 || (narrowMode[0] != 'r' && narrowMode[0] != 'w' && narrowMode[0] != 'a')) {
        errno = EINVAL;
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    bool creates = narrowMode[0] != 'r';
    PathParts* parts = NewPathParts();
    if (parts == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    char unixPath[UNIX_PATH_BYTES];
    bool missing = false;
    Device device;
    DWORD error = ParseNamingDevice(name, parts, &device);
    if (device.kind != DEVICE_NONE) {
        std::free(parts);
        return OpenDevice(device.kind, error, narrowMode);
    }
    if (error == 0) error = ResolveParts(parts, parts->count, unixPath, sizeof unixPath, &missing);
    int code = 0;  // errno for a failure found here
    if (error == 0 && parts->count == 0) {
        error = ERROR_ACCESS_DENIED;
    } else if (error == 0 && !missing && IsDirectory(unixPath)) {
        error = ERROR_ACCESS_DENIED;  // a folder is never opened as a file
    } else if (error == 0 && parts->trailingSeparator) {
        error = ERROR_INVALID_NAME;
    } else if (error == 0 && missing && !creates) {
        error = ERROR_FILE_NOT_FOUND;
    }
    std::free(parts);
    if (error != 0) {
        code = error == ERROR_ACCESS_DENIED                              ? EACCES
               : error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT
                                                                            : EINVAL;
        errno = code;
        SetLastError(error);
        return nullptr;
    }
    FILE* file = std::fopen(unixPath, narrowMode);
    if (file == nullptr) SetLastError(ErrorFromErrno(errno));
    if (file != nullptr && missing) NoteNameAdded(unixPath);
    return file;
}

int _getdrive(void) { return CurrentDrive(); }

// Making another drive current goes to its root: Wine keeps no current
// directory for a drive that is not current.
int _chdrive(int drive) {
    if (drive < 1 || drive > 26) {
        errno = drive < 1 ? EACCES : ENOENT;
        SetLastError(drive < 0 ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND);
        return -1;
    }
    int savedErrno = errno;
    const char* root = DriveRoot(drive);
    if (root == nullptr) {
        errno = ENOENT;
        SetLastError(ERROR_PATH_NOT_FOUND);
        return -1;
    }
    char cwd[UNIX_PATH_BYTES];
    if (CurrentDrive(cwd, sizeof cwd) == drive) {
        errno = savedErrno;
        return 0;
    }
    if (chdir(root) != 0) {
        SetLastError(ErrorFromErrno(errno));
        errno = EACCES;
        return -1;
    }
    NoteChosenDrive(drive);
    errno = savedErrno;
    return 0;
}

// Without a buffer the runtime allocates one (free() releases it); for a
// drive that is not current it wants `capacity` to hold the path already.
WCHAR* _wgetdcwd(int drive, WCHAR* buffer, int capacity) {
    int savedErrno = errno;
    WCHAR path[WIDE_PATH_UNITS];
    bool isCurrent = false;
    long length = DirectoryOfDrive(drive, path, &isCurrent);
    if (length < 0) return nullptr;
    size_t units = (size_t)length + 1;
    buffer = static_cast<WCHAR*>(DirectoryBuffer(buffer, capacity, units, sizeof(WCHAR), isCurrent));
    if (buffer == nullptr) return nullptr;
    std::memcpy(buffer, path, units * sizeof(WCHAR));
    errno = savedErrno;
    return buffer;
}

char* _getdcwd(int drive, char* buffer, int capacity) {
    int savedErrno = errno;
    WCHAR path[WIDE_PATH_UNITS];
    bool isCurrent = false;
    if (DirectoryOfDrive(drive, path, &isCurrent) < 0) return nullptr;
    int bytes = WideCharToMultiByte(CP_ACP, 0, path, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        errno = EINVAL;
        return nullptr;
    }
    buffer = static_cast<char*>(DirectoryBuffer(buffer, capacity, (size_t)bytes, 1, isCurrent));
    if (buffer == nullptr) return nullptr;
    WideCharToMultiByte(CP_ACP, 0, path, -1, buffer, bytes, nullptr, nullptr);
    errno = savedErrno;
    return buffer;
}
