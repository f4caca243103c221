#include "app/runstate.h"
#include "platform/console.h"
#include "platform/entry.h"

int main(int argc, char** argv) {
    int count = 0;
    WCHAR** arguments = GetWideArguments(argc, argv, &count);
    if (arguments == nullptr) {
        gRun.language = IsJapaneseCodePage() ? LANGUAGE_JAPANESE : LANGUAGE_ENGLISH;
        ReportNoMemory();
        FlushOutput();
        return gRun.exitCode;
    }
    int32_t exitCode = RunProgram(count, arguments);
    // Console text waits in the output buffer until written out.
    FlushOutput();
    FreeWideArguments(arguments, count);
    return exitCode;
}
