// The five commands' work on the store and on the disk.
#ifndef DUSTPAIL_OPS_OPS_H
#define DUSTPAIL_OPS_OPS_H

#include <cstdint>

#include "platform/arrays.h"
#include "platform/fs.h"
#include "platform/sysapi.h"
#include "platform/wide.h"
#include "store/store.h"

// Listing.
void ListEntries();
// The entry's original path as text (an ANSI path read in the ANSI code
// page, as the system reads it): a new heap string, or null for no path or
// no memory (the caller tells them apart by HasOriginalPath).
WCHAR* WideOriginalPath(const BinEntry* entry);
char AttributeLetter(uint32_t attributes, uint32_t bit, char letter);
// "yyyy/mm/dd hh:mm:ss" of a FILETIME in local time, or a fixed placeholder
// when the local-time conversion rejects it; buffer of at least 20 bytes.
void FormatDeletionTime(uint64_t fileTime, char* buffer, size_t capacity);

// Restoring and deleting one entry.
void RunEntryCommand();
bool ComposeRestoreTarget(const WCHAR* originalPath);
bool RestoreEntry(int32_t position);
bool DeleteEntry(int32_t position);
bool UnregisterEntry(int32_t position);

// Emptying.
void RunEmptyCommand();
bool EmptyStore();

// Throwing.
void ThrowFiles();
bool ThrowOne(const WCHAR* name);
uint64_t ClusterRoundedSize(const WCHAR* path);
const int MAX_NAME_ATTEMPTS = 10;
// What MakeItemIndexName found besides the name it returns.
enum ItemNameResult {
    ITEM_NAME_OK,         // a new name (caller frees) that neither "$I" nor "$R" uses
    ITEM_NAME_NO_MEMORY,  // null: memory ran out (nothing reported)
    ITEM_NAME_NONE_FREE,  // null: every attempt met a name in use
    ITEM_NAME_TOO_LONG,   // null: the name would not fit a path buffer
    ITEM_NAME_NO_RANDOM,  // null: the system's random source failed
};
// The six characters after "$I" or "$R" that the names in a bin folder
// use, read from the folder once and kept current, so that finding a free
// name costs no folder lookups.
struct ItemCodeSet {
    NumberArray codes;  // each code in base 36
};
// With `inUse`, a name is free when its code is not in the set; without
// it, when neither the "$I" nor the "$R" name exists in the folder.
WCHAR* MakeItemIndexName(const WCHAR* folder, const WCHAR* prefix, const WCHAR* extension,
                         const ItemCodeSet* inUse, ItemNameResult* result);

// Tree removal.
bool RemovePath(const WCHAR* path);
bool RemoveTree(const WCHAR* path);

// Path normalisation.
const int FULL_PATH_CHARS = 260;
WCHAR* MakeFullPath(const WCHAR* name);
void NormalisePath(const WCHAR* source, WCHAR* destination);
// Turns every '/' of a path into '\', as the system's full paths have it.
void UseBackslashes(WCHAR* path);
WCHAR* GetDriveDirectory(int drive, WCHAR* buffer, int capacity);
// Whether a full path, or a folder it lies in, is the folder `folder`
// (compared by identity, so that another spelling of it is caught too).
// Names that do not exist are passed over: the folders above them count.
// With followSelf the path itself is taken through a link it may be.
bool PathWithin(const WCHAR* fullPath, bool followSelf, const FileIdentity& folder);

#endif
