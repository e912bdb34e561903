#include "app/notify_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "store/ini_profile.h"
#include "tests/engine/fakes.h"
#include "tests/support/temp_dir.h"

using namespace tallowin;
using namespace std::chrono_literals;

namespace {

// Collects the runs the command reports, and waits for them.
class Runs {
  public:
    NotifyCommand::Report Report() {
        return [this](const NotifyRun& run) {
            std::lock_guard<std::mutex> held(mutex_);
            runs_.push_back(run);
            changed_.notify_all();
        };
    }
    // Waits (a minute at most) until done(runs) holds; the runs then.
    template <class Done>
    std::vector<NotifyRun> WaitUntil(Done done) {
        std::unique_lock<std::mutex> held(mutex_);
        changed_.wait_for(held, 60s, [&] { return done(runs_); });
        return runs_;
    }
    std::vector<NotifyRun> WaitFor(std::size_t n) {
        return WaitUntil([n](const std::vector<NotifyRun>& r) { return r.size() >= n; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<NotifyRun> runs_;
};

// A notify program that prints its arguments and the count it stands for;
// with a gate file, it first waits for the gate to appear.
std::string WriteProgram(const TempDir& dir, const std::string& gate = {}) {
    const std::string path = dir / "notify.sh";
    std::string body = "#!/bin/sh\n";
    if (!gate.empty()) body += "while [ ! -e '" + gate + "' ]; do sleep 0.05; done\n";
    body += "printf '%s|' \"$@\"\nprintf 'count=%s\\n' \"$TALLOWIN_EVENT_COUNT\"\n";
    WriteFile(path, body);
    chmod(path.c_str(), 0755);
    return path;
}

PrintLogEntry Entry(PrintLogEntry::Outcome outcome, const std::string& file,
                    HotFolderError code = HF_ERR_NONE, const std::string& reason = {}) {
    PrintLogEntry e;
    e.HotFolder = "Photos";
    e.File = file;
    e.Printer = "office";
    e.Result = outcome;
    e.Code = code;
    e.Reason = reason;
    return e;
}

using Outcome = PrintLogEntry::Outcome;

TEST(NotifyCommand, RunsTheProgramForEachEventWithItsArguments) {
    TempDir dir;
    FakeClock clock;
    Runs runs;
    NotifyCommand notify(clock, runs.Report());
    notify.Configure({WriteProgram(dir), false});
    // Each of another event, so none waits for another's second.
    notify.Record(Entry(Outcome::Kept, "/in/a.jpg", HF_ERR_DAMAGED, "Premature end of JPEG file"));
    notify.Record(Entry(Outcome::Printed, "/in/b.jpg"));  // not asked for
    notify.Record(Entry(Outcome::Sent, "/in/c.jpg"));     // never told
    notify.Record(Entry(Outcome::Kept, "/in", HF_ERR_PATH, "No such file or directory"));
    notify.Record(Entry(Outcome::FolderBack, "/in"));
    notify.Tell({NotifyEvent::PrinterAttention, "Photos", "", "office", "Out of paper"});
    const std::vector<std::string> expected = {
        "kept|Photos|/in/a.jpg|office|Premature end of JPEG file|count=1\n",
        "folder-missing|Photos||office|No such file or directory|count=1\n",
        "folder-back|Photos||office||count=1\n",
        "printer-attention|Photos||office|Out of paper|count=1\n",
    };
    const std::vector<NotifyRun> got = runs.WaitFor(expected.size());
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_TRUE(got[i].Run.Succeeded()) << DescribeChildRun(got[i].Run);
        EXPECT_EQ(got[i].Run.Output, expected[i]);
    }
}

TEST(NotifyCommand, PrintedFilesAreToldWhenAskedFor) {
    TempDir dir;
    FakeClock clock;
    Runs runs;
    NotifyCommand notify(clock, runs.Report());
    notify.Configure({WriteProgram(dir), true});
    notify.Record(Entry(Outcome::Printed, "/in/b.jpg"));
    const auto got = runs.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Run.Output, "printed|Photos|/in/b.jpg|office||count=1\n");
}

TEST(NotifyCommand, ABurstIsOneRunForItsFirstAndOneForTheRest) {
    TempDir dir;
    FakeClock clock;  // frozen: nothing waiting may run until it moves on
    Runs runs;
    NotifyCommand notify(clock, runs.Report());
    notify.Configure({WriteProgram(dir), false});
    for (const char* file : {"/in/1.jpg", "/in/2.jpg", "/in/3.jpg", "/in/4.jpg", "/in/5.jpg"}) {
        notify.Record(Entry(Outcome::Kept, file, HF_ERR_NOT_IMAGE, "not a picture"));
    }
    runs.WaitFor(1);
    clock.Advance(NoticeThrottle::kIntervalMs);
    const auto got = runs.WaitUntil([](const std::vector<NotifyRun>& r) {
        int told = 0;
        for (const NotifyRun& run : r) told += run.Notice.Count;
        return told >= 5;
    });
    // However the burst met the thread: at most two runs, the last naming
    // the last file and standing for the rest.
    ASSERT_GE(got.size(), 1u);
    ASSERT_LE(got.size(), 2u);
    int told = 0;
    for (const NotifyRun& run : got) told += run.Notice.Count;
    EXPECT_EQ(told, 5);
    EXPECT_EQ(got.back().Run.Output, "kept|Photos|/in/5.jpg|office|not a picture|count=" +
                                         std::to_string(got.back().Notice.Count) + "\n");
}

TEST(NotifyCommand, NeverHoldsTheCallerAndEndsALateProgram) {
    TempDir dir;
    FakeClock clock;
    Runs runs;
    ChildLimits limits;
    limits.Time = 300ms;
    {
        NotifyCommand notify(clock, runs.Report(), limits);
        // The program waits for a gate that never opens.
        notify.Configure({WriteProgram(dir, dir / "gate"), false});
        notify.Record(Entry(Outcome::NotDeleted, "/in/a.jpg", HF_ERR_NOT_DELETED, "busy"));
        // Taken while the first run hangs: Record returns at once.
        notify.Record(Entry(Outcome::Kept, "/in/b.jpg", HF_ERR_NOT_IMAGE, "no"));
        const auto got = runs.WaitFor(2);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].Run.How, ChildRun::End::TimedOut);
        EXPECT_EQ(got[0].Notice.Latest.Event, NotifyEvent::NotDeleted);
        EXPECT_EQ(got[1].Notice.Latest.Event, NotifyEvent::Kept);
        // What waits for its second at the end is reported, not lost.
        notify.Record(Entry(Outcome::Kept, "/in/c.jpg", HF_ERR_NOT_IMAGE, "no"));
    }
    const auto got = runs.WaitFor(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2].Run.How, ChildRun::End::NotStarted);
    EXPECT_EQ(got[2].Notice.Latest.File, "/in/c.jpg");
}

// A program that hangs is ended when Tallowin ends, not waited for until
// its limit (ten minutes here: a wait that long fails the test by its
// time-out).
TEST(NotifyCommand, EndsAHangingProgramWhenItGoes) {
    TempDir dir;
    FakeClock clock;
    Runs runs;
    ChildLimits limits;
    limits.Time = std::chrono::minutes(10);
    {
        NotifyCommand notify(clock, runs.Report(), limits);
        const std::string program = dir / "hang.sh";
        WriteFile(program, "#!/bin/sh\n: > '" + (dir / "started") + "'\nexec sleep 600\n");
        chmod(program.c_str(), 0755);
        notify.Configure({program, false});
        notify.Record(Entry(Outcome::Kept, "/in/a.jpg", HF_ERR_NOT_IMAGE, "no"));
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!FileExists(dir / "started") && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_TRUE(FileExists(dir / "started"));
    }
    const auto got = runs.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Run.How, ChildRun::End::TimedOut);
}

TEST(NotifyCommand, WithoutAProgramNothingRuns) {
    FakeClock clock;
    Runs runs;
    {
        NotifyCommand notify(clock, runs.Report());
        notify.Record(Entry(Outcome::Kept, "/in/a.jpg", HF_ERR_NOT_IMAGE, "no"));
        notify.Configure({"", true});
        notify.Record(Entry(Outcome::Printed, "/in/a.jpg"));
    }
    EXPECT_TRUE(runs.WaitFor(0).empty());
}

TEST(NotifySettings, ReadFromTheProfilesInitSection) {
    TempDir dir;
    WriteFile(dir / "none.ini", "[Init]\nFHNumber=0\n");
    EXPECT_EQ(ReadNotifySettings(IniProfile(dir / "none.ini")).Program, "");
    WriteFile(dir / "p.ini",
              "[Init]\nFHNumber=0\nNotifyCommand = /usr/local/bin/tell \nnotifyprinted=1\n");
    const NotifySettings settings = ReadNotifySettings(IniProfile(dir / "p.ini"));
    EXPECT_EQ(settings.Program, "/usr/local/bin/tell");
    EXPECT_TRUE(settings.Printed);
}

}  // namespace
