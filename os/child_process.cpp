#include "os/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "util/unique_fd.h"

extern char** environ;

namespace tallowin {

namespace {

using Steady = std::chrono::steady_clock;

// The spawn's attributes and file actions, released on every way out.
class SpawnSetup {
  public:
    SpawnSetup() {
        attrOk_ = posix_spawnattr_init(&attr_) == 0;
        actionsOk_ = posix_spawn_file_actions_init(&actions_) == 0;
    }
    ~SpawnSetup() {
        if (attrOk_) posix_spawnattr_destroy(&attr_);
        if (actionsOk_) posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // 0, or the error number of the first step that failed.
    int Prepare(int outputFd) {
        if (!attrOk_ || !actionsOk_) return ENOMEM;
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        int rc = posix_spawnattr_setflags(
            &attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
        if (rc == 0) rc = posix_spawnattr_setsigmask(&attr_, &none);
        if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr_, &all);
        if (rc == 0) rc = posix_spawnattr_setpgroup(&attr_, 0);
        if (rc == 0) rc = posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
        if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions_, outputFd, 1);
        if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions_, outputFd, 2);
        return rc;
    }

    const posix_spawnattr_t* Attr() const { return &attr_; }
    const posix_spawn_file_actions_t* Actions() const { return &actions_; }

  private:
    posix_spawnattr_t attr_{};
    posix_spawn_file_actions_t actions_{};
    bool attrOk_ = false;
    bool actionsOk_ = false;
};

// The caller's environment with extraEnv's names replaced.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& extraEnv) {
    std::vector<std::string> env;
    const auto overridden = [&](const char* entry) {
        for (const std::string& extra : extraEnv) {
            const std::size_t eq = extra.find('=');
            const std::string_view name(extra.data(), eq == std::string::npos ? extra.size() : eq);
            if (std::strncmp(entry, name.data(), name.size()) == 0 && entry[name.size()] == '=') {
                return true;
            }
        }
        return false;
    };
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        if (!overridden(*e)) env.emplace_back(*e);
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    return env;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Wakes the waiting loop when the child ends; empty where the kernel has no
// pidfd_open (the loop then polls every 50 ms).
UniqueFd OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    return UniqueFd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
#else
    (void)pid;
    return UniqueFd();
#endif
}

// Reads what the pipe holds now into run, up to the limit.
// False once the pipe has ended (every writer gone) or failed.
bool ReadAvailable(int fd, ChildRun& run, std::size_t limit) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            const std::size_t room = limit - std::min(limit, run.Output.size());
            const std::size_t take = std::min(room, static_cast<std::size_t>(n));
            run.Output.append(buffer, take);
            if (take < static_cast<std::size_t>(n)) run.OutputCut = true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && errno == EAGAIN;
    }
}

// The status once pid has ended; nullopt while it runs.
std::optional<int> Reaped(pid_t pid) {
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == pid) return status;
    if (r < 0) return 0;  // not ours to wait for any more (ECHILD): nothing left to reap
    return std::nullopt;
}

int WaitMs(Steady::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Steady::now());
    return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

// Waits for pid to end until `until` (or cancel), reading its output
// meanwhile.
std::optional<int> WaitUntil(pid_t pid, int pidFd, int& outFd, ChildRun& run,
                             std::size_t outputLimit, Steady::time_point until,
                             const std::atomic<bool>* cancel) {
    for (;;) {
        if (auto status = Reaped(pid)) return status;
        const int left = WaitMs(until);
        if (left == 0 || (cancel != nullptr && cancel->load())) return std::nullopt;
        pollfd fds[2] = {{outFd, POLLIN, 0}, {pidFd, POLLIN, 0}};
        int timeout = pidFd >= 0 ? left : std::min(left, 50);
        if (cancel != nullptr) timeout = std::min(timeout, 100);
        const int n = poll(fds, 2, timeout);
        if (n < 0 && errno != EINTR) return std::nullopt;
        if (outFd >= 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
            !ReadAvailable(outFd, run, outputLimit)) {
            outFd = -1;  // every writer is gone; only the child's end is left to wait for
        }
    }
}

void RecordEnd(ChildRun& run, int status) {
    if (WIFEXITED(status)) {
        run.How = ChildRun::End::Exited;
        run.ExitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run.How = ChildRun::End::Signalled;
        run.Signal = WTERMSIG(status);
    }
}

}  // namespace

ChildRun RunChild(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                  const ChildLimits& limits) {
    ChildRun run;
    if (argv.empty() || argv[0].empty()) {
        run.Error = "no program given";
        return run;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        run.Error = std::strerror(errno);
        return run;
    }
    UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
    SpawnSetup setup;
    if (const int rc = setup.Prepare(writeEnd.get()); rc != 0) {
        run.Error = std::strerror(rc);
        return run;
    }
    std::vector<std::string> args = argv;
    std::vector<std::string> env = ChildEnvironment(extraEnv);
    std::vector<char*> cArgs = CStrings(args), cEnv = CStrings(env);
    pid_t pid = 0;
    const int rc =
        posix_spawnp(&pid, cArgs[0], setup.Actions(), setup.Attr(), cArgs.data(), cEnv.data());
    writeEnd.reset();  // the child holds its own copy; EOF once it (and its children) close it
    if (rc != 0) {
        run.Error = std::strerror(rc);
        return run;
    }
    run.How = ChildRun::End::Exited;
    fcntl(readEnd.get(), F_SETFL, fcntl(readEnd.get(), F_GETFL) | O_NONBLOCK);
    const UniqueFd pidFd = OpenPidFd(pid);
    int outFd = readEnd.get();

    std::optional<int> status = WaitUntil(pid, pidFd.get(), outFd, run, limits.OutputBytes,
                                          Steady::now() + limits.Time, limits.Cancel);
    if (!status) {
        killpg(pid, SIGTERM);
        status = WaitUntil(pid, pidFd.get(), outFd, run, limits.OutputBytes,
                           Steady::now() + limits.Grace, nullptr);
        if (!status) {
            killpg(pid, SIGKILL);
            int raw = 0;
            while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
            }
            status = raw;
        }
        RecordEnd(run, *status);
        run.How = ChildRun::End::TimedOut;
        run.ExitCode = 0;
    } else {
        RecordEnd(run, *status);
    }
    // What the child wrote just before it ended; a descendant that keeps the
    // pipe open is not waited for.
    if (outFd >= 0) ReadAvailable(outFd, run, limits.OutputBytes);
    return run;
}

std::string DescribeChildRun(const ChildRun& run) {
    std::string text;
    switch (run.How) {
        case ChildRun::End::Exited:
            text = "exit " + std::to_string(run.ExitCode);
            break;
        case ChildRun::End::Signalled:
            text = "signal " + std::to_string(run.Signal);
            break;
        case ChildRun::End::TimedOut:
            text = "ended at the time limit";
            break;
        case ChildRun::End::NotStarted:
            return "not started: " + run.Error;
    }
    std::string output;
    for (char c : run.Output) {
        if (c == '\n' || c == '\r') {
            if (!output.empty() && !output.ends_with(" | ")) output += " | ";
        } else {
            output += c;
        }
    }
    while (output.ends_with(" | ")) output.resize(output.size() - 3);
    if (!output.empty()) text += ": " + output;
    if (run.OutputCut) text += " [...]";
    return text;
}

}  // namespace tallowin
