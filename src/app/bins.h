// The app's side of the store, which prints nothing: finding the run's bin
// (asking which when a drive has several), the "Reading" line, the lock's
// wait notice, and each store outcome told as its message and exit code.
#ifndef DUSTPAIL_APP_BINS_H
#define DUSTPAIL_APP_BINS_H

#include <cstdint>

#include "platform/sysapi.h"
#include "store/store.h"

// Prints the message of a failed store call on the bin folder binPath and
// returns the exit code it carries (STORE_OK: nothing, 0).
int32_t PrintStoreFailure(StoreStatus status, const WCHAR* binPath);
// The same, with the run's exit code set.
void ReportStoreFailure(StoreStatus status, const WCHAR* binPath);

// The drive's bin: the one it has, or the one the user picks among several
// (a new string). Null when there is none or none was picked, and after a
// report when the search failed.
WCHAR* FindRunBin(int32_t drive);

// "Reading: <the index file, or the bin folder of the per-item layout> ..."
void PrintReading(const Bin* bin);
// Loads the bin's entries, after the "Reading" line when `announce`. False
// when they could not be read, after running out of memory has been
// reported; a read that failed is left to the caller, whose message it is.
bool LoadBinEntries(Bin* bin, bool announce);
// Takes the bin's lock for a change, waiting up to gRun.lockWaitMs with a
// notice once the wait shows; false after a report (busy: 66; its file
// cannot be opened or locked: 61).
bool TakeBinLock(Bin* bin);

#endif
