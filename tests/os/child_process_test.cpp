#include "os/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <thread>

#include "tests/support/temp_dir.h"

using namespace tallowin;
using namespace std::chrono_literals;

namespace {

using Args = std::vector<std::string>;

ChildLimits Quick() {
    ChildLimits limits;
    limits.Time = 20s;  // nothing in the table comes near it
    return limits;
}

TEST(RunChild, ReportsHowTheProgramEnded) {
    struct Case {
        const char* Name;
        Args Argv;
        Args Env;
        ChildRun::End How;
        int Code;  // exit status or signal
        std::string Output;
        std::string Described;
    };
    const Case cases[] = {
        {"success", {"true"}, {}, ChildRun::End::Exited, 0, "", "exit 0"},
        {"status", {"sh", "-c", "exit 3"}, {}, ChildRun::End::Exited, 3, "", "exit 3"},
        {"arguments_go_as_they_are",
         {"printf", "%s|", "a b", "$(id)", "", "*"},
         {},
         ChildRun::End::Exited,
         0,
         "a b|$(id)||*|",
         "exit 0: a b|$(id)||*|"},
        {"output_and_errors_together",
         {"sh", "-c", "echo out; echo err >&2; exit 1"},
         {},
         ChildRun::End::Exited,
         1,
         "out\nerr\n",
         "exit 1: out | err"},
        {"environment_added",
         {"sh", "-c", "printf %s \"$TALLOWIN_EVENT_COUNT\""},
         {"TALLOWIN_EVENT_COUNT=4"},
         ChildRun::End::Exited,
         0,
         "4",
         "exit 0: 4"},
        {"input_is_empty", {"cat"}, {}, ChildRun::End::Exited, 0, "", "exit 0"},
        {"killed",
         {"sh", "-c", "kill -KILL $$"},
         {},
         ChildRun::End::Signalled,
         SIGKILL,
         "",
         "signal 9"},
        {"missing_program",
         {"/nonexistent/tallowin-notify"},
         {},
         ChildRun::End::NotStarted,
         0,
         "",
         "not started: No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const ChildRun run = RunChild(c.Argv, c.Env, Quick());
        EXPECT_EQ(run.How, c.How) << run.Error;
        EXPECT_EQ(run.How == ChildRun::End::Signalled ? run.Signal : run.ExitCode, c.Code);
        EXPECT_EQ(run.Output, c.Output);
        EXPECT_EQ(DescribeChildRun(run), c.Described);
    }
}

TEST(RunChild, KeepsOnlyTheFirstBytesOfALongOutput) {
    ChildLimits limits = Quick();
    limits.OutputBytes = 10;
    const ChildRun run = RunChild({"sh", "-c", "yes | head -c 100000"}, {}, limits);
    EXPECT_TRUE(run.Succeeded());
    EXPECT_EQ(run.Output, "y\ny\ny\ny\ny\n");
    EXPECT_TRUE(run.OutputCut);
    EXPECT_EQ(DescribeChildRun(run), "exit 0: y | y | y | y | y [...]");
}

// The service reads its signals through signalfd, so they are blocked in
// it: the child must not inherit that, or SIGTERM at the limit would not
// end it and every late command would wait for SIGKILL.
TEST(RunChild, EndsAProgramAtTheLimitWithTheCallersSignalsBlocked) {
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &term, &old), 0);
    ChildLimits limits;
    limits.Time = 200ms;
    limits.Grace = 20s;
    const ChildRun run = RunChild({"sh", "-c", "echo started; exec sleep 60"}, {}, limits);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    EXPECT_EQ(run.How, ChildRun::End::TimedOut);
    EXPECT_EQ(run.Signal, SIGTERM);
    EXPECT_EQ(run.Output, "started\n");
    EXPECT_EQ(DescribeChildRun(run), "ended at the time limit: started");
}

TEST(RunChild, EndsTheWholeGroupOfAProgramThatIgnoresSigterm) {
    TempDir dir;
    ChildLimits limits;
    limits.Time = 200ms;
    limits.Grace = 200ms;
    // The grandchild would hold the output pipe open for a minute.
    const ChildRun run = RunChild(
        {"sh", "-c", "trap '' TERM; sleep 60 & echo $! > " + (dir / "pid") + "; wait"}, {}, limits);
    EXPECT_EQ(run.How, ChildRun::End::TimedOut);
    EXPECT_EQ(run.Signal, SIGKILL);
    const pid_t grandchild = std::stoi(ReadFile(dir / "pid"));
    // Gone, or a zombie its new parent has yet to reap: signal 0 cannot tell
    // a zombie, /proc can. SIGKILL takes effect on its own time.
    const std::string stat = "/proc/" + std::to_string(grandchild) + "/stat";
    const auto ended = [&] {
        std::ifstream in(stat);
        std::string text;
        std::getline(in, text);
        return !in || text.find(") Z") != std::string::npos;
    };
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!ended() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(ended()) << "the program's own child outlived it";
}

}  // namespace
