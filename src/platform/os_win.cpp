// Windows-only services of the platform layer.
// rand_s, the runtime's interface to the system's random source.
#define _CRT_RAND_S
#include <stdlib.h>

#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/console.h"
#include "platform/entry.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/os.h"
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

}  // namespace

WCHAR** GetWideArguments(int argc, char** argv, int* count) {
    if (FsHasWideCalls()) {
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

// Arguments reach a Windows program as typed, also under Wine.
ArgumentPath DrivePathOfArgument(const WCHAR*, WCHAR** drivePath) {
    *drivePath = nullptr;
    return ARGUMENT_AS_TYPED;
}

// The console's input records rather than _getch: _getch gives the first
// byte of a character in the console's code page (sign-extended, so that
// 0xFF reads as end of input) and drops the Esc key, and _getwch gives 224
// both for an arrow's prefix and for the character U+00E0.
void DiscardConsoleInput() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode)) FlushConsoleInputBuffer(input);
}

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

// Standard output. A console takes UTF-16, so every character shows as it
// is whatever the console's code page (the ANSI bytes would be read in the
// OEM one: "é" as "Θ"); anything else gets the ANSI code page's bytes, as
// scripts reading the output expect.

namespace {

enum OutputKind { OUTPUT_UNDECIDED, OUTPUT_CONSOLE, OUTPUT_ANSI };

OutputKind sOutputKind = OUTPUT_UNDECIDED;
// Console text waits here, written in a few large writes rather than line
// by line.
const size_t CONSOLE_BUFFER_UNITS = 16384;
// Older consoles fail a single write of much more than this.
const size_t CONSOLE_WRITE_UNITS = 8192;
WCHAR sConsoleText[CONSOLE_BUFFER_UNITS];
size_t sConsoleLength = 0;
// Units narrowed at a time for redirected output; no unit takes more than
// three bytes, a surrogate pair four.
const int ANSI_PIECE_UNITS = 512;

OutputKind DecideOutput() {
    if (sOutputKind == OUTPUT_UNDECIDED) {
        DWORD mode = 0;
        sOutputKind = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) ? OUTPUT_CONSOLE : OUTPUT_ANSI;
    }
    return sOutputKind;
}

// How much of `length` units to take at most `most` at a time: a surrogate
// pair is never cut, so that it stays one character.
size_t WholePiece(const WCHAR* text, size_t length, size_t most) {
    if (length <= most) return length;
    return IsHighSurrogate(text[most - 1]) ? most - 1 : most;
}

void WriteAnsi(const WCHAR* text, size_t length) {
    char bytes[ANSI_PIECE_UNITS * 3];
    while (length > 0) {
        size_t take = WholePiece(text, length, ANSI_PIECE_UNITS);
        int n = WideToAnsiUnits(text, (int)take, bytes, (int)sizeof bytes);
        if (n > 0) std::fwrite(bytes, 1, (size_t)n, stdout);
        text += take;
        length -= take;
    }
}

// The units the console took, all of them unless a write failed.
size_t WriteConsoleUnits(const WCHAR* text, size_t length) {
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    size_t done = 0;
    while (done < length) {
        DWORD take = (DWORD)WholePiece(text + done, length - done, CONSOLE_WRITE_UNITS);
        DWORD written = 0;
        if (!WriteConsoleW(console, text + done, take, &written, nullptr) || written == 0) break;
        done += written;
    }
    return done;
}

// Writes the kept console text; without `all`, a high surrogate at its end
// waits for its pair.
void DrainConsole(bool all) {
    size_t keep = !all && sConsoleLength > 0 && IsHighSurrogate(sConsoleText[sConsoleLength - 1]) ? 1 : 0;
    size_t ready = sConsoleLength - keep;
    size_t done = WriteConsoleUnits(sConsoleText, ready);
    if (done < ready) {
        // A console that takes no UTF-16 (a system without the wide
        // console functions) gets the ANSI bytes from here on.
        sOutputKind = OUTPUT_ANSI;
        WriteAnsi(sConsoleText + done, sConsoleLength - done);
        sConsoleLength = 0;
        return;
    }
    if (keep > 0) sConsoleText[0] = sConsoleText[ready];
    sConsoleLength = keep;
}

}  // namespace

void WriteOutput(const WCHAR* text, size_t length) {
    while (length > 0 && DecideOutput() == OUTPUT_CONSOLE) {
        if (sConsoleLength == CONSOLE_BUFFER_UNITS) {
            DrainConsole(false);
            continue;
        }
        size_t take = CONSOLE_BUFFER_UNITS - sConsoleLength;
        if (take > length) take = length;
        std::memcpy(sConsoleText + sConsoleLength, text, take * sizeof(WCHAR));
        sConsoleLength += take;
        text += take;
        length -= take;
    }
    if (length > 0) WriteAnsi(text, length);
}

// A console that fails takes the ANSI bytes instead (DrainConsole), so a
// failed write always shows on stdout.
bool FlushOutput() {
    if (sOutputKind == OUTPUT_CONSOLE) DrainConsole(true);
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

// Data on standard output, text on standard error.

namespace {

const size_t DATA_BUFFER_BYTES = 1 << 16;
FILE* sDataStream = nullptr;
HANDLE sDataConsole = nullptr;  // the console the data goes to, if it does

// UTF-8 to a console as UTF-16; false when the console takes no UTF-16.
bool WriteDataToConsole(const char* bytes, size_t length) {
    int units = MultiByteToWideChar(CP_UTF8, 0, bytes, (int)length, nullptr, 0);
    if (units <= 0) return false;
    WCHAR* text = static_cast<WCHAR*>(MemAlloc((size_t)units * sizeof(WCHAR)));
    if (text == nullptr) return false;
    MultiByteToWideChar(CP_UTF8, 0, bytes, (int)length, text, units);
    DWORD done = 0, written = 0;
    while (done < (DWORD)units && WriteConsoleW(sDataConsole, text + done, (DWORD)units - done, &written, nullptr) &&
           written > 0)
        done += written;
    MemFree(text);
    return done == (DWORD)units;
}

}  // namespace

bool SplitDataOutput() {
    std::fflush(stdout);
    int data = _dup(1);
    if (data < 0) return false;
    _setmode(data, _O_BINARY);
    FILE* stream = _fdopen(data, "wb");
    if (stream == nullptr) {
        _close(data);
        return false;
    }
    if (_dup2(2, 1) != 0) {
        std::fclose(stream);
        return false;
    }
    // Text decides afresh where it goes: the console or the file of
    // standard error.
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
    sOutputKind = OUTPUT_UNDECIDED;
    HANDLE handle = (HANDLE)_get_osfhandle(data);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) sDataConsole = handle;
    std::setvbuf(stream, nullptr, _IOFBF, DATA_BUFFER_BYTES);
    sDataStream = stream;
    return true;
}

void WriteData(const char* bytes, size_t length) {
    if (sDataConsole != nullptr && WriteDataToConsole(bytes, length)) return;
    sDataConsole = nullptr;
    std::fwrite(bytes, 1, length, sDataStream != nullptr ? sDataStream : stdout);
}

bool FlushData() {
    FILE* stream = sDataStream != nullptr ? sDataStream : stdout;
    return std::fflush(stream) == 0 && !std::ferror(stream);
}

WCHAR WideUpcase(WCHAR ch) {
    WCHAR upper = ch;
    return LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &ch, 1, &upper, 1) == 1 ? upper : ch;
}

// ===========================================================================
// The services of os.h

namespace {

// The byte that the bin lock covers: far past the end of any real file, so
// that the lock never stands in the way of reading or writing data (Windows
// locks are mandatory). Wine turns it into an fcntl lock on the same range,
// which the native build takes as well.
const DWORD LOCK_OFFSET_HIGH = 0x40000000;  // byte 2^62

HANDLE HandleOf(FILE* stream) { return (HANDLE)_get_osfhandle(_fileno(stream)); }

OVERLAPPED LockPlace() {
    OVERLAPPED place;
    std::memset(&place, 0, sizeof place);
    place.OffsetHigh = LOCK_OFFSET_HIGH;
    return place;
}

// A stream over a handle that CreateFile has just made; on failure the new
// file is removed again, since nothing else knows of it.
template <typename Char, typename Delete>
FILE* StreamOfNewFile(HANDLE file, const Char* path, Delete deleteFile) {
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    int descriptor = _open_osfhandle((intptr_t)file, _O_BINARY | _O_WRONLY);
    if (descriptor < 0) {
        CloseHandle(file);
        deleteFile(path);
        return nullptr;
    }
    FILE* stream = _fdopen(descriptor, "wb");
    if (stream == nullptr) {
        _close(descriptor);
        deleteFile(path);
    }
    return stream;
}

const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The link itself, never its target; BACKUP_SEMANTICS lets a folder open.
const DWORD OPEN_AS_ITSELF = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// Wine follows every link it is given, even with FILE_FLAG_OPEN_REPARSE_POINT:
// a handle describes the target, and deleting or moving a link deletes or
// moves what it points to.
bool IsWine() {
    static int known = -1;
    if (known < 0) {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        known = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr ? 1 : 0;
    }
    return known == 1;
}

typedef DWORD(WINAPI* FinalPathFunction)(HANDLE file, LPWSTR path, DWORD capacity, DWORD flags);

// The path a handle leads to, with every link resolved; 0 when it cannot
// be had (before Vista, or a buffer too small).
DWORD FinalPathOf(HANDLE file, WCHAR* buffer, DWORD capacity) {
    static FinalPathFunction get = nullptr;
    if (get == nullptr) {
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        if (kernel != nullptr)
            get = (FinalPathFunction)(void*)GetProcAddress(kernel, "GetFinalPathNameByHandleW");
        if (get == nullptr) return 0;
    }
    DWORD length = get(file, buffer, capacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return length < capacity ? length : 0;
}

const DWORD LONG_PATH_UNITS = 32768;

// Under Wine the only sign of a link is where its handle leads: the final
// path of a file that is no link is its folder's final path and its own
// name. `path` is the wide form of the path `file` was opened by.
bool LeadsElsewhere(HANDLE file, const WCHAR* path) {
    WCHAR* buffers = static_cast<WCHAR*>(std::malloc(3 * LONG_PATH_UNITS * sizeof(WCHAR)));
    if (buffers == nullptr) return false;
    WCHAR* final = buffers;
    WCHAR* full = buffers + LONG_PATH_UNITS;
    WCHAR* expected = buffers + 2 * LONG_PATH_UNITS;
    bool elsewhere = false;
    DWORD fullLength = GetFullPathNameW(path, LONG_PATH_UNITS, full, nullptr);
    WIN32_FIND_DATAW found;
    HANDLE search = INVALID_HANDLE_VALUE;
    if (FinalPathOf(file, final, LONG_PATH_UNITS) > 0 && fullLength > 0 && fullLength < LONG_PATH_UNITS &&
        (search = FindFirstFileW(full, &found)) != INVALID_HANDLE_VALUE) {
        FindClose(search);
        // The parent folder: the full path up to and with its last
        // separator. The separator is kept so that a folder named like a
        // device ("nul") opens as the folder, not the device.
        WCHAR* slash = wcsrchr(full, L'\\');
        if (slash != nullptr) {
            slash[1] = 0;
            HANDLE parent = CreateFileW(full, 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (parent != INVALID_HANDLE_VALUE) {
                DWORD length = FinalPathOf(parent, expected, LONG_PATH_UNITS);
                CloseHandle(parent);
                size_t nameLength = wcslen(found.cFileName);
                if (length > 0 && length + 2 + nameLength < LONG_PATH_UNITS) {
                    if (expected[length - 1] != L'\\') expected[length++] = L'\\';
                    std::memcpy(expected + length, found.cFileName, (nameLength + 1) * sizeof(WCHAR));
                    elsewhere = wcscmp(final, expected) != 0;
                }
            }
        }
    }
    std::free(buffers);
    return elsewhere;
}

// `widePath` is the path in wide form, for the check that only Wine needs.
BOOL IdentityOfHandle(HANDLE file, const WCHAR* widePath, BOOL follow, FileIdentity* identity) {
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    BY_HANDLE_FILE_INFORMATION info;
    BOOL found = GetFileInformationByHandle(file, &info);
    DWORD error = GetLastError();
    if (found) {
        identity->volume = info.dwVolumeSerialNumber;
        identity->file = ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
        identity->attributes = info.dwFileAttributes;
        identity->isLink = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (!follow && !identity->isLink && IsWine() && widePath != nullptr)
            identity->isLink = LeadsElsewhere(file, widePath);
    }
    CloseHandle(file);
    if (!found) SetLastError(error);
    return found;
}


}  // namespace

FILE* OsCreateNewFileW(const WCHAR* path) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return StreamOfNewFile(file, path, DeleteFileW);
}

FILE* OsCreateNewFileA(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return StreamOfNewFile(file, path, DeleteFileA);
}

int64_t OsTell(FILE* stream) { return _ftelli64(stream); }

BOOL OsTruncate(FILE* stream, uint64_t size) {
    if (std::fflush(stream) != 0) return FALSE;
    HANDLE file = HandleOf(stream);
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)size;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

BOOL OsLock(FILE* stream) {
    OVERLAPPED place = LockPlace();
    return LockFileEx(HandleOf(stream), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1,
                      0, &place);
}

BOOL OsUnlock(FILE* stream) {
    OVERLAPPED place = LockPlace();
    return UnlockFileEx(HandleOf(stream), 0, 1, 0, &place);
}

BOOL OsFileIdentityW(const WCHAR* path, BOOL follow, FileIdentity* identity) {
    DWORD flags = follow ? FILE_FLAG_BACKUP_SEMANTICS : OPEN_AS_ITSELF;
    return IdentityOfHandle(CreateFileW(path, 0, SHARE_ALL, nullptr, OPEN_EXISTING, flags, nullptr),
                            path, follow, identity);
}

BOOL OsFileIdentityA(const char* path, BOOL follow, FileIdentity* identity) {
    DWORD flags = follow ? FILE_FLAG_BACKUP_SEMANTICS : OPEN_AS_ITSELF;
    HANDLE file = CreateFileA(path, 0, SHARE_ALL, nullptr, OPEN_EXISTING, flags, nullptr);
    WCHAR* wide = follow ? nullptr : AnsiToWideAlloc(path);
    BOOL found = IdentityOfHandle(file, wide, follow, identity);
    MemFree(wide);
    return found;
}

BOOL OsHandlesLinksItself(void) { return IsWine() ? FALSE : TRUE; }

BOOL OsRandomBytes(void* buffer, size_t size) {
    unsigned char* out = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        unsigned int value = 0;
        if (rand_s(&value) != 0) return FALSE;
        size_t take = size < sizeof value ? size : sizeof value;
        std::memcpy(out, &value, take);
        out += take;
        size -= take;
    }
    return TRUE;
}

void OsSleep(DWORD milliseconds) { Sleep(milliseconds); }
