// The events the notify command hears of, and the rule that keeps a burst
// of one event from becoming a burst of processes. Pure logic on the
// engine's clock; no thread, no process.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "engine/ports/print_log.h"

namespace tallowin {

enum class NotifyEvent : int {
    Kept,              // a file that cannot print stays (Reason says why)
    NotDeleted,        // printed, but the file stays
    PrinterAttention,  // the folder's printer stopped or reports a condition
    PrinterReady,      // ... and prints again
    FolderMissing,     // the folder is gone or another hot folder's
    FolderBack,        // ... and is watched again
    Printed,           // a file printed (only when asked for)
};
inline constexpr int kNotifyEventCount = 7;

// The event's name as the command's first argument: "kept", "not-deleted",
// "printer-attention", "printer-ready", "folder-missing", "folder-back",
// "printed".
const char* NotifyEventName(NotifyEvent event);

struct Notice {
    NotifyEvent Event = NotifyEvent::Kept;
    std::string Folder;   // the hot folder's name
    std::string File;     // the full path; empty where no file is concerned
    std::string Printer;  // empty where no printer is concerned
    std::string Reason;   // empty where there is none

    bool operator==(const Notice&) const = default;
};

// What a print log entry is worth telling: nothing for sent, interrupted
// and the ledger's entries, nor for printed unless withPrinted.
std::optional<Notice> NoticeFor(const PrintLogEntry& entry, bool withPrinted);

// The command's arguments after the program: EVENT FOLDER FILE PRINTER
// REASON, an empty argument for what does not apply.
std::vector<std::string> NoticeArguments(const Notice& notice);

// A notice to run now, and how many notices of its event it stands for (1,
// or more when a burst was folded into it: the latest of them is the one
// that runs).
struct FoldedNotice {
    Notice Latest;
    int Count = 1;
};

// At most one run a second of each event. A notice whose event ran less
// than a second ago waits, folded with any other notice of its event still
// waiting; notices leave in the order of their latest arrival, so that a
// printer-ready is never heard before the printer-attention it ends.
//
// Offer takes a notice; Due hands back those whose turn has come, in order.
// Ticks are the engine's 32-bit milliseconds (wrap-around included). Not
// thread-safe; at most one notice of each event ever waits.
class NoticeThrottle {
  public:
    static constexpr std::uint32_t kIntervalMs = 1000;

    void Offer(Notice notice);
    // The notices to run now, oldest first; each marks its event as run now.
    std::vector<FoldedNotice> Due(std::uint32_t now);
    // Milliseconds until the first waiting notice may run (0: now);
    // nullopt when none waits.
    std::optional<std::uint32_t> TimeToNext(std::uint32_t now) const;
    bool Empty() const { return waiting_.empty(); }
    // Every waiting notice, oldest first, whatever its turn: for the end.
    std::vector<FoldedNotice> TakeAll();

  private:
    bool MayRun(NotifyEvent event, std::uint32_t now) const;

    std::deque<FoldedNotice> waiting_;
    // The tick of each event's last run; nullopt before its first.
    std::optional<std::uint32_t> lastRun_[kNotifyEventCount];
};

}  // namespace tallowin
