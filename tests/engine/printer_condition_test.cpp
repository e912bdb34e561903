#include "engine/printer_condition.h"

#include <gtest/gtest.h>

using namespace tallowin;

namespace {

using State = PrinterCondition::State;
using Reasons = std::vector<std::string>;

TEST(PrinterCondition, SaysWhatKeepsAPrinterFromPrinting) {
    struct Case {
        const char* Name;
        PrinterCondition Condition;
        std::optional<std::string> Expected;
    };
    const Case cases[] = {
        {"idle", {State::Idle, {"none"}, "", true}, std::nullopt},
        {"printing", {State::Processing, {}, "Printing page 1", true}, std::nullopt},
        {"a_warning_is_no_stop",
         {State::Idle, {"toner-low-warning", "media-low", "media-empty-report"}, "", true},
         std::nullopt},
        {"the_schedulers_own_notes",
         {State::Processing, {"connecting-to-device", "cups-waiting-for-job-completed"}, "", true},
         std::nullopt},
        {"disabled_with_a_reason",
         {State::Stopped, {"paused"}, "Out of paper", true},
         "Out of paper (paused)"},
        {"disabled_without_a_reason", {State::Stopped, {"paused"}, "", true}, "stopped (paused)"},
        {"stopped_by_its_backend",
         {State::Stopped, {"media-empty-error", "paused"}, "Out of paper", true},
         "Out of paper (media-empty, paused)"},
        {"a_condition_while_idle", {State::Idle, {"door-open"}, "", true}, "door-open"},
        {"any_error_severity",
         {State::Idle, {"com.vendor-lid-error"}, "Close the lid", true},
         "Close the lid (com.vendor-lid)"},
        {"rejecting", {State::Idle, {"none"}, "", false}, "not accepting jobs"},
        {"rejecting_with_a_message",
         {State::Idle, {}, "Closed for service", false},
         "Closed for service"},
        {"each_reason_once",
         {State::Stopped, {"offline", "offline-error", "paused"}, "", true},
         "stopped (offline, paused)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(NeedsAttention(c.Condition), c.Expected);
    }
}

}  // namespace
