// FileClaims: how one service agrees with the other hosts that print from
// the same shared folder on who prints which file. A file is claimed just
// before it is printed (never per scan), its claim says "sending" before
// its job is recorded and sent, and it is released once the file was not
// sent after all or its job is over. The records live in the claim folder
// (engine/ports/claims.h); every change of one is an exclusive create or a
// rename, so that of two hosts that try at once exactly one wins.
//
// A claim is held by renewing it (FileClaims::Renew, every kClaimRenewalMs
// from a thread of the caller's). A claim another host stopped renewing for
// longer than its lease is taken over when nothing was sent yet; once its
// job may have been sent, it is never sent again by another host: the file
// waits for its host to come back, whose ledger finishes it.
//
// Thread-safe: the worker claims and releases while another thread renews.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/claim_record.h"
#include "engine/ports/claims.h"
#include "engine/ports/clock.h"
#include "engine/status.h"
#include "util/thread_annotations.h"

namespace tallowin {

// What Claim found.
struct ClaimAnswer {
    enum class Kind {
        Held,       // this service holds the claim: it may print the file
        Unclaimed,  // no claim can be made in this folder (it cannot be
                    // written): the file is printed as a lone host would
        Busy,       // another host holds it and is alive: try again later
        AwaitHost,  // another host, gone, may have sent its job: the file
                    // waits for that host to come back
        Failed,     // the claim folder could not be read or written
    };
    Kind Result = Kind::Held;
    // Busy, AwaitHost: the other host (DescribeHolder); Held: the host whose
    // expired claim was taken over, empty when none.
    std::string Holder;
    std::string Reason;  // Unclaimed, Failed: the system's words
};

// A record file of the claim folder as read: its name, its bytes, and the
// record they hold.
struct ClaimFile {
    std::string Name;
    std::string Text;
    ClaimRecord Record;
};

// What ClearLeftovers did.
struct LeftoverClaims {
    int Adopted = 0;  // claims of files the ledger still follows, now this run's
    int Cleared = 0;  // claims of files never sent, removed
};

class FileClaims {
  public:
    // folder and clock outlive this object; me names this service and run.
    FileClaims(ClaimFolder& folder, Clock& clock, ClaimOwner me,
               std::uint32_t leaseMs = kClaimLeaseMs);
    FileClaims(const FileClaims&) = delete;
    FileClaims& operator=(const FileClaims&) = delete;

    const ClaimOwner& Owner() const { return me_; }

    // Claims fileName of hotFolder (its path) for this service. A record
    // of another host is judged by how long this service has seen it stay
    // the same (see JudgeClaim): that host's clock is never read.
    ClaimAnswer Claim(const std::string& hotFolder, const std::string& fileName) EXCLUDES(lock_);
    // Says in the claim that the file's job is about to be sent; called
    // before the job is recorded in the ledger. Success also for a file
    // without a claim (Unclaimed). Fails with HF_ERR_OTHER_HOST when another
    // host took the claim over, and with HF_ERR_STATE when the record cannot
    // be read or written: either way the file must not be sent now.
    Status MarkSending(const std::string& hotFolder, const std::string& fileName) EXCLUDES(lock_);
    // Gives up the claim of a file that was not sent, or whose job is over
    // and whose ledger record is gone. A claim another host took over is
    // left alone. No effect when none is held.
    void Release(const std::string& hotFolder, const std::string& fileName) EXCLUDES(lock_);
    // Rewrites every claim held with its renewal counter raised, so the
    // other hosts see this one alive. A claim found changed by another host
    // is lost (MarkSending says so); one that cannot be written now is tried
    // again at the next renewal.
    void Renew() EXCLUDES(lock_);
    // Before a hot folder's first scan: the claims that an earlier run of
    // this service left in it. A claim of a file the ledger still follows
    // (recorded says so), or one that may have been sent while the ledger
    // lost its records, is this run's from now on; any other was never sent
    // and is removed. Once per hot folder path and run: later calls do
    // nothing and return nothing done.
    LeftoverClaims ClearLeftovers(const std::string& hotFolder,
                                  const std::function<bool(const std::string& file)>& recorded,
                                  bool recordsLost) EXCLUDES(lock_);

  private:
    using Key = std::pair<std::string, std::string>;  // hot folder, record name
    struct Held {
        ClaimRecord Record;
        std::string Text;    // as this service last wrote it
        bool Lost = false;   // another host has it now
        std::string LostTo;  // that host, for the message
    };
    // Another host's record as this service last saw it.
    struct Seen {
        std::string Text;
        std::uint32_t Since = 0;     // tick since which it has been this text
        std::uint32_t LastLook = 0;  // tick of the last look
    };
    enum class TakeResult { Taken, Gone, Changed, Failed };

    ClaimRecord NewRecord(const std::string& fileName, ClaimStage stage) const;
    std::uint32_t Observe(const Key& key, const std::string& text, std::uint32_t now)
        REQUIRES(lock_);
    void ForgetOldSightings(std::uint32_t now) REQUIRES(lock_);
    // Moves the record away, and removes it when it was still expected;
    // else puts it back. detail: the system's words when Failed, the
    // record found when Changed.
    TakeResult TakeAway(const Key& key, const std::string& expected, std::string& detail);
    // Rewrites a held record with stage, after checking it is still this
    // service's; marks it lost when not.
    Status Rewrite(const Key& key, Held& held, ClaimStage stage) REQUIRES(lock_);
    // The records of file (claim record name) that takers moved aside and
    // have not put back or removed yet.
    std::vector<ClaimFile> Asides(const std::string& hotFolder, const std::string& name,
                                  const std::string& file);
    // A record of file that says sending (of exactly text, unless empty),
    // left aside by a taker that did not live to put it back (TakeAway):
    // back under name, over whatever was made there since, as TakeAway
    // would have put it. True when one went back.
    bool PutBackSending(const std::string& hotFolder, const std::string& name,
                        const std::string& file, const std::string& text);

    ClaimFolder& folder_;
    Clock& clock_;
    const ClaimOwner me_;
    const std::uint32_t leaseMs_;
    mutable Mutex lock_;
    std::map<Key, Held> held_ GUARDED_BY(lock_);
    std::map<Key, Seen> seen_ GUARDED_BY(lock_);
    std::set<std::string> cleared_ GUARDED_BY(lock_);  // hot folders
};

}  // namespace tallowin
