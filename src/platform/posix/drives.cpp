// Drives and DOS paths on the POSIX backend: the drives are the links of the
// Wine prefix's dosdevices folder; a DOS path is made absolute against its
// drive's current directory, split into its names and resolved, name by
// name and without regard to case, to a Unix path; a last name such as NUL
// or COM1 is a DOS device, as under Wine.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/os_posix.h"
#include "platform/posix/posix.h"

namespace posix {

namespace {

// ---------------------------------------------------------------------------
// Drives: the links "a:" to "z:" in the dosdevices folder of the Wine prefix
// ($WINEPREFIX, else ~/.wine). Without that folder Z: is the root, as in a
// fresh prefix, and the WSL drive mounts give their letters. A link whose
// target is missing maps nothing.

struct DriveTable {
    bool loaded;
    char prefix[UNIX_PATH_BYTES];
    char* roots[26];  // real paths of the drives' folders
};

DriveTable sDrives;

// The drive made current by _chdrive, kept while the working directory is
// the one it set: two letters may name the same folder.
struct ChosenDrive {
    int drive;
    char cwd[UNIX_PATH_BYTES];
};

ChosenDrive sChosen;

void ReadPrefixFolder(char* out, size_t capacity) {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix != nullptr && prefix[0] != 0) {
        CopyString(out, capacity, prefix);
        return;
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == 0) {
        out[0] = 0;
        return;
    }
    std::snprintf(out, capacity, "%s/.wine", home);
}

void ForgetDrives() {
    for (char*& root : sDrives.roots) {
        std::free(root);
        root = nullptr;
    }
    sDrives.loaded = false;
}

char* DuplicateString(const char* text) {
    size_t length = std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy != nullptr) std::memcpy(copy, text, length + 1);
    return copy;
}

// ---------------------------------------------------------------------------
// Without a prefix, the drives of a WSL system come from the mount table: a
// drvfs mount (WSL 1), or a 9p mount whose options hold
// "aname=drvfs;path=X:\" (WSL 2), gives its folder to the letter X of its
// Windows path. Z: stays the root, so that every other path keeps its name.
// DUSTPAIL_MOUNTS names a table to read instead, for the tests.

const size_t MOUNT_LINE_BYTES = 8192;

// Undoes the table's octal escapes ("\040" for a blank) in place.
void UnescapeMountField(char* field) {
    char* out = field;
    for (const char* in = field; *in != 0;) {
        if (in[0] == '\\' && in[1] >= '0' && in[1] <= '3' && in[2] >= '0' && in[2] <= '7' &&
            in[3] >= '0' && in[3] <= '7') {
            *out++ = (char)((in[1] - '0') * 64 + (in[2] - '0') * 8 + (in[3] - '0'));
            in += 4;
        } else {
            *out++ = *in++;
        }
    }
    *out = 0;
}

// The drive index (0 for A) of a Windows path "X:" or "X:\...", else -1.
int LetterOfWindowsPath(const char* path) {
    char letter = path[0];
    if (letter >= 'a' && letter <= 'z') letter = (char)(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z' || path[1] != ':') return -1;
    if (path[2] != 0 && path[2] != '\\' && path[2] != '/') return -1;
    return letter - 'A';
}

// The drive index a mount stands for, or -1: fields are the table's source,
// folder, type and options.
int LetterOfMount(char* const fields[4]) {
    if (std::strcmp(fields[2], "drvfs") == 0) return LetterOfWindowsPath(fields[0]);
    if (std::strcmp(fields[2], "9p") != 0) return -1;
    const char* options = std::strstr(fields[3], "aname=drvfs");
    const char* path = options != nullptr ? std::strstr(options, ";path=") : nullptr;
    return path != nullptr ? LetterOfWindowsPath(path + 6) : -1;
}

void ReadMountedDrives() {
    const char* table = std::getenv("DUSTPAIL_MOUNTS");
    FILE* stream = std::fopen(table != nullptr && table[0] != 0 ? table : "/proc/self/mounts", "r");
    if (stream == nullptr) return;
    char line[MOUNT_LINE_BYTES];
    while (std::fgets(line, sizeof line, stream) != nullptr) {
        char* fields[4];
        int count = 0;
        for (char* token = std::strtok(line, " \t\n"); token != nullptr && count < 4;
             token = std::strtok(nullptr, " \t\n"))
            fields[count++] = token;
        if (count < 4) continue;
        for (char* field : fields) UnescapeMountField(field);
        int letter = LetterOfMount(fields);
        char target[PATH_MAX];
        struct stat info;
        if (letter < 0 || letter == 25 || realpath(fields[1], target) == nullptr ||
            stat(target, &info) != 0 || !S_ISDIR(info.st_mode))
            continue;
        // A later mount of the same letter covers an earlier one.
        std::free(sDrives.roots[letter]);
        sDrives.roots[letter] = DuplicateString(target);
    }
    std::fclose(stream);
}

void LoadDrives() {
    char prefix[UNIX_PATH_BYTES];
    ReadPrefixFolder(prefix, sizeof prefix);
    if (sDrives.loaded && std::strcmp(prefix, sDrives.prefix) == 0) return;
    ForgetDrives();
    sDrives.loaded = true;
    CopyString(sDrives.prefix, sizeof sDrives.prefix, prefix);
    char folder[UNIX_PATH_BYTES + 16];
    std::snprintf(folder, sizeof folder, "%s/dosdevices", prefix);
    struct stat info;
    if (prefix[0] == 0 || stat(folder, &info) != 0 || !S_ISDIR(info.st_mode)) {
        sDrives.roots[25] = DuplicateString("/");
        ReadMountedDrives();
        return;
    }
    for (int i = 0; i < 26; ++i) {
        char link[UNIX_PATH_BYTES + 24], target[PATH_MAX];
        std::snprintf(link, sizeof link, "%s/%c:", folder, 'a' + i);
        if (realpath(link, target) == nullptr) continue;
        if (stat(target, &info) != 0 || !S_ISDIR(info.st_mode)) continue;
        sDrives.roots[i] = DuplicateString(target);
    }
}

// ---------------------------------------------------------------------------
// DOS paths. A path is made absolute against the current directory of its
// drive and its "." and ".." are resolved by text, as Windows does before it
// looks at the disk; trailing dots and blanks of the last name are dropped.

bool AddPart(PathParts* parts, const WCHAR* text, size_t length) {
    if (parts->count >= MAX_PATH_PARTS || parts->used + length > WIDE_PATH_UNITS) return false;
    std::memcpy(parts->text + parts->used, text, length * sizeof(WCHAR));
    parts->start[parts->count] = (uint32_t)parts->used;
    parts->length[parts->count] = (uint32_t)length;
    parts->used += length;
    ++parts->count;
    return true;
}

void RemoveLastPart(PathParts* parts) {
    if (parts->count == 0) return;
    --parts->count;
    parts->used = parts->start[parts->count];
}

// Adds the components of a Unix folder below `root`.
bool AddUnixParts(PathParts* parts, const char* folder, const char* root) {
    long skip = RootContains(root, folder);
    const char* rest = folder + (skip < 0 ? 0 : skip);
    while (*rest != 0) {
        while (*rest == '/') ++rest;
        const char* end = std::strchr(rest, '/');
        size_t length = end != nullptr ? (size_t)(end - rest) : std::strlen(rest);
        if (length > 0) {
            WCHAR name[NAME_UNITS * 2];
            size_t units = UnixToWide(rest, length, name, sizeof name / sizeof name[0]);
            if (units > sizeof name / sizeof name[0] || !AddPart(parts, name, units)) return false;
        }
        if (end == nullptr) break;
        rest = end + 1;
    }
    return true;
}

// ---------------------------------------------------------------------------
// DOS devices. Wine takes a path's last name for a device when its base (up
// to its first '.' or ':', blanks at the end dropped) is NUL, CON, AUX, PRN,
// COM1-COM9 or LPT1-LPT9 in any case, whatever the folder holds, unless the
// path starts "\\?\" or "\\.\". The folder must exist all the same.
// A port (AUX stands for COM1, PRN for LPT1) is there when the prefix's
// dosdevices folder has it. The calls' answers are in platform-facts.md.

bool PrefixHasDevice(const char* name) {
    LoadDrives();
    if (sDrives.prefix[0] == 0) return false;
    char path[UNIX_PATH_BYTES + 32];
    std::snprintf(path, sizeof path, "%s/dosdevices/%s", sDrives.prefix, name);
    struct stat info;
    return stat(path, &info) == 0;
}

}  // namespace

const char* PrefixFolder() {
    LoadDrives();
    return sDrives.prefix;
}

const char* DriveRoot(int drive) {
    LoadDrives();
    if (drive < 1 || drive > 26) return nullptr;
    return sDrives.roots[drive - 1];
}

// The length of `root` when the folder `path` lies inside it, else -1.
long RootContains(const char* root, const char* path) {
    size_t length = std::strlen(root);
    if (length == 1 && root[0] == '/') return 1;
    if (std::strncmp(root, path, length) != 0) return -1;
    if (path[length] != 0 && path[length] != '/') return -1;
    return (long)length;
}

// The current drive (1 = A), or 0 when the working directory lies in no
// drive; the working directory's real path goes to cwd. The drive is the
// most specific one that holds it (the first letter among equals).
int CurrentDrive(char* cwd, size_t capacity) {
    LoadDrives();
    if (getcwd(cwd, capacity) == nullptr) {
        cwd[0] = 0;
        return 0;
    }
    if (sChosen.drive != 0 && std::strcmp(sChosen.cwd, cwd) == 0 &&
        sDrives.roots[sChosen.drive - 1] != nullptr &&
        RootContains(sDrives.roots[sChosen.drive - 1], cwd) >= 0)
        return sChosen.drive;
    int best = 0;
    long bestLength = -1;
    for (int i = 0; i < 26; ++i) {
        if (sDrives.roots[i] == nullptr) continue;
        long length = RootContains(sDrives.roots[i], cwd);
        if (length > bestLength) {
            bestLength = length;
            best = i + 1;
        }
    }
    return best;
}

int CurrentDrive() {
    char cwd[UNIX_PATH_BYTES];
    return CurrentDrive(cwd, sizeof cwd);
}

void NoteChosenDrive(int drive) {
    sChosen.drive = drive;
    if (getcwd(sChosen.cwd, sizeof sChosen.cwd) == nullptr) sChosen.drive = 0;
}

// The DOS form of a drive's current directory: the working directory for the
// current drive, the root for any other. Returns the length, or -1 for a
// drive that maps nothing. Outside every drive Wine shows "unix\..." .
long DriveDirectory(int drive, WCHAR* out, size_t capacity) {
    char cwd[UNIX_PATH_BYTES];
    int current = CurrentDrive(cwd, sizeof cwd);
    if (drive == 0) drive = current;
    size_t n = 0;
    auto put = [&](WCHAR ch) {
        if (n < capacity) out[n] = ch;
        ++n;
    };
    const char* rest;
    if (drive == 0) {
        if (cwd[0] == 0) return -1;
        for (const char* p = "unix"; *p != 0; ++p) put((WCHAR)*p);
        rest = cwd;
    } else {
        const char* root = DriveRoot(drive);
        if (root == nullptr) return -1;
        put((WCHAR)('A' + drive - 1));
        put(':');
        put('\\');
        rest = "";
        if (drive == current) {
            long length = RootContains(root, cwd);
            rest = cwd + (length == 1 ? 1 : length);
            if (*rest == '/') ++rest;
        }
    }
    while (*rest != 0) {
        const char* end = std::strchr(rest, '/');
        size_t length = end != nullptr ? (size_t)(end - rest) : std::strlen(rest);
        if (length > 0) {
            if (drive == 0 || n > 3) put('\\');
            WCHAR name[NAME_UNITS * 2];
            size_t units = UnixToWide(rest, length, name, sizeof name / sizeof name[0]);
            for (size_t i = 0; i < units && i < sizeof name / sizeof name[0]; ++i) put(name[i]);
        }
        if (end == nullptr) break;
        rest = end + 1;
    }
    if (n < capacity) out[n] = 0;
    return (long)n;
}

// Splits a DOS path into its drive and names. Returns 0 or a Win32 error.
DWORD ParseDosPath(const WCHAR* path, PathParts* parts) {
    parts->drive = 0;
    parts->count = 0;
    parts->used = 0;
    parts->trailingSeparator = false;
    parts->literal = false;
    parts->lastIsName = false;
    if (path == nullptr) return ERROR_INVALID_PARAMETER;
    if (path[0] == 0) return ERROR_PATH_NOT_FOUND;
    const WCHAR* p = path;
    if (IsPathSeparator(p[0]) && IsPathSeparator(p[1])) {
        // "\\?\X:\..." and "\\.\X:\..." name a drive path; anything else is a
        // network name, which no drive here serves.
        if ((p[2] == '?' || p[2] == '.') && IsPathSeparator(p[3]) && IsDriveLetter(p[4]) && p[5] == ':') {
            p += 4;
            parts->literal = true;
        } else
            return POSIX_ERROR_BAD_DEV_TYPE;
    }
    char cwd[UNIX_PATH_BYTES];
    int current = CurrentDrive(cwd, sizeof cwd);
    if (IsDriveLetter(p[0]) && p[1] == ':') {
        // A letter that maps nothing is kept: its names are then missing.
        parts->drive = WideUpperAscii(p[0]) - 'A' + 1;
        const char* root = DriveRoot(parts->drive);
        p += 2;
        if (!IsPathSeparator(*p) && parts->drive == current && !AddUnixParts(parts, cwd, root))
            return ERROR_FILENAME_EXCED_RANGE;
    } else {
        parts->drive = current;
        if (!IsPathSeparator(*p)) {
            const char* root = current != 0 ? DriveRoot(current) : "/";
            if (!AddUnixParts(parts, cwd, root)) return ERROR_FILENAME_EXCED_RANGE;
        }
    }
    bool lastWasName = false;
    while (*p != 0) {
        while (IsPathSeparator(*p)) ++p;
        const WCHAR* end = p;
        while (*end != 0 && !IsPathSeparator(*end)) ++end;
        size_t length = (size_t)(end - p);
        if (length == 0) break;
        lastWasName = false;
        if (length == 1 && p[0] == '.') {
            // the folder itself
        } else if (length == 2 && p[0] == '.' && p[1] == '.') {
            RemoveLastPart(parts);
        } else {
            // A name before a separator loses one trailing dot ("dir.\x").
            if (*end != 0 && length > 1 && p[length - 1] == '.') --length;
            if (!AddPart(parts, p, length)) return ERROR_FILENAME_EXCED_RANGE;
            lastWasName = true;
        }
        p = end;
    }
    size_t total = WideLength(path);
    parts->trailingSeparator = total > 0 && IsPathSeparator(path[total - 1]);
    if (lastWasName && !parts->trailingSeparator) {
        int last = parts->count - 1;
        while (parts->length[last] > 0) {
            WCHAR ch = parts->text[parts->start[last] + parts->length[last] - 1];
            if (ch != '.' && ch != ' ') break;
            --parts->length[last];
            --parts->used;
        }
        if (parts->length[last] == 0) {
            RemoveLastPart(parts);
            lastWasName = false;
        }
    }
    parts->lastIsName = lastWasName;
    return 0;
}

bool AppendUnix(char* path, size_t capacity, const char* name) {
    size_t length = std::strlen(path);
    bool slash = !(length == 1 && path[0] == '/');
    size_t extra = std::strlen(name) + (slash ? 1 : 0);
    if (length + extra + 1 > capacity) return false;
    if (slash) path[length++] = '/';
    std::memcpy(path + length, name, std::strlen(name) + 1);
    return true;
}

bool IsDirectory(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// The Unix path of the first `upto` names of a DOS path. Every name before
// the last must be a folder. The last may be missing (*lastMissing is set and
// its name appended as given), for the callers that create it.
// Returns 0 or a Win32 error.
DWORD ResolveParts(const PathParts* parts, int upto, char* out, size_t capacity, bool* lastMissing) {
    *lastMissing = false;
    const char* root = parts->drive != 0 ? DriveRoot(parts->drive) : "/";
    if (root == nullptr) return upto == 1 ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    CopyString(out, capacity, root);
    for (int i = 0; i < upto; ++i) {
        const WCHAR* name = PartText(parts, i);
        size_t length = parts->length[i];
        bool last = i == upto - 1;
        if (HasInvalidNameChar(name, length)) return ERROR_INVALID_NAME;
        if (i > 0 && !IsDirectory(out)) return ERROR_PATH_NOT_FOUND;
        // A colon is a character like any other on a Unix drive (Wine keeps
        // no streams there): "a:b" is a name.
        char found[NAME_UNITS * 4];
        if (!FindEntry(out, name, length, found, sizeof found)) {
            if (!last) return ERROR_PATH_NOT_FOUND;
            if (!WideToUnix(name, length, found, sizeof found)) return ERROR_FILENAME_EXCED_RANGE;
            *lastMissing = true;
        }
        if (!AppendUnix(out, capacity, found)) return ERROR_FILENAME_EXCED_RANGE;
    }
    return 0;
}

Device DeviceOf(const PathParts* parts) {
    Device device = {DEVICE_NONE, 0};
    if (parts->literal || !parts->lastIsName || parts->trailingSeparator || parts->count == 0)
        return device;
    const WCHAR* name = PartText(parts, parts->count - 1);
    size_t length = parts->length[parts->count - 1];
    size_t base = 0;
    while (base < length && name[base] != '.' && name[base] != ':') ++base;
    while (base > 0 && name[base - 1] == ' ') --base;
    if (base != 3 && base != 4) return device;
    char lower[5];
    for (size_t i = 0; i < base; ++i) {
        WCHAR ch = name[i];
        lower[i] = (char)(ch < 0x80 ? WideLowerAscii(ch) : '?');
    }
    lower[base] = 0;
    if (base == 3 && std::strcmp(lower, "nul") == 0) {
        device.kind = DEVICE_NUL;
    } else if (base == 3 && std::strcmp(lower, "con") == 0) {
        device.kind = DEVICE_CON;
    } else if (base == 3 && (std::strcmp(lower, "aux") == 0 || std::strcmp(lower, "prn") == 0)) {
        const char* port = lower[0] == 'a' ? "com1" : "lpt1";
        device.kind = PrefixHasDevice(lower) || PrefixHasDevice(port) ? DEVICE_PORT : DEVICE_NO_PORT;
    } else if (base == 4 && (std::strncmp(lower, "com", 3) == 0 || std::strncmp(lower, "lpt", 3) == 0) &&
               lower[3] >= '1' && lower[3] <= '9') {
        device.kind = PrefixHasDevice(lower) ? DEVICE_PORT : DEVICE_NO_PORT;
    }
    if (device.kind != DEVICE_NONE) device.baseLength = base;
    return device;
}

// The folder of a device name: 0 when it is there, else the error that
// every call gives for the device (ERROR_PATH_NOT_FOUND, even on a drive
// that maps nothing).
DWORD DeviceFolderError(const PathParts* parts) {
    char folder[UNIX_PATH_BYTES];
    bool missing = false;
    DWORD error = ResolveParts(parts, parts->count - 1, folder, sizeof folder, &missing);
    if (error == ERROR_FILE_NOT_FOUND || (error == 0 && (missing || !IsDirectory(folder))))
        error = ERROR_PATH_NOT_FOUND;
    return error;
}

// What deleting a device, moving it away or asking for its identity gives.
DWORD DeviceUseError(DeviceKind kind) {
    switch (kind) {
        case DEVICE_CON:
            return ERROR_INVALID_HANDLE;
        case DEVICE_NO_PORT:
            return ERROR_FILE_NOT_FOUND;
        default:
            return ERROR_INVALID_PARAMETER;
    }
}

DWORD ParseNamingDevice(const WCHAR* path, PathParts* parts, Device* device) {
    *device = Device{DEVICE_NONE, 0};
    DWORD error = ParseDosPath(path, parts);
    if (error != 0) return error;
    *device = DeviceOf(parts);
    return device->kind != DEVICE_NONE ? DeviceFolderError(parts) : 0;
}

PathParts* NewPathParts() {
    PathParts* parts = static_cast<PathParts*>(std::malloc(sizeof(PathParts)));
    if (parts == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return parts;
}

namespace {

DWORD ResolveExistingParts(const WCHAR* path, bool devices, ExistingPath* out) {
    DWORD error = devices ? ParseNamingDevice(path, out->parts, &out->device) : ParseDosPath(path, out->parts);
    if (error != 0 || out->device.kind != DEVICE_NONE) return error;
    bool missing;
    error = ResolveParts(out->parts, out->parts->count, out->unixPath, sizeof out->unixPath, &missing);
    if (error != 0) return error;
    return missing ? ERROR_FILE_NOT_FOUND : 0;
}

}  // namespace

void ResolveExisting(const WCHAR* path, bool devices, ExistingPath* out) {
    out->parts = NewPathParts();
    out->unixPath[0] = 0;
    out->device = Device{DEVICE_NONE, 0};
    out->error = out->parts == nullptr ? ERROR_NOT_ENOUGH_MEMORY : ResolveExistingParts(path, devices, out);
}

}  // namespace posix

void PosixResetState(void) {
    posix::ForgetDrives();
    posix::ForgetFolderCache();
    posix::sChosen.drive = 0;
    posix::ForgetLocale();
    posix::ForgetHeldKeys();
}
