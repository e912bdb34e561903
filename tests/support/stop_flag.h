// A stop signal a test sets by hand (or from inside a fake), from any thread.
#pragma once

#include <atomic>

#include "engine/ports/services.h"

using namespace tallowin;

class StopFlag final : public StopSignal {
  public:
    bool Requested() const override { return set_.load(); }
    void Request() { set_.store(true); }
    void Clear() { set_.store(false); }

  private:
    std::atomic<bool> set_{false};
};
