// The command line: any arguments parsed into the run state. The fuzzer's
// bytes are UTF-16LE units; a zero unit ends an argument. A line the parser
// accepts must name at most one operation, in a combination the grammar
// allows; a line it refuses leaves no code but a drive or memory error, or
// that of a Unix path no drive holds.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/runstate.h"
#include "platform/memory.h"
#include "store/layout.h"
#include "support/run.h"

namespace {

const size_t MAX_ARGUMENTS = 64;

bool ExactlyOneOf(OptionFlags operation) {
    const OptionFlags allowed[] = {OPT_VIEW, OPT_EMPTY, OPT_HELP, OPT_THROW, OPT_INDEX, OPT_INDEX | OPT_DELETE};
    for (OptionFlags bit : allowed)
        if (operation == bit) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gRun.language = LANGUAGE_ENGLISH;
    // Drive errors print; nothing needs to be seen.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::vector<WCHAR>> texts(1);
    for (const char* p = "dustpail"; *p != 0; ++p) texts[0].push_back((WCHAR)*p);
    texts[0].push_back(0);
    texts.emplace_back();
    for (size_t i = 0; i + 1 < size && texts.size() <= MAX_ARGUMENTS; i += 2) {
        WCHAR unit = (WCHAR)ReadLe16(data + i);
        texts.back().push_back(unit);
        if (unit == 0) texts.emplace_back();
    }
    texts.back().push_back(0);
    std::vector<WCHAR*> arguments;
    for (auto& text : texts) arguments.push_back(text.data());
    int count = (int)arguments.size();
    arguments.push_back(nullptr);

    testrun::ClearRun();
    gRun.drive = _getdrive();
    bool valid = ParseCommandLine(count, arguments.data());
    OptionFlags operation = gRun.options & ~OPT_MODIFIERS;
    if (valid) {
        if (gRun.exitCode != 0) __builtin_trap();
        if (operation != 0 && !ExactlyOneOf(operation)) __builtin_trap();
        if ((operation & OPT_THROW) != 0 && gRun.throwList.Length() == 0) __builtin_trap();
        if (gRun.restorePath != nullptr && (operation & OPT_INDEX) == 0) __builtin_trap();
        if (gRun.index < 0) __builtin_trap();
        if ((gRun.options & OPT_WHATIF) && (operation & OPT_WHATIF_APPLIES) == 0) __builtin_trap();
        if (gRun.drive < 0 || gRun.drive > 26) __builtin_trap();
    } else if (gRun.exitCode != 0 && gRun.exitCode != EXIT_DRIVE_ACCESS &&
               gRun.exitCode != EXIT_FILE_INVALID && gRun.exitCode != EXIT_NO_MEMORY) {
        __builtin_trap();
    }
    testrun::ClearRun();
    return 0;
}
