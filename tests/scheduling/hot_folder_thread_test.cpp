// The worker thread with real threads, the real clock and scan times of 0;
// printers and images are small fakes, and a gate can hold a job while it is
// being sent.
#include "scheduling/hot_folder_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "os/tick.h"
#include "tests/engine/fakes.h"

using namespace tallowin;

namespace {

using namespace std::chrono_literals;

struct WorkerRig {
    MonotonicClock clock;
    FakeLister lister;
    FakeImageLoader images;
    RecordingSpooler spooler;
    RecordingRemover remover;
    FakeLedger ledger;
    RecordingLog log;
    EngineServices services{clock, lister, images, spooler, remover, ledger, log};
    PrintGate gate;
    HotFolderList list;
    HotFolderThread worker{services};

    WorkerRig() {
        lister.AddFolder("/hf");
        remover.lister = &lister;
        spooler.onPrint = [this](const std::string& docName) { gate.Pass(docName); };
        worker.SetList(list);
        worker.Create();
    }
    void Drop(const std::string& name) {
        const ListedFile file = Listed(name, 10);
        FakeImageLoader::Entry image;
        image.identity = file.Identity;
        images.Set("/hf/" + name, image);
        lister.Put("/hf", file);
    }
    HotFolder Get(int id) {
        HotFolder f;
        EXPECT_TRUE(list.Get(id, f));
        return f;
    }
    // Polls (the way the main window does) until pred holds.
    template <class Pred>
    static bool WaitUntil(Pred pred) {
        for (int i = 0; i < 3000; ++i) {
            if (pred()) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    bool WaitForState(int id, std::int32_t state) {
        return WaitUntil([&] { return Get(id).GetState() == state; });
    }
};

TEST(HotFolderThread, StopBeforeAnyStartReturnsAtOnceAndRunsNothing) {
    WorkerRig rig;
    rig.list.Add(HotFolder("a", "/hf", "printer", 0));
    rig.list.StartAll();  // a run would end with every folder waiting
    EXPECT_TRUE(rig.worker.IsIdle());
    rig.worker.RequestStop();
    rig.worker.Stop();
    rig.worker.Stop();
    EXPECT_TRUE(rig.worker.IsIdle());
    EXPECT_EQ(rig.Get(0).GetState(), HF_STATE_RUNNING);
}

TEST(HotFolderThread, QuitOnANeverStartedThreadNeverRunsIt) {
    WorkerRig rig;
    rig.list.Add(HotFolder("a", "/hf", "printer", 0));
    rig.list.StartAll();
    rig.worker.Quit();
    rig.worker.Join();
    EXPECT_EQ(rig.Get(0).GetState(), HF_STATE_RUNNING) << "the thread ran: StopAll was called";
}

TEST(HotFolderThread, QuitBeforeCreateReturnsAtOnce) {
    FakeServices fakes;
    HotFolderThread worker(fakes.services);
    worker.RequestStop();
    worker.Stop();
    worker.Quit();
    worker.Join();
}

TEST(HotFolderThread, StartThenStopLeavesEveryFolderWaitingWithoutError) {
    WorkerRig rig;
    rig.list.Add(HotFolder("good", "/hf", "printer", 0));
    rig.list.Add(HotFolder("bad", "/missing", "printer", 0));
    // An error from an earlier run is cleared by the next start.
    rig.worker.Start();
    ASSERT_TRUE(rig.WaitForState(1, HF_STATE_ERROR));
    rig.worker.Stop();
    EXPECT_EQ(rig.Get(1).GetState(), HF_STATE_WAITING);
    EXPECT_EQ(rig.Get(1).GetError(), HF_ERR_PATH);

    // The folder is there now, so that the next run finds nothing wrong
    // whether or not it scans before the stop: only a start that kept the
    // old error would leave one.
    rig.lister.AddFolder("/missing");
    rig.worker.Start();
    rig.worker.Stop();  // at once: the run still does ResetAll, StartAll, StopAll
    for (int id : {0, 1}) {
        EXPECT_EQ(rig.Get(id).GetState(), HF_STATE_WAITING) << id;
        EXPECT_EQ(rig.Get(id).GetError(), HF_ERR_NONE) << id;
    }
}

TEST(HotFolderThread, RequestStopReturnsAtOnceAndIsIdleTellsWhenTheRunHasEnded) {
    WorkerRig rig;
    rig.list.Add(HotFolder("a", "/hf", "printer", 0));
    rig.Drop("photo.jpg");
    rig.gate.Close();
    rig.worker.Start();
    EXPECT_FALSE(rig.worker.IsIdle());
    ASSERT_TRUE(rig.gate.WaitForJobs(1));
    EXPECT_EQ(rig.Get(0).GetState(), HF_STATE_PRINTING);

    rig.worker.RequestStop();  // returns while the job is still held
    EXPECT_FALSE(rig.worker.IsIdle());
    rig.gate.Open();
    ASSERT_TRUE(WorkerRig::WaitUntil([&] { return rig.worker.IsIdle(); }));
    EXPECT_EQ(rig.Get(0).GetState(), HF_STATE_WAITING);
    EXPECT_EQ(rig.spooler.Jobs().size(), 1u);
}

TEST(HotFolderThread, StopDuringAPrintReturnsOnlyAfterThePrint) {
    WorkerRig rig;
    rig.list.Add(HotFolder("a", "/hf", "printer", 0));
    rig.Drop("photo.jpg");
    rig.gate.Close();
    rig.worker.Start();
    ASSERT_TRUE(rig.gate.WaitForJobs(1));

    auto stopped = std::async(std::launch::async, [&] { rig.worker.Stop(); });
    // Stop cannot return while the job is held; it may only wait.
    EXPECT_EQ(stopped.wait_for(100ms), std::future_status::timeout);
    rig.gate.Open();
    stopped.get();
    EXPECT_TRUE(rig.worker.IsIdle());
    EXPECT_EQ(rig.Get(0).GetState(), HF_STATE_WAITING);
}

TEST(HotFolderThread, StopTakesEffectBetweenFilesAndTheRestPrintOnceInTheNextRun) {
    WorkerRig rig;
    rig.list.Add(HotFolder("a", "/hf", "printer", 0));
    for (const char* name : {"1.jpg", "2.jpg", "3.jpg"}) rig.Drop(name);
    rig.gate.Close();
    rig.worker.Start();
    ASSERT_TRUE(rig.gate.WaitForJobs(1));
    rig.worker.RequestStop();
    rig.gate.Open();
    ASSERT_TRUE(WorkerRig::WaitUntil([&] { return rig.worker.IsIdle(); }));
    EXPECT_EQ(rig.gate.Begun(), std::vector<std::string>{"1.jpg"});

    rig.worker.Start();
    ASSERT_TRUE(rig.gate.WaitForJobs(3));
    // Every job completes, so every file goes; then nothing is left to print.
    ASSERT_TRUE(WorkerRig::WaitUntil([&] { return rig.lister.List("/hf").empty(); }));
    rig.worker.Stop();
    EXPECT_EQ(rig.gate.Begun(), (std::vector<std::string>{"1.jpg", "2.jpg", "3.jpg"}));
}

TEST(HotFolderThread, SecondStartNeverResendsAFileWaitingForItsJob) {
    WorkerRig rig;
    rig.spooler.newJobState = JobState::Pending;
    rig.list.Add(HotFolder("a", "/hf", "printer", 0));
    rig.Drop("same.jpg");
    rig.worker.Start();
    ASSERT_TRUE(rig.gate.WaitForJobs(1));
    rig.worker.Stop();
    // A new run forgets the table, but the ledger knows the job in flight;
    // once it completes the file goes, never having been sent again.
    rig.worker.Start();
    rig.spooler.SetJob(1, JobState::Completed);
    ASSERT_TRUE(WorkerRig::WaitUntil([&] { return !rig.remover.Removed().empty(); }));
    rig.worker.Stop();
    EXPECT_EQ(rig.spooler.Jobs().size(), 1u);
}

TEST(HotFolderThread, DestructorEndsAndJoinsARunningWorker) {
    auto rig = std::make_unique<WorkerRig>();
    rig->list.Add(HotFolder("a", "/hf", "printer", 0));
    rig->worker.Start();
    ASSERT_TRUE(rig->WaitForState(0, HF_STATE_RUNNING));
    rig->worker.Quit();
    rig->worker.Join();
    EXPECT_EQ(rig->Get(0).GetState(), HF_STATE_WAITING);
    rig.reset();  // the list goes after the thread; nothing may touch it then
}

}  // namespace
