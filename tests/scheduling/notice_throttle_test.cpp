#include "scheduling/notice_throttle.h"

#include <gtest/gtest.h>

using namespace tallowin;

namespace {

Notice Of(NotifyEvent event, std::string file = {}) {
    return {event, "Photos", std::move(file), "office", "why"};
}

// "kept:a.jpg x3" for each notice due, in order.
std::vector<std::string> Names(const std::vector<FoldedNotice>& due) {
    std::vector<std::string> names;
    for (const FoldedNotice& n : due) {
        names.push_back(std::string(NotifyEventName(n.Latest.Event)) + ":" + n.Latest.File + " x" +
                        std::to_string(n.Count));
    }
    return names;
}

struct Step {
    std::uint32_t At;                   // tick of this step
    std::vector<Notice> Offered;        // offered at At, before Due
    std::vector<std::string> Expected;  // what Due(At) hands back
};

struct Case {
    const char* Name;
    std::vector<Step> Steps;
};

TEST(NoticeThrottle, AtMostOneRunASecondOfEachEvent) {
    const std::uint32_t near = 0xFFFFFE00u;  // the tick wraps within the case
    const Case cases[] = {
        {"first_runs_at_once", {{0, {Of(NotifyEvent::Kept, "a")}, {"kept:a x1"}}}},
        {"burst_folds_into_its_latest",
         {{0, {Of(NotifyEvent::Kept, "a")}, {"kept:a x1"}},
          {10, {Of(NotifyEvent::Kept, "b"), Of(NotifyEvent::Kept, "c")}, {}},
          {20, {Of(NotifyEvent::Kept, "d")}, {}},
          {999, {}, {}},
          {1000, {}, {"kept:d x3"}},
          {1500, {Of(NotifyEvent::Kept, "e")}, {}},
          {2000, {}, {"kept:e x1"}}}},
        {"other_events_are_not_held",
         {{0,
           {Of(NotifyEvent::Kept, "a"), Of(NotifyEvent::NotDeleted, "b")},
           {"kept:a x1", "not-deleted:b x1"}},
          {0, {Of(NotifyEvent::Kept, "c")}, {}}}},
        {"order_of_arrival_is_kept",
         {{0, {Of(NotifyEvent::PrinterReady)}, {"printer-ready: x1"}},
          {100, {Of(NotifyEvent::PrinterAttention)}, {"printer-attention: x1"}},
          {200, {Of(NotifyEvent::PrinterAttention)}, {}},
          // ready may run by its own second, but not before the attention
          // that came first
          {1050, {Of(NotifyEvent::PrinterReady)}, {}},
          {1100, {}, {"printer-attention: x1", "printer-ready: x1"}}}},
        {"a_fold_moves_to_its_latest_place",
         {{0,
           {Of(NotifyEvent::PrinterAttention), Of(NotifyEvent::PrinterReady)},
           {"printer-attention: x1", "printer-ready: x1"}},
          {10, {Of(NotifyEvent::PrinterReady)}, {}},
          {20, {Of(NotifyEvent::PrinterAttention)}, {}},
          {30, {Of(NotifyEvent::PrinterReady)}, {}},
          {1000, {}, {"printer-attention: x1", "printer-ready: x2"}}}},
        {"across_the_wrap",
         {{near, {Of(NotifyEvent::Kept, "a")}, {"kept:a x1"}},
          {near + 0x100, {Of(NotifyEvent::Kept, "b")}, {}},
          {near + 999, {}, {}},
          {near + 1000, {}, {"kept:b x1"}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        NoticeThrottle throttle;
        for (const Step& step : c.Steps) {
            SCOPED_TRACE(step.At);
            for (const Notice& n : step.Offered) throttle.Offer(n);
            EXPECT_EQ(Names(throttle.Due(step.At)), step.Expected);
        }
    }
}

TEST(NoticeThrottle, SaysWhenTheNextMayRun) {
    NoticeThrottle throttle;
    EXPECT_EQ(throttle.TimeToNext(0), std::nullopt);
    throttle.Offer(Of(NotifyEvent::Kept));
    EXPECT_EQ(throttle.TimeToNext(0), 0u);
    ASSERT_EQ(throttle.Due(0).size(), 1u);
    throttle.Offer(Of(NotifyEvent::Kept));
    EXPECT_EQ(throttle.TimeToNext(250), 750u);
    const auto all = throttle.TakeAll();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_TRUE(throttle.Empty());
}

TEST(NoticeFor, TellsWhatIsWorthTelling) {
    using Outcome = PrintLogEntry::Outcome;
    struct Row {
        const char* Name;
        Outcome Result;
        HotFolderError Code;
        bool WithPrinted;
        std::optional<NotifyEvent> Expected;
        bool KeepsFile;
    };
    const Row rows[] = {
        {"kept_file", Outcome::Kept, HF_ERR_DAMAGED, false, NotifyEvent::Kept, true},
        {"folder_missing", Outcome::Kept, HF_ERR_PATH, false, NotifyEvent::FolderMissing, false},
        {"folder_taken", Outcome::Kept, HF_ERR_DUPLICATE, false, NotifyEvent::FolderMissing, false},
        {"folder_back", Outcome::FolderBack, HF_ERR_NONE, false, NotifyEvent::FolderBack, false},
        {"not_deleted", Outcome::NotDeleted, HF_ERR_NOT_DELETED, false, NotifyEvent::NotDeleted,
         true},
        {"printed_unasked", Outcome::Printed, HF_ERR_NONE, false, std::nullopt, true},
        {"printed_asked", Outcome::Printed, HF_ERR_NONE, true, NotifyEvent::Printed, true},
        {"printer_attention", Outcome::PrinterAttention, HF_ERR_PRINTER_ATTENTION, false,
         NotifyEvent::PrinterAttention, false},
        {"printer_ready", Outcome::PrinterReady, HF_ERR_NONE, false, NotifyEvent::PrinterReady,
         false},
        {"notified_is_not_told_again", Outcome::Notified, HF_ERR_NONE, true, std::nullopt, true},
        {"sent", Outcome::Sent, HF_ERR_NONE, true, std::nullopt, true},
        {"interrupted", Outcome::Interrupted, HF_ERR_UNREACHABLE, true, std::nullopt, true},
        {"ledger", Outcome::LedgerLost, HF_ERR_STATE, true, std::nullopt, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        PrintLogEntry entry;
        entry.HotFolder = "Photos";
        entry.File = "/in/a.jpg";
        entry.Printer = "office";
        entry.Result = row.Result;
        entry.Code = row.Code;
        entry.Reason = "the words";
        const std::optional<Notice> notice = NoticeFor(entry, row.WithPrinted);
        ASSERT_EQ(notice.has_value(), row.Expected.has_value());
        if (!notice) continue;
        EXPECT_EQ(notice->Event, *row.Expected);
        EXPECT_EQ(
            NoticeArguments(*notice),
            (std::vector<std::string>{NotifyEventName(*row.Expected), "Photos",
                                      row.KeepsFile ? "/in/a.jpg" : "", "office", "the words"}));
    }
}

}  // namespace
