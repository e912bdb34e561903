// What a job record and the scheduler's answer about its job mean for the
// file: pure, so that every pairing is tested in a table.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/ports/services.h"

namespace tallowin {

// What becomes of a file whose job is recorded (stage Sending or Sent).
enum class JobAction {
    Wait,             // ask again at the next scan; the file stays
    Delete,           // the job completed with its document: the file goes
    Keep,             // the job failed with its document: the file stays until it changes
    CancelAndResend,  // a job without its document waits in the queue: cancel it, send again
    Resend,           // no job of the file can print any more: send it again
    Search,           // the record names no job yet: look for one by its name
};

// How long a job the scheduler says it does not know is still waited for
// (by the injected clock) before its file is sent again: a scheduler that
// has just come back, or a queue being set up again, may not know it for a
// moment.
inline constexpr std::uint32_t kJobGoneGraceMs = 30000;

// The action for record, a record in stage Sending or Sent, given job, the
// scheduler's answer for the job it names, and whether the scheduler has
// said it does not know that job for longer than the grace. A record in
// stage Sending that names no job (no id, no uuid) is searched for first;
// job is then not read.
JobAction DecideJob(const JobRecord& record, const JobStatus& job, bool goneGraceOver);

// The job of a search that tells most of what became of the file: one that
// completed with its document, else one that waits with it, else one that
// waits without it, else one that failed with it, else any; the newest of
// equals. Null when found is empty.
const FoundJob* MostTelling(const std::vector<FoundJob>& found);

// The earliest creation time, in seconds since 1970, of a job that can
// have been sent for a file modified at modifiedNs under a record written
// at recordedAt (0: not known), with a little room for the scheduler's
// clock.
std::int64_t EarliestJobTime(std::int64_t modifiedNs, std::int64_t recordedAt);

// The wall clock in seconds since 1970, as job records and the scheduler's
// creation times count.
std::int64_t SecondsNow();

}  // namespace tallowin
