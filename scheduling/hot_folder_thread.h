// HotFolderThread: the one background thread that runs the scan schedule,
// and the five manual-reset events through which the user interface thread
// starts, stops and ends it.
//
// Start, RequestStop, Stop, Quit and Join are called on the user interface
// thread only; Start, Stop and Quit wait without time-out for the worker's
// acknowledgement, RequestStop never waits and IsIdle tells when the run has
// ended. A stop takes effect between files: the file being sent finishes (or
// its bounded spooler call gives up), the files not yet printed stay. Between
// runs the worker does nothing; the thread itself begins only on the first
// Start, so a process that never starts the service never runs it.
//
// Lifetime: the list and the services must outlive the thread. The owner
// calls Quit and then Join (the destructor does both) before it destroys
// the list: the worker's last act is to put every folder in waiting.
#pragma once

#include <thread>

#include "engine/ports/services.h"
#include "scheduling/hot_folder_list.h"
#include "scheduling/manual_reset_event.h"

namespace tallowin {

class HotFolderThread {
  public:
    // services is used by the worker only; it must outlive this object.
    explicit HotFolderThread(const EngineServices& services);
    HotFolderThread(const HotFolderThread&) = delete;
    HotFolderThread& operator=(const HotFolderThread&) = delete;
    virtual ~HotFolderThread();

    // The list to schedule; once, before Create.
    void SetList(HotFolderList& list);
    // Readies the worker: before it, Start and the stops do nothing. The
    // events exist with the object (idle signalled); the thread itself is
    // made on the first Start.
    void Create();
    // Begins a run; returns once the worker has taken it up.
    void Start();
    // Asks the run to end and returns at once; the worker leaves it between
    // files and then puts every folder in waiting. Nothing before Create.
    void RequestStop();
    // True while no run is in progress (before the first Start too, and
    // once a requested stop has been carried out). Any thread.
    bool IsIdle() const;
    // RequestStop, then waits until IsIdle. At once when no run is in
    // progress.
    void Stop();
    // Ends the thread: Stop, then the quit request. At once before Create.
    void Quit();
    // Waits until the thread has ended (after Quit). At once when it never ran.
    void Join();

  private:
    // What the engine asks between files and inside blocking calls: the
    // stop and quit events themselves, which are safe to poll from any
    // thread.
    class EventStop final : public StopSignal {
      public:
        EventStop(const ManualResetEvent& stop, const ManualResetEvent& quit)
            : stop_(stop), quit_(quit) {}
        bool Requested() const override { return stop_.Poll() || quit_.Poll(); }

      private:
        const ManualResetEvent& stop_;
        const ManualResetEvent& quit_;
    };

    void ThreadProc();

    // Nothing here needs a lock of its own: what the two threads share is
    // the events, each guarded by the hub's annotated mutex, and the list,
    // which guards itself. list and created are written on the user
    // interface thread before the thread is made, which orders them before
    // the worker's reads; thread is the user interface thread's alone.
    const EngineServices& services_;
    HotFolderList* list_ = nullptr;
    bool created_ = false;
    std::thread thread_;
    EventHub hub_;
    ManualResetEvent startEvent_{hub_, false};
    ManualResetEvent stopEvent_{hub_, false};
    ManualResetEvent idleEvent_{hub_, true};
    ManualResetEvent runningEvent_{hub_, false};
    ManualResetEvent quitEvent_{hub_, false};
    EventStop stopSignal_{stopEvent_, quitEvent_};
};

}  // namespace tallowin
