#include "os/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace tallowin {

namespace {

// The pid the holder wrote, or 0 when the file holds none (yet).
pid_t ReadHolder(int fd) {
    char text[32] = {};
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return 0;
    pid_t pid = 0;
    const auto [end, ec] = std::from_chars(text, text + n, pid);
    if (ec != std::errc() || pid <= 0) return 0;
    return pid;
}

bool WriteOwnPid(int fd) {
    const std::string text = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) != 0) return false;
    return pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}

std::string SystemError(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

}  // namespace

std::string LockPathFor(const std::string& profilePath) {
    return profilePath + ".lock";
}

InstanceLock::InstanceLock(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);

    fd_.reset(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd_) {
        result_.Reason = SystemError("cannot open the lock file " + path, errno);
        return;
    }
    if (flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            result_.HolderPid = ReadHolder(fd_.get());
            result_.Reason = "the profile is in use by another Tallowin (process " +
                             std::to_string(result_.HolderPid) + ", lock file " + path + ")";
        } else {
            result_.Reason = SystemError("cannot lock " + path, error);
        }
        fd_.reset();
        return;
    }
    // Without the pid the lock still works; only the message of a refused
    // second instance would lack the holder.
    WriteOwnPid(fd_.get());
    result_.Acquired = true;
    result_.HolderPid = getpid();
}

InstanceLock::~InstanceLock() {
    if (!fd_) return;
    // The pid goes first, so a file left behind names no process; fd_
    // closes after it, releasing the lock.
    [[maybe_unused]] const int truncated = ftruncate(fd_.get(), 0);
}

}  // namespace tallowin
