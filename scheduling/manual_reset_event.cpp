#include "scheduling/manual_reset_event.h"

#include <cassert>

namespace tallowin {

ManualResetEvent::ManualResetEvent(EventHub& hub, bool signalled)
    : hub_(hub), signalled_(signalled) {}

void ManualResetEvent::Set() {
    {
        MutexLock lock(hub_.mutex_);
        signalled_ = true;
    }
    // After the unlock, so that the woken waiters do not block on it at once.
    hub_.changed_.notify_all();
}

void ManualResetEvent::Reset() {
    MutexLock lock(hub_.mutex_);
    signalled_ = false;
}

bool ManualResetEvent::Poll() const {
    MutexLock lock(hub_.mutex_);
    return signalled_;
}

void ManualResetEvent::Wait() {
    MutexLock lock(hub_.mutex_);
    WaitWhileHeld(hub_.changed_, hub_.mutex_, [&]() REQUIRES(hub_.mutex_) { return signalled_; });
}

int WaitAny(ManualResetEvent& first, ManualResetEvent& second,
            std::optional<std::chrono::milliseconds> timeout) {
    assert(&first.hub_ == &second.hub_);
    EventHub& hub = first.hub_;
    MutexLock lock(first.hub_.mutex_);
    // One hub, so the lock just taken is second's too.
    second.hub_.mutex_.AssertHeld();
    const auto either = [&]() REQUIRES(first.hub_.mutex_, second.hub_.mutex_) {
        return first.signalled_ || second.signalled_;
    };
    if (timeout) {
        // steady_clock: a change of the wall clock must not stretch a sleep.
        if (!WaitForWhileHeld(hub.changed_, first.hub_.mutex_, *timeout, either)) {
            return kWaitTimeout;
        }
    } else {
        WaitWhileHeld(hub.changed_, first.hub_.mutex_, either);
    }
    return first.signalled_ ? 0 : 1;
}

}  // namespace tallowin
