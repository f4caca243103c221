// Files on the POSIX backend as the Windows build meets them under Wine:
// the last error, attributes, deleting, removing folders, moving (never
// replacing, also across file systems), disk geometry, and the services of
// os.h (exclusive creates, truncation, the bin lock, file identity, the
// random source).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/os.h"
#include "platform/posix/posix.h"

namespace posix {

namespace {

DWORD sLastError = 0;

FILETIME ToFileTime(const struct timespec& time) {
    const uint64_t ticks1601To1970 = 116444736000000000ull;
    uint64_t ticks = (uint64_t)time.tv_sec * 10000000ull + ticks1601To1970 + (uint64_t)time.tv_nsec / 100;
    FILETIME result;
    result.dwLowDateTime = (DWORD)ticks;
    result.dwHighDateTime = (DWORD)(ticks >> 32);
    return result;
}

// ---------------------------------------------------------------------------
// Moving a file across file systems: Wine copies it and removes the source.

bool CopyAcross(const char* source, const char* target) {
    int in = open(source, O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st;
    if (fstat(in, &st) != 0) {
        close(in);
        return false;
    }
    int out = open(target, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
    if (out < 0) {
        close(in);
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        ssize_t got = read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (ssize_t done = 0; done < got;) {
            ssize_t put = write(out, buffer + done, (size_t)(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                ok = false;
                break;
            }
            done += put;
        }
        if (!ok) break;
    }
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (ok) futimens(out, times);
    int saved = errno;
    if (close(out) != 0) ok = false;
    close(in);
    if (!ok) {
        unlink(target);
        errno = saved;
    }
    return ok;
}

// A move that never replaces, even a name that appears after the check for
// it: renameat2 refuses atomically. Where the file system lacks it, a file
// is linked under the new name and unlinked under the old (link() fails on
// an existing name); a folder, which cannot be linked, is renamed after a
// last check.
int RenameNoReplace(const char* from, const char* to, bool directory) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return -1;
    struct stat other;
    if (directory) {
        if (lstat(to, &other) == 0) {
            errno = EEXIST;
            return -1;
        }
        return rename(from, to);
    }
    if (link(from, to) != 0) return -1;
    if (unlink(from) != 0) {
        int saved = errno;
        unlink(to);
        errno = saved;
        return -1;
    }
    return 0;
}

// Wine holds its working directory open without leave to delete it, so
// that folder itself can be neither moved nor removed (its parent can).
// Only this process's own working directory counts here.
bool IsWorkingDirectory(const struct stat& info) {
    struct stat cwd;
    return S_ISDIR(info.st_mode) && stat(".", &cwd) == 0 && cwd.st_dev == info.st_dev &&
           cwd.st_ino == info.st_ino;
}

// The byte that the bin lock covers: far past the end of any real file, so
// that the lock never stands in the way of reading or writing data (Windows
// locks are mandatory). Wine turns LockFileEx into an fcntl lock on the same
// range, so the builds exclude each other.
const off_t LOCK_BYTE = (off_t)1 << 62;

bool LockRange(FILE* stream, short type) {
    struct flock range;
    std::memset(&range, 0, sizeof range);
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = LOCK_BYTE;
    range.l_len = 1;
    // An open-file-description lock: closing another descriptor of the same
    // file (an index read while the lock is held) does not drop it.
    for (;;) {
        if (fcntl(fileno(stream), F_OFD_SETLK, &range) == 0) return true;
        // As Wine: a file open for reading only gets a read lock, and a file
        // system without locks is worked on without them. Read locks do not
        // exclude each other, so such a file also gets an flock() lock, which
        // keeps two native runs apart (Wine keeps its own runs apart itself).
        if (errno == EBADF && range.l_type == F_WRLCK) {
            if (flock(fileno(stream), LOCK_EX | LOCK_NB) != 0) {
                SetLastError(errno == EWOULDBLOCK ? ERROR_LOCK_VIOLATION : ErrorFromErrno(errno));
                return false;
            }
            range.l_type = F_RDLCK;
            continue;
        }
        if (errno == ENOLCK || errno == ENOTSUP || errno == EIO) return true;
        SetLastError((errno == EAGAIN || errno == EACCES) ? ERROR_LOCK_VIOLATION : ErrorFromErrno(errno));
        return false;
    }
}

// The last name that the attributes of a resolved path see, none for a root.
const char* NameOfInfo(const ExistingPath& file) {
    return file.parts->count > 0 ? LastUnixName(file.unixPath) : nullptr;
}

// getxattrat(2), Linux 6.13 (one number on every architecture since 5.1;
// the C library may not name it yet).
const long POSIX_SYS_GETXATTRAT = 464;

struct XattrArgs {
    uint64_t value;
    uint32_t size;
    uint32_t flags;
};

bool sNoXattrAt = false;  // the kernel lacks getxattrat: paths it is

// Samba's DOS attribute of an entry into `value`: its length, or -1. Asked
// relative to the open folder where the kernel can, else by the path.
ssize_t ReadDosAttribute(const char* path, const char* name, const OpenFolder* folder, char* value,
                         size_t capacity) {
    static const char DOS_ATTRIBUTE[] = "user.DOSATTRIB";
    if (folder != nullptr && name != nullptr && !sNoXattrAt) {
        XattrArgs args = {(uint64_t)(uintptr_t)value, (uint32_t)capacity, 0};
        long length = syscall(POSIX_SYS_GETXATTRAT, folder->fd, name, 0, DOS_ATTRIBUTE, &args, sizeof args);
        if (length >= 0 || (errno != ENOSYS && errno != EPERM)) return (ssize_t)length;
        if (errno == ENOSYS) sNoXattrAt = true;  // EPERM: a filter refused it this time
    }
    return getxattr(path, DOS_ATTRIBUTE, value, capacity);
}

}  // namespace

bool IsDotName(const char* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Attributes: directory or archive; read-only when nobody may write; hidden
// for a dot name; a link to a folder, or a mount point, is a reparse point;
// Samba's DOS attribute (user.DOSATTRIB) adds hidden and system. A link is
// reported by its target; a dangling one does not exist.
bool DescribeFile(const char* path, const char* name, const struct stat& own, const OpenFolder* folder,
                  FileInfo* info) {
    struct stat st = own;
    DWORD attributes = 0;
    if (S_ISLNK(st.st_mode)) {
        int followed = folder != nullptr ? fstatat(folder->fd, name, &st, 0) : stat(path, &st);
        if (followed != 0) return false;
        if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    } else if (S_ISDIR(st.st_mode)) {
        // A folder whose ".." lies on another device, or is itself (the
        // root), is mounted there. The ".." of an entry of an open folder
        // is that folder.
        struct stat up;
        const struct stat* parent = folder != nullptr ? &folder->status : nullptr;
        if (parent == nullptr) {
            char parentPath[UNIX_PATH_BYTES + 4];
            std::snprintf(parentPath, sizeof parentPath, "%s/..", path);
            if (stat(parentPath, &up) == 0) parent = &up;
        }
        if (parent != nullptr && (parent->st_dev != st.st_dev || parent->st_ino == st.st_ino))
            attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    }
    attributes |= S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
    if (name != nullptr && name[0] == '.' && !IsDotName(name)) attributes |= FILE_ATTRIBUTE_HIDDEN;
    char dos[65];
    ssize_t length = ReadDosAttribute(path, name, folder, dos, sizeof dos - 1);
    if (length > 2 && dos[0] == '0' && (dos[1] == 'x' || dos[1] == 'X')) {
        dos[length] = 0;
        attributes |= (DWORD)std::strtoul(dos + 2, nullptr, 16) &
                      (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    }
    info->attributes = attributes;
    info->size = S_ISDIR(st.st_mode) ? 0 : (uint64_t)st.st_size;
    info->write = ToFileTime(st.st_mtim);
    info->access = ToFileTime(st.st_atim);
    info->creation = info->write;  // Linux keeps no creation time; Wine shows the write time
    info->device = st.st_dev;
    info->inode = st.st_ino;
    return true;
}

bool GetFileInfo(const char* path, const char* name, FileInfo* info) {
    struct stat own;
    return lstat(path, &own) == 0 && DescribeFile(path, name, own, nullptr, info);
}

const char* LastUnixName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

DWORD ErrorFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EBUSY:
            return ERROR_SHARING_VIOLATION;
        case ENOSPC:
            return POSIX_ERROR_DISK_FULL;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return POSIX_ERROR_GEN_FAILURE;
    }
}

BOOL FailWithError(DWORD error) {
    sLastError = error;
    return FALSE;
}

}  // namespace posix

using namespace posix;

// KERNEL32

DWORD GetLastError(void) { return sLastError; }

void SetLastError(DWORD error) { sLastError = error; }

DWORD GetFileAttributesW(const WCHAR* path) {
    ExistingPath file;
    ResolveExisting(path, true, &file);
    DWORD error = file.error;
    if (error == 0 && file.device.kind != DEVICE_NONE) {
        std::free(file.parts);
        return FILE_ATTRIBUTE_ARCHIVE;  // any device, the console and a missing port too
    }
    FileInfo info;
    if (error == 0 && !GetFileInfo(file.unixPath, NameOfInfo(file), &info)) error = ERROR_FILE_NOT_FOUND;
    if (error == 0 && file.parts->trailingSeparator && !(info.attributes & FILE_ATTRIBUTE_DIRECTORY))
        error = ERROR_PATH_NOT_FOUND;
    std::free(file.parts);
    if (error != 0) {
        SetLastError(error);
        return INVALID_FILE_ATTRIBUTES;
    }
    return info.attributes;
}

DWORD GetFileAttributesA(const char* path) {
    return CallWithWidePath(path, INVALID_FILE_ATTRIBUTES, GetFileAttributesW);
}

// Deleting a file: never a folder, never a read-only file (even where the
// process could), and a link is removed itself, never its target.
BOOL DeleteFileW(const WCHAR* path) {
    ExistingPath file;
    ResolveExisting(path, true, &file);
    DWORD error = file.error;
    if (error == 0 && file.device.kind != DEVICE_NONE) error = DeviceUseError(file.device.kind);
    if (error == 0 && file.parts->count == 0) error = ERROR_ACCESS_DENIED;
    struct stat target;
    if (error == 0 && stat(file.unixPath, &target) != 0) error = ERROR_FILE_NOT_FOUND;
    if (error == 0 && S_ISDIR(target.st_mode)) error = ERROR_ACCESS_DENIED;
    if (error == 0 && file.parts->trailingSeparator) error = ERROR_INVALID_NAME;
    if (error == 0 && (target.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) error = ERROR_ACCESS_DENIED;
    if (error == 0 && unlink(file.unixPath) != 0) error = ErrorFromErrno(errno);
    if (error == 0) NoteNameRemoved(file.unixPath);
    std::free(file.parts);
    return error != 0 ? FailWithError(error) : TRUE;
}

BOOL DeleteFileA(const char* path) { return CallWithWidePath(path, (BOOL)FALSE, DeleteFileW); }

// Removing an empty folder; a link to a folder is removed itself. The
// working directory is not removed, as under Wine, which holds it open.
BOOL RemoveDirectoryW(const WCHAR* path) {
    ExistingPath folder;
    ResolveExisting(path, true, &folder);
    DWORD error = folder.error;
    DeviceKind device = folder.device.kind;
    if (device != DEVICE_NONE) {
        // A device's missing folder is an invalid name here, unlike elsewhere.
        error = error != 0                   ? ERROR_INVALID_NAME
                : device == DEVICE_NO_PORT ? ERROR_FILE_NOT_FOUND
                                           : ERROR_INVALID_HANDLE;
    }
    if (error == 0 && folder.parts->count == 0) error = ERROR_ACCESS_DENIED;
    struct stat own, target;
    if (error == 0 && (lstat(folder.unixPath, &own) != 0 || stat(folder.unixPath, &target) != 0))
        error = ERROR_FILE_NOT_FOUND;
    if (error == 0 && IsWorkingDirectory(own)) error = ERROR_SHARING_VIOLATION;
    if (error == 0 && !S_ISDIR(target.st_mode)) error = POSIX_ERROR_DIRECTORY;
    if (error == 0) {
        int result = S_ISLNK(own.st_mode) ? unlink(folder.unixPath) : rmdir(folder.unixPath);
        if (result != 0) error = errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ErrorFromErrno(errno);
        if (result == 0) NoteNameRemoved(folder.unixPath);
    }
    std::free(folder.parts);
    return error != 0 ? FailWithError(error) : TRUE;
}

BOOL RemoveDirectoryA(const char* path) {
    return CallWithWidePath(path, (BOOL)FALSE, RemoveDirectoryW);
}

// Moving never replaces: an existing target fails, unless it is the source
// itself under another case (then nothing changes, as in Wine). The working
// directory stays where it is, as under Wine, which holds it open.
BOOL MoveFileW(const WCHAR* existing, const WCHAR* target) {
    ExistingPath file;
    ResolveExisting(existing, true, &file);
    PathParts* parts = file.parts;  // the target's parts after the source's
    const char* from = file.unixPath;
    char to[UNIX_PATH_BYTES];
    struct stat source, other;
    Device device = file.device;
    DWORD error = file.error;
    if (error == 0 && device.kind != DEVICE_NONE) error = DeviceUseError(device.kind);
    if (error == 0 && parts->count == 0) error = ERROR_ACCESS_DENIED;
    if (error == 0 && (lstat(from, &source) != 0 || (S_ISLNK(source.st_mode) && stat(from, &other) != 0)))
        error = ERROR_FILE_NOT_FOUND;
    if (error == 0 && IsWorkingDirectory(source)) error = ERROR_SHARING_VIOLATION;
    bool missing = false;
    if (error == 0) error = ParseNamingDevice(target, parts, &device);
    // A port that is there exists as a name; nothing else can be a target.
    if (error == 0 && device.kind != DEVICE_NONE)
        error = device.kind == DEVICE_PORT ? ERROR_ALREADY_EXISTS : POSIX_ERROR_BAD_DEV_TYPE;
    if (error == 0) error = ResolveParts(parts, parts->count, to, sizeof to, &missing);
    if (error == 0 && !missing) {
        if (lstat(to, &other) == 0 && other.st_dev == source.st_dev && other.st_ino == source.st_ino) {
            std::free(parts);
            return TRUE;
        }
        error = ERROR_ALREADY_EXISTS;
    }
    if (error == 0 && RenameNoReplace(from, to, S_ISDIR(source.st_mode)) != 0) {
        if (errno == EXDEV) {
            if (!S_ISREG(source.st_mode)) {
                error = ERROR_ACCESS_DENIED;
            } else if (!CopyAcross(from, to)) {
                error = ErrorFromErrno(errno);
            } else if (unlink(from) != 0) {
                // Wine reports success here and leaves the file in both
                // places; this build takes the copy back and fails, so that
                // a move never ends with two of a file.
                error = ErrorFromErrno(errno);
                unlink(to);
            } else {
                SetLastError(0);
            }
        } else {
            error = ErrorFromErrno(errno);
        }
    }
    if (error == 0) {
        NoteNameRemoved(from);
        NoteNameAdded(to);
    } else {
        ForgetFolderCache();  // a failed copy across may have left a part behind
    }
    std::free(parts);
    return error != 0 ? FailWithError(error) : TRUE;
}

BOOL MoveFileA(const char* existing, const char* target) {
    WCHAR* wideExisting = WidenAnsi(existing);
    WCHAR* wideTarget = WidenAnsi(target);
    BOOL result;
    if (wideExisting == nullptr || wideTarget == nullptr)
        result = FailWithError(existing == nullptr || target == nullptr ? ERROR_INVALID_PARAMETER
                                                               : ERROR_NOT_ENOUGH_MEMORY);
    else
        result = MoveFileW(wideExisting, wideTarget);
    std::free(wideExisting);
    std::free(wideTarget);
    return result;
}

// Wine reports 512-byte sectors, a cluster of the file system's fragment
// size, and the blocks available to the process as the free clusters.
BOOL GetDiskFreeSpaceA(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                       DWORD* freeClusters, DWORD* totalClusters) {
    char folder[UNIX_PATH_BYTES];
    if (root == nullptr) {
        int drive = CurrentDrive();
        const char* driveRoot = drive != 0 ? DriveRoot(drive) : "/";
        CopyString(folder, sizeof folder, driveRoot);
    } else {
        WCHAR* wide = WidenAnsi(root);
        if (wide == nullptr) return FailWithError(ERROR_NOT_ENOUGH_MEMORY);
        ExistingPath drive;
        ResolveExisting(wide, false, &drive);
        std::free(drive.parts);
        std::free(wide);
        DWORD error = drive.error;
        CopyString(folder, sizeof folder, drive.unixPath);
        if (error == ERROR_FILE_NOT_FOUND) error = ERROR_PATH_NOT_FOUND;
        if (error == 0 && !IsDirectory(folder)) error = ERROR_PATH_NOT_FOUND;
        if (error != 0) return FailWithError(error);
    }
    struct statvfs fs;
    if (statvfs(folder, &fs) != 0) return FailWithError(ErrorFromErrno(errno));
    uint64_t clusterBytes = fs.f_frsize >= 512 ? fs.f_frsize : 512;
    uint64_t sectors = clusterBytes / 512;
    uint64_t free = (uint64_t)fs.f_bavail * fs.f_frsize / clusterBytes;
    uint64_t total = (uint64_t)fs.f_blocks * fs.f_frsize / clusterBytes;
    if (sectorsPerCluster != nullptr) *sectorsPerCluster = (DWORD)sectors;
    if (bytesPerSector != nullptr) *bytesPerSector = 512;
    if (freeClusters != nullptr) *freeClusters = free > 0xFFFFFFFFu ? 0xFFFFFFFFu : (DWORD)free;
    if (totalClusters != nullptr) *totalClusters = total > 0xFFFFFFFFu ? 0xFFFFFFFFu : (DWORD)total;
    return TRUE;
}

// ===========================================================================
// The services of os.h

FILE* OsCreateNewFileW(const WCHAR* path) {
    PathParts* parts = NewPathParts();
    if (parts == nullptr) return nullptr;
    char unixPath[UNIX_PATH_BYTES];
    bool missing = false;
    Device device;
    DWORD error = ParseNamingDevice(path, parts, &device);
    if (device.kind != DEVICE_NONE) {
        // NUL is opened (nothing is made); a port that is there exists.
        if (error == 0 && device.kind != DEVICE_NUL)
            error = device.kind == DEVICE_CON    ? ERROR_INVALID_HANDLE
                    : device.kind == DEVICE_PORT ? ERROR_FILE_EXISTS
                                                 : ERROR_FILE_NOT_FOUND;
        std::free(parts);
        if (error != 0) {
            SetLastError(error);
            return nullptr;
        }
        FILE* null = std::fopen("/dev/null", "wb");
        if (null == nullptr) SetLastError(ErrorFromErrno(errno));
        return null;
    }
    if (error == 0) error = ResolveParts(parts, parts->count, unixPath, sizeof unixPath, &missing);
    if (error == 0 && parts->count == 0) error = ERROR_ACCESS_DENIED;
    if (error == 0 && parts->trailingSeparator) error = ERROR_INVALID_NAME;
    if (error == 0 && !missing) error = ERROR_FILE_EXISTS;
    std::free(parts);
    if (error != 0) {
        SetLastError(error);
        return nullptr;
    }
    // O_EXCL fails on any name that exists, a dangling link included.
    int fd = open(unixPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        SetLastError(errno == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(errno));
        return nullptr;
    }
    NoteNameAdded(unixPath);
    FILE* stream = fdopen(fd, "wb");
    if (stream == nullptr) {
        SetLastError(ErrorFromErrno(errno));
        close(fd);
        unlink(unixPath);
        NoteNameRemoved(unixPath);
    }
    return stream;
}

FILE* OsCreateNewFileA(const char* path) {
    return CallWithWidePath(path, (FILE*)nullptr, OsCreateNewFileW);
}

int64_t OsTell(FILE* stream) {
    off_t position = ftello(stream);
    if (position < 0) SetLastError(ErrorFromErrno(errno));
    return (int64_t)position;
}

BOOL OsTruncate(FILE* stream, uint64_t size) {
    if (std::fflush(stream) != 0 || ftruncate(fileno(stream), (off_t)size) != 0)
        return FailWithError(ErrorFromErrno(errno));
    return TRUE;
}

BOOL OsLock(FILE* stream) { return LockRange(stream, F_WRLCK) ? TRUE : FALSE; }

BOOL OsUnlock(FILE* stream) {
    flock(fileno(stream), LOCK_UN);
    return LockRange(stream, F_UNLCK) ? TRUE : FALSE;
}

BOOL OsFileIdentityW(const WCHAR* path, BOOL follow, FileIdentity* identity) {
    ExistingPath file;
    ResolveExisting(path, true, &file);
    DWORD error = file.error;
    if (error == 0 && file.device.kind != DEVICE_NONE) error = DeviceUseError(file.device.kind);
    // The information describes a link's target: the identity that follows.
    FileInfo info;
    struct stat own;
    if (error == 0 && (lstat(file.unixPath, &own) != 0 ||
                       !DescribeFile(file.unixPath, NameOfInfo(file), own, nullptr, &info)))
        error = ERROR_FILE_NOT_FOUND;
    std::free(file.parts);
    if (error != 0) return FailWithError(error);
    identity->volume = follow ? (uint64_t)info.device : (uint64_t)own.st_dev;
    identity->file = follow ? (uint64_t)info.inode : (uint64_t)own.st_ino;
    identity->attributes = info.attributes;
    identity->isLink = !follow && S_ISLNK(own.st_mode);
    return TRUE;
}

BOOL OsFileIdentityA(const char* path, BOOL follow, FileIdentity* identity) {
    return CallWithWidePath(path, (BOOL)FALSE, [follow, identity](const WCHAR* wide) {
        return OsFileIdentityW(wide, follow, identity);
    });
}

BOOL OsRandomBytes(void* buffer, size_t size) {
    unsigned char* out = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        ssize_t got = getrandom(out, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return FailWithError(ErrorFromErrno(errno));
        out += got;
        size -= (size_t)got;
    }
    return TRUE;
}

// unlink() and rename() act on a link itself.
BOOL OsHandlesLinksItself(void) { return TRUE; }

void OsSleep(DWORD milliseconds) {
    struct timespec wait = {(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}
