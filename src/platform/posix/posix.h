// The POSIX backend gives the Win32 and C runtime services of sysapi.h as
// the Windows build meets them under Wine in the same environment, so that
// both builds behave alike: drives are the links in the Wine prefix's
// dosdevices folder, names are looked up without regard to case (Wine's case
// table, and Wine's generated 8.3 names), folder listings are sorted and
// matched as Wine does, and the ANSI code page follows the locale as Wine
// derives it. Where Wine's behaviour was measured rather than read,
// docs/platform-facts.md lists the facts.
//
// What the parts of the backend (src/platform/posix/*.cpp) share: the
// last error, DOS paths split into their names and resolved to Unix paths,
// the conversion of names between UTF-16 and the locale's character set,
// and file information as Wine reports it. Nothing outside this folder
// includes it; the program sees only the names of sysapi.h and os.h.
//
// Memory here is the system's own (std::malloc), as the Windows heap behind
// kernel32 is: it does not count among the program's allocations, so a test
// that makes the N-th program allocation fail meets the same N on both builds.
#ifndef DUSTPAIL_PLATFORM_POSIX_POSIX_H
#define DUSTPAIL_PLATFORM_POSIX_POSIX_H

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/arrays.h"
#include "platform/sysapi.h"
#include "platform/wide.h"

namespace posix {

// Win32 error codes that sysapi.h does not name.
const DWORD POSIX_ERROR_GEN_FAILURE = 31;
const DWORD POSIX_ERROR_BAD_DEV_TYPE = 66;
const DWORD POSIX_ERROR_DISK_FULL = 112;
const DWORD POSIX_ERROR_DIRECTORY = 267;
const DWORD POSIX_ERROR_NO_SUCH_DEVICE = 433;

const uint32_t POSIX_NO_CHAR = 0xFFFFFFFFu;
const WCHAR POSIX_REPLACEMENT = 0xFFFD;

// Sizes of the work buffers: a Unix path, a wide path, one name.
const size_t UNIX_PATH_BYTES = 4096;
const size_t WIDE_PATH_UNITS = 4096;
const size_t NAME_UNITS = 256;  // Wine skips longer directory entries
const int MAX_PATH_PARTS = 1024;

// ---------------------------------------------------------------------------
// The last error (files.cpp).

// Sets the last error and reports failure.
BOOL FailWithError(DWORD error);
DWORD ErrorFromErrno(int error);

// ---------------------------------------------------------------------------
// Text (text.cpp): Wine's case table, UTF-8, the locale's character set.

WCHAR Upcase(WCHAR ch);
WCHAR Downcase(WCHAR ch);
// Whether two names are one as Wine compares them: by its case table.
bool NamesEqual(const WCHAR* a, size_t aLength, const WCHAR* b, size_t bLength);
// One UTF-8 sequence after its lead byte, as Wine decodes it; POSIX_NO_CHAR
// for an invalid or cut one, with *in past the bytes taken into it.
uint32_t DecodeUtf8Sequence(unsigned char lead, const unsigned char** in, const unsigned char* end);
// Unix bytes (a name, a path, an argument) to UTF-16; returns the units the
// text needs, storing as many as fit.
size_t UnixToWide(const char* bytes, size_t length, WCHAR* out, size_t capacity);
// UTF-16 to Unix bytes, zero-terminated; false when it does not fit.
bool WideToUnix(const WCHAR* text, size_t length, char* out, size_t capacity);
// Whether the locale's character set is UTF-8.
bool LocaleIsUtf8();
// Forgets the locale, so that it is read again.
void ForgetLocale();
void CopyString(char* out, size_t capacity, const char* text);
// ANSI arguments of the "A" functions, widened from the ANSI code page
// (std::free); null when memory runs out or text is null.
WCHAR* WidenAnsi(const char* text);

// An "A" function of one path: the wide form on the widened path.
template <typename Result, typename Call>
Result CallWithWidePath(const char* path, Result failure, Call call) {
    WCHAR* wide = WidenAnsi(path);
    if (wide == nullptr) {
        SetLastError(path == nullptr ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
        return failure;
    }
    Result result = call(wide);
    std::free(wide);
    return result;
}

// ---------------------------------------------------------------------------
// Drives (drives.cpp): the links in the Wine prefix's dosdevices folder.

// The prefix's folder ("" without one).
const char* PrefixFolder();
// The real path of a drive's folder (1 = A), or null when it maps nothing.
const char* DriveRoot(int drive);
// The length of `root` when the folder `path` lies inside it, else -1.
long RootContains(const char* root, const char* path);
// The current drive (1 = A), or 0 when the working directory lies in no
// drive; the working directory's real path goes to cwd.
int CurrentDrive(char* cwd, size_t capacity);
int CurrentDrive();
// The drive that _chdrive made current, while the working directory stays.
void NoteChosenDrive(int drive);
// The DOS form of a drive's current directory; its length, or -1 for a
// drive that maps nothing.
long DriveDirectory(int drive, WCHAR* out, size_t capacity);

// ---------------------------------------------------------------------------
// DOS paths (drives.cpp), split into their names.

struct PathParts {
    int drive;  // 1 = A ... 26 = Z, or 0: the Unix root (cwd outside every drive)
    int count;
    bool trailingSeparator;
    bool literal;     // "\\?\" or "\\.\" before the drive: no name is a device
    bool lastIsName;  // the path ends in a name as written, not in "." or ".."
    size_t used;
    uint32_t start[MAX_PATH_PARTS];
    uint32_t length[MAX_PATH_PARTS];
    WCHAR text[WIDE_PATH_UNITS];
};

inline const WCHAR* PartText(const PathParts* parts, int index) { return parts->text + parts->start[index]; }

// Splits a DOS path into its drive and names. Returns 0 or a Win32 error.
DWORD ParseDosPath(const WCHAR* path, PathParts* parts);
// The Unix path of the first `upto` names. Every name before the last must
// be a folder; the last may be missing (*lastMissing is set and its name
// appended as given). Returns 0 or a Win32 error.
DWORD ResolveParts(const PathParts* parts, int upto, char* out, size_t capacity, bool* lastMissing);
bool AppendUnix(char* path, size_t capacity, const char* name);
bool IsDirectory(const char* path);

// DOS devices: a last name whose base is NUL, CON, AUX, PRN, COMn or LPTn.
enum DeviceKind {
    DEVICE_NONE,
    DEVICE_NUL,
    DEVICE_CON,      // the console, which a process of this build never has
    DEVICE_PORT,     // a port the prefix maps
    DEVICE_NO_PORT,  // a port it does not map
};

struct Device {
    DeviceKind kind;
    size_t baseLength;  // the device's name as typed: the last name's first units
};

Device DeviceOf(const PathParts* parts);
// The folder of a device name: 0 when it is there, else the error that
// every call gives for the device.
DWORD DeviceFolderError(const PathParts* parts);
// Splits a DOS path (ParseDosPath) and tells a device name: device->kind,
// and then the error of the device's folder (0 when it is there).
DWORD ParseNamingDevice(const WCHAR* path, PathParts* parts, Device* device);
// What deleting a device, moving it away or asking for its identity gives.
DWORD DeviceUseError(DeviceKind kind);
// A path's parts live on the heap (std::free): they are large. Null, with
// the last error ERROR_NOT_ENOUGH_MEMORY, when memory runs out.
PathParts* NewPathParts();

// A whole DOS path whose last name must exist, resolved.
struct ExistingPath {
    PathParts* parts;  // std::free
    char unixPath[UNIX_PATH_BYTES];
    Device device;
    DWORD error;  // 0 or a Win32 error
};

// Resolves `path`. A device name (only with `devices`) is not looked up:
// device.kind tells it, and the error is then 0 or that of its folder.
void ResolveExisting(const WCHAR* path, bool devices, ExistingPath* out);

// ---------------------------------------------------------------------------
// Names (names.cpp): 8.3 names, masks, case-insensitive lookups.

bool IsLegalShortName(const WCHAR* name, size_t length);
// The generated 8.3 name into buffer (13 units and the terminator).
size_t MakeShortName(const WCHAR* name, size_t length, WCHAR* buffer);
bool HasWildcard(const WCHAR* text, size_t length);
bool HasInvalidNameChar(const WCHAR* text, size_t length);
// Looks a name up in a Unix folder: the exact name first, else the first
// entry equal to it without regard to case, or whose generated 8.3 name is.
// The entry's own name goes to `found`.
bool FindEntry(const char* folder, const WCHAR* name, size_t length, char* found, size_t capacity);
// The next entry of `directory` other than "." and ".."; null at the end,
// with *error the errno of a read that failed (0 at the true end: a folder
// read in part would pass for a smaller one).
struct dirent* ReadFolderEntry(DIR* directory, int* error);
// The names that a lookup of a missing name read from a big folder, handed
// once to the next search of that folder, which would otherwise read it
// again at once (a listing looks for desktop.ini, then searches the bin
// folder). True, with the names (each zero-terminated, one after another),
// when the folder whose status is `now` is the one read and unchanged since.
typedef GrowArray<char, char, PlainPolicy, SystemHeap> UnixNames;
bool TakeFolderNames(const struct stat& now, UnixNames* names);
// The kept names of a big folder follow this process's own changes.
void NoteNameAdded(const char* path);
void NoteNameRemoved(const char* path);
void ForgetFolderCache();

// ---------------------------------------------------------------------------
// File information as Wine reports it (files.cpp).

struct FileInfo {
    DWORD attributes;
    uint64_t size;
    FILETIME creation, access, write;
    dev_t device;
    ino_t inode;
};

// The information of `path`, whose last name is `name` (null for the root
// and for "." and ".."). A link is reported by its target; a dangling one
// does not exist.
bool GetFileInfo(const char* path, const char* name, FileInfo* info);
// A folder held open while its entries are described: each is then reached
// by its name relative to it, and a folder entry's ".." is known.
struct OpenFolder {
    int fd;
    struct stat status;
};
// The same from the status of `path` itself (lstat), already at hand.
// With `folder` (the one that holds `name`), what more it needs is asked
// relative to it.
bool DescribeFile(const char* path, const char* name, const struct stat& own, const OpenFolder* folder,
                  FileInfo* info);
bool IsDotName(const char* name);
const char* LastUnixName(const char* path);

// ---------------------------------------------------------------------------
// The console (console.cpp).

// Drops the bytes kept for the next key.
void ForgetHeldKeys();

}  // namespace posix

#endif
