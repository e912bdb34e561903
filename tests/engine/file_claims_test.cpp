#include "engine/file_claims.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>

#include "tests/engine/fake_claim_folder.h"
#include "tests/engine/fakes.h"

namespace {

using Kind = ClaimAnswer::Kind;

const std::string kHot = "/shared/hot";

// One service on a host of its own, with a clock of its own (the hosts'
// ticks have nothing in common), on the shared claim folder.
struct Host {
    Host(FakeClaimFolder& folder, const std::string& name, std::uint32_t tick = 0,
         const std::string& run = "")
        : clock(tick),
          claims(folder, clock,
                 ClaimOwner{name, "/home/u/.local/state/tallowin/jobs.tsv", 100,
                            run.empty() ? name + "-run" : run}) {}
    FakeClock clock;
    FileClaims claims;
};

ClaimRecord RecordIn(FakeClaimFolder& folder, const std::string& file) {
    const ClaimIoResult found = folder.Read(kHot, ClaimFileName(file));
    EXPECT_TRUE(found.Ok()) << file;
    return ParseClaim(found.Text).value_or(ClaimRecord{});
}

TEST(FileClaims, OneHostAtATime) {
    FakeClaimFolder folder;
    Host a(folder, "alpha"), b(folder, "beta", 123456);
    EXPECT_EQ(a.claims.Claim(kHot, "1.jpg").Result, Kind::Held);
    EXPECT_EQ(a.claims.Claim(kHot, "1.jpg").Result, Kind::Held);  // still its own
    const ClaimAnswer other = b.claims.Claim(kHot, "1.jpg");
    EXPECT_EQ(other.Result, Kind::Busy);
    EXPECT_EQ(other.Holder, "host alpha (process 100)");
    EXPECT_EQ(RecordIn(folder, "1.jpg").Stage, ClaimStage::Claimed);
    EXPECT_TRUE(a.claims.MarkSending(kHot, "1.jpg").Ok());
    EXPECT_EQ(RecordIn(folder, "1.jpg").Stage, ClaimStage::Sending);
    a.claims.Release(kHot, "1.jpg");
    EXPECT_TRUE(folder.Names(kHot).empty());
    EXPECT_EQ(b.claims.Claim(kHot, "1.jpg").Result, Kind::Held);
}

TEST(FileClaims, RenewedClaimIsNeverTakenHoweverLongItIsHeld) {
    FakeClaimFolder folder;
    Host a(folder, "alpha"), b(folder, "beta");
    ASSERT_EQ(a.claims.Claim(kHot, "1.jpg").Result, Kind::Held);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(b.claims.Claim(kHot, "1.jpg").Result, Kind::Busy) << i;
        b.clock.Advance(kClaimRenewalMs);
        a.claims.Renew();
    }
    EXPECT_EQ(RecordIn(folder, "1.jpg").Renewal, 10u);
    EXPECT_TRUE(a.claims.MarkSending(kHot, "1.jpg").Ok());
}

TEST(FileClaims, ExpiredLeaseIsTakenOverAndItsHostFindsOut) {
    FakeClaimFolder folder;
    // The taker's tick wraps while it waits: only elapsed time counts.
    Host a(folder, "alpha"), b(folder, "beta", 0xffffffffu - 1000);
    ASSERT_EQ(a.claims.Claim(kHot, "1.jpg").Result, Kind::Held);
    EXPECT_EQ(b.claims.Claim(kHot, "1.jpg").Result, Kind::Busy);  // first seen now
    b.clock.Advance(kClaimLeaseMs - 1);
    EXPECT_EQ(b.claims.Claim(kHot, "1.jpg").Result, Kind::Busy);
    b.clock.Advance(1);
    const ClaimAnswer taken = b.claims.Claim(kHot, "1.jpg");
    EXPECT_EQ(taken.Result, Kind::Held);
    EXPECT_EQ(taken.Holder, "host alpha (process 100)");
    EXPECT_EQ(RecordIn(folder, "1.jpg").Owner.Host, "beta");
    EXPECT_EQ(folder.Names(kHot).size(), 1u);  // nothing left aside

    // The old holder comes back to life: it must not send, nor remove the
    // new holder's record.
    a.claims.Renew();
    const Status late = a.claims.MarkSending(kHot, "1.jpg");
    EXPECT_EQ(late.Code, HF_ERR_OTHER_HOST);
    EXPECT_NE(late.Reason.find("host beta"), std::string::npos) << late.Reason;
    a.claims.Release(kHot, "1.jpg");
    EXPECT_EQ(RecordIn(folder, "1.jpg").Owner.Host, "beta");
    EXPECT_TRUE(b.claims.MarkSending(kHot, "1.jpg").Ok());
}

TEST(FileClaims, SentFileWaitsForItsHost) {
    FakeClaimFolder folder;
    Host a(folder, "alpha"), b(folder, "beta");
    ASSERT_EQ(a.claims.Claim(kHot, "1.jpg").Result, Kind::Held);
    ASSERT_TRUE(a.claims.MarkSending(kHot, "1.jpg").Ok());
    EXPECT_EQ(b.claims.Claim(kHot, "1.jpg").Result, Kind::Busy);
    for (int i = 0; i < 3; ++i) {
        b.clock.Advance(kClaimLeaseMs * 10);
        const ClaimAnswer answer = b.claims.Claim(kHot, "1.jpg");
        EXPECT_EQ(answer.Result, Kind::AwaitHost) << i;
        EXPECT_EQ(answer.Holder, "host alpha (process 100)");
    }
    EXPECT_EQ(RecordIn(folder, "1.jpg").Owner.Host, "alpha");
}

TEST(FileClaims, OfThreeHostsOneTakesTheExpiredClaim) {
    FakeClaimFolder folder;
    Host a(folder, "alpha"), b(folder, "beta"), c(folder, "gamma");
    ASSERT_EQ(a.claims.Claim(kHot, "1.jpg").Result, Kind::Held);
    EXPECT_EQ(b.claims.Claim(kHot, "1.jpg").Result, Kind::Busy);
    EXPECT_EQ(c.claims.Claim(kHot, "1.jpg").Result, Kind::Busy);
    b.clock.Advance(kClaimLeaseMs);
    c.clock.Advance(kClaimLeaseMs);
    // Gamma judged alpha's record expired too, but beta moves it first.
    folder.beforeMove = [&] { EXPECT_EQ(b.claims.Claim(kHot, "1.jpg").Result, Kind::Held); };
    const ClaimAnswer late = c.claims.Claim(kHot, "1.jpg");
    EXPECT_EQ(late.Result, Kind::Busy);
    EXPECT_EQ(late.Holder, "host beta (process 100)");
    // Gamma's rename moved beta's new record: neither sends on this round,
    // and whoever claims it next holds it.
    EXPECT_TRUE(folder.Names(kHot).empty());
    EXPECT_EQ(b.claims.MarkSending(kHot, "1.jpg").Code, HF_ERR_OTHER_HOST);
    EXPECT_EQ(c.claims.Claim(kHot, "1.jpg").Result, Kind::Held);
    EXPECT_TRUE(c.claims.MarkSending(kHot, "1.jpg").Ok());
}

TEST(FileClaims, HolderThatWakesInTheLastInstant) {
    for (const bool sending : {false, true}) {
        SCOPED_TRACE(sending ? "it marks the file sending" : "it renews");
        FakeClaimFolder folder;
        Host a(folder, "alpha"), b(folder, "beta");
        ASSERT_EQ(a.claims.Claim(kHot, "1.jpg").Result, Kind::Held);
        EXPECT_EQ(b.claims.Claim(kHot, "1.jpg").Result, Kind::Busy);
        b.clock.Advance(kClaimLeaseMs);
        // Between beta's look at the expired record and its rename.
        folder.beforeMove = [&] {
            if (sending) {
                EXPECT_TRUE(a.claims.MarkSending(kHot, "1.jpg").Ok());
            } else {
                a.claims.Renew();
            }
        };
        EXPECT_EQ(b.claims.Claim(kHot, "1.jpg").Result, Kind::Busy);
        if (sending) {
            // Its job may be on its way: the record is back, beta waits.
            EXPECT_EQ(folder.Names(kHot), std::vector<std::string>{"1.jpg.claim"});
            EXPECT_EQ(RecordIn(folder, "1.jpg").Stage, ClaimStage::Sending);
        } else {
            // Nothing sent yet: the claim is dropped, and alpha must not send.
            EXPECT_TRUE(folder.Names(kHot).empty());
            EXPECT_EQ(a.claims.MarkSending(kHot, "1.jpg").Code, HF_ERR_OTHER_HOST);
        }
    }
}

TEST(FileClaims, RecordBeingWrittenIsJudgedByItsSilence) {
    FakeClaimFolder folder;
    Host b(folder, "beta");
    folder.Put(kHot, ClaimFileName("1.jpg"), "");  // a host died right after its create
    const ClaimAnswer first = b.claims.Claim(kHot, "1.jpg");
    EXPECT_EQ(first.Result, Kind::Busy);
    EXPECT_NE(first.Holder.find("another host"), std::string::npos);
    b.clock.Advance(kClaimLeaseMs);
    EXPECT_EQ(b.claims.Claim(kHot, "1.jpg").Result, Kind::Held);
}

TEST(FileClaims, FolderThatCannotTakeClaims) {
    FakeClaimFolder folder;
    Host a(folder, "alpha");
    folder.failWith = ClaimIo::ReadOnly;
    EXPECT_EQ(a.claims.Claim(kHot, "1.jpg").Result, Kind::Unclaimed);
    EXPECT_TRUE(a.claims.MarkSending(kHot, "1.jpg").Ok());
    a.claims.Release(kHot, "1.jpg");
    folder.failWith = ClaimIo::Failed;
    const ClaimAnswer failed = a.claims.Claim(kHot, "1.jpg");
    EXPECT_EQ(failed.Result, Kind::Failed);
    EXPECT_EQ(failed.Reason, "refused");

    folder.failWith = ClaimIo::Done;
    ASSERT_EQ(a.claims.Claim(kHot, "1.jpg").Result, Kind::Held);
    folder.failWith = ClaimIo::Failed;
    EXPECT_EQ(a.claims.MarkSending(kHot, "1.jpg").Code, HF_ERR_STATE);
    folder.failWith = ClaimIo::Done;
    EXPECT_TRUE(a.claims.MarkSending(kHot, "1.jpg").Ok());  // still its own
}

// A taker that moved a record aside, found it said sending, and died
// before it put it back (TakeAway's two renames): the record is back, and
// nobody else sends the file, whoever comes next.
TEST(FileClaims, SendingRecordATakerLeftAsideGoesBack) {
    enum class Next { AnotherHostClaims, HolderRenews, HolderReleases, HolderRestarts };
    for (const Next next : {Next::AnotherHostClaims, Next::HolderRenews, Next::HolderReleases,
                            Next::HolderRestarts}) {
        SCOPED_TRACE(static_cast<int>(next));
        FakeClaimFolder folder;
        std::optional<Host> a(std::in_place, folder, "alpha", 0, "run-1");
        ASSERT_EQ(a->claims.Claim(kHot, "1.jpg").Result, Kind::Held);
        ASSERT_TRUE(a->claims.MarkSending(kHot, "1.jpg").Ok());
        const std::string name = ClaimFileName("1.jpg");
        // Another file's record and aside that merely share the prefix stay.
        Host other(folder, "gamma");
        ASSERT_EQ(other.claims.Claim(kHot, "1.jpg.claim.x.jpg").Result, Kind::Held);
        ASSERT_TRUE(folder.MoveAside(kHot, name, ClaimAsideName(name, "beta-run")).Ok());
        Host c(folder, "delta");
        switch (next) {
            case Next::AnotherHostClaims:
                EXPECT_EQ(c.claims.Claim(kHot, "1.jpg").Result, Kind::Busy);
                c.clock.Advance(kClaimLeaseMs * 10);
                EXPECT_EQ(c.claims.Claim(kHot, "1.jpg").Result, Kind::AwaitHost);
                break;
            case Next::HolderRenews:
                a->claims.Renew();
                EXPECT_EQ(RecordIn(folder, "1.jpg").Renewal, 2u) << "renewed, not lost";
                break;
            case Next::HolderReleases:
                a->claims.Release(kHot, "1.jpg");
                EXPECT_EQ(folder.Names(kHot).size(), 1u) << "only the other file's claim";
                EXPECT_EQ(c.claims.Claim(kHot, "1.jpg").Result, Kind::Held) << "a new file";
                continue;
            case Next::HolderRestarts:
                a.reset();
                a.emplace(folder, "alpha", 0, "run-2");
                EXPECT_EQ(a->claims.ClearLeftovers(kHot, {}, true).Adopted, 1);
                EXPECT_EQ(RecordIn(folder, "1.jpg").Owner.Run, "run-2");
                break;
        }
        EXPECT_EQ(RecordIn(folder, "1.jpg").Stage, ClaimStage::Sending);
        EXPECT_EQ(RecordIn(folder, "1.jpg").Owner.Host, "alpha");
        EXPECT_EQ(folder.Names(kHot).size(), 2u) << "nothing left aside";
    }
}

TEST(FileClaims, RestartClearsWhatTheEarlierRunLeft) {
    for (const bool recordsLost : {false, true}) {
        SCOPED_TRACE(recordsLost ? "ledger records lost" : "ledger intact");
        FakeClaimFolder folder;
        {
            Host before(folder, "alpha", 0, "run-1");
            for (const char* file : {"claimed.jpg", "recorded.jpg", "unrecorded.jpg"}) {
                ASSERT_EQ(before.claims.Claim(kHot, file).Result, Kind::Held);
            }
            ASSERT_TRUE(before.claims.MarkSending(kHot, "recorded.jpg").Ok());
            ASSERT_TRUE(before.claims.MarkSending(kHot, "unrecorded.jpg").Ok());
            // A record it was writing, and one a taker moved aside and died.
            const std::string claimed = ClaimFileName("claimed.jpg");
            folder.Put(kHot, ClaimTempName(claimed, "run-1"), folder.Read(kHot, claimed).Text);
            ASSERT_EQ(before.claims.Claim(kHot, "taken.jpg").Result, Kind::Held);
            ASSERT_TRUE(folder
                            .MoveAside(kHot, ClaimFileName("taken.jpg"),
                                       ClaimAsideName(ClaimFileName("taken.jpg"), "gamma-run"))
                            .Ok());
        }  // killed: nothing released
        Host other(folder, "beta");
        other.claims.Claim(kHot, "zzz.jpg");  // another host's claim stays, and what it writes
        const std::string zzz = ClaimFileName("zzz.jpg");
        folder.Put(kHot, ClaimTempName(zzz, "beta-run"), folder.Read(kHot, zzz).Text);

        Host after(folder, "alpha", 0, "run-2");
        const LeftoverClaims done = after.claims.ClearLeftovers(
            kHot, [](const std::string& file) { return file == "recorded.jpg"; }, recordsLost);
        EXPECT_EQ(done.Adopted, recordsLost ? 2 : 1);
        EXPECT_EQ(done.Cleared, recordsLost ? 1 : 2);
        const std::vector<std::string> left = folder.Names(kHot);
        std::set<std::string> expected = {"recorded.jpg.claim", "zzz.jpg.claim",
                                          ClaimTempName("zzz.jpg.claim", "beta-run")};
        if (recordsLost) expected.insert("unrecorded.jpg.claim");
        EXPECT_EQ(std::set<std::string>(left.begin(), left.end()), expected);
        EXPECT_EQ(RecordIn(folder, "recorded.jpg").Owner.Run, "run-2");
        EXPECT_EQ(RecordIn(folder, "recorded.jpg").Stage, ClaimStage::Sending);
        // Held by this run now: renewed, and gone once its job is over.
        after.claims.Renew();
        EXPECT_EQ(RecordIn(folder, "recorded.jpg").Renewal, 3u);
        after.claims.Release(kHot, "recorded.jpg");
        EXPECT_EQ(folder.Names(kHot).size(), recordsLost ? 3u : 2u);
        // A second call finds nothing more of the earlier run.
        const LeftoverClaims again = after.claims.ClearLeftovers(kHot, {}, recordsLost);
        EXPECT_EQ(again.Adopted + again.Cleared, 0);
    }
}

}  // namespace
