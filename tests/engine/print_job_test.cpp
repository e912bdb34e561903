#include "engine/print_job.h"

#include <gtest/gtest.h>

#include "engine/page_fit.h"
#include "tests/engine/fakes.h"

using namespace tallowin;

namespace {

using End = PrintJobResult::End;

TEST(ClassifyFailure, EveryCodeHasOneKind) {
    const std::pair<HotFolderError, FailureKind> cases[] = {
        {HF_ERR_NONE, FailureKind::None},
        {HF_ERR_PATH, FailureKind::Folder},
        {HF_ERR_PRINTER, FailureKind::Printer},
        {HF_ERR_NOT_IMAGE, FailureKind::File},
        {HF_ERR_DAMAGED, FailureKind::File},
        {HF_ERR_TOO_LARGE, FailureKind::File},
        {HF_ERR_UNREACHABLE, FailureKind::Printer},
        {HF_ERR_JOB_FAILED, FailureKind::Printer},
        {HF_ERR_NO_PAGE_SIZE, FailureKind::Printer},
        {HF_ERR_NOT_DELETED, FailureKind::Removal},
        {HF_ERR_STATE, FailureKind::Printer},
        {HF_ERR_DUPLICATE, FailureKind::Folder},
        {HF_ERR_CHANGED, FailureKind::Changed},
        {HF_ERR_PROTECTED, FailureKind::File},
        {HF_ERR_NO_PAGES, FailureKind::File},
        {HF_ERR_OTHER_HOST, FailureKind::Printer},
        {HF_ERR_SETTINGS, FailureKind::Printer},
    };
    // One row per code: a code added later fails here until it is classified.
    ASSERT_EQ(std::size(cases), static_cast<std::size_t>(HF_ERR_SETTINGS) + 1);
    for (const auto& [code, kind] : cases) {
        EXPECT_EQ(ClassifyFailure(code), kind) << "code " << code;
    }
}

struct JobRig {
    FakeImageLoader images;
    RecordingSpooler spooler;
    StopFlag stop;
    std::unique_ptr<Printer> printer;

    JobRig() { images.Set("/in/a.jpg", {}); }
    PrintJobResult Run(const PrintJobSteps& steps = {}) {
        return RunPrintJob(images, spooler, "/in/a.jpg", "printer", printer, stop, steps);
    }
};

// A stop ends the job as Stopped at whichever stage it comes, never as a
// failure the caller would have to tell from a real one.
TEST(PrintJob, AStopIsItsOwnOutcomeAtEveryStage) {
    struct Case {
        const char* name;
        std::function<void(JobRig&, PrintJobSteps&)> arrange;
    };
    const Case cases[] = {
        {"before it starts", [](JobRig& r, PrintJobSteps&) { r.stop.Request(); }},
        {"while the printer opens",
         [](JobRig& r, PrintJobSteps& steps) {
             r.spooler.openFailure = Status::Failure(HF_ERR_UNREACHABLE, "stopped");
             steps.BeforeOpen = [&r](const tallowin::Image&) -> Result<Proceed> {
                 r.stop.Request();
                 return {Proceed::Go, {}};
             };
         }},
        {"in the caller's step before sending",
         [](JobRig& r, PrintJobSteps& steps) {
             steps.BeforeSend = [&r](const tallowin::Image&) -> Result<Proceed> {
                 r.stop.Request();
                 return {Proceed::Go, Status::Failure(HF_ERR_UNREACHABLE, "stopped")};
             };
         }},
        {"while the page is sent",
         [](JobRig& r, PrintJobSteps&) {
             r.spooler.printFailure = Status::Failure(HF_ERR_UNREACHABLE, "stopped");
             r.spooler.stateProbe = [&r] {
                 r.stop.Request();
                 return 0;
             };
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JobRig rig;
        PrintJobSteps steps;
        c.arrange(rig, steps);
        const PrintJobResult result = rig.Run(steps);
        EXPECT_EQ(result.Outcome, End::Stopped);
        EXPECT_TRUE(result.Why.Ok()) << result.Why.Reason;
        EXPECT_TRUE(rig.spooler.Jobs().empty());
    }
}

TEST(PrintJob, StagesRunInOrderAndTheStepsDecide) {
    struct Case {
        const char* name;
        Result<Proceed> beforeOpen;
        Result<Proceed> beforeSend;
        End end;
        std::size_t opened;
        std::size_t jobs;
    };
    const Status refused = Status::Failure(HF_ERR_STATE, "disk full");
    const Case cases[] = {
        {"both go on", {Proceed::Go, {}}, {Proceed::Go, {}}, End::Sent, 1, 1},
        {"skipped before opening", {Proceed::Skip, {}}, {Proceed::Go, {}}, End::Skipped, 0, 0},
        {"failed before opening", {Proceed::Go, refused}, {Proceed::Go, {}}, End::Failed, 0, 0},
        {"skipped before sending", {Proceed::Go, {}}, {Proceed::Skip, {}}, End::Skipped, 1, 0},
        {"failed before sending", {Proceed::Go, {}}, {Proceed::Go, refused}, End::Failed, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JobRig rig;
        std::vector<HotFolderState> stages;
        PrintJobSteps steps;
        steps.BeforeOpen = [&](const tallowin::Image&) { return c.beforeOpen; };
        steps.BeforeSend = [&](const tallowin::Image&) { return c.beforeSend; };
        steps.Progress = [&](HotFolderState s) { stages.push_back(s); };
        const PrintJobResult result = rig.Run(steps);
        EXPECT_EQ(result.Outcome, c.end);
        EXPECT_EQ(rig.spooler.Opened().size(), c.opened);
        EXPECT_EQ(rig.spooler.Jobs().size(), c.jobs);
        if (c.end == End::Failed) {
            EXPECT_EQ(result.Why.Code, HF_ERR_STATE);
        }
        if (c.end == End::Sent) {
            EXPECT_EQ(result.JobId, 1);
            EXPECT_EQ(stages, (std::vector{HF_STATE_RESIZING, HF_STATE_PRINTING}));
        }
    }
}

// The printer opened for one file serves the next; one whose send failed
// is dropped, so that the next file opens it afresh.
// A document goes through the same stages, but its writer takes the
// printer's geometry and fits its pages itself; the job's size is its
// first page's fit, by the pictures' rule.
TEST(PrintJob, ADocumentIsWrittenWholeByItsOwnWriter) {
    JobRig rig;
    FakeImageLoader::Entry document;
    document.w = 612;
    document.h = 792;
    document.dx = document.dy = 72;
    document.document = true;
    rig.images.Set("/in/a.jpg", document);
    const PrintJobResult result = rig.Run();
    ASSERT_EQ(result.Outcome, End::Sent) << result.Why.Reason;
    const PageGeometry& g = rig.spooler.geometry;
    const FitResult first = FitToPage({612, 792, 72, 72, g.Rx, g.Ry, g.Pw, g.Ph});
    EXPECT_EQ(result.Width, first.Tw);
    EXPECT_EQ(result.Height, first.Th);
    ASSERT_EQ(rig.spooler.Jobs().size(), 1u);
    EXPECT_EQ(rig.spooler.Jobs()[0].width, g.Pw) << "the writer was given the geometry";
}

TEST(PrintJob, KeepsTheOpenPrinterUntilASendFails) {
    JobRig rig;
    EXPECT_EQ(rig.Run().Outcome, End::Sent);
    EXPECT_EQ(rig.Run().Outcome, End::Sent);
    EXPECT_EQ(rig.spooler.Opened().size(), 1u);
    rig.spooler.printFailure = Status::Failure(HF_ERR_JOB_FAILED, "refused");
    EXPECT_EQ(rig.Run().Outcome, End::Failed);
    EXPECT_EQ(rig.printer, nullptr);
    rig.spooler.printFailure = {};
    EXPECT_EQ(rig.Run().Outcome, End::Sent);
    EXPECT_EQ(rig.spooler.Opened().size(), 2u);
}

}  // namespace
