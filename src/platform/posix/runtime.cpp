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
    PathParts* parts = static_cast<PathParts*>(std::malloc(sizeof(PathParts)));
    if (parts == nullptr) {
        errno = ENOMEM;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    char unixPath[UNIX_PATH_BYTES];
    bool missing = false;
    DWORD error = ParseDosPath(name, parts);
    Device device = {DEVICE_NONE, 0};
    if (error == 0) device = DeviceOf(parts);
    if (error == 0 && device.kind != DEVICE_NONE) {
        error = DeviceFolderError(parts);
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
    int current = CurrentDrive();
    long length = DriveDirectory(drive, path, WIDE_PATH_UNITS);
    if (length < 0 || (size_t)length >= WIDE_PATH_UNITS) {
        errno = EACCES;
        SetLastError(POSIX_ERROR_NO_SUCH_DEVICE);
        return nullptr;
    }
    bool isCurrent = drive == 0 || drive == current;
    if (buffer == nullptr) {
        if (!isCurrent && capacity <= length) {
            errno = ERANGE;
            return nullptr;
        }
        size_t units = (size_t)length + 1;
        if (isCurrent && capacity > length) units = (size_t)capacity;
        buffer = static_cast<WCHAR*>(std::malloc(units * sizeof(WCHAR)));
        if (buffer == nullptr) {
            errno = ENOMEM;
            return nullptr;
        }
    } else if (capacity <= length) {
        errno = ERANGE;
        return nullptr;
    }
    std::memcpy(buffer, path, ((size_t)length + 1) * sizeof(WCHAR));
    errno = savedErrno;
    return buffer;
}

char* _getdcwd(int drive, char* buffer, int capacity) {
    int savedErrno = errno;
    WCHAR path[WIDE_PATH_UNITS];
    int current = CurrentDrive();
    long length = DriveDirectory(drive, path, WIDE_PATH_UNITS);
    if (length < 0 || (size_t)length >= WIDE_PATH_UNITS) {
        errno = EACCES;
        SetLastError(POSIX_ERROR_NO_SUCH_DEVICE);
        return nullptr;
    }
    int bytes = WideCharToMultiByte(CP_ACP, 0, path, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        errno = EINVAL;
        return nullptr;
    }
    bool isCurrent = drive == 0 || drive == current;
    if (buffer == nullptr) {
        if (!isCurrent && capacity < bytes) {
            errno = ERANGE;
            return nullptr;
        }
        size_t size = (size_t)bytes;
        if (isCurrent && capacity > bytes) size = (size_t)capacity;
        buffer = static_cast<char*>(std::malloc(size));
        if (buffer == nullptr) {
            errno = ENOMEM;
            return nullptr;
        }
    } else if (capacity < bytes) {
        errno = ERANGE;
        return nullptr;
    }
    WideCharToMultiByte(CP_ACP, 0, path, -1, buffer, bytes, nullptr, nullptr);
    errno = savedErrno;
    return buffer;
}
