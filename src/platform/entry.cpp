#include "platform/entry.h"

#include "platform/memory.h"
#include "platform/wide.h"

WCHAR** CopyWideArguments(int count, WCHAR* const* source) {
    WCHAR** copy = static_cast<WCHAR**>(MemAlloc(sizeof(WCHAR*) * ((size_t)count + 1)));
    if (copy == nullptr) return nullptr;
    for (int i = 0; i < count; ++i) {
        copy[i] = WideDuplicate(source[i]);
        if (copy[i] == nullptr) {
            FreeWideArguments(copy, i);
            return nullptr;
        }
    }
    copy[count] = nullptr;
    return copy;
}

void FreeWideArguments(WCHAR** arguments, int count) {
    if (arguments == nullptr) return;
    for (int i = count - 1; i >= 0; --i) MemFree(arguments[i]);
    MemFree(arguments);
}

#ifndef _WIN32
WCHAR** GetWideArguments(int argc, char** argv, int* count) {
    WCHAR** decoded = PosixWideArguments(argc, argv, count);
    if (decoded == nullptr) return nullptr;
    return CopyWideArguments(*count, decoded);
}

ArgumentPath DrivePathOfArgument(const WCHAR* argument, WCHAR** drivePath) {
    *drivePath = nullptr;
    if (argument[0] != '/' || WideFindLast(argument + 1, '/') == nullptr) return ARGUMENT_AS_TYPED;
    size_t length = PosixDrivePathOfUnixPath(argument, nullptr, 0);
    if (length == 0) return ARGUMENT_NO_DRIVE;
    WCHAR* path = static_cast<WCHAR*>(MemAlloc((length + 1) * sizeof(WCHAR)));
    if (path == nullptr) return ARGUMENT_NO_MEMORY;
    // The folders may have changed between the two calls.
    if (PosixDrivePathOfUnixPath(argument, path, length + 1) != length) {
        MemFree(path);
        return ARGUMENT_NO_DRIVE;
    }
    *drivePath = path;
    return ARGUMENT_DRIVE_PATH;
}
#endif
