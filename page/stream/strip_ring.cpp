#include "page/stream/strip_ring.h"

#include <utility>

namespace tallowin {

StripRing::StripRing(std::size_t slots, std::size_t stripBytes) : slots_(slots ? slots : 1) {
    for (Strip& s : slots_) s.Bytes.resize(stripBytes);
}

Strip* StripRing::AcquireFree() {
    std::unique_lock lock(mutex_);
    changed_.wait(
        lock, [&] { return state_ != State::Running || published_ - released_ < slots_.size(); });
    if (state_ != State::Running) return nullptr;
    Strip* s = &slots_[published_ % slots_.size()];
    s->Rows = 0;
    return s;
}

void StripRing::Publish() {
    {
        const std::lock_guard lock(mutex_);
        ++published_;
    }
    changed_.notify_all();
}

void StripRing::Finish() {
    {
        const std::lock_guard lock(mutex_);
        if (state_ == State::Running) state_ = State::Finished;
    }
    changed_.notify_all();
}

void StripRing::Fail(Status why) {
    {
        const std::lock_guard lock(mutex_);
        if (state_ == State::Running || state_ == State::Finished) {
            state_ = State::Failed;
            failure_ = std::move(why);
        }
    }
    changed_.notify_all();
}

Strip* StripRing::AcquireFull() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return state_ != State::Running || published_ > released_; });
    // A failure or a cancel ends the run at once, even with strips waiting:
    // a damaged file must not give any more of its page.
    if (state_ == State::Failed || state_ == State::Cancelled) return nullptr;
    if (published_ == released_) return nullptr;  // finished, all taken
    return &slots_[released_ % slots_.size()];
}

void StripRing::Release() {
    {
        const std::lock_guard lock(mutex_);
        ++released_;
    }
    changed_.notify_all();
}

void StripRing::Cancel() {
    {
        const std::lock_guard lock(mutex_);
        if (state_ == State::Running) state_ = State::Cancelled;
    }
    changed_.notify_all();
}

Status StripRing::Failure() const {
    const std::lock_guard lock(mutex_);
    return failure_;
}

}  // namespace tallowin
