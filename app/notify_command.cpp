#include "app/notify_command.h"

#include <chrono>
#include <utility>

namespace tallowin {

NotifySettings ReadNotifySettings(const Profile& profile) {
    NotifySettings settings;
    settings.Program = profile.GetString("Init", "NotifyCommand", "");
    settings.Printed = profile.GetInt("Init", "NotifyPrinted", 0) == 1;
    return settings;
}

NotifyCommand::NotifyCommand(Clock& clock, Report report, ChildLimits limits)
    : clock_(clock), report_(std::move(report)), limits_(limits) {
    limits_.Cancel = &ending_;
    thread_ = std::thread([this] { Loop(); });
}

NotifyCommand::~NotifyCommand() {
    {
        MutexLock held(lock_);
        quit_ = true;
    }
    ending_ = true;
    wake_.notify_all();
    thread_.join();
}

void NotifyCommand::Configure(NotifySettings settings) {
    MutexLock held(lock_);
    settings_ = std::move(settings);
}

void NotifyCommand::Record(const PrintLogEntry& entry) {
    std::optional<Notice> notice;
    {
        MutexLock held(lock_);
        if (settings_.Program.empty()) return;
        notice = NoticeFor(entry, settings_.Printed);
    }
    if (notice) Tell(std::move(*notice));
}

void NotifyCommand::Tell(Notice notice) {
    {
        MutexLock held(lock_);
        if (settings_.Program.empty() || quit_) return;
        throttle_.Offer(std::move(notice));
        ++offered_;
    }
    wake_.notify_all();
}

void NotifyCommand::Loop() {
    for (;;) {
        std::vector<FoldedNotice> due, dropped;
        std::string program;
        bool quitting = false;
        {
            MutexLock held(lock_);
            for (;;) {
                due = throttle_.Due(clock_.Now());
                if (!due.empty() || quit_) break;
                const std::uint64_t seen = offered_;
                const auto news = [&]() REQUIRES(lock_) { return quit_ || offered_ != seen; };
                if (const auto next = throttle_.TimeToNext(clock_.Now())) {
                    WaitForWhileHeld(wake_, lock_, std::chrono::milliseconds(*next), news);
                } else {
                    WaitWhileHeld(wake_, lock_, news);
                }
            }
            program = settings_.Program;
            quitting = quit_;
            // What must still wait for its second is not waited for at the
            // end; the report says what the program missed.
            if (quitting) {
                dropped = std::move(due);
                due.clear();
                for (FoldedNotice& n : throttle_.TakeAll()) dropped.push_back(std::move(n));
            }
        }
        for (const FoldedNotice& notice : due) {
            if (program.empty()) continue;  // switched off since it came
            std::vector<std::string> argv{program};
            for (std::string& arg : NoticeArguments(notice.Latest)) argv.push_back(std::move(arg));
            NotifyRun run{
                notice,
                RunChild(argv, {"TALLOWIN_EVENT_COUNT=" + std::to_string(notice.Count)}, limits_)};
            if (report_) report_(run);
        }
        for (const FoldedNotice& notice : dropped) {
            NotifyRun run{notice, {}};
            run.Run.Error = "Tallowin ended before its turn";
            if (report_) report_(run);
        }
        if (quitting) return;
    }
}

}  // namespace tallowin
