// A task run again and again on a thread of its own, every period, from
// construction until destruction: e.g. the renewal of the claims a service
// holds, which must go on while the worker is busy sending a page.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <thread>

#include "util/thread_annotations.h"

namespace tallowin {

class PeriodicTask {
  public:
    // Runs task every period, the first time one period after construction.
    // task must be thread-safe with respect to everything else that uses
    // what it touches, and must not throw.
    PeriodicTask(std::chrono::milliseconds period, std::function<void()> task);
    // Wakes the thread, waits for a run under way to end, and joins it.
    ~PeriodicTask();
    PeriodicTask(const PeriodicTask&) = delete;
    PeriodicTask& operator=(const PeriodicTask&) = delete;

  private:
    void Loop();

    const std::chrono::milliseconds period_;
    const std::function<void()> task_;
    Mutex lock_;
    std::condition_variable wake_;
    bool stopping_ GUARDED_BY(lock_) = false;
    std::thread thread_;  // last: started once the rest is ready
};

}  // namespace tallowin
