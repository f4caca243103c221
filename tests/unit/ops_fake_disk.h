// An in-memory disk behind `gSys` for the operations' tests: directories,
// files and links by full path, with every call that reaches it logged, so
// that a test can say exactly what was searched, deleted and moved. Index
// files are real host files, mapped by their program path.
//
// A link (attributes 0x410) may hold children of its own: they stand for
// what lies behind it, outside the bin. A removal that followed the link
// would delete them.
#ifndef DUSTPAIL_TESTS_OPS_FAKE_DISK_H
#define DUSTPAIL_TESTS_OPS_FAKE_DISK_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
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
};

struct Search {
    std::vector<WIN32_FIND_DATAW> found;
    size_t next;
};

struct Disk {
    std::map<std::u16string, Node> nodes;  // by lower-cased path
    std::vector<std::string> log;          // "find", "delete", "rmdir", "move"
    std::set<std::u16string> refuseRemoval;
    std::map<std::u16string, std::string> hostFiles;
    std::string hostRoot;
    DWORD lastError = 0;
    int openSearches = 0;
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

inline bool HasChildren(const std::u16string& path) {
    std::u16string folded = Fold(path);
    for (const auto& item : gDisk->nodes)
        if (ParentOf(item.first) == folded) return true;
    return false;
}

// Windows-style mask of the forms the program uses: "*.*", or a prefix with
// "?" for any one character followed by "*.*".
inline bool MaskMatches(const std::u16string& mask, const std::u16string& name) {
    std::u16string prefix = mask.substr(0, mask.size() - 3);
    if (name.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (prefix[i] != u'?' && WideLowerAscii(prefix[i]) != WideLowerAscii(name[i])) return false;
    return true;
}

inline void Fill(WIN32_FIND_DATAW* data, const std::u16string& name, DWORD attributes) {
    *data = WIN32_FIND_DATAW();
    data->dwFileAttributes = attributes;
    for (size_t i = 0; i < name.size() && i + 1 < MAX_PATH; ++i) data->cFileName[i] = name[i];
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
    std::u16string text = Text(pattern);
    gDisk->log.push_back("find " + Narrow(text));
    std::u16string directory = ParentOf(text), mask = NameOf(text);
    Node* node = Find(directory);
    if (node == nullptr || (node->attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        gDisk->lastError = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    Search* search = new Search();
    search->next = 0;
    if (mask == u"*.*") {
        WIN32_FIND_DATAW dot;
        Fill(&dot, u".", FILE_ATTRIBUTE_DIRECTORY);
        search->found.push_back(dot);
        Fill(&dot, u"..", FILE_ATTRIBUTE_DIRECTORY);
        search->found.push_back(dot);
    }
    std::u16string folded = Fold(directory);
    for (const auto& item : gDisk->nodes) {
        if (ParentOf(item.first) != folded) continue;
        std::u16string name = NameOf(item.second.path);
        if (!MaskMatches(mask, name)) continue;
        WIN32_FIND_DATAW found;
        Fill(&found, name, item.second.attributes);
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
    gDisk->log.push_back("move " + Narrow(from) + " -> " + Narrow(to));
    Node* parent = Find(ParentOf(to));
    if (Find(from) == nullptr || Find(to) != nullptr || parent == nullptr ||
        (parent->attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
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

inline FILE* FakeOpen(const WCHAR* name, const WCHAR* mode) {
    std::u16string path = Text(name);
    std::string narrowMode = Narrow(Text(mode));
    Node* node = Find(path);
    bool creating = narrowMode[0] == 'w' || narrowMode[0] == 'a';
    if ((node == nullptr && !creating) || (node != nullptr && (node->attributes & ATTR_DIRECTORY))) {
        gDisk->lastError = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    if (node == nullptr) gDisk->nodes[Fold(path)] = Node{path, ATTR_FILE};
    gDisk->lastError = 0;
    return std::fopen(HostFile(path).c_str(), narrowMode.c_str());
}

inline FILE* FakeOpenAnsi(const char*, const char*) { return nullptr; }

inline DWORD FakeLastError() { return gDisk->lastError; }

inline void Install(Disk* disk) {
    gDisk = disk;
    char pattern[] = "/tmp/dustpail-ops-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
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
}

inline void Uninstall() {
    gSys = kDefaultSystemCalls;
    std::string command = "rm -rf '" + gDisk->hostRoot + "'";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << command;
    gDisk = nullptr;
}

inline void AddNode(const std::u16string& path, DWORD attributes) {
    gDisk->nodes[Fold(path)] = Node{path, attributes};
}

inline bool Exists(const std::u16string& path) { return Find(path) != nullptr; }

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
