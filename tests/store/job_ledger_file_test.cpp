#include "store/job_ledger_file.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

using namespace tallowin;

// In the record's own namespace, where the assertions look for it.
namespace tallowin {
static bool operator==(const JobRecord& a, const JobRecord& b) {
    return a.FolderPath == b.FolderPath && a.FileName == b.FileName && a.Identity == b.Identity &&
           a.PrinterName == b.PrinterName && a.JobId == b.JobId && a.State == b.State &&
           a.JobUuid == b.JobUuid && a.CreatedAt == b.CreatedAt && a.RecordedAt == b.RecordedAt;
}
}  // namespace tallowin

namespace {

JobRecord Record(std::string folder, std::string file, int job,
                 JobRecord::Stage stage = JobRecord::Stage::Sent) {
    JobRecord r;
    r.FolderPath = std::move(folder);
    r.FileName = std::move(file);
    r.Identity = {2049, 131, 4096, -1'500'000'000};
    r.PrinterName = "tallowin-600";
    r.JobId = job;
    r.State = stage;
    r.JobUuid = "urn:uuid:2f6c0e0a-0000-3000-8000-00000000000" + std::to_string(job % 10);
    r.CreatedAt = 1'796'000'000 + job;
    r.RecordedAt = 1'795'999'999;
    return r;
}

TEST(FileJobLedger, KeepsEveryRecordAcrossReopeningWhateverItsPathHolds) {
    TempDir dir;
    const std::string path = dir / "state/jobs.tsv";
    const std::vector<JobRecord> records = {
        Record("/srv/hot", "plain.jpg", 1, JobRecord::Stage::Sending),
        Record("/srv/hot", "tab\there.jpg", 2, JobRecord::Stage::Sent),
        Record("/srv/hot", "new\nline\r.png", 3, JobRecord::Stage::Printed),
        Record("/srv/back\\slash", "\\t not a tab", 4, JobRecord::Stage::Failed),
        Record("/srv/caf\xe9", "\xff\xfe.tif", 5),
        Record("/srv/other", "plain.jpg", 6),
    };
    {
        FileJobLedger ledger(path);
        EXPECT_TRUE(ledger.LoadStatus().Ok()) << "no file yet is an empty ledger";
        for (const JobRecord& r : records) ASSERT_TRUE(ledger.Put(r).Ok());
    }
    struct stat st {};
    ASSERT_EQ(stat((dir / "state").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "the state folder is the user's alone";

    FileJobLedger reopened(path);
    EXPECT_TRUE(reopened.LoadStatus().Ok()) << reopened.LoadStatus().Reason;
    for (const JobRecord& r : records) {
        SCOPED_TRACE(r.FileName);
        const std::optional<JobRecord> found = reopened.Find(r.FolderPath, r.FileName);
        ASSERT_TRUE(found.has_value());
        EXPECT_TRUE(*found == r);
    }
    EXPECT_EQ(reopened.InFolder("/srv/hot").size(), 3u);
    EXPECT_EQ(reopened.InFolder("/srv/ho").size(), 0u) << "a folder is not a prefix";
}

TEST(FileJobLedger, PutReplacesAndEraseRemovesBeforeReturning) {
    TempDir dir;
    const std::string path = dir / "jobs.tsv";
    FileJobLedger ledger(path);
    ASSERT_TRUE(ledger.Put(Record("/hot", "a.jpg", 7, JobRecord::Stage::Sending)).Ok());
    ASSERT_TRUE(ledger.Put(Record("/hot", "a.jpg", 7, JobRecord::Stage::Sent)).Ok());
    ASSERT_TRUE(ledger.Put(Record("/hot", "b.jpg", 8)).Ok());
    EXPECT_EQ(FileJobLedger(path).Find("/hot", "a.jpg")->State, JobRecord::Stage::Sent);

    ASSERT_TRUE(ledger.Erase("/hot", "a.jpg").Ok());
    EXPECT_TRUE(ledger.Erase("/hot", "never.jpg").Ok()) << "nothing to erase is no failure";
    const FileJobLedger reopened(path);
    EXPECT_FALSE(reopened.Find("/hot", "a.jpg").has_value());
    EXPECT_TRUE(reopened.Find("/hot", "b.jpg").has_value());
}

// Counts the flushes of the files it writes.
class CountingSyncs final : public FileOps {
  public:
    int Sync(int fd) override {
        ++syncs;
        return FileOps::Sync(fd);
    }
    int syncs = 0;
};

TEST(FileJobLedger, OnlyPutFlushesAndAPowerCutBringsBackItsRecords) {
    TempDir dir;
    const std::string path = dir / "jobs.tsv";
    FileJobLedger ledger(path);
    ASSERT_TRUE(ledger.Put(Record("/hot", "a.jpg", 0, JobRecord::Stage::Sending)).Ok());
    ASSERT_TRUE(ledger.Update(Record("/hot", "a.jpg", 7, JobRecord::Stage::Sent)).Ok());
    ASSERT_TRUE(ledger.Update(Record("/hot", "b.jpg", 8)).Ok());
    ASSERT_TRUE(ledger.Erase("/hot", "b.jpg").Ok());
    const FileJobLedger reopened(path);
    EXPECT_EQ(reopened.Find("/hot", "a.jpg")->JobId, 7) << "the end of the program loses nothing";
    EXPECT_FALSE(reopened.Find("/hot", "b.jpg"));

    // A power cut that lost the unflushed file: the copy holds the last Put.
    WriteFile(path, "");
    const FileJobLedger cut(path);
    EXPECT_FALSE(cut.RecordsLost());
    EXPECT_EQ(cut.Find("/hot", "a.jpg")->State, JobRecord::Stage::Sending);

    const MirroredFile file(dir / "state.tsv", "the state", "end", "state ");
    for (const bool flushed : {true, false}) {
        CountingSyncs ops;
        ASSERT_TRUE(
            (flushed ? file.Store("state 1\n", ops) : file.StoreUnflushed("state 1\n", ops)).Ok);
        EXPECT_EQ(ops.syncs, flushed ? 2 : 0);
    }
}

// A ledger of three records written by this version: both copies exist.
std::vector<JobRecord> StoreThree(const std::string& path) {
    const std::vector<JobRecord> three = {Record("/hot", "a.jpg", 1), Record("/hot", "b.jpg", 2),
                                          Record("/hot", "c.jpg", 3)};
    FileJobLedger ledger(path);
    for (const JobRecord& r : three) EXPECT_TRUE(ledger.Put(r).Ok());
    return three;
}

TEST(FileJobLedger, ADamagedCopyIsKeptAsideAndTheOtherOneRead) {
    using Damage = std::function<void(const std::string& path)>;
    const Damage empty = [](const std::string& p) { WriteFile(p, ""); };
    const Damage half = [](const std::string& p) {
        const std::string text = ReadFile(p);
        WriteFile(p, text.substr(0, text.size() / 2));
    };
    const Damage lastLineGone = [](const std::string& p) {
        std::string text = ReadFile(p);
        text.pop_back();
        WriteFile(p, text.substr(0, text.rfind('\n') + 1));  // cut at a line break
    };
    const Damage garbage = [](const std::string& p) {
        WriteFile(p, std::string("\0\xff\x01zz", 5));
    };
    const Damage folder = [](const std::string& p) {
        ASSERT_EQ(unlink(p.c_str()), 0);
        ASSERT_EQ(mkdir(p.c_str(), 0700), 0);
    };
    const Damage flipped = [](const std::string& p) {
        std::string text = ReadFile(p);
        text[text.find("tallowin-600")] = 'T';  // still a record, not the one summed
        WriteFile(p, text);
    };
    const Damage gone = [](const std::string& p) { ASSERT_EQ(unlink(p.c_str()), 0); };
    enum Which { File = 1, Copy = 2, Both = 3 };
    struct Case {
        const char* Name;
        Which Damaged;
        Damage Apply;
        bool Lost;  // else all three are recovered
    } cases[] = {
        {"emptied", File, empty, false},
        {"cut in half", File, half, false},
        {"cut at a line break", File, lastLineGone, false},
        {"garbage", File, garbage, false},
        {"a folder in its place", File, folder, false},
        {"a record changed", File, flipped, false},
        {"deleted", File, gone, false},
        {"the copy emptied", Copy, empty, false},
        {"the copy cut in half", Copy, half, false},
        {"both garbage", Both, garbage, true},
        {"both cut at a line break", Both, lastLineGone, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        const std::string path = dir / "jobs.tsv";
        const std::string copy = path + ".copy";
        const std::vector<JobRecord> three = StoreThree(path);
        ASSERT_EQ(ReadFile(path), ReadFile(copy));
        if (c.Damaged & File) c.Apply(path);
        if (c.Damaged & Copy) c.Apply(copy);
        const bool fileLeft = FileExists(path);
        const std::string damagedText = (c.Damaged & Copy) ? ReadFile(copy) : "";

        FileJobLedger ledger(path);
        const Status& load = ledger.LoadStatus();
        EXPECT_EQ(load.Code, HF_ERR_STATE) << "damage is always reported";
        EXPECT_EQ(ledger.RecordsLost(), c.Lost) << load.Reason;
        EXPECT_NE(load.Reason.find(c.Damaged == Copy ? copy : path), std::string::npos)
            << load.Reason;
        EXPECT_NE(load.Reason.find(c.Lost ? "no longer known" : "3 job(s) in flight"),
                  std::string::npos)
            << load.Reason;
        EXPECT_EQ(ledger.InFolder("/hot").size(), c.Lost ? 0u : 3u);
        // Kept aside as it was, for a person.
        if ((c.Damaged & File) && fileLeft) {
            EXPECT_NE(load.Reason.find(path + ".bad"), std::string::npos) << load.Reason;
            EXPECT_TRUE(FileExists(path + ".bad"));
        }
        if (c.Damaged & Copy) {
            EXPECT_EQ(ReadFile(copy + ".bad"), damagedText);
        }

        // Reported once: the copies are whole again, or begun anew.
        ASSERT_TRUE(ledger.Put(Record("/hot", "d.jpg", 4)).Ok());
        const FileJobLedger again(path);
        EXPECT_TRUE(again.LoadStatus().Ok()) << again.LoadStatus().Reason;
        EXPECT_EQ(again.InFolder("/hot").size(), c.Lost ? 1u : 4u);
        EXPECT_EQ(ReadFile(path), ReadFile(copy));
    }
}

TEST(FileJobLedger, AFileOfTheVersionBeforeIsReadUntilACopyExists) {
    // As the version before wrote it: no uuid, no times, no end line.
    const std::string v1 = "tallowin-jobs\t1\n/hot\ta.jpg\t2049\t131\t4096\t-5\tp\t1\tsent\n";
    TempDir dir;
    const std::string path = dir / "jobs.tsv";
    WriteFile(path, v1);
    {
        FileJobLedger ledger(path);
        EXPECT_TRUE(ledger.LoadStatus().Ok()) << ledger.LoadStatus().Reason;
        EXPECT_TRUE(ledger.Find("/hot", "a.jpg").has_value());
        ASSERT_TRUE(ledger.Put(Record("/hot", "b.jpg", 2)).Ok());
    }
    EXPECT_NE(ReadFile(path).find("tallowin-jobs-end\t3\t"), std::string::npos) << ReadFile(path);
    // With a copy beside it, a file without end line was cut short.
    WriteFile(path, v1);
    const FileJobLedger ledger(path);
    EXPECT_FALSE(ledger.RecordsLost());
    EXPECT_NE(ledger.LoadStatus().Reason.find("without its end line"), std::string::npos);
    EXPECT_TRUE(ledger.Find("/hot", "b.jpg").has_value()) << "the copy's state";
}

TEST(FileJobLedger, AFileItCannotReadAndNoCopyAreReportedLost) {
    const std::string good = FormatJobLedger({Record("/hot", "a.jpg", 1)});
    struct Case {
        const char* Name;
        std::string Content;
    } cases[] = {
        {"empty", ""},
        {"another version", "tallowin-jobs\t3\n"},
        {"a first version's line in the second",
         "tallowin-jobs\t2\n/hot\ta.jpg\t1\t1\t1\t1\tp\t1\tsent\n"},
        {"no version line", good.substr(good.find('\n') + 1)},
        {"too few fields", "tallowin-jobs\t1\n/hot\ta.jpg\t1\t2\n"},
        {"a number that is none", "tallowin-jobs\t1\n/hot\ta.jpg\tx\t1\t1\t1\tp\t1\tsent\n"},
        {"an unknown stage", "tallowin-jobs\t1\n/hot\ta.jpg\t1\t1\t1\t1\tp\t1\tlost\n"},
        {"a bad escape", "tallowin-jobs\t1\n/h\\ot\ta.jpg\t1\t1\t1\t1\tp\t1\tsent\n"},
        {"cut short", good.substr(0, good.size() - 1)},
        {"a bad end line", good + "tallowin-jobs-end\t2\tnothex!!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        const std::string path = dir / "jobs.tsv";
        WriteFile(path, c.Content);
        WriteFile(path + ".bad", "an earlier one");
        FileJobLedger ledger(path);
        EXPECT_EQ(ledger.LoadStatus().Code, HF_ERR_STATE);
        EXPECT_TRUE(ledger.RecordsLost());
        EXPECT_NE(ledger.LoadStatus().Reason.find("jobs.tsv.bad.2"), std::string::npos)
            << ledger.LoadStatus().Reason;
        EXPECT_EQ(ReadFile(path + ".bad.2"), c.Content);
        EXPECT_EQ(ReadFile(path + ".bad"), "an earlier one") << "nothing kept is written over";
        EXPECT_TRUE(ledger.Put(Record("/hot", "b.jpg", 2)).Ok());
        EXPECT_EQ(ReadFile(path + ".bad.2"), c.Content) << "the unreadable file stays as it was";
    }
}

TEST(FileJobLedger, ADamagedFileThatCannotBeMovedAsideIsNeverWrittenOver) {
    TempDir dir;
    const std::string path = dir / "jobs.tsv";
    WriteFile(path, "garbage");
    WriteFile(path + ".bad", "");
    for (int n = 2; n < 100; ++n) WriteFile(path + ".bad." + std::to_string(n), "");
    FileJobLedger ledger(path);
    EXPECT_TRUE(ledger.RecordsLost());
    EXPECT_NE(ledger.LoadStatus().Reason.find("nor moved aside"), std::string::npos)
        << ledger.LoadStatus().Reason;
    EXPECT_EQ(ledger.Put(Record("/hot", "a.jpg", 1)).Code, HF_ERR_STATE);
    EXPECT_EQ(ledger.Erase("/hot", "a.jpg").Code, HF_ERR_STATE);
    EXPECT_EQ(ReadFile(path), "garbage");
    EXPECT_FALSE(FileExists(path + ".copy"));
}

TEST(FileJobLedger, AFileOnlyRootCouldReadIsRecoveredFromItsCopy) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads a file of mode 000";
    TempDir dir;
    const std::string path = dir / "jobs.tsv";
    StoreThree(path);
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    const FileJobLedger ledger(path);
    EXPECT_FALSE(ledger.RecordsLost());
    EXPECT_EQ(ledger.InFolder("/hot").size(), 3u);
    EXPECT_NE(ledger.LoadStatus().Reason.find(strerror(EACCES)), std::string::npos);
}

TEST(FileJobLedger, ReadsTheFirstVersionWithoutTheJobsUuidAndTimes) {
    TempDir dir;
    const std::string path = dir / "jobs.tsv";
    WriteFile(path, "tallowin-jobs\t1\n/hot\ta.jpg\t2049\t131\t4096\t-5\tp\t7\tsending\n");
    FileJobLedger ledger(path);
    ASSERT_TRUE(ledger.LoadStatus().Ok()) << ledger.LoadStatus().Reason;
    const std::optional<JobRecord> found = ledger.Find("/hot", "a.jpg");
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->JobId, 7);
    EXPECT_EQ(found->State, JobRecord::Stage::Sending);
    EXPECT_EQ(found->Identity, (FileIdentity{2049, 131, 4096, -5}));
    EXPECT_TRUE(found->JobUuid.empty());
    EXPECT_EQ(found->CreatedAt, 0);
    EXPECT_EQ(found->RecordedAt, 0);
    // Written back in the second version, every field kept.
    ASSERT_TRUE(ledger.Put(Record("/hot", "b.jpg", 8)).Ok());
    EXPECT_EQ(ReadFile(path).rfind("tallowin-jobs\t2\n", 0), 0u);
    EXPECT_TRUE(*FileJobLedger(path).Find("/hot", "a.jpg") == *found);
}

TEST(FileJobLedger, AChangeThatCannotBeStoredIsNotKept) {
    TempDir dir;
    const std::string path = dir / "state/jobs.tsv";
    FileJobLedger ledger(path);
    ASSERT_TRUE(ledger.Put(Record("/hot", "a.jpg", 1)).Ok());
    // Its folder gives way to a file: nothing can be stored there now.
    ASSERT_EQ(rename((dir / "state").c_str(), (dir / "moved").c_str()), 0);
    WriteFile(dir / "state", "");
    const Status put = ledger.Put(Record("/hot", "b.jpg", 2));
    const Status erased = ledger.Erase("/hot", "a.jpg");
    EXPECT_EQ(put.Code, HF_ERR_STATE) << put.Reason;
    EXPECT_EQ(erased.Code, HF_ERR_STATE) << erased.Reason;
    EXPECT_FALSE(ledger.Find("/hot", "b.jpg").has_value()) << "memory stays what the file holds";
    EXPECT_TRUE(ledger.Find("/hot", "a.jpg").has_value());
}

// A file system of its own, as small as asked, unmounted whatever the
// test's outcome.
class SmallTmpfs {
  public:
    SmallTmpfs(std::string path, const std::string& options) : path_(std::move(path)) {
        mounted_ = mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
        error_ = mounted_ ? 0 : errno;
    }
    ~SmallTmpfs() {
        if (mounted_) umount2(path_.c_str(), MNT_DETACH);
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;
    bool Mounted() const { return mounted_; }
    int Error() const { return error_; }

  private:
    std::string path_;
    bool mounted_ = false;
    int error_ = 0;
};

TEST(FileJobLedger, AFullDiskLeavesTheLastStoredStateReadable) {
    TempDir dir;
    const std::string small = dir / "small";
    ASSERT_EQ(mkdir(small.c_str(), 0700), 0);
    const SmallTmpfs fs(small, "size=64k");
    if (!fs.Mounted()) GTEST_SKIP() << "no tmpfs may be mounted here: " << strerror(fs.Error());
    const std::string path = small + "/jobs.tsv";
    FileJobLedger ledger(path);
    ASSERT_TRUE(ledger.Put(Record("/hot", "a.jpg", 1)).Ok());
    const std::string filler = small + "/filler";
    {
        std::FILE* out = std::fopen(filler.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        const std::string block(4096, 'x');
        while (std::fwrite(block.data(), 1, block.size(), out) == block.size()) {
        }
        std::fclose(out);
    }
    const Status full = ledger.Put(Record("/hot", "b.jpg", 2));
    EXPECT_EQ(full.Code, HF_ERR_STATE);
    EXPECT_NE(full.Reason.find(strerror(ENOSPC)), std::string::npos) << full.Reason;
    const FileJobLedger reopened(path);
    EXPECT_TRUE(reopened.LoadStatus().Ok()) << reopened.LoadStatus().Reason;
    EXPECT_TRUE(reopened.Find("/hot", "a.jpg").has_value());
    EXPECT_FALSE(reopened.Find("/hot", "b.jpg").has_value());

    ASSERT_EQ(unlink(filler.c_str()), 0);
    EXPECT_TRUE(ledger.Put(Record("/hot", "b.jpg", 2)).Ok()) << "room again: it goes on";
}

// Fails one rename of the store: the first is the copy's, the second the file's.
class FailingRename final : public FileOps {
  public:
    explicit FailingRename(int failing) : failing_(failing) {}
    int Rename(const std::string& from, const std::string& to) override {
        if (++count_ == failing_) {
            errno = EIO;
            return -1;
        }
        return FileOps::Rename(from, to);
    }

  private:
    int failing_;
    int count_ = 0;
};

TEST(MirroredFile, AStopBetweenTheTwoWritesLeavesAWholeStateInEach) {
    const auto readable = [](const std::string& body) { return body.rfind("state ", 0) == 0; };
    for (const int failing : {1, 2}) {
        SCOPED_TRACE(failing == 1 ? "at the copy" : "at the file");
        TempDir dir;
        const MirroredFile file(dir / "state.tsv", "the state", "end", "state ");
        ASSERT_TRUE(file.Store("state old\n").Ok);
        FailingRename ops(failing);
        EXPECT_FALSE(file.Store("state new\n", ops).Ok);
        MirroredFile::Loaded loaded = file.Load(readable);
        EXPECT_EQ(loaded.From, MirroredFile::Loaded::Source::File);
        EXPECT_EQ(loaded.Body, "state old\n") << "a failed store leaves the file as it was";
        // Either one alone still holds a whole state.
        WriteFile(file.Path(), "");
        loaded = file.Load(readable);
        EXPECT_EQ(loaded.From, MirroredFile::Loaded::Source::Copy);
        EXPECT_EQ(loaded.Body, failing == 1 ? "state old\n" : "state new\n");
    }
}

TEST(FileJobLedger, ThreadsMayChangeItAtOnce) {
    TempDir dir;
    FileJobLedger ledger(dir / "jobs.tsv");
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&ledger, t] {
            for (int i = 0; i < 10; ++i) {
                EXPECT_TRUE(
                    ledger.Put(Record("/hot", std::to_string(t) + "-" + std::to_string(i), i))
                        .Ok());
            }
        });
    }
    threads.clear();  // joins
    EXPECT_EQ(FileJobLedger(dir / "jobs.tsv").InFolder("/hot").size(), 40u);
}

}  // namespace
