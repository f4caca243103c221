// An in-memory disk behind `gSys` for the unit tests and the fuzz targets:
// directories, files and links by full path, with every call that reaches
// it logged, so that a test can say exactly what was searched, deleted and
// moved. The bytes of a file are a real host file, mapped by its program
// path; a fuzz target instead has every file read its input (`everyFile`).
//
// A link (attributes 0x410) may hold children of its own: they stand for
// what lies behind it, outside the bin. A removal that followed the link
// would delete them. A link may also name a `target`; only the identity
// calls follow it, as the store only asks them where a path really leads.
//
// Each node has a file number that a move keeps, so that identities compare
// the way the system's do. The streams on the host files are tracked for
// the bin lock (one holder per file), the read-error flag and the injected
// faults; the random source is a seeded generator, so $I names repeat.
#ifndef DUSTPAIL_TESTS_SUPPORT_FAKE_DISK_H
#define DUSTPAIL_TESTS_SUPPORT_FAKE_DISK_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/runstate.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "store/store.h"

namespace fakedisk {

const DWORD ATTR_FILE = FILE_ATTRIBUTE_ARCHIVE;
const DWORD ATTR_DIRECTORY = FILE_ATTRIBUTE_DIRECTORY;
const DWORD ATTR_LINK = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

struct Node {
    std::u16string path;  // as created
    DWORD attributes;
    uint64_t id = 0;           // the file number; a move keeps it
    std::u16string target;     // a link's destination, for the identity calls
    std::u16string shortName;  // an 8.3 alias, if any
    uint64_t size = 0;         // as a folder search gives it
};

// One injected failure: the `at`-th call (from 1) of `call` fails, and only
// that one. The calls are the stream calls "read", "write", "seek", "tell",
// "flush" and "truncate"; "any" counts all of them together.
struct Fault {
    std::string call;
    int at = 0;
    int seen = 0;
    bool met = false;
};

struct Search {
    std::vector<WIN32_FIND_DATAW> found;
    size_t next;
};

struct Disk {
    std::map<std::u16string, Node> nodes;  // by lower-cased path
    std::vector<std::string> log;          // "find", "delete", "rmdir", "move", "create", "truncate"
    std::set<std::u16string> refuseRemoval;
    std::set<std::u16string> refuseMove;   // folded paths whose moves fail
    std::map<std::u16string, std::string> hostFiles;
    std::string hostRoot;
    DWORD lastError = 0;
    int openSearches = 0;
    uint64_t nextId = 1;
    std::map<FILE*, std::u16string> streams;  // open streams by folded path
    std::set<FILE*> readErrors;               // streams whose read failed
    std::map<std::u16string, FILE*> locks;    // the holder of each file's lock
    DWORD lockError = 0;                      // every lock fails with it when set
    DWORD createError = 0;                    // every exclusive create fails with it
    // An open of (path, mode) it returns true for is denied.
    std::function<bool(const std::u16string&, const std::string&)> refuseOpen;
    // Runs first in each exclusive create, so that another run can take
    // the name just before.
    std::function<void(const std::u16string&)> beforeCreate;
    uint32_t slept = 0;  // milliseconds waited through the sleep call
    int sleeps = 0;
    std::function<void()> onSleep;
    uint64_t randomState = 1;
    bool randomFails = false;
    Fault fault;
    // The drive's cluster geometry, the root it was last asked for and how
    // often; what a failed query leaves in its outputs means nothing.
    DWORD sectorsPerCluster = 8;
    DWORD bytesPerSector = 512;
    bool geometryFails = false;
    std::string geometryRoot;
    int geometryCalls = 0;
    // When set, every file opened for reading reads these bytes, and none
    // can be opened for writing.
    const std::vector<uint8_t>* everyFile = nullptr;
};

inline Disk* gDisk = nullptr;

// The key of a path: A-Z folded, a doubled backslash read as one and a
// final one dropped, as the system does.
inline std::u16string Fold(const std::u16string& path) {
    std::u16string folded;
    for (char16_t ch : path) {
        if (ch == u'\\' && !folded.empty() && folded.back() == u'\\') continue;
        folded += (char16_t)WideLowerAscii((WCHAR)ch);
    }
    if (folded.size() > 1 && folded.back() == u'\\') folded.pop_back();
    return folded;
}

inline std::u16string Text(const WCHAR* text) { return std::u16string((const char16_t*)text); }

inline std::string Narrow(const std::u16string& text) {
    std::string narrow;
    for (char16_t ch : text) narrow += ch < 0x80 ? (char)ch : '?';
    return narrow;
}

inline std::u16string Widen(const std::string& text) {
    std::u16string wide;
    for (char ch : text) wide += (char16_t)(unsigned char)ch;
    return wide;
}

inline std::u16string ParentOf(const std::u16string& path) {
    size_t slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

inline std::u16string NameOf(const std::u16string& path) {
    size_t slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

inline Node* Find(const std::u16string& path) {
    auto it = gDisk->nodes.find(Fold(path));
    return it == gDisk->nodes.end() ? nullptr : &it->second;
}

// Whether this call is the one the test made to fail.
inline bool Inject(const char* call) {
    Fault& fault = gDisk->fault;
    if (fault.at == 0 || (fault.call != call && fault.call != "any")) return false;
    if (++fault.seen != fault.at) return false;
    fault.met = true;
    gDisk->lastError = ERROR_ACCESS_DENIED;
    return true;
}

// Makes the at-th call of `call` fail from now on.
inline void FailCall(const std::string& call, int at) { gDisk->fault = Fault{call, at, 0, false}; }

inline bool HasChildren(const std::u16string& path) {
    std::u16string folded = Fold(path);
    for (const auto& item : gDisk->nodes)
        if (ParentOf(item.first) == folded) return true;
    return false;
}

// Windows wildcards: "*" any run, "?" one character, "*.*" at the end
// anything (also a name without a dot); case-insensitive.
inline bool WildcardMatches(const std::u16string& mask, size_t m, const std::u16string& name, size_t n) {
    if (m == mask.size()) return n == name.size();
    if (mask.compare(m, std::u16string::npos, u"*.*") == 0) return true;
    if (mask[m] == u'*') {
        for (size_t k = n; k <= name.size(); ++k)
            if (WildcardMatches(mask, m + 1, name, k)) return true;
        return false;
    }
    if (n == name.size()) return false;
    if (mask[m] != u'?' && WideLowerAscii(mask[m]) != WideLowerAscii(name[n])) return false;
    return WildcardMatches(mask, m + 1, name, n + 1);
}

inline bool MaskMatches(const std::u16string& mask, const std::u16string& name) {
    return WildcardMatches(mask, 0, name, 0);
}

inline void Fill(WIN32_FIND_DATAW* data, const std::u16string& name, DWORD attributes,
                 const std::u16string& shortName = std::u16string(), uint64_t size = 0) {
    *data = WIN32_FIND_DATAW();
    data->dwFileAttributes = attributes;
    data->nFileSizeLow = (DWORD)size;
    data->nFileSizeHigh = (DWORD)(size >> 32);
    for (size_t i = 0; i < name.size() && i + 1 < MAX_PATH; ++i) data->cFileName[i] = name[i];
    for (size_t i = 0; i < shortName.size() && i + 1 < 14; ++i) data->cAlternateFileName[i] = shortName[i];
}

// The pattern with '/' read as '\', as the system reads it.
inline std::u16string Slashes(std::u16string path) {
    for (char16_t& ch : path)
        if (ch == u'/') ch = u'\\';
    return path;
}

inline DWORD FakeAttributes(const WCHAR* path) {
    Node* node = Find(Text(path));
    if (node == nullptr) {
        gDisk->lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_FILE_ATTRIBUTES;
    }
    gDisk->lastError = 0;
    return node->attributes;
}

inline bool Refused(const std::u16string& path, DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_READONLY) != 0 || gDisk->refuseRemoval.count(Fold(path)) != 0;
}

inline BOOL FakeDelete(const WCHAR* path) {
    std::u16string text = Text(path);
    gDisk->log.push_back("delete " + Narrow(text));
    Node* node = Find(text);
    gDisk->lastError = ERROR_ACCESS_DENIED;
    if (node == nullptr) {
        gDisk->lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    if ((node->attributes & FILE_ATTRIBUTE_DIRECTORY) || Refused(text, node->attributes)) return FALSE;
    gDisk->nodes.erase(Fold(text));
    gDisk->lastError = 0;
    return TRUE;
}

// A link goes alone; what shows through it stays.
inline BOOL FakeRemoveDirectory(const WCHAR* path) {
    std::u16string text = Text(path);
    gDisk->log.push_back("rmdir " + Narrow(text));
    Node* node = Find(text);
    gDisk->lastError = ERROR_ACCESS_DENIED;
    if (node == nullptr || (node->attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        gDisk->lastError = ERROR_PATH_NOT_FOUND;
        return FALSE;
    }
    if (Refused(text, node->attributes)) return FALSE;
    bool link = (node->attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!link && HasChildren(text)) {
        gDisk->lastError = ERROR_DIR_NOT_EMPTY;
        return FALSE;
    }
    gDisk->nodes.erase(Fold(text));
    gDisk->lastError = 0;
    return TRUE;
}

inline HANDLE FakeFindFirst(const WCHAR* pattern, WIN32_FIND_DATAW* data) {
    std::u16string text = Slashes(Text(pattern));
    gDisk->log.push_back("find " + Narrow(text));
    std::u16string directory = ParentOf(text), mask = NameOf(text);
    Node* node = Find(directory);
    if (node == nullptr || (node->attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        gDisk->lastError = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    Search* search = new Search();
    search->next = 0;
    for (const char16_t* dots : {u".", u".."}) {
        if (!MaskMatches(mask, dots)) continue;
        WIN32_FIND_DATAW dot;
        Fill(&dot, dots, FILE_ATTRIBUTE_DIRECTORY);
        search->found.push_back(dot);
    }
    std::u16string folded = Fold(directory);
    for (const auto& item : gDisk->nodes) {
        if (ParentOf(item.first) != folded) continue;
        std::u16string name = NameOf(item.second.path);
        if (!MaskMatches(mask, name)) continue;
        WIN32_FIND_DATAW found;
        Fill(&found, name, item.second.attributes, item.second.shortName, item.second.size);
        search->found.push_back(found);
    }
    if (search->found.empty()) {
        delete search;
        gDisk->lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    *data = search->found[search->next++];
    ++gDisk->openSearches;
    gDisk->lastError = 0;
    return search;
}

inline BOOL FakeFindNext(HANDLE handle, WIN32_FIND_DATAW* data) {
    Search* search = static_cast<Search*>(handle);
    if (search->next >= search->found.size()) {
        gDisk->lastError = ERROR_NO_MORE_FILES;
        return FALSE;
    }
    *data = search->found[search->next++];
    gDisk->lastError = 0;
    return TRUE;
}

inline BOOL FakeFindClose(HANDLE handle) {
    delete static_cast<Search*>(handle);
    --gDisk->openSearches;
    return TRUE;
}

// Moves a node with everything below it; the target must be free and its
// folder present, as MoveFileW requires.
inline BOOL FakeMove(const WCHAR* existing, const WCHAR* target) {
    std::u16string from = Text(existing), to = Text(target);
    if (gDisk->refuseMove.count(Fold(from)) != 0) {
        gDisk->log.push_back("failed move " + Narrow(from));
        gDisk->lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    gDisk->log.push_back("move " + Narrow(from) + " -> " + Narrow(to));
    Node* parent = Find(ParentOf(to));
    if (Find(to) != nullptr) {
        gDisk->lastError = ERROR_ALREADY_EXISTS;
        return FALSE;
    }
    if (Find(from) == nullptr || parent == nullptr || (parent->attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        gDisk->lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    std::u16string fromFolded = Fold(from);
    std::map<std::u16string, Node> moved;
    for (auto it = gDisk->nodes.begin(); it != gDisk->nodes.end();) {
        const std::u16string& key = it->first;
        if (key == fromFolded || key.compare(0, fromFolded.size() + 1, fromFolded + u"\\") == 0) {
            Node node = it->second;
            node.path = to + node.path.substr(from.size());
            moved[Fold(node.path)] = node;
            it = gDisk->nodes.erase(it);
        } else {
            ++it;
        }
    }
    gDisk->nodes.insert(moved.begin(), moved.end());
    gDisk->lastError = 0;
    return TRUE;
}

inline std::string HostFile(const std::u16string& path) {
    std::string name;
    for (char16_t ch : Fold(path)) name += (ch == u'\\' || ch == u':' || ch >= 0x80) ? '_' : (char)ch;
    return gDisk->hostRoot + "/" + name;
}

inline void AddNode(const std::u16string& path, DWORD attributes);

// A stream on the bytes every file holds (read only).
inline FILE* OpenEveryFile(const std::u16string& path, bool writing) {
    static std::vector<uint8_t> copy;
    if (writing) {
        gDisk->lastError = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    copy = *gDisk->everyFile;
    // fmemopen takes no empty buffer.
    FILE* stream = copy.empty() ? std::fopen("/dev/null", "rb") : fmemopen(copy.data(), copy.size(), "rb");
    gDisk->lastError = stream != nullptr ? 0 : ERROR_ACCESS_DENIED;
    if (stream != nullptr) gDisk->streams[stream] = Fold(path);
    return stream;
}

// A file made with AddNode alone has no bytes yet: it reads as empty.
inline FILE* FakeOpen(const WCHAR* name, const WCHAR* mode) {
    std::u16string path = Text(name);
    std::string narrowMode = Narrow(Text(mode));
    if (gDisk->refuseOpen && gDisk->refuseOpen(path, narrowMode)) {
        gDisk->lastError = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    Node* node = Find(path);
    bool creating = narrowMode[0] == 'w' || narrowMode[0] == 'a';
    if ((node == nullptr && !creating) || (node != nullptr && (node->attributes & ATTR_DIRECTORY))) {
        gDisk->lastError = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    if (gDisk->everyFile != nullptr) return OpenEveryFile(path, creating || narrowMode.find('+') != std::string::npos);
    if (node == nullptr) AddNode(path, ATTR_FILE);
    std::string host = HostFile(path);
    if (access(host.c_str(), F_OK) != 0) std::ofstream(host, std::ios::binary);
    FILE* stream = std::fopen(host.c_str(), narrowMode.c_str());
    gDisk->lastError = stream != nullptr ? 0 : ERROR_ACCESS_DENIED;
    if (stream != nullptr) gDisk->streams[stream] = Fold(path);
    return stream;
}

inline FILE* FakeOpenAnsi(const char*, const char*) { return nullptr; }

inline DWORD FakeLastError() { return gDisk->lastError; }

// --- Stream calls, each open to an injected fault ---------------------------

inline size_t FakeRead(void* buffer, size_t size, size_t count, FILE* stream) {
    if (Inject("read")) {
        gDisk->readErrors.insert(stream);
        return 0;
    }
    return std::fread(buffer, size, count, stream);
}

// A failed write gets half of its bytes out first, as one that stops on a
// full disk does.
inline size_t FakeWrite(const void* buffer, size_t size, size_t count, FILE* stream) {
    if (Inject("write")) {
        size_t half = size == 1 ? count / 2 : 0;
        return std::fwrite(buffer, 1, half, stream);
    }
    return std::fwrite(buffer, size, count, stream);
}

inline int FakeSeek(FILE* stream, long offset, int origin) {
    return Inject("seek") ? -1 : std::fseek(stream, offset, origin);
}

inline int64_t FakeTell(FILE* stream) { return Inject("tell") ? -1 : (int64_t)ftello(stream); }

inline int FakeFlush(FILE* stream) { return Inject("flush") ? EOF : std::fflush(stream); }

inline int FakeStreamError(FILE* stream) {
    return std::ferror(stream) != 0 || gDisk->readErrors.count(stream) != 0;
}

inline BOOL FakeTruncate(FILE* stream, uint64_t size) {
    auto open = gDisk->streams.find(stream);
    gDisk->log.push_back("truncate " + (open != gDisk->streams.end() ? Narrow(open->second) : "?") + " " +
                         std::to_string(size));
    if (Inject("truncate")) return FALSE;
    return std::fflush(stream) == 0 && ftruncate(fileno(stream), (off_t)size) == 0;
}

// Closing a stream lets go of the lock it holds, as the system does.
inline int FakeClose(FILE* stream) {
    for (auto it = gDisk->locks.begin(); it != gDisk->locks.end();)
        it = it->second == stream ? gDisk->locks.erase(it) : std::next(it);
    gDisk->streams.erase(stream);
    gDisk->readErrors.erase(stream);
    return std::fclose(stream);
}

// --- The lock, waits and the random source -----------------------------------

inline std::u16string LockKey(FILE* stream) {
    auto open = gDisk->streams.find(stream);
    return open != gDisk->streams.end() ? open->second : u"?";
}

inline BOOL FakeLock(FILE* stream) {
    if (gDisk->lockError != 0) {
        gDisk->lastError = gDisk->lockError;
        return FALSE;
    }
    std::u16string key = LockKey(stream);
    auto held = gDisk->locks.find(key);
    if (held != gDisk->locks.end() && held->second != stream) {
        gDisk->lastError = ERROR_LOCK_VIOLATION;
        return FALSE;
    }
    gDisk->locks[key] = stream;
    gDisk->lastError = 0;
    return TRUE;
}

inline BOOL FakeUnlock(FILE* stream) {
    auto held = gDisk->locks.find(LockKey(stream));
    if (held == gDisk->locks.end() || held->second != stream) {
        gDisk->lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    gDisk->locks.erase(held);
    return TRUE;
}

inline void FakeSleep(DWORD milliseconds) {
    gDisk->slept += milliseconds;
    ++gDisk->sleeps;
    if (gDisk->onSleep) gDisk->onSleep();
}

// xorshift64*: the same seed gives the same bytes.
inline BOOL FakeRandomBytes(void* buffer, size_t size) {
    if (gDisk->randomFails) {
        gDisk->lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    uint8_t* out = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < size; ++i) {
        uint64_t& x = gDisk->randomState;
        x ^= x >> 12;
        x ^= x << 25;
        x ^= x >> 27;
        out[i] = (uint8_t)((x * 0x2545F4914F6CDD1DULL) >> 56);
    }
    return TRUE;
}

inline void SeedRandom(uint64_t seed) { gDisk->randomState = seed * 0x9E3779B97F4A7C15ULL + 1; }

inline BOOL FakeGeometry(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector, DWORD*, DWORD*) {
    ++gDisk->geometryCalls;
    gDisk->geometryRoot = root;
    *sectorsPerCluster = gDisk->sectorsPerCluster;
    *bytesPerSector = gDisk->bytesPerSector;
    return gDisk->geometryFails ? FALSE : TRUE;
}

// --- Exclusive creation and identities -----------------------------------

inline FILE* FakeCreateNew(const WCHAR* name) {
    std::u16string path = Text(name);
    gDisk->log.push_back("create " + Narrow(path));
    if (gDisk->beforeCreate) gDisk->beforeCreate(path);
    Node* parent = Find(ParentOf(path));
    if (gDisk->createError != 0) {
        gDisk->lastError = gDisk->createError;
        return nullptr;
    }
    if (Find(path) != nullptr) {
        gDisk->lastError = ERROR_FILE_EXISTS;
        return nullptr;
    }
    if (parent == nullptr || (parent->attributes & ATTR_DIRECTORY) == 0) {
        gDisk->lastError = ERROR_PATH_NOT_FOUND;
        return nullptr;
    }
    AddNode(path, ATTR_FILE);
    FILE* stream = std::fopen(HostFile(path).c_str(), "wb");
    gDisk->lastError = stream != nullptr ? 0 : ERROR_ACCESS_DENIED;
    if (stream != nullptr) gDisk->streams[stream] = Fold(path);
    return stream;
}

inline FILE* FakeCreateNewAnsi(const char*) {
    gDisk->lastError = ERROR_INVALID_NAME;
    return nullptr;
}

// A name as the system compares it: trailing dots and blanks dropped.
inline std::u16string TrimName(std::u16string name) {
    if (name == u"." || name == u"..") return name;
    while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.pop_back();
    return name;
}

// The node a path reaches: names matched by their long or short form, the
// links among its folders taken to their targets, and the last name too
// with followLast. Null when a name on the way is missing.
inline Node* Resolve(const std::u16string& path, bool followLast, int depth = 0) {
    if (depth > 8) return nullptr;
    std::vector<std::u16string> parts;
    std::u16string part;
    for (char16_t ch : path + u"\\") {
        if (ch != u'\\') {
            part += ch;
        } else if (!part.empty()) {
            parts.push_back(TrimName(part));
            part.clear();
        }
    }
    std::u16string at;
    Node* node = nullptr;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::u16string key = at.empty() ? Fold(parts[i]) : at + u"\\" + Fold(parts[i]);
        auto it = gDisk->nodes.find(key);
        if (it == gDisk->nodes.end() && !at.empty()) {
            for (it = gDisk->nodes.begin(); it != gDisk->nodes.end(); ++it)
                if (ParentOf(it->first) == at && !it->second.shortName.empty() &&
                    Fold(it->second.shortName) == Fold(parts[i]))
                    break;
        }
        if (it == gDisk->nodes.end()) return nullptr;
        node = &it->second;
        at = it->first;
        bool last = i + 1 == parts.size();
        if (!node->target.empty() && (!last || followLast)) {
            node = Resolve(node->target, true, depth + 1);
            if (node == nullptr) return nullptr;
            at = Fold(node->path);
        }
    }
    return node;
}

// The high bit marks the folder behind a link that names no target.
const uint64_t BEHIND_LINK = 1ULL << 63;

inline BOOL FakeIdentity(const WCHAR* name, BOOL follow, FileIdentity* identity) {
    Node* node = Resolve(Text(name), follow != 0);
    if (node == nullptr) {
        gDisk->lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    bool link = (node->attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    identity->volume = (uint64_t)WideLowerAscii((WCHAR)node->path[0]);
    identity->file = node->id;
    identity->attributes = node->attributes;
    identity->isLink = link && !follow;
    if (link && follow) {
        identity->file |= BEHIND_LINK;
        identity->attributes &= ~(DWORD)FILE_ATTRIBUTE_REPARSE_POINT;
    }
    gDisk->lastError = 0;
    return TRUE;
}

inline BOOL FakeIdentityAnsi(const char*, BOOL, FileIdentity*) {
    gDisk->lastError = ERROR_INVALID_NAME;
    return FALSE;
}

inline void Install(Disk* disk) {
    gDisk = disk;
    char pattern[] = "/tmp/dustpail-disk-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("fake disk: mkdtemp");
        std::abort();
    }
    disk->hostRoot = pattern;
    gSys.getFileAttributesW = FakeAttributes;
    gSys.deleteFileW = FakeDelete;
    gSys.removeDirectoryW = FakeRemoveDirectory;
    gSys.findFirstFileW = FakeFindFirst;
    gSys.findNextFileW = FakeFindNext;
    gSys.findClose = FakeFindClose;
    gSys.moveFileW = FakeMove;
    gSys.wopen = FakeOpen;
    gSys.open = FakeOpenAnsi;
    gSys.getLastError = FakeLastError;
    gSys.read = FakeRead;
    gSys.write = FakeWrite;
    gSys.seek = FakeSeek;
    gSys.close = FakeClose;
    gSys.tell = FakeTell;
    gSys.flush = FakeFlush;
    gSys.streamError = FakeStreamError;
    gSys.truncate = FakeTruncate;
    gSys.lock = FakeLock;
    gSys.unlock = FakeUnlock;
    gSys.createNewW = FakeCreateNew;
    gSys.createNewA = FakeCreateNewAnsi;
    gSys.identityW = FakeIdentity;
    gSys.identityA = FakeIdentityAnsi;
    gSys.randomBytes = FakeRandomBytes;
    gSys.sleep = FakeSleep;
    gSys.getDiskFreeSpaceA = FakeGeometry;
}

// A test that stopped half way may leave the lock or other streams open.
inline void Uninstall() {
    UnlockBin(&gRun.bin);
    while (!gDisk->streams.empty()) FakeClose(gDisk->streams.begin()->first);
    gSys = DEFAULT_SYSTEM_CALLS;
    std::string command = "rm -rf '" + gDisk->hostRoot + "'";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "fake disk: %s failed\n", command.c_str());
    gDisk = nullptr;
}

// A node made again keeps its file number.
inline void AddNode(const std::u16string& path, DWORD attributes) {
    Node& node = gDisk->nodes[Fold(path)];
    if (node.id == 0) node.id = gDisk->nextId++;
    node.path = path;
    node.attributes = attributes;
}

// A link that leads to `target` for the identity calls.
inline void AddLink(const std::u16string& path, const std::u16string& target, DWORD attributes = ATTR_LINK) {
    AddNode(path, attributes);
    Find(path)->target = target;
}

inline void SetShortName(const std::u16string& path, const std::u16string& shortName) {
    Find(path)->shortName = shortName;
}

inline bool Exists(const std::u16string& path) { return Find(path) != nullptr; }

// A file of `size` bytes as the folder search reports it (no bytes behind it).
inline void AddFile(const std::u16string& path, uint64_t size) {
    AddNode(path, ATTR_FILE);
    Find(path)->size = size;
}

// A file with real bytes behind it, for the index files.
inline void WriteFile(const std::u16string& path, const std::vector<uint8_t>& bytes) {
    AddNode(path, ATTR_FILE);
    std::ofstream out(HostFile(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
}

inline std::vector<uint8_t> ReadFile(const std::u16string& path) {
    std::ifstream in(HostFile(path), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Everything below a folder, as "name" or "name\" for a folder, sorted.
inline std::vector<std::string> Listing(const std::u16string& folder) {
    std::vector<std::string> names;
    std::u16string prefix = Fold(folder) + u"\\";
    for (const auto& item : gDisk->nodes) {
        if (item.first.compare(0, prefix.size(), prefix) != 0) continue;
        std::string name = Narrow(item.second.path.substr(prefix.size()));
        if (item.second.attributes & FILE_ATTRIBUTE_DIRECTORY) name += "\\";
        names.push_back(name);
    }
    return names;
}

}  // namespace fakedisk

#endif
