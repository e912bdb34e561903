#include "app/job_wait.h"

#include <algorithm>

namespace tallowin {

bool HasEnded(JobState state) {
    return state == JobState::Completed || state == JobState::Failed || state == JobState::Gone;
}

WaitEnd AwaitJobs(const std::function<JobStatus(std::size_t)>& ask, std::vector<JobStatus>& states,
                  Clock& clock, Interrupt& interrupt, const WaitLimits& limits) {
    std::uint32_t lastMove = clock.Now();
    std::uint32_t pause = limits.FirstPauseMs;
    for (;;) {
        bool waiting = false;
        for (std::size_t i = 0; i < states.size(); ++i) {
            if (HasEnded(states[i].State)) continue;
            if (interrupt.Requested()) return WaitEnd::Interrupted;
            states[i] = ask(i);
            if (HasEnded(states[i].State)) {
                lastMove = clock.Now();
            } else {
                waiting = true;
            }
        }
        if (!waiting) return WaitEnd::AllEnded;
        // Unsigned: right across the tick's wrap.
        if (clock.Now() - lastMove >= limits.QuietLimitMs) return WaitEnd::QuietTooLong;
        if (!interrupt.Pause(pause)) return WaitEnd::Interrupted;
        pause = std::min(pause * 2, limits.LongestPauseMs);
    }
}

}  // namespace tallowin
