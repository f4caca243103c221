// The console on the POSIX backend: keys read from a terminal as Wine's
// console reads them, and standard output in the locale's character set.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "platform/posix/posix.h"

// ---------------------------------------------------------------------------
// Console keys: standard input when it is a terminal (Wine's console gives
// end of input for any other). The terminal is raw and silent while a key is
// read, and as it was after. The bytes are taken as Wine's console takes
// them: what arrives together with an ESC is one key, a special key's escape
// sequence or a key typed with Alt; an ESC with nothing after it is Esc.

namespace posix {

namespace {

// How long the rest of a key may take to arrive after its first byte: a
// terminal writes a key's bytes at once, a person types slower.
const int KEY_REST_WAIT_MS = 50;
const int WAIT_FOREVER = -1;
const int BYTE_NONE = -1;  // end of input or a read error
const int BYTE_LATE = -2;  // nothing within the wait

// Bytes read with a key that begin the next keys, in input order.
unsigned char sHeldBytes[8];
int sHeldCount = 0;

// Puts bytes just read back in front of the input (a key holds at most 3).
void HoldBytes(const unsigned char* bytes, int count) {
    if (count <= 0 || sHeldCount + count > (int)sizeof sHeldBytes) return;
    std::memmove(sHeldBytes + count, sHeldBytes, (size_t)sHeldCount);
    std::memcpy(sHeldBytes, bytes, (size_t)count);
    sHeldCount += count;
}

int ReadTerminalByte(int waitMs) {
    if (sHeldCount > 0) {
        int byte = sHeldBytes[0];
        std::memmove(sHeldBytes, sHeldBytes + 1, (size_t)--sHeldCount);
        return byte;
    }
    for (;;) {
        if (waitMs != WAIT_FOREVER) {
            struct pollfd entry = {STDIN_FILENO, POLLIN, 0};
            int ready = poll(&entry, 1, waitMs);
            if (ready < 0 && errno == EINTR) continue;
            if (ready == 0) return BYTE_LATE;
        }
        unsigned char byte;
        ssize_t got = read(STDIN_FILENO, &byte, 1);
        if (got == 1) return byte;
        if (got < 0 && errno == EINTR) continue;
        return BYTE_NONE;
    }
}

ConsoleKey CharacterKey(uint32_t character) { return {CONSOLE_KEY_CHARACTER, character}; }
ConsoleKey SpecialKey() { return {CONSOLE_KEY_SPECIAL, 0}; }

// A character from its first byte. In a UTF-8 locale its continuation bytes
// follow within the wait, and the character is decoded as Wine decodes the
// terminal: U+FFFD for the bytes taken into an invalid or cut sequence, the
// bytes after them start the next key. In any other locale each byte is a
// character of its own.
uint32_t ReadCharacter(int lead) {
    if (lead < 0x80) return (uint32_t)lead;
    if (!LocaleIsUtf8()) return (uint32_t)lead;
    int continuations = lead >= 0xF5 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : 0;
    unsigned char rest[4];
    int count = 0;
    while (count < continuations) {
        int byte = ReadTerminalByte(KEY_REST_WAIT_MS);
        if (byte < 0) break;
        rest[count++] = (unsigned char)byte;
        if ((byte & 0xC0) != 0x80) break;
    }
    const unsigned char* in = rest;
    uint32_t value = DecodeUtf8Sequence((unsigned char)lead, &in, rest + count);
    HoldBytes(in, (int)(rest + count - in));
    return value == POSIX_NO_CHAR ? POSIX_REPLACEMENT : value;
}

// The parameters of an "ESC [" or "ESC O" sequence up to its final byte.
void SkipEscapeSequence() {
    for (;;) {
        int byte = ReadTerminalByte(KEY_REST_WAIT_MS);
        if (byte < 0 || (byte >= 0x40 && byte <= 0x7E)) return;
        if (byte < 0x20 || byte > 0x3F) {
            unsigned char held = (unsigned char)byte;
            HoldBytes(&held, 1);
            return;
        }
    }
}

// After an ESC: nothing within the wait, or a second ESC, is the Esc key
// (Wine reads ESC ESC as Esc with Alt); "[" or "O" starts a special key's
// sequence; any other key that came with it was typed with Alt.
ConsoleKey ReadEscapeKey() {
    int next = ReadTerminalByte(KEY_REST_WAIT_MS);
    if (next < 0 || next == 0x1B) return CharacterKey(0x1B);
    if (next == '[' || next == 'O')
        SkipEscapeSequence();
    else
        ReadCharacter(next);
    return SpecialKey();
}

ConsoleKey ReadKey() {
    int byte = ReadTerminalByte(WAIT_FOREVER);
    if (byte < 0) return {CONSOLE_KEY_END, 0};
    if (byte == 0x1B) return ReadEscapeKey();
    if (byte == 0) return SpecialKey();          // Ctrl+Space: a key without a character
    if (byte == 0x7F) return CharacterKey(8);   // Backspace
    return CharacterKey(ReadCharacter(byte));
}

}  // namespace

void ForgetHeldKeys() { sHeldCount = 0; }

}  // namespace posix

using namespace posix;

void DiscardConsoleInput() {
    ForgetHeldKeys();
    if (isatty(STDIN_FILENO)) tcflush(STDIN_FILENO, TCIFLUSH);
}

ConsoleKey ReadConsoleKey() {
    if (!isatty(STDIN_FILENO)) return {CONSOLE_KEY_END, 0};
    struct termios saved;
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return {CONSOLE_KEY_END, 0};
    struct termios raw = saved;
    raw.c_lflag &= (tcflag_t) ~(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= (tcflag_t) ~(IXON | ICRNL | INLCR | IGNCR);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    ConsoleKey key = ReadKey();
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return key;
}

// ---------------------------------------------------------------------------
// Standard output, in the locale's character set to terminals and pipes
// alike, so that a name keeps every character and a pipe carries text that
// other tools read (the .exe under Wine writes its console in UTF-8 too, but
// the ANSI code page when redirected). A character the set lacks is '?', as
// in a name; no look-alike, which could pass for another name.

namespace {

// Units converted at a time; no unit takes more than four bytes.
const size_t OUTPUT_PIECE_UNITS = 512;

}  // namespace

void WriteOutput(const WCHAR* text, size_t length) {
    char bytes[OUTPUT_PIECE_UNITS * 4 + 1];
    while (length > 0) {
        size_t take = length;
        if (take > OUTPUT_PIECE_UNITS) {
            // A surrogate pair is never cut, so that it stays one character.
            take = OUTPUT_PIECE_UNITS;
            if (IsHighSurrogate(text[take - 1])) --take;
        }
        if (WideToUnix(text, take, bytes, sizeof bytes)) std::fputs(bytes, stdout);
        text += take;
        length -= take;
    }
}

bool FlushOutput() { return std::fflush(stdout) == 0 && !std::ferror(stdout); }

// ---------------------------------------------------------------------------
// Data on standard output, text on standard error.

namespace {

const size_t DATA_BUFFER_BYTES = 1 << 16;
FILE* sDataStream = nullptr;

}  // namespace

bool SplitDataOutput() {
    std::fflush(stdout);
    int data = dup(STDOUT_FILENO);
    if (data < 0) return false;
    FILE* stream = fdopen(data, "wb");
    if (stream == nullptr) {
        close(data);
        return false;
    }
    if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::fclose(stream);
        return false;
    }
    std::setvbuf(stream, nullptr, _IOFBF, DATA_BUFFER_BYTES);
    sDataStream = stream;
    return true;
}

void WriteData(const char* bytes, size_t length) {
    std::fwrite(bytes, 1, length, sDataStream != nullptr ? sDataStream : stdout);
}

bool FlushData() {
    FILE* stream = sDataStream != nullptr ? sDataStream : stdout;
    return std::fflush(stream) == 0 && !std::ferror(stream);
}
