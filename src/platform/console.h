// One key from the console, whole: a character, or a key that types none.
#ifndef DUSTPAIL_PLATFORM_CONSOLE_H
#define DUSTPAIL_PLATFORM_CONSOLE_H

#include <cstdint>

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
