// A stand-in for the scheduler's socket that passes every request and
// answer through, except the first answer to one kind of request: that one
// is never delivered (the scheduler did the work, and the connection that
// asked closes under the client as it waits), or it is delivered with
// another status code, once the test lets it go. For the spooler's handling
// of a request whose answer was lost or said it failed although the
// scheduler did what was asked.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "util/unique_fd.h"

namespace sandbox {

// IPP operations and status codes, as they travel.
inline constexpr std::uint16_t kCreateJob = 0x0005;
inline constexpr std::uint16_t kSendDocument = 0x0006;
inline constexpr std::uint16_t kServerErrorInternal = 0x0500;

// What becomes of the first answer to an Operation request.
struct AnswerFault {
    std::uint16_t Operation = kCreateJob;
    // 0: the answer is dropped. Else the answer carries this status code
    // instead of its own ("100 Continue" answers before it pass as they are).
    std::uint16_t Status = 0;
    // When set, a rewritten answer is held back until this returns true
    // (asked every 50 ms on the proxy's thread, so it must not reach the
    // scheduler through the proxy: ask the real server's socket).
    std::function<bool()> Release;
};

class AnswerTamperingProxy {
  public:
    // Listens on path and connects each client to the scheduler at server
    // (a Unix socket path). Fails the test when it cannot listen.
    AnswerTamperingProxy(std::string path, std::string server, AnswerFault fault = {});
    ~AnswerTamperingProxy();
    AnswerTamperingProxy(const AnswerTamperingProxy&) = delete;
    AnswerTamperingProxy& operator=(const AnswerTamperingProxy&) = delete;

    // True once the answer was dropped, or delivered rewritten.
    bool Tampered() const { return tampered_.load(); }

  private:
    void Run(std::stop_token stop);

    const std::string path_, server_;
    const AnswerFault fault_;
    tallowin::UniqueFd listener_;
    std::atomic<bool> tampered_{false};
    std::jthread relay_;  // last: ends before the rest goes
};

}  // namespace sandbox
