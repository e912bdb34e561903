// The interrupt of `tallowin print`: SIGINT, SIGTERM or SIGHUP, read from a
// SignalFd, so that Ctrl+C ends the sending and the wait the way the
// command's own limits do (saying what is still pending) rather than
// killing it halfway through a record.
#pragma once

#include <atomic>
#include <mutex>

#include "app/job_wait.h"
#include "os/signal_fd.h"

namespace tallowin {

// Once a signal came, Requested stays true. received must outlive this
// object. Requested is thread-safe (a page may be written on a thread of
// its own); Pause is for the one thread that waits.
class SignalInterrupt final : public Interrupt {
  public:
    explicit SignalInterrupt(SignalFd& received) : signals_(received) {}

    bool Requested() const override;
    bool Pause(std::uint32_t ms) override;

  private:
    // Looks for a signal for up to ms. A descriptor that cannot be read
    // counts as interrupted, so a wait never spins on it.
    bool Received(int ms) const;

    SignalFd& signals_;
    mutable std::mutex read_;  // one reader of the descriptor at a time
    mutable std::atomic<bool> received_{false};
};

}  // namespace tallowin
