// The floor of a listing that reads each entry's DOS attribute, as Wine
// does for every entry of a folder search: the index read once, then for
// each entry of the bin folder one status call and one attribute read, both
// relative to the open folder, and nothing else. bench/view.sh sets /view
// against it beside the floor of the status calls alone.
//   attribute_floor <bin folder> <index file name>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

const long BENCH_SYS_GETXATTRAT = 464;  // getxattrat(2), Linux 6.13

struct XattrArgs {
    uint64_t value;
    uint32_t size;
    uint32_t flags;
};

long ReadAttribute(int folder, const std::string& path, const char* name) {
    static bool noXattrAt = false;
    char value[65];
    if (!noXattrAt) {
        XattrArgs args = {(uint64_t)(uintptr_t)value, 64, 0};
        long length = syscall(BENCH_SYS_GETXATTRAT, folder, name, 0, "user.DOSATTRIB", &args, sizeof args);
        if (length >= 0 || errno != ENOSYS) return length;
        noXattrAt = true;
    }
    return getxattr((path + "/" + name).c_str(), "user.DOSATTRIB", value, 64);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: attribute_floor <bin folder> <index file name>\n");
        return 2;
    }
    std::string folder = argv[1];
    int index = open((folder + "/" + argv[2]).c_str(), O_RDONLY);
    if (index < 0) return 1;
    static char buffer[256 * 1024];
    long long bytes = 0;
    for (ssize_t got; (got = read(index, buffer, sizeof buffer)) > 0;) bytes += got;
    close(index);
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    DIR* directory = fd >= 0 ? fdopendir(fd) : nullptr;
    if (directory == nullptr) return 1;
    long entries = 0, attributes = 0;
    while (struct dirent* entry = readdir(directory)) {
        struct stat status;
        if (fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
        ++entries;
        if (ReadAttribute(fd, folder, entry->d_name) >= 0) ++attributes;
    }
    closedir(directory);
    std::printf("%lld index bytes, %ld entries, %ld with a DOS attribute\n", bytes, entries, attributes);
    return 0;
}
