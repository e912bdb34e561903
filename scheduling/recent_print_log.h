// Print logs kept in memory: the recent entries the window's Log view shows,
// and a tee that hands every entry to several logs (the log file and the
// window at once).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "engine/ports/services.h"
#include "util/thread_annotations.h"

namespace tallowin {

// The last `capacity` entries; older ones are dropped as new ones come.
// Thread-safe: the worker records while the window reads.
class RecentPrintLog final : public PrintLog {
  public:
    explicit RecentPrintLog(std::size_t capacity = 1000);

    void Record(const PrintLogEntry& entry) override EXCLUDES(lock_);
    // Copies of the kept entries, newest first; with a hot folder name, only
    // that folder's.
    std::vector<PrintLogEntry> Recent(const std::optional<std::string>& hotFolder = {}) const
        EXCLUDES(lock_);
    // How many entries were ever recorded: a reader refreshes only when it
    // changed.
    std::uint64_t Count() const EXCLUDES(lock_);

  private:
    const std::size_t capacity_;
    mutable Mutex lock_;
    std::deque<PrintLogEntry> entries_ GUARDED_BY(lock_);  // oldest first
    std::uint64_t recorded_ GUARDED_BY(lock_) = 0;
};

// Forwards every entry to each of its logs, in order. The logs are not
// owned and must outlive the tee; it is as thread-safe as they are.
class TeePrintLog final : public PrintLog {
  public:
    explicit TeePrintLog(std::vector<PrintLog*> logs);
    void Record(const PrintLogEntry& entry) override;

  private:
    std::vector<PrintLog*> logs_;
};

}  // namespace tallowin
