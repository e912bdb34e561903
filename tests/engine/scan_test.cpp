// Scans of real folders on disk, with the real listing, the real image
// loader and the real deletion; only the printer records instead of
// printing (its jobs complete at once), and the ledger and log are in memory.
#include "engine/hot_folder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "os/file_mover.h"
#include "os/folder_listing.h"
#include "page/vips_image.h"
#include "tests/engine/fakes.h"
#include "tests/support/images.h"
#include "tests/support/temp_dir.h"

using namespace tallowin;

namespace {

// A hot folder on a real folder, scanned with the real lister and remover;
// Loader reads the images (the real one, or a fake where decoding tests
// nothing).
template <class Loader>
struct DiskRigWith {
    TempDir dir;
    FakeClock clock;
    PosixFolderLister lister;
    Loader images;
    RecordingSpooler spooler;
    PosixFileRemover remover;
    FakeLedger ledger;
    RecordingLog log;
    StopFlag stop;
    PosixFileMover mover;
    EngineServices services{clock, lister, images, spooler, remover, ledger, log, nullptr, &mover};
    HotFolder folder;

    explicit DiskRigWith(const std::string& path = {}) : folder("Test", path, "printer", 5) {
        if (path.empty()) folder.SetFolderPath(dir.Path());
        folder.Reset(clock);
        folder.SetRunning();
    }
    void Scan(int times = 1) {
        for (int i = 0; i < times; ++i) {
            clock.Advance(5001);
            folder.Scan(services, stop);
        }
    }
    const FileEntry* File(const std::string& name) const {
        for (const FileEntry& e : folder.GetFiles()) {
            if (e.Name == name) return &e;
        }
        return nullptr;
    }
};
using DiskRig = DiskRigWith<VipsImageLoader>;

TEST(ScanOnDisk, PathsThatAreNotFoldersAreAPathError) {
    TempDir other;
    WriteFile(other / "file", "x");
    for (const std::string& path : {std::string(), other / "missing", other / "file"}) {
        DiskRig rig(path.empty() ? "" : path);
        rig.folder.SetFolderPath(path);
        rig.Scan();
        EXPECT_EQ(rig.folder.GetState(), HF_STATE_ERROR) << "'" << path << "'";
        EXPECT_EQ(rig.folder.GetError(), HF_ERR_PATH) << "'" << path << "'";
    }
}

TEST(ScanOnDisk, FolderRemovedWhileRunningBecomesAnError) {
    DiskRig rig;
    const std::string sub = rig.dir / "hot";
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    rig.folder.SetFolderPath(sub);
    rig.Scan();
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
    ASSERT_EQ(rmdir(sub.c_str()), 0);
    rig.Scan();
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_ERROR);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_PATH);
}

TEST(ScanOnDisk, EmptyFolderAndSubFoldersOnlyPrintNothing) {
    DiskRig rig;
    rig.Scan(2);
    EXPECT_TRUE(rig.folder.GetFiles().empty());
    ASSERT_EQ(mkdir((rig.dir / "sub").c_str(), 0755), 0);
    testimages::Write(rig.dir / "sub/inside.png", {});
    rig.Scan(3);
    EXPECT_TRUE(rig.folder.GetFiles().empty());
    EXPECT_TRUE(rig.spooler.Jobs().empty());
    EXPECT_TRUE(FileExists(rig.dir / "sub/inside.png"));
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
}

TEST(ScanOnDisk, SettledImageIsPrintedAtItsSizeOnPaperAndDeleted) {
    DiskRig rig;
    testimages::Write(rig.dir / "photo.jpg", {.Width = 3000, .Height = 2000, .Dpi = 300});
    rig.Scan();
    EXPECT_TRUE(rig.spooler.Jobs().empty()) << "printed by the scan that first saw it";
    rig.Scan();
    ASSERT_EQ(rig.spooler.Jobs().size(), 1u);
    EXPECT_EQ(rig.spooler.Jobs()[0].docName, "photo.jpg");
    EXPECT_EQ(rig.spooler.Jobs()[0].width, 4800);
    EXPECT_EQ(rig.spooler.Jobs()[0].height, 3200);
    EXPECT_TRUE(FileExists(rig.dir / "photo.jpg")) << "deleted before its job completed";
    rig.Scan();  // the job has completed
    EXPECT_FALSE(FileExists(rig.dir / "photo.jpg"));
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
    rig.Scan();
    EXPECT_TRUE(rig.folder.GetFiles().empty());
}

TEST(ScanOnDisk, PrintSettingsFilterNamesSendOptionsAndMovePrintedAndKeptFiles) {
    DiskRig rig;
    TempDir printed, kept;
    rig.folder.PrintSettings.Copies = "3";
    rig.folder.PrintSettings.Media = "A4";
    rig.folder.PrintSettings.Options = "job-priority=40";
    rig.folder.PrintSettings.AfterPrint = "move";
    rig.folder.PrintSettings.PrintedFolder = printed.Path();
    rig.folder.PrintSettings.KeptFolder = kept.Path();
    rig.folder.PrintSettings.Exclude = "*.part;.*";
    testimages::Write(rig.dir / "photo.png", {});
    WriteFile(printed / "photo.png", "an earlier photo of the same name");
    WriteFile(rig.dir / "coming.png.part", ReadFile(rig.dir / "photo.png"));
    WriteFile(rig.dir / ".hidden.png", ReadFile(rig.dir / "photo.png"));
    WriteFile(rig.dir / "notes.png", "text, whatever its name says");
    rig.Scan(3);  // settle, print, the job completes

    ASSERT_EQ(rig.spooler.Jobs().size(), 1u);
    EXPECT_EQ(rig.spooler.Jobs()[0].docName, "photo.png");
    // Asked once by the run's first scan, then opened for the job.
    ASSERT_EQ(rig.spooler.OpenedWith().size(), 2u);
    for (const std::vector<NamedValue>& options : rig.spooler.OpenedWith()) {
        EXPECT_EQ(options, (std::vector<NamedValue>{
                               {"job-priority", "40"}, {"copies", "3"}, {"media", "A4"}}));
    }
    EXPECT_FALSE(FileExists(rig.dir / "photo.png"));
    EXPECT_EQ(ReadFile(printed / "photo.png"), "an earlier photo of the same name");
    EXPECT_TRUE(FileExists(printed / "photo (2).png"));
    EXPECT_FALSE(FileExists(rig.dir / "notes.png"));
    EXPECT_TRUE(FileExists(kept / "notes.png"));
    EXPECT_TRUE(FileExists(rig.dir / "coming.png.part"));
    EXPECT_TRUE(FileExists(rig.dir / ".hidden.png"));
    EXPECT_EQ(rig.File("coming.png.part"), nullptr);
    for (const PrintLogEntry& entry : rig.log.Entries()) {
        EXPECT_EQ(entry.File.find("part"), std::string::npos) << entry.File;
        EXPECT_EQ(entry.File.find("hidden"), std::string::npos) << entry.File;
        if (entry.File == rig.dir / "notes.png") {
            EXPECT_EQ(entry.Code, HF_ERR_NOT_IMAGE);
            EXPECT_NE(entry.Reason.find("moved to " + (kept / "notes.png")), std::string::npos)
                << entry.Reason;
        }
    }
}

TEST(ScanOnDisk, APrintedFileThatCannotMoveStaysAndIsNeverSentAgain) {
    DiskRig rig;
    rig.folder.PrintSettings.AfterPrint = "move";
    rig.folder.PrintSettings.PrintedFolder = rig.dir / "printed";  // not there
    testimages::Write(rig.dir / "photo.png", {});
    rig.Scan(5);
    EXPECT_EQ(rig.spooler.Jobs().size(), 1u);
    EXPECT_TRUE(FileExists(rig.dir / "photo.png"));
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_NOT_DELETED);
    EXPECT_NE(rig.folder.GetLastFailure().Reason.find("not moved to " + (rig.dir / "printed")),
              std::string::npos)
        << rig.folder.GetLastFailure().Reason;
    // Once the folder is there, the next scan moves it.
    ASSERT_EQ(mkdir((rig.dir / "printed").c_str(), 0755), 0);
    rig.Scan();
    EXPECT_TRUE(FileExists(rig.dir / "printed/photo.png"));
    EXPECT_EQ(rig.spooler.Jobs().size(), 1u);
}

TEST(ScanOnDisk, LinksAndFifosAreNeverTouched) {
    DiskRig rig;
    TempDir outside;
    testimages::Write(outside / "secret.png", {});
    ASSERT_EQ(symlink((outside / "secret.png").c_str(), (rig.dir / "link.png").c_str()), 0);
    ASSERT_EQ(mkfifo((rig.dir / "pipe.png").c_str(), 0644), 0);
    testimages::Write(rig.dir / "real.png", {});
    rig.Scan(3);  // a fifo opened for reading would hang here
    ASSERT_EQ(rig.spooler.Jobs().size(), 1u);
    EXPECT_EQ(rig.spooler.Jobs()[0].docName, "real.png");
    EXPECT_TRUE(FileExists(rig.dir / "link.png"));
    EXPECT_TRUE(FileExists(outside / "secret.png"));
    EXPECT_TRUE(FileExists(rig.dir / "pipe.png"));
}

TEST(ScanOnDisk, FileStillGrowingWaitsForTwoScansWithTheSameSize) {
    DiskRig rig;
    const std::string path = rig.dir / "growing.png";
    testimages::Write(path, {});
    const std::string bytes = ReadFile(path);
    WriteFile(path, bytes.substr(0, bytes.size() / 2));
    rig.Scan();
    WriteFile(path, bytes);  // the writer finishes
    rig.Scan();
    EXPECT_TRUE(rig.spooler.Jobs().empty());
    rig.Scan();
    ASSERT_EQ(rig.spooler.Jobs().size(), 1u);
    rig.Scan();
    EXPECT_FALSE(FileExists(path));
}

TEST(ScanOnDisk, OneScanOpensThePrinterOnceAndAFailedJobOpensItAgain) {
    DiskRig rig;
    for (const char* name : {"a.png", "b.png", "c.png"}) testimages::Write(rig.dir / name, {});
    rig.Scan(2);
    EXPECT_EQ(rig.spooler.Jobs().size(), 3u);
    EXPECT_EQ(rig.spooler.Opened().size(), 1u);

    for (const char* name : {"d.png", "e.png"}) testimages::Write(rig.dir / name, {});
    rig.Scan();
    int prints = 0;
    rig.spooler.onPrint = [&](const std::string&) {
        if (++prints == 1) rig.spooler.printFailure = Status::Failure(HF_ERR_UNREACHABLE, "gone");
    };
    const std::size_t openedBefore = rig.spooler.Opened().size();
    rig.Scan();
    rig.spooler.onPrint = nullptr;
    // d printed; e failed and is retried later; each try after a failure
    // starts from a printer opened anew.
    EXPECT_EQ(rig.spooler.Jobs().size(), 4u);
    EXPECT_EQ(rig.spooler.Opened().size(), openedBefore + 1);
    rig.spooler.printFailure = {};
    rig.clock.Advance(60000);
    rig.Scan();
    EXPECT_EQ(rig.spooler.Jobs().size(), 5u);
    EXPECT_EQ(rig.spooler.Opened().size(), openedBefore + 2);
}

TEST(ScanOnDisk, FileThatIsNotAnImageStaysAndIsNotRetriedWhileUnchanged) {
    DiskRig rig;
    WriteFile(rig.dir / "notes.jpg", "this is text, whatever its name says");
    rig.Scan(4);
    EXPECT_TRUE(rig.spooler.Opened().empty());
    EXPECT_TRUE(FileExists(rig.dir / "notes.jpg"));
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_NOT_IMAGE);
    ASSERT_NE(rig.File("notes.jpg"), nullptr);
    EXPECT_EQ(rig.File("notes.jpg")->Mark, FileMark::Handled);
}

TEST(ScanOnDisk, TruncatedImageStaysAndNoJobIsSent) {
    DiskRig rig;
    testimages::Write(rig.dir / "half.jpg", {.Width = 400, .Height = 300});
    const std::string bytes = ReadFile(rig.dir / "half.jpg");
    WriteFile(rig.dir / "half.jpg", bytes.substr(0, bytes.size() / 2));
    rig.Scan(3);
    EXPECT_TRUE(rig.spooler.Jobs().empty());
    EXPECT_TRUE(FileExists(rig.dir / "half.jpg"));
    EXPECT_EQ(rig.folder.GetState(), HF_STATE_RUNNING);
    EXPECT_EQ(rig.folder.GetError(), HF_ERR_DAMAGED);
}

TEST(ScanOnDisk, ReadOnlyFolderPrintsOnceAndNeverAgain) {
    // Root deletes from read-only folders anyway, so the scan runs in a child
    // process with the rights of an ordinary user.
    TempDir dir;
    const passwd* nobody = getpwnam("nobody");
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_NE(nobody, nullptr);
        ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    }
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (root && (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)) _exit(10);
        const std::string hot = dir / "hot";
        if (mkdir(hot.c_str(), 0755) != 0) _exit(11);
        const int fd = open((hot + "/a.png").c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd < 0 || write(fd, "png!", 4) != 4) _exit(12);
        close(fd);
        if (chmod(hot.c_str(), 0555) != 0) _exit(13);

        FakeClock clock;
        PosixFolderLister lister;
        FakeImageLoader images;  // no image library in a forked child
        FakeImageLoader::Entry image;
        image.identity = lister.List(hot).at(0).Identity;
        images.Set(hot + "/a.png", image);
        RecordingSpooler spooler;
        PosixFileRemover remover;
        FakeLedger ledger;
        RecordingLog log;
        StopFlag stop;
        EngineServices services{clock, lister, images, spooler, remover, ledger, log};
        HotFolder folder("ro", hot, "printer", 5);
        folder.Reset(clock);
        folder.SetRunning();
        for (int i = 0; i < 5; ++i) {
            clock.Advance(5001);
            folder.Scan(services, stop);
        }
        // A restart on the same ledger must not print it again either.
        folder.Reset(clock);
        for (int i = 0; i < 3; ++i) {
            clock.Advance(5001);
            folder.Scan(services, stop);
        }
        chmod(hot.c_str(), 0755);
        const int jobs = static_cast<int>(spooler.Jobs().size());
        if (jobs != 1) _exit(20 + jobs);
        if (access((hot + "/a.png").c_str(), F_OK) != 0) _exit(30);
        if (folder.GetState() != HF_STATE_RUNNING || folder.GetError() != HF_ERR_NOT_DELETED) {
            _exit(31);
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "10-13: set-up failed; 2N: printed N times; 30: file lost; 31: wrong state";
}

// Loads whatever the process may open, as an image of the file's identity:
// the permission check is the kernel's, the decoding is left out.
class OpeningLoader final : public ImageLoader {
  public:
    int tries = 0;
    Result<std::unique_ptr<Image>> Load(const std::string& path) override {
        ++tries;
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return {nullptr, Status::Failure(HF_ERR_NOT_IMAGE,
                                             std::string("cannot open: ") + std::strerror(errno))};
        }
        struct stat st {};
        fstat(fd, &st);
        close(fd);
        const FileIdentity identity{static_cast<std::uint64_t>(st.st_dev),
                                    static_cast<std::uint64_t>(st.st_ino),
                                    static_cast<std::uint64_t>(st.st_size),
                                    st.st_mtim.tv_sec * 1'000'000'000 + st.st_mtim.tv_nsec};
        return {std::make_unique<FakeImage>(100, 100, 0, 0, Status{}, identity), {}};
    }
};

TEST(ScanOnDisk, FileKeptAsUnreadableIsPrintedOnceItsPermissionsAllow) {
    // Root reads any file, so the scan runs in a child process with the
    // rights of an ordinary user.
    TempDir dir;
    const passwd* nobody = getpwnam("nobody");
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_NE(nobody, nullptr);
        ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    }
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (root && (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)) _exit(10);
        const std::string file = dir / "a.jpg";
        const int fd = open(file.c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd < 0 || write(fd, "jpg!", 4) != 4) _exit(11);
        close(fd);
        if (chmod(file.c_str(), 0000) != 0) _exit(12);

        FakeClock clock;
        PosixFolderLister lister;
        OpeningLoader images;
        RecordingSpooler spooler;
        PosixFileRemover remover;
        FakeLedger ledger;
        RecordingLog log;
        StopFlag stop;
        EngineServices services{clock, lister, images, spooler, remover, ledger, log};
        HotFolder folder("perm", dir.Path(), "printer", 5);
        folder.Reset(clock);
        folder.SetRunning();
        const auto scan = [&](int times) {
            for (int i = 0; i < times; ++i) {
                clock.Advance(5001);
                folder.Scan(services, stop);
            }
        };
        scan(4);
        if (images.tries != 1 || !spooler.Jobs().empty()) _exit(20);
        if (folder.GetError() != HF_ERR_NOT_IMAGE) _exit(21);
        // The mode changes; size and modification time do not.
        if (chmod(file.c_str(), 0644) != 0) _exit(13);
        scan(1);
        if (!spooler.Jobs().empty()) _exit(30);  // settles first
        scan(3);
        if (spooler.Jobs().size() != 1) _exit(31);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "10-13: set-up failed; 20: tried again or sent while unreadable; 21: wrong error; "
           "30: not settled first; 31: not printed once after the chmod";
}

TEST(ScanOnDisk, SizeGrowingByExactly4GiBIsStillAChange) {
    // The low 32 bits of the size stay the same; the whole size in the
    // file's identity does not. The real lister reads a sparse file on disk;
    // the image loader is a fake, because the real one would read all 4 GiB
    // only to refuse a file that is no image, which tests nothing here and
    // took most of this suite's time.
    DiskRigWith<FakeImageLoader> rig;
    const auto mark = [&]() -> std::optional<FileMark> {
        const FileEntry* e = rig.File("sparse.bin");
        return e ? std::optional<FileMark>(e->Mark) : std::nullopt;
    };

    const std::string path = rig.dir / "sparse.bin";
    WriteFile(path, "0123456789");
    rig.Scan();
    ASSERT_EQ(truncate(path.c_str(), (off_t{1} << 32) + 10), 0);
    const Listing listing = rig.lister.List(rig.dir.Path());
    ASSERT_EQ(listing.size(), 1u);
    EXPECT_EQ(listing[0].Size, 10u);
    EXPECT_EQ(listing[0].Identity.Size, (std::uint64_t{1} << 32) + 10);

    rig.Scan();
    EXPECT_EQ(mark(), FileMark::Waiting);
    EXPECT_TRUE(rig.images.Loaded().empty());
    rig.Scan();
    // Settled now: handed to the print job (which refuses it: it is no
    // image) and kept.
    EXPECT_EQ(mark(), FileMark::Handled);
    EXPECT_EQ(rig.images.Loaded(), std::vector<std::string>{path});
    EXPECT_TRUE(rig.spooler.Jobs().empty());
    EXPECT_TRUE(FileExists(path));
}

}  // namespace
