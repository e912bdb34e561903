// $XDG_RUNTIME_DIR pointed at a fresh folder (0700, as a session's is) for
// the span of a test, and put back afterwards.
#pragma once

#include <cstdlib>
#include <string>

#include "tests/support/temp_dir.h"

class RuntimeDir {
  public:
    RuntimeDir() {
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("XDG_RUNTIME_DIR", dir_.Path().c_str(), 1);
    }
    ~RuntimeDir() {
        if (had_) {
            setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
    }
    RuntimeDir(const RuntimeDir&) = delete;
    RuntimeDir& operator=(const RuntimeDir&) = delete;

    const TempDir& Dir() const { return dir_; }

  private:
    TempDir dir_;
    std::string old_;
    bool had_ = false;
};
