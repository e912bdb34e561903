#include "scheduling/folder_merge.h"

#include <algorithm>
#include <map>

namespace tallowin {

namespace {

using Counts = std::map<FolderSettings, int>;

Counts Count(const std::vector<FolderSettings>& folders) {
    Counts counts;
    for (const FolderSettings& f : folders) ++counts[f];
    return counts;
}

int CountOf(const Counts& counts, const FolderSettings& f) {
    const auto it = counts.find(f);
    return it == counts.end() ? 0 : it->second;
}

}  // namespace

std::vector<FolderSettings> MergeFolderEdits(const std::vector<FolderSettings>& base,
                                             const std::vector<FolderSettings>& ours,
                                             const std::vector<FolderSettings>& theirs) {
    const Counts baseCounts = Count(base), ourCounts = Count(ours), theirCounts = Count(theirs);
    // How many copies of each folder ours dropped from base, and how many
    // theirs added to it.
    Counts dropped, theirAdded;
    for (const auto& [f, n] : baseCounts) dropped[f] = std::max(0, n - CountOf(ourCounts, f));
    for (const auto& [f, n] : theirCounts) theirAdded[f] = std::max(0, n - CountOf(baseCounts, f));

    std::vector<FolderSettings> merged;
    for (const FolderSettings& f : theirs) {
        auto it = dropped.find(f);
        if (it != dropped.end() && it->second > 0) {
            --it->second;
            continue;
        }
        merged.push_back(f);
    }
    Counts ourAdded;
    for (const auto& [f, n] : ourCounts) ourAdded[f] = std::max(0, n - CountOf(baseCounts, f));
    for (const FolderSettings& f : ours) {
        auto mine = ourAdded.find(f);
        if (mine == ourAdded.end() || mine->second == 0) continue;
        --mine->second;
        auto same = theirAdded.find(f);
        if (same != theirAdded.end() && same->second > 0) {
            --same->second;  // theirs made the same folder: it is there already
            continue;
        }
        merged.push_back(f);
    }
    return merged;
}

}  // namespace tallowin
