// Windows-only services of the platform layer.
#include <cstring>

#include "platform/console.h"
#include "platform/entry.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"

// The runtime's own split of the wide command line (blanks separate, double
// quotes group, no wildcard expansion), the same rules it applies to argv.
struct WideStartupInfo {
    int newMode;
};
extern "C" int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int doWildcard,
                                      WideStartupInfo* startupInfo);

namespace {

bool IsModifierKey(WORD virtualKey) {
    switch (virtualKey) {
        case VK_SHIFT:
        case VK_CONTROL:
        case VK_MENU:
        case VK_CAPITAL:
        case VK_NUMLOCK:
        case VK_SCROLL:
        case VK_LWIN:
        case VK_RWIN:
            return true;
        default:
            return false;
    }
}

bool IsHighSurrogate(WCHAR unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(WCHAR unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The key of one input record; false for a record that is no key. Wine's
// console gives a lone ESC as the Esc key without a character, and ESC ESC
// as Esc with Alt; an escape sequence it does not know comes as its
// characters with Alt. A character beyond the BMP comes as two records.
bool KeyOfRecord(const INPUT_RECORD& record, WCHAR* highSurrogate, ConsoleKey* key) {
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return false;
    const KEY_EVENT_RECORD& event = record.Event.KeyEvent;
    WCHAR unit = event.uChar.UnicodeChar;
    if (event.wVirtualKeyCode == VK_ESCAPE) {
        *key = {CONSOLE_KEY_CHARACTER, 27};
        return true;
    }
    if (IsModifierKey(event.wVirtualKeyCode)) return false;
    if (IsHighSurrogate(unit)) {
        *highSurrogate = unit;
        return false;
    }
    uint32_t character = unit;
    if (IsLowSurrogate(unit) && *highSurrogate != 0)
        character = 0x10000 + (((uint32_t)*highSurrogate - 0xD800) << 10) + (unit - 0xDC00);
    *highSurrogate = 0;
    bool alt = (event.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
    if (unit == 0 || alt)
        *key = {CONSOLE_KEY_SPECIAL, 0};
    else
        *key = {CONSOLE_KEY_CHARACTER, character};
    return true;
}

bool HasWideCommandLine() {
    if (FsIsAnsiOnly()) return false;
    SetLastError(ERROR_SUCCESS);
    LPWSTR line = GetCommandLineW();
    return !(line == nullptr && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED);
}

}  // namespace

WCHAR** GetWideArguments(int argc, char** argv, int* count) {
    if (HasWideCommandLine()) {
        int wideCount = 0;
        wchar_t** wideArgv = nullptr;
        wchar_t** wideEnv = nullptr;
        WideStartupInfo startupInfo = {0};
        if (__wgetmainargs(&wideCount, &wideArgv, &wideEnv, 0, &startupInfo) >= 0 &&
            wideArgv != nullptr) {
            *count = wideCount;
            return CopyWideArguments(wideCount, wideArgv);
        }
    }
    // A system without wide functions: the narrow vector in the ANSI code page.
    WCHAR** wide = static_cast<WCHAR**>(MemAlloc(sizeof(WCHAR*) * ((size_t)argc + 1)));
    if (wide == nullptr) return nullptr;
    for (int i = 0; i < argc; ++i) {
        wide[i] = AnsiToWideAlloc(argv[i]);
        if (wide[i] == nullptr) {
            FreeWideArguments(wide, i);
            return nullptr;
        }
    }
    wide[argc] = nullptr;
    *count = argc;
    return wide;
}

// The console's input records rather than _getch: _getch gives the first
// byte of a character in the console's code page (sign-extended, so that
// 0xFF reads as end of input) and drops the Esc key, and _getwch gives 224
// both for an arrow's prefix and for the character U+00E0.
ConsoleKey ReadConsoleKey() {
    ConsoleKey key = {CONSOLE_KEY_END, 0};
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) return key;
    // Raw as _getch reads: no line editing, no echo, Ctrl+C a key.
    SetConsoleMode(input, 0);
    WCHAR highSurrogate = 0;
    for (;;) {
        INPUT_RECORD record;
        DWORD count = 0;
        SetLastError(ERROR_SUCCESS);
        if (!ReadConsoleInputW(input, &record, 1, &count)) {
            // Wine's console fails a read with no error when Ctrl+C arrives
            // and cannot be raised as a signal; _getch drops the key, too.
            if (GetLastError() == ERROR_SUCCESS) continue;
            break;
        }
        if (count == 1 && KeyOfRecord(record, &highSurrogate, &key)) break;
    }
    SetConsoleMode(input, mode);
    return key;
}
