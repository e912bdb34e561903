#include "scheduling/folder_claims.h"

namespace tallowin {

void FolderClaims::Clear() {
    holders_.clear();
    held_.clear();
    taken_ = false;
}

std::optional<int> FolderClaims::Holder(const FolderKey& folder) const {
    const auto it = holders_.find(folder);
    if (it == holders_.end()) return std::nullopt;
    return it->second;
}

void FolderClaims::Give(const FolderKey& folder, int id) {
    if (const auto old = held_.find(id); old != held_.end()) {
        holders_.erase(old->second);
        held_.erase(old);
    }
    holders_[folder] = id;
    held_[id] = folder;
}

}  // namespace tallowin
