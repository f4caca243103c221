// Windows-only services of the platform layer.
#include <cstring>

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
