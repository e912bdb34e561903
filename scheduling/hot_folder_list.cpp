#include "scheduling/hot_folder_list.h"

#include <algorithm>

#include "engine/scan_time.h"

namespace tallowin {

namespace {

// The longest the worker sleeps, so it never sleeps past a folder that
// became due while it slept.
constexpr std::uint32_t kLongestSleepMs = 20000;

// A folder in error because its path is missing is still checked, so that it
// resumes by itself once the path is back.
bool Scheduled(const HotFolder& folder) {
    const std::int32_t state = folder.GetState();
    return state == HF_STATE_RUNNING || state == HF_STATE_ERROR;
}

std::uint32_t TimeToScan(const HotFolder& folder, std::uint32_t now) {
    return TimeToNextScan(folder.GetLastScanTick(), now, ScanIntervalMs(folder.GetScanTime()));
}

}  // namespace

int HotFolderList::Add(const HotFolder& folder) {
    Guard guard(lock_);
    return AddLocked(folder);
}

int HotFolderList::AddLocked(const HotFolder& folder) {
    int candidate = 0;
    // Of the ids 0 .. n, one at least is free.
    while (folders_.count(candidate) != 0) ++candidate;
    folders_.emplace(candidate, folder);
    return candidate;
}

bool HotFolderList::Remove(int id) {
    Guard guard(lock_);
    return folders_.erase(id) != 0;
}

bool HotFolderList::Get(int id, HotFolder& out) const {
    Guard guard(lock_);
    const auto it = folders_.find(id);
    if (it == folders_.end()) return false;
    out.AssignWithoutFiles(it->second);
    return true;
}

// Lock-free by design: only while the worker is between runs (see the header).
bool HotFolderList::Set(int id, const HotFolder& folder) {
    // Locked although the worker is between runs: the status socket's
    // thread may be copying the folders meanwhile.
    Guard guard(lock_);
    folders_.insert_or_assign(id, folder);
    return true;
}

std::vector<std::pair<int, std::string>> HotFolderList::GetSettingsProblems() const {
    Guard guard(lock_);
    std::vector<std::pair<int, std::string>> out;
    for (const auto& [id, folder] : folders_) {
        const ParsedJobSettings read =
            ParseJobSettings(folder.PrintSettings, folder.GetFolderPath());
        if (!read.Ok()) out.emplace_back(id, read.Reason());
    }
    return out;
}

std::vector<HotFolder> HotFolderList::GetAll() const {
    Guard guard(lock_);
    std::vector<HotFolder> all;
    all.reserve(folders_.size());
    for (const auto& [id, folder] : folders_) all.emplace_back().AssignWithoutFiles(folder);
    return all;
}

unsigned HotFolderList::GetCount() const {
    Guard guard(lock_);
    return static_cast<unsigned>(folders_.size());
}

void HotFolderList::GetNames(std::vector<std::string>& out) const {
    Guard guard(lock_);
    for (const auto& [id, folder] : folders_) out.push_back(folder.GetName());
}

void HotFolderList::GetNamesAndPaths(std::vector<std::pair<std::string, std::string>>& out) const {
    Guard guard(lock_);
    for (const auto& [id, folder] : folders_)
        out.emplace_back(folder.GetName(), folder.GetFolderPath());
}

void HotFolderList::ResetAll(Clock& clock) {
    Guard guard(lock_);
    for (auto& [id, folder] : folders_) folder.Reset(clock);
}

// Lock-free by design: the worker's pass, while membership cannot change.
void HotFolderList::StartAll() NO_THREAD_SAFETY_ANALYSIS {
    for (auto& [id, folder] : folders_) {
        const ParsedJobSettings read =
            ParseJobSettings(folder.PrintSettings, folder.GetFolderPath());
        if (read.Ok()) {
            folder.SetRunning();
        } else {
            folder.SetSettingsError(read.Reason());
        }
    }
    claims_.Clear();
}

// Lock-free by design: the worker's pass, while membership cannot change.
void HotFolderList::StopAll() NO_THREAD_SAFETY_ANALYSIS {
    for (auto& [id, folder] : folders_) folder.SetWaiting();
}

std::uint32_t HotFolderList::GetTimeToNextScan(Clock& clock) const {
    Guard guard(lock_);
    const std::uint32_t now = clock.Now();
    std::uint32_t result = kLongestSleepMs;
    for (const auto& [id, folder] : folders_) {
        if (!Scheduled(folder)) continue;
        result = std::min(result, TimeToScan(folder, now));
    }
    return result;
}

// Lock-free by design: a scan must not hold the lock while it prints, or the
// window would freeze; membership cannot change during a run.
void HotFolderList::ScanDue(const EngineServices& services,
                            const StopSignal& stop) NO_THREAD_SAFETY_ANALYSIS {
    const std::uint32_t now = services.clock.Now();
    if (!claims_.Taken()) TakeClaims(services.lister);
    for (auto& [id, folder] : folders_) {
        if (stop.Requested()) return;
        // Due by the very rule GetTimeToNextScan waits by, so that the
        // worker never wakes to find nothing due.
        if (Scheduled(folder) && TimeToScan(folder, now) == 0) {
            const int self = id;
            folder.Scan(services, stop, [&, self](const FolderKey& key) {
                return SameFolderAs(services.lister, key, self);
            });
        }
    }
}

// Lock-free by design: the worker's pass.
void HotFolderList::TakeClaims(FolderLister& lister) NO_THREAD_SAFETY_ANALYSIS {
    // At the run's start, before any folder is scanned: otherwise the one
    // with the shortest scan time would win, not the first in the list.
    for (const auto& [id, folder] : folders_) {
        if (!Scheduled(folder)) continue;
        const std::optional<FolderKey> key = lister.FindFolder(folder.GetFolderPath());
        if (key && !claims_.Holder(*key)) claims_.Give(*key, id);
    }
    claims_.MarkTaken();
}

// Lock-free by design: called from the worker's pass.
std::optional<std::string> HotFolderList::SameFolderAs(FolderLister& lister,
                                                       const FolderKey& folder,
                                                       int id) NO_THREAD_SAFETY_ANALYSIS {
    if (const std::optional<int> holder = claims_.Holder(folder)) {
        if (*holder == id) return std::nullopt;
        const auto it = folders_.find(*holder);
        return it != folders_.end() ? it->second.GetName() : std::string();
    }
    // Unclaimed: back, or found anew. A lower id that holds nothing and leads
    // here comes first; it takes the folder at its own next scan. Rare, so
    // the paths are resolved again only here.
    for (const auto& [other, hotFolder] : folders_) {
        if (other >= id) break;
        if (!Scheduled(hotFolder) || claims_.HoldsAny(other)) continue;
        if (lister.FindFolder(hotFolder.GetFolderPath()) == folder) return hotFolder.GetName();
    }
    claims_.Give(folder, id);
    return std::nullopt;
}

}  // namespace tallowin
