// A bounded ring of equal-sized strips between one producer thread and one
// consumer thread. Each side holds at most one strip at a time; memory is
// the ring's slots, allocated once, whatever the image's size.
//
// The producer ends the run with Finish (all strips published) or Fail (with
// the reason); the consumer ends it early with Cancel. After any of them,
// the side that waits is woken and told to stop.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/status.h"

namespace tallowin {

struct Strip {
    std::vector<unsigned char> Bytes;
    int Rows = 0;  // rows filled, at the start of Bytes
};

class StripRing {
  public:
    StripRing(std::size_t slots, std::size_t stripBytes);

    // Producer side. Acquire waits for a free slot; null once the consumer
    // cancelled. Publish hands the acquired strip over.
    Strip* AcquireFree();
    void Publish();
    void Finish();
    void Fail(Status why);

    // Consumer side. AcquireFull waits for a published strip; null when the
    // producer finished (check Failure()) or the ring was cancelled.
    // Release gives the acquired strip back.
    Strip* AcquireFull();
    void Release();
    void Cancel();

    // The producer's reason when it failed; Ok otherwise.
    Status Failure() const;

  private:
    enum class State { Running, Finished, Failed, Cancelled };

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Strip> slots_;
    std::uint64_t published_ = 0;  // strips handed to the consumer so far
    std::uint64_t released_ = 0;   // strips the consumer gave back
    State state_ = State::Running;
    Status failure_;
};

}  // namespace tallowin
