#include "platform/job_ledger_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

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

TEST(FileJobLedger, AFileItCannotReadIsKeptAsideNotOverwritten) {
    const std::string good = FormatJobLedger({Record("/hot", "a.jpg", 1)});
    struct Case {
        const char* Name;
        std::string Content;
    } cases[] = {
        {"another version", "tallowin-jobs\t3\n"},
        {"a first version's line in the second",
         "tallowin-jobs\t2\n/hot\ta.jpg\t1\t1\t1\t1\tp\t1\tsent\n"},
        {"no version line", good.substr(good.find('\n') + 1)},
        {"too few fields", "tallowin-jobs\t1\n/hot\ta.jpg\t1\t2\n"},
        {"a number that is none", "tallowin-jobs\t1\n/hot\ta.jpg\tx\t1\t1\t1\tp\t1\tsent\n"},
        {"an unknown stage", "tallowin-jobs\t1\n/hot\ta.jpg\t1\t1\t1\t1\tp\t1\tlost\n"},
        {"a bad escape", "tallowin-jobs\t1\n/h\\ot\ta.jpg\t1\t1\t1\t1\tp\t1\tsent\n"},
        {"cut short", good.substr(0, good.size() - 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        const std::string path = dir / "jobs.tsv";
        WriteFile(path, c.Content);
        FileJobLedger ledger(path);
        EXPECT_EQ(ledger.LoadStatus().Code, HF_ERR_STATE);
        EXPECT_TRUE(ledger.RecordsLost());
        EXPECT_NE(ledger.LoadStatus().Reason.find("jobs.tsv.bad"), std::string::npos)
            << ledger.LoadStatus().Reason;
        EXPECT_EQ(ReadFile(path + ".bad"), c.Content);
        EXPECT_TRUE(ledger.Put(Record("/hot", "b.jpg", 2)).Ok());
        EXPECT_EQ(ReadFile(path + ".bad"), c.Content) << "the unreadable file stays as it was";
    }
    // And a good file is read as it is.
    TempDir dir;
    WriteFile(dir / "jobs.tsv", good);
    const FileJobLedger ledger(dir / "jobs.tsv");
    EXPECT_TRUE(ledger.LoadStatus().Ok());
    EXPECT_FALSE(ledger.RecordsLost());
    EXPECT_TRUE(ledger.Find("/hot", "a.jpg").has_value());
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
