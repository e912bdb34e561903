// A few hot folders on real folders while a writer drops and grows a few
// hundred files: every file must be printed exactly once, never while it is
// still growing, and none may be lost.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "os/file_identity.h"
#include "os/folder_listing.h"
#include "os/tick.h"
#include "scheduling/hot_folder_thread.h"
#include "tests/engine/fakes.h"
#include "tests/support/temp_dir.h"

using namespace tallowin;

namespace {

using namespace std::chrono_literals;

// What the writer has finished: path -> final size.
struct Ledger {
    std::mutex m;
    std::map<std::string, std::uint64_t> finished;
    std::map<std::string, int> printed;  // path -> times handed to the printer
    std::vector<std::string> violations;
};

// Loads any file, checking at that moment that the writer is done with it.
class CheckingLoader final : public ImageLoader {
  public:
    explicit CheckingLoader(Ledger& ledger) : ledger_(ledger) {}
    Result<std::unique_ptr<Image>> Load(const std::string& path) override {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0)
            return {nullptr, Status::Failure(HF_ERR_NOT_IMAGE, "gone")};
        {
            std::lock_guard g(ledger_.m);
            auto it = ledger_.finished.find(path);
            if (it == ledger_.finished.end() ||
                it->second != static_cast<std::uint64_t>(st.st_size)) {
                ledger_.violations.push_back("loaded while growing: " + path);
            }
            ++ledger_.printed[path];
        }
        // The same identity the real loader reports, or every file would
        // look replaced and never be deleted.
        const FileIdentity identity = IdentityOf(st);
        return {std::make_unique<FakeImage>(100, 100, 72, 72, Status{}, identity), {}};
    }

  private:
    Ledger& ledger_;
};

// Every job is taken and completes at once.
class CountingSpooler final : public Spooler {
  public:
    class CountingPrinter final : public Printer {
      public:
        CountingPrinter(const PageGeometry& g, std::atomic<int>& ids) : g_(g), ids_(ids) {}
        const PageGeometry& Geometry() const override { return g_; }
        using Printer::Print;
        Result<int> Print(const std::string&, PageWriter&, const StopSignal&,
                          const JobCreated&) override {
            return {++ids_, {}};
        }

      private:
        const PageGeometry& g_;
        std::atomic<int>& ids_;
    };
    Result<std::unique_ptr<Printer>> Open(const std::string&, const StopSignal&) override {
        return {std::make_unique<CountingPrinter>(geometry, ids), {}};
    }
    JobStatus QueryJob(const std::string&, const JobTicket&, const StopSignal&) override {
        return {JobState::Completed, {}};
    }
    Result<std::vector<FoundJob>> FindJobs(const std::string&, const std::string&, std::int64_t,
                                           const StopSignal&) override {
        return {};
    }
    Status CancelJob(const std::string&, int, const StopSignal&) override { return {}; }
    Result<PrinterCondition> Condition(const std::string&, const StopSignal&) override {
        return {};
    }
    PageGeometry geometry{600, 600, 4800, 6600, 612, 828, 18, 18};
    std::atomic<int> ids{0};
};

TEST(Soak, EveryFilePrintedOnceNeverWhileGrowingNoneLost) {
    constexpr int kFolders = 4;
    constexpr int kFilesPerFolder = 60;
    TempDir root;
    Ledger ledger;
    MonotonicClock clock;
    PosixFolderLister lister;
    CheckingLoader images(ledger);
    CountingSpooler spooler;
    PosixFileRemover remover;
    FakeLedger jobs;
    RecordingLog log;
    EngineServices services{clock, lister, images, spooler, remover, jobs, log};
    HotFolderList list;
    std::vector<std::string> folders;
    for (int i = 0; i < kFolders; ++i) {
        folders.push_back(root / ("hot" + std::to_string(i)));
        ASSERT_EQ(mkdir(folders.back().c_str(), 0755), 0);
        // One second between scans (the shortest a profile allows) against
        // about 0.1 s to write a file: the gap the rule "never while growing"
        // relies on, at half the wait of the drain below.
        list.Add(HotFolder("hot" + std::to_string(i), folders.back(), "p", 1));
    }
    HotFolderThread worker(services);
    worker.SetList(list);
    worker.Create();
    worker.Start();

    // The writer: each file grows in a few chunks with short pauses.
    std::thread writer([&] {
        std::mt19937 rng(42);
        for (int n = 0; n < kFilesPerFolder; ++n) {
            for (int f = 0; f < kFolders; ++f) {
                const std::string path = folders[f] + "/file-" + std::to_string(n) + ".jpg";
                const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
                ASSERT_GE(fd, 0);
                std::uint64_t size = 0;
                const int chunks = 1 + static_cast<int>(rng() % 4);
                for (int c = 0; c < chunks; ++c) {
                    const std::string data(100 + rng() % 5000, 'x');
                    ASSERT_EQ(write(fd, data.data(), data.size()),
                              static_cast<ssize_t>(data.size()));
                    size += data.size();
                    if (c + 1 < chunks) std::this_thread::sleep_for(10ms);
                }
                close(fd);
                std::lock_guard g(ledger.m);
                ledger.finished[path] = size;
            }
            std::this_thread::sleep_for(25ms);
        }
    });
    writer.join();

    // Drain: wait (bounded) until every file has been printed and deleted
    // (a file goes at the scan after its job completed).
    const auto allPrinted = [&] {
        std::lock_guard g(ledger.m);
        if (ledger.printed.size() != ledger.finished.size()) return false;
        for (const auto& [path, size] : ledger.finished) {
            if (FileExists(path)) return false;
        }
        return true;
    };
    for (int i = 0; i < 300 && !allPrinted(); ++i) std::this_thread::sleep_for(100ms);

    // A folder that disappears puts its hot folder in error; the others run on.
    std::filesystem::remove_all(folders[0]);
    bool error = false;
    for (int i = 0; i < 100 && !error; ++i) {
        HotFolder f;
        list.Get(0, f);
        error = f.GetState() == HF_STATE_ERROR && f.GetError() == HF_ERR_PATH;
        if (!error) std::this_thread::sleep_for(100ms);
    }
    HotFolder other;
    list.Get(1, other);
    worker.Quit();
    worker.Join();

    EXPECT_TRUE(error) << "removed folder never reported";
    EXPECT_EQ(other.GetState(), HF_STATE_RUNNING);
    std::lock_guard g(ledger.m);
    EXPECT_TRUE(ledger.violations.empty()) << ledger.violations.front();
    EXPECT_EQ(ledger.finished.size(), static_cast<size_t>(kFolders * kFilesPerFolder));
    for (const auto& [path, size] : ledger.finished) {
        const auto it = ledger.printed.find(path);
        EXPECT_TRUE(it != ledger.printed.end() && it->second == 1)
            << path << " printed " << (it == ledger.printed.end() ? 0 : it->second) << " times";
        EXPECT_FALSE(FileExists(path)) << path << " left behind";
    }
}

}  // namespace
