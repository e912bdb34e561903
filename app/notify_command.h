// The notify command: a program of the user's choice, run for each event of
// the hot folders (a file kept, a printer that needs attention, a folder
// gone, ...) so that somebody hears of it where nobody watches a window.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/ports/clock.h"
#include "engine/ports/print_log.h"
#include "engine/ports/profile.h"
#include "os/child_process.h"
#include "scheduling/notice_throttle.h"
#include "util/thread_annotations.h"

namespace tallowin {

// The profile's Init keys: NotifyCommand (the program's path; empty or
// absent: none) and NotifyPrinted (1: printed files are told too).
struct NotifySettings {
    std::string Program;
    bool Printed = false;
};
NotifySettings ReadNotifySettings(const Profile& profile);

// One run of the program: the notice (and how many it stood for), and how
// the program ended with what it wrote.
struct NotifyRun {
    FoldedNotice Notice;
    ChildRun Run;
};

// Takes the print log's entries (it is a PrintLog, to be teed beside the
// file log) and runs the program for each that is worth telling, as
//   PROGRAM EVENT FOLDER FILE PRINTER REASON
// with TALLOWIN_EVENT_COUNT in its environment (how many events of a burst
// the run stands for, see NoticeThrottle). The runs happen one after
// another on a thread of this object, never on the caller's; each is ended
// at limits.Time. report hears of every run on that thread (for the print
// log), also of notices dropped at the end (Run NotStarted, Error says so).
//
// Record and Configure are thread-safe and never wait for a run. The clock
// must be thread-safe and outlive this object.
class NotifyCommand final : public PrintLog {
  public:
    using Report = std::function<void(const NotifyRun& run)>;

    NotifyCommand(Clock& clock, Report report, ChildLimits limits = {});
    NotifyCommand(const NotifyCommand&) = delete;
    NotifyCommand& operator=(const NotifyCommand&) = delete;
    // Ends a run in progress (SIGTERM, SIGKILL 2 s later), reports notices
    // still waiting as dropped, and joins the thread: a program that hangs
    // does not hold up the end of Tallowin.
    ~NotifyCommand() override;

    // The program and whether printed files are told; takes effect for the
    // next entry. With no program nothing is run.
    void Configure(NotifySettings settings) EXCLUDES(lock_);

    void Record(const PrintLogEntry& entry) override EXCLUDES(lock_);
    // A notice that no log entry carries.
    void Tell(Notice notice) EXCLUDES(lock_);

  private:
    void Loop() EXCLUDES(lock_);

    Clock& clock_;
    Report report_;
    ChildLimits limits_;
    std::atomic<bool> ending_{false};  // the runs' Cancel
    Mutex lock_;
    std::condition_variable wake_;
    NotifySettings settings_ GUARDED_BY(lock_);
    NoticeThrottle throttle_ GUARDED_BY(lock_);
    bool quit_ GUARDED_BY(lock_) = false;
    std::uint64_t offered_ GUARDED_BY(lock_) = 0;  // notices taken so far
    std::thread thread_;                           // last: started once the rest is in place
};

}  // namespace tallowin
