// Folder searches on the POSIX backend (FindFirstFile, FindNextFile,
// FindClose) as Wine makes them: the whole listing is read at the first
// call, matched by Wine's mask rules against each name and its 8.3 name,
// and sorted as Wine sorts it.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
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

// An entry's name lives in its search's pool, followed by its upper-case
// form, which the sort compares first.
struct FoundEntry {
    FileInfo info;
    uint32_t nameAt;
    uint32_t nameLength;
    WCHAR shortName[14];
};

typedef GrowArray<FoundEntry, const FoundEntry&, PlainPolicy, SystemHeap> FoundEntries;
typedef GrowArray<WCHAR, WCHAR, PlainPolicy, SystemHeap> NamePool;

// Folders that Wine leaves out of every listing: the prefix itself, /dev,
// /proc and /sys. Their identities are looked up once per search, when it
// first meets a folder: a search is one moment, while over a run the prefix
// may be made, removed or named anew.
const int IGNORED_FOLDERS = 4;

struct IgnoredFolders {
    bool known;
    bool present[IGNORED_FOLDERS];
    dev_t device[IGNORED_FOLDERS];
    ino_t inode[IGNORED_FOLDERS];
};

struct Search {
    uint32_t magic = SEARCH_MAGIC;
    int32_t next = 0;
    size_t dropped = 0;  // matching names that were left out (dangling links, ignored folders)
    IgnoredFolders ignored = {};
    FoundEntries entries;
    NamePool names;
    int32_t* order = nullptr;  // the entries' indexes in the order given, once sorted (std::free)
};

// The folder a search reads: its Unix path, and, while its entries are
// read, the folder held open, against which each of them is described.
struct SearchFolder {
    const char* path;
    size_t pathLength;
    OpenFolder open;
};

// The path of the folder's entry `name` (of `nameLength` bytes; null for
// the folder itself) into `path`; false when it does not fit. Lengths are
// known beforehand: this runs once for every entry of a folder.
bool EntryPath(const SearchFolder& folder, const char* name, size_t nameLength, char (&path)[UNIX_PATH_BYTES]) {
    size_t at = folder.pathLength;
    bool slash = name != nullptr && !(at == 1 && folder.path[0] == '/');
    if (at + (slash ? 1 : 0) + (name != nullptr ? nameLength : 0) + 1 > sizeof path) return false;
    std::memcpy(path, folder.path, at);
    if (slash) path[at++] = '/';
    if (name != nullptr) std::memcpy(path + at, name, nameLength);
    path[at + (name != nullptr ? nameLength : 0)] = 0;
    return true;
}

const WCHAR* NameOf(const Search* search, const FoundEntry& entry) { return search->names.storage + entry.nameAt; }

// Wine's order: without regard to case, then names equal so far by their
// code units.
int CompareEntries(const Search* search, const FoundEntry& x, const FoundEntry& y) {
    const WCHAR* xName = NameOf(search, x);
    const WCHAR* yName = NameOf(search, y);
    size_t n = x.nameLength < y.nameLength ? x.nameLength : y.nameLength;
    const WCHAR* xFolded = xName + x.nameLength + 1;
    const WCHAR* yFolded = yName + y.nameLength + 1;
    for (size_t i = 0; i < n; ++i)
        if (xFolded[i] != yFolded[i]) return (int)xFolded[i] - (int)yFolded[i];
    if (x.nameLength != y.nameLength) return x.nameLength < y.nameLength ? -1 : 1;
    for (size_t i = 0; i < n; ++i)
        if (xName[i] != yName[i]) return (int)xName[i] - (int)yName[i];
    return 0;
}

// An entry's first eight upper-case units packed into two numbers (a name
// that ends earlier is padded with 0, below every unit), so that most
// comparisons of a big folder's names touch neither the names nor their
// pool; only names whose keys are equal are compared whole.
struct SortKey {
    uint64_t high;
    uint64_t low;
    int32_t entry;
};

SortKey KeyOf(const Search* search, int32_t index) {
    const FoundEntry& entry = search->entries.storage[index];
    const WCHAR* folded = NameOf(search, entry) + entry.nameLength + 1;
    uint64_t units[8] = {0};
    for (size_t i = 0; i < 8 && i < entry.nameLength; ++i) units[i] = folded[i];
    SortKey key;
    key.high = units[0] << 48 | units[1] << 32 | units[2] << 16 | units[3];
    key.low = units[4] << 48 | units[5] << 32 | units[6] << 16 | units[7];
    key.entry = index;
    return key;
}

// Orders the entries from `first` on (search->order); false when memory
// runs out.
bool SortEntries(Search* search, int32_t first) {
    int32_t count = search->entries.Length() - first;
    if (count < 2) return true;
    SortKey* keys = static_cast<SortKey*>(std::malloc(sizeof(SortKey) * (size_t)count));
    search->order = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * (size_t)search->entries.Length()));
    bool ok = keys != nullptr && search->order != nullptr;
    if (ok) {
        for (int32_t i = 0; i < count; ++i) keys[i] = KeyOf(search, first + i);
        std::sort(keys, keys + count, [search](const SortKey& a, const SortKey& b) {
            if (a.high != b.high) return a.high < b.high;
            if (a.low != b.low) return a.low < b.low;
            const FoundEntry* entries = search->entries.storage;
            int order = CompareEntries(search, entries[a.entry], entries[b.entry]);
            return order != 0 ? order < 0 : a.entry < b.entry;
        });
        for (int32_t i = 0; i < first; ++i) search->order[i] = i;
        for (int32_t i = 0; i < count; ++i) search->order[first + i] = keys[i].entry;
    }
    std::free(keys);
    return ok;
}

// The name, its terminator and its upper-case form go to the pool.
bool AddFound(Search* search, const FileInfo& info, const WCHAR* name, size_t length,
              const WCHAR* shortName) {
    FoundEntry entry;
    entry.info = info;
    entry.nameAt = (uint32_t)search->names.Length();
    entry.nameLength = (uint32_t)length;
    size_t shortLength = WideLength(shortName);
    std::memcpy(entry.shortName, shortName, (shortLength + 1) * sizeof(WCHAR));
    NamePool& names = search->names;
    int32_t used = names.Length();
    int32_t units = (int32_t)(2 * length + 1);
    if (!names.Reserve(units)) return false;
    WCHAR* at = names.storage + used;
    std::memcpy(at, name, length * sizeof(WCHAR));
    at[length] = 0;
    for (size_t i = 0; i < length; ++i)
        at[length + 1 + i] = name[i] < 0x80 ? WideUpperAscii(name[i]) : Upcase(name[i]);
    names.length = used + units;
    if (search->entries.Add(entry) >= 0) return true;
    names.length = used;
    return false;
}

void FreeSearch(Search* search) {
    if (search == nullptr) return;
    search->magic = 0;
    std::free(search->order);
    delete search;
}

bool IsIgnoredFolder(Search* search, const FileInfo& info) {
    if ((info.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
    IgnoredFolders& ignored = search->ignored;
    if (!ignored.known) {
        const char* folders[IGNORED_FOLDERS] = {PrefixFolder(), "/dev", "/proc", "/sys"};
        for (int i = 0; i < IGNORED_FOLDERS; ++i) {
            struct stat st;
            ignored.present[i] = folders[i][0] != 0 && stat(folders[i], &st) == 0;
            ignored.device[i] = ignored.present[i] ? st.st_dev : 0;
            ignored.inode[i] = ignored.present[i] ? st.st_ino : 0;
        }
        ignored.known = true;
    }
    for (int i = 0; i < IGNORED_FOLDERS; ++i)
        if (ignored.present[i] && ignored.device[i] == info.device && ignored.inode[i] == info.inode)
            return true;
    return false;
}

// Adds the entry `unixName` of the folder when its name, or its generated
// 8.3 name, matches the mask. `own` is the entry's own status when the
// caller has it already.
bool AddIfMatching(Search* search, const SearchFolder& folder, const char* unixName, const struct stat* own,
                   const WCHAR* mask, size_t maskLength) {
    WCHAR name[NAME_UNITS];
    size_t unixLength = std::strlen(unixName);
    size_t length = UnixToWide(unixName, unixLength, name, NAME_UNITS);
    if (length >= NAME_UNITS) return true;  // too long for a Windows name: not listed
    WCHAR shortName[14] = {0};
    size_t shortLength = 0;
    if (!IsLegalShortName(name, length)) shortLength = MakeShortName(name, length, shortName);
    if (!WildcardMatch(name, length, mask, maskLength) &&
        (shortLength == 0 || !WildcardMatch(shortName, shortLength, mask, maskLength)))
        return true;
    char path[UNIX_PATH_BYTES];
    bool dotName = IsDotName(unixName);
    if (!EntryPath(folder, dotName && unixLength == 1 ? nullptr : unixName, unixLength, path)) return true;
    // An entry read from the open folder is described by one status call
    // relative to it; "." and ".." by their paths.
    struct stat status;
    bool described = false;
    FileInfo info;
    if (dotName) {
        described = GetFileInfo(path, nullptr, &info);
    } else if (own != nullptr) {
        described = DescribeFile(path, unixName, *own, nullptr, &info);
    } else {
        described = fstatat(folder.open.fd, unixName, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                    DescribeFile(path, unixName, status, &folder.open, &info);
    }
    if (!described || IsIgnoredFolder(search, info)) {
        ++search->dropped;
        return true;
    }
    return AddFound(search, info, name, length, shortName);
}

// Adds the matching entries among `names`; false when memory runs out.
bool AddMatchingNames(Search* search, const SearchFolder& folder, const UnixNames& names, const WCHAR* mask,
                      size_t maskLength) {
    for (int32_t at = 0; at < names.Length(); at += (int32_t)std::strlen(names.storage + at) + 1)
        if (!AddIfMatching(search, folder, names.storage + at, nullptr, mask, maskLength)) return false;
    return true;
}

// Adds the matching entries of the folder as it reads them; 0, or the error
// that stopped the read (a folder read in part would pass for a smaller one).
DWORD AddMatchingRead(Search* search, const SearchFolder& folder, DIR* directory, const WCHAR* mask,
                      size_t maskLength) {
    int error = 0;
    while (struct dirent* entry = ReadFolderEntry(directory, &error))
        if (!AddIfMatching(search, folder, entry->d_name, nullptr, mask, maskLength)) return ERROR_NOT_ENOUGH_MEMORY;
    return error == 0 ? 0 : ErrorFromErrno(error);
}

// Adds the matching entries of the whole folder, sorted after the `dots`
// already there: its names as a lookup just read them, while it is
// unchanged, else as read now. 0, or the error that stopped the search.
DWORD AddMatchingEntries(Search* search, SearchFolder* folder, const WCHAR* mask, size_t maskLength) {
    int32_t dots = search->entries.Length();
    DWORD error = 0;
    int fd = open(folder->path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    folder->open.fd = fd;
    UnixNames names;
    if (fd < 0 || fstat(fd, &folder->open.status) != 0) {
        // A folder that cannot be opened lists as empty, as it always has.
    } else if (TakeFolderNames(folder->open.status, &names)) {
        if (!AddMatchingNames(search, *folder, names, mask, maskLength)) error = ERROR_NOT_ENOUGH_MEMORY;
    } else if (DIR* directory = fdopendir(fd)) {
        error = AddMatchingRead(search, *folder, directory, mask, maskLength);
        closedir(directory);  // closes fd
        fd = -1;
    }
    if (fd >= 0) close(fd);
    folder->open.fd = -1;
    if (error == 0 && !SortEntries(search, dots)) error = ERROR_NOT_ENOUGH_MEMORY;
    return error;
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
    folder[0] = 0;  // a device has no folder
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
    SearchFolder searched = {folder, std::strlen(folder), {-1, {}}};
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
        ok = AddIfMatching(search, searched, exact, &st, mask, maskLength);
    } else {
        if (parts->count >= 2)
            ok = AddIfMatching(search, searched, ".", nullptr, mask, maskLength) &&
                 AddIfMatching(search, searched, "..", nullptr, mask, maskLength);
        error = ok ? AddMatchingEntries(search, &searched, mask, maskLength) : 0;
    }
    std::free(parts);
    if (!ok) error = ERROR_NOT_ENOUGH_MEMORY;
    if (error != 0 || search->entries.Length() == 0) {
        // Names that matched but were all left out end the search at once.
        SetLastError(error != 0 ? error : search->dropped > 0 ? ERROR_NO_MORE_FILES : ERROR_FILE_NOT_FOUND);
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

// A big folder's entries are taken in name order, far apart in memory, and
// each would wait for its own read. The entry a few calls ahead is asked
// for now, and the name of the one half as far ahead, whose entry was asked
// for before, so that these reads overlap the work between calls.
const int32_t PREFETCH_DISTANCE = 16;

// The search's next entry and its name; null (last error set) when it has
// none left or is no search.
const FoundEntry* TakeNext(HANDLE handle, const WCHAR** name) {
    Search* search = AsSearch(handle);
    if (search == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (search->next >= search->entries.Length()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return nullptr;
    }
    int32_t at = search->next++;
    const FoundEntry* entry = &search->entries.storage[search->order != nullptr ? search->order[at] : at];
    // Written out here: GCC drops a call to a function that only prefetches.
    if (search->order != nullptr && at + PREFETCH_DISTANCE < search->entries.Length()) {
        const FoundEntry* ahead = &search->entries.storage[search->order[at + PREFETCH_DISTANCE]];
        __builtin_prefetch(ahead);
        __builtin_prefetch(reinterpret_cast<const char*>(ahead + 1) - 1);
        __builtin_prefetch(NameOf(search, search->entries.storage[search->order[at + PREFETCH_DISTANCE / 2]]));
    }
    *name = NameOf(search, *entry);
    return entry;
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

void FillWide(const FoundEntry& entry, const WCHAR* name, WIN32_FIND_DATAW* data) {
    FillFixedFields(entry, data);
    std::memcpy(data->cFileName, name, (entry.nameLength + 1) * sizeof(WCHAR));
    std::memcpy(data->cAlternateFileName, entry.shortName, (WideLength(entry.shortName) + 1) * sizeof(WCHAR));
}

void FillAnsi(const FoundEntry& entry, const WCHAR* name, WIN32_FIND_DATAA* data) {
    FillFixedFields(entry, data);
    WideCharToMultiByte(CP_ACP, 0, name, -1, data->cFileName, MAX_PATH, nullptr, nullptr);
    WideCharToMultiByte(CP_ACP, 0, entry.shortName, -1, data->cAlternateFileName, 14, nullptr, nullptr);
}

// The first entry of a new search, or the next of one under way, into
// `data`; null when there is none.
template <typename FindData, typename Fill>
bool TakeInto(HANDLE handle, FindData* data, Fill fill) {
    const WCHAR* name = nullptr;
    const FoundEntry* entry = TakeNext(handle, &name);
    if (entry != nullptr) fill(*entry, name, data);
    return entry != nullptr;
}

}  // namespace

}  // namespace posix

using namespace posix;

HANDLE FindFirstFileW(const WCHAR* pattern, WIN32_FIND_DATAW* data) {
    HANDLE handle = StartSearch(pattern);
    if (handle != INVALID_HANDLE_VALUE) TakeInto(handle, data, FillWide);
    return handle;
}

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
    HANDLE handle = CallWithWidePath(pattern, INVALID_HANDLE_VALUE, StartSearch);
    if (handle != INVALID_HANDLE_VALUE) TakeInto(handle, data, FillAnsi);
    return handle;
}

BOOL FindNextFileW(HANDLE handle, WIN32_FIND_DATAW* data) { return TakeInto(handle, data, FillWide); }

BOOL FindNextFileA(HANDLE handle, WIN32_FIND_DATAA* data) { return TakeInto(handle, data, FillAnsi); }

BOOL FindClose(HANDLE handle) {
    Search* search = AsSearch(handle);
    if (search == nullptr) return FailWithError(ERROR_INVALID_HANDLE);
    FreeSearch(search);
    return TRUE;
}
