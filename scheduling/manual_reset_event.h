// Manual-reset events: once set, an event stays set until it is reset, and
// every waiter sees it. Events that are waited on together share one
// EventHub (one mutex and one condition variable), so that a wait for either
// of two events needs no polling.
//
// Thread-safe: any thread may set, reset, poll or wait on any event.
#pragma once

#include <chrono>
#include <condition_variable>
#include <optional>

#include "util/thread_annotations.h"

namespace tallowin {

class EventHub {
  public:
    EventHub() = default;
    EventHub(const EventHub&) = delete;
    EventHub& operator=(const EventHub&) = delete;

  private:
    friend class ManualResetEvent;
    friend int WaitAny(class ManualResetEvent&, class ManualResetEvent&,
                       std::optional<std::chrono::milliseconds>);
    Mutex mutex_;
    // Waited on with mutex_ held; notified after each Set.
    std::condition_variable changed_;
};

class ManualResetEvent {
  public:
    // The hub must outlive the event.
    ManualResetEvent(EventHub& hub, bool signalled);
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void Set() EXCLUDES(hub_.mutex_);
    void Reset() EXCLUDES(hub_.mutex_);
    // A wait with a time-out of 0: true when the event is set.
    bool Poll() const EXCLUDES(hub_.mutex_);
    // Waits without time-out until the event is set.
    void Wait() EXCLUDES(hub_.mutex_);

  private:
    friend int WaitAny(ManualResetEvent&, ManualResetEvent&,
                       std::optional<std::chrono::milliseconds>);
    EventHub& hub_;
    bool signalled_ GUARDED_BY(hub_.mutex_);
};

inline constexpr int kWaitTimeout = -1;

// Waits until first or second is set (both of the same hub), or the time-out
// runs out (none: wait forever). Returns 0 or 1, the lower index when both
// are set, or kWaitTimeout.
int WaitAny(ManualResetEvent& first, ManualResetEvent& second,
            std::optional<std::chrono::milliseconds> timeout);

}  // namespace tallowin
