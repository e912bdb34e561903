#include "engine/file_claims.h"

#include <chrono>
#include <optional>
#include <utility>

namespace tallowin {

namespace {

// A sighting not looked at again for this long is of a file gone or
// printed elsewhere: forgotten, so the map stays as small as the folders.
constexpr std::uint32_t kForgetSightingMs = 10 * 60 * 1000;
// A claim of another host found moved or made again between two looks is
// looked at anew, a few times, before the file counts as busy.
constexpr int kClaimAttempts = 3;

std::int64_t WallSecondsNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string HolderOf(const std::optional<ClaimRecord>& record) {
    return record ? DescribeHolder(record->Owner) : "another host (its claim is being written)";
}

// name's record, when it can be read and is one.
std::optional<ClaimFile> ReadRecord(ClaimFolder& folder, const std::string& hotFolder,
                                    const std::string& name) {
    ClaimIoResult found = folder.Read(hotFolder, name);
    if (!found.Ok()) return std::nullopt;
    std::optional<ClaimRecord> record = ParseClaim(found.Text);
    if (!record) return std::nullopt;
    return ClaimFile{name, std::move(found.Text), std::move(*record)};
}

Status StateFailure(const std::string& what, const std::string& reason) {
    return Status::Failure(HF_ERR_STATE, what + ": " + reason);
}

}  // namespace

FileClaims::FileClaims(ClaimFolder& folder, Clock& clock, ClaimOwner me, std::uint32_t leaseMs)
    : folder_(folder), clock_(clock), me_(std::move(me)), leaseMs_(leaseMs) {}

ClaimRecord FileClaims::NewRecord(const std::string& fileName, ClaimStage stage) const {
    ClaimRecord record;
    record.File = fileName;
    record.Owner = me_;
    record.Stage = stage;
    record.LeaseMs = leaseMs_;
    record.WrittenAt = WallSecondsNow();
    return record;
}

ClaimAnswer FileClaims::Claim(const std::string& hotFolder, const std::string& fileName) {
    MutexLock guard(lock_);
    const Key key{hotFolder, ClaimFileName(fileName)};
    // A claim held already is looked at afresh too: another host may have
    // taken it over while this one was not renewing it.
    if (const auto it = held_.find(key); it != held_.end() && it->second.Lost) held_.erase(it);
    const std::uint32_t now = clock_.Now();
    ForgetOldSightings(now);
    std::string takenFrom;
    for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
        const ClaimRecord mine = NewRecord(fileName, ClaimStage::Claimed);
        const std::string text = FormatClaim(mine);
        const ClaimIoResult made = folder_.Create(hotFolder, key.second, text);
        if (made.Ok() && PutBackSending(hotFolder, key.second, fileName, {})) {
            continue;  // the record back over this one is judged as any other
        }
        if (made.Ok()) {
            held_[key] = {mine, text, false, {}};
            seen_.erase(key);
            return {ClaimAnswer::Kind::Held, takenFrom, {}};
        }
        if (made.Kind == ClaimIo::ReadOnly) return {ClaimAnswer::Kind::Unclaimed, {}, made.Reason};
        if (made.Kind != ClaimIo::Exists) return {ClaimAnswer::Kind::Failed, {}, made.Reason};

        const ClaimIoResult found = folder_.Read(hotFolder, key.second);
        if (found.Kind == ClaimIo::Missing) continue;  // released in between
        if (!found.Ok()) return {ClaimAnswer::Kind::Failed, {}, found.Reason};
        const std::optional<ClaimRecord> record = ParseClaim(found.Text);
        const ClaimVerdict verdict = JudgeClaim(record, me_, Observe(key, found.Text, now));
        switch (verdict) {
            case ClaimVerdict::Mine:
                // A record of this run that a failed release left behind.
                held_[key] = {*record, found.Text, false, {}};
                seen_.erase(key);
                return {ClaimAnswer::Kind::Held, {}, {}};
            case ClaimVerdict::Busy:
                return {ClaimAnswer::Kind::Busy, HolderOf(record), {}};
            case ClaimVerdict::AwaitHost:
                return {ClaimAnswer::Kind::AwaitHost, HolderOf(record), {}};
            case ClaimVerdict::Reclaim:
            case ClaimVerdict::TakeOver: {
                std::string detail;
                switch (TakeAway(key, found.Text, detail)) {
                    case TakeResult::Taken:
                        if (verdict == ClaimVerdict::TakeOver) takenFrom = HolderOf(record);
                        seen_.erase(key);
                        continue;  // and made anew, if no other host was quicker
                    case TakeResult::Gone:
                        continue;
                    case TakeResult::Changed:
                        return {ClaimAnswer::Kind::Busy, HolderOf(ParseClaim(detail)), {}};
                    case TakeResult::Failed:
                        return {ClaimAnswer::Kind::Failed, {}, detail};
                }
                break;
            }
        }
    }
    return {ClaimAnswer::Kind::Busy, "another host", {}};
}

Status FileClaims::MarkSending(const std::string& hotFolder, const std::string& fileName) {
    MutexLock guard(lock_);
    const Key key{hotFolder, ClaimFileName(fileName)};
    const auto it = held_.find(key);
    if (it == held_.end()) return Status::Success();
    return Rewrite(key, it->second, ClaimStage::Sending);
}

void FileClaims::Release(const std::string& hotFolder, const std::string& fileName) {
    MutexLock guard(lock_);
    const Key key{hotFolder, ClaimFileName(fileName)};
    const auto it = held_.find(key);
    if (it == held_.end()) return;
    if (!it->second.Lost) {
        // Only the record this service wrote goes: should another host have
        // taken the claim over meanwhile, its record stays. A record that
        // cannot be removed now is cleared by the next run's start.
        const ClaimIoResult found = folder_.Read(hotFolder, key.second);
        if (found.Ok() && found.Text == it->second.Text) folder_.Remove(hotFolder, key.second);
    }
    // Nor may a copy of it that a taker moved aside and did not put back
    // outlive the file: it would hold a later file of the same name.
    for (const ClaimFile& aside : Asides(hotFolder, key.second, it->second.Record.File)) {
        if (aside.Text == it->second.Text) folder_.Remove(hotFolder, aside.Name);
    }
    held_.erase(it);
}

void FileClaims::Renew() {
    MutexLock guard(lock_);
    for (auto& [key, held] : held_) {
        if (!held.Lost) Rewrite(key, held, held.Record.Stage);
    }
}

LeftoverClaims FileClaims::ClearLeftovers(
    const std::string& hotFolder, const std::function<bool(const std::string& file)>& recorded,
    bool recordsLost) {
    LeftoverClaims done;
    {
        MutexLock guard(lock_);
        if (!cleared_.insert(hotFolder).second) return done;
    }
    // name's record when an earlier run of this service wrote it.
    const auto earlierRun = [&](const std::string& name) {
        std::optional<ClaimFile> found = ReadRecord(folder_, hotFolder, name);
        if (found && (!found->Record.Owner.SameService(me_) || found->Record.Owner.Run == me_.Run))
            found.reset();
        return found;
    };
    // The copies of an earlier run's records that nothing else reads: a
    // record a taker moved aside and did not put back goes back when it
    // says sending, to be adopted below, and is dropped otherwise; a record
    // the run was writing when it ended goes.
    for (const std::string& name : folder_.List(hotFolder)) {
        const bool aside = IsClaimAsideName(name);
        if (!aside && !IsClaimTempName(name)) continue;
        const std::optional<ClaimFile> found = earlierRun(name);
        if (!found) continue;
        if (aside && found->Record.Stage == ClaimStage::Sending) {
            folder_.MoveAside(hotFolder, name, ClaimFileName(found->Record.File));
        } else {
            folder_.Remove(hotFolder, name);
        }
    }
    for (const std::string& name : folder_.List(hotFolder)) {
        if (!IsClaimFileName(name)) continue;
        const std::optional<ClaimFile> found = earlierRun(name);
        if (!found) continue;
        const ClaimRecord& record = found->Record;
        const Key key{hotFolder, name};
        const bool followed = recorded && recorded(record.File);
        if (followed || (recordsLost && record.Stage == ClaimStage::Sending)) {
            // Its job may have been sent: no other host may send it, so the
            // claim stays, held by this run. Sending records are never taken
            // over, so rewriting it in place races with no one.
            ClaimRecord adopted = record;
            adopted.Owner = me_;
            adopted.Renewal += 1;
            adopted.WrittenAt = WallSecondsNow();
            if (followed) adopted.Stage = ClaimStage::Sending;
            const std::string text = FormatClaim(adopted);
            if (folder_.Replace(hotFolder, name, ClaimTempName(name, me_.Run), text).Ok()) {
                MutexLock guard(lock_);
                held_[key] = {adopted, text, false, {}};
                ++done.Adopted;
            }
            continue;
        }
        std::string detail;
        if (TakeAway(key, found->Text, detail) == TakeResult::Taken) ++done.Cleared;
    }
    return done;
}

std::uint32_t FileClaims::Observe(const Key& key, const std::string& text, std::uint32_t now) {
    auto [it, fresh] = seen_.try_emplace(key, Seen{text, now, now});
    if (!fresh && it->second.Text != text) it->second = Seen{text, now, now};
    it->second.LastLook = now;
    // Elapsed time, so that the tick's wrap changes nothing.
    return now - it->second.Since;
}

void FileClaims::ForgetOldSightings(std::uint32_t now) {
    std::erase_if(
        seen_, [&](const auto& entry) { return now - entry.second.LastLook > kForgetSightingMs; });
}

FileClaims::TakeResult FileClaims::TakeAway(const Key& key, const std::string& expected,
                                            std::string& detail) {
    const auto& [hotFolder, name] = key;
    const std::string aside = ClaimAsideName(name, me_.Run);
    // The rename is the decision: of several hosts that try, one wins.
    const ClaimIoResult moved = folder_.MoveAside(hotFolder, name, aside);
    if (moved.Kind == ClaimIo::Missing) return TakeResult::Gone;
    if (!moved.Ok()) {
        detail = moved.Reason;
        return TakeResult::Failed;
    }
    const ClaimIoResult check = folder_.Read(hotFolder, aside);
    if (check.Ok() && check.Text == expected) {
        folder_.Remove(hotFolder, aside);
        return TakeResult::Taken;
    }
    // Its host wrote it again in the instant before the rename, or another
    // host took it over first: alive after all. A record that says sending
    // goes back at once, whatever was made in between (whoever made it finds
    // the record changed when it comes to send, and does not send). Any
    // other is dropped: its host finds its claim gone when it comes to send,
    // and tries again later, so that no rename ever puts back a claim over
    // one that a third host may be about to send on.
    const std::optional<ClaimRecord> record = ParseClaim(check.Text);
    if (record && record->Stage == ClaimStage::Sending) {
        folder_.MoveAside(hotFolder, aside, name);
    } else {
        folder_.Remove(hotFolder, aside);
    }
    detail = check.Text;
    return TakeResult::Changed;
}

std::vector<ClaimFile> FileClaims::Asides(const std::string& hotFolder, const std::string& name,
                                          const std::string& file) {
    std::vector<ClaimFile> found;
    for (const std::string& aside : folder_.List(hotFolder)) {
        if (!IsClaimAsideName(aside, name)) continue;
        std::optional<ClaimFile> read = ReadRecord(folder_, hotFolder, aside);
        if (read && read->Record.File == file) found.push_back(std::move(*read));
    }
    return found;
}

bool FileClaims::PutBackSending(const std::string& hotFolder, const std::string& name,
                                const std::string& file, const std::string& text) {
    for (const ClaimFile& aside : Asides(hotFolder, name, file)) {
        if (aside.Record.Stage != ClaimStage::Sending || (!text.empty() && aside.Text != text)) {
            continue;
        }
        if (folder_.MoveAside(hotFolder, aside.Name, name).Ok()) return true;
    }
    return false;
}

Status FileClaims::Rewrite(const Key& key, Held& held, ClaimStage stage) {
    const auto& [hotFolder, name] = key;
    if (held.Lost) {
        return Status::Failure(HF_ERR_OTHER_HOST,
                               held.LostTo +
                                   " took the file over: this host had not renewed "
                                   "its claim in time");
    }
    ClaimIoResult found = folder_.Read(hotFolder, name);
    const auto gone = [&] {
        return found.Kind == ClaimIo::Missing || (found.Ok() && found.Text != held.Text);
    };
    // A taker that found this record saying sending after it moved it
    // aside puts it back; one that died first left it aside.
    if (held.Record.Stage == ClaimStage::Sending && gone() &&
        PutBackSending(hotFolder, name, held.Record.File, held.Text)) {
        found = folder_.Read(hotFolder, name);
    }
    if (gone()) {
        held.Lost = true;
        held.LostTo = found.Ok() ? HolderOf(ParseClaim(found.Text)) : "another host";
        return Rewrite(key, held, stage);
    }
    if (!found.Ok())
        return StateFailure("the claim of " + held.Record.File + " cannot be read", found.Reason);
    ClaimRecord next = held.Record;
    next.Stage = stage;
    next.Renewal += 1;
    next.WrittenAt = WallSecondsNow();
    const std::string text = FormatClaim(next);
    const ClaimIoResult written =
        folder_.Replace(hotFolder, name, ClaimTempName(name, me_.Run), text);
    if (!written.Ok()) {
        return StateFailure("the claim of " + held.Record.File + " cannot be written",
                            written.Reason);
    }
    held.Record = std::move(next);
    held.Text = text;
    return Status::Success();
}

}  // namespace tallowin
