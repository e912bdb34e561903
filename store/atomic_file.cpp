#include "store/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "util/paths.h"
#include "util/unique_fd.h"

namespace tallowin {

int FileOps::MakeTemp(std::string& pathTemplate) {
    return mkostemp(pathTemplate.data(), O_CLOEXEC);
}
ssize_t FileOps::Write(int fd, const char* data, size_t size) {
    return write(fd, data, size);
}
int FileOps::Sync(int fd) {
    return fsync(fd);
}
int FileOps::Close(int fd) {
    return close(fd);
}
int FileOps::Rename(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str());
}

namespace {

// The file a chain of symbolic links ends at (path itself when it is none),
// whether that file exists or not. Empty, with errno set, when a link
// cannot be read or there are too many of them (ELOOP, as open() would say).
std::string FollowLinks(std::string path) {
    for (int links = 0; links < 40; ++links) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = readlink(path.c_str(), target.data(), target.size());
        if (n < 0) return {};
        // Changed since the lstat: replacing the link itself would lose it.
        if (static_cast<size_t>(n) >= target.size()) {
            errno = EAGAIN;
            return {};
        }
        target.resize(static_cast<size_t>(n));
        path = target.front() == '/' ? target : FolderOf(path) + "/" + target;
    }
    errno = ELOOP;
    return {};
}

bool WriteAll(FileOps& ops, int fd, const std::string& bytes) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ops.Write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

ReplaceResult Failed(const std::string& what, const std::string& path, int error) {
    return {false, what + " " + path + ": " + std::strerror(error)};
}

// Closes the descriptor and removes the temporary file on every way out
// that does not hand them on.
class TempFile {
  public:
    TempFile(FileOps& ops, std::string path, int fd) : ops_(ops), path_(std::move(path)), fd_(fd) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (fd_ >= 0) ops_.Close(fd_);
        if (!kept_) unlink(path_.c_str());
    }
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }
    // Closes the descriptor; what close() returns.
    int Close() { return ops_.Close(std::exchange(fd_, -1)); }
    void Keep() { kept_ = true; }

  private:
    FileOps& ops_;
    std::string path_;
    int fd_;
    bool kept_ = false;
};

}  // namespace

ReplaceResult ReplaceFileAtomically(const std::string& path, const std::string& bytes, FileOps& ops,
                                    Flush flush) {
    const std::string target = FollowLinks(path);
    if (target.empty()) return Failed("cannot follow the links of", path, errno);
    const std::string folder = FolderOf(target);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);

    struct stat old {};
    const bool exists = stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) return {false, target + " is not a regular file"};
    if (exists && ((old.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0)) {
        return {false, target + " is read-only, so it is not replaced"};
    }

    std::string temp = target + ".XXXXXX";
    const int fd = ops.MakeTemp(temp);
    if (fd < 0) return Failed("cannot create a file beside", target, errno);
    TempFile file(ops, temp, fd);
    fchmod(fd, exists ? (old.st_mode & 07777) : 0600);
    // Keeps the owner when root saves a user's profile. Only root may give a
    // file away; anyone else owns the file already, so a failure is fine.
    if (exists && fchown(fd, old.st_uid, old.st_gid) != 0) {
    }

    if (!WriteAll(ops, fd, bytes)) return Failed("cannot write", temp, errno);
    if (flush != Flush::None && ops.Sync(fd) != 0) return Failed("cannot flush", temp, errno);
    if (file.Close() != 0) return Failed("cannot close", temp, errno);
    if (ops.Rename(temp, target) != 0)
        return Failed("cannot rename the new file to", target, errno);
    file.Keep();
    if (flush != Flush::Now) return {true, {}};
    // Make the rename itself durable.
    const UniqueFd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) fsync(dir.get());
    return {true, {}};
}

ReplaceResult ReplaceFileAtomically(const std::string& path, const std::string& bytes) {
    FileOps ops;
    return ReplaceFileAtomically(path, bytes, ops);
}

}  // namespace tallowin
