#include "app/signal_interrupt.h"

#include <algorithm>
#include <limits>

namespace tallowin {

bool SignalInterrupt::Received(int ms) const {
    if (received_.load()) return true;
    const std::lock_guard lock(read_);
    if (!received_.load() && signals_.Next(ms) != 0) received_.store(true);
    return received_.load();
}

bool SignalInterrupt::Requested() const {
    return Received(0);
}

bool SignalInterrupt::Pause(std::uint32_t ms) {
    const auto longest = static_cast<std::uint32_t>(std::numeric_limits<int>::max());
    return !Received(static_cast<int>(std::min(ms, longest)));
}

}  // namespace tallowin
