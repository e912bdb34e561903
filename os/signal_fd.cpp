#include "os/signal_fd.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace tallowin {

SignalFd::SignalFd() {
    sigset_t set;
    sigemptyset(&set);
    for (int number : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, number);
    if (pthread_sigmask(SIG_BLOCK, &set, &previous_) != 0) return;
    fd_.reset(signalfd(-1, &set, SFD_CLOEXEC));
}

SignalFd::~SignalFd() {
    // Closed before the mask is restored, as the header says.
    fd_.reset();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

int SignalFd::Next() {
    signalfd_siginfo info{};
    for (;;) {
        const ssize_t n = read(fd_.get(), &info, sizeof info);
        if (n == static_cast<ssize_t>(sizeof info)) return static_cast<int>(info.ssi_signo);
        if (n < 0 && errno == EINTR) continue;
        return -1;
    }
}

int SignalFd::Next(int timeoutMs) {
    pollfd ready{.fd = fd_.get(), .events = POLLIN, .revents = 0};
    for (;;) {
        const int n = poll(&ready, 1, timeoutMs);
        if (n == 0) return 0;
        if (n > 0) return Next();
        if (errno != EINTR) return -1;
        // A stopped and continued process (SIGSTOP, SIGCONT) lands here;
        // waiting the whole time again is harmless for a periodic check.
    }
}

}  // namespace tallowin
