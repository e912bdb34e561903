// The clock and the stop signal every blocking call of the engine answers to.
#pragma once

#include <cstdint>

namespace tallowin {

// The 32-bit millisecond tick: wraps to 0 after 2^32 - 1.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::uint32_t Now() = 0;
};

// Asked between files and inside every call that may block (the scheduler's
// requests): true once the run should end. The worker answers it from its
// stop and quit events; thread-safe.
class StopSignal {
  public:
    virtual ~StopSignal() = default;
    virtual bool Requested() const = 0;
};

// Never requested: for a call that runs to its end (a one-shot command, a
// request made between the calls that bring their own stop signal).
class NeverStop final : public StopSignal {
  public:
    bool Requested() const override { return false; }
};

}  // namespace tallowin
