// One Tallowin per profile: an advisory lock on a file beside it.
#pragma once

#include <sys/types.h>

#include <string>

#include "util/unique_fd.h"

namespace tallowin {

// "<profilePath>.lock".
std::string LockPathFor(const std::string& profilePath);

struct InstanceLockResult {
    bool Acquired = false;
    pid_t HolderPid = 0;  // the process that holds the lock; 0 when unknown
    std::string Reason;   // why the lock was not acquired, for people; empty when it was
};

// Takes flock(LOCK_EX | LOCK_NB) on path (created, with its folder, when
// missing) at construction and holds it, with this process's id written
// into the file, until destruction. The kernel drops the lock when its
// holder ends in any way, so a lock file left behind by a crash never
// blocks: only a living holder does. The descriptor is close-on-exec, so
// no child keeps the lock after Tallowin ends. Never throws on a failure;
// it reports it in Result().
class InstanceLock {
  public:
    explicit InstanceLock(const std::string& path);
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

    const InstanceLockResult& Result() const { return result_; }

  private:
    UniqueFd fd_;
    InstanceLockResult result_;
};

}  // namespace tallowin
