// Folder searches on the POSIX backend (FindFirstFile, FindNextFile,
// FindClose) as Wine makes them: the whole listing is read at the first
// call, matched by Wine's mask rules against each name and its 8.3 name,
// and sorted as Wine sorts it.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/arrays.h"
#include "platform/posix/posix.h"

namespace posix {

namespace {

// ---------------------------------------------------------------------------
// Directory searches. The whole listing is read at the first call: "." and
// ".." first (not in a drive's root), then the other entries in Wine's order,
// without regard to case, names equal so far by their code units.

const uint32_t SEARCH_MAGIC = 0x44505348u;

struct FoundEntry {
    FileInfo info;
    WCHAR name[NAME_UNITS];
    WCHAR shortName[14];
};

typedef GrowArray<FoundEntry, const FoundEntry&, PlainPolicy, SystemHeap> FoundEntries;

struct Search {
    uint32_t magic = SEARCH_MAGIC;
    int32_t next = 0;
    size_t dropped = 0;  // matching names that were left out (dangling links, ignored folders)
    FoundEntries entries;
};

int CompareNames(const WCHAR* a, const WCHAR* b) {
    size_t aLength = WideLength(a), bLength = WideLength(b);
    size_t n = aLength < bLength ? aLength : bLength;
    for (size_t i = 0; i < n; ++i) {
        int difference = (int)Upcase(a[i]) - (int)Upcase(b[i]);
        if (difference != 0) return difference;
    }
    if (aLength != bLength) return aLength < bLength ? -1 : 1;
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return (int)a[i] - (int)b[i];
    return 0;
}

int CompareEntries(const void* a, const void* b) {
    return CompareNames(static_cast<const FoundEntry*>(a)->name, static_cast<const FoundEntry*>(b)->name);
}

bool AddFound(Search* search, const FileInfo& info, const WCHAR* name, size_t length,
              const WCHAR* shortName) {
    FoundEntry entry;
    entry.info = info;
    std::memcpy(entry.name, name, length * sizeof(WCHAR));
    entry.name[length] = 0;
    size_t shortLength = WideLength(shortName);
    std::memcpy(entry.shortName, shortName, (shortLength + 1) * sizeof(WCHAR));
    return search->entries.Add(entry) >= 0;
}

void FreeSearch(Search* search) {
    if (search == nullptr) return;
    search->magic = 0;
    delete search;
}

// Folders that Wine leaves out of every listing: the prefix itself, /dev,
// /proc and /sys.
bool IsIgnoredFolder(const FileInfo& info) {
    const char* folders[4] = {PrefixFolder(), "/dev", "/proc", "/sys"};
    for (const char* folder : folders) {
        struct stat st;
        if (folder[0] != 0 && stat(folder, &st) == 0 && st.st_dev == info.device && st.st_ino == info.inode)
            return true;
    }
    return false;
}

// Adds the entry `unixName` of `folder` when its name, or its generated
// 8.3 name, matches the mask.
bool AddIfMatching(Search* search, const char* folder, const char* unixName, const WCHAR* mask,
                   size_t maskLength) {
    WCHAR name[NAME_UNITS];
    size_t length = UnixToWide(unixName, std::strlen(unixName), name, NAME_UNITS);
    if (length >= NAME_UNITS) return true;  // too long for a Windows name: not listed
    WCHAR shortName[14] = {0};
    size_t shortLength = 0;
    if (!IsLegalShortName(name, length)) shortLength = MakeShortName(name, length, shortName);
    if (!WildcardMatch(name, length, mask, maskLength) &&
        (shortLength == 0 || !WildcardMatch(shortName, shortLength, mask, maskLength)))
        return true;
    char path[UNIX_PATH_BYTES];
    CopyString(path, sizeof path, folder);
    if (!IsDotName(unixName) || std::strcmp(unixName, "..") == 0) {
        if (!AppendUnix(path, sizeof path, unixName)) return true;
    }
    FileInfo info;
    if (!GetFileInfo(path, IsDotName(unixName) ? nullptr : unixName, &info) || IsIgnoredFolder(info)) {
        ++search->dropped;
        return true;
    }
    return AddFound(search, info, name, length, shortName);
}

HANDLE StartSearch(const WCHAR* pattern) {
    PathParts* parts = NewPathParts();
    if (parts == nullptr) return INVALID_HANDLE_VALUE;
    DWORD error = ParseDosPath(pattern, parts);
    // A bare drive ("X:") names no entry, even where its directory is not the root.
    bool bareDrive = pattern != nullptr && IsDriveLetter(pattern[0]) && pattern[1] == ':' && pattern[2] == 0;
    if (error == 0 && (parts->count == 0 || parts->trailingSeparator || bareDrive)) error = ERROR_FILE_NOT_FOUND;
    Device device = {DEVICE_NONE, 0};
    if (error == 0) device = DeviceOf(parts);
    char folder[UNIX_PATH_BYTES];
    bool missing = false;
    if (error == 0 && device.kind != DEVICE_NONE) {
        error = DeviceFolderError(parts);
    } else if (error == 0) {
        error = ResolveParts(parts, parts->count - 1, folder, sizeof folder, &missing);
        if (error == ERROR_FILE_NOT_FOUND) error = ERROR_PATH_NOT_FOUND;  // the folder is missing
    }
    if (error == 0 && device.kind == DEVICE_NONE && (missing || !IsDirectory(folder)))
        error = parts->count >= 2 && !missing ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND;
    Search* search = nullptr;
    if (error == 0) {
        search = new (std::nothrow) Search();
        if (search == nullptr) error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (error != 0) {
        std::free(parts);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    const WCHAR* mask = PartText(parts, parts->count - 1);
    size_t maskLength = parts->length[parts->count - 1];
    static const WCHAR STAR_DOT_STAR[] = {'*', '.', '*'};
    if (maskLength == 3 && std::memcmp(mask, STAR_DOT_STAR, sizeof STAR_DOT_STAR) == 0) maskLength = 1;

    bool ok = true;
    char exact[NAME_UNITS * 4];
    struct stat st;
    char exactPath[UNIX_PATH_BYTES];
    if (device.kind != DEVICE_NONE) {
        // The device alone, named as typed, with a wildcard in the name or not.
        FileInfo info = {};
        info.attributes = FILE_ATTRIBUTE_ARCHIVE;
        WCHAR none[1] = {0};
        ok = AddFound(search, info, mask, device.baseLength, none);
    } else if (!HasWildcard(mask, maskLength) && WideToUnix(mask, maskLength, exact, sizeof exact) &&
        std::snprintf(exactPath, sizeof exactPath, "%s/%s", folder, exact) < (int)sizeof exactPath &&
        lstat(exactPath, &st) == 0) {
        // A plain name that exists as typed is the one entry.
        ok = AddIfMatching(search, folder, exact, mask, maskLength);
    } else {
        int32_t dots = 0;
        if (parts->count >= 2) {
            ok = AddIfMatching(search, folder, ".", mask, maskLength) &&
                 AddIfMatching(search, folder, "..", mask, maskLength);
            dots = search->entries.Length();
        }
        DIR* directory = ok ? opendir(folder) : nullptr;
        if (directory != nullptr) {
            while (struct dirent* entry = readdir(directory)) {
                if (IsDotName(entry->d_name)) continue;
                if (!AddIfMatching(search, folder, entry->d_name, mask, maskLength)) {
                    ok = false;
                    break;
                }
            }
            closedir(directory);
        }
        if (search->entries.Length() > dots)
            std::qsort(search->entries.storage + dots, (size_t)(search->entries.Length() - dots),
                       sizeof(FoundEntry), CompareEntries);
    }
    std::free(parts);
    if (!ok || search->entries.Length() == 0) {
        // Names that matched but were all left out end the search at once.
        SetLastError(!ok ? ERROR_NOT_ENOUGH_MEMORY : search->dropped > 0 ? ERROR_NO_MORE_FILES : ERROR_FILE_NOT_FOUND);
        FreeSearch(search);
        return INVALID_HANDLE_VALUE;
    }
    return search;
}

Search* AsSearch(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    Search* search = static_cast<Search*>(handle);
    return search->magic == SEARCH_MAGIC ? search : nullptr;
}

// The search's next entry; null (last error set) when it has none left or
// is no search.
const FoundEntry* TakeNext(HANDLE handle) {
    Search* search = AsSearch(handle);
    if (search == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (search->next >= search->entries.Length()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return nullptr;
    }
    return &search->entries.storage[search->next++];
}

// The fields that both forms of a search record have alike.
template <typename FindData>
void FillFixedFields(const FoundEntry& entry, FindData* data) {
    std::memset(data, 0, sizeof *data);
    data->dwFileAttributes = entry.info.attributes;
    data->ftCreationTime = entry.info.creation;
    data->ftLastAccessTime = entry.info.access;
    data->ftLastWriteTime = entry.info.write;
    data->nFileSizeHigh = (DWORD)(entry.info.size >> 32);
    data->nFileSizeLow = (DWORD)entry.info.size;
}

void FillWide(const FoundEntry& entry, WIN32_FIND_DATAW* data) {
    FillFixedFields(entry, data);
    std::memcpy(data->cFileName, entry.name, (WideLength(entry.name) + 1) * sizeof(WCHAR));
    std::memcpy(data->cAlternateFileName, entry.shortName, (WideLength(entry.shortName) + 1) * sizeof(WCHAR));
}

void FillAnsi(const FoundEntry& entry, WIN32_FIND_DATAA* data) {
    FillFixedFields(entry, data);
    WideCharToMultiByte(CP_ACP, 0, entry.name, -1, data->cFileName, MAX_PATH, nullptr, nullptr);
    WideCharToMultiByte(CP_ACP, 0, entry.shortName, -1, data->cAlternateFileName, 14, nullptr, nullptr);
}

}  // namespace

}  // namespace posix

using namespace posix;

HANDLE FindFirstFileW(const WCHAR* pattern, WIN32_FIND_DATAW* data) {
    HANDLE handle = StartSearch(pattern);
    if (handle != INVALID_HANDLE_VALUE) FillWide(*TakeNext(handle), data);
    return handle;
}

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
    HANDLE handle = CallWithWidePath(pattern, INVALID_HANDLE_VALUE, StartSearch);
    if (handle != INVALID_HANDLE_VALUE) FillAnsi(*TakeNext(handle), data);
    return handle;
}

BOOL FindNextFileW(HANDLE handle, WIN32_FIND_DATAW* data) {
    const FoundEntry* entry = TakeNext(handle);
    if (entry != nullptr) FillWide(*entry, data);
    return entry != nullptr;
}

BOOL FindNextFileA(HANDLE handle, WIN32_FIND_DATAA* data) {
    const FoundEntry* entry = TakeNext(handle);
    if (entry != nullptr) FillAnsi(*entry, data);
    return entry != nullptr;
}

BOOL FindClose(HANDLE handle) {
    Search* search = AsSearch(handle);
    if (search == nullptr) return FailWithError(ERROR_INVALID_HANDLE);
    FreeSearch(search);
    return TRUE;
}
