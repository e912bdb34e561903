// A file descriptor closed when it goes out of scope: the one owner type for
// descriptors in the adapters, so that no way out of a function leaks one.
#pragma once

#include <unistd.h>

#include <utility>

namespace tallowin {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Hands the descriptor over; this object no longer closes it.
    int release() { return std::exchange(fd_, -1); }
    // Closes the descriptor held (if any) and takes fd instead. The result of
    // close() is not reported: callers that must know whether written data
    // reached the file close by hand (see atomic_file.cpp).
    void reset(int fd = -1) {
        const int old = std::exchange(fd_, fd);
        if (old >= 0) ::close(old);
    }

  private:
    int fd_ = -1;
};

}  // namespace tallowin
