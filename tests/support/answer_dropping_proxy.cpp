#include "tests/support/answer_dropping_proxy.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string_view>
#include <vector>

namespace sandbox {

namespace {

using tallowin::UniqueFd;

sockaddr_un AddressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

// One client's connection and the proxy's own to the scheduler.
struct Pair {
    UniqueFd Client, Server;
    std::string Asked;        // what the client sent so far, until a Create-Job is seen
    bool DropAnswer = false;  // the next answer closes both ends instead
};

// An IPP request follows its HTTP header: version (2 bytes), then the
// operation, Create-Job being 0x0005.
bool AsksCreateJob(const std::string& asked) {
    for (std::size_t at = asked.find("\r\n\r\n"); at != std::string::npos;
         at = asked.find("\r\n\r\n", at + 1)) {
        if (asked.size() >= at + 8 && asked[at + 6] == 0 && asked[at + 7] == 5) return true;
    }
    return false;
}

}  // namespace

AnswerDroppingProxy::AnswerDroppingProxy(std::string path, std::string server)
    : path_(std::move(path)), server_(std::move(server)) {
    listener_.reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_un address = AddressOf(path_);
    if (!listener_ ||
        bind(listener_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_.get(), 16) != 0) {
        ADD_FAILURE() << "cannot listen on " << path_ << ": " << std::strerror(errno);
        return;
    }
    relay_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

AnswerDroppingProxy::~AnswerDroppingProxy() {
    relay_ = {};  // joined before the socket goes
    unlink(path_.c_str());
}

void AnswerDroppingProxy::Run(std::stop_token stop) {
    std::vector<Pair> pairs;
    char buffer[65536];
    while (!stop.stop_requested()) {
        std::vector<pollfd> polled{{listener_.get(), POLLIN, 0}};
        for (const Pair& p : pairs) {
            polled.push_back({p.Client.get(), POLLIN, 0});
            polled.push_back({p.Server.get(), POLLIN, 0});
        }
        if (poll(polled.data(), polled.size(), 50) <= 0) continue;
        if (polled[0].revents & POLLIN) {
            Pair p;
            p.Client.reset(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            p.Server.reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
            const sockaddr_un address = AddressOf(server_);
            if (p.Client && p.Server &&
                connect(p.Server.get(), reinterpret_cast<const sockaddr*>(&address),
                        sizeof address) == 0) {
                pairs.push_back(std::move(p));
            }
            continue;  // the poll set changed
        }
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            Pair& p = pairs[i];
            bool closed = false;
            for (const bool fromClient : {true, false}) {
                const pollfd& f = polled[1 + 2 * i + (fromClient ? 0 : 1)];
                if (closed || !(f.revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const ssize_t got = read(f.fd, buffer, sizeof buffer);
                if (got <= 0 || (!fromClient && p.DropAnswer)) {
                    if (!fromClient && p.DropAnswer) dropped_ = true;
                    closed = true;
                    continue;
                }
                const int to = fromClient ? p.Server.get() : p.Client.get();
                if (write(to, buffer, static_cast<std::size_t>(got)) != got) closed = true;
                if (fromClient && !dropped_ && !p.DropAnswer) {
                    p.Asked.append(buffer, static_cast<std::size_t>(got));
                    p.DropAnswer = AsksCreateJob(p.Asked);
                }
            }
            if (closed) p.Client.reset(), p.Server.reset();
        }
        std::erase_if(pairs, [](const Pair& p) { return !p.Client; });
    }
}

}  // namespace sandbox
