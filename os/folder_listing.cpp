#include "os/folder_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "os/file_identity.h"
#include "util/unique_fd.h"

namespace tallowin {

namespace {

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// A typical hot folder holds a few dozen files; one reservation saves most
// of the vector's regrowth for them.
constexpr std::size_t kTypicalFolderSize = 64;

Status NotDeleted(std::string reason) {
    return Status::Failure(HF_ERR_NOT_DELETED, std::move(reason));
}

}  // namespace

Credentials Credentials::OfProcess() {
    Credentials who;
    who.User = geteuid();
    who.Group = getegid();
    const int count = getgroups(0, nullptr);
    if (count > 0) {
        who.Extra.resize(static_cast<std::size_t>(count));
        const int got = getgroups(count, who.Extra.data());
        who.Extra.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        std::sort(who.Extra.begin(), who.Extra.end());
    }
    return who;
}

bool MayRead(const struct stat& st, const Credentials& who) {
    if (who.User == 0) return true;
    if (st.st_uid == who.User) return (st.st_mode & S_IRUSR) != 0;
    if (st.st_gid == who.Group ||
        std::binary_search(who.Extra.begin(), who.Extra.end(), st.st_gid)) {
        return (st.st_mode & S_IRGRP) != 0;
    }
    return (st.st_mode & S_IROTH) != 0;
}

std::optional<FolderKey> PosixFolderLister::FindFolder(const std::string& path) {
    if (path.empty()) return std::nullopt;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    return FolderKey{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

Listing PosixFolderLister::List(const std::string& path) {
    Listing listing;
    // O_NONBLOCK keeps a folder swapped for a fifo from hanging the worker.
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return listing;
    DirHandle dir(fdopendir(fd.get()));
    if (!dir) return listing;
    fd.release();  // the DIR owns it now
    listing.reserve(kTypicalFolderSize);
    const Credentials who = Credentials::OfProcess();
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
        listing.push_back({entry->d_name, static_cast<std::uint32_t>(st.st_size), IdentityOf(st),
                           MayRead(st, who)});
    }
    // std::string compares as unsigned bytes; readdir gives each name once.
    std::sort(listing.begin(), listing.end(),
              [](const ListedFile& a, const ListedFile& b) { return a.Name < b.Name; });
    return listing;
}

WriterProbe PosixFolderLister::ProbeWriter(const std::string& path) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) return WriterProbe::Unknown;
    // Should a writer open the file in the instant the lease is held, the
    // kernel signals the lease's owner, with SIGIO by default, which would
    // end the process. SIGURG is ignored unless handled, and nothing here
    // handles it.
    if (fcntl(fd.get(), F_SETSIG, SIGURG) != 0) return WriterProbe::Unknown;
    if (fcntl(fd.get(), F_SETLEASE, F_RDLCK) == 0) {
        fcntl(fd.get(), F_SETLEASE, F_UNLCK);
        return WriterProbe::NotOpen;
    }
    // EAGAIN: a writer (or another lease) holds it. Anything else (EACCES:
    // not our file; EINVAL: no leases on this file system; ENOLCK) cannot
    // tell.
    if (errno == EAGAIN || errno == EBUSY) return WriterProbe::OpenForWriting;
    return WriterProbe::Unknown;
}

std::optional<FileIdentity> PosixFolderLister::Identify(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return IdentityOf(st);
}

Status PosixFileRemover::RemoveIfSame(const std::string& path, const FileIdentity& identity) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        return NotDeleted(std::string("cannot find it: ") + std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) return NotDeleted("the file was replaced by something else");
    const FileIdentity now = IdentityOf(st);
    // Not the device: a share or a stick mounted again comes back under
    // another number, and its files are the same files.
    if (now.Inode != identity.Inode) {
        return NotDeleted("the file was replaced by another of the same name");
    }
    if (!SameFileAcrossMounts(now, identity)) {
        return NotDeleted("the file was changed after it was printed");
    }
    if (unlink(path.c_str()) != 0) {
        return NotDeleted(std::string("cannot delete it: ") + std::strerror(errno));
    }
    return Status::Success();
}

}  // namespace tallowin
