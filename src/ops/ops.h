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
// Whether a listing shows a deletion time (1970 to the end of 3000, the
// range the Windows runtime converts) or its placeholder.
bool IsDeletionTimeShown(uint64_t fileTime);

// Selecting entries by age and name, and the listing as data.
typedef GrowArray<int32_t, int32_t, PlainPolicy> PositionArray;
// Appends the positions of the entries the run's selection takes, in list
// order. False when memory ran out (reported).
bool SelectEntries(const Bin* bin, PositionArray* positions);
// Writes the entries at `chosen` (every entry when null) as the run's data
// format on standard output; ListEntries writes it out and checks it.
void WriteEntriesAsData(const PositionArray* chosen);

// Copies of the entries at `positions`, taken before a change so that each
// can be found again by identity after the reload under the lock (which
// renumbers the list). False when memory ran out (reported); the copies made
// stay in `copies` either way, for FreeEntryCopies.
bool CopyEntriesAt(const PositionArray& positions, PtrArray* copies);
void FreeEntryCopies(PtrArray* copies);

// Restoring and deleting one entry.
void RunEntryCommand();
bool ComposeRestoreTarget(const WCHAR* originalPath);
bool RestoreEntry(int32_t position);
bool DeleteEntry(int32_t position);
bool UnregisterEntry(int32_t position);

// Index lists ("2,5,7-9"): numbers and ranges of the listing, each checked
// against it before anything changes.
typedef GrowArray<int32_t, int32_t, PlainPolicy> PositionArray;
enum IndexListStep { INDEX_LIST_RANGE, INDEX_LIST_END, INDEX_LIST_BAD };
enum SelectResult { SELECT_OK, SELECT_OUT_OF_RANGE, SELECT_NO_MEMORY };
// Whether an index argument is a list: its leading digits are followed by
// ',' or '-'. Any other index argument is one number, as typed before.
bool IsIndexList(const WCHAR* text);
// The next number or range of a list, the cursor moved past it and its
// comma. INDEX_LIST_BAD for text that breaks the grammar ("3-", "5-2",
// "1,,2", "1,").
IndexListStep NextIndexRange(const WCHAR** cursor, int32_t* low, int32_t* high);
// Whether a well-formed list names more than one number.
bool IndexListNamesSeveral(const WCHAR* text);
// The 0-based positions an index argument chooses among `count` entries,
// ascending and each once: the list `text`, or when it is no list the
// number `single`. SELECT_OUT_OF_RANGE when the list is malformed or any
// number lies outside 1..count; nothing is chosen then.
SelectResult SelectEntryPositions(const WCHAR* text, int32_t single, int32_t count,
                                  PositionArray* positions);

// Emptying.
void RunEmptyCommand();
bool EmptyStore();

// Throwing.
void ThrowFiles();
bool ThrowOne(const WCHAR* name);
void ForeseeThrow();
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
