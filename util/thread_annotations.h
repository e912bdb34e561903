// Locks whose rules the compiler checks. Clang's -Wthread-safety reads these
// attributes (the clang-thread-safety preset builds with it and -Werror);
// other compilers see plain mutexes. libstdc++'s own mutexes carry no
// attributes, so the code that shares data between threads locks these.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define TALLOWIN_TSA(x) __attribute__((x))
#else
#define TALLOWIN_TSA(x)
#endif

#define CAPABILITY(name) TALLOWIN_TSA(capability(name))
#define SCOPED_CAPABILITY TALLOWIN_TSA(scoped_lockable)
#define GUARDED_BY(lock) TALLOWIN_TSA(guarded_by(lock))
#define PT_GUARDED_BY(lock) TALLOWIN_TSA(pt_guarded_by(lock))
#define REQUIRES(...) TALLOWIN_TSA(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) TALLOWIN_TSA(acquire_capability(__VA_ARGS__))
#define RELEASE(...) TALLOWIN_TSA(release_capability(__VA_ARGS__))
#define EXCLUDES(...) TALLOWIN_TSA(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(x) TALLOWIN_TSA(lock_returned(x))
#define ASSERT_CAPABILITY(x) TALLOWIN_TSA(assert_capability(x))
#define NO_THREAD_SAFETY_ANALYSIS TALLOWIN_TSA(no_thread_safety_analysis)

namespace tallowin {

// std::mutex with the attributes the analysis needs.
class CAPABILITY("mutex") Mutex {
  public:
    void Lock() ACQUIRE() { mutex_.lock(); }
    void Unlock() RELEASE() { mutex_.unlock(); }
    // Tells the analysis that this lock is held when it is so by another
    // name: e.g. two objects that share one mutex, of which the caller
    // locked the first one's. Checks nothing at run time.
    void AssertHeld() const ASSERT_CAPABILITY(this) {}
    // For std::condition_variable, which waits on the plain mutex; the
    // caller holds this lock around the wait.
    std::mutex& Native() { return mutex_; }

  private:
    std::mutex mutex_;
};

// std::recursive_mutex likewise: a thread that holds it may take it again.
class CAPABILITY("mutex") RecursiveMutex {
  public:
    void Lock() ACQUIRE() { mutex_.lock(); }
    void Unlock() RELEASE() { mutex_.unlock(); }

  private:
    std::recursive_mutex mutex_;
};

// Holds a lock for its scope.
template <class M>
class SCOPED_CAPABILITY ScopedLock {
  public:
    explicit ScopedLock(M& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
    ~ScopedLock() RELEASE() { mutex_.Unlock(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

  private:
    M& mutex_;
};

using MutexLock = ScopedLock<Mutex>;
using RecursiveLock = ScopedLock<RecursiveMutex>;

// Waits on cv while the caller holds mutex (taken with MutexLock): the
// analysis sees the lock held throughout, as it is on every return.
template <class Predicate>
void WaitWhileHeld(std::condition_variable& cv, Mutex& mutex, Predicate done) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.Native(), std::adopt_lock);
    cv.wait(lock, done);
    lock.release();  // still held: the scoped lock releases it
}

// As WaitWhileHeld, but gives up after timeout (measured on the steady
// clock, so a change of the wall clock neither stretches nor cuts it short).
// Returns done() as it stands at the end: false only on a time-out.
template <class Rep, class Period, class Predicate>
bool WaitForWhileHeld(std::condition_variable& cv, Mutex& mutex,
                      std::chrono::duration<Rep, Period> timeout, Predicate done) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.Native(), std::adopt_lock);
    const bool result = cv.wait_for(lock, timeout, done);
    lock.release();  // still held: the scoped lock releases it
    return result;
}

}  // namespace tallowin
