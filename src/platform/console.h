// The console: text out, and one key in, whole: a character, or a key that
// types none.
#ifndef DUSTPAIL_PLATFORM_CONSOLE_H
#define DUSTPAIL_PLATFORM_CONSOLE_H

#include <cstddef>
#include <cstdint>

#include "platform/sysapi.h"

// Appends `length` units of text to standard output, which shows every
// character the system can: a Windows console is written in UTF-16
// (WriteConsoleW), whatever its code page; redirected Windows output is
// the ANSI code page's bytes ('#' for what it lacks); the POSIX build writes
// the locale's character set to terminals and pipes alike. The text is
// buffered: FlushOutput writes it out, before a prompt waits and before the
// program ends. Never allocates, so a report still shows when memory has
// run out.
void WriteOutput(const WCHAR* text, size_t length);
// Writes out what waits; false once a write of standard output has failed.
bool FlushOutput();

// Standard output for data alone (the machine-readable listings).
// SplitDataOutput, called before anything is written, sends all later text
// of WriteOutput to standard error and keeps standard output for WriteData:
// UTF-8 bytes as they are, so that redirected data is the same in every
// build and code page (a Windows console is given them as UTF-16, which it
// can show). False when the streams could not be split; WriteData then
// writes to standard output along with the text. Each WriteData call holds
// whole characters.
bool SplitDataOutput();
void WriteData(const char* bytes, size_t length);
// Writes out what waits; false when a write of the data failed.
bool FlushData();

enum ConsoleKeyKind {
    CONSOLE_KEY_END,        // no console on standard input, or its input has ended
    CONSOLE_KEY_CHARACTER,  // a character key; Esc is the character 27
    CONSOLE_KEY_SPECIAL,    // arrows, Home, function keys..., and any key typed with Alt
};

struct ConsoleKey {
    ConsoleKeyKind kind;
    uint32_t character;  // the character's code point, for CONSOLE_KEY_CHARACTER
};

// Waits for the next key. Key releases and modifier keys pressed alone are
// no keys; Ctrl+C is the character 3 where the console hands it over.
ConsoleKey ReadConsoleKey();
// Drops what was typed before now (type-ahead, or the line feed that a
// number's CR LF leaves behind), so that a question is answered only by a
// key pressed after it is shown.
void DiscardConsoleInput();

#endif
