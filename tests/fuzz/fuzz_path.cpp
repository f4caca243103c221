// Path normalisation and full paths. The fuzzer's bytes are UTF-16LE units:
// the current directory that every drive reports, a zero unit, then the
// name. A normalised path is never longer than its source, normalising it
// again changes nothing, in place or not; a full path always fits the
// buffer that holds a path and keeps a drive letter it was given.
#include <cstring>
#include <vector>

#include "ops/ops.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"

namespace {

std::vector<WCHAR> gDirectory;

WCHAR* FakeDirectory(int drive, WCHAR* buffer, int capacity) {
    if (drive < 0 || drive > 26 || gDirectory.size() <= 1) return nullptr;
    if ((int)gDirectory.size() > capacity) return nullptr;
    std::memcpy(buffer, gDirectory.data(), gDirectory.size() * sizeof(WCHAR));
    return buffer;
}

char* NoAnsiDirectory(int, char*, int) { return nullptr; }

bool Same(const WCHAR* a, const WCHAR* b) { return WideCompare(a, b) == 0; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gSys.wgetdcwd = FakeDirectory;
    gSys.getdcwd = NoAnsiDirectory;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<WCHAR> name;
    gDirectory.clear();
    bool inName = false;
    for (size_t i = 0; i + 1 < size; i += 2) {
        WCHAR unit = (WCHAR)ReadLe16(data + i);
        if (unit == 0 && !inName) {
            inName = true;
            continue;
        }
        if (unit == 0) break;
        (inName ? name : gDirectory).push_back(unit);
    }
    gDirectory.push_back(0);
    name.push_back(0);
    size_t length = name.size() - 1;

    std::vector<WCHAR> once(name.size()), twice(name.size()), inPlace(name);
    NormalisePath(name.data(), once.data());
    if (WideLength(once.data()) > length) __builtin_trap();
    NormalisePath(once.data(), twice.data());
    if (!Same(once.data(), twice.data())) __builtin_trap();
    NormalisePath(inPlace.data(), inPlace.data());
    if (!Same(once.data(), inPlace.data())) __builtin_trap();

    WCHAR* full = MakeFullPath(name.data());
    if (full == nullptr) __builtin_trap();
    if (WideLength(full) > (size_t)FULL_PATH_CHARS) __builtin_trap();
    bool driveGiven = length >= 3 && name[1] == ':' && IsPathSeparator(name[2]);
    // Kept, but for a '/' in its place, which full paths hold as '\'.
    bool sameFirst = IsPathSeparator(name[0]) ? full[0] == '\\' : full[0] == name[0];
    if (driveGiven && (!sameFirst || full[1] != ':')) __builtin_trap();
    MemFree(full);
    return 0;
}
