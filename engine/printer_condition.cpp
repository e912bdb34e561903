#include "engine/printer_condition.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace tallowin {

namespace {

// Conditions that stop a printer even when the reason carries no severity
// (printers and backends often leave it out): RFC 8011's printer-state-
// reasons and PWG 5100.9's that a person must see to.
constexpr std::string_view kStops[] = {
    "media-empty",
    "media-needed",
    "media-jam",
    "door-open",
    "cover-open",
    "interlock-open",
    "input-tray-missing",
    "output-tray-missing",
    "output-area-full",
    "offline",
    "toner-empty",
    "marker-supply-empty",
    "marker-waste-full",
    "fuser-over-temp",
    "paused",
    "shutdown",
    "stopped-partly",
    "spool-area-full",
    "moving-to-paused",
    "developer-empty",
    "opc-life-over",
};

bool EndsWith(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

}  // namespace

std::vector<std::string> BlockingReasons(const PrinterCondition& condition) {
    std::vector<std::string> blocking;
    for (const std::string& reason : condition.Reasons) {
        std::string_view r = reason;
        if (EndsWith(r, "-warning") || EndsWith(r, "-report")) continue;
        const bool error = EndsWith(r, "-error");
        if (error) r.remove_suffix(6);
        const bool stop = std::find(std::begin(kStops), std::end(kStops), r) != std::end(kStops);
        if (!error && !stop) continue;
        if (r == "none" || r.starts_with("cups-") || r == "connecting-to-device") continue;
        if (std::find(blocking.begin(), blocking.end(), r) == blocking.end()) {
            blocking.emplace_back(r);
        }
    }
    return blocking;
}

std::optional<std::string> NeedsAttention(const PrinterCondition& condition) {
    const std::vector<std::string> reasons = BlockingReasons(condition);
    const bool stopped = condition.Now == PrinterCondition::State::Stopped;
    if (!stopped && condition.Accepting && reasons.empty()) return std::nullopt;
    std::string list;
    for (const std::string& r : reasons) list += (list.empty() ? "" : ", ") + r;
    std::string words = condition.Message;
    if (words.empty()) {
        words = stopped ? "stopped" : !condition.Accepting ? "not accepting jobs" : list;
        if (words == list) list.clear();
    }
    if (!list.empty()) words += " (" + list + ")";
    return words;
}

}  // namespace tallowin
