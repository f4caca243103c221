// The one program-wide record of a run, its option bits and exit codes.
#ifndef DUSTPAIL_APP_RUNSTATE_H
#define DUSTPAIL_APP_RUNSTATE_H

#include <cstdint>
#include <cstdio>

#include "platform/arrays.h"
#include "platform/sysapi.h"
#include "store/store.h"

typedef uint32_t OptionFlags;
enum : OptionFlags {
    OPT_NOLOGO = 0x01,
    OPT_DELETE = 0x02,
    OPT_VIEW = 0x04,
    OPT_EMPTY = 0x08,
    OPT_YES = 0x10,
    OPT_HELP = 0x20,
    OPT_THROW = 0x40,
    OPT_INDEX = 0x80,
    OPT_WHATIF = 0x100,  // show what would be done, change nothing
};
// Modifiers never conflict; ordering rules look at the other bits only.
const OptionFlags OPT_MODIFIERS = OPT_NOLOGO | OPT_YES | OPT_WHATIF;
// The operations /whatif can foresee.
const OptionFlags OPT_WHATIF_APPLIES = OPT_EMPTY | OPT_THROW | OPT_INDEX;

typedef int32_t Language;
enum : Language {
    LANGUAGE_JAPANESE = 0,
    LANGUAGE_ENGLISH = 1,
};

enum ExitCode : int32_t {
    EXIT_OK = 0,
    EXIT_USAGE = 1,
    EXIT_CANCELED = 2,
    EXIT_ALREADY_EMPTY = 3,
    EXIT_CTRL_C = 3,
    EXIT_WARN_NOT_UNREGISTERED = 11,
    EXIT_COMMAND_LINE = 21,
    EXIT_BIN_INVALID = 22,
    EXIT_INDEX_RANGE = 23,
    EXIT_NO_FILES = 24,
    EXIT_FILE_INVALID = 25,
    EXIT_DRIVE_MISMATCH = 26,
    EXIT_DRIVE_ACCESS = 27,
    EXIT_BIN_NOT_FOUND = 28,
    EXIT_NOTHING_TO_THROW = 29,
    EXIT_READ_FAILED = 61,
    EXIT_RESTORE_FAILED = 62,
    EXIT_DELETE_FAILED = 63,
    EXIT_EMPTY_FAILED = 64,
    EXIT_CREATE_FAILED = 65,
    EXIT_BIN_BUSY = 66,
    EXIT_OUTPUT_FAILED = 67,
    EXIT_NO_MEMORY = 254,
    EXIT_UNKNOWN = 255,
};
// Codes from here up are errors; below are outcomes.
const int32_t EXIT_FIRST_ERROR = 20;

// How a listing is written: the numbered table, or data for programs.
typedef uint8_t ListFormat;
enum : ListFormat {
    LIST_TABLE = 0,
    LIST_JSON = 1,  // JSON Lines, one object an entry
    LIST_CSV = 2,   // RFC 4180, a header row first
};

// Which entries a listing shows and a selective emptying removes; all of
// them when neither part is given.
struct Selection {
    bool byAge = false;
    int64_t olderSeconds = 0;  // deleted more than this long before now
    WCHAR* pattern = nullptr;  // wildcard pattern of the original path (owned)
};

struct RunState {
    int32_t drive = 0;        // 1 = A:
    Language language = LANGUAGE_ENGLISH;
    int32_t exitCode = 0;
    WCHAR* restorePath = nullptr;
    int32_t index = 0;
    WCHAR* indexText = nullptr;  // the index argument as typed: a list ("2,5,7-9") or one number
    Bin bin;
    OptionFlags options = 0;
    StringArray throwList;
    uint32_t lockWaitMs = 0;  // how long to wait for a bin another run holds
    ListFormat listFormat = LIST_TABLE;
    Selection selection;
};

// Whether the command line chose entries by age or name.
inline bool HasSelection(const Selection& selection) {
    return selection.byAge || selection.pattern != nullptr;
}

extern RunState gRun;

// Sets the exit code and prints the out-of-memory message: the one report
// every layer gives when an allocation fails.
void ReportNoMemory();

int32_t RunProgram(int count, WCHAR** arguments);
bool ParseCommandLine(int count, WCHAR** arguments);
void PrintBanner();
void PrintUsage();
bool IsDriveAccessible(WCHAR letter);
bool IsJapaneseCodePage();

#endif
