#include "os/file_watch.h"

#include "os/file_identity.h"

namespace tallowin {

FileWatch::FileWatch(std::string path, std::optional<FileIdentity> seen)
    : path_(std::move(path)), seen_(seen) {}

bool FileWatch::Poll() {
    const std::optional<FileIdentity> now = IdentityOfPath(path_);
    if (!now || now == seen_) {
        pending_.reset();
        return false;
    }
    if (now != pending_) {
        pending_ = now;
        return false;
    }
    seen_ = now;
    pending_.reset();
    return true;
}

void FileWatch::Seen(std::optional<FileIdentity> identity) {
    seen_ = identity;
    pending_.reset();
}

}  // namespace tallowin
