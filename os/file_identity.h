// The identity of a file as the engine compares it, made from what stat()
// says: one place, so the listing, the remover and the image loader can
// never disagree about what "the same file" means.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

#include "engine/hot_folder_types.h"
#include "engine/status.h"

namespace tallowin {

inline FileIdentity IdentityOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

// The identity of the file at path, a symbolic link followed; nullopt when
// stat fails (most often: there is no such file).
inline std::optional<FileIdentity> IdentityOfPath(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return IdentityOf(st);
}

// HF_ERR_CHANGED unless the open file (fd) and the file its path names now
// (a final link not followed) are both still the file identity describes:
// what a page writer checks before its document ends, so that a file that
// grew or was replaced while it was read is not printed as it was.
inline Status SameFileAsLoaded(int fd, const std::string& path, const FileIdentity& identity) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !(IdentityOf(st) == identity)) {
        return Status::Failure(HF_ERR_CHANGED, "the file changed while it was read");
    }
    if (lstat(path.c_str(), &st) != 0 || !(IdentityOf(st) == identity)) {
        return Status::Failure(HF_ERR_CHANGED,
                               "the file was replaced or removed while it was read");
    }
    return Status::Success();
}

}  // namespace tallowin
