// `tallowin print` over fake images and a recording spooler: what it waits
// for, what it records and how it exits. The real scheduler's side is in
// cli_test.sh.
#include "app/print_command.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/engine/fakes.h"
#include "tests/support/temp_dir.h"

namespace {

using Stage = PrintRecord::Mark::Stage;

const FileIdentity kA{1, 10, 100, 1000};
const FileIdentity kB{1, 11, 100, 1000};

// Each pause moves the fake clock on by its length and then runs the test's
// script for that pause (counted from 1): a job that ends, an interrupt.
class ScriptedInterrupt final : public Interrupt {
  public:
    explicit ScriptedInterrupt(FakeClock& clock) : clock_(clock) {}
    std::function<void(int pause)> onPause;
    bool Requested() const override { return interrupted_; }
    bool Pause(std::uint32_t ms) override {
        clock_.Advance(ms);
        if (onPause) onPause(++pauses_);
        return !interrupted_;
    }
    void Interrupt() { interrupted_ = true; }

  private:
    FakeClock& clock_;
    int pauses_ = 0;
    bool interrupted_ = false;
};

struct PrintFixture {
    TempDir dir;
    FakeImageLoader images;
    RecordingSpooler spooler;
    PrintRecord record{dir / "printed"};
    FakeClock clock{0xFFFF0000u};  // wraps while it waits
    ScriptedInterrupt interrupt{clock};
    std::ostringstream err;

    PrintFixture() {
        for (const auto& [path, identity] : {std::pair{"a.jpg", kA}, std::pair{"b.jpg", kB}}) {
            FakeImageLoader::Entry image;
            image.identity = identity;
            images.Set(path, image);
        }
    }
    int Run(std::vector<std::string> files, bool wait = true, JobSettings settings = {}) {
        PrintServices services{images, spooler, record, clock, interrupt, err};
        return RunPrintCommand({"printer", std::move(files), wait, std::move(settings)}, services);
    }
    std::string Seen(const FileIdentity& file) const {
        const auto mark = PrintRecord(record.Path()).Find("printer", file);  // as stored
        if (!mark) return "-";
        return mark->State == Stage::Printed ? "printed" : "sent " + std::to_string(mark->JobId);
    }
};

TEST(PrintCommand, TheCommandsSettingsGoWithTheJob) {
    PrintFixture f;
    JobSettings settings;
    settings.Copies = 2;
    settings.Media = "A4";
    EXPECT_EQ(f.Run({"a.jpg"}, false, settings), kPrintAllDone) << f.err.str();
    ASSERT_EQ(f.spooler.OpenedWith().size(), 1u);
    EXPECT_EQ(f.spooler.OpenedWith()[0],
              (std::vector<NamedValue>{{"copies", "2"}, {"media", "A4"}}));
}

TEST(PrintCommand, ExitsAndRecordsByTheJobsOutcome) {
    struct Case {
        const char* Name;
        JobStatus Later;  // job 1 after the first pause; pending until then
        bool Interrupt;   // at the second pause
        bool Wait;
        int Exit;
        std::string Seen;  // a.jpg in the record afterwards
        std::string Line;  // a part of the error output; empty: none at all
    };
    const JobStatus pending{JobState::Pending, {}};
    // clang-format off
    const Case cases[] = {
        {"completed", {JobState::Completed, {}}, false, true, 0, "printed", ""},
        {"aborted", {JobState::Failed, "aborted-by-system: jam"}, false, true, 1, "-",
         "a.jpg: job 1 on printer did not print: aborted-by-system: jam"},
        {"pending_for_good", pending, false, true, 3, "sent 1",
         "a.jpg: job 1 on printer not finished when no job had ended for 600 s"},
        {"scheduler_cannot_be_asked", {JobState::Unknown, "refused"}, false, true, 3, "sent 1",
         "(the scheduler cannot tell: refused)"},
        {"interrupted", pending, true, true, 3, "sent 1",
         "a.jpg: job 1 on printer not finished when interrupted"},
        {"not_waiting", pending, false, false, 0, "sent 1", ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        PrintFixture f;
        f.spooler.newJobState = JobState::Pending;
        f.interrupt.onPause = [&](int pause) {
            if (pause == 1) f.spooler.SetJob(1, c.Later.State, c.Later.Reason);
            if (pause == 2 && c.Interrupt) f.interrupt.Interrupt();
        };
        EXPECT_EQ(f.Run({"a.jpg"}, c.Wait), c.Exit);
        EXPECT_EQ(f.Seen(kA), c.Seen);
        const std::string err = f.err.str();
        EXPECT_TRUE(c.Line.empty() ? err.empty() : err.find(c.Line) != std::string::npos) << err;
        EXPECT_EQ(f.spooler.Queries() > 0, c.Wait);
    }
}

// An earlier run's entry for the same file: only a job seen to fail sends
// the file again.
TEST(PrintCommand, ARetryAsksAboutTheEarlierJob) {
    struct Case {
        const char* Name;
        std::optional<int> SentAs;  // the earlier entry: sent as job 7, or printed
        JobStatus Earlier;          // job 7 now
        int Exit;
        std::size_t NewJobs;
        std::string Seen;
    };
    const Case cases[] = {
        {"printed_before", std::nullopt, {}, 0, 0, "printed"},
        {"completed_since", 7, {JobState::Completed, {}}, 0, 0, "printed"},
        {"failed_since", 7, {JobState::Failed, "job-canceled-by-user"}, 0, 1, "printed"},
        {"still_pending", 7, {JobState::Pending, {}}, 0, 0, "printed"},  // waited for
        {"scheduler_cannot_tell", 7, {JobState::Unknown, "unreachable"}, 3, 0, "sent 7"},
        // Its queue deleted, or a scheduler that lost its history: not printed.
        {"gone_from_the_scheduler", 7, {JobState::Gone, {}}, 0, 1, "printed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        PrintFixture f;
        // The earlier run's job 7, unless the scheduler knows it no more.
        if (c.Earlier.State != JobState::Gone) {
            for (int id = 0; id < 7;) id = f.spooler.AddJob("printer", "a.jpg", {}, 0);
            f.spooler.SetJob(7, c.Earlier.State, c.Earlier.Reason);
        }
        f.spooler.reachable = c.Earlier.State != JobState::Unknown;
        ASSERT_TRUE(c.SentAs ? f.record.MarkSent("printer", kA, *c.SentAs)
                             : f.record.MarkPrinted("printer", kA));
        f.interrupt.onPause = [&](int) { f.spooler.SetJob(7, JobState::Completed); };
        EXPECT_EQ(f.Run({"a.jpg"}), c.Exit) << f.err.str();
        EXPECT_EQ(f.spooler.Jobs().size(), c.NewJobs);
        EXPECT_EQ(f.Seen(kA), c.Seen);
    }
}

TEST(PrintCommand, SendsEveryFileBeforeItWaits) {
    PrintFixture f;
    f.spooler.newJobState = JobState::Pending;
    std::vector<int> queriesAtSend;
    f.spooler.onPrint = [&](const std::string&) { queriesAtSend.push_back(f.spooler.Queries()); };
    // a.jpg's job never ends; b.jpg's did: a failure (not an image) still
    // outweighs the unconfirmed job.
    f.interrupt.onPause = [&](int pause) {
        f.spooler.SetJob(2, JobState::Completed);
        if (pause == 3) f.interrupt.Interrupt();
    };
    EXPECT_EQ(f.Run({"a.jpg", "b.jpg", "notes.txt"}), 1);
    EXPECT_EQ(queriesAtSend, (std::vector<int>{0, 0}));
    EXPECT_EQ(f.Seen(kA), "sent 1");
    EXPECT_EQ(f.Seen(kB), "printed");
    EXPECT_NE(f.err.str().find("notes.txt: not an image"), std::string::npos) << f.err.str();
}

TEST(PrintCommand, AnInterruptWhileSendingSendsNoMore) {
    PrintFixture f;
    f.spooler.onPrint = [&](const std::string&) { f.interrupt.Interrupt(); };
    EXPECT_EQ(f.Run({"a.jpg", "b.jpg"}), 1);
    EXPECT_EQ(f.spooler.Jobs().size(), 1u);
    EXPECT_NE(f.err.str().find("b.jpg: not sent: interrupted"), std::string::npos) << f.err.str();
    EXPECT_EQ(f.Seen(kA), "sent 1");  // its outcome was not seen
}

}  // namespace
