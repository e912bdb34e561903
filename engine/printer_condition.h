// Whether a printer can print now, as the scheduler describes it: its state,
// its state reasons, its message and whether it accepts jobs. A printer that
// cannot is one that needs attention: files for it wait, none is failed.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tallowin {

struct PrinterCondition {
    enum class State {
        Idle,        // printer-state 3
        Processing,  // printer-state 4
        Stopped,     // printer-state 5: paused (cupsdisable) or stopped by its backend
    };
    State Now = State::Idle;
    // printer-state-reasons as the scheduler gives them, severity suffixes
    // included ("media-empty-error", "paused", "toner-low-warning"); "none"
    // may be there or not.
    std::vector<std::string> Reasons;
    std::string Message;    // printer-state-message; may be empty
    bool Accepting = true;  // printer-is-accepting-jobs

    bool operator==(const PrinterCondition&) const = default;
};

// The reasons that keep a printer from printing, without their severity
// suffix, in the scheduler's order: each one that ends in "-error", and each
// one without a suffix that names a stop (media-empty, media-jam,
// door-open, offline, toner-empty, paused, ...). "-warning" and "-report"
// reasons, "none" and the scheduler's own notes ("connecting-to-device",
// "cups-*") never do.
std::vector<std::string> BlockingReasons(const PrinterCondition& condition);

// nullopt while the printer can print; otherwise what keeps it from
// printing, for people, in the printer's own words where it has any: its
// message (an operator's reason for stopping or rejecting included), then
// the blocking reasons in parentheses ("Out of paper (media-empty,
// paused)"); without a message, "stopped", "not accepting jobs" or the
// reasons alone.
std::optional<std::string> NeedsAttention(const PrinterCondition& condition);

}  // namespace tallowin
