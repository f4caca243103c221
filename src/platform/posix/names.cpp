// Names on the POSIX backend as Wine sees them: its generated 8.3 names,
// its mask match, and the lookup of a name in a Unix folder without regard
// to case, with the names of a few big folders kept between calls and the
// names a missed lookup read handed to the next search of that folder.
#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/arrays.h"
#include "platform/os_posix.h"
#include "platform/posix/posix.h"

namespace posix {

namespace {

// ---------------------------------------------------------------------------
// Names: Wine's generated 8.3 names and its mask match.

bool IsInvalidShortNameChar(WCHAR ch) {
    static const char SHORT_NAME_REPLACED[] = "*?<>|\"+=,;[] \345~.";
    if (ch > 0x7F) return true;
    for (const char* p = SHORT_NAME_REPLACED; *p != 0; ++p)
        if (ch == (WCHAR)(unsigned char)*p) return true;
    return false;
}

// ---------------------------------------------------------------------------
// The names of one big folder, kept between calls. A name that is not there
// as typed must be looked for among all the folder's names without regard to
// case, and a throw makes two new names per item in the bin folder: without
// this every new name would read the whole folder again. The names stay
// valid while the folder's identity and modification time are unchanged,
// and this process's own changes to it are applied as they are made (the
// program does not guard against other processes changing the bin while it
// runs). Small folders are read each time.
const size_t FOLDER_CACHE_MIN_NAMES = 256;

struct CachedName {
    WCHAR* folded;     // upper case, as the comparison sees it
    size_t length;
    char* unixName;
    uint32_t order;    // readdir order, so the first of equal names wins
};

// The array owns each name's two strings.
struct CachedNamePolicy {
    static bool Store(CachedName& cell, const CachedName& value) {
        cell = value;
        return true;
    }
    static void Release(CachedName& cell) {
        std::free(cell.folded);
        std::free(cell.unixName);
    }
};

typedef GrowArray<CachedName, const CachedName&, CachedNamePolicy, SystemHeap> CachedNames;

struct FolderCache {
    bool valid;
    char folder[UNIX_PATH_BYTES];
    dev_t device;
    ino_t inode;
    struct timespec modified;
    CachedNames names;
    uint32_t nextOrder;
    uint64_t lastUse;
};

// A throw meets two big folders by turns (the bin, and the folder whose
// files go into it, where each name is looked for again once moved away):
// a few folders are kept, the one used least recently giving way.
const int FOLDER_CACHE_SLOTS = 4;
FolderCache sFolderCaches[FOLDER_CACHE_SLOTS];
uint64_t sFolderCacheUses = 0;

// The kept names of a folder, or null.
FolderCache* CachedFolder(const char* folder) {
    for (FolderCache& cache : sFolderCaches)
        if (cache.valid && std::strcmp(cache.folder, folder) == 0) return &cache;
    return nullptr;
}

int CompareFolded(const WCHAR* a, size_t aLength, const WCHAR* b, size_t bLength) {
    size_t n = aLength < bLength ? aLength : bLength;
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return aLength == bLength ? 0 : (aLength < bLength ? -1 : 1);
}

int CompareCachedNames(const void* a, const void* b) {
    const CachedName* x = static_cast<const CachedName*>(a);
    const CachedName* y = static_cast<const CachedName*>(b);
    int order = CompareFolded(x->folded, x->length, y->folded, y->length);
    if (order != 0) return order;
    return x->order < y->order ? -1 : (x->order > y->order ? 1 : 0);
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The kept names of a folder while they are current, or null.
FolderCache* CurrentFolderCache(const char* folder, const struct stat& info) {
    FolderCache* cache = CachedFolder(folder);
    if (cache == nullptr || cache->device != info.st_dev || cache->inode != info.st_ino ||
        !SameTime(cache->modified, info.st_mtim))
        return nullptr;
    cache->lastUse = ++sFolderCacheUses;
    return cache;
}

// Appends one name (unsorted); false when memory runs out.
bool AppendCachedName(FolderCache* cache, const char* unixName) {
    WCHAR wide[NAME_UNITS];
    size_t units = UnixToWide(unixName, std::strlen(unixName), wide, NAME_UNITS);
    if (units >= NAME_UNITS) return true;  // never matches a lookup either
    CachedName name;
    name.folded = static_cast<WCHAR*>(std::malloc((units + 1) * sizeof(WCHAR)));
    name.unixName = strdup(unixName);
    if (name.folded == nullptr || name.unixName == nullptr) {
        std::free(name.folded);
        std::free(name.unixName);
        return false;
    }
    for (size_t i = 0; i < units; ++i) name.folded[i] = Upcase(wide[i]);
    name.folded[units] = 0;
    name.length = units;
    name.order = cache->nextOrder++;
    if (cache->names.Add(name) >= 0) return true;
    CachedNamePolicy::Release(name);
    return false;
}

// The index of the first of the first `count` cached names not below
// `folded` (with `order`).
size_t LowerBound(const FolderCache* cache, size_t count, const WCHAR* folded, size_t length,
                  uint32_t order) {
    size_t low = 0, high = count;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        const CachedName& at = cache->names.storage[middle];
        int compared = CompareFolded(at.folded, at.length, folded, length);
        if (compared < 0 || (compared == 0 && at.order < order))
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

// Reads a folder's names; a big folder's names replace the cache, a small
// folder leaves it as it was.
void BuildFolderCache(const char* folder) {
    FolderCache built = {};
    struct stat info;
    if (std::strlen(folder) >= sizeof built.folder || stat(folder, &info) != 0) return;
    DIR* directory = opendir(folder);
    if (directory == nullptr) return;
    bool ok = true;
    int error = 0;
    while (struct dirent* entry = ReadFolderEntry(directory, &error)) {
        if (!AppendCachedName(&built, entry->d_name)) {
            ok = false;
            break;
        }
    }
    ok = ok && error == 0;  // names read in part would hide the rest
    closedir(directory);
    if (!ok || (size_t)built.names.Length() < FOLDER_CACHE_MIN_NAMES) return;
    std::qsort(built.names.storage, (size_t)built.names.Length(), sizeof(CachedName), CompareCachedNames);
    CopyString(built.folder, sizeof built.folder, folder);
    built.device = info.st_dev;
    built.inode = info.st_ino;
    built.modified = info.st_mtim;
    built.valid = true;
    // The folder's own slot, else a free one, else the least recently used.
    FolderCache* slot = CachedFolder(folder);
    for (int i = 0; slot == nullptr && i < FOLDER_CACHE_SLOTS; ++i)
        if (!sFolderCaches[i].valid) slot = &sFolderCaches[i];
    if (slot == nullptr) {
        slot = &sFolderCaches[0];
        for (FolderCache& cache : sFolderCaches)
            if (cache.lastUse < slot->lastUse) slot = &cache;
    }
    built.lastUse = ++sFolderCacheUses;
    *slot = std::move(built);
}

// The upper-case form of a name, as the kept names have it; false when it is
// too long to be among them.
bool FoldName(const WCHAR* name, size_t length, WCHAR* folded) {
    if (length >= NAME_UNITS) return false;
    for (size_t i = 0; i < length; ++i) folded[i] = Upcase(name[i]);
    folded[length] = 0;
    return true;
}

// The first name of a cached folder equal to `name` without regard to case.
bool LookUpCachedName(const FolderCache* cache, const WCHAR* name, size_t length, char* found,
                      size_t capacity) {
    WCHAR folded[NAME_UNITS];
    if (!FoldName(name, length, folded)) return false;
    size_t count = (size_t)cache->names.Length();
    size_t at = LowerBound(cache, count, folded, length, 0);
    if (at == count) return false;
    const CachedName& candidate = cache->names.At((int32_t)at);
    if (CompareFolded(candidate.folded, candidate.length, folded, length) != 0) return false;
    CopyString(found, capacity, candidate.unixName);
    return true;
}

// Takes the name `unixName` out of a cached folder; false when it is not
// there.
bool RemoveCachedName(FolderCache* cache, const char* unixName) {
    WCHAR wide[NAME_UNITS], folded[NAME_UNITS];
    size_t units = UnixToWide(unixName, std::strlen(unixName), wide, NAME_UNITS);
    if (units >= NAME_UNITS || !FoldName(wide, units, folded)) return false;
    size_t count = (size_t)cache->names.Length();
    for (size_t at = LowerBound(cache, count, folded, units, 0); at < count; ++at) {
        CachedName& candidate = cache->names.storage[at];
        if (CompareFolded(candidate.folded, candidate.length, folded, units) != 0) break;
        if (std::strcmp(candidate.unixName, unixName) != 0) continue;
        CachedNamePolicy::Release(candidate);
        std::memmove(&candidate, &candidate + 1, (count - at - 1) * sizeof(CachedName));
        --cache->names.length;
        return true;
    }
    return false;
}

// The folders last read through for a name that was not there. One such
// name costs one read of the folder, cheaper than building its names (a
// listing looks for desktop.ini once); a second name missed in the same
// folder builds them, so that a throw's many new names cost one read.
const int SCANNED_FOLDERS = 4;

struct ScannedFolder {
    dev_t device;
    ino_t inode;
};

ScannedFolder sScanned[SCANNED_FOLDERS];
int sScannedNext = 0;

// Whether the folder was read through for a missing name before; notes it.
bool ScannedBefore(const struct stat& info) {
    for (const ScannedFolder& folder : sScanned)
        if (folder.inode == info.st_ino && folder.device == info.st_dev && folder.inode != 0) return true;
    sScanned[sScannedNext] = ScannedFolder{info.st_dev, info.st_ino};
    sScannedNext = (sScannedNext + 1) % SCANNED_FOLDERS;
    return false;
}

// The names the last lookup of a missing name read from a big folder, with
// the folder's identity and modification time taken before the read: until
// the time changes they are the folder's names. Any change of a name by this
// process drops them.
struct ReadNames {
    dev_t device = 0;
    ino_t inode = 0;
    struct timespec modified = {};
    UnixNames names;  // none: nothing kept
    size_t count = 0;
};

ReadNames sReadNames;

void DropReadNames(ReadNames* read) { *read = ReadNames(); }

// Appends a name; false when memory runs out.
bool KeepReadName(ReadNames* read, const char* name) {
    int32_t length = (int32_t)std::strlen(name) + 1;
    if (!read->names.Reserve(length)) return false;
    std::memcpy(read->names.storage + read->names.length, name, (size_t)length);
    read->names.length += length;
    ++read->count;
    return true;
}

// Splits a Unix path into its folder and its last name, in `folder`.
const char* SplitUnixPath(const char* path, char* folder, size_t capacity) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return nullptr;
    size_t length = slash == path ? 1 : (size_t)(slash - path);
    if (length >= capacity) return nullptr;
    std::memcpy(folder, path, length);
    folder[length] = 0;
    return slash + 1;
}

bool IsAsciiWide(const WCHAR* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] > 0x7F) return false;
    return true;
}

bool IsAsciiBytes(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if ((unsigned char)text[i] > 0x7F) return false;
    return true;
}

bool HasTilde(const WCHAR* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] == '~') return true;
    return false;
}

bool AsciiEqualNoCase(const char* bytes, const WCHAR* name, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (WideUpperAscii((WCHAR)(unsigned char)bytes[i]) != WideUpperAscii(name[i])) return false;
    return true;
}

// What an 8.3 name may not hold besides characters above ASCII (every name
// of a big folder passes through here).
bool IsInvalidInShortName(WCHAR ch) {
    switch (ch) {
        case '*': case '?': case '<': case '>': case '|': case '"': case '+': case '=':
        case ',': case ';': case '[': case ']': case ' ': case ':': case '/': case '\\':
            return true;
        default:
            return false;
    }
}

}  // namespace

struct dirent* ReadFolderEntry(DIR* directory, int* error) {
    for (;;) {
        errno = 0;
        struct dirent* entry = readdir(directory);
        *error = entry == nullptr ? errno : 0;
        if (entry == nullptr || !IsDotName(entry->d_name)) return entry;
    }
}

bool IsLegalShortName(const WCHAR* name, size_t length) {
    if (length > 12) return false;
    if (length > 0 && name[0] == '.') return length == 1 || (length == 2 && name[1] == '.');
    long dot = -1;
    for (size_t i = 0; i < length; ++i) {
        if (name[i] > 0x7F || IsInvalidInShortName(name[i])) return false;
        if (name[i] == '.') {
            if (dot != -1) return false;
            dot = (long)i;
        }
    }
    if (dot == -1) return length <= 8;
    if (dot > 8) return false;
    return (long)length - dot > 1 && (long)length - dot < 5;
}

// Four characters of the name, a hash of the whole name in three, the first
// three characters of the extension; upper case.
size_t MakeShortName(const WCHAR* name, size_t length, WCHAR* buffer) {
    static const char SHORT_NAME_HASH_CHARS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    if (length == 0) return 0;
    const WCHAR* end = name + length;
    uint16_t hash = 0xBEEF;
    const WCHAR* p = name;
    for (; p < end - 1; ++p)
        hash = (uint16_t)((hash << 3) ^ (hash >> 5) ^ Downcase(p[0]) ^ (Downcase(p[1]) << 8));
    hash = (uint16_t)((hash << 3) ^ (hash >> 5) ^ Downcase(*p));

    const WCHAR* extension = nullptr;
    for (p = name + 1; p < end - 1; ++p)
        if (*p == '.') extension = p;

    WCHAR* out = buffer;
    int left = 4;
    for (p = name; left > 0; --left, ++p) {
        if (p == end || p == extension) break;
        *out++ = IsInvalidShortNameChar(*p) ? (WCHAR)'_' : *p;
    }
    while (left-- >= 0) *out++ = '~';
    *out++ = (WCHAR)SHORT_NAME_HASH_CHARS[(hash >> 10) & 0x1F];
    *out++ = (WCHAR)SHORT_NAME_HASH_CHARS[(hash >> 5) & 0x1F];
    *out++ = (WCHAR)SHORT_NAME_HASH_CHARS[hash & 0x1F];
    if (extension != nullptr) {
        *out++ = '.';
        int count = 3;
        for (p = extension + 1; count > 0 && p < end; --count, ++p)
            *out++ = IsInvalidShortNameChar(*p) ? (WCHAR)'_' : *p;
    }
    size_t n = (size_t)(out - buffer);
    for (size_t i = 0; i < n; ++i) buffer[i] = Upcase(buffer[i]);
    buffer[n] = 0;
    return n;
}

bool HasWildcard(const WCHAR* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] == '*' || text[i] == '?') return true;
    return false;
}

bool HasInvalidNameChar(const WCHAR* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        WCHAR ch = text[i];
        if (ch == '*' || ch == '?' || ch == '<' || ch == '>' || ch == '|' || ch == '"') return true;
        if (ch < 0x20) return true;  // Wine refuses C0 controls; DEL and C1 pass
    }
    return false;
}

void ForgetFolderCache() {
    for (FolderCache& cache : sFolderCaches) cache = FolderCache();
    for (ScannedFolder& folder : sScanned) folder = ScannedFolder{};
    DropReadNames(&sReadNames);
}

bool TakeFolderNames(const struct stat& now, UnixNames* names) {
    ReadNames& read = sReadNames;
    if (read.names.Length() == 0 || read.device != now.st_dev || read.inode != now.st_ino) return false;
    bool current = SameTime(read.modified, now.st_mtim);
    if (current) *names = std::move(read.names);
    DropReadNames(&read);
    return current;
}

// This process made a new name at `path`: the cached folder takes it in.
void NoteNameAdded(const char* path) {
    DropReadNames(&sReadNames);
    char folder[UNIX_PATH_BYTES];
    const char* name = SplitUnixPath(path, folder, sizeof folder);
    FolderCache* cache = name != nullptr ? CachedFolder(folder) : nullptr;
    if (cache == nullptr) return;
    struct stat info;
    size_t before = (size_t)cache->names.Length();
    if (stat(folder, &info) != 0 || !AppendCachedName(cache, name)) {
        *cache = FolderCache();
        return;
    }
    if ((size_t)cache->names.Length() > before) {
        // Moved from the end into its sorted place.
        CachedName* names = cache->names.storage;
        CachedName added = names[before];
        size_t at = LowerBound(cache, before, added.folded, added.length, added.order);
        std::memmove(names + at + 1, names + at, (before - at) * sizeof(CachedName));
        names[at] = added;
    }
    cache->modified = info.st_mtim;
}

// This process removed or renamed away the name at `path`: the cached
// folder lets it go.
void NoteNameRemoved(const char* path) {
    DropReadNames(&sReadNames);
    char folder[UNIX_PATH_BYTES];
    const char* name = SplitUnixPath(path, folder, sizeof folder);
    if (name == nullptr) {
        ForgetFolderCache();
        return;
    }
    FolderCache* cache = CachedFolder(folder);
    if (cache == nullptr) return;
    struct stat info;
    if (stat(folder, &info) != 0 || !RemoveCachedName(cache, name)) {
        *cache = FolderCache();
        return;
    }
    cache->modified = info.st_mtim;
}

// Looks a name up in a Unix folder: the exact name first, else the first
// entry equal to it without regard to case, or whose generated 8.3 name is.
// The entry's own name goes to `found`.
bool FindEntry(const char* folder, const WCHAR* name, size_t length, char* found, size_t capacity) {
    char exact[NAME_UNITS * 4];
    if (WideToUnix(name, length, exact, sizeof exact)) {
        char path[UNIX_PATH_BYTES];
        struct stat info;
        if (std::snprintf(path, sizeof path, "%s/%s", folder, exact) < (int)sizeof path &&
            lstat(path, &info) == 0) {
            CopyString(found, capacity, exact);
            return true;
        }
    }
    if (!HasTilde(name, length)) {
        struct stat info;
        if (stat(folder, &info) == 0 && CurrentFolderCache(folder, info) == nullptr && ScannedBefore(info))
            BuildFolderCache(folder);
        const FolderCache* cache = stat(folder, &info) == 0 ? CurrentFolderCache(folder, info) : nullptr;
        if (cache != nullptr) return LookUpCachedName(cache, name, length, found, capacity);
    }
    DIR* directory = opendir(folder);
    if (directory == nullptr) return false;
    ReadNames read;
    struct stat before;
    bool keep = fstat(dirfd(directory), &before) == 0;
    // Every name of a big folder is compared for each new name made in it,
    // so the common case stays cheap: an ASCII name can equal an ASCII name
    // only letter for letter, and a generated 8.3 name always holds a '~'.
    bool asciiName = IsAsciiWide(name, length);
    bool mayBeShortName = HasTilde(name, length);
    bool matched = false;
    int error = 0;
    while (struct dirent* entry = ReadFolderEntry(directory, &error)) {
        keep = keep && KeepReadName(&read, entry->d_name);
        size_t bytes = std::strlen(entry->d_name);
        if (asciiName && !mayBeShortName && IsAsciiBytes(entry->d_name, bytes)) {
            matched = bytes == length && AsciiEqualNoCase(entry->d_name, name, length);
            if (matched) {
                CopyString(found, capacity, entry->d_name);
                break;
            }
            continue;
        }
        WCHAR wide[NAME_UNITS];
        size_t units = UnixToWide(entry->d_name, bytes, wide, NAME_UNITS);
        if (units >= NAME_UNITS) continue;
        matched = NamesEqual(wide, units, name, length);
        if (!matched && mayBeShortName && !IsLegalShortName(wide, units)) {
            WCHAR shortName[14];
            size_t shortLength = MakeShortName(wide, units, shortName);
            matched = NamesEqual(shortName, shortLength, name, length);
        }
        if (matched) {
            CopyString(found, capacity, entry->d_name);
            break;
        }
    }
    closedir(directory);
    if (keep && error == 0 && !matched && read.count >= FOLDER_CACHE_MIN_NAMES) {
        read.device = before.st_dev;
        read.inode = before.st_ino;
        read.modified = before.st_mtim;
        sReadNames = std::move(read);
    }
    return matched;
}

}  // namespace posix

using namespace posix;

// ---------------------------------------------------------------------------
// For the unit tests.

bool PosixMatchMask(const WCHAR* name, const WCHAR* mask) {
    return WildcardMatch(name, WideLength(name), mask, WideLength(mask));
}

size_t PosixShortName(const WCHAR* name, WCHAR* buffer) {
    size_t length = WideLength(name);
    buffer[0] = 0;
    if (IsLegalShortName(name, length)) return 0;
    return MakeShortName(name, length, buffer);
}
