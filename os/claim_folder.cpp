#include "os/claim_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <random>

#include "util/unique_fd.h"

namespace tallowin {

namespace {

// A record is a few hundred bytes; anything much larger is not one.
constexpr std::size_t kLongestRecord = 64 * 1024;

struct ClaimDirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

std::string ClaimFolderOf(const std::string& hotFolder) {
    std::string path = hotFolder;
    if (path.empty() || path.back() != '/') path += '/';
    return path + kClaimFolderName;
}

std::string PathOf(const std::string& hotFolder, const std::string& name) {
    return ClaimFolderOf(hotFolder) + "/" + name;
}

// errno after a failed change, as the port says it.
ClaimIoResult Refused(int error, const std::string& what) {
    ClaimIoResult result;
    switch (error) {
        case EEXIST:
            result.Kind = ClaimIo::Exists;
            break;
        case ENOENT:
            result.Kind = ClaimIo::Missing;
            break;
        case EACCES:
        case EPERM:
        case EROFS:
        case ENOSPC:
        case EDQUOT:
        case ENOTDIR:
            result.Kind = ClaimIo::ReadOnly;
            break;
        default:
            result.Kind = ClaimIo::Failed;
            break;
    }
    result.Reason = what + ": " + std::strerror(error);
    return result;
}

// Writes text whole into fd and closes it; 0, or the errno of the failure
// (a network file system may report a failed write only at close).
int WriteAndClose(UniqueFd fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        done += static_cast<std::size_t>(n);
    }
    if (close(fd.release()) != 0) return errno;
    return 0;
}

}  // namespace

ClaimIoResult PosixClaimFolder::Create(const std::string& hotFolder, const std::string& name,
                                       const std::string& text) {
    const std::string path = PathOf(hotFolder, name);
    const auto open_new = [&] {
        return UniqueFd(
            open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    };
    UniqueFd fd = open_new();
    if (!fd && errno == ENOENT) {
        const std::string folder = ClaimFolderOf(hotFolder);
        if (mkdir(folder.c_str(), 0777) == 0) {
            // Whoever may write the hot folder (the other hosts' users) may
            // write its claims: the claim folder takes the hot folder's
            // modes, whatever this process's umask.
            struct stat hot {};
            if (stat(hotFolder.c_str(), &hot) == 0) chmod(folder.c_str(), hot.st_mode & 07777);
        } else if (errno != EEXIST) {
            return Refused(errno, "cannot make the claim folder");
        }
        fd = open_new();
    }
    if (!fd) return Refused(errno, "cannot make the claim");
    if (const int error = WriteAndClose(std::move(fd), text); error != 0) {
        unlink(path.c_str());
        ClaimIoResult failed = Refused(error, "cannot write the claim");
        if (failed.Kind != ClaimIo::ReadOnly) failed.Kind = ClaimIo::Failed;
        return failed;
    }
    return {};
}

ClaimIoResult PosixClaimFolder::Read(const std::string& hotFolder, const std::string& name) {
    UniqueFd fd(open(PathOf(hotFolder, name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        ClaimIoResult refused = Refused(errno, "cannot open the claim");
        if (refused.Kind != ClaimIo::Missing) refused.Kind = ClaimIo::Failed;
        return refused;
    }
    ClaimIoResult result;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            return {
                ClaimIo::Failed, {}, std::string("cannot read the claim: ") + std::strerror(errno)};
        if (n == 0) break;
        result.Text.append(buffer, static_cast<std::size_t>(n));
        if (result.Text.size() > kLongestRecord) break;  // no record: judged as one being written
    }
    return result;
}

ClaimIoResult PosixClaimFolder::Replace(const std::string& hotFolder, const std::string& name,
                                        const std::string& tempName, const std::string& text) {
    const std::string temp = PathOf(hotFolder, tempName);
    UniqueFd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd) return Refused(errno, "cannot write the claim");
    int error = WriteAndClose(std::move(fd), text);
    if (error == 0 && rename(temp.c_str(), PathOf(hotFolder, name).c_str()) != 0) error = errno;
    if (error == 0) return {};
    unlink(temp.c_str());
    ClaimIoResult failed = Refused(error, "cannot write the claim");
    if (failed.Kind == ClaimIo::Missing || failed.Kind == ClaimIo::Exists) {
        failed.Kind = ClaimIo::Failed;
    }
    return failed;
}

ClaimIoResult PosixClaimFolder::MoveAside(const std::string& hotFolder, const std::string& name,
                                          const std::string& aside) {
    if (rename(PathOf(hotFolder, name).c_str(), PathOf(hotFolder, aside).c_str()) == 0) return {};
    ClaimIoResult refused = Refused(errno, "cannot move the claim");
    if (refused.Kind == ClaimIo::Exists) refused.Kind = ClaimIo::Failed;
    return refused;
}

ClaimIoResult PosixClaimFolder::Remove(const std::string& hotFolder, const std::string& name) {
    if (unlink(PathOf(hotFolder, name).c_str()) == 0) return {};
    return Refused(errno, "cannot remove the claim");
}

std::vector<std::string> PosixClaimFolder::List(const std::string& hotFolder) {
    std::vector<std::string> names;
    const std::unique_ptr<DIR, ClaimDirCloser> dir(opendir(ClaimFolderOf(hotFolder).c_str()));
    if (!dir) return names;
    while (const dirent* entry = readdir(dir.get())) {
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
        if (entry->d_name[0] == '.' &&
            (entry->d_name[1] == '\0' || (entry->d_name[1] == '.' && entry->d_name[2] == '\0'))) {
            continue;
        }
        names.emplace_back(entry->d_name);
    }
    return names;
}

ClaimOwner ThisProcessOwner(const std::string& ledgerPath) {
    ClaimOwner owner;
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) == 0) owner.Host = host;
    if (owner.Host.empty()) owner.Host = "unknown";
    owner.Ledger = ledgerPath;
    owner.Pid = getpid();
    std::random_device random;
    static constexpr char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) owner.Run += kHex[random() & 0xf];
    return owner;
}

}  // namespace tallowin
