// Full paths for the names given after /f: joined to the current directory
// of their drive, then cleared of "." and ".." components, with '\' for
// every separator. The name itself never goes to the system's full-path
// service; only the current directory of a drive is asked for.
#include <cstring>

#include "ops/ops.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"

namespace {


// A component of exactly "." or "..": the dots followed by the end or a
// separator.
bool IsDotComponent(const WCHAR* at, size_t dots) {
    for (size_t i = 0; i < dots; ++i)
        if (at[i] != '.') return false;
    return at[dots] == 0 || IsPathSeparator(at[dots]);
}

// Past a run of separators after the one at `in - 1`: the system reads a
// run as one, and so is it stored ("T:\a\\b" is "T:\a\b").
size_t SkipExtraSeparators(const WCHAR* source, size_t in) {
    while (IsPathSeparator(source[in])) ++in;
    return in;
}

// Copies one component and the separator after it, if any. Returns the
// position after what was read.
size_t CopyComponent(const WCHAR* source, size_t in, WCHAR* out, size_t* used) {
    while (source[in] != 0 && !IsPathSeparator(source[in])) out[(*used)++] = source[in++];
    if (source[in] != 0) out[(*used)++] = source[in++];
    return SkipExtraSeparators(source, in);
}

// The normalised form of `source` into `out`; false when a ".." would climb
// over the first component, in which case the path is kept as it is.
bool NormaliseInto(const WCHAR* source, WCHAR* out) {
    size_t in = 0, used = 0, floor = 0;
    if (IsPathSeparator(source[0]) && IsPathSeparator(source[1])) {
        out[used++] = source[in++];
        out[used++] = source[in++];
        floor = used;
    }
    if (IsPathSeparator(source[in]) || IsDotComponent(source + in, 2)) return false;

    in = CopyComponent(source, in, out, &used);
    // From here on, every component starts right after a separator that has
    // already been written.
    while (source[in] != 0) {
        const WCHAR* at = source + in;
        if (IsDotComponent(at, 1)) {
            --used;  // the separator before "."
            if (at[1] != 0) out[used++] = at[1];
            in = SkipExtraSeparators(source, in + (at[1] != 0 ? 2 : 1));
        } else if (IsDotComponent(at, 2)) {
            size_t walk = used - 1;  // on the separator before ".."
            while (walk > floor && !IsPathSeparator(out[walk - 1])) --walk;
            if (walk == floor) return false;
            used = walk - 1;  // drops the previous component and both separators
            if (at[2] != 0) out[used++] = at[2];
            in = SkipExtraSeparators(source, in + (at[2] != 0 ? 3 : 2));
        } else {
            in = CopyComponent(source, in, out, &used);
        }
    }
    out[used] = 0;
    return true;
}

// Joins a directory and a name into `buffer`, inserting a backslash unless
// the directory already ends with one. The buffer must hold both.
void JoinDirectory(WCHAR* buffer, const WCHAR* name) {
    size_t length = WideLength(buffer);
    if (length == 0 || buffer[length - 1] != '\\') buffer[length++] = '\\';
    std::memcpy(buffer + length, name, (WideLength(name) + 1) * sizeof(WCHAR));
}

}  // namespace

// Windows' full paths (GetFullPathName) hold '\' only: a '/' typed as a
// separator is stored and shown as '\', so that the record reads as the
// system's own and its last name is found.
void UseBackslashes(WCHAR* path) {
    for (; *path != 0; ++path)
        if (*path == '/') *path = '\\';
}

WCHAR* GetDriveDirectory(int drive, WCHAR* buffer, int capacity) {
    if (FsGetDriveDirectoryW(drive, buffer, capacity) != nullptr) return buffer;
    // The runtime's ANSI form, read into a buffer of our own so that no
    // allocation of the runtime crosses into the program.
    char ansi[FULL_PATH_CHARS];
    if (FsGetDriveDirectoryA(drive, ansi, (int)sizeof ansi) == nullptr) return nullptr;
    ansi[sizeof ansi - 1] = 0;
    int converted = AnsiToWideBuffer(buffer, capacity, ansi);
    if (converted < 0 || converted + 1 >= capacity) return nullptr;
    return buffer;
}

void NormalisePath(const WCHAR* source, WCHAR* destination) {
    size_t length = WideLength(source);
    // The work is done on a copy, so that a path kept unchanged is still
    // whole when source and destination are the same buffer.
    WCHAR local[2 * FULL_PATH_CHARS];
    WCHAR* copy = local;
    if (length >= sizeof local / sizeof local[0]) {
        copy = static_cast<WCHAR*>(MemAlloc((length + 1) * sizeof(WCHAR)));
        if (copy == nullptr) {
            // Without room for a copy the path stays as it is.
            if (destination != source) std::memmove(destination, source, (length + 1) * sizeof(WCHAR));
            return;
        }
    }
    std::memcpy(copy, source, (length + 1) * sizeof(WCHAR));
    if (!NormaliseInto(copy, destination)) std::memmove(destination, copy, (length + 1) * sizeof(WCHAR));
    if (copy != local) MemFree(copy);
}

// The result always has room for FULL_PATH_CHARS characters and the zero.
// A full path that needs FULL_PATH_CHARS characters or more comes back cut
// to exactly FULL_PATH_CHARS, so that the caller can tell it from one that
// fits and refuse it. Returns null only when memory runs out.
WCHAR* MakeFullPath(const WCHAR* name) {
    size_t nameLength = WideLength(name);
    bool driveColon = nameLength >= 2 && name[1] == ':';
    // "X:\" and "X:/" are rooted at the drive, as the system resolves them.
    bool absolute = driveColon && IsPathSeparator(name[2]);
    bool driveRelative = driveColon && !absolute;
    // "\dir" (but not "\\server") is rooted at the current drive.
    bool rooted = !driveColon && IsPathSeparator(name[0]) && !IsPathSeparator(name[1]);

    WCHAR directory[FULL_PATH_CHARS];
    directory[0] = 0;
    const WCHAR* rest = name;
    bool haveDirectory = false;
    if (driveRelative) {
        // "A" or "a" is drive 1; anything but a letter names no drive.
        haveDirectory = IsDriveLetter(name[0]) &&
                        GetDriveDirectory(WideUpperAscii(name[0]) - 64, directory,
                                          FULL_PATH_CHARS) != nullptr;
        if (haveDirectory) rest = name + 2;
    } else if (!absolute && !(IsPathSeparator(name[0]) && IsPathSeparator(name[1]))) {
        haveDirectory = GetDriveDirectory(0, directory, FULL_PATH_CHARS) != nullptr;
        // A rooted name keeps only the drive ("C:") of the directory.
        bool hasDrive = directory[0] != 0 && directory[1] == ':';
        if (haveDirectory && rooted) directory[hasDrive ? 2 : 0] = 0;
    }

    size_t directoryLength = WideLength(directory);
    size_t capacity = directoryLength + 1 + nameLength + 1;
    if (capacity < FULL_PATH_CHARS + 1) capacity = FULL_PATH_CHARS + 1;
    WCHAR* buffer = static_cast<WCHAR*>(MemAlloc(capacity * sizeof(WCHAR)));
    if (buffer == nullptr) return nullptr;

    if (haveDirectory && rooted) {
        std::memcpy(buffer, directory, directoryLength * sizeof(WCHAR));
        std::memcpy(buffer + directoryLength, name, (nameLength + 1) * sizeof(WCHAR));
    } else if (haveDirectory) {
        std::memcpy(buffer, directory, (directoryLength + 1) * sizeof(WCHAR));
        JoinDirectory(buffer, rest);
    } else {
        // Absolute and network names as typed; a name whose drive has no
        // current directory stays as typed too, and the throw refuses it.
        std::memcpy(buffer, name, (nameLength + 1) * sizeof(WCHAR));
    }
    NormalisePath(buffer, buffer);
    UseBackslashes(buffer);
    if (WideLength(buffer) > (size_t)FULL_PATH_CHARS) buffer[FULL_PATH_CHARS] = 0;
    return buffer;
}

namespace {

// Cuts the last name of a path: "X:\a\b" to "X:\a", "X:\a" to the root
// "X:\". False when only the root (the first `root` characters) is left.
bool CutLastName(WCHAR* path, size_t root) {
    size_t length = WideLength(path);
    while (length > root && IsPathSeparator(path[length - 1])) --length;
    size_t end = length;
    while (end > root && !IsPathSeparator(path[end - 1])) --end;
    if (end == length) return false;
    while (end > root && IsPathSeparator(path[end - 1])) --end;
    path[end] = 0;
    return true;
}

}  // namespace

bool PathWithin(const WCHAR* fullPath, bool followSelf, const FileIdentity& folder) {
    WCHAR path[2 * FULL_PATH_CHARS];
    if (!WideCopy(path, sizeof path / sizeof path[0], fullPath)) return false;
    size_t root = path[0] != 0 && path[1] == ':' && IsPathSeparator(path[2]) ? 3 : 0;
    bool follow = followSelf;
    do {
        FileIdentity identity;
        if (FsGetFileIdentity(path, follow, &identity) && FsSameFile(identity, folder)) return true;
        follow = true;  // the folders above are reached through their links
    } while (CutLastName(path, root));
    return false;
}
