#include "tests/support/answer_tampering_proxy.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
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
    std::string Asked;       // what the client sent so far, until the watched request is seen
    bool Watched = false;    // the next answer is the one to tamper with
    std::string Held;        // what came of that answer so far, when it is rewritten
    bool Rewritten = false;  // Held carries the new status code and waits for its release
};

bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = write(fd, bytes.data(), bytes.size());
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

// Where the IPP message starts after the HTTP header that ends at
// headerEnd (its blank line): right after it, or after the first chunk's
// size line when the body is chunked, as libcups sends a document.
std::size_t BodyStart(const std::string& text, std::size_t headerEnd) {
    const std::size_t body = headerEnd + 4;
    std::size_t hex = body;
    while (hex < text.size() && std::isxdigit(static_cast<unsigned char>(text[hex]))) ++hex;
    return hex > body && text.compare(hex, 2, "\r\n") == 0 ? hex + 2 : body;
}

// An IPP message begins with its version, 1.x or 2.x, then its operation
// or status code.
bool IppAt(const std::string& text, std::size_t at) {
    return text.size() >= at + 4 && (text[at] == 1 || text[at] == 2);
}

std::uint16_t CodeAt(const std::string& text, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(text[at + 2]) << 8 |
                                      static_cast<unsigned char>(text[at + 3]));
}

bool Asks(const std::string& asked, std::uint16_t operation) {
    for (std::size_t at = asked.find("\r\n\r\n"); at != std::string::npos;
         at = asked.find("\r\n\r\n", at + 1)) {
        const std::size_t body = BodyStart(asked, at);
        if (IppAt(asked, body) && CodeAt(asked, body) == operation) return true;
    }
    return false;
}

// The length of the interim answer ("100 Continue") that answer starts
// with, or 0 when it does not start with a whole one.
std::size_t InterimLength(const std::string& answer) {
    const std::size_t end = answer.find("\r\n\r\n");
    const std::size_t code = answer.find(' ');
    if (end == std::string::npos || answer.rfind("HTTP/", 0) != 0 || code > end) return 0;
    return answer[code + 1] == '1' ? end + 4 : 0;
}

// Gives the final answer that answer starts with the status code status,
// once enough of it came; false until then.
bool Rewrite(std::string& answer, std::uint16_t status) {
    const std::size_t end = answer.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    const std::size_t body = BodyStart(answer, end);
    if (!IppAt(answer, body)) return false;
    answer[body + 2] = static_cast<char>(status >> 8);
    answer[body + 3] = static_cast<char>(status & 0xFF);
    return true;
}

}  // namespace

AnswerTamperingProxy::AnswerTamperingProxy(std::string path, std::string server, AnswerFault fault)
    : path_(std::move(path)), server_(std::move(server)), fault_(std::move(fault)) {
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

AnswerTamperingProxy::~AnswerTamperingProxy() {
    relay_ = {};  // joined before the socket goes
    unlink(path_.c_str());
}

void AnswerTamperingProxy::Run(std::stop_token stop) {
    std::vector<Pair> pairs;
    bool seen = false;  // the watched request came, on one of the pairs
    char buffer[65536];
    while (!stop.stop_requested()) {
        for (Pair& p : pairs) {
            if (!p.Rewritten || (fault_.Release && !fault_.Release())) continue;
            if (!SendAll(p.Client.get(), p.Held)) p.Client.reset(), p.Server.reset();
            p.Held.clear();
            p.Watched = p.Rewritten = false;
            tampered_ = true;
        }
        std::erase_if(pairs, [](const Pair& p) { return !p.Client; });
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
                if (got <= 0) {
                    closed = true;
                    continue;
                }
                const std::string_view bytes(buffer, static_cast<std::size_t>(got));
                if (fromClient) {
                    closed = !SendAll(p.Server.get(), bytes);
                    if (!seen) {
                        p.Asked.append(bytes);
                        p.Watched = seen = Asks(p.Asked, fault_.Operation);
                    }
                } else if (!p.Watched) {
                    closed = !SendAll(p.Client.get(), bytes);
                } else {
                    // "100 Continue" goes on at once: the scheduler has not
                    // acted on the request yet.
                    p.Held.append(bytes);
                    while (!closed && !p.Rewritten && InterimLength(p.Held) > 0) {
                        const std::size_t interim = InterimLength(p.Held);
                        closed =
                            !SendAll(p.Client.get(), std::string_view(p.Held).substr(0, interim));
                        p.Held.erase(0, interim);
                    }
                    if (fault_.Status != 0) {
                        p.Rewritten = p.Rewritten || Rewrite(p.Held, fault_.Status);
                    } else if (p.Held.find("\r\n\r\n") != std::string::npos) {
                        tampered_ = true;  // the answer came, and is dropped: both ends close
                        closed = true;
                    }
                }
            }
            if (closed) p.Client.reset(), p.Server.reset();
        }
        std::erase_if(pairs, [](const Pair& p) { return !p.Client; });
    }
}

}  // namespace sandbox
