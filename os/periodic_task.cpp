#include "os/periodic_task.h"

#include <utility>

namespace tallowin {

PeriodicTask::PeriodicTask(std::chrono::milliseconds period, std::function<void()> task)
    : period_(period), task_(std::move(task)), thread_([this] { Loop(); }) {}

PeriodicTask::~PeriodicTask() {
    {
        MutexLock guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void PeriodicTask::Loop() {
    for (;;) {
        {
            MutexLock guard(lock_);
            // The steady clock: a change of the wall clock neither hurries
            // nor delays the next run.
            WaitForWhileHeld(wake_, lock_, period_, [this]() REQUIRES(lock_) { return stopping_; });
            if (stopping_) return;
        }
        task_();
    }
}

}  // namespace tallowin
