// Several hosts that print from one shared folder, each with its own clock,
// ledger and log, on one listing, one scheduler and one claim folder.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "engine/file_claims.h"
#include "engine/hot_folder.h"
#include "tests/engine/fake_claim_folder.h"
#include "tests/engine/fakes.h"

namespace {

using Outcome = PrintLogEntry::Outcome;

// What every host sees alike.
struct Shared {
    FakeLister lister;
    FakeImageLoader images;
    RecordingSpooler spooler;
    RecordingRemover remover;
    FakeClaimFolder claims;

    Shared() {
        remover.lister = &lister;
        lister.AddFolder("/hf");
    }
    void Drop(const std::string& name, std::uint64_t inode) {
        const ListedFile file = Listed(name, 10, inode, static_cast<std::int64_t>(inode));
        lister.Put("/hf", file);
        FakeImageLoader::Entry image;
        image.identity = file.Identity;
        images.Set("/hf/" + name, image);
    }
    std::map<std::string, int> JobsByName() const {
        std::map<std::string, int> jobs;
        for (const auto& job : spooler.Jobs()) ++jobs[job.docName];
        return jobs;
    }
};

// One service; ledger is where its jobs are kept across its restarts.
struct SharingHost {
    SharingHost(Shared& shared, const std::string& name, FakeLedger& ledger, const std::string& run)
        : claims(shared.claims, clock, ClaimOwner{name, "/state/jobs.tsv", 7, run}),
          services{clock,          shared.lister, shared.images, shared.spooler,
                   shared.remover, ledger,        log,           &claims} {
        folder.Reset(clock);
        folder.SetRunning();
    }
    void Scan(int times = 1) {
        for (int i = 0; i < times; ++i) {
            clock.Advance(5001);
            folder.Scan(services, stop);
        }
    }
    FakeClock clock{1000};
    RecordingLog log;
    FileClaims claims;
    EngineServices services;
    HotFolder folder{"Photos", "/hf", "printer", 5};
    StopFlag stop;
};

TEST(SharedFolder, TwoHostsPrintEachFileOnce) {
    Shared shared;
    FakeLedger ledgerA, ledgerB;
    SharingHost a(shared, "alpha", ledgerA, "a1"), b(shared, "beta", ledgerB, "b1");
    shared.spooler.newJobState = JobState::Pending;
    for (int i = 0; i < 10; ++i) shared.Drop("f" + std::to_string(i) + ".jpg", 100 + i);
    a.Scan();
    b.Scan();
    a.Scan();  // alpha sends all ten: each is claimed before its job is recorded
    for (int i = 0; i < 3; ++i) {
        a.claims.Renew();  // alpha's renewal thread
        b.Scan();
    }
    EXPECT_EQ(shared.spooler.Jobs().size(), 10u);
    EXPECT_EQ(b.folder.GetError(), HF_ERR_NONE) << "beta waits silently while alpha is alive";
    for (const auto& job : shared.spooler.Jobs())
        shared.spooler.SetJob(job.id, JobState::Completed);
    a.Scan();
    b.Scan();
    for (const auto& [name, count] : shared.JobsByName()) EXPECT_EQ(count, 1) << name;
    EXPECT_EQ(shared.remover.Removed().size(), 10u);
    EXPECT_TRUE(shared.claims.Names("/hf").empty());
    EXPECT_TRUE(b.log.Entries().empty());
}

TEST(SharedFolder, FileSentByAHostThatWentWaitsForItAndNamesIt) {
    Shared shared;
    FakeLedger ledgerA, ledgerB;
    auto a = std::make_unique<SharingHost>(shared, "alpha", ledgerA, "a1");
    SharingHost b(shared, "beta", ledgerB, "b1");
    shared.spooler.newJobState = JobState::Pending;
    shared.Drop("photo.jpg", 1);
    a->Scan(2);
    ASSERT_EQ(shared.spooler.Jobs().size(), 1u);
    a.reset();  // killed while its job waits: nothing released, no renewal

    b.Scan(5);  // more than a lease of silence
    EXPECT_EQ(shared.spooler.Jobs().size(), 1u);
    EXPECT_EQ(b.folder.GetError(), HF_ERR_OTHER_HOST);
    const FailureNote note = b.folder.GetLastFailure();
    EXPECT_EQ(note.File, "/hf/photo.jpg");
    EXPECT_NE(note.Reason.find("host alpha (process 7)"), std::string::npos) << note.Reason;

    // Alpha is back: its ledger finishes the job and clears the claim.
    SharingHost back(shared, "alpha", ledgerA, "a2");
    back.Scan();
    shared.spooler.SetJob(shared.spooler.Jobs()[0].id, JobState::Completed);
    back.Scan();
    b.Scan(3);
    EXPECT_EQ(shared.spooler.Jobs().size(), 1u);
    EXPECT_EQ(shared.remover.Removed(), std::vector<std::string>{"/hf/photo.jpg"});
    EXPECT_TRUE(shared.claims.Names("/hf").empty());
}

TEST(SharedFolder, FileClaimedByAHostThatWentBeforeSendingIsTakenOver) {
    Shared shared;
    FakeLedger ledgerA, ledgerB;
    SharingHost b(shared, "beta", ledgerB, "b1");
    shared.Drop("photo.jpg", 1);
    {
        SharingHost a(shared, "alpha", ledgerA, "a1");
        ASSERT_EQ(a.claims.Claim("/hf", "photo.jpg").Result, ClaimAnswer::Kind::Held);
    }           // killed while loading the file
    b.Scan(6);  // beta waits for a lease of silence, then takes it
    ASSERT_EQ(shared.spooler.Jobs().size(), 1u);
    const auto sent = b.log.Entries();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().Result, Outcome::Printed);
    bool saidTakenOver = false;
    for (const PrintLogEntry& entry : sent) {
        saidTakenOver |= entry.Result == Outcome::Sent &&
                         entry.Reason.find("taken over from host alpha") != std::string::npos;
    }
    EXPECT_TRUE(saidTakenOver);
    EXPECT_TRUE(shared.claims.Names("/hf").empty());
}

TEST(SharedFolder, ClaimOfAFileNotSentIsReleasedForTheOtherHosts) {
    Shared shared;
    FakeLedger ledgerA, ledgerB;
    SharingHost a(shared, "alpha", ledgerA, "a1"), b(shared, "beta", ledgerB, "b1");
    shared.Drop("photo.jpg", 1);
    shared.spooler.openFailure = Status::Failure(HF_ERR_UNREACHABLE, "down");
    a.Scan(2);
    EXPECT_EQ(a.folder.GetError(), HF_ERR_UNREACHABLE);
    EXPECT_TRUE(shared.claims.Names("/hf").empty());
    shared.spooler.openFailure = {};
    b.Scan(2);  // beta's printer works: it need not wait for alpha's
    EXPECT_EQ(shared.JobsByName()["photo.jpg"], 1);
}

}  // namespace
