// Arguments on the POSIX backend: the wide argument vector, decoded from
// the locale's character set as Wine decodes it, and Unix paths turned into
// the drive paths Wine gives them.
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "platform/posix/posix.h"

using namespace posix;

// ---------------------------------------------------------------------------
// The wide argument vector, decoded from the locale's character set.

WCHAR** PosixWideArguments(int argc, char** argv, int* count) {
    static WCHAR** sArguments = nullptr;
    static int sCount = 0;
    if (sArguments == nullptr) {
        WCHAR** arguments = static_cast<WCHAR**>(std::calloc((size_t)argc + 1, sizeof(WCHAR*)));
        if (arguments == nullptr) return nullptr;
        for (int i = 0; i < argc; ++i) {
            // The terminator is decoded with the text, as Wine does: a cut
            // sequence at the end then reads the same.
            size_t length = std::strlen(argv[i]) + 1;
            size_t units = UnixToWide(argv[i], length, nullptr, 0);
            arguments[i] = static_cast<WCHAR*>(std::malloc((units + 1) * sizeof(WCHAR)));
            if (arguments[i] == nullptr) {
                for (int k = 0; k < i; ++k) std::free(arguments[k]);
                std::free(arguments);
                return nullptr;
            }
            UnixToWide(argv[i], length, arguments[i], units);
            arguments[i][units] = 0;
        }
        sArguments = arguments;
        sCount = argc;
    }
    *count = sCount;
    return sArguments;
}

// ---------------------------------------------------------------------------
// Unix paths given as arguments, turned into drive paths as Wine turns them
// (measured with winepath -w and GetFullPathNameW, docs/platform-facts.md):
// the longest leading part of the path that is the folder of a mapped drive
// gives the drive, compared by identity so that a link to the folder counts
// too, the lowest letter among drives of one folder. The leading parts are
// cut name by name from the end, a ".." together with the name before it.
// The names after that part follow, with "." and ".." resolved by text.

namespace {

// The drive (1 = A) whose folder is the folder `path`, or 0.
int DriveOfFolder(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISDIR(info.st_mode)) return 0;
    for (int i = 0; i < 26; ++i) {
        const char* root = DriveRoot(i + 1);
        struct stat rootInfo;
        if (root != nullptr && stat(root, &rootInfo) == 0 && rootInfo.st_dev == info.st_dev &&
            rootInfo.st_ino == info.st_ino)
            return i + 1;
    }
    return 0;
}

// The drive of the first `length` units of a Unix path, or 0.
int DriveOfLeadingPart(const WCHAR* path, size_t length) {
    char unixPath[UNIX_PATH_BYTES];
    if (!WideToUnix(path, length, unixPath, sizeof unixPath)) return 0;
    return DriveOfFolder(unixPath);
}

// Where the leading part one folder up from the first `end` units ends: a
// "." name is passed over and a ".." name takes one more name along, the
// folder it climbed out of. The root stays.
size_t ParentEnd(const WCHAR* path, size_t end) {
    int levels = 0;
    while (levels < 1 && end > 1) {
        size_t start = end;
        while (start > 1 && path[start - 1] != '/') --start;
        size_t length = end - start;
        if (length == 2 && path[start] == '.' && path[start + 1] == '.')
            --levels;
        else if (length != 1 || path[start] != '.')
            ++levels;
        end = start;
        while (end > 1 && path[end - 1] == '/') --end;
    }
    return end;
}

// Finds the drive of a Unix path and where the names after its folder
// begin; 0 when no mapped drive holds the path.
int FindDriveOfUnixPath(const WCHAR* path, size_t* rest) {
    size_t end = WideLength(path);
    while (end > 1 && path[end - 1] == '/') --end;
    for (;;) {
        int drive = DriveOfLeadingPart(path, end);
        if (drive != 0) {
            *rest = end;
            return drive;
        }
        if (end <= 1) return 0;
        end = ParentEnd(path, end);
    }
}

}  // namespace

size_t PosixDrivePathOfUnixPath(const WCHAR* unixPath, WCHAR* out, size_t capacity) {
    if (unixPath == nullptr || unixPath[0] != '/') return 0;
    size_t rest = 0;
    int drive = FindDriveOfUnixPath(unixPath, &rest);
    if (drive == 0) return 0;
    // "X:\" and the names after the drive's folder, then read as a DOS path,
    // which resolves "." and ".." and drops what Windows drops.
    size_t restLength = WideLength(unixPath + rest);
    WCHAR* dosPath = static_cast<WCHAR*>(std::malloc((restLength + 4) * sizeof(WCHAR)));
    PathParts* parts = NewPathParts();
    size_t n = 0;
    if (dosPath != nullptr && parts != nullptr) {
        dosPath[0] = (WCHAR)('A' + drive - 1);
        dosPath[1] = ':';
        dosPath[2] = '\\';
        for (size_t i = 0; i <= restLength; ++i) dosPath[3 + i] = unixPath[rest + i];
        if (ParseDosPath(dosPath, parts) == 0) {
            auto put = [&](WCHAR ch) {
                if (out != nullptr && n < capacity) out[n] = ch;
                ++n;
            };
            put(dosPath[0]);
            put(':');
            put('\\');
            for (int i = 0; i < parts->count; ++i) {
                if (i > 0) put('\\');
                for (uint32_t k = 0; k < parts->length[i]; ++k) put(PartText(parts, i)[k]);
            }
            if (parts->trailingSeparator && parts->count > 0) put('\\');
            if (out != nullptr && n < capacity) out[n] = 0;
        }
    }
    std::free(parts);
    std::free(dosPath);
    return n;
}
