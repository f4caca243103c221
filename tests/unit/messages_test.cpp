// Console messages: the control characters an argument brings are shown as
// '?', the format's own characters are kept, whatever the text's length.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/messages.h"

namespace {

// What PrintMessage writes to stdout.
template <typename... Args>
std::string Printed(const WCHAR* format, Args... args) {
    std::fflush(stdout);
    FILE* capture = std::tmpfile();
    int saved = dup(fileno(stdout));
    dup2(fileno(capture), fileno(stdout));
    PrintMessage(format, args...);
    std::fflush(stdout);
    dup2(saved, fileno(stdout));
    close(saved);
    std::rewind(capture);
    std::string text;
    for (int ch; (ch = std::fgetc(capture)) != EOF;) text += (char)ch;
    std::fclose(capture);
    return text;
}

TEST(Messages, ArgumentsShowControlCharactersAsQuestionMarks) {
    EXPECT_EQ(Printed(WIDE("%s.\n"), WIDE("a\x1b[2J\r\nb\x7f\x9b\x07")), "a?[2J??b???.\n");
    EXPECT_EQ(Printed(WIDE("[%-5d|%3c|%%|%ld|%x]\t\n"), 42, (int)0x9B, 7L, 255), "[42   |  ?|%|7|ff]\t\n");
    // Longer than the stack buffer: composed a second time on the heap.
    std::u16string path(3000, u'x');
    path[2999] = u'\n';
    EXPECT_EQ(Printed(WIDE("<%s>%d"), path.c_str(), 5), "<" + std::string(2999, 'x') + "?>5");
}

}  // namespace
