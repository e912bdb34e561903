#include "platform/folder_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

}  // namespace

bool PosixFolderLister::IsFolder(const std::string& path) {
    if (path.empty()) return false;
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Listing PosixFolderLister::List(const std::string& path) {
    Listing listing;
    // O_NONBLOCK keeps a folder swapped for a fifo from hanging the worker.
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return listing;
    DirHandle dir(fdopendir(fd));
    if (!dir) {
        close(fd);
        return listing;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir.get());
        if (entry == nullptr) break;  // the end, or an error: what was read counts
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        // d_type is only a hint (DT_UNKNOWN on some file systems); fstatat
        // without following links is the truth.
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
        struct stat st {};
        if (fstatat(dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode)) continue;
        listing.emplace(entry->d_name, static_cast<std::uint32_t>(st.st_size));
    }
    return listing;
}

bool PosixFileRemover::RemoveIfSame(const std::string& path, const FileIdentity& identity) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const FileIdentity now{
        static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
        static_cast<std::uint64_t>(st.st_size),
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    if (!(now == identity)) return false;
    return unlink(path.c_str()) == 0;
}
