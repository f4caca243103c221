// The run: command line, banner and usage, finding the bin and handing it to
// one operation.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/bins.h"
#include "app/messages.h"
#include "app/runstate.h"
#include "platform/console.h"
#include "ops/ops.h"
#include "platform/entry.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"
#include "store/store.h"

RunState gRun;

namespace {

const WCHAR PROGRAM_BANNER[] = WIDE("Dustpail Manager version " DUSTPAIL_VERSION);
const size_t STDOUT_BUFFER_BYTES = 1 << 16;
const WCHAR PROGRAM_COPYRIGHT[] = WIDE("Copyright (C) 2026 The Dustpail Manager developers.");
// How long a command waits for a bin that another run is changing. Tests
// shorten it with DUSTPAIL_LOCK_WAIT_MS.
const uint32_t LOCK_WAIT_MS = 10000;
const uint32_t LOCK_WAIT_MOST_MS = 600000;

uint32_t LockWaitFromEnvironment() {
    const char* text = std::getenv("DUSTPAIL_LOCK_WAIT_MS");
    if (text == nullptr || text[0] < '0' || text[0] > '9') return LOCK_WAIT_MS;
    unsigned long value = std::strtoul(text, nullptr, 10);
    return value > LOCK_WAIT_MOST_MS ? LOCK_WAIT_MOST_MS : (uint32_t)value;
}

bool OptionWordIs(const WCHAR* word, const char* expected) {
    for (; *expected != 0; ++word, ++expected)
        if (WideLowerAscii(*word) != (WCHAR)*expected) return false;
    return *word == 0;
}

bool NoOperationYet() { return (gRun.options & ~OPT_MODIFIERS) == 0; }
bool OnlyIndexSoFar() { return (gRun.options & ~OPT_MODIFIERS) == OPT_INDEX; }

// The option bit an option word gives in the current state, or 0 when the
// word is unknown or not allowed here.
OptionFlags OptionForWord(const WCHAR* word, bool indexSeen) {
    if (OptionWordIs(word, "y")) return OPT_YES;
    if (OptionWordIs(word, "nologo")) return OPT_NOLOGO;
    if (OptionWordIs(word, "whatif")) return OPT_WHATIF;
    if (OptionWordIs(word, "delete")) return (indexSeen && OnlyIndexSoFar()) ? (OptionFlags)OPT_DELETE : 0;
    if (!NoOperationYet()) return 0;
    if (OptionWordIs(word, "f")) return OPT_THROW;
    if (OptionWordIs(word, "view")) return OPT_VIEW;
    if (OptionWordIs(word, "empty")) return OPT_EMPTY;
    if (OptionWordIs(word, "help")) return OPT_HELP;
    if (word[0] != 0 && word[1] == 0 && (word[0] == 'h' || word[0] == 'H' || word[0] == '?'))
        return OPT_HELP;
    return 0;
}

// Running out of memory while parsing is reported after the banner, as a
// drive error is, so that the message ends the run's output.
void ReportParseNoMemory() {
    PrintBanner();
    gRun.options |= OPT_NOLOGO;
    ReportNoMemory();
}

// Takes a heap copy for a RunState string field, replacing what was there.
bool KeepCopy(WCHAR** field, const WCHAR* value) {
    WCHAR* copy = WideDuplicate(value);
    if (copy == nullptr) {
        ReportParseNoMemory();
        return false;
    }
    MemFree(*field);
    *field = copy;
    return true;
}

// A Unix path that no drive holds names no file the program can reach. It
// is reported after the banner, as a drive error is, instead of the usage.
void ReportNoDriveHolds(const WCHAR* argument) {
    PrintBanner();
    gRun.options |= OPT_NOLOGO;
    PrintCatalogue(MSG_ERR_FILE_INVALID, argument);
    gRun.exitCode = EXIT_FILE_INVALID;
}

// ---------------------------------------------------------------------------
// The listing options: /json and /csv (how a listing is written), /older:<days>
// and /match:<pattern> (which entries a listing shows or /empty removes).
// Each is a modifier, matched as the other option words are, that may stand
// anywhere on the line; whether it fits the command is checked once the
// whole line is read.

const int32_t MOST_DAYS = 36500;
const int64_t SECONDS_PER_DAY = 86400;

enum ListingOption { LISTING_NONE, LISTING_TAKEN, LISTING_REFUSED };

// An option word, without regard to case, with what follows its ':' in
// *value (null when there is no ':').
bool ValuedWordIs(const WCHAR* word, const char* expected, const WCHAR** value) {
    for (; *expected != 0; ++word, ++expected)
        if (WideLowerAscii(*word) != (WCHAR)*expected) return false;
    if (*word != 0 && *word != ':') return false;
    *value = *word == ':' ? word + 1 : nullptr;
    return true;
}

// A whole number of days, digits alone, 0 to MOST_DAYS.
bool ParseDays(const WCHAR* text, int64_t* seconds) {
    if (text == nullptr || *text == 0) return false;
    int64_t days = 0;
    for (; *text != 0; ++text) {
        if (*text < '0' || *text > '9') return false;
        days = days * 10 + (*text - '0');
        if (days > MOST_DAYS) return false;
    }
    *seconds = days * SECONDS_PER_DAY;
    return true;
}

ListingOption TakeListingOption(const WCHAR* argument) {
    if (argument[0] != '-' && argument[0] != '/') return LISTING_NONE;
    if (argument[0] == '-' && argument[1] == '-') ++argument;
    const WCHAR* word = argument + 1;
    const WCHAR* value = nullptr;
    bool json = ValuedWordIs(word, "json", &value);
    if (json || ValuedWordIs(word, "csv", &value)) {
        ListFormat format = json ? LIST_JSON : LIST_CSV;
        if (value != nullptr || (gRun.listFormat != LIST_TABLE && gRun.listFormat != format))
            return LISTING_REFUSED;
        gRun.listFormat = format;
        return LISTING_TAKEN;
    }
    if (ValuedWordIs(word, "older", &value)) {
        if (!ParseDays(value, &gRun.selection.olderSeconds)) return LISTING_REFUSED;
        gRun.selection.byAge = true;
        return LISTING_TAKEN;
    }
    if (ValuedWordIs(word, "match", &value)) {
        if (value == nullptr || *value == 0 || !KeepCopy(&gRun.selection.pattern, value)) return LISTING_REFUSED;
        // Paths are stored with '\'; a pattern typed with '/' means the same.
        UseBackslashes(gRun.selection.pattern);
        return LISTING_TAKEN;
    }
    return LISTING_NONE;
}

// A format goes with a listing; a selection with a listing or /empty.
bool ListingOptionsFit() {
    OptionFlags operation = gRun.options & ~OPT_MODIFIERS;
    bool lists = operation == 0 || operation == OPT_VIEW;
    if (gRun.listFormat != LIST_TABLE && !lists) return false;
    return !HasSelection(gRun.selection) || lists || operation == OPT_EMPTY;
}

void ForgetListingOptions() {
    MemFree(gRun.selection.pattern);
    gRun.selection = Selection();
    gRun.listFormat = LIST_TABLE;
}

// ---------------------------------------------------------------------------

bool TakeOption(const WCHAR* argument, bool indexSeen, bool* operandSeen) {
    // --view is -view; /-view is not an option.
    if (argument[0] == '-' && argument[1] == '-') ++argument;
    OptionFlags option = OptionForWord(argument + 1, indexSeen);
    if (option == 0) return false;
    gRun.options |= option;
    if (option == OPT_THROW) *operandSeen = true;
    return true;
}

// An argument that is not an option: after /f a name to throw, whatever it
// begins with; else an index, a drive, the bin path or the restore path by
// its place on the line.
bool TakeOperand(const WCHAR* argument, bool* indexSeen, bool* operandSeen) {
    if (gRun.options & OPT_THROW) {
        if (gRun.throwList.Add(argument) >= 0) return true;
        ReportParseNoMemory();
        return false;
    }
    WCHAR first = argument[0];
    if (first >= '0' && first <= '9') {
        if (!NoOperationYet() && !(gRun.options & OPT_INDEX)) return false;
        gRun.index = (int32_t)WideToLong(argument);
        if (!KeepCopy(&gRun.indexText, argument)) return false;
        gRun.options |= OPT_INDEX;
        *indexSeen = true;
        *operandSeen = true;
        return true;
    }
    if (*operandSeen) return *indexSeen && OnlyIndexSoFar() && KeepCopy(&gRun.restorePath, argument);
    if (first != 0 && argument[1] == ':' && argument[2] == 0) {
        if (!IsDriveAccessible(first)) {
            PrintBanner();
            gRun.options |= OPT_NOLOGO;
            PrintCatalogue(MSG_ERR_DRIVE_ACCESS, (int)WideUpperAscii(first));
            gRun.exitCode = EXIT_DRIVE_ACCESS;
            return false;
        }
        gRun.drive = WideUpperAscii(first) - 'A' + 1;
    } else if (!KeepCopy(&gRun.bin.path, argument)) {
        return false;
    }
    *operandSeen = true;
    return true;
}

// --- Checks of the whole line: /whatif, index lists ------------------------

// /whatif foresees emptying, throwing and an index command, nothing else.
bool WhatIfApplies() {
    return (gRun.options & OPT_WHATIF) == 0 || (gRun.options & OPT_WHATIF_APPLIES) != 0;
}

// Several entries restored to one path would all be given its name: the
// path must name a folder (end with a separator) to take each by its own.
bool RestorePathFitsSelection() {
    if (gRun.restorePath == nullptr || (gRun.options & OPT_DELETE) ||
        !IndexListNamesSeveral(gRun.indexText))
        return true;
    size_t length = WideLength(gRun.restorePath);
    return length > 0 && IsPathSeparator(gRun.restorePath[length - 1]);
}

void RunOperation() {
    OptionFlags operation = gRun.options & ~OPT_MODIFIERS;
    // A line with modifiers only (or a bare bin path) lists the bin.
    if (operation == 0 || (gRun.options & OPT_VIEW)) {
        ListEntries();
    } else if (gRun.options & OPT_EMPTY) {
        RunEmptyCommand();
    } else if (gRun.options & OPT_INDEX) {
        RunEntryCommand();
    }
}

void WorkOnBin() {
    if (gRun.bin.path == nullptr) {
        gRun.bin.path = FindRunBin(gRun.drive);
        // A search that met an error (memory) may have passed over a bin
        // or a marker: what it found is not worked on.
        if (gRun.exitCode >= EXIT_FIRST_ERROR) return;
        if (gRun.bin.path == nullptr) {
            gRun.exitCode = EXIT_BIN_NOT_FOUND;
            PrintCatalogue(MSG_ERR_BIN_NOT_FOUND, (int)('A' + gRun.drive - 1));
            return;
        }
    }
    PrintCatalogue(MSG_BIN_PATH, gRun.bin.path);
    StoreStatus status = STORE_OK;
    gRun.bin.format = DetectBinFormat(gRun.bin.path, &status);
    if (status != STORE_OK) {
        ReportStoreFailure(status, gRun.bin.path);
        return;
    }
    if (gRun.bin.format == FORMAT_NONE) {
        PrintCatalogue(MSG_ERR_BIN_INVALID, gRun.bin.path);
        gRun.exitCode = EXIT_BIN_INVALID;
        return;
    }
    if (gRun.options & OPT_THROW) {
        ThrowFiles();
        return;
    }
    if (!LoadBinEntries(&gRun.bin, true)) {
        PrintCatalogue(MSG_ERR_READ_FAILED, gRun.bin.path);
        gRun.exitCode = EXIT_READ_FAILED;
        return;
    }
    RunOperation();
}

void CleanUp() {
    UnlockBin(&gRun.bin);
    FreeEntries(&gRun.bin);
    gRun.throwList.RemoveAll();
    MemFree(gRun.bin.path);
    gRun.bin.path = nullptr;
    MemFree(gRun.restorePath);
    gRun.restorePath = nullptr;
    MemFree(gRun.indexText);
    gRun.indexText = nullptr;
    ForgetListingOptions();
}

}  // namespace

void ReportNoMemory() {
    PrintCatalogue(MSG_ERR_NO_MEMORY);
    gRun.exitCode = EXIT_NO_MEMORY;
}

bool IsJapaneseCodePage() { return FsCodePage() == 932; }

bool IsDriveAccessible(WCHAR letter) {
    letter = WideUpperAscii(letter);
    if (letter < 'A' || letter > 'Z') return false;
    int current = FsCurrentDrive();
    bool accessible = FsChangeDrive(letter - 'A' + 1);
    FsChangeDrive(current);
    return accessible;
}

void PrintBanner() {
    if (gRun.options & OPT_NOLOGO) return;
    PrintMessage(WIDE("%s\n%s\n\n"), PROGRAM_BANNER, PROGRAM_COPYRIGHT);
}

void PrintUsage() {
    PrintCatalogue(MSG_USAGE);
    if (gRun.exitCode == 0) gRun.exitCode = EXIT_USAGE;
}

bool ParseCommandLine(int count, WCHAR** arguments) {
    gRun.options = 0;
    ForgetListingOptions();
    bool indexSeen = false;
    bool operandSeen = false;
    bool optionsEnded = false;
    for (int i = 1; i < count; ++i) {
        const WCHAR* argument = arguments[i];
        if (!optionsEnded && WideCompare(argument, WIDE("--")) == 0) {
            optionsEnded = true;
            continue;
        }
        // Before the look at Unix paths: a pattern may hold a '/'.
        ListingOption listing = optionsEnded ? LISTING_NONE : TakeListingOption(argument);
        if (listing == LISTING_REFUSED) return false;
        if (listing == LISTING_TAKEN) continue;
        WCHAR* drivePath = nullptr;
        ArgumentPath kind = DrivePathOfArgument(argument, &drivePath);
        bool taken;
        if (kind == ARGUMENT_NO_MEMORY) {
            ReportParseNoMemory();
            taken = false;
        } else if (kind == ARGUMENT_NO_DRIVE) {
            ReportNoDriveHolds(argument);
            taken = false;
        } else if (kind == ARGUMENT_DRIVE_PATH) {
            taken = TakeOperand(drivePath, &indexSeen, &operandSeen);
            MemFree(drivePath);
        } else if (!optionsEnded && (argument[0] == '-' || argument[0] == '/')) {
            taken = TakeOption(argument, indexSeen, &operandSeen);
        } else {
            taken = TakeOperand(argument, &indexSeen, &operandSeen);
        }
        if (!taken) return false;
    }
    if ((gRun.options & OPT_THROW) && gRun.throwList.Length() == 0) return false;
    return WhatIfApplies() && RestorePathFitsSelection() && ListingOptionsFit();
}

int32_t RunProgram(int count, WCHAR** arguments) {
    // Text that goes through the runtime's stdout (all but a Windows
    // console's) waits in one big buffer: a listing of thousands of lines
    // is then a few writes. The prompts flush before they wait, so the order
    // on screen stays that of the calls.
    std::setvbuf(stdout, nullptr, _IOFBF, STDOUT_BUFFER_BYTES);
    gRun.lockWaitMs = LockWaitFromEnvironment();
    gRun.language = IsJapaneseCodePage() ? LANGUAGE_JAPANESE : LANGUAGE_ENGLISH;
    gRun.exitCode = 0;
    gRun.options = 0;
    gRun.bin.format = FORMAT_NONE;
    gRun.drive = FsCurrentDrive();
    if (count <= 1) {
        PrintBanner();
        PrintUsage();
        return gRun.exitCode;
    }
    gRun.bin.path = nullptr;
    gRun.restorePath = nullptr;
    gRun.indexText = nullptr;
    if (!ParseCommandLine(count, arguments)) {
        PrintBanner();
        if (gRun.exitCode == 0) {
            PrintCatalogue(MSG_ERR_COMMAND_LINE);
            PrintMessage(WIDE("\n"));
            gRun.exitCode = EXIT_COMMAND_LINE;
            PrintUsage();
        }
    } else {
        // Data for programs has standard output to itself.
        if (gRun.listFormat != LIST_TABLE) SplitDataOutput();
        PrintBanner();
        if (gRun.options & OPT_HELP)
            PrintUsage();
        else
            WorkOnBin();
    }
    CleanUp();
    return gRun.exitCode;
}
