#include "engine/hot_folder.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/engine/fakes.h"
#include "util/paths.h"

using namespace tallowin;

namespace {

using Outcome = PrintLogEntry::Outcome;

// A hot folder on fake services, the folder "/hf" with printer "printer" and
// a scan time of 5 s; each Scan moves the clock past the scan time.
struct Rig : FakeServices {
    StopFlag stop;
    HotFolder folder{"Photos", "/hf", "printer", 5};

    Rig() {
        lister.AddFolder("/hf");
        Start();
    }
    // What a service start does, on the same ledger: also what a restart does.
    void Start() {
        folder.Reset(clock);
        folder.SetRunning();
    }
    void Drop(const std::string& name, std::uint32_t size, std::uint64_t inode = 1,
              FakeImageLoader::Entry image = {}) {
        const ListedFile file = Listed(name, size, inode, static_cast<std::int64_t>(inode));
        lister.Put("/hf", file);
        image.identity = file.Identity;
        images.Set("/hf/" + name, image);
    }
    void Scan(int times = 1) {
        for (int i = 0; i < times; ++i) {
            clock.Advance(5001);
            folder.Scan(services, stop);
        }
    }
    std::size_t Jobs() const { return spooler.Jobs().size(); }
    std::optional<JobRecord> Record(const std::string& name) const {
        return ledger.Find("/hf", name);
    }
    PrintLogEntry LastLog() const {
        const auto entries = log.Entries();
        return entries.empty() ? PrintLogEntry{} : entries.back();
    }
};

// The fake image for the rig's only file, as its listing says it is.
FakeImageLoader::Entry Image(const Rig& rig, Status load, Status render = {}, int w = 100,
                             int h = 100, int dpi = 0) {
    FakeImageLoader::Entry e;
    e.w = w;
    e.h = h;
    e.dx = e.dy = dpi;
    e.load = std::move(load);
    e.render = std::move(render);
    e.identity = const_cast<Rig&>(rig).lister.List("/hf").at(0).Identity;
    return e;
}

TEST(HotFolderRecord, DefaultsAreThoseOfANewHotFolder) {
    const HotFolder h;
    EXPECT_EQ(h.GetName(), "NewHotFolder");
    EXPECT_EQ(h.GetScanTime(), 20);
    EXPECT_EQ(h.GetFolderPath(), "");
    EXPECT_EQ(h.GetPrinterName(), "");
    EXPECT_EQ(h.GetState(), HF_STATE_WAITING);
    EXPECT_EQ(h.GetError(), HF_ERR_NONE);
    EXPECT_TRUE(h.GetFiles().empty());
    EXPECT_TRUE(h.GetLastFailure().File.empty());
}

TEST(HotFolderRecord, ConstructorTakesNamePathPrinterScanTime) {
    const HotFolder h("Name", "/some/path", "Printer", 7);
    EXPECT_EQ(h.GetName(), "Name");
    EXPECT_EQ(h.GetFolderPath(), "/some/path");
    EXPECT_EQ(h.GetPrinterName(), "Printer");
    EXPECT_EQ(h.GetScanTime(), 7);
    EXPECT_EQ(h.GetState(), HF_STATE_WAITING);
    EXPECT_EQ(h.GetError(), HF_ERR_NONE);
}

TEST(HotFolderRecord, SettersReplaceOneSettingEach) {
    HotFolder h("a", "b", "c", 5);
    h.SetName("n");
    EXPECT_EQ(h.GetFolderPath(), "b");
    h.SetFolderPath("p");
    h.SetPrinterName("q");
    h.SetScanTime(-3);  // the record checks nothing
    EXPECT_EQ(h.GetName(), "n");
    EXPECT_EQ(h.GetFolderPath(), "p");
    EXPECT_EQ(h.GetPrinterName(), "q");
    EXPECT_EQ(h.GetScanTime(), -3);
}

TEST(HotFolderRecord, WaitingKeepsTheErrorAndRunningClearsIt) {
    Rig rig;
    rig.lister.RemoveFolder("/hf");
    rig.Scan();
    ASSERT_EQ(rig.folder.GetState(), HF_STATE_ERROR);
    rig.folder.SetWaiting();
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_WAITING);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_PATH);
    rig.folder.SetRunning();
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_NONE);
}

TEST(HotFolderRecord, ResetStampsTheTickAndForgetsFilesOnly) {
    Rig rig;
    rig.Drop("a", 1);
    rig.Scan();
    rig.folder.SetWaiting();
    ASSERT_EQ(rig.folder.GetFiles().size(), 1u);
    rig.clock.Set(0xfffffff0u);
    rig.folder.Reset(rig.clock);
    EXPECT_TRUE(rig.folder.GetFiles().empty());
    EXPECT_EQ(rig.folder.GetLastScanTick(), 0xfffffff0u);
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_WAITING);
}

TEST(HotFolderRecord, CopyCarriesTheFileTableRunDataAndLastFailure) {
    Rig rig;
    rig.Drop("a.jpg", 10);
    rig.lister.Put("/hf", Listed("notes.txt", 4));  // not an image: a failure to carry
    rig.Scan(2);
    ASSERT_EQ(rig.Jobs(), 1u);
    rig.Drop("b.jpg", 10);
    rig.Scan();  // b seen once
    HotFolder copy(rig.folder);
    HotFolder assigned;
    assigned = rig.folder;
    for (HotFolder* h : {&copy, &assigned}) {
        EXPECT_EQ(h->GetFiles(), rig.folder.GetFiles());
        EXPECT_EQ(h->GetLastScanTick(), rig.folder.GetLastScanTick());
        EXPECT_EQ(h->GetState(), HF_STATE_RUNNING);
        EXPECT_EQ(h->GetLastFailure().File, "/hf/notes.txt");
    }
    // The copy's next scan prints, exactly as the original's would have.
    rig.clock.Advance(5001);
    copy.Scan(rig.services, rig.stop);
    ASSERT_EQ(rig.Jobs(), 2u);
    EXPECT_EQ(rig.spooler.Jobs()[1].docName, "b.jpg");
}

TEST(HotFolderRecord, AssignWithoutFilesCopiesAllButTheTable) {
    Rig rig;
    rig.Drop("a.jpg", 10);
    rig.Scan();
    HotFolder shown("old", "/old", "p", 1);
    shown.AssignWithoutFiles(rig.folder);
    EXPECT_EQ(shown.GetName(), "Photos");
    EXPECT_EQ(shown.GetFolderPath(), "/hf");
    EXPECT_EQ(shown.GetPrinterName(), "printer");
    EXPECT_EQ(shown.GetScanTime(), 5);
    EXPECT_EQ(shown.GetState(), HF_STATE_RUNNING);
    EXPECT_EQ(shown.GetLastScanTick(), rig.folder.GetLastScanTick());
    EXPECT_TRUE(shown.GetFiles().empty());
    EXPECT_EQ(rig.folder.GetFiles().size(), 1u);
}

TEST(HotFolderScan, NotRunningChangesNothingNotEvenTheTick) {
    Rig rig;
    rig.Drop("a", 1);
    rig.folder.SetWaiting();
    rig.clock.Advance(5000);
    rig.folder.Scan(rig.services, rig.stop);
    EXPECT_EQ(rig.folder.GetLastScanTick(), 1000u);
    EXPECT_EQ(rig.lister.ListCalls(), 0);
    EXPECT_TRUE(rig.folder.GetFiles().empty());
}

TEST(HotFolderScan, StampsTheTickAtTheStartOfTheScan) {
    Rig rig;
    rig.clock.Set(0xffffffffu);
    rig.folder.Scan(rig.services, rig.stop);
    EXPECT_EQ(rig.folder.GetLastScanTick(), 0xffffffffu);
}

TEST(HotFolderScan, MissingPathIsAnErrorUntilTheFolderIsBack) {
    Rig rig;
    rig.Drop("a", 1);
    rig.Scan();
    rig.lister.RemoveFolder("/hf");
    rig.Scan(2);
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_ERROR);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_PATH);
    EXPECT_EQ(rig.folder.GetLastFailure().File, "/hf");
    EXPECT_EQ(rig.folder.GetLastScanTick(), rig.clock.Now()) << "still checked at its interval";
    // Back: running, error cleared, the table fresh: the file settles again.
    rig.lister.AddFolder("/hf");
    rig.Scan();
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_NONE);
    EXPECT_EQ(rig.Jobs(), 0u);
    rig.Scan();
    EXPECT_EQ(rig.Jobs(), 1u);
}

// The entries about the folder itself (those whose file is the folder).
std::vector<PrintLogEntry> FolderEntries(const Rig& rig) {
    std::vector<PrintLogEntry> out;
    for (const PrintLogEntry& e : rig.log.Entries()) {
        if (e.File == "/hf") out.push_back(e);
    }
    return out;
}

TEST(HotFolderScan, MissingAndBackAreLoggedOnceEach) {
    Rig rig;
    rig.Scan();
    rig.lister.RemoveFolder("/hf");
    rig.Scan(3);
    auto entries = FolderEntries(rig);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Result, Outcome::Kept);
    EXPECT_EQ(entries[0].Code, HF_ERR_PATH);
    EXPECT_EQ(entries[0].Reason, "the folder is missing");
    EXPECT_EQ(entries[0].HotFolder, "Photos");
    rig.lister.AddFolder("/hf");
    rig.Scan(3);
    entries = FolderEntries(rig);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].Result, Outcome::FolderBack);
    EXPECT_EQ(entries[1].Code, HF_ERR_NONE);
    // Gone again: one entry more, not one per scan.
    rig.lister.RemoveFolder("/hf");
    rig.Scan(2);
    EXPECT_EQ(FolderEntries(rig).size(), 3u);
    // A start finds it still missing: said once more for the new run.
    rig.Start();
    rig.Scan(2);
    EXPECT_EQ(FolderEntries(rig).size(), 4u);
}

TEST(HotFolderScan, FolderAnotherHotFolderWatchesPrintsNothingUntilFree) {
    Rig rig;
    rig.Drop("a", 1);
    std::optional<std::string> watcher = "Scans";
    const auto check = [&](const FolderKey&) { return watcher; };
    for (int i = 0; i < 3; ++i) {
        rig.clock.Advance(5001);
        rig.folder.Scan(rig.services, rig.stop, check);
    }
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_ERROR);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_DUPLICATE);
    EXPECT_EQ(rig.folder.GetLastFailure().Reason, "hot folder \"Scans\" watches this folder");
    EXPECT_EQ(rig.lister.ListCalls(), 0) << "not even listed";
    auto entries = FolderEntries(rig);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Code, HF_ERR_DUPLICATE);
    // The other hot folder no longer watches it: back, and its files settle.
    watcher.reset();
    for (int i = 0; i < 2; ++i) {
        rig.clock.Advance(5001);
        rig.folder.Scan(rig.services, rig.stop, check);
    }
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_NONE);
    EXPECT_EQ(rig.Jobs(), 1u);
    entries = FolderEntries(rig);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].Result, Outcome::FolderBack);
}

TEST(HotFolderPrint, SettledFileIsSentAndDeletedOnlyOnceItsJobCompleted) {
    Rig rig;
    rig.Drop("photo.jpg", 10);
    rig.images.Set("/hf/photo.jpg", Image(rig, {}, {}, 3000, 2000, 300));
    rig.spooler.newJobState = JobState::Pending;
    rig.spooler.stateProbe = [&] { return rig.folder.GetState(); };
    rig.Scan();
    EXPECT_EQ(rig.Jobs(), 0u) << "printed by the scan that first saw it";
    rig.Scan();
    ASSERT_EQ(rig.Jobs(), 1u);
    const auto job = rig.spooler.Jobs()[0];
    EXPECT_EQ(job.printer, "printer");
    EXPECT_EQ(job.docName, "photo.jpg");
    EXPECT_EQ(job.width, 4800);
    EXPECT_EQ(job.height, 3200);
    EXPECT_EQ(job.stateWhilePrinting, HF_STATE_PRINTING);
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
    const PrintLogEntry sent = rig.LastLog();
    EXPECT_EQ(sent.Result, Outcome::Sent);
    EXPECT_EQ(sent.HotFolder, "Photos");
    EXPECT_EQ(sent.File, "/hf/photo.jpg");
    EXPECT_EQ(sent.JobId, job.id);
    EXPECT_EQ(sent.Width, 4800);
    EXPECT_EQ(sent.Height, 3200);
    ASSERT_TRUE(rig.Record("photo.jpg"));
    EXPECT_EQ(rig.Record("photo.jpg")->State, JobRecord::Stage::Sent);

    rig.Scan(3);  // pending: the file waits, nothing is sent again
    EXPECT_TRUE(rig.remover.Removed().empty());
    EXPECT_EQ(rig.Jobs(), 1u);
    rig.spooler.SetJob(job.id, JobState::Completed);
    rig.Scan();
    EXPECT_EQ(rig.remover.Removed(), std::vector<std::string>{"/hf/photo.jpg"});
    EXPECT_FALSE(rig.Record("photo.jpg"));
    EXPECT_EQ(rig.LastLog().Result, Outcome::Printed);
    rig.Scan(2);
    EXPECT_EQ(rig.Jobs(), 1u);
    EXPECT_TRUE(rig.folder.GetFiles().empty());
}

// Each stage that can fail: the file stays with the stage's reason, and is
// tried again either at later scans (the printer's fault) or only once it
// changed (the file's fault). Either way, once the cause is gone it prints
// exactly once and the error clears.
TEST(HotFolderPrint, FailureKeepsTheFileWithItsReasonAndRecoversOnce) {
    const Status damaged = Status::Failure(HF_ERR_DAMAGED, "premature end of JPEG");
    struct Case {
        const char* name;
        std::function<void(Rig&, bool fail)> cause;
        HotFolderError code;
        bool retriedUnchanged;
    };
    const Case cases[] = {
        {"not an image",
         [](Rig& r, bool fail) {
             r.images.Set(
                 "/hf/a",
                 Image(r, fail ? Status::Failure(HF_ERR_NOT_IMAGE, "unknown format") : Status{}));
         },
         HF_ERR_NOT_IMAGE, false},
        {"damaged header",
         [&](Rig& r, bool fail) { r.images.Set("/hf/a", Image(r, fail ? damaged : Status{})); },
         HF_ERR_DAMAGED, false},
        {"changed since it was loaded",
         [&](Rig& r, bool fail) { r.images.Set("/hf/a", Image(r, {}, fail ? damaged : Status{})); },
         HF_ERR_DAMAGED, false},
        {"damaged pixels found while the page streams",
         [&](Rig& r, bool fail) {
             FakeImageLoader::Entry e = Image(r, {});
             e.write = fail ? damaged : Status{};
             r.images.Set("/hf/a", e);
         },
         HF_ERR_DAMAGED, false},
        {"scheduler gone while the page streams",
         [](Rig& r, bool fail) {
             FakeImageLoader::Entry e = Image(r, {});
             e.write = fail ? Status::Failure(HF_ERR_UNREACHABLE, "broken pipe") : Status{};
             r.images.Set("/hf/a", e);
         },
         HF_ERR_UNREACHABLE, true},
        {"too large",
         [](Rig& r, bool fail) {
             r.images.Set(
                 "/hf/a",
                 Image(r, fail ? Status::Failure(HF_ERR_TOO_LARGE, "over the limit") : Status{}));
         },
         HF_ERR_TOO_LARGE, false},
        {"too thin for the page",
         [](Rig& r, bool fail) {
             r.images.Set("/hf/a", Image(r, {}, {}, 1, fail ? 1000000 : 100, 72));
         },
         HF_ERR_TOO_LARGE, false},
        {"printer does not exist",
         [](Rig& r, bool fail) { r.folder.SetPrinterName(fail ? "gone" : "printer"); },
         HF_ERR_PRINTER, true},
        {"scheduler unreachable",
         [](Rig& r, bool fail) {
             r.spooler.openFailure =
                 fail ? Status::Failure(HF_ERR_UNREACHABLE, "connection refused") : Status{};
         },
         HF_ERR_UNREACHABLE, true},
        {"no page size",
         [](Rig& r, bool fail) {
             r.spooler.openFailure =
                 fail ? Status::Failure(HF_ERR_NO_PAGE_SIZE, "no media") : Status{};
         },
         HF_ERR_NO_PAGE_SIZE, true},
        {"job refused before it existed",
         [](Rig& r, bool fail) {
             r.spooler.printFailure =
                 fail ? Status::Failure(HF_ERR_JOB_FAILED, "client-error-not-possible") : Status{};
         },
         HF_ERR_JOB_FAILED, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Drop("a", 10);
        c.cause(rig, true);
        rig.Scan(2);
        EXPECT_EQ(rig.Jobs(), 0u);
        EXPECT_EQ(rig.folder.GetError(), c.code);
        EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
        const FailureNote note = rig.folder.GetLastFailure();
        EXPECT_EQ(note.File, "/hf/a");
        EXPECT_EQ(note.Code, c.code);
        EXPECT_FALSE(note.Reason.empty());
        EXPECT_EQ(rig.LastLog().Result, Outcome::Kept);
        EXPECT_EQ(rig.LastLog().Code, c.code);
        EXPECT_FALSE(rig.Record("a")) << "no job, no record";

        rig.Scan(3);
        const std::size_t tries = rig.images.Loaded().size();
        EXPECT_EQ(tries > 1, c.retriedUnchanged) << tries << " tries";

        c.cause(rig, false);
        if (!c.retriedUnchanged) {
            rig.Scan(3);
            EXPECT_EQ(rig.Jobs(), 0u) << "unchanged: not tried again";
            rig.Drop("a", 10, 2);  // the completed file, written anew
            c.cause(rig, false);
            rig.Scan();
            EXPECT_EQ(rig.Jobs(), 0u) << "changed: it settles again first";
        }
        rig.clock.Advance(kLongestRetryDelayMs);
        rig.Scan(4);
        EXPECT_EQ(rig.Jobs(), 1u);
        EXPECT_EQ(rig.folder.GetError(), HF_ERR_NONE);
        EXPECT_EQ(rig.remover.Removed(), std::vector<std::string>{"/hf/a"});
    }
}

TEST(HotFolderPrint, JobStatesDecideWhatBecomesOfTheFile) {
    struct Case {
        JobState state;
        bool removed;
        JobRecord::Stage stage;  // when not removed
        HotFolderError error;
        std::vector<Outcome> log;
    };
    const Case cases[] = {
        {JobState::Pending, false, JobRecord::Stage::Sent, HF_ERR_NONE, {Outcome::Sent}},
        {JobState::Unknown, false, JobRecord::Stage::Sent, HF_ERR_NONE, {Outcome::Sent}},
        {JobState::Completed, true, {}, HF_ERR_NONE, {Outcome::Sent, Outcome::Printed}},
        {JobState::Failed,
         false,
         JobRecord::Stage::Failed,
         HF_ERR_JOB_FAILED,
         {Outcome::Sent, Outcome::Kept}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.state));
        Rig rig;
        rig.spooler.newJobState = c.state;
        rig.Drop("a", 10);
        rig.Scan(2);
        rig.Scan(3);
        EXPECT_EQ(rig.Jobs(), 1u) << "never sent twice";
        EXPECT_EQ(rig.remover.Removed().size(), c.removed ? 1u : 0u);
        EXPECT_EQ(rig.folder.GetError(), c.error);
        EXPECT_EQ(rig.log.Outcomes(), c.log);
        if (!c.removed) {
            ASSERT_TRUE(rig.Record("a"));
            EXPECT_EQ(rig.Record("a")->State, c.stage);
        }
    }
}

TEST(HotFolderPrint, AbortedJobKeepsTheFileWithTheSchedulersReasonUntilItChanges) {
    Rig rig;
    rig.spooler.newJobState = JobState::Failed;
    rig.Drop("a", 10);
    rig.Scan(2);
    rig.spooler.SetJob(1, JobState::Failed, "job-aborted-by-system");
    rig.Scan();
    EXPECT_EQ(rig.LastLog().Reason, "job-aborted-by-system");
    EXPECT_EQ(rig.folder.GetLastFailure().Reason, "job-aborted-by-system");
    // A restart does not send it again either.
    rig.Start();
    rig.Scan(3);
    EXPECT_EQ(rig.Jobs(), 1u);
    // Replaced by the user: a new file, printed once.
    rig.spooler.newJobState = JobState::Completed;
    rig.Drop("a", 11, 2);
    rig.Scan(3);
    EXPECT_EQ(rig.Jobs(), 2u);
    EXPECT_EQ(rig.remover.Removed(), std::vector<std::string>{"/hf/a"});
}

TEST(HotFolderPrint, FileThatCannotBeDeletedIsNeverPrintedAgainAcrossRestarts) {
    Rig rig;
    rig.remover.failure = Status::Failure(HF_ERR_NOT_DELETED, "Permission denied");
    rig.Drop("a", 10);
    rig.Scan(3);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_NOT_DELETED);
    EXPECT_EQ(rig.folder.GetLastFailure().Reason, "Permission denied");
    EXPECT_EQ(rig.log.Outcomes(), (std::vector<Outcome>{Outcome::Sent, Outcome::NotDeleted}));
    ASSERT_TRUE(rig.Record("a"));
    EXPECT_EQ(rig.Record("a")->State, JobRecord::Stage::Printed);

    // Stop/Start, and a whole new record on the same ledger (a restart).
    rig.Start();
    rig.Scan(3);
    HotFolder restarted("Photos", "/hf", "printer", 5);
    restarted.Reset(rig.clock);
    restarted.SetRunning();
    for (int i = 0; i < 3; ++i) {
        rig.clock.Advance(5001);
        restarted.Scan(rig.services, rig.stop);
    }
    EXPECT_EQ(rig.Jobs(), 1u);
    EXPECT_EQ(rig.log.Outcomes().size(), 2u) << "later deletes are tried quietly";

    // The deletion works at last: the record goes, the error clears.
    rig.remover.failure = {};
    rig.Scan();
    EXPECT_EQ(rig.remover.Removed(), std::vector<std::string>{"/hf/a"});
    EXPECT_FALSE(rig.Record("a"));
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_NONE);
    EXPECT_EQ(rig.LastLog().Result, Outcome::Printed);
}

TEST(HotFolderPrint, JobInFlightSurvivesARestartAndIsNeverResent) {
    Rig rig;
    rig.spooler.newJobState = JobState::Pending;
    rig.Drop("a", 10);
    rig.Scan(2);
    HotFolder restarted("Photos", "/hf", "printer", 5);
    restarted.Reset(rig.clock);
    restarted.SetRunning();
    for (int i = 0; i < 3; ++i) {
        rig.clock.Advance(5001);
        restarted.Scan(rig.services, rig.stop);
    }
    EXPECT_EQ(rig.Jobs(), 1u);
    EXPECT_TRUE(rig.remover.Removed().empty());
    rig.spooler.SetJob(1, JobState::Completed);
    rig.clock.Advance(5001);
    restarted.Scan(rig.services, rig.stop);
    EXPECT_EQ(rig.remover.Removed(), std::vector<std::string>{"/hf/a"});
}

// A power cut takes the ledger back to its last flushed record, which
// names the job: the restart asks the scheduler about that job, never sends
// the file again, and never takes an earlier job of its name for it.
TEST(HotFolderPrint, APowerCutAfterTheSendNeverPrintsTheFileTwice) {
    struct Case {
        const char* name;
        JobState job;       // how the job stands at the cut
        bool deletionLost;  // the file's deletion was not on the disk either
    };
    const Case cases[] = {
        {"job waiting", JobState::Pending, false},
        {"printed and deleted", JobState::Completed, false},
        {"printed, its deletion lost too", JobState::Completed, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        // An earlier file of the same name, printed a moment before.
        const int earlier = rig.spooler.AddJob("printer", "a", {JobState::Completed, {}, false},
                                               rig.spooler.now - 1);
        rig.spooler.newJobState = c.job;
        rig.Drop("a", 10);
        rig.Scan(3);
        rig.ledger.PowerCut();
        if (c.deletionLost) rig.Drop("a", 10);
        rig.Start();
        rig.Scan(3);
        EXPECT_EQ(rig.lister.List("/hf").empty(), c.job == JobState::Completed)
            << "deleted once its own job completed";
        rig.spooler.SetJob(earlier + 1, JobState::Completed);
        rig.Scan(3);
        EXPECT_EQ(rig.Jobs(), 1u);
        EXPECT_TRUE(rig.lister.List("/hf").empty());
    }
}

TEST(HotFolderPrint, RecordWhoseFileIsGoneOrReplacedIsErased) {
    Rig rig;
    rig.spooler.newJobState = JobState::Pending;
    rig.Drop("gone", 10);
    rig.Drop("replaced", 10);
    rig.Scan(2);
    ASSERT_EQ(rig.Jobs(), 2u);
    rig.lister.Remove("/hf", "gone");
    rig.Drop("replaced", 10, 5);
    rig.Scan();
    EXPECT_FALSE(rig.Record("gone"));
    EXPECT_FALSE(rig.Record("replaced"));
    rig.Scan();
    EXPECT_EQ(rig.Jobs(), 3u) << "the replacement is a new file";
}

TEST(HotFolderPrint, AFolderThatListsNothingForAMomentForgetsNoJob) {
    Rig rig;
    rig.remover.failure = Status::Failure(HF_ERR_NOT_DELETED, "Read-only file system");
    rig.spooler.newJobState = JobState::Pending;
    rig.Drop("pending", 10);
    rig.Drop("printed", 10, 2);
    rig.Scan(2);
    rig.spooler.SetJob(2, JobState::Completed);
    rig.Scan();
    ASSERT_EQ(rig.Record("printed")->State, JobRecord::Stage::Printed);

    const Listing both = rig.lister.List("/hf");
    for (const ListedFile& file : both) rig.lister.Remove("/hf", file.Name);
    rig.Scan(2);  // the folder is there, but lists nothing
    for (const ListedFile& file : both) rig.lister.Put("/hf", file);
    rig.Scan(3);
    EXPECT_EQ(rig.Jobs(), 2u) << "neither file is sent again";
    EXPECT_TRUE(rig.Record("pending"));
    EXPECT_TRUE(rig.Record("printed"));
}

TEST(HotFolderPrint, NewFileUnderAPrintedNameIsPrintedToo) {
    Rig rig;
    rig.Drop("a", 10);
    rig.Scan(3);  // sent, then deleted
    ASSERT_EQ(rig.remover.Removed().size(), 1u);
    rig.Drop("a", 10, 2);  // same name and size, another inode
    rig.Scan();
    EXPECT_EQ(rig.Jobs(), 1u);
    rig.Scan();
    EXPECT_EQ(rig.Jobs(), 2u);
}

TEST(HotFolderPrint, FileHeldByAWriterDoesNotSettle) {
    struct Case {
        WriterProbe probe;
        bool printsWhileHeld;
    };
    for (const Case c : {Case{WriterProbe::OpenForWriting, false}, Case{WriterProbe::Unknown, true},
                         Case{WriterProbe::NotOpen, true}}) {
        Rig rig;
        rig.Drop("a", 10);
        rig.lister.SetProbe("/hf/a", c.probe);
        rig.Scan(3);
        EXPECT_EQ(rig.Jobs(), c.printsWhileHeld ? 1u : 0u) << static_cast<int>(c.probe);
        rig.lister.SetProbe("/hf/a", WriterProbe::NotOpen);
        rig.Scan();
        EXPECT_EQ(rig.Jobs(), 1u) << static_cast<int>(c.probe);
    }
}

TEST(HotFolderPrint, StopBetweenFilesLeavesTheRestForTheNextRun) {
    Rig rig;
    for (const char* n : {"b", "a", "C"}) rig.Drop(n, 1);
    rig.spooler.onPrint = [&](const std::string&) { rig.stop.Request(); };
    rig.Scan(2);
    ASSERT_EQ(rig.Jobs(), 1u);
    EXPECT_EQ(rig.spooler.Jobs()[0].docName, "C");
    // The next run: each prints once, C never again.
    rig.spooler.onPrint = nullptr;
    rig.stop.Clear();
    rig.Start();
    rig.Scan(4);
    ASSERT_EQ(rig.Jobs(), 3u);
    EXPECT_EQ(rig.spooler.Jobs()[1].docName, "a");
    EXPECT_EQ(rig.spooler.Jobs()[2].docName, "b");
}

TEST(HotFolderPrint, StopDuringASendKeepsTheFileAndLogsTheInterruption) {
    Rig rig;
    rig.Drop("a", 1);
    rig.spooler.printFailure = Status::Failure(HF_ERR_UNREACHABLE, "stopped");
    rig.spooler.stateProbe = [&] {
        rig.stop.Request();  // the user stops while the job is sent
        return rig.folder.GetState();
    };
    rig.Scan(2);
    EXPECT_EQ(rig.LastLog().Result, Outcome::Interrupted);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_NONE);
    EXPECT_FALSE(rig.Record("a"));
    rig.spooler.printFailure = {};
    rig.spooler.stateProbe = nullptr;
    rig.stop.Clear();
    rig.Start();
    rig.Scan(3);
    EXPECT_EQ(rig.Jobs(), 1u);
}

// A file that changed while its page was written (it was still growing) is
// neither kept nor blamed: its record goes, and it prints once two scans see
// its new state alike. Whether the change shows at the header (Page) or only
// once the pixels were read (Write), the outcome is the same.
TEST(HotFolderPrint, FileThatChangedWhileReadSettlesAgainAndPrintsOnce) {
    const Status changed = Status::Failure(HF_ERR_CHANGED, "the file grew while it was read");
    for (const bool atHeader : {false, true}) {
        SCOPED_TRACE(atHeader ? "at the header" : "after the pixels");
        Rig rig;
        FakeImageLoader::Entry growing;
        (atHeader ? growing.render : growing.write) = changed;
        rig.Drop("a.png", 10, 1, growing);
        rig.Scan(2);
        EXPECT_EQ(rig.Jobs(), 0u);
        EXPECT_EQ(rig.LastLog().Result, Outcome::Interrupted);
        EXPECT_EQ(rig.LastLog().Code, HF_ERR_CHANGED);
        EXPECT_EQ(rig.folder.GetError(), HF_ERR_NONE);
        EXPECT_FALSE(rig.Record("a.png"));

        rig.Drop("a.png", 20);  // the rest arrived: a whole, unchanging file
        rig.Scan();
        EXPECT_EQ(rig.Jobs(), 0u) << "not tried at the first scan that sees it whole";
        rig.Scan();
        EXPECT_EQ(rig.Jobs(), 1u);
        EXPECT_EQ(rig.LastLog().Result, Outcome::Sent);
        rig.Scan(2);
        EXPECT_EQ(rig.Jobs(), 1u) << "and only once";
    }
}

TEST(HotFolderPrint, FilesOfOneScanPrintOneAfterAnotherInNameOrder) {
    Rig rig;
    for (const char* n : {"b.jpg", "a.jpg", "C.jpg"}) rig.Drop(n, 1);
    rig.Scan(2);
    const auto jobs = rig.spooler.Jobs();
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0].docName, "C.jpg");
    EXPECT_EQ(jobs[1].docName, "a.jpg");
    EXPECT_EQ(jobs[2].docName, "b.jpg");
}

TEST(DocumentName, IsThePartAfterTheLastSlash) {
    EXPECT_EQ(DocumentName("/hot/photo.jpg"), "photo.jpg");
    EXPECT_EQ(DocumentName("photo.jpg"), "photo.jpg");
    EXPECT_EQ(DocumentName("/a/b/c\\d.jpg"), "c\\d.jpg");  // a backslash is just a byte here
    EXPECT_EQ(DocumentName("/dir/"), "");
    EXPECT_EQ(JoinPath("/hot", "x.png"), "/hot/x.png");
    EXPECT_EQ(JoinPath("/hot/", "x.png"), "/hot//x.png");  // the folder as stored
}

// How many jobs were made of each file.
std::map<std::string, int> JobsPerFile(const RecordingSpooler& spooler) {
    std::map<std::string, int> jobs;
    for (const auto& job : spooler.Jobs()) ++jobs[job.docName];
    return jobs;
}

// A record of a job in stage Sending for the rig's file name, as a run that
// ended while sending leaves it; job names the job it had heard of.
JobRecord SendingRecord(Rig& rig, const std::string& name, JobTicket job = {}) {
    JobRecord record;
    record.FolderPath = "/hf";
    record.FileName = name;
    for (const ListedFile& file : rig.lister.List("/hf")) {
        if (file.Name == name) record.Identity = file.Identity;
    }
    record.PrinterName = "printer";
    record.JobId = job.Id;
    record.JobUuid = job.Uuid;
    record.CreatedAt = job.CreatedAt;
    return record;
}

TEST(HotFolderJobs, SchedulerThatLostItsHistoryCostsNoFileAndEachPrintsOnceMore) {
    Rig rig;
    rig.spooler.newJobState = JobState::Pending;
    for (const char* name : {"old1", "old2"}) rig.Drop(name, 10, name[3]);
    rig.Scan(2);
    ASSERT_EQ(rig.Jobs(), 2u);

    // Restarted without its history, it gives the same ids to new jobs.
    rig.spooler.Forget();
    rig.spooler.newJobState = JobState::Completed;
    for (const char* name : {"new1", "new2"}) rig.Drop(name, 10, 10 + name[3]);
    rig.Scan(3);
    EXPECT_EQ(rig.remover.Removed(), (std::vector<std::string>{"/hf/new1", "/hf/new2"}))
        << "a reused id never deletes another file";
    EXPECT_EQ(rig.Jobs(), 4u) << "not sent again within the grace";

    rig.Scan(8);  // past the grace: the lost jobs' files are sent again
    EXPECT_EQ(JobsPerFile(rig.spooler),
              (std::map<std::string, int>{{"new1", 1}, {"new2", 1}, {"old1", 2}, {"old2", 2}}));
    EXPECT_EQ(rig.remover.Removed().size(), 4u);
    int sentAgain = 0;
    for (const PrintLogEntry& e : rig.log.Entries()) {
        sentAgain +=
            e.Result == Outcome::Sent && e.Reason.find("no longer knows job") != std::string::npos;
    }
    EXPECT_EQ(sentAgain, 2) << "each said once, with why";
}

TEST(HotFolderJobs, SchedulerThatCannotBeAskedIsWaitedForWithoutSendingAgain) {
    Rig rig;
    rig.spooler.newJobState = JobState::Pending;
    rig.Drop("a", 10);
    rig.Scan(2);
    rig.spooler.reachable = false;
    rig.Scan(20);
    rig.spooler.reachable = true;
    rig.Scan(2);
    EXPECT_EQ(rig.Jobs(), 1u);
    EXPECT_EQ(rig.log.Outcomes(), std::vector<Outcome>{Outcome::Sent});
    ASSERT_TRUE(rig.Record("a"));
    EXPECT_EQ(rig.Record("a")->State, JobRecord::Stage::Sent);
}

TEST(HotFolderJobs, RunThatEndedWhileSendingIsResolvedWithTheScheduler) {
    struct Case {
        const char* name;
        std::optional<JobStatus> earlier;  // the job the scheduler holds of it, if any
        bool reachable;
        bool recordKnowsTheJob;
        int jobs;        // sent by this run
        bool removed;    // in the end
        bool cancelled;  // the earlier job
        std::vector<Outcome> log;
    };
    const JobStatus completed{JobState::Completed, {}, false};
    const JobStatus pending{JobState::Pending, {}, false};
    const JobStatus pageless{JobState::Pending, {}, true};
    const JobStatus aborted{JobState::Failed, "aborted-by-system", false};
    const Case cases[] = {
        {"no job made",
         std::nullopt,
         true,
         false,
         1,
         true,
         false,
         {Outcome::Sent, Outcome::Printed}},
        // The sent line the ended run could not write comes first.
        {"completed, found by name",
         completed,
         true,
         false,
         0,
         true,
         false,
         {Outcome::Sent, Outcome::Printed}},
        {"completed, by uuid",
         completed,
         true,
         true,
         0,
         true,
         false,
         {Outcome::Sent, Outcome::Printed}},
        {"waiting with its page", pending, true, true, 0, false, false, {Outcome::Sent}},
        {"without its page, by name",
         pageless,
         true,
         false,
         1,
         true,
         true,
         {Outcome::Sent, Outcome::Printed}},
        {"without its page, by uuid",
         pageless,
         true,
         true,
         1,
         true,
         true,
         {Outcome::Sent, Outcome::Printed}},
        {"aborted with its page", aborted, true, true, 0, false, false, {Outcome::Kept}},
        {"scheduler away", pageless, false, true, 0, false, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Drop("a", 10);
        JobTicket job;
        if (c.earlier) {
            job = rig.spooler.Ticket(rig.spooler.AddJob("printer", "a", *c.earlier, 1000));
        }
        rig.ledger.Put(SendingRecord(rig, "a", c.recordKnowsTheJob ? job : JobTicket{}));
        rig.spooler.reachable = c.reachable;
        rig.Scan(4);
        EXPECT_EQ(rig.Jobs(), static_cast<std::size_t>(c.jobs));
        EXPECT_EQ(rig.remover.Removed().size(), c.removed ? 1u : 0u);
        EXPECT_EQ(rig.spooler.Cancelled(),
                  c.cancelled ? std::vector<int>{job.Id} : std::vector<int>{});
        EXPECT_EQ(rig.log.Outcomes(), c.log) << "each outcome said once";
        for (const PrintLogEntry& e : rig.log.Entries()) {
            EXPECT_EQ(e.Reason.find("Tallowin ended while sending it; it may"), std::string::npos);
        }
    }
}

TEST(HotFolderJobs, PagelessJobOfAFileThatWentIsCancelled) {
    Rig rig;
    rig.Drop("a", 10);
    rig.Drop("b", 10, 2);
    const JobTicket job =
        rig.spooler.Ticket(rig.spooler.AddJob("printer", "a", {JobState::Pending, {}, true}, 1000));
    rig.ledger.Put(SendingRecord(rig, "a", job));
    rig.lister.Remove("/hf", "a");
    rig.Scan();
    EXPECT_EQ(rig.spooler.Cancelled(), std::vector<int>{job.Id});
    EXPECT_FALSE(rig.Record("a"));
}

TEST(HotFolderJobs, LostLedgerAdoptsTheJobsOfEarlierRunsInsteadOfSendingAgain) {
    Rig rig;
    rig.ledger.lost = true;
    rig.spooler.newJobState = JobState::Completed;
    const int done = rig.spooler.AddJob("printer", "done", {JobState::Completed, {}, false}, 1000);
    const int waiting =
        rig.spooler.AddJob("printer", "waiting", {JobState::Pending, {}, false}, 1000);
    rig.spooler.AddJob("other", "new", {JobState::Completed, {}, false}, 1000);
    for (const char* name : {"done", "new", "waiting"}) rig.Drop(name, 10, name[0]);
    rig.Scan(3);
    EXPECT_EQ(JobsPerFile(rig.spooler), (std::map<std::string, int>{{"new", 1}}))
        << "only the file without a job is sent";
    EXPECT_EQ(rig.remover.Removed(), (std::vector<std::string>{"/hf/done", "/hf/new"}));
    ASSERT_TRUE(rig.Record("waiting"));
    EXPECT_EQ(rig.Record("waiting")->JobId, waiting);
    rig.spooler.SetJob(waiting, JobState::Completed);
    rig.Scan();
    EXPECT_EQ(rig.remover.Removed().size(), 3u);
    EXPECT_EQ(rig.Jobs(), 1u);
    EXPECT_GT(done, 0);
}

TEST(HotFolderJobs, ShareMountedAgainUnderAnotherDeviceNumberIsNotPrintedAgain) {
    Rig rig;
    rig.spooler.newJobState = JobState::Pending;
    rig.Drop("a", 10);
    rig.Scan(2);
    ListedFile moved = rig.lister.List("/hf")[0];
    moved.Identity.Device += 7;
    rig.lister.Put("/hf", moved);
    rig.Scan(3);  // the same run sees it come back
    HotFolder restarted("Photos", "/hf", "printer", 5);
    restarted.Reset(rig.clock);
    restarted.SetRunning();
    for (int i = 0; i < 3; ++i) {
        rig.clock.Advance(5001);
        restarted.Scan(rig.services, rig.stop);
    }
    EXPECT_EQ(rig.Jobs(), 1u);
    rig.spooler.SetJob(1, JobState::Completed);
    rig.clock.Advance(5001);
    restarted.Scan(rig.services, rig.stop);
    EXPECT_EQ(rig.remover.Removed(), std::vector<std::string>{"/hf/a"});
}

TEST(HotFolderJobs, FullStateDiskAfterSendingSaysSentOnceAndDeletesOnceItCompletes) {
    Rig rig;
    rig.spooler.newJobState = JobState::Pending;
    rig.spooler.onPrint = [&](const std::string&) {
        rig.ledger.storeFailure = Status::Failure(HF_ERR_STATE, "No space left on device");
    };
    rig.Drop("a", 10);
    rig.Scan(2);
    rig.spooler.onPrint = nullptr;
    rig.Scan(10);
    ASSERT_EQ(rig.log.Entries().size(), 1u) << "said once";
    EXPECT_EQ(rig.LastLog().Result, Outcome::Sent);
    EXPECT_EQ(rig.LastLog().Code, HF_ERR_STATE);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_STATE);
    EXPECT_EQ(rig.Record("a")->State, JobRecord::Stage::Sending);

    rig.spooler.SetJob(1, JobState::Completed);
    rig.Scan(2);
    EXPECT_EQ(rig.remover.Removed(), std::vector<std::string>{"/hf/a"});
    EXPECT_EQ(rig.log.Outcomes(), (std::vector<Outcome>{Outcome::Sent, Outcome::Printed}));
    EXPECT_EQ(rig.Jobs(), 1u);
    // Room again: the record of the deleted file goes at the next scan of a
    // folder that lists anything.
    rig.ledger.storeFailure = {};
    rig.Drop("b", 10, 2);
    rig.Scan();
    EXPECT_FALSE(rig.Record("a"));
}

}  // namespace

namespace {

// The printer stops with a reason while a file waits: the row names it, the
// log says so once when it begins and once when it ends, the file is
// neither failed nor sent meanwhile, and prints exactly once afterwards.
TEST(HotFolderPrinter, AStoppedPrinterHoldsTheFilesAndIsLoggedOnceEachWay) {
    Rig rig;
    rig.spooler.SetCondition(
        "printer",
        {PrinterCondition::State::Stopped, {"media-empty-error", "paused"}, "Out of paper", true});
    rig.Drop("a.jpg", 100);
    rig.Scan(4);
    EXPECT_EQ(rig.Jobs(), 0u);
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_PRINTER_ATTENTION);
    EXPECT_EQ(rig.folder.GetPrinterTrouble(), "Out of paper (media-empty, paused)");
    EXPECT_EQ(rig.folder.GetFilesWaiting(), 1);
    EXPECT_TRUE(rig.folder.GetLastFailure().File.empty()) << "waiting is no failure";
    EXPECT_EQ(rig.log.Outcomes(), (std::vector<Outcome>{Outcome::PrinterAttention}));
    EXPECT_EQ(rig.LastLog().Reason, "Out of paper (media-empty, paused)");
    EXPECT_EQ(rig.LastLog().Printer, "printer");

    rig.spooler.SetCondition("printer", {});
    rig.Scan();
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_NONE);
    EXPECT_EQ(rig.folder.GetPrinterTrouble(), "");
    EXPECT_EQ(rig.Jobs(), 1u);
    rig.Scan(3);
    EXPECT_EQ(rig.Jobs(), 1u);
    EXPECT_EQ(rig.folder.GetFilesWaiting(), 0);
    EXPECT_EQ(rig.log.Outcomes(),
              (std::vector<Outcome>{Outcome::PrinterAttention, Outcome::PrinterReady, Outcome::Sent,
                                    Outcome::Printed}));
}

TEST(HotFolderPrinter, AttentionOutweighsAJobsFailureAndClearsWithIt) {
    struct Case {
        const char* Name;
        PrinterCondition Condition;
        bool Holds;
    };
    const Case cases[] = {
        {"idle", {}, false},
        {"warning_only", {PrinterCondition::State::Idle, {"toner-low-warning"}, "", true}, false},
        {"rejecting", {PrinterCondition::State::Idle, {}, "", false}, true},
        {"door_open", {PrinterCondition::State::Processing, {"door-open"}, "", true}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Rig rig;
        rig.spooler.SetCondition("printer", c.Condition);
        rig.Drop("a.jpg", 100);
        rig.Scan(2);
        EXPECT_EQ(rig.Jobs(), c.Holds ? 0u : 1u);
        EXPECT_EQ(rig.folder.GetError(), c.Holds ? HF_ERR_PRINTER_ATTENTION : HF_ERR_NONE);
    }
}

TEST(HotFolderPrinter, ASchedulerThatCannotBeAskedLeavesPrintingToSayWhy) {
    Rig rig;
    rig.Drop("a.jpg", 100);
    rig.spooler.reachable = false;
    rig.spooler.openFailure = Status::Failure(HF_ERR_UNREACHABLE, "no answer");
    rig.Scan(2);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_UNREACHABLE);
    EXPECT_GT(rig.spooler.ConditionsAsked(), 0);
}

// A run asks the printer about the folder's job options once, before any file
// waits, so that what it does not offer shows from the first scan on.
TEST(HotFolderPrinter, SettingsThePrinterDoesNotOfferShowBeforeAnyFileAndStopTheFolder) {
    struct Case {
        const char* name;
        const char* copies;  // "" : the folder has no job options
        Status openFailure;
        std::int32_t state;
        std::int32_t error;
        std::size_t opened;  // asked over three scans, a Start and one more scan
    };
    const Case cases[] = {
        {"no options: nothing asked", "", {}, HF_STATE_RUNNING, HF_ERR_NONE, 0},
        {"offered: asked once a run", "2", {}, HF_STATE_RUNNING, HF_ERR_NONE, 2},
        {"not offered: waits with the reason", "2",
         Status::Failure(HF_ERR_SETTINGS, "media A3: 'printer' does not offer it"),
         HF_STATE_WAITING, HF_ERR_SETTINGS, 2},
        {"cannot be asked: asked again, printing says why", "2",
         Status::Failure(HF_ERR_UNREACHABLE, "no answer"), HF_STATE_RUNNING, HF_ERR_NONE, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.folder.PrintSettings.Copies = c.copies;
        rig.spooler.openFailure = c.openFailure;
        rig.Scan(3);
        EXPECT_EQ(rig.folder.GetError(), c.error);
        rig.Start();
        rig.Scan();
        EXPECT_EQ(rig.folder.GetState(), c.state);
        EXPECT_EQ(rig.folder.GetError(), c.error);
        EXPECT_EQ(rig.spooler.OpenedWith().size(), c.opened);
        if (c.error == HF_ERR_SETTINGS) {
            EXPECT_NE(rig.folder.GetLastFailure().Reason.find("does not offer"), std::string::npos);
        }
        EXPECT_EQ(rig.Jobs(), 0u);
    }
}

}  // namespace
