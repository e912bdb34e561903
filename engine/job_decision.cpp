#include "engine/job_decision.h"

#include <algorithm>
#include <chrono>

namespace tallowin {

namespace {

// How far the scheduler's clock may be behind the one that stamped the
// file and the record.
constexpr std::int64_t kClockRoomS = 2;

// Higher tells more: see MostTelling.
int Weight(const JobStatus& s) {
    if (s.State == JobState::Completed && !s.Documentless) return 4;
    if (s.State == JobState::Pending && !s.Documentless) return 3;
    if (s.State == JobState::Pending) return 2;
    if (s.State == JobState::Failed && !s.Documentless) return 1;
    return 0;
}

}  // namespace

JobAction DecideJob(const JobRecord& record, const JobStatus& job, bool goneGraceOver) {
    if (record.State == JobRecord::Stage::Sending && record.JobId <= 0 && record.JobUuid.empty()) {
        return JobAction::Search;
    }
    switch (job.State) {
        case JobState::Unknown:
            return JobAction::Wait;
        case JobState::Pending:
            // Nobody is sending its document any more (the worker that sent
            // it is this one): without it, the job never prints.
            return job.Documentless ? JobAction::CancelAndResend : JobAction::Wait;
        case JobState::Completed:
            return job.Documentless ? JobAction::Resend : JobAction::Delete;
        case JobState::Failed:
            return job.Documentless ? JobAction::Resend : JobAction::Keep;
        case JobState::Gone:
            return goneGraceOver ? JobAction::Resend : JobAction::Wait;
    }
    return JobAction::Wait;
}

const FoundJob* MostTelling(const std::vector<FoundJob>& found) {
    const FoundJob* best = nullptr;
    for (const FoundJob& job : found) {
        if (best == nullptr || Weight(job.Status) > Weight(best->Status) ||
            (Weight(job.Status) == Weight(best->Status) &&
             job.Ticket.CreatedAt >= best->Ticket.CreatedAt)) {
            best = &job;
        }
    }
    return best;
}

std::int64_t EarliestJobTime(std::int64_t modifiedNs, std::int64_t recordedAt) {
    // Floor division: a time before 1970 rounds down, never up.
    const std::int64_t modified = modifiedNs >= 0 ? modifiedNs / 1'000'000'000
                                                  : -((-modifiedNs + 999'999'999) / 1'000'000'000);
    return std::max(modified, recordedAt) - kClockRoomS;
}

std::int64_t SecondsNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace tallowin
