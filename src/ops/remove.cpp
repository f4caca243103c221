// Removing a file, or a directory with everything below it. Nothing here
// prints; the callers report.
//
// A link inside a data item (junction, directory symbolic link, any other
// reparse point) is removed as a link and never followed: the bin's own
// items may point anywhere, and emptying the bin must never reach outside it.
// Where the system cannot remove a link as a link, it is kept.
#include "ops/ops.h"

#include "platform/arrays.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"

namespace {

// How a collected child of a directory is removed.
enum ChildKind : uint8_t {
    CHILD_FILE = 0,       // a file, or a link to one
    CHILD_DIRECTORY = 1,  // a real directory: emptied first
    CHILD_LINK = 2,       // a link that shows as a directory: the link alone
};

ChildKind KindOf(DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return CHILD_FILE;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return CHILD_LINK;
    return CHILD_DIRECTORY;
}

// A removal counts when the name is gone afterwards: a system may report
// success for a file it could not remove (Wine does, on a read-only mount).
bool Gone(const WCHAR* path) { return FsPathMissing(path); }

// On a system that removes what a link points to instead of the link
// (Wine), a link is kept: the removal fails, and the caller reports it.
bool MustKeep(const WCHAR* path, ChildKind kind) {
    if (FsHandlesLinksItself()) return false;
    return kind == CHILD_LINK || FsIsLink(path);
}

bool RemoveKind(const WCHAR* path, ChildKind kind) {
    if (MustKeep(path, kind)) return false;
    switch (kind) {
        case CHILD_DIRECTORY:
            return RemoveTree(path);
        case CHILD_LINK:
            return FsRemoveDirectory(path) != 0 && Gone(path);
        default:
            return FsDeleteFile(path) != 0 && Gone(path);
    }
}

// "parent\name" in a new string sized for it: a deep path is passed on
// whole, never cut, and the file system decides whether it can reach it.
WCHAR* ChildPath(const WCHAR* parent, const WCHAR* name) {
    size_t capacity = WideLength(parent) + WideLength(name) + 2;
    WCHAR* path = static_cast<WCHAR*>(MemAlloc(capacity * sizeof(WCHAR)));
    if (path == nullptr) return nullptr;
    if (FormatWide(path, capacity, WIDE("%s\\%s"), parent, name) < 0) {
        MemFree(path);
        return nullptr;
    }
    return path;
}

// Reads the whole directory before anything in it is removed. A child that
// cannot be recorded (memory) ends the collection; the directory then keeps
// it and cannot be removed, which the caller sees as a failure.
void CollectChildren(const WCHAR* directory, StringArray* paths, ByteArray* kinds) {
    WCHAR* pattern = ChildPath(directory, WIDE("*.*"));
    if (pattern == nullptr) return;
    // A search that breaks off leaves children unread, which keep the
    // directory from going just as a child that cannot be recorded does.
    FolderWalk walk;
    FolderStep step = FsFirstInFolder(&walk, pattern);
    MemFree(pattern);
    for (; step == FOLDER_ENTRY; step = FsNextInFolder(&walk)) {
        WCHAR* child = ChildPath(directory, walk.found.cFileName);
        bool kept = child != nullptr && kinds->Add(KindOf(walk.found.dwFileAttributes)) >= 0 &&
                    paths->Add(child) >= 0;
        MemFree(child);
        if (!kept) break;
    }
    FsEndFolderWalk(&walk);
}

}  // namespace

bool RemovePath(const WCHAR* path) {
    DWORD attributes = FsGetFileAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return RemoveKind(path, KindOf(attributes));
}

bool RemoveTree(const WCHAR* path) {
    StringArray paths;
    ByteArray kinds;
    CollectChildren(path, &paths, &kinds);
    // Failures below are left to show in the directory's own removal.
    for (int32_t i = 0; i < paths.Length(); ++i)
        RemoveKind(paths.At(i), static_cast<ChildKind>(kinds.At(i)));
    return FsRemoveDirectory(path) != 0 && Gone(path);
}
