#include "scheduling/recent_print_log.h"

#include <utility>

namespace tallowin {

RecentPrintLog::RecentPrintLog(std::size_t capacity) : capacity(capacity) {}

void RecentPrintLog::Record(const PrintLogEntry& entry) {
    MutexLock guard(lock);
    ++recorded;
    if (capacity == 0) return;
    if (entries.size() == capacity) entries.pop_front();
    entries.push_back(entry);
}

std::vector<PrintLogEntry> RecentPrintLog::Recent(
    const std::optional<std::string>& hotFolder) const {
    MutexLock guard(lock);
    std::vector<PrintLogEntry> out;
    out.reserve(entries.size());
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (!hotFolder || it->HotFolder == *hotFolder) out.push_back(*it);
    }
    return out;
}

std::uint64_t RecentPrintLog::Count() const {
    MutexLock guard(lock);
    return recorded;
}

TeePrintLog::TeePrintLog(std::vector<PrintLog*> logs) : logs(std::move(logs)) {}

void TeePrintLog::Record(const PrintLogEntry& entry) {
    for (PrintLog* log : logs) log->Record(entry);
}

}  // namespace tallowin
