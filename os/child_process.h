// Runs a program without a shell, with a time limit, and keeps what it says:
// how the notify command is started.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace tallowin {

struct ChildRun {
    enum class End {
        Exited,      // ExitCode holds its exit status
        Signalled,   // ended by a signal of its own or someone else's (Signal)
        TimedOut,    // still running at the limit: ended (SIGTERM, then SIGKILL)
        NotStarted,  // posix_spawn failed (Error says why); nothing ran
    };
    End How = End::NotStarted;
    int ExitCode = 0;
    int Signal = 0;
    // Standard output and standard error together, in the order written, up
    // to the limit given; OutputCut says that more was written and dropped.
    std::string Output;
    bool OutputCut = false;
    std::string Error;  // NotStarted: strerror of posix_spawn or of its set-up

    bool Succeeded() const { return How == End::Exited && ExitCode == 0; }
};

struct ChildLimits {
    std::chrono::milliseconds Time{30000};
    // After SIGTERM at the limit: how long before SIGKILL.
    std::chrono::milliseconds Grace{2000};
    std::size_t OutputBytes = 4096;
    // When set: the run is ended as at the limit as soon as it turns true
    // (looked at every 100 ms); must outlive the call.
    const std::atomic<bool>* Cancel = nullptr;
};

// Starts argv[0] (a path, or a name looked up in PATH) with argv as its
// arguments, the caller's environment plus extraEnv ("NAME=value" entries,
// which win over the caller's), standard input /dev/null, standard output
// and error into one pipe, every signal at its default disposition and
// unblocked (a caller that reads its signals through signalfd has them
// blocked), in a process group of its own. Waits until it ends or the time
// limit passes; at the limit the whole group is ended. The child is always
// reaped; no descriptor of the caller leaks into it (they are close-on-exec).
// Blocks the calling thread for up to limits.Time + limits.Grace; safe to
// call from several threads at once. Never throws; an empty argv is
// NotStarted.
ChildRun RunChild(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                  const ChildLimits& limits);

// One line for the print log: "exit 0", "exit 3", "signal 9", "ended at the
// time limit", "not started: <why>", followed by the output (newlines as
// " | ") after ": " when there is any, and " [...]" when some was dropped.
std::string DescribeChildRun(const ChildRun& run);

}  // namespace tallowin
