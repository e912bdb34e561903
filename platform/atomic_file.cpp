#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

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

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(FileOps& ops, int fd, const std::string& bytes) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ops.Write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool ReplaceFileAtomically(const std::string& path, const std::string& bytes, FileOps& ops) {
    const std::string folder = FolderOf(path);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);

    std::string temp = path + ".XXXXXX";
    const int fd = ops.MakeTemp(temp);
    if (fd < 0) return false;
    struct stat old {};
    const mode_t mode = stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0600;
    fchmod(fd, mode);

    const bool written = WriteAll(ops, fd, bytes) && ops.Sync(fd) == 0;
    const bool closed = ops.Close(fd) == 0;
    if (!written || !closed || ops.Rename(temp, path) != 0) {
        unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& bytes) {
    FileOps ops;
    return ReplaceFileAtomically(path, bytes, ops);
}
