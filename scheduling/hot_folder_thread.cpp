#include "scheduling/hot_folder_thread.h"

#include <chrono>

namespace tallowin {

HotFolderThread::HotFolderThread(const EngineServices& services) : services(services) {}

HotFolderThread::~HotFolderThread() {
    Quit();
    Join();
}

void HotFolderThread::SetList(HotFolderList& l) {
    list = &l;
}

void HotFolderThread::Create() {
    created = true;
}

void HotFolderThread::Start() {
    if (!created || list == nullptr) return;
    // The first Start lets the thread begin; later ones find it waiting.
    if (!thread.joinable()) thread = std::thread(&HotFolderThread::ThreadProc, this);
    stopEvent.Reset();
    idleEvent.Reset();
    startEvent.Set();
    runningEvent.Wait();
}

void HotFolderThread::RequestStop() {
    if (!created) return;
    startEvent.Reset();
    stopEvent.Set();
}

bool HotFolderThread::IsIdle() const {
    return idleEvent.Poll();
}

void HotFolderThread::Stop() {
    if (!created) return;
    RequestStop();
    idleEvent.Wait();
}

void HotFolderThread::Quit() {
    if (!created) return;
    Stop();
    quitEvent.Set();
    idleEvent.Wait();
}

void HotFolderThread::Join() {
    if (thread.joinable()) thread.join();
}

void HotFolderThread::ThreadProc() {
    HotFolderList& folders = *list;
    // Between runs.
    while (!quitEvent.Poll()) {
        if (WaitAny(startEvent, quitEvent, std::nullopt) != 0) {
            startEvent.Reset();
            idleEvent.Set();
            continue;
        }
        // A run begins: every folder starts afresh, its first scan one full
        // scan time from now.
        runningEvent.Set();
        folders.ResetAll(services.clock);
        folders.StartAll();
        while (!quitEvent.Poll() && runningEvent.Poll()) {
            const std::uint32_t sleepMs = folders.GetTimeToNextScan(services.clock);
            const int woken = WaitAny(quitEvent, stopEvent, std::chrono::milliseconds(sleepMs));
            if (woken == kWaitTimeout) {
                folders.ScanDue(services, stopSignal);
                continue;
            }
            // Stop or quit: the run ends, after the scan that was in progress.
            folders.StopAll();
            startEvent.Reset();
            runningEvent.Reset();
            idleEvent.Set();
        }
    }
    folders.StopAll();
}

}  // namespace tallowin
