// Where the private CUPS scheduler that scripts/cups-sandbox starts can be
// found, and what its test queues are known to look like.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace sandbox {

// The queues the sandbox creates.
inline constexpr const char* kQueue600 = "tallowin-600";  // 600 dpi, default media 8.5 x 11.5 in
inline constexpr const char* kQueue300 = "tallowin-300";  // 300 dpi, grey, default media Letter
inline constexpr const char* kQueueRaw = "tallowin-raw";  // raw queue, no PPD
// As tallowin-600, but PDF reaches the backend only through pdftopdf.
inline constexpr const char* kQueueFiltered = "tallowin-filtered";
// As tallowin-600, but its backend fails: every job ends aborted.
inline constexpr const char* kQueueFail = "tallowin-fail";
// A class of tallowin-600 and tallowin-300: each job lands on one of them.
inline constexpr const char* kQueuePool = "tallowin-pool";
// As tallowin-600, with two trays (media-source top and bottom) and two-sided
// printing.
inline constexpr const char* kQueueTrays = "tallowin-trays";

// $CUPS_SERVER as scripts/test exports it (the sandbox's socket). Fails the
// current test (and returns an empty string) when it is not set.
std::string Server();

// The folder the sandbox's backend writes queue's jobs into.
std::string OutputDir(const std::string& queue);

// One job that the backend captured.
struct CapturedJob {
    std::string DocumentPath;  // the job's data, as the printer would receive it
    std::string Title;         // the job name
    std::string Options;       // the job's options, as the backend saw them
    std::string Copies;        // the job's copies, as the backend saw them ("1" for one)
};

// Waits (up to timeoutMs) until queue's output folder holds at least count
// finished jobs, then returns them in the order they arrived. Returns what
// is there when the time runs out.
std::vector<CapturedJob> WaitForJobs(const std::string& queue, std::size_t count,
                                     int timeoutMs = 30000);

// Removes every captured job of queue.
void ClearJobs(const std::string& queue);

// Stops the sandbox's scheduler (SIGSTOP) for as long as the object lives,
// so that it accepts connections but answers nothing; it goes on (SIGCONT)
// when the object goes, whatever the test did meanwhile. Fails the test
// when the scheduler's process cannot be found.
class FrozenScheduler {
  public:
    FrozenScheduler();
    ~FrozenScheduler();
    FrozenScheduler(const FrozenScheduler&) = delete;
    FrozenScheduler& operator=(const FrozenScheduler&) = delete;

  private:
    int pid_ = 0;
};

// Kills the sandbox's scheduler (SIGKILL), as a crash would, and starts it
// again on the same configuration and socket (scripts/cups-sandbox crash).
// With forgetJobs its spooled jobs and job history are lost in between, so
// that its job ids start again at 1. Fails the test when it does not answer
// again.
void CrashScheduler(bool forgetJobs);

// Stops (cupsdisable) or starts (cupsenable) queue; fails the test when the
// command fails.
void SetQueueEnabled(const std::string& queue, bool enabled);

// libcups reads $HOME once per thread, at its first call, and keeps it; so
// one private home serves a whole test program, set up by the first call of
// Home() before any libcups call, and each test writes the lpoptions file in
// it that it needs. Its CUPS_SERVERROOT is an empty folder, so that neither
// the machine's client.conf nor its system-wide lpoptions reach the tests.
class PrivateHome {
  public:
    PrivateHome();
    std::string Lpoptions() const;  // $HOME/.cups/lpoptions
    const std::string& Path() const;

  private:
    TempDir dir_;
};
PrivateHome& Home();

// Writes content as the private home's lpoptions file; empty removes it.
void SetLpoptions(const std::string& content);

}  // namespace sandbox
