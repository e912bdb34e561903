// The identity of a file as the engine compares it, made from what stat()
// says: one place, so the listing, the remover and the image loader can
// never disagree about what "the same file" means.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

#include "engine/hot_folder_types.h"

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

}  // namespace tallowin
