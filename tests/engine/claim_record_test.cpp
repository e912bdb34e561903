#include "engine/claim_record.h"

#include <gtest/gtest.h>

using namespace tallowin;

namespace {

ClaimOwner Owner(std::string host, std::string run) {
    return {std::move(host), "/home/u/.local/state/tallowin/jobs.tsv", 4242, std::move(run)};
}

TEST(ClaimRecord, ReadsBackWhatItWrites) {
    ClaimRecord record;
    record.File = "odd\nname\\with=\x7f.jpg";
    record.Owner = Owner("print-room", "0123abcd");
    record.Stage = ClaimStage::Sending;
    record.LeaseMs = 12345;
    record.Renewal = 17;
    record.WrittenAt = 1765200000;
    const std::string text = FormatClaim(record);
    EXPECT_NE(text.find("\nfile=odd\\x0aname\\x5cwith=\\x7f.jpg\n"), std::string::npos) << text;
    const std::optional<ClaimRecord> back = ParseClaim(text);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_EQ(back->File, record.File);
    EXPECT_EQ(back->Owner.Host, "print-room");
    EXPECT_EQ(back->Owner.Ledger, record.Owner.Ledger);
    EXPECT_EQ(back->Owner.Pid, 4242);
    EXPECT_EQ(back->Owner.Run, "0123abcd");
    EXPECT_EQ(back->Stage, ClaimStage::Sending);
    EXPECT_EQ(back->LeaseMs, 12345u);
    EXPECT_EQ(back->Renewal, 17u);
    EXPECT_EQ(back->WrittenAt, 1765200000);
}

TEST(ClaimRecord, TextThatIsNoRecordIsNone) {
    ClaimRecord record;
    record.File = "a.jpg";
    record.Owner = Owner("h", "r");
    const std::string good = FormatClaim(record);
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty, just created", ""},
        {"cut short", good.substr(0, good.size() - 5)},
        {"no last line break", good.substr(0, good.size() - 1)},
        {"another format", "tallowin-claim 2\n" + good.substr(good.find('\n') + 1)},
        {"bad stage", "tallowin-claim 1\nfile=a\nhost=h\nrun=r\nstage=done\n"},
        {"bad number", "tallowin-claim 1\nfile=a\nhost=h\nrun=r\nstage=claimed\nrenewal=x\n"},
        {"bad escape", "tallowin-claim 1\nfile=a\\x4\nhost=h\nrun=r\nstage=claimed\n"},
        {"no host", "tallowin-claim 1\nfile=a\nrun=r\nstage=claimed\n"},
    };
    for (const auto& c : cases) EXPECT_FALSE(ParseClaim(c.text).has_value()) << c.name;
    // Keys of a later version are passed over.
    EXPECT_TRUE(ParseClaim(good + "colour=blue\n").has_value());
}

TEST(ClaimRecord, NamesInTheClaimFolder) {
    EXPECT_EQ(ClaimFileName("IMG_1.jpg"), "IMG_1.jpg.claim");
    EXPECT_TRUE(IsClaimFileName(ClaimFileName("IMG_1.jpg")));
    const std::string longName(250, 'x');
    const std::string hashed = ClaimFileName(longName);
    EXPECT_LE(ClaimTempName(hashed, std::string(32, 'r')).size(), 255u);
    EXPECT_NE(hashed, ClaimFileName(std::string(250, 'y')));
    EXPECT_TRUE(IsClaimFileName(hashed));
    for (const std::string& helper :
         {ClaimTempName("a.claim", "r"), ClaimAsideName("a.claim", "r")}) {
        EXPECT_FALSE(IsClaimFileName(helper)) << helper;
    }
    EXPECT_FALSE(IsClaimFileName(".claim"));
}

TEST(ClaimRecord, Verdicts) {
    const ClaimOwner me = Owner("here", "run-now");
    const auto record = [](ClaimOwner owner, ClaimStage stage) {
        ClaimRecord r;
        r.File = "f";
        r.Owner = std::move(owner);
        r.Stage = stage;
        return std::optional<ClaimRecord>(r);
    };
    ClaimOwner sameHostOtherLedger = Owner("here", "run-x");
    sameHostOtherLedger.Ledger = "/other/jobs.tsv";
    const std::uint32_t lease = kClaimLeaseMs;
    const struct {
        const char* name;
        std::optional<ClaimRecord> found;
        std::uint32_t unchangedMs;
        ClaimVerdict expected;
    } cases[] = {
        {"mine", record(me, ClaimStage::Sending), lease * 9, ClaimVerdict::Mine},
        {"my earlier run", record(Owner("here", "run-old"), ClaimStage::Claimed), 0,
         ClaimVerdict::Reclaim},
        {"another host, renewed", record(Owner("there", "r"), ClaimStage::Claimed), lease - 1,
         ClaimVerdict::Busy},
        {"another host, expired", record(Owner("there", "r"), ClaimStage::Claimed), lease,
         ClaimVerdict::TakeOver},
        {"another host, sending, renewed", record(Owner("there", "r"), ClaimStage::Sending),
         lease - 1, ClaimVerdict::Busy},
        {"another host, sending, expired", record(Owner("there", "r"), ClaimStage::Sending),
         lease * 100, ClaimVerdict::AwaitHost},
        {"another service on this host", record(sameHostOtherLedger, ClaimStage::Claimed),
         lease - 1, ClaimVerdict::Busy},
        {"unreadable, young", std::nullopt, lease - 1, ClaimVerdict::Busy},
        {"unreadable, expired", std::nullopt, lease, ClaimVerdict::TakeOver},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JudgeClaim(c.found, me, c.unchangedMs), c.expected) << c.name;
    }
}

TEST(ClaimRecord, LeaseWithinBounds) {
    ClaimRecord r;
    for (const std::uint32_t asked : {0u, 5000u, 0xffffffffu}) {
        r.LeaseMs = asked;
        const std::uint32_t lease = LeaseOf(r);
        EXPECT_GE(lease, 2000u) << asked;
        EXPECT_LE(lease, 600000u) << asked;
    }
    EXPECT_EQ(LeaseOf(std::nullopt), kClaimLeaseMs);
}

}  // namespace
