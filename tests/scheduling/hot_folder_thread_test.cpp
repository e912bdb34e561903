// The worker thread with real threads, the real clock and short scan times;
// printers and images are small fakes that can be made to block.
#include "scheduling/hot_folder_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "platform/tick.h"
#include "tests/engine/fakes.h"

namespace {

using namespace std::chrono_literals;

// Thread-safe fakes: the worker and the test both touch them.
class SharedLister final : public FolderLister {
  public:
    bool IsFolder(const std::string& path) override {
        std::lock_guard g(m);
        return folders.count(path) != 0;
    }
    Listing List(const std::string& path) override {
        std::lock_guard g(m);
        return listings[path];
    }
    std::mutex m;
    std::set<std::string> folders;
    std::map<std::string, Listing> listings;
};

class AnyImage final : public ImageLoader {
  public:
    std::unique_ptr<Image> Load(const std::string&) override {
        return std::make_unique<FakeImage>(100, 100, 72, 72, true);
    }
};

// A printer that logs each job, and can hold a job until released.
class GatedSpooler final : public Spooler {
  public:
    class GatedPrinter final : public Printer {
      public:
        explicit GatedPrinter(GatedSpooler& s) : s_(s) {}
        const PageGeometry& Geometry() const override { return s_.geometry; }
        bool Print(const std::string& docName, const PageImage&) override {
            std::unique_lock lock(s_.m);
            s_.log.push_back("print-begin " + docName);
            s_.changed.notify_all();
            s_.changed.wait(lock, [&] { return !s_.hold; });
            s_.log.push_back("print-end " + docName);
            ++s_.printed;
            s_.changed.notify_all();
            return true;
        }

      private:
        GatedSpooler& s_;
    };

    std::unique_ptr<Printer> Open(const std::string&) override {
        return std::make_unique<GatedPrinter>(*this);
    }
    void Note(const std::string& what) {
        std::lock_guard g(m);
        log.push_back(what);
    }
    template <class Pred>
    bool WaitFor(Pred pred, std::chrono::seconds limit = 30s) {
        std::unique_lock lock(m);
        return changed.wait_for(lock, limit, pred);
    }
    void Release() {
        std::lock_guard g(m);
        hold = false;
        changed.notify_all();
    }

    PageGeometry geometry{600, 600, 4800, 6600, 612, 828, 18, 18};
    std::mutex m;
    std::condition_variable changed;
    std::vector<std::string> log;
    bool hold = false;
    int printed = 0;
};

struct WorkerRig {
    MonotonicClock clock;
    SharedLister lister;
    AnyImage images;
    GatedSpooler spooler;
    RecordingRemover remover;  // used by the worker alone
    EngineServices services{clock, lister, images, spooler, remover};
    HotFolderList list;
    HotFolderThread worker{services};

    WorkerRig() {
        lister.folders.insert("/hf");
        worker.SetList(list);
        worker.Create();
    }
    HotFolder Get(int id) {
        HotFolder f;
        EXPECT_TRUE(list.Get(id, f));
        return f;
    }
    // Polls (the way the main window does) until the folder is in state.
    bool WaitForState(int id, std::int32_t state) {
        for (int i = 0; i < 3000; ++i) {
            if (Get(id).GetState() == state) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
};

TEST(HotFolderThread, StopBeforeAnyStartReturnsAtOnceAndRunsNothing) {
    WorkerRig rig;
    rig.list.Add(HotFolder("a", "/hf", "p", 1));
    rig.list.StartAll();  // a run would end with every folder waiting
    rig.worker.Stop();
    rig.worker.Stop();
    EXPECT_EQ(rig.Get(0).GetState(), HF_STATE_RUNNING);
}

TEST(HotFolderThread, QuitOnANeverStartedThreadNeverRunsIt) {
    WorkerRig rig;
    rig.list.Add(HotFolder("a", "/hf", "p", 1));
    rig.list.StartAll();
    rig.worker.Quit();
    rig.worker.Join();
    EXPECT_EQ(rig.Get(0).GetState(), HF_STATE_RUNNING) << "the thread ran: StopAll was called";
}

TEST(HotFolderThread, QuitBeforeCreateReturnsAtOnce) {
    MonotonicClock clock;
    SharedLister lister;
    AnyImage images;
    GatedSpooler spooler;
    RecordingRemover remover;
    EngineServices services{clock, lister, images, spooler, remover};
    HotFolderThread worker(services);
    worker.Stop();
    worker.Quit();
    worker.Join();
}

TEST(HotFolderThread, StartThenStopLeavesEveryFolderWaitingWithoutError) {
    WorkerRig rig;
    rig.list.Add(HotFolder("good", "/hf", "p", 1));
    rig.list.Add(HotFolder("bad", "/missing", "p", 1));
    // An error from an earlier run is cleared by the next start.
    rig.worker.Start();
    ASSERT_TRUE(rig.WaitForState(1, HF_STATE_ERROR));
    rig.worker.Stop();
    EXPECT_EQ(rig.Get(1).GetState(), HF_STATE_WAITING);
    EXPECT_EQ(rig.Get(1).GetError(), HF_ERR_PATH);

    rig.worker.Start();
    rig.worker.Stop();  // at once: the run still does ResetAll, StartAll, StopAll
    for (int id : {0, 1}) {
        EXPECT_EQ(rig.Get(id).GetState(), HF_STATE_WAITING) << id;
        EXPECT_EQ(rig.Get(id).GetError(), HF_ERR_NONE) << id;
    }
}

TEST(HotFolderThread, StopDuringAPrintReturnsOnlyAfterThePrint) {
    WorkerRig rig;
    rig.list.Add(HotFolder("a", "/hf", "p", 1));
    {
        std::lock_guard g(rig.lister.m);
        rig.lister.listings["/hf"]["photo.jpg"] = 10;
    }
    rig.spooler.hold = true;
    rig.worker.Start();
    ASSERT_TRUE(rig.spooler.WaitFor([&] { return !rig.spooler.log.empty(); }));
    EXPECT_EQ(rig.Get(0).GetState(), HF_STATE_PRINTING);

    auto stopped = std::async(std::launch::async, [&] {
        rig.worker.Stop();
        rig.spooler.Note("stop-returned");
    });
    // Give Stop every chance to return early before the print is let go.
    EXPECT_EQ(stopped.wait_for(300ms), std::future_status::timeout);
    rig.spooler.Release();
    stopped.get();
    EXPECT_EQ(rig.spooler.log, (std::vector<std::string>{"print-begin photo.jpg",
                                                         "print-end photo.jpg", "stop-returned"}));
    EXPECT_EQ(rig.Get(0).GetState(), HF_STATE_WAITING);
}

TEST(HotFolderThread, SecondStartScansAfreshAndPrintsAgain) {
    WorkerRig rig;
    rig.list.Add(HotFolder("a", "/hf", "p", 1));
    {
        std::lock_guard g(rig.lister.m);
        rig.lister.listings["/hf"]["same.jpg"] = 10;
    }
    rig.worker.Start();
    ASSERT_TRUE(rig.spooler.WaitFor([&] { return rig.spooler.printed == 1; }));
    rig.worker.Stop();
    // The file is still listed (the fake deletes nothing). A new run forgets
    // the table, so it is seen anew and printed once more.
    rig.worker.Start();
    ASSERT_TRUE(rig.spooler.WaitFor([&] { return rig.spooler.printed == 2; }));
    rig.worker.Stop();
}

TEST(HotFolderThread, DestructorEndsAndJoinsARunningWorker) {
    auto rig = std::make_unique<WorkerRig>();
    rig->list.Add(HotFolder("a", "/hf", "p", 1));
    rig->worker.Start();
    ASSERT_TRUE(rig->WaitForState(0, HF_STATE_RUNNING));
    rig->worker.Quit();
    rig->worker.Join();
    EXPECT_EQ(rig->Get(0).GetState(), HF_STATE_WAITING);
    rig.reset();  // the list goes after the thread; nothing may touch it then
}

}  // namespace
