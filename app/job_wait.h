// Waiting for the jobs that `tallowin print` sent: each is asked about until
// it completed or failed, the user interrupts, or nothing has moved for too
// long. Pure logic over the clock and the questions; no scheduler here.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/ports/services.h"

namespace tallowin {

// The user's interrupt (Ctrl+C) as the command sees it: Requested inside
// every request to the scheduler, and a pause between two rounds of
// questions ends as soon as it comes.
class Interrupt : public StopSignal {
  public:
    // Waits ms, or less when the interrupt comes: false once it has come.
    virtual bool Pause(std::uint32_t ms) = 0;
};

struct WaitLimits {
    std::uint32_t FirstPauseMs = 250;     // between the first two rounds
    std::uint32_t LongestPauseMs = 2000;  // each pause doubles up to this
    // Given up once no job has completed or failed for this long; a job the
    // scheduler cannot be asked about (Unknown) counts as still waiting.
    std::uint32_t QuietLimitMs = 10 * 60 * 1000;
};

enum class WaitEnd {
    AllEnded,      // every job completed or failed
    QuietTooLong,  // the others were still pending (or unknown) at the limit
    Interrupted,   // the user interrupted
};

// Asks ask(i) about every job i of states whose State is not yet Completed
// or Failed, round after round, and keeps each answer in states[i] (so the
// ones still waiting hold their last answer). Returns how the wait ended.
WaitEnd AwaitJobs(const std::function<JobStatus(std::size_t)>& ask, std::vector<JobStatus>& states,
                  Clock& clock, Interrupt& interrupt, const WaitLimits& limits = {});

bool HasEnded(JobState state);

}  // namespace tallowin
