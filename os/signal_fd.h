// Signals read as data: a signalfd for SIGTERM, SIGINT and SIGHUP, so that a
// plain loop on the main thread handles them and no signal handler runs.
#pragma once

#include <signal.h>

#include "util/unique_fd.h"

namespace tallowin {

class SignalFd {
  public:
    // Blocks the three signals in the calling thread, and so in every thread
    // it creates afterwards: construct it first thing, before any thread
    // starts, or a signal may go to a thread that does not read it.
    SignalFd();
    SignalFd(const SignalFd&) = delete;
    SignalFd& operator=(const SignalFd&) = delete;
    // Closes the descriptor and restores the signal mask.
    ~SignalFd();

    bool Valid() const { return static_cast<bool>(fd_); }
    // Waits for the next of the signals; its number, or -1 on an error.
    int Next();
    // The same, but 0 when none arrived within timeoutMs milliseconds.
    int Next(int timeoutMs);

  private:
    UniqueFd fd_;
    sigset_t previous_{};
};

}  // namespace tallowin
