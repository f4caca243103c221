// The two-language message catalogue and console output.
#ifndef DUSTPAIL_APP_MESSAGES_H
#define DUSTPAIL_APP_MESSAGES_H

#include "platform/sysapi.h"

enum MessageId {
    MSG_USAGE = 0,
    MSG_BIN_PATH,
    MSG_FILE_COUNT,
    MSG_BIN_EMPTY,
    MSG_LIST_HEADER,
    MSG_ASK_RESTORE,
    MSG_ASK_DELETE,
    MSG_ASK_EMPTY,
    MSG_ASK_THROW,
    MSG_READING,
    MSG_RESTORING,
    MSG_DELETING_ONE,
    MSG_DELETING,
    MSG_FINISHED,
    MSG_DOS_NAME,
    MSG_CHOOSE_BIN,
    MSG_INPUT_INDEX,
    MSG_RESTORE_OK,
    MSG_DELETE_OK,
    MSG_THROW_OK,
    MSG_CANCELED,
    MSG_ALREADY_EMPTY,
    MSG_EMPTIED,
    MSG_WARN_MOVED_NOT_UNREGISTERED,
    MSG_WARN_DELETED_NOT_UNREGISTERED,
    MSG_ERR_COMMAND_LINE,
    MSG_ERR_BIN_INVALID,
    MSG_ERR_FILE_INVALID,
    MSG_ERR_INDEX_RANGE,
    MSG_ERR_NO_FILES,
    MSG_ERR_DRIVE_MISMATCH,
    MSG_ERR_DRIVE_ACCESS,
    MSG_ERR_BIN_NOT_FOUND,
    MSG_ERR_NOTHING_TO_THROW,
    MSG_ERR_READ_FAILED,
    MSG_ERR_RESTORE_FAILED,
    MSG_ERR_DELETE_FAILED,
    MSG_ERR_EMPTY_FAILED,
    MSG_ERR_CREATE_FAILED,
    MSG_ERR_NO_MEMORY,
    MSG_ERR_UNKNOWN,
    MSG_WAIT_BIN,
    MSG_ERR_BIN_BUSY,
    MSG_ERR_ENTRY_CHANGED,
    // /whatif: what a command would do.
    MSG_WHATIF_RESTORE,
    MSG_WHATIF_DELETE,
    MSG_WHATIF_THROW,
    MSG_WHATIF_DONE,
    MSG_ASK_EMPTY_SELECTED,
    MSG_NONE_SELECTED,
    MSG_SELECTED_DELETED,
    MSG_ERR_OUTPUT_FAILED,
    MSG_COUNT
};

const WCHAR* MessageText(int id);
// Formats a wide format with its arguments and writes the text to standard
// output (WriteOutput: UTF-16 to a Windows console, the ANSI code page when
// redirected, the locale's character set on POSIX). Returns the wide
// characters produced. Control characters (U+0000-U+001F, U+007F-U+009F)
// that the arguments bring are shown as '?': a path never steers the
// terminal.
int PrintMessage(const WCHAR* format, ...);
// The catalogue text of id with its arguments.
int PrintCatalogue(int id, ...);
// Writes text as it is, but for its control characters, shown as '?' as
// PrintMessage shows an argument's.
void PrintShownText(const WCHAR* text);
// Copies text as PrintShownText shows it into `out` (unterminated), with
// its length and its width as ShownAnsiWidth counts it; false when it needs
// more than `capacity` units.
bool CopyShownText(WCHAR* out, size_t capacity, const WCHAR* text, size_t* length, size_t* width);
// The width of text in a listing's column: its bytes in the ANSI code page
// as PrintMessage shows it (a control character as '?'), the count a
// redirected Windows listing has always padded by. Every build pads the
// same, so that their lines differ only in the characters.
size_t ShownAnsiWidth(const WCHAR* text);

// Console input: the prompts.
bool AskYesNo(const WCHAR* prompt);
int32_t AskNumber(int32_t lowest, int32_t highest);

#endif
