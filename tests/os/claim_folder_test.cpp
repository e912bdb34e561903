#include "os/claim_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "engine/file_claims.h"
#include "os/folder_listing.h"
#include "os/periodic_task.h"
#include "tests/engine/fakes.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(PosixClaimFolder, EachOperationOnARealFolder) {
    TempDir hot;
    ASSERT_EQ(chmod(hot.Path().c_str(), 02775), 0);  // a folder a group shares
    PosixClaimFolder folder;
    EXPECT_TRUE(folder.List(hot.Path()).empty());  // no claim folder yet
    EXPECT_EQ(folder.Read(hot.Path(), "a.claim").Kind, ClaimIo::Missing);
    ASSERT_TRUE(folder.Create(hot.Path(), "a.claim", "one\n").Ok());
    EXPECT_EQ(folder.Create(hot.Path(), "a.claim", "two\n").Kind, ClaimIo::Exists);
    EXPECT_EQ(folder.Read(hot.Path(), "a.claim").Text, "one\n");
    ASSERT_TRUE(folder.Replace(hot.Path(), "a.claim", "a.claim.r.tmp", "three\n").Ok());
    EXPECT_EQ(folder.Read(hot.Path(), "a.claim").Text, "three\n");
    EXPECT_EQ(folder.List(hot.Path()), std::vector<std::string>{"a.claim"});  // no temp left
    ASSERT_TRUE(folder.MoveAside(hot.Path(), "a.claim", "a.claim.r.taken").Ok());
    EXPECT_EQ(folder.MoveAside(hot.Path(), "a.claim", "a.claim.s.taken").Kind, ClaimIo::Missing);
    EXPECT_EQ(folder.Read(hot.Path(), "a.claim.r.taken").Text, "three\n");
    EXPECT_TRUE(folder.Remove(hot.Path(), "a.claim.r.taken").Ok());
    EXPECT_EQ(folder.Remove(hot.Path(), "a.claim.r.taken").Kind, ClaimIo::Missing);
    // Made with the hot folder's modes, whatever the umask.
    struct stat hotModes {
    }, claimModes{};
    ASSERT_EQ(stat(hot.Path().c_str(), &hotModes), 0);
    ASSERT_EQ(stat((hot / ".tallowin-claims").c_str(), &claimModes), 0);
    EXPECT_EQ(claimModes.st_mode & 07777, hotModes.st_mode & 07777);
    // A trailing slash on the hot folder's path names the same claim folder.
    ASSERT_TRUE(folder.Create(hot.Path() + "/", "b.claim", "x\n").Ok());
    EXPECT_TRUE(FileExists(hot / ".tallowin-claims/b.claim"));
}

TEST(PosixClaimFolder, NoClaimsWhereNoneCanBeMade) {
    TempDir hot;
    PosixClaimFolder folder;
    // A plain file where the claim folder would be: nothing can be claimed,
    // and the file is printed as a lone host would.
    WriteFile(hot / ".tallowin-claims", "not a folder");
    const ClaimIoResult made = folder.Create(hot.Path(), "a.claim", "x\n");
    EXPECT_EQ(made.Kind, ClaimIo::ReadOnly);
    EXPECT_NE(made.Reason.find("Not a directory"), std::string::npos) << made.Reason;
    EXPECT_EQ(folder.Create(hot / "missing", "a.claim", "x\n").Kind, ClaimIo::Missing);
}

TEST(PosixClaimFolder, OfManyRacingHostsOneSends) {
    TempDir hot;
    PosixClaimFolder folder;
    constexpr int kHosts = 8;
    std::vector<std::unique_ptr<FakeClock>> clocks;
    std::vector<std::unique_ptr<FileClaims>> hosts;
    for (int i = 0; i < kHosts; ++i) {
        clocks.push_back(std::make_unique<FakeClock>());
        hosts.push_back(std::make_unique<FileClaims>(
            folder, *clocks.back(), ClaimOwner{"host" + std::to_string(i), "/l", i, "r"}));
    }
    // All at once for a fresh file: the exclusive create lets one through.
    std::atomic<int> held{0};
    std::vector<std::thread> threads;
    std::atomic<int> holder{-1};
    for (int i = 0; i < kHosts; ++i) {
        threads.emplace_back([&, i] {
            if (hosts[i]->Claim(hot.Path(), "1.jpg").Result == ClaimAnswer::Kind::Held) {
                ++held;
                holder = i;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    ASSERT_EQ(held.load(), 1);

    // The holder dies before sending; the others see its lease run out and
    // race to take the file over: at most one of them may send it.
    threads.clear();
    for (auto& clock : clocks) clock->Advance(kClaimLeaseMs);
    std::atomic<int> sent{0};
    for (int i = 0; i < kHosts; ++i) {
        if (i == holder) continue;
        threads.emplace_back([&, i] {
            if (hosts[i]->Claim(hot.Path(), "1.jpg").Result == ClaimAnswer::Kind::Held &&
                hosts[i]->MarkSending(hot.Path(), "1.jpg").Ok()) {
                ++sent;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_LE(sent.load(), 1);
    // Nothing is left aside, and at most the one record of the file.
    EXPECT_LE(folder.List(hot.Path()).size(), 1u);
}

TEST(PosixClaimFolder, ClaimFolderIsNeverListedForPrinting) {
    TempDir hot;
    PosixClaimFolder folder;
    FakeClock clock;
    FileClaims claims(folder, clock, ThisProcessOwner(hot / "jobs.tsv"));
    WriteFile(hot / "1.jpg", "x");
    ASSERT_EQ(claims.Claim(hot.Path(), "1.jpg").Result, ClaimAnswer::Kind::Held);
    PosixFolderLister lister;
    const Listing listing = lister.List(hot.Path());
    ASSERT_EQ(listing.size(), 1u);
    EXPECT_EQ(listing[0].Name, "1.jpg");
}

TEST(ThisProcessOwner, NamesTheHostAndANewRun) {
    const ClaimOwner first = ThisProcessOwner("/state/jobs.tsv");
    const ClaimOwner second = ThisProcessOwner("/state/jobs.tsv");
    EXPECT_FALSE(first.Host.empty());
    EXPECT_EQ(first.Ledger, "/state/jobs.tsv");
    EXPECT_EQ(first.Pid, getpid());
    EXPECT_EQ(first.Run.size(), 16u);
    EXPECT_NE(first.Run, second.Run);
    EXPECT_TRUE(first.SameService(second));
}

TEST(PeriodicTask, RunsUntilItGoes) {
    std::mutex m;
    std::condition_variable cv;
    int runs = 0;
    {
        PeriodicTask task(std::chrono::milliseconds(1), [&] {
            std::lock_guard g(m);
            ++runs;
            cv.notify_all();
        });
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return runs >= 3; });
    }
    std::lock_guard g(m);
    const int after = runs;
    EXPECT_GE(after, 3);
}

}  // namespace
