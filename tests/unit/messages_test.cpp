// Console messages longer than the stack buffer are composed a second time
// on the heap, from a second copy of the arguments; the end-to-end cases
// meet that pass only with the usage text, which has none.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/messages.h"

namespace {

TEST(Messages, LongMessageShowsArgumentControlsAsQuestionMarks) {
    std::u16string path(3000, u'x');
    path[2999] = u'\x1b';
    std::fflush(stdout);
    FILE* capture = std::tmpfile();
    int saved = dup(fileno(stdout));
    dup2(fileno(capture), fileno(stdout));
    PrintMessage(WIDE("%d '%s' %c\n"), 7, path.c_str(), (int)0x9B);
    std::fflush(stdout);
    dup2(saved, fileno(stdout));
    close(saved);
    std::rewind(capture);
    std::string printed;
    for (int ch; (ch = std::fgetc(capture)) != EOF;) printed += (char)ch;
    std::fclose(capture);
    EXPECT_EQ(printed, "7 '" + std::string(2999, 'x') + "?' ?\n");
}

}  // namespace
