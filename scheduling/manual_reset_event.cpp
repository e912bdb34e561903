#include "scheduling/manual_reset_event.h"

#include <cassert>

ManualResetEvent::ManualResetEvent(EventHub& hub, bool signalled)
    : hub_(hub), signalled_(signalled) {}

void ManualResetEvent::Set() {
    {
        std::lock_guard lock(hub_.mutex_);
        signalled_ = true;
    }
    hub_.changed_.notify_all();
}

void ManualResetEvent::Reset() {
    std::lock_guard lock(hub_.mutex_);
    signalled_ = false;
}

bool ManualResetEvent::Poll() const {
    std::lock_guard lock(hub_.mutex_);
    return signalled_;
}

void ManualResetEvent::Wait() {
    std::unique_lock lock(hub_.mutex_);
    hub_.changed_.wait(lock, [&] { return signalled_; });
}

int WaitAny(ManualResetEvent& first, ManualResetEvent& second,
            std::optional<std::chrono::milliseconds> timeout) {
    assert(&first.hub_ == &second.hub_);
    EventHub& hub = first.hub_;
    std::unique_lock lock(hub.mutex_);
    const auto either = [&] { return first.signalled_ || second.signalled_; };
    if (timeout) {
        // steady_clock: a change of the wall clock must not stretch a sleep.
        if (!hub.changed_.wait_for(lock, *timeout, either)) return kWaitTimeout;
    } else {
        hub.changed_.wait(lock, either);
    }
    return first.signalled_ ? 0 : 1;
}
