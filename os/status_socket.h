// The status socket: a running Tallowin answers `tallowin status` over a
// Unix socket that only its own user may reach (a private folder under
// $XDG_RUNTIME_DIR, and every peer's user checked with SO_PEERCRED).
//
// The exchange is one request line from the client and one reply from the
// server, which then closes the connection. What the reply holds is the
// caller's business (app/ puts JSON there).
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "engine/status.h"
#include "util/unique_fd.h"

namespace tallowin {

// The folder the status sockets live in: $XDG_RUNTIME_DIR/tallowin when
// that variable holds an absolute path, else /tmp/tallowin-<uid>. Nothing is
// created here.
std::string StatusSocketFolder();

// The socket of the instance that holds the lock file lockPath (see
// os/instance_lock.h): StatusSocketFolder()/<hash>.sock, where the hash is
// taken of lockPath with its folder resolved (links, "..", a relative
// path), so that every spelling of one profile finds the same socket. Empty
// when the lock's folder does not exist, and so no instance can hold it.
std::string StatusSocketPathFor(const std::string& lockPath);

// Listens on a socket and answers each connection on a thread of its own.
// Construct it only while holding the instance lock that the path belongs
// to: a socket file left there by an instance that died is replaced.
class StatusServer {
  public:
    // Computes the reply to one request line (without its newline). Called
    // on the server's thread, one request at a time; must not throw.
    using Handler = std::function<std::string(const std::string& request)>;

    // Makes the socket's folder (0700; an existing one must be the user's own
    // and private), binds path (0600) and starts answering. Never throws;
    // Listening() says whether it works (HF_ERR_STATE and why when not).
    StatusServer(std::string path, Handler handler);
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;
    // Stops the thread (a reply in progress is finished first) and removes
    // the socket file.
    ~StatusServer();

    const Status& Listening() const { return status_; }
    const std::string& Path() const { return path_; }

  private:
    void Serve();
    void Answer(int connection);

    std::string path_;
    Handler handler_;
    Status status_;
    UniqueFd listen_;
    UniqueFd wake_;  // an eventfd the destructor writes to end Serve
    std::thread thread_;
};

struct StatusReply {
    enum class Outcome {
        Answered,    // Text is the server's reply
        NotRunning,  // no socket, or nobody listens on it
        Failed,      // connected but no whole reply in time (Error says why)
    };
    Outcome How = Outcome::NotRunning;
    std::string Text;
    std::string Error;
};

// Sends request (one line, no newline) to the server on path and reads its
// whole reply, waiting at most timeout in all. Never throws.
StatusReply QueryStatusSocket(const std::string& path, const std::string& request,
                              std::chrono::milliseconds timeout);

}  // namespace tallowin
