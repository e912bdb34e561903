// Faults a hot folder meets when nobody watches it, with real parts: real
// folders, the real loader and remover, the private CUPS scheduler, the job
// ledger on disk. Each test checks that every file is printed exactly once
// once the fault has gone, that nothing is deleted unprinted, and what the
// log says.
#include <cups/cups.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "cups/cups_spooler.h"
#include "engine/hot_folder.h"
#include "os/file_identity.h"
#include "os/folder_listing.h"
#include "page/vips_image.h"
#include "store/job_ledger_file.h"
#include "tests/engine/fakes.h"
#include "tests/support/images.h"
#include "tests/support/process.h"
#include "tests/support/sandbox.h"
#include "tests/support/sandbox_jobs.h"
#include "tests/support/temp_dir.h"

using namespace tallowin;

namespace {

using Outcome = PrintLogEntry::Outcome;

class LogRecorder final : public PrintLog {
  public:
    void Record(const PrintLogEntry& entry) override {
        std::lock_guard<std::mutex> guard(lock_);
        entries_.push_back(entry);
    }
    int Count(Outcome outcome) const {
        std::lock_guard<std::mutex> guard(lock_);
        int n = 0;
        for (const auto& e : entries_) n += e.Result == outcome;
        return n;
    }
    std::vector<PrintLogEntry> Entries() const {
        std::lock_guard<std::mutex> guard(lock_);
        return entries_;
    }

  private:
    mutable std::mutex lock_;
    std::vector<PrintLogEntry> entries_;
};

// The number of jobs whose data the backend finished writing into dir.
int CapturedJobs(const std::string& dir) {
    int n = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        n += name.rfind("job-", 0) == 0 && entry.path().extension() == ".data";
    }
    return n;
}

// A hot folder scanned by hand, as the worker would, on the real adapters.
// The clock jumps a minute a scan (unless set), past any pause between
// retries.
class FaultRig {
  public:
    // The hot folder is a fresh folder, or folder when given.
    explicit FaultRig(std::string printer, std::string folder = {})
        : printer_(std::move(printer)), folder_path_(folder.empty() ? hot_.Path() : folder) {
        Restart();
    }

    // A new program: a fresh record and ledger object over the same files.
    void Restart() {
        ledger_ = std::make_unique<FileJobLedger>(state_ / "jobs.tsv");
        services_ = std::make_unique<EngineServices>(
            EngineServices{clock_, lister_, images_, spooler_, remover_, *ledger_, log_});
        folder_ = std::make_unique<HotFolder>("Faults", folder_path_, printer_, 1);
        StopStart();
    }
    // What Stop and Start do to every folder.
    void StopStart() {
        folder_->SetWaiting();
        folder_->Reset(clock_);
        folder_->SetRunning();
    }
    void Scan(int times = 1) {
        for (int i = 0; i < times; ++i) {
            clock_.Advance(stepMs_);
            folder_->Scan(*services_, never_);
        }
    }
    // Scans until done() holds, for at most 30 s of real time (the
    // scheduler completes jobs on its own time).
    bool ScanUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            Scan();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    std::string Path(const std::string& name) const { return folder_path_ + "/" + name; }
    std::string LedgerPath() const { return state_ / "jobs.tsv"; }
    const FileJobLedger& Ledger() const { return *ledger_; }
    // How far the clock jumps a scan (a minute unless set).
    void SetScanStep(std::uint32_t ms) { stepMs_ = ms; }
    HotFolder& Folder() { return *folder_; }
    FileJobLedger& Ledger() { return *ledger_; }
    const LogRecorder& Log() const { return log_; }

  private:
    TempDir hot_, state_;
    std::string printer_;
    std::string folder_path_;
    std::uint32_t stepMs_ = 61000;
    FakeClock clock_;
    PosixFolderLister lister_;
    VipsImageLoader images_;
    CupsSpooler spooler_;
    PosixFileRemover remover_;
    LogRecorder log_;
    NeverStop never_;
    std::unique_ptr<FileJobLedger> ledger_;
    std::unique_ptr<EngineServices> services_;
    std::unique_ptr<HotFolder> folder_;
};

const testimages::Recipe kPhoto{.Width = 600, .Height = 400, .Dpi = 300};

class Faults : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { sandbox::Home(); }
    void SetUp() override {
        ASSERT_FALSE(sandbox::Server().empty());
        sandbox::ClearJobs(sandbox::kQueue600);
    }
    static int Printed600() { return CapturedJobs(sandbox::OutputDir(sandbox::kQueue600)); }
};

TEST_F(Faults, SchedulerUnreachableWhileFilesArriveThenEachPrintsOnce) {
    FaultRig rig(sandbox::kQueue600);
    const std::string server = sandbox::Server();
    cupsSetServer("/nonexistent/tallowin-cups.sock");
    testimages::Write(rig.Path("a.jpg"), kPhoto);
    testimages::Write(rig.Path("b.png"), kPhoto);
    rig.Scan(3);
    EXPECT_EQ(rig.Folder().GetError(), HF_ERR_UNREACHABLE);
    EXPECT_TRUE(FileExists(rig.Path("a.jpg")) && FileExists(rig.Path("b.png")));
    EXPECT_GE(rig.Log().Count(Outcome::Kept), 2);

    cupsSetServer(server.c_str());
    ASSERT_TRUE(rig.ScanUntil(
        [&] { return !FileExists(rig.Path("a.jpg")) && !FileExists(rig.Path("b.png")); }));
    rig.Scan(3);
    EXPECT_EQ(Printed600(), 2);
    EXPECT_EQ(rig.Log().Count(Outcome::Sent), 2);
    EXPECT_EQ(rig.Log().Count(Outcome::Printed), 2);
    EXPECT_EQ(rig.Folder().GetError(), HF_ERR_NONE);
}

TEST_F(Faults, BackendFailureKeepsTheFileWithTheSchedulersReason) {
    FaultRig rig(sandbox::kQueueFail);
    testimages::Write(rig.Path("a.jpg"), kPhoto);
    ASSERT_TRUE(rig.ScanUntil([&] { return rig.Folder().GetError() == HF_ERR_JOB_FAILED; }));
    rig.Scan(3);
    EXPECT_TRUE(FileExists(rig.Path("a.jpg")));
    EXPECT_EQ(rig.Log().Count(Outcome::Sent), 1) << "an aborted job is not sent again";
    EXPECT_EQ(rig.Log().Count(Outcome::Printed), 0);
    bool reasoned = false;
    for (const auto& e : rig.Log().Entries()) {
        reasoned |= e.Result == Outcome::Kept && e.Code == HF_ERR_JOB_FAILED && !e.Reason.empty();
    }
    EXPECT_TRUE(reasoned);
}

TEST_F(Faults, QueueDeletedAndAddedAgainPrintsOnce) {
    TempDir out;
    ASSERT_EQ(chmod(out.Path().c_str(), 0777), 0);  // the backend runs as lp
    const std::string queue = "tallowin-fault";
    const std::string add =
        "lpadmin -h " + ShellQuote(sandbox::Server()) + " -p " + queue + " -E -v " +
        ShellQuote("tallowin-capture:" + out.Path()) + " -P " +
        ShellQuote(std::string(TALLOWIN_SOURCE_DIR) + "/scripts/cups-sandbox.d/tallowin-600.ppd");
    const std::string remove = "lpadmin -h " + ShellQuote(sandbox::Server()) + " -x " + queue;
    RunCommand(remove + " 2>/dev/null");

    FaultRig rig(queue);
    testimages::Write(rig.Path("a.jpg"), kPhoto);
    rig.Scan(3);
    EXPECT_EQ(rig.Folder().GetError(), HF_ERR_PRINTER);
    EXPECT_TRUE(FileExists(rig.Path("a.jpg")));

    ASSERT_EQ(RunCommand(add).ExitCode, 0);
    const bool printed = rig.ScanUntil([&] { return !FileExists(rig.Path("a.jpg")); });
    rig.Scan(2);
    RunCommand(remove);
    ASSERT_TRUE(printed);
    EXPECT_EQ(CapturedJobs(out.Path()), 1);
    EXPECT_EQ(rig.Log().Count(Outcome::Printed), 1);
    EXPECT_EQ(rig.Folder().GetError(), HF_ERR_NONE);
}

// How many captured jobs of dir carry each title.
std::map<std::string, int> CapturedTitles(const std::string& dir) {
    std::map<std::string, int> titles;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        if (entry.path().extension() == ".data") {
            std::filesystem::path title = entry.path();
            ++titles[ReadFile(title.replace_extension(".title"))];
        }
    }
    return titles;
}

std::map<std::string, int> OncePerName(const std::vector<std::string>& names) {
    std::map<std::string, int> once;
    for (const std::string& name : names) once[name] = 1;
    return once;
}

bool AllGone(const FaultRig& rig, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        if (FileExists(rig.Path(name))) return false;
    }
    return true;
}

// Holds queue's new jobs for as long as it lives, whatever the test does:
// the user's lpoptions ask for job-hold-until=indefinite, so the queue
// stays ready (a paused one needs attention, and its files are not sent),
// takes the jobs and prints none. On the way out the held jobs are
// released.
class HeldJobs {
  public:
    explicit HeldJobs(std::string queue) : queue_(std::move(queue)) {
        sandbox::SetLpoptions("Dest " + queue_ + " job-hold-until=indefinite\n");
    }
    ~HeldJobs() {
        sandbox::SetLpoptions("");
        const std::string server = ShellQuote(sandbox::Server());
        RunCommand("for job in $(lpstat -h " + server + " -o " + ShellQuote(queue_) +
                   " 2>/dev/null | awk '{print $1}'); do lp -h " + server +
                   " -i \"${job##*-}\" -H resume; done");
    }
    HeldJobs(const HeldJobs&) = delete;
    HeldJobs& operator=(const HeldJobs&) = delete;

  private:
    std::string queue_;
};

TEST_F(Faults, SchedulerKilledWithoutItsHistoryDeletesNoFileUnprintedAndPrintsEachOnce) {
    FaultRig rig(sandbox::kQueue600);
    std::vector<std::string> before, after;
    for (int i = 0; i < 10; ++i) {
        before.push_back("before-" + std::to_string(i) + ".jpg");
        after.push_back("after-" + std::to_string(i) + ".jpg");
    }
    // Ids from 1, so that those given again after the crash are the same.
    sandbox::CrashScheduler(true);
    {
        const HeldJobs held(sandbox::kQueue600);
        for (const std::string& name : before) testimages::Write(rig.Path(name), kPhoto);
        ASSERT_TRUE(rig.ScanUntil([&] { return rig.Log().Count(Outcome::Sent) == 10; }));
        // Killed with ten jobs pending; back with ids from 1 again.
        sandbox::CrashScheduler(true);
    }
    for (const std::string& name : after) testimages::Write(rig.Path(name), kPhoto);
    std::vector<std::string> all = before;
    all.insert(all.end(), after.begin(), after.end());
    // Scans closer than the grace for a job the scheduler does not know: the
    // new jobs take the lost ones' ids while those are still waited for.
    rig.SetScanStep(5000);
    const bool done = rig.ScanUntil([&] { return AllGone(rig, all); });
    rig.Scan(2);
    sandbox::WaitForJobs(sandbox::kQueue600, 20, 5000);
    EXPECT_TRUE(done);
    // What the log says of each file, for a failure to show how it came about.
    std::string history;
    for (const auto& e : rig.Log().Entries()) {
        history += "\n  " + e.File.substr(e.File.rfind('/') + 1) + " " +
                   std::to_string(static_cast<int>(e.Result)) + " job " + std::to_string(e.JobId) +
                   " " + e.Reason;
    }
    EXPECT_EQ(CapturedTitles(sandbox::OutputDir(sandbox::kQueue600)), OncePerName(all))
        << "every file printed once, none deleted unprinted; the log:" << history;
    EXPECT_EQ(rig.Log().Count(Outcome::Printed), 20);
    int sentAgain = 0;
    std::string reasons;
    for (const auto& e : rig.Log().Entries()) {
        sentAgain +=
            e.Result == Outcome::Sent && e.Reason.find("no longer knows") != std::string::npos;
        if (e.Result == Outcome::Sent && !e.Reason.empty()) reasons += "\n  " + e.Reason;
    }
    EXPECT_EQ(sentAgain, 10) << "each lost job said once, with why; sent again:" << reasons;
}

TEST_F(Faults, QueueDeletedWithJobsPendingAndAddedAgainPrintsThemOnce) {
    TempDir out;
    ASSERT_EQ(chmod(out.Path().c_str(), 0777), 0);  // the backend runs as lp
    const std::string queue = "tallowin-fault-pending";
    const std::string add =
        "lpadmin -h " + ShellQuote(sandbox::Server()) + " -p " + queue + " -E -v " +
        ShellQuote("tallowin-capture:" + out.Path()) + " -P " +
        ShellQuote(std::string(TALLOWIN_SOURCE_DIR) + "/scripts/cups-sandbox.d/tallowin-600.ppd");
    const std::string remove = "lpadmin -h " + ShellQuote(sandbox::Server()) + " -x " + queue;
    RunCommand(remove + " 2>/dev/null");
    ASSERT_EQ(RunCommand(add).ExitCode, 0);

    FaultRig rig(queue);
    const std::vector<std::string> names = {"a.jpg", "b.jpg", "c.jpg"};
    bool sent = false;
    {
        const HeldJobs held(queue);
        for (const std::string& name : names) testimages::Write(rig.Path(name), kPhoto);
        sent = rig.ScanUntil([&] { return rig.Log().Count(Outcome::Sent) == 3; });
        // Deleted with its jobs, and set up again.
        RunCommand(remove);
    }
    ASSERT_EQ(RunCommand(add).ExitCode, 0);
    const bool printed = rig.ScanUntil([&] { return AllGone(rig, names); });
    rig.Scan(2);
    RunCommand(remove);
    ASSERT_TRUE(sent);
    EXPECT_TRUE(printed);
    EXPECT_EQ(CapturedTitles(out.Path()), OncePerName(names));
    EXPECT_EQ(rig.Log().Count(Outcome::Printed), 3);
}

TEST_F(Faults, SendsCutShortByAKilledServiceAreResolvedWithTheScheduler) {
    FaultRig rig(sandbox::kQueue600);
    CupsSpooler spooler;
    const NeverStop never;
    // "pageless.jpg": the job was made and told, and the service was killed
    // before its page went. "unmade.jpg": killed before the job was made.
    const std::vector<std::string> names = {"pageless.jpg", "unmade.jpg"};
    for (const std::string& name : names) testimages::Write(rig.Path(name), kPhoto);
    const int pageless = sandbox::CreateDocumentlessJob(sandbox::kQueue600, "pageless.jpg");
    ASSERT_GT(pageless, 0) << cupsLastErrorString();
    const Result<std::vector<FoundJob>> made =
        spooler.FindJobs(sandbox::kQueue600, "pageless.jpg", 0, never);
    ASSERT_TRUE(made.Ok() && made.Value.size() == 1u) << made.Error.Reason;
    for (const std::string& name : names) {
        struct stat st {};
        ASSERT_EQ(stat(rig.Path(name).c_str(), &st), 0);
        JobRecord record;
        record.FolderPath = rig.Folder().GetFolderPath();
        record.FileName = name;
        record.Identity = IdentityOf(st);
        record.PrinterName = sandbox::kQueue600;
        record.State = JobRecord::Stage::Sending;
        if (name == "pageless.jpg") {
            record.JobId = pageless;
            record.JobUuid = made.Value[0].Ticket.Uuid;
            record.CreatedAt = made.Value[0].Ticket.CreatedAt;
        }
        ASSERT_TRUE(rig.Ledger().Put(record).Ok());
    }
    rig.Restart();
    ASSERT_TRUE(rig.ScanUntil([&] { return AllGone(rig, names); }));
    sandbox::WaitForJobs(sandbox::kQueue600, 2, 5000);
    EXPECT_EQ(CapturedTitles(sandbox::OutputDir(sandbox::kQueue600)), OncePerName(names));
    const JobStatus cancelled = spooler.QueryJob(sandbox::kQueue600, made.Value[0].Ticket, never);
    EXPECT_EQ(cancelled.State, JobState::Failed) << "the job without its page is cancelled";
    EXPECT_EQ(rig.Log().Count(Outcome::Kept), 0) << "nobody is asked to decide";
    EXPECT_EQ(rig.Log().Count(Outcome::Sent), 2);
}

// A small ext4 file system in an image, mounted over a loop device: a stick
// or a share that can go and come back under another device number. Every
// mount and loop device it made goes with it, whatever the test did.
class LoopDisk {
  public:
    explicit LoopDisk(const TempDir& dir)
        : image_(dir / "disk.img"), blocker_(dir / "blocker.img"), mountPoint_(dir / "mnt") {
        made_ = mkdir(mountPoint_.c_str(), 0755) == 0 &&
                RunCommand("truncate -s 16M " + ShellQuote(image_) + " && truncate -s 1M " +
                           ShellQuote(blocker_) + " && mkfs.ext4 -q -F " + ShellQuote(image_) +
                           " 2>/dev/null")
                        .ExitCode == 0;
    }
    ~LoopDisk() {
        Unmount();
        for (const std::string& loop : blockers_) Detach(loop);
    }
    LoopDisk(const LoopDisk&) = delete;
    LoopDisk& operator=(const LoopDisk&) = delete;

    const std::string& MountPoint() const { return mountPoint_; }
    // Mounts the file system over a loop device other than the one it had
    // before (held by a blocker meanwhile). False when it cannot.
    bool Mount() {
        if (!made_ || !loop_.empty()) return false;
        for (int i = 0; i < 8 && !last_.empty(); ++i) {
            const std::string blocker = Attach(blocker_);
            if (blocker.empty()) return false;
            blockers_.push_back(blocker);
            if (blocker == last_) break;
        }
        loop_ = Attach(image_);
        if (loop_.empty()) return false;
        if (RunCommand("mount -t ext4 " + ShellQuote(loop_) + " " + ShellQuote(mountPoint_))
                .ExitCode != 0) {
            Detach(loop_);
            loop_.clear();
            return false;
        }
        last_ = loop_;
        return true;
    }
    void Unmount() {
        if (loop_.empty()) return;
        RunCommand("umount " + ShellQuote(mountPoint_));
        Detach(loop_);
        loop_.clear();
    }

  private:
    static std::string Attach(const std::string& file) {
        const CommandResult done = RunCommand("losetup -f --show " + ShellQuote(file));
        std::string loop = done.Output.substr(0, done.Output.find('\n'));
        return done.ExitCode == 0 ? loop : std::string();
    }
    static void Detach(const std::string& loop) { RunCommand("losetup -d " + ShellQuote(loop)); }

    std::string image_, blocker_, mountPoint_;
    bool made_ = false;
    std::string loop_, last_;
    std::vector<std::string> blockers_;
};

TEST_F(Faults, StickMountedAgainUnderAnotherDeviceNumberPrintsNothingTwice) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a loop device takes root";
    TempDir dir;
    LoopDisk disk(dir);
    if (!disk.Mount()) GTEST_SKIP() << "no loop device or ext4 here";
    struct stat before {};
    ASSERT_EQ(stat(disk.MountPoint().c_str(), &before), 0);
    std::vector<std::string> names;
    for (int i = 0; i < 5; ++i) names.push_back("stick-" + std::to_string(i) + ".jpg");
    FaultRig rig(sandbox::kQueue600, disk.MountPoint());
    {
        const HeldJobs held(sandbox::kQueue600);
        for (const std::string& name : names) testimages::Write(rig.Path(name), kPhoto);
        ASSERT_TRUE(rig.ScanUntil([&] { return rig.Log().Count(Outcome::Sent) == 5; }));
        disk.Unmount();
        ASSERT_TRUE(disk.Mount());
    }
    struct stat after {};
    ASSERT_EQ(stat(disk.MountPoint().c_str(), &after), 0);
    ASSERT_NE(before.st_dev, after.st_dev) << "the same device number proves nothing";

    // A new run on the same ledger meets the files under the new number.
    rig.Restart();
    ASSERT_TRUE(rig.ScanUntil([&] { return AllGone(rig, names); }));
    rig.Scan(2);
    sandbox::WaitForJobs(sandbox::kQueue600, 5, 5000);
    EXPECT_EQ(CapturedTitles(sandbox::OutputDir(sandbox::kQueue600)), OncePerName(names));
    EXPECT_EQ(rig.Log().Count(Outcome::Sent), 5) << "nothing sent again";
}

TEST_F(Faults, FolderRemovedAndCreatedAgainResumes) {
    FaultRig rig(sandbox::kQueue600);
    const std::string hot = rig.Folder().GetFolderPath();
    ASSERT_EQ(rmdir(hot.c_str()), 0);
    rig.Scan();
    EXPECT_EQ(rig.Folder().GetState(), HF_STATE_ERROR);
    EXPECT_EQ(rig.Folder().GetError(), HF_ERR_PATH);
    ASSERT_EQ(mkdir(hot.c_str(), 0755), 0);
    rig.Scan();
    EXPECT_EQ(rig.Folder().GetState(), HF_STATE_RUNNING);
    testimages::Write(rig.Path("a.jpg"), kPhoto);
    ASSERT_TRUE(rig.ScanUntil([&] { return !FileExists(rig.Path("a.jpg")); }));
    EXPECT_EQ(Printed600(), 1);
}

TEST_F(Faults, DamagedFileCompletedLaterPrintsOnce) {
    FaultRig rig(sandbox::kQueue600);
    const std::string path = rig.Path("late.jpg");
    testimages::Write(path, kPhoto);
    const std::string whole = ReadFile(path);
    WriteFile(path, whole.substr(0, whole.size() * 6 / 10));
    rig.Scan(3);
    EXPECT_EQ(rig.Folder().GetError(), HF_ERR_DAMAGED);
    EXPECT_EQ(rig.Log().Count(Outcome::Kept), 1) << "not tried again while unchanged";
    EXPECT_EQ(Printed600(), 0);

    WriteFile(path, whole);
    ASSERT_TRUE(rig.ScanUntil([&] { return !FileExists(path); }));
    rig.Scan(2);
    EXPECT_EQ(Printed600(), 1);
    EXPECT_EQ(rig.Log().Count(Outcome::Printed), 1);
}

// A child process that holds a file open for writing until released.
class Writer {
  public:
    explicit Writer(const std::string& path) {
        int ready[2];
        if (pipe(release_) != 0 || pipe(ready) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(release_[1]);  // or the read below would never see the end
            const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
            char byte = 0;
            [[maybe_unused]] ssize_t n = write(ready[1], &byte, 1);
            n = read(release_[0], &byte, 1);
            close(fd);
            _exit(0);
        }
        close(release_[0]);
        close(ready[1]);
        char byte = 0;
        [[maybe_unused]] const ssize_t n = read(ready[0], &byte, 1);
        close(ready[0]);
    }
    ~Writer() { Release(); }
    void Release() {
        if (pid_ <= 0) return;
        close(release_[1]);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    int release_[2] = {-1, -1};
    pid_t pid_ = -1;
};

TEST_F(Faults, FileHeldOpenByAWriterIsNeverPrintedEarly) {
    FaultRig rig(sandbox::kQueue600);
    const std::string path = rig.Path("held.jpg");
    testimages::Write(path, kPhoto);
    Writer writer(path);
    rig.Scan(4);
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(rig.Log().Count(Outcome::Sent), 0);
    writer.Release();
    ASSERT_TRUE(rig.ScanUntil([&] { return !FileExists(path); }));
    EXPECT_EQ(Printed600(), 1);
}

// Makes a folder immutable, so that not even root can delete from it: a
// read-only folder for this process. Undone when it goes.
class Immutable {
  public:
    explicit Immutable(const std::string& path) {
        fd_ = open(path.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd_ < 0 || ioctl(fd_, FS_IOC_GETFLAGS, &flags) != 0) return;
        flags |= FS_IMMUTABLE_FL;
        set_ = ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ~Immutable() { Undo(); }
    bool Set() const { return set_; }
    void Undo() {
        int flags = 0;
        if (set_ && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ioctl(fd_, FS_IOC_SETFLAGS, &flags);
        }
        set_ = false;
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
    bool set_ = false;
};

TEST_F(Faults, ReadOnlyFolderPrintsItsFileOnceAcrossStopStartAndRestart) {
    FaultRig rig(sandbox::kQueue600);
    const std::string path = rig.Path("stuck.jpg");
    testimages::Write(path, kPhoto);
    Immutable readOnly(rig.Folder().GetFolderPath());
    if (!readOnly.Set()) GTEST_SKIP() << "this file system cannot make a folder immutable";

    ASSERT_TRUE(rig.ScanUntil([&] { return rig.Folder().GetError() == HF_ERR_NOT_DELETED; }));
    rig.StopStart();
    rig.Scan(3);
    rig.Restart();
    rig.Scan(3);
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(Printed600(), 1);
    EXPECT_EQ(rig.Log().Count(Outcome::Sent), 1);
    EXPECT_GE(rig.Log().Count(Outcome::NotDeleted), 1);

    readOnly.Undo();  // the folder becomes writable: the delete goes through
    ASSERT_TRUE(rig.ScanUntil([&] { return !FileExists(path); }));
    EXPECT_EQ(Printed600(), 1);
}

TEST_F(Faults, ALedgerDamagedWhileJobsWaitSendsNothingTwice) {
    struct Case {
        const char* Name;
        std::function<void(const std::string& path)> Damage;
    } cases[] = {
        // Every kind of damage is in the ledger's own tests; here a damaged
        // file, and a folder where none can be read at all.
        {"cut in half",
         [](const std::string& p) {
             const std::string text = ReadFile(p);
             WriteFile(p, text.substr(0, text.size() / 2));
         }},
        {"a folder in its place",
         [](const std::string& p) {
             std::filesystem::remove(p);
             std::filesystem::create_directory(p);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        sandbox::ClearJobs(sandbox::kQueue600);
        FaultRig rig(sandbox::kQueue600);
        {
            const HeldJobs held(sandbox::kQueue600);
            testimages::Write(rig.Path("a.jpg"), kPhoto);
            testimages::Write(rig.Path("b.jpg"), kPhoto);
            ASSERT_TRUE(rig.ScanUntil([&] { return rig.Log().Count(Outcome::Sent) == 2; }));
            c.Damage(rig.LedgerPath());
            rig.Restart();
            EXPECT_EQ(rig.Ledger().LoadStatus().Code, HF_ERR_STATE);
            EXPECT_FALSE(rig.Ledger().RecordsLost()) << rig.Ledger().LoadStatus().Reason;
            rig.Scan(3);
            // The copy read may be older than the damaged file: a job it
            // does not know the id of is found at the scheduler and said
            // sent before, never sent again.
            int sends = 0;
            for (const PrintLogEntry& e : rig.Log().Entries()) {
                sends += e.Result == Outcome::Sent && e.Reason.rfind("sent before", 0) != 0;
            }
            EXPECT_EQ(sends, 2) << "the waiting files are not sent again";
        }
        ASSERT_TRUE(rig.ScanUntil(
            [&] { return !FileExists(rig.Path("a.jpg")) && !FileExists(rig.Path("b.jpg")); }));
        EXPECT_EQ(Printed600(), 2);
        EXPECT_EQ(rig.Log().Count(Outcome::Printed), 2);
    }
}

// A queue an operator stopped with a reason (cupsdisable -r), started
// again (cupsenable) when it goes, whatever the test did meanwhile.
class StoppedQueue {
  public:
    StoppedQueue(std::string queue, const std::string& reason) : queue_(std::move(queue)) {
        Run("cupsdisable -r " + ShellQuote(reason));
    }
    ~StoppedQueue() { Start(); }
    void Start() {
        if (!stopped_) return;
        Run("cupsenable");
        stopped_ = false;
    }
    StoppedQueue(const StoppedQueue&) = delete;
    StoppedQueue& operator=(const StoppedQueue&) = delete;

  private:
    void Run(const std::string& command) {
        const std::string line = "PATH=\"$PATH:/usr/sbin:/sbin\" " + command + " -h " +
                                 ShellQuote(sandbox::Server()) + " " + ShellQuote(queue_);
        const CommandResult done = RunCommand(line);
        EXPECT_EQ(done.ExitCode, 0) << line << ": " << done.Output;
    }
    std::string queue_;
    bool stopped_ = true;
};

// A printer out of paper, as its backend tells the scheduler (the sandbox
// backend's .trouble): the backend stops the queue with media-empty-error
// and its message. Refilled when the object goes, and the queue started.
class OutOfPaper {
  public:
    explicit OutOfPaper(std::string queue)
        : queue_(std::move(queue)), path_(sandbox::OutputDir(queue_) + "/.trouble") {
        WriteFile(path_, "media-empty-error\nOut of paper\n");
        chmod(path_.c_str(), 0644);  // the backend runs as lp
    }
    ~OutOfPaper() {
        Refilled();
        sandbox::SetQueueEnabled(queue_, true);
    }
    void Refilled() { unlink(path_.c_str()); }
    OutOfPaper(const OutOfPaper&) = delete;
    OutOfPaper& operator=(const OutOfPaper&) = delete;

  private:
    std::string queue_;
    std::string path_;
};

int CountWith(const LogRecorder& log, Outcome outcome, const std::string& words) {
    int n = 0;
    for (const auto& e : log.Entries()) {
        n += e.Result == outcome && e.Reason.find(words) != std::string::npos;
    }
    return n;
}

TEST_F(Faults, AQueueStoppedWithAReasonHoldsTheFileAndPrintsItOnceWhenStarted) {
    FaultRig rig(sandbox::kQueue600);
    StoppedQueue stopped(sandbox::kQueue600, "Out of paper");
    testimages::Write(rig.Path("photo.jpg"), kPhoto);
    ASSERT_TRUE(rig.ScanUntil([&] { return rig.Folder().GetError() == HF_ERR_PRINTER_ATTENTION; }));
    rig.Scan(3);
    EXPECT_EQ(rig.Folder().GetPrinterTrouble(), "Out of paper (paused)");
    EXPECT_EQ(rig.Folder().GetFilesWaiting(), 1);
    EXPECT_EQ(rig.Log().Count(Outcome::Sent), 0) << "nothing sent to a stopped queue";
    EXPECT_EQ(rig.Log().Count(Outcome::Kept), 0) << "waiting is no failure";
    EXPECT_EQ(CountWith(rig.Log(), Outcome::PrinterAttention, "Out of paper"), 1)
        << "said once, when it began";
    EXPECT_TRUE(FileExists(rig.Path("photo.jpg")));

    stopped.Start();
    ASSERT_TRUE(rig.ScanUntil([&] { return !FileExists(rig.Path("photo.jpg")); }));
    rig.Scan(2);
    sandbox::WaitForJobs(sandbox::kQueue600, 1, 5000);
    EXPECT_EQ(Printed600(), 1);
    EXPECT_EQ(rig.Log().Count(Outcome::PrinterReady), 1);
    EXPECT_EQ(rig.Log().Count(Outcome::PrinterAttention), 1);
    EXPECT_EQ(rig.Log().Count(Outcome::Sent), 1);
    EXPECT_EQ(rig.Folder().GetError(), HF_ERR_NONE);
}

TEST_F(Faults, APrinterOutOfPaperKeepsItsJobAndTheNextFileUntilRefilled) {
    FaultRig rig(sandbox::kQueue600);
    OutOfPaper empty(sandbox::kQueue600);
    testimages::Write(rig.Path("first.jpg"), kPhoto);
    // Sent while the printer looked ready; its backend then finds no paper.
    ASSERT_TRUE(rig.ScanUntil([&] { return rig.Log().Count(Outcome::Sent) == 1; }));
    ASSERT_TRUE(rig.ScanUntil([&] { return rig.Folder().GetError() == HF_ERR_PRINTER_ATTENTION; }));
    testimages::Write(rig.Path("second.jpg"), kPhoto);
    rig.Scan(3);
    const std::string trouble = rig.Folder().GetPrinterTrouble();
    EXPECT_NE(trouble.find("media-empty"), std::string::npos) << trouble;
    EXPECT_NE(trouble.find("Out of paper"), std::string::npos) << trouble;
    EXPECT_EQ(rig.Log().Count(Outcome::Sent), 1) << "the second file waits";
    EXPECT_EQ(Printed600(), 0);
    EXPECT_EQ(rig.Log().Count(Outcome::PrinterAttention), 1);

    empty.Refilled();
    sandbox::SetQueueEnabled(sandbox::kQueue600, true);
    ASSERT_TRUE(rig.ScanUntil(
        [&] { return !FileExists(rig.Path("first.jpg")) && !FileExists(rig.Path("second.jpg")); }));
    rig.Scan(2);
    sandbox::WaitForJobs(sandbox::kQueue600, 2, 5000);
    EXPECT_EQ(CapturedTitles(sandbox::OutputDir(sandbox::kQueue600)),
              OncePerName({"first.jpg", "second.jpg"}));
    EXPECT_EQ(rig.Log().Count(Outcome::PrinterReady), 1);
    EXPECT_EQ(rig.Log().Count(Outcome::Sent), 2);
}

}  // namespace
