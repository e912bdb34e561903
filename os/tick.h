// The 32-bit millisecond tick of the machine.
#pragma once

#include "engine/ports/services.h"

namespace tallowin {

// CLOCK_MONOTONIC in milliseconds, truncated to 32 bits: wraps to 0 about
// every 49.7 days, which the schedule's unsigned arithmetic expects.
// Thread-safe.
class MonotonicClock final : public Clock {
  public:
    std::uint32_t Now() override;
};

}  // namespace tallowin
