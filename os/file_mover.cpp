#include "os/file_mover.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "os/file_identity.h"
#include "util/paths.h"
#include "util/unique_fd.h"

namespace tallowin {

namespace {

constexpr int kMostNumbers = 9999;

std::string Why(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Why path no longer names the file of identity; nullopt while it does.
// The device is not compared: a share or a stick mounted again comes back
// under another number, and its files are the same files.
std::optional<std::string> NotTheSame(const struct stat& st, const FileIdentity& identity) {
    if (!S_ISREG(st.st_mode)) return "the file was replaced by something else";
    const FileIdentity now = IdentityOf(st);
    if (now.Inode != identity.Inode) return "the file was replaced by another of the same name";
    if (!SameFileAcrossMounts(now, identity)) return "the file was changed after it was printed";
    return std::nullopt;
}

std::optional<std::string> NotTheSame(const std::string& path, const FileIdentity& identity) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return Why("cannot find it");
    return NotTheSame(st, identity);
}

enum class Outcome {
    Moved,
    Taken,        // the name is taken: try the next
    NoReplace,    // the file system cannot rename without replacing
    OtherSystem,  // the folder is on another file system
    Failed,       // why says why
};

Outcome Rename(const std::string& from, const std::string& to, std::string& why) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return Outcome::Moved;
    }
    if (errno == EEXIST) return Outcome::Taken;
    if (errno == EINVAL || errno == ENOSYS) return Outcome::NoReplace;
    if (errno == EXDEV) return Outcome::OtherSystem;
    why = Why("cannot move it");
    return Outcome::Failed;
}

// A second name, then the first one dropped: link never replaces a file.
Outcome Relink(const std::string& from, const std::string& to, std::string& why) {
    if (link(from.c_str(), to.c_str()) != 0) {
        if (errno == EEXIST) return Outcome::Taken;
        if (errno == EXDEV) return Outcome::OtherSystem;
        why = Why("cannot move it without the risk of replacing another file");
        return Outcome::Failed;
    }
    if (unlink(from.c_str()) != 0) {
        why = Why("cannot remove it from the hot folder");
        unlink(to.c_str());
        return Outcome::Failed;
    }
    return Outcome::Moved;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Copies the open file in (described by st) into a new file to; false with
// why when it could not (the partial copy is the caller's to remove).
bool CopyInto(int in, const struct stat& st, int out, std::string& why) {
    std::vector<char> buffer(1 << 20);
    while (true) {
        const ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = Why("cannot read it");
            return false;
        }
        if (n == 0) break;
        if (!WriteAll(out, buffer.data(), static_cast<size_t>(n))) {
            why = Why("cannot write its copy");
            return false;
        }
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (futimens(out, times) != 0 || fsync(out) != 0) {
        why = Why("cannot write its copy");
        return false;
    }
    return true;
}

// Into a folder on another file system: a copy under a free name, then the
// original deleted.
Outcome CopyAcross(const std::string& from, const FileIdentity& identity, const std::string& to,
                   std::string& why) {
    UniqueFd in(open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    struct stat st {};
    if (!in || fstat(in.get(), &st) != 0) {
        why = Why("cannot open it");
        return Outcome::Failed;
    }
    if (const auto changed = NotTheSame(st, identity)) {
        why = *changed;
        return Outcome::Failed;
    }
    UniqueFd out(
        open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, st.st_mode & 07777));
    if (!out) {
        if (errno == EEXIST) return Outcome::Taken;
        why = Why("cannot create its copy");
        return Outcome::Failed;
    }
    bool copied = CopyInto(in.get(), st, out.get(), why);
    if (copied && close(out.release()) != 0) {
        why = Why("cannot write its copy");
        copied = false;
    }
    if (copied) {
        if (const auto changed = NotTheSame(from, identity)) {
            why = "the file was changed while it was moved";
            copied = false;
        } else if (unlink(from.c_str()) != 0) {
            why = Why("cannot remove it from the hot folder");
            copied = false;
        }
    }
    if (!copied) {
        unlink(to.c_str());
        return Outcome::Failed;
    }
    return Outcome::Moved;
}

}  // namespace

Result<std::string> PosixFileMover::MoveIfSame(const std::string& path,
                                               const FileIdentity& identity,
                                               const std::string& folder, HotFolderError failCode) {
    const auto fail = [&](std::string why) {
        return Result<std::string>{{}, Status::Failure(failCode, std::move(why))};
    };
    struct stat dir {};
    if (stat(folder.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode)) {
        return fail("the folder " + folder + " does not exist");
    }
    if (const auto changed = NotTheSame(path, identity)) return fail(*changed);

    const std::string name = DocumentName(path);
    Outcome (*way)(const std::string&, const std::string&, std::string&) = Rename;
    bool across = false;
    std::string why;
    for (int n = 1; n <= kMostNumbers;) {
        const std::string to = JoinPath(folder, NumberedName(name, n));
        const Outcome outcome = across ? CopyAcross(path, identity, to, why) : way(path, to, why);
        switch (outcome) {
            case Outcome::Moved:
                return {to, Status::Success()};
            case Outcome::Taken:
                ++n;
                break;
            case Outcome::NoReplace:
                way = Relink;  // the same name again, the other way
                break;
            case Outcome::OtherSystem:
                across = true;
                break;
            case Outcome::Failed:
                return fail(why);
        }
    }
    return fail("every name up to " + NumberedName(name, kMostNumbers) + " is taken in " + folder);
}

}  // namespace tallowin
