#include "scheduling/recent_print_log.h"

#include <utility>

namespace tallowin {

RecentPrintLog::RecentPrintLog(std::size_t capacity) : capacity_(capacity) {}

void RecentPrintLog::Record(const PrintLogEntry& entry) {
    MutexLock guard(lock_);
    ++recorded_;
    if (capacity_ == 0) return;
    if (entries_.size() == capacity_) entries_.pop_front();
    entries_.push_back(entry);
}

std::vector<PrintLogEntry> RecentPrintLog::Recent(
    const std::optional<std::string>& hotFolder) const {
    MutexLock guard(lock_);
    std::vector<PrintLogEntry> out;
    out.reserve(entries_.size());
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (!hotFolder || it->HotFolder == *hotFolder) out.push_back(*it);
    }
    return out;
}

std::uint64_t RecentPrintLog::Count() const {
    MutexLock guard(lock_);
    return recorded_;
}

TeePrintLog::TeePrintLog(std::vector<PrintLog*> logs) : logs_(std::move(logs)) {}

void TeePrintLog::Record(const PrintLogEntry& entry) {
    for (PrintLog* log : logs_) log->Record(entry);
}

}  // namespace tallowin
