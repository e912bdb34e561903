// A stand-in for the scheduler's socket that passes every request and
// answer through, except that the first answer to a Create-Job request is
// never delivered: the scheduler makes the job, and the connection that
// asked closes under the client as it waits for the answer. For the
// spooler's handling of a job request whose answer was lost.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "util/unique_fd.h"

namespace sandbox {

class AnswerDroppingProxy {
  public:
    // Listens on path and connects each client to the scheduler at server
    // (a Unix socket path). Fails the test when it cannot listen.
    AnswerDroppingProxy(std::string path, std::string server);
    ~AnswerDroppingProxy();
    AnswerDroppingProxy(const AnswerDroppingProxy&) = delete;
    AnswerDroppingProxy& operator=(const AnswerDroppingProxy&) = delete;

    // True once an answer to Create-Job was dropped.
    bool Dropped() const { return dropped_.load(); }

  private:
    void Run(std::stop_token stop);

    const std::string path_, server_;
    tallowin::UniqueFd listener_;
    std::atomic<bool> dropped_{false};
    std::jthread relay_;  // last: ends before the rest goes
};

}  // namespace sandbox
