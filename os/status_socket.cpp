#include "os/status_socket.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace tallowin {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t kMaxRequest = 256;
constexpr std::size_t kMaxReply = 4 * 1024 * 1024;
// A client that connects and says nothing does not hold the server up for
// longer than this.
constexpr auto kClientPatience = std::chrono::seconds(2);

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// FNV-1a: stable across builds and machines, which a socket name must be.
std::uint64_t Fnv1a(const std::string& text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// The folder exists, is a folder, belongs to this user and no one else may
// enter it; made (0700) when missing.
Status PrivateFolder(const std::string& folder) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return Status::Failure(HF_ERR_STATE, Errno(folder.c_str()));
    }
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0)
        return Status::Failure(HF_ERR_STATE, Errno(folder.c_str()));
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
        return Status::Failure(HF_ERR_STATE,
                               folder + " is not a folder private to this user; no status socket");
    }
    return Status::Success();
}

int MsLeft(SteadyClock::time_point until) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now()).count();
    return static_cast<int>(std::max<std::int64_t>(0, left));
}

// Waits until fd is ready for events or until passes; false at the deadline
// or on an error.
bool WaitReady(int fd, short events, SteadyClock::time_point until) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, MsLeft(until));
        if (n > 0) return true;
        if (n == 0) return false;
        if (errno != EINTR) return false;
    }
}

bool SendAll(int fd, const std::string& bytes, SteadyClock::time_point until) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            if (!WaitReady(fd, POLLOUT, until)) return false;
        } else {
            return false;
        }
    }
    return true;
}

// Reads until the peer ends its side, a newline (when stopAtNewline), the
// size limit or the deadline. False on an error or at the deadline.
bool ReceiveUntil(int fd, std::string& out, std::size_t limit, bool stopAtNewline,
                  SteadyClock::time_point until) {
    char buffer[4096];
    for (;;) {
        if (stopAtNewline && out.find('\n') != std::string::npos) return true;
        if (out.size() >= limit) return true;
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            out.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            return true;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN) {
            if (!WaitReady(fd, POLLIN, until)) return false;
        } else {
            return false;
        }
    }
}

}  // namespace

std::string StatusSocketFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/tallowin";
    return "/tmp/tallowin-" + std::to_string(geteuid());
}

std::string StatusSocketPathFor(const std::string& lockPath) {
    const std::size_t slash = lockPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : lockPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? lockPath : lockPath.substr(slash + 1);
    const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(folder.c_str(), nullptr),
                                                               &std::free);
    if (!resolved) return {};
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx",
                  static_cast<unsigned long long>(Fnv1a(std::string(resolved.get()) + "/" + name)));
    return StatusSocketFolder() + "/" + hex + ".sock";
}

StatusServer::StatusServer(std::string path, Handler handler)
    : path_(std::move(path)), handler_(std::move(handler)) {
    sockaddr_un address{};
    if (!FillAddress(path_, address)) {
        status_ = Status::Failure(HF_ERR_STATE, "status socket path too long: " + path_);
        return;
    }
    const std::size_t slash = path_.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        status_ = PrivateFolder(path_.substr(0, slash));
        if (!status_.Ok()) return;
    }
    listen_.reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    wake_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!listen_ || !wake_) {
        status_ = Status::Failure(HF_ERR_STATE, Errno("status socket"));
        return;
    }
    // A file left by an instance that died; the lock this server is made
    // under says no living one uses it.
    unlink(path_.c_str());
    if (bind(listen_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        chmod(path_.c_str(), 0600) != 0 || listen(listen_.get(), 8) != 0) {
        status_ = Status::Failure(HF_ERR_STATE, Errno(path_.c_str()));
        listen_.reset();
        return;
    }
    thread_ = std::thread([this] { Serve(); });
}

StatusServer::~StatusServer() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(wake_.get(), &one, sizeof one);
        thread_.join();
    }
    if (listen_) unlink(path_.c_str());
}

void StatusServer::Serve() {
    for (;;) {
        pollfd fds[2] = {{listen_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        const int n = poll(fds, 2, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        UniqueFd connection(accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (connection) Answer(connection.get());
    }
}

void StatusServer::Answer(int connection) {
    // Only this user may ask: the folder already keeps others out, and the
    // peer's credentials say so again whatever the folder's mode became.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
        peer.uid != geteuid()) {
        return;
    }
    const auto until = SteadyClock::now() + kClientPatience;
    std::string request;
    if (!ReceiveUntil(connection, request, kMaxRequest, true, until)) return;
    request = request.substr(0, request.find('\n'));
    SendAll(connection, handler_(request), until);
}

StatusReply QueryStatusSocket(const std::string& path, const std::string& request,
                              std::chrono::milliseconds timeout) {
    StatusReply reply;
    sockaddr_un address{};
    if (!FillAddress(path, address)) return reply;
    const UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        reply.How = StatusReply::Outcome::Failed;
        reply.Error = Errno("socket");
        return reply;
    }
    // A Unix socket connects at once or not at all: nobody listens when the
    // file is missing, stale or refused.
    if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno == ENOENT || errno == ECONNREFUSED || errno == ENOTDIR) return reply;
        reply.How = StatusReply::Outcome::Failed;
        reply.Error = Errno(path.c_str());
        return reply;
    }
    reply.How = StatusReply::Outcome::Failed;
    const auto until = SteadyClock::now() + timeout;
    if (!SendAll(fd.get(), request + "\n", until)) {
        reply.Error = Errno("sending the request");
        return reply;
    }
    shutdown(fd.get(), SHUT_WR);
    if (!ReceiveUntil(fd.get(), reply.Text, kMaxReply, false, until)) {
        reply.Error = "no reply within " + std::to_string(timeout.count()) + " ms";
        return reply;
    }
    if (reply.Text.empty()) {
        reply.Error = "the instance closed the connection without a reply";
        return reply;
    }
    reply.How = StatusReply::Outcome::Answered;
    return reply;
}

}  // namespace tallowin
