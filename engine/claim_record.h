// One claim record: which host holds which file of a shared folder, how far
// it got, and the renewal counter that tells the other hosts it is alive.
// Its text form, the names of its files in the claim folder, and the pure
// verdict a host reaches about a record it finds. No input/output here.
//
// Hosts' clocks may differ by minutes, so nothing here compares a time
// written by one host with another host's clock: a lease runs out when the
// record stays the same for longer than the lease, measured by the observer
// on its own monotonic clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallowin {

// How long a record may stay unchanged before its host counts as gone, and
// how often a living host rewrites the records it holds.
inline constexpr std::uint32_t kClaimLeaseMs = 10000;
inline constexpr std::uint32_t kClaimRenewalMs = kClaimLeaseMs / 3;

// Who holds a claim. Host and Ledger together name the service that follows
// the file's job (two services on one host keep ledgers of their own); Run
// tells this run of it from an earlier one that ended without clearing up.
struct ClaimOwner {
    std::string Host;    // gethostname
    std::string Ledger;  // the job ledger's path on that host
    std::int64_t Pid = 0;
    std::string Run;  // random, new at every start

    // The same service, in this run or another.
    bool SameService(const ClaimOwner& other) const {
        return Host == other.Host && Ledger == other.Ledger;
    }
};

enum class ClaimStage {
    Claimed,  // being loaded and fitted: nothing sent yet
    Sending,  // its job is being sent or was sent: only its host may finish it
};

struct ClaimRecord {
    std::string File;  // the file's name in the hot folder
    ClaimOwner Owner;
    ClaimStage Stage = ClaimStage::Claimed;
    std::uint32_t LeaseMs = kClaimLeaseMs;  // the holder's lease
    std::uint64_t Renewal = 0;              // raised at every rewrite
    std::int64_t WrittenAt = 0;             // s since 1970 by the writer's clock: for people only
};

// The record as text: a first line that names the format, then one
// key=value line each; bytes below 0x20, 0x7f and '\' of the names are
// written as \xHH.
std::string FormatClaim(const ClaimRecord& record);
// The record of text; nothing when it is not one (empty, cut short, another
// format), which is how a record looks in the instant after its exclusive
// create, before its text is written.
std::optional<ClaimRecord> ParseClaim(std::string_view text);

// The name of fileName's record in the claim folder: the name with ".claim"
// added, or for a name too long for that, a hash of it. Every record's name
// ends in ".claim"; the helpers' names below never do.
std::string ClaimFileName(const std::string& fileName);
bool IsClaimFileName(std::string_view name);
// The file a record is written to before it is renamed over claimName, and
// the name a record is moved to when it is taken away; both unique to run.
std::string ClaimTempName(const std::string& claimName, const std::string& run);
std::string ClaimAsideName(const std::string& claimName, const std::string& run);
// True for a name ClaimAsideName gives, of claimName when it is not empty.
bool IsClaimAsideName(std::string_view name, std::string_view claimName = {});
// True for a name ClaimTempName gives.
bool IsClaimTempName(std::string_view name);

// "host NAME (process PID)", for the hot folder's error and the log.
std::string DescribeHolder(const ClaimOwner& owner);

// What a host makes of a record it found for a file it is about to print.
enum class ClaimVerdict {
    Mine,       // its own, of this run
    Reclaim,    // its own, left by an earlier run that did not clear it up
    Busy,       // another host holds it and renews it: try again later
    TakeOver,   // another host's, not renewed for longer than its lease, and
                // nothing was sent: the host is gone, the file is free
    AwaitHost,  // another host's, not renewed, but its job may have been
                // sent: only that host may finish it, once it is back
};

// record: what the text found parses to (nothing when it does not);
// unchangedMs: for how long this host has seen exactly that text. A record
// that does not parse is judged like one being claimed, by the default lease.
ClaimVerdict JudgeClaim(const std::optional<ClaimRecord>& record, const ClaimOwner& me,
                        std::uint32_t unchangedMs);

// The lease a record asks for, within bounds, so that a damaged or hostile
// record cannot make a file wait for ever nor be taken at once.
std::uint32_t LeaseOf(const std::optional<ClaimRecord>& record);

}  // namespace tallowin
