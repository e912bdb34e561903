#include "scheduling/hot_folder_list.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "os/file_identity.h"
#include "os/folder_listing.h"
#include "tests/engine/fakes.h"
#include "tests/support/temp_dir.h"

using namespace tallowin;

namespace {

HotFolder Folder(const std::string& name, std::int32_t scanTime = 5,
                 const std::string& path = "/hf") {
    return HotFolder(name, path, "printer", scanTime);
}

// A list whose folders run on fake services.
struct ListRig : FakeServices {
    StopFlag stop;
    HotFolderList list;

    ListRig() { lister.AddFolder("/hf"); }
    void StartRun() {
        list.ResetAll(clock);
        list.StartAll();
    }
    void ScanDue() { list.ScanDue(services, stop); }
    std::int32_t State(int id) const {
        HotFolder out;
        list.Get(id, out);
        return out.GetState();
    }
};

TEST(HotFolderList, IdsAreSmallestFreeFirst) {
    HotFolderList list;
    EXPECT_EQ(list.Add(Folder("a")), 0);
    EXPECT_EQ(list.Add(Folder("b")), 1);
    EXPECT_EQ(list.Add(Folder("c")), 2);
    EXPECT_TRUE(list.Remove(1));
    EXPECT_FALSE(list.Remove(1));
    EXPECT_EQ(list.Add(Folder("d")), 1);
    EXPECT_EQ(list.Add(Folder("e")), 3);
    EXPECT_TRUE(list.Remove(0));
    EXPECT_EQ(list.Add(Folder("f")), 0);
    EXPECT_EQ(list.GetCount(), 4u);
}

TEST(HotFolderList, GetCopiesOrLeavesTheCallersRecord) {
    HotFolderList list;
    const int id = list.Add(Folder("kept", 9, "/p"));
    HotFolder out("mine", "/mine", "myprinter", 77);
    EXPECT_FALSE(list.Get(id + 1, out));
    EXPECT_EQ(out.GetName(), "mine");
    EXPECT_EQ(out.GetScanTime(), 77);
    ASSERT_TRUE(list.Get(id, out));
    EXPECT_EQ(out.GetName(), "kept");
    EXPECT_EQ(out.GetFolderPath(), "/p");
    EXPECT_EQ(out.GetPrinterName(), "printer");
    EXPECT_EQ(out.GetScanTime(), 9);
    list.Remove(id);
    EXPECT_FALSE(list.Get(id, out));
    EXPECT_EQ(out.GetName(), "kept");
}

TEST(HotFolderList, SetReplacesOrBringsBackAnId) {
    HotFolderList list;
    list.Add(Folder("a"));
    list.Add(Folder("b"));
    list.Remove(1);
    EXPECT_TRUE(list.Set(1, Folder("back")));
    EXPECT_TRUE(list.Set(0, Folder("renamed")));
    HotFolder out;
    ASSERT_TRUE(list.Get(1, out));
    EXPECT_EQ(out.GetName(), "back");
    ASSERT_TRUE(list.Get(0, out));
    EXPECT_EQ(out.GetName(), "renamed");
    EXPECT_EQ(list.GetCount(), 2u);
}

TEST(HotFolderList, NamesInIdOrderAppendedDuplicatesIncluded) {
    HotFolderList list;
    std::vector<std::string> names{"already"};
    list.GetNames(names);
    EXPECT_EQ(names, std::vector<std::string>{"already"});
    list.Add(Folder("z"));
    list.Add(Folder("same"));
    list.Add(Folder("same"));
    list.Remove(0);
    list.Add(Folder("a"));  // takes id 0 again
    list.GetNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"already", "a", "same", "same"}));
}

TEST(HotFolderList, EmptyListSleepsTheLongestAndDoesNothing) {
    ListRig rig;
    EXPECT_EQ(rig.list.GetCount(), 0u);
    EXPECT_EQ(rig.list.GetTimeToNextScan(rig.clock), 20000u);
    rig.StartRun();
    rig.ScanDue();
    rig.list.StopAll();
    EXPECT_EQ(rig.lister.ListCalls(), 0);
}

struct SleepCase {
    const char* name;
    std::uint32_t lastScan;
    std::uint32_t now;
    std::int32_t scanTime;
    std::uint32_t expected;
};

class TimeToNextScan : public ::testing::TestWithParam<SleepCase> {};

TEST_P(TimeToNextScan, IsTheTimeLeftCappedAt20Seconds) {
    const SleepCase& c = GetParam();
    ListRig rig;
    rig.list.Add(Folder("f", c.scanTime));
    rig.clock.Set(c.lastScan);
    rig.StartRun();
    rig.clock.Set(c.now);
    EXPECT_EQ(rig.list.GetTimeToNextScan(rig.clock), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimeToNextScan,
    // Due once more than the scan time has passed: the time left counts to
    // the first millisecond past it.
    ::testing::Values(SleepCase{"two_seconds_into_five", 1000, 3000, 5, 3001},
                      SleepCase{"long_scan_time_is_capped", 1000, 3000, 60, 20000},
                      SleepCase{"overdue_is_zero", 1000, 9000, 5, 0},
                      SleepCase{"exactly_the_scan_time_is_one_more", 1000, 6000, 5, 1},
                      SleepCase{"zero_scan_time_is_due_a_millisecond_later", 1000, 1000, 0, 1},
                      SleepCase{"negative_scan_time_is_as_zero", 1000, 1000, -1, 1},
                      // Across the tick's wrap: stamped 1 s before the wrap, 1 s after it
                      // 2 s have passed, 3 s remain.
                      SleepCase{"across_the_wrap", 0xFFFFFFFFu - 999u, 1000u, 5, 3001},
                      // Stamped just before the wrap and asked just before it too: not
                      // overdue, though its due tick is numerically below now.
                      SleepCase{"due_after_the_wrap_not_overdue", 0xFFFFF000u, 0xFFFFF100u, 5,
                                5000 - 0x100 + 1}),
    [](const auto& info) { return std::string(info.param.name); });

// The worker sleeps for GetTimeToNextScan and then scans what is due: a
// folder it wakes for at 0 ms is scanned then, and one it would not scan
// never wakes it at 0 ms.
TEST(HotFolderList, AFolderIsDueByTheRuleTheWorkerSleepsBy) {
    struct Case {
        const char* name;
        std::int32_t scanTime;
        std::uint32_t elapsed;
        bool due;
    };
    const Case cases[] = {
        {"exactly_the_scan_time", 1, 1000, false},
        {"a_millisecond_more", 1, 1001, true},
        {"zero_scan_time_at_once", 0, 0, false},
        {"zero_scan_time_a_millisecond_later", 0, 1, true},
        {"negative_scan_time", -5, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ListRig rig;
        rig.list.Add(Folder("f", c.scanTime));
        rig.StartRun();
        rig.clock.Advance(c.elapsed);
        EXPECT_EQ(rig.list.GetTimeToNextScan(rig.clock) == 0, c.due);
        rig.ScanDue();
        EXPECT_EQ(rig.lister.ListCalls(), c.due ? 1 : 0);
    }
}

TEST(HotFolderList, FolderWithAMissingPathIsStillCheckedAndResumes) {
    ListRig rig;
    rig.lister.RemoveFolder("/hf");  // every scan will find a bad path
    rig.list.Add(Folder("error", 1));
    rig.StartRun();
    rig.clock.Advance(1001);
    rig.ScanDue();
    ASSERT_EQ(rig.State(0), HF_STATE_ERROR);
    EXPECT_EQ(rig.list.GetTimeToNextScan(rig.clock), 1001u);
    rig.clock.Advance(1001);
    rig.ScanDue();
    EXPECT_EQ(rig.State(0), HF_STATE_ERROR);
    rig.lister.AddFolder("/hf");
    rig.clock.Advance(1001);
    rig.ScanDue();
    EXPECT_EQ(rig.State(0), HF_STATE_RUNNING);
    // Waiting folders count for nothing.
    rig.list.StopAll();
    EXPECT_EQ(rig.list.GetTimeToNextScan(rig.clock), 20000u);
}

TEST(HotFolderList, ScanDueScansNoFurtherFolderOnceStopIsRequested) {
    ListRig rig;
    rig.lister.AddFolder("/hf2");
    rig.list.Add(Folder("a", 1));
    rig.list.Add(Folder("b", 1, "/hf2"));
    rig.StartRun();
    rig.clock.Advance(1001);
    rig.stop.Request();
    rig.ScanDue();
    EXPECT_EQ(rig.lister.ListCalls(), 0);
    rig.stop.Clear();
    rig.ScanDue();
    EXPECT_EQ(rig.lister.ListCalls(), 2);
}

TEST(HotFolderList, ScanDueNeedsStrictlyMoreThanTheScanTime) {
    ListRig rig;
    rig.list.Add(Folder("five", 5));
    rig.StartRun();  // stamped at 1000
    rig.clock.Set(6000);
    rig.ScanDue();
    EXPECT_EQ(rig.lister.ListCalls(), 0);
    rig.clock.Set(6001);
    rig.ScanDue();
    EXPECT_EQ(rig.lister.ListCalls(), 1);
    // The next turn counts from that scan.
    rig.clock.Set(11001);
    rig.ScanDue();
    EXPECT_EQ(rig.lister.ListCalls(), 1);
    rig.clock.Set(11002);
    rig.ScanDue();
    EXPECT_EQ(rig.lister.ListCalls(), 2);
}

TEST(HotFolderList, ScanDueAcrossTheWrap) {
    ListRig rig;
    rig.list.Add(Folder("five", 5));
    rig.clock.Set(0xFFFFFFFFu - 1000u);
    rig.StartRun();
    rig.clock.Set(3999u);  // 5000 ms later, modulo 2^32
    rig.ScanDue();
    EXPECT_EQ(rig.lister.ListCalls(), 0);
    rig.clock.Set(4000u);
    rig.ScanDue();
    EXPECT_EQ(rig.lister.ListCalls(), 1);
}

TEST(HotFolderList, ZeroScanTimeIsDueOnceAMillisecondHasPassed) {
    ListRig rig;
    rig.list.Add(Folder("zero", 0));
    rig.StartRun();
    rig.ScanDue();
    EXPECT_EQ(rig.lister.ListCalls(), 0);
    rig.clock.Advance(1);
    rig.ScanDue();
    EXPECT_EQ(rig.lister.ListCalls(), 1);
}

TEST(HotFolderList, AFolderWithWrongPrintSettingsIsNeverScanned) {
    ListRig rig;
    HotFolder wrong = Folder("wrong", 1);
    wrong.PrintSettings.Scaling = "stretch";
    rig.list.Add(wrong);
    rig.list.Add(Folder("right", 1, "/right"));
    rig.lister.AddFolder("/right");
    rig.lister.Put("/hf", Listed("a.jpg", 5));
    rig.StartRun();
    EXPECT_EQ(rig.State(0), HF_STATE_WAITING);
    EXPECT_EQ(rig.State(1), HF_STATE_RUNNING);
    HotFolder shown;
    ASSERT_TRUE(rig.list.Get(0, shown));
    EXPECT_EQ(shown.GetError(), HF_ERR_SETTINGS);
    EXPECT_EQ(shown.GetLastFailure().Reason,
              "Scaling=stretch: must be auto-fit, fit, fill or none");
    rig.clock.Advance(1001);
    rig.ScanDue();
    EXPECT_EQ(rig.lister.ListCalls(), 1);  // the right one's
    EXPECT_EQ(rig.list.GetSettingsProblems(),
              (std::vector<std::pair<int, std::string>>{
                  {0, "Scaling=stretch: must be auto-fit, fit, fill or none"}}));
}

TEST(HotFolderList, ResetAllForgetsFilesAndStartAllClearsErrors) {
    ListRig rig;
    rig.list.Add(Folder("f", 1));
    rig.lister.Put("/hf", Listed("a.jpg", 5));
    FakeImageLoader::Entry image;
    image.identity = Listed("a.jpg", 5).Identity;
    rig.images.Set("/hf/a.jpg", image);
    rig.spooler.newJobState = JobState::Pending;
    rig.StartRun();
    rig.clock.Advance(1001);
    rig.ScanDue();  // seen once
    // Restart: the table is forgotten, so the next scan sees the file anew.
    rig.list.StopAll();
    rig.StartRun();
    rig.clock.Advance(1001);
    rig.ScanDue();
    EXPECT_TRUE(rig.spooler.Jobs().empty());
    rig.clock.Advance(1001);
    rig.ScanDue();
    EXPECT_EQ(rig.spooler.Jobs().size(), 1u);
    // Another restart: the ledger remembers the job in flight.
    rig.list.StopAll();
    rig.StartRun();
    for (int i = 0; i < 3; ++i) {
        rig.clock.Advance(1001);
        rig.ScanDue();
    }
    EXPECT_EQ(rig.spooler.Jobs().size(), 1u);

    rig.lister.RemoveFolder("/hf");
    rig.clock.Advance(1001);
    rig.ScanDue();
    HotFolder out;
    rig.list.Get(0, out);
    EXPECT_EQ(out.GetError(), HF_ERR_PATH);
    rig.list.StopAll();
    rig.list.Get(0, out);
    EXPECT_EQ(out.GetState(), HF_STATE_WAITING);
    EXPECT_EQ(out.GetError(), HF_ERR_PATH);
    rig.StartRun();
    rig.list.Get(0, out);
    EXPECT_EQ(out.GetState(), HF_STATE_RUNNING);
    EXPECT_EQ(out.GetError(), HF_ERR_NONE);
}

// Takes any file for a small picture with the file's own identity, so that
// the real remover deletes it once printed. No decoder runs: its worker
// threads are not what these tests are about, and ThreadSanitizer cannot see
// inside them.
class AnyFileLoader final : public ImageLoader {
  public:
    Result<std::unique_ptr<Image>> Load(const std::string& path) override {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) {
            return {nullptr, Status::Failure(HF_ERR_NOT_IMAGE, "cannot open")};
        }
        return {std::make_unique<FakeImage>(100, 100, 0, 0, Status{}, IdentityOf(st)), {}};
    }
};

void Drop(const std::string& path) {
    std::ofstream(path) << "a picture";
}

// Hot folders on real folders, listed and deleted for real; the pictures
// and the printer are fakes (its jobs complete at once).
struct DiskListRig {
    TempDir dir;
    FakeClock clock{1000};
    PosixFolderLister lister;
    AnyFileLoader images;
    RecordingSpooler spooler;
    PosixFileRemover remover;
    FakeLedger ledger;
    RecordingLog log;
    EngineServices services{clock, lister, images, spooler, remover, ledger, log};
    StopFlag stop;
    HotFolderList list;

    void Run(int passes) {
        list.ResetAll(clock);
        list.StartAll();
        for (int i = 0; i < passes; ++i) {
            clock.Advance(5001);
            list.ScanDue(services, stop);
        }
    }
    HotFolder Get(int id) const {
        HotFolder out;
        EXPECT_TRUE(list.Get(id, out));
        return out;
    }
    std::vector<std::string> Sent() const {
        std::vector<std::string> out;
        for (const auto& job : spooler.Jobs()) out.push_back(job.docName);
        return out;
    }
};

TEST(HotFolderList, TwoHotFoldersOnOneFolderPrintItsFilesOnce) {
    struct Case {
        const char* name;
        std::function<std::string(const TempDir&)> second;  // the first is dir/hot
    } cases[] = {
        {"the same path twice", [](const TempDir& d) { return d / "hot"; }},
        {"with a trailing slash", [](const TempDir& d) { return d / "hot/"; }},
        {"through a link", [](const TempDir& d) { return d / "link"; }},
    };
    for (const Case& c : cases) {
        DiskListRig rig;
        ASSERT_EQ(mkdir((rig.dir / "hot").c_str(), 0755), 0);
        ASSERT_EQ(symlink((rig.dir / "hot").c_str(), (rig.dir / "link").c_str()), 0);
        Drop(rig.dir / "hot/a.jpg");
        Drop(rig.dir / "hot/b.png");
        // The second scans more often, yet the first in the list keeps the folder.
        rig.list.Add(HotFolder("First", rig.dir / "hot", "printer", 5));
        rig.list.Add(HotFolder("Second", c.second(rig.dir), "printer", 1));
        rig.Run(4);
        EXPECT_EQ(rig.Sent(), (std::vector<std::string>{"a.jpg", "b.png"})) << c.name;
        EXPECT_EQ(rig.Get(0).GetError(), HF_ERR_NONE) << c.name;
        const HotFolder second = rig.Get(1);
        EXPECT_EQ(second.GetState(), HF_STATE_ERROR) << c.name;
        EXPECT_EQ(second.GetError(), HF_ERR_DUPLICATE) << c.name;
        EXPECT_EQ(second.GetLastFailure().Reason, "hot folder \"First\" watches this folder")
            << c.name;
        int said = 0;
        for (const PrintLogEntry& e : rig.log.Entries()) {
            said += e.HotFolder == "Second" && e.Code == HF_ERR_DUPLICATE;
        }
        EXPECT_EQ(said, 1) << c.name << ": once, not at every check";

        // The first removed between runs: the second takes the folder over
        // at the next start, and prints what comes.
        rig.list.StopAll();
        rig.list.Remove(0);
        Drop(rig.dir / "hot/c.jpg");
        rig.Run(3);
        EXPECT_EQ(rig.Get(1).GetError(), HF_ERR_NONE) << c.name;
        EXPECT_EQ(rig.Sent(), (std::vector<std::string>{"a.jpg", "b.png", "c.jpg"})) << c.name;
    }
}

TEST(HotFolderList, FolderFoundInMidRunGoesToTheFirstInTheList) {
    // Both paths missing at the start; the folder appears while they run.
    // The second is checked first (shorter scan time) yet yields to the first.
    DiskListRig rig;
    const std::string hot = rig.dir / "hot";
    rig.list.Add(HotFolder("First", hot, "printer", 5));
    rig.list.Add(HotFolder("Second", hot + "/", "printer", 1));
    rig.Run(1);
    EXPECT_EQ(rig.Get(0).GetError(), HF_ERR_PATH);
    EXPECT_EQ(rig.Get(1).GetError(), HF_ERR_PATH);
    ASSERT_EQ(mkdir(hot.c_str(), 0755), 0);
    Drop(hot + "/a.jpg");
    rig.clock.Advance(1001);  // only the second is due
    rig.list.ScanDue(rig.services, rig.stop);
    EXPECT_EQ(rig.Get(1).GetError(), HF_ERR_DUPLICATE);
    for (int i = 0; i < 3; ++i) {
        rig.clock.Advance(5001);
        rig.list.ScanDue(rig.services, rig.stop);
    }
    EXPECT_EQ(rig.Get(0).GetError(), HF_ERR_NONE);
    EXPECT_EQ(rig.Get(1).GetError(), HF_ERR_DUPLICATE);
    EXPECT_EQ(rig.Sent(), std::vector<std::string>{"a.jpg"});
}

}  // namespace
