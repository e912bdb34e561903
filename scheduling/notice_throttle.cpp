#include "scheduling/notice_throttle.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace tallowin {

namespace {

bool AboutTheFolder(HotFolderError code) {
    return code == HF_ERR_PATH || code == HF_ERR_DUPLICATE;
}

}  // namespace

const char* NotifyEventName(NotifyEvent event) {
    switch (event) {
        case NotifyEvent::Kept:
            return "kept";
        case NotifyEvent::NotDeleted:
            return "not-deleted";
        case NotifyEvent::PrinterAttention:
            return "printer-attention";
        case NotifyEvent::PrinterReady:
            return "printer-ready";
        case NotifyEvent::FolderMissing:
            return "folder-missing";
        case NotifyEvent::FolderBack:
            return "folder-back";
        case NotifyEvent::Printed:
            return "printed";
    }
    return "unknown";
}

std::optional<Notice> NoticeFor(const PrintLogEntry& entry, bool withPrinted) {
    using Outcome = PrintLogEntry::Outcome;
    Notice notice{NotifyEvent::Kept, entry.HotFolder, entry.File, entry.Printer, entry.Reason};
    switch (entry.Result) {
        case Outcome::Kept:
            if (AboutTheFolder(entry.Code)) {
                // The entry's file is the folder itself; the folder is the
                // hot folder's own, so the argument names no file.
                notice.Event = NotifyEvent::FolderMissing;
                notice.File.clear();
            }
            return notice;
        case Outcome::NotDeleted:
            notice.Event = NotifyEvent::NotDeleted;
            return notice;
        case Outcome::FolderBack:
            notice.Event = NotifyEvent::FolderBack;
            notice.File.clear();
            return notice;
        case Outcome::Printed:
            if (!withPrinted) return std::nullopt;
            notice.Event = NotifyEvent::Printed;
            return notice;
        case Outcome::PrinterAttention:
            notice.Event = NotifyEvent::PrinterAttention;
            notice.File.clear();
            return notice;
        case Outcome::PrinterReady:
            notice.Event = NotifyEvent::PrinterReady;
            notice.File.clear();
            return notice;
        case Outcome::Sent:
        case Outcome::Interrupted:
        case Outcome::Notified:
        case Outcome::LedgerRecovered:
        case Outcome::LedgerLost:
            return std::nullopt;
    }
    return std::nullopt;
}

std::vector<std::string> NoticeArguments(const Notice& notice) {
    return {NotifyEventName(notice.Event), notice.Folder, notice.File, notice.Printer,
            notice.Reason};
}

bool NoticeThrottle::MayRun(NotifyEvent event, std::uint32_t now) const {
    const auto& last = lastRun_[static_cast<int>(event)];
    return !last || static_cast<std::uint32_t>(now - *last) >= kIntervalMs;
}

void NoticeThrottle::Offer(Notice notice) {
    int count = 1;
    const auto same = std::find_if(waiting_.begin(), waiting_.end(), [&](const FoldedNotice& w) {
        return w.Latest.Event == notice.Event;
    });
    if (same != waiting_.end()) {
        // The latest stands for the burst, in the place of its arrival.
        count += same->Count;
        waiting_.erase(same);
    }
    waiting_.push_back({std::move(notice), count});
}

std::vector<FoldedNotice> NoticeThrottle::Due(std::uint32_t now) {
    std::vector<FoldedNotice> due;
    // In order: one that must still wait holds back those behind it.
    while (!waiting_.empty() && MayRun(waiting_.front().Latest.Event, now)) {
        lastRun_[static_cast<int>(waiting_.front().Latest.Event)] = now;
        due.push_back(std::move(waiting_.front()));
        waiting_.pop_front();
    }
    return due;
}

std::vector<FoldedNotice> NoticeThrottle::TakeAll() {
    std::vector<FoldedNotice> all(std::make_move_iterator(waiting_.begin()),
                                  std::make_move_iterator(waiting_.end()));
    waiting_.clear();
    return all;
}

std::optional<std::uint32_t> NoticeThrottle::TimeToNext(std::uint32_t now) const {
    if (waiting_.empty()) return std::nullopt;
    const auto& last = lastRun_[static_cast<int>(waiting_.front().Latest.Event)];
    if (!last) return 0;
    const std::uint32_t since = now - *last;
    return since >= kIntervalMs ? 0 : kIntervalMs - since;
}

}  // namespace tallowin
