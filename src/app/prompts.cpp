// Console prompts: a yes/no key from the console, a number from stdin.
#include <cstdio>
#include <cstdlib>

#include "app/messages.h"
#include "app/runstate.h"
#include "platform/console.h"

namespace {

const int KEY_CTRL_C = 3;
const int KEY_LINE_FEED = 10;
const int KEY_ENTER = 13;
const int KEY_ESCAPE = 27;
const int NUMBER_LINE_BYTES = 50;

// Where a typed number stops growing: past every 32-bit number, so out of
// every range a prompt offers, however many digits follow.
const int64_t NUMBER_TOO_LARGE = (int64_t)1 << 32;

enum Answer { ANSWER_NONE, ANSWER_YES, ANSWER_NO };

// Only whole character keys answer: a special key's codes never do.
Answer ClassifyKey(const ConsoleKey& key) {
    if (key.kind != CONSOLE_KEY_CHARACTER) return ANSWER_NONE;
    switch (key.character) {
        case KEY_ENTER:
        case KEY_LINE_FEED:
        case 'Y':
        case 'y':
            return ANSWER_YES;
        case KEY_ESCAPE:
        case 'N':
        case 'n':
            return ANSWER_NO;
        default:
            return ANSWER_NONE;
    }
}

// The number a typed line starts with: blanks, a sign, then digits; the
// rest of the line is ignored, and a line without digits reads as 0. The
// runtime's atol would wrap a long number into range on Windows.
int64_t LineNumber(const char* line) {
    while (*line == ' ' || (*line >= 9 && *line <= 13)) ++line;
    bool negative = false;
    if (*line == '+' || *line == '-') negative = (*line++ == '-');
    int64_t value = 0;
    for (; *line >= '0' && *line <= '9'; ++line) {
        value = value * 10 + (*line - '0');
        if (value > NUMBER_TOO_LARGE) value = NUMBER_TOO_LARGE;
    }
    return negative ? -value : value;
}

}  // namespace

bool AskYesNo(const WCHAR* prompt) {
    // A confirmation counts only when given to the question: keys typed
    // before it (a number's trailing line feed would read as yes) are
    // dropped. Dropped before the question shows, so that no key typed in
    // answer to it is lost.
    DiscardConsoleInput();
    for (;;) {
        PrintMessage(WIDE("%s (Y/N)"), prompt);
        FlushOutput();
        ConsoleKey key = ReadConsoleKey();
        // No console, or its input has ended: no key will ever come, so the
        // question is answered no rather than asked for ever.
        Answer answer = key.kind == CONSOLE_KEY_END ? ANSWER_NO : ClassifyKey(key);
        if (key.kind == CONSOLE_KEY_CHARACTER && key.character == KEY_CTRL_C) {
            // At once, as the console's own Ctrl+C would: no clean-up and no
            // exit handlers, only what was printed is flushed.
            PrintMessage(WIDE("^C\n"));
            FlushOutput();
            std::_Exit(EXIT_CTRL_C);
        }
        if (answer != ANSWER_NONE) PrintMessage(answer == ANSWER_YES ? WIDE("Y") : WIDE("N"));
        PrintMessage(WIDE("\n"));
        if (answer != ANSWER_NONE) return answer == ANSWER_YES;
    }
}

int32_t AskNumber(int32_t lowest, int32_t highest) {
    if (lowest == 0) lowest = 1;
    for (;;) {
        PrintCatalogue(MSG_INPUT_INDEX, (int)lowest, (int)highest);
        FlushOutput();
        char line[NUMBER_LINE_BYTES];
        // End of input or a read error: nothing will be chosen.
        if (std::fgets(line, sizeof line, stdin) == nullptr) return 0;
        int64_t value = LineNumber(line);
        if (value == 0 || (value >= lowest && value <= highest)) return (int32_t)value;
    }
}
