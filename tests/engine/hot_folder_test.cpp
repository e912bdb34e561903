#include "engine/hot_folder.h"

#include <gtest/gtest.h>

#include "engine/paths.h"
#include "tests/engine/fakes.h"

namespace {

// A hot folder on fake services, the folder "/hf" with printer "printer".
struct Rig {
    FakeClock clock{1000};
    FakeLister lister;
    FakeImageLoader images;
    RecordingSpooler spooler;
    RecordingRemover remover;
    EngineServices services{clock, lister, images, spooler, remover};
    HotFolder folder{"Photos", "/hf", "printer", 5};

    Rig() {
        lister.folders.insert("/hf");
        folder.Reset(clock);
        folder.SetRunning();
    }
    void Drop(const std::string& name, std::uint32_t size, FakeImageLoader::Entry image = {}) {
        lister.listings["/hf"][name] = size;
        images.images["/hf/" + name] = image;
    }
};

TEST(HotFolderRecord, DefaultsAreThoseOfANewHotFolder) {
    const HotFolder h;
    EXPECT_EQ(h.GetName(), "NewHotFolder");
    EXPECT_EQ(h.GetScanTime(), 20);
    EXPECT_EQ(h.GetFolderPath(), "");
    EXPECT_EQ(h.GetPrinterName(), "");
    EXPECT_EQ(h.GetState(), HF_STATE_WAITING);
    EXPECT_EQ(h.GetError(), HF_ERR_NONE);
    EXPECT_TRUE(h.GetFiles().empty());
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
    rig.lister.folders.clear();
    rig.folder.Scan(rig.services);
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
    rig.folder.Scan(rig.services);
    rig.folder.SetWaiting();
    ASSERT_EQ(rig.folder.GetFiles().size(), 1u);
    rig.clock.Set(0xfffffff0u);
    rig.folder.Reset(rig.clock);
    EXPECT_TRUE(rig.folder.GetFiles().empty());
    EXPECT_EQ(rig.folder.GetLastScanTick(), 0xfffffff0u);
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_WAITING);
}

TEST(HotFolderRecord, CopyCarriesTheFileTableAndRunData) {
    Rig rig;
    rig.Drop("a.jpg", 10);
    rig.folder.Scan(rig.services);  // seen once
    HotFolder copy(rig.folder);
    HotFolder assigned;
    assigned = rig.folder;
    for (HotFolder* h : {&copy, &assigned}) {
        EXPECT_EQ(h->GetFiles(), rig.folder.GetFiles());
        EXPECT_EQ(h->GetLastScanTick(), rig.folder.GetLastScanTick());
        EXPECT_EQ(h->GetState(), HF_STATE_RUNNING);
    }
    // The copy's next scan prints, exactly as the original's would have.
    copy.Scan(rig.services);
    ASSERT_EQ(rig.spooler.jobs.size(), 1u);
    EXPECT_EQ(rig.spooler.jobs[0].docName, "a.jpg");
    // And the original is untouched by the copy's scan.
    EXPECT_EQ(rig.folder.GetFiles().at("a.jpg").Printed, 0);
}

TEST(HotFolderRecord, AssignWithoutFilesCopiesAllButTheTable) {
    Rig rig;
    rig.Drop("a.jpg", 10);
    rig.folder.Scan(rig.services);
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
    rig.folder.Scan(rig.services);
    EXPECT_EQ(rig.folder.GetLastScanTick(), 1000u);
    EXPECT_EQ(rig.lister.listCalls, 0);
    EXPECT_TRUE(rig.folder.GetFiles().empty());
}

TEST(HotFolderScan, StampsTheTickAtTheStartOfTheScan) {
    Rig rig;
    rig.clock.Set(0xffffffffu);
    rig.folder.Scan(rig.services);
    EXPECT_EQ(rig.folder.GetLastScanTick(), 0xffffffffu);
}

TEST(HotFolderScan, BadPathIsAnErrorUntilRestartedAndKeepsTheTable) {
    Rig rig;
    rig.Drop("a", 1);
    rig.folder.Scan(rig.services);
    rig.lister.folders.clear();
    rig.folder.Scan(rig.services);
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_ERROR);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_PATH);
    EXPECT_EQ(rig.folder.GetFiles().size(), 1u);
    // The folder coming back changes nothing until the next start.
    rig.lister.folders.insert("/hf");
    rig.folder.Scan(rig.services);
    rig.folder.Scan(rig.services);
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_ERROR);
    EXPECT_TRUE(rig.spooler.jobs.empty());
}

TEST(HotFolderPrint, SettledFileIsPrintedNamedAfterItselfAndDeleted) {
    Rig rig;
    rig.Drop("photo.jpg", 10, {3000, 2000, 300, 300});
    int states = 0;
    rig.spooler.stateProbe = [&] {
        ++states;
        return rig.folder.GetState();
    };
    rig.folder.Scan(rig.services);
    EXPECT_TRUE(rig.spooler.jobs.empty());
    rig.folder.Scan(rig.services);
    ASSERT_EQ(rig.spooler.jobs.size(), 1u);
    const auto& job = rig.spooler.jobs[0];
    EXPECT_EQ(job.printer, "printer");
    EXPECT_EQ(job.docName, "photo.jpg");
    EXPECT_EQ(job.width, 4800);
    EXPECT_EQ(job.height, 3200);
    EXPECT_EQ(job.stateWhilePrinting, HF_STATE_PRINTING);
    EXPECT_EQ(rig.remover.removed, std::vector<std::string>{"/hf/photo.jpg"});
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_NONE);
}

TEST(HotFolderPrint, FileThatDoesNotLoadStaysAndIsNotTriedAgain) {
    Rig rig;
    rig.lister.listings["/hf"]["notes.txt"] = 4;  // not a known image
    for (int i = 0; i < 4; ++i) rig.folder.Scan(rig.services);
    EXPECT_EQ(rig.images.loaded, std::vector<std::string>{"/hf/notes.txt"});
    EXPECT_TRUE(rig.spooler.opened.empty());
    EXPECT_TRUE(rig.remover.removed.empty());
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_NONE);
}

TEST(HotFolderPrint, DamagedPixelsFailBeforeAnyJobAndKeepTheFile) {
    Rig rig;
    rig.Drop("half.jpg", 10, {100, 100, 0, 0, /*renders=*/false});
    rig.folder.Scan(rig.services);
    rig.folder.Scan(rig.services);
    EXPECT_TRUE(rig.spooler.jobs.empty());
    EXPECT_TRUE(rig.remover.removed.empty());
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_NONE);
}

TEST(HotFolderPrint, MissingPrinterKeepsTheFileAndShowsAPrinterError) {
    Rig rig;
    rig.folder.SetPrinterName("gone");
    rig.Drop("a.png", 10);
    rig.Drop("b.png", 10);
    rig.folder.Scan(rig.services);
    rig.folder.Scan(rig.services);
    // Both files were tried, neither deleted; scanning goes on.
    EXPECT_EQ(rig.spooler.opened, (std::vector<std::string>{"gone", "gone"}));
    EXPECT_TRUE(rig.remover.removed.empty());
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_PRINTER);
    rig.Drop("c.png", 10);
    rig.folder.Scan(rig.services);
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
}

TEST(HotFolderPrint, JobThatCannotBeSentKeepsTheFile) {
    Rig rig;
    rig.spooler.failPrint = true;
    rig.Drop("a.png", 10);
    rig.folder.Scan(rig.services);
    rig.folder.Scan(rig.services);
    EXPECT_TRUE(rig.remover.removed.empty());
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_PRINTER);
}

TEST(HotFolderPrint, ImageTooThinForThePageIsKept) {
    // 1 x 100000 pixels at 72 dpi: one factor for both sides leaves its width
    // under half a printer pixel, so there is nothing to print.
    Rig rig;
    rig.Drop("line.png", 10, {1, 1000000, 72, 72});
    rig.folder.Scan(rig.services);
    rig.folder.Scan(rig.services);
    EXPECT_TRUE(rig.spooler.jobs.empty());
    EXPECT_TRUE(rig.remover.removed.empty());
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
}

TEST(HotFolderPrint, FilesOfOneScanPrintOneAfterAnotherInNameOrder) {
    Rig rig;
    for (const char* n : {"b.jpg", "a.jpg", "C.jpg"}) rig.Drop(n, 1);
    rig.folder.Scan(rig.services);
    rig.folder.Scan(rig.services);
    ASSERT_EQ(rig.spooler.jobs.size(), 3u);
    EXPECT_EQ(rig.spooler.jobs[0].docName, "C.jpg");
    EXPECT_EQ(rig.spooler.jobs[1].docName, "a.jpg");
    EXPECT_EQ(rig.spooler.jobs[2].docName, "b.jpg");
}

TEST(DocumentName, IsThePartAfterTheLastSlash) {
    EXPECT_EQ(DocumentName("/hot/photo.jpg"), "photo.jpg");
    EXPECT_EQ(DocumentName("photo.jpg"), "photo.jpg");
    EXPECT_EQ(DocumentName("/a/b/c\\d.jpg"), "c\\d.jpg");  // a backslash is just a byte here
    EXPECT_EQ(DocumentName("/dir/"), "");
    EXPECT_EQ(JoinPath("/hot", "x.png"), "/hot/x.png");
    EXPECT_EQ(JoinPath("/hot/", "x.png"), "/hot//x.png");  // the folder as stored
}

}  // namespace
