// The worker's per-pass list operations, and the copy that the main window
// takes of every folder twice a second, beside a copy of only the six fields
// it shows, measured in the same run. Target: the display copy within 2 x
// the bare fields copy, whatever the size of the folders' file tables.
#include <benchmark/benchmark.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "scheduling/hot_folder_list.h"

using namespace tallowin;

namespace {

class StillClock final : public Clock {
  public:
    std::uint32_t Now() override { return now; }
    std::uint32_t now = 1000;
};

class BigLister final : public FolderLister {
  public:
    explicit BigLister(int files) {
        for (int i = 0; i < files; ++i)
            // Fixed-width numbers: pushed in ascending order, the listing stays sorted.
            listing.push_back(
                {"IMG_" + std::to_string(100000 + i) + ".jpg",
                 static_cast<std::uint32_t>(i),
                 {1, static_cast<std::uint64_t>(i), static_cast<std::uint64_t>(i), 0}});
    }
    // Every path its own folder.
    std::optional<FolderKey> FindFolder(const std::string& path) override {
        return FolderKey{1, std::hash<std::string>{}(path)};
    }
    Listing List(const std::string&) override { return listing; }
    WriterProbe ProbeWriter(const std::string&) override { return WriterProbe::NotOpen; }
    Listing listing;
};

// A first scan prints nothing, so none of these is asked for more than the
// (empty) records of a folder.
class Nothing final : public ImageLoader,
                      public Spooler,
                      public FileRemover,
                      public JobLedger,
                      public PrintLog,
                      public StopSignal {
  public:
    Result<std::unique_ptr<Image>> Load(const std::string&) override {
        return {nullptr, Status::Failure(HF_ERR_NOT_IMAGE, "none")};
    }
    Result<std::unique_ptr<Printer>> Open(const std::string&, const StopSignal&) override {
        return {nullptr, Status::Failure(HF_ERR_PRINTER, "none")};
    }
    JobStatus QueryJob(const std::string&, const JobTicket&, const StopSignal&) override {
        return {};
    }
    Result<std::vector<FoundJob>> FindJobs(const std::string&, const std::string&, std::int64_t,
                                           const StopSignal&) override {
        return {};
    }
    Status CancelJob(const std::string&, int, const StopSignal&) override { return {}; }
    Result<PrinterCondition> Condition(const std::string&, const StopSignal&) override {
        return {};
    }
    Status RemoveIfSame(const std::string&, const FileIdentity&) override {
        return Status::Failure(HF_ERR_NOT_DELETED, "none");
    }
    std::optional<JobRecord> Find(const std::string&, const std::string&) const override {
        return std::nullopt;
    }
    std::vector<JobRecord> InFolder(const std::string&) const override { return {}; }
    Status Put(const JobRecord&) override { return {}; }
    Status Update(const JobRecord&) override { return {}; }
    Status Erase(const std::string&, const std::string&) override { return {}; }
    bool RecordsLost() const override { return false; }
    void Record(const PrintLogEntry&) override {}
    bool Requested() const override { return false; }
};

// The six fields the hot folder table shows.
struct DisplayFields {
    std::string name, path, printer;
    std::int32_t scanTime, state, error;
};

// A list of `folders` running hot folders whose tables hold `files` entries.
struct Fixture {
    StillClock clock;
    BigLister lister;
    Nothing nothing;
    EngineServices services{clock, lister, nothing, nothing, nothing, nothing, nothing};
    HotFolderList list;
    std::vector<DisplayFields> bare;

    Fixture(int folders, int files) : lister(files) {
        for (int i = 0; i < folders; ++i) {
            HotFolder f("Hot folder " + std::to_string(i), "/srv/hot/folder-" + std::to_string(i),
                        "Office printer " + std::to_string(i % 3), 5 + i % 30);
            list.Add(f);
            bare.push_back({f.GetName(), f.GetFolderPath(), f.GetPrinterName(), f.GetScanTime(),
                            f.GetState(), f.GetError()});
        }
        list.ResetAll(clock);
        list.StartAll();
        if (files > 0) {
            clock.now += 60 * 1000;  // everything due: one scan fills the tables
            list.ScanDue(services, nothing);
        }
    }
};

void BM_GetTimeToNextScan(benchmark::State& state) {
    Fixture fx(static_cast<int>(state.range(0)), 0);
    for (auto _ : state) benchmark::DoNotOptimize(fx.list.GetTimeToNextScan(fx.clock));
}
BENCHMARK(BM_GetTimeToNextScan)->Arg(1000);

void BM_ScanDueNothingDue(benchmark::State& state) {
    Fixture fx(static_cast<int>(state.range(0)), 0);
    for (auto _ : state) fx.list.ScanDue(fx.services, fx.nothing);
}
BENCHMARK(BM_ScanDueNothingDue)->Arg(1000);

// What the window's refresh does: Get every folder by id.
void BM_DisplayCopy(benchmark::State& state) {
    Fixture fx(200, static_cast<int>(state.range(0)));
    HotFolder out;
    for (auto _ : state) {
        for (int id = 0; id < 200; ++id) {
            fx.list.Get(id, out);
            benchmark::DoNotOptimize(out);
        }
    }
}
BENCHMARK(BM_DisplayCopy)->Arg(0)->Arg(10000);

// What the refresh would cost if a copy carried the file table: every
// folder copied whole, as the record's own copy does.
void BM_FullCopy(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    Fixture fx(0, 0);
    StillClock clock;
    BigLister lister(files);
    EngineServices services{clock,      lister,     fx.nothing, fx.nothing,
                            fx.nothing, fx.nothing, fx.nothing};
    std::vector<HotFolder> whole;
    for (int i = 0; i < 200; ++i) {
        HotFolder f("Hot folder " + std::to_string(i), "/srv/hot/folder-" + std::to_string(i),
                    "Office printer " + std::to_string(i % 3), 5);
        f.Reset(clock);
        f.SetRunning();
        f.Scan(services, fx.nothing);  // fills the table
        whole.push_back(f);
    }
    HotFolder out;
    for (auto _ : state) {
        for (const HotFolder& f : whole) {
            out = f;
            benchmark::DoNotOptimize(out);
        }
    }
}
BENCHMARK(BM_FullCopy)->Arg(10000)->Unit(benchmark::kMillisecond);

// The floor: copying only the six displayed fields of the same folders.
void BM_BareFieldsCopy(benchmark::State& state) {
    Fixture fx(200, 0);
    DisplayFields out;
    for (auto _ : state) {
        for (const DisplayFields& f : fx.bare) {
            out = f;
            benchmark::DoNotOptimize(out);
        }
    }
}
BENCHMARK(BM_BareFieldsCopy);

}  // namespace

BENCHMARK_MAIN();
