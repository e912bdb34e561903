#include "scheduling/hot_folder_thread.h"

#include <chrono>

namespace tallowin {

HotFolderThread::HotFolderThread(const EngineServices& services) : services_(services) {}

HotFolderThread::~HotFolderThread() {
    Quit();
    Join();
}

void HotFolderThread::SetList(HotFolderList& l) {
    list_ = &l;
}

void HotFolderThread::Create() {
    created_ = true;
}

void HotFolderThread::Start() {
    if (!created_ || list_ == nullptr) return;
    // The first Start lets the thread begin; later ones find it waiting.
    if (!thread_.joinable()) thread_ = std::thread(&HotFolderThread::ThreadProc, this);
    stopEvent_.Reset();
    idleEvent_.Reset();
    startEvent_.Set();
    runningEvent_.Wait();
}

void HotFolderThread::RequestStop() {
    if (!created_) return;
    startEvent_.Reset();
    stopEvent_.Set();
}

bool HotFolderThread::IsIdle() const {
    return idleEvent_.Poll();
}

void HotFolderThread::Stop() {
    if (!created_) return;
    RequestStop();
    idleEvent_.Wait();
}

void HotFolderThread::Quit() {
    if (!created_) return;
    Stop();
    quitEvent_.Set();
    idleEvent_.Wait();
}

void HotFolderThread::Join() {
    if (thread_.joinable()) thread_.join();
}

void HotFolderThread::ThreadProc() {
    HotFolderList& folders = *list_;
    // Between runs.
    while (!quitEvent_.Poll()) {
        if (WaitAny(startEvent_, quitEvent_, std::nullopt) != 0) {
            startEvent_.Reset();
            idleEvent_.Set();
            continue;
        }
        // A run begins: every folder starts afresh, its first scan one full
        // scan time from now.
        runningEvent_.Set();
        folders.ResetAll(services_.clock);
        folders.StartAll();
        while (!quitEvent_.Poll() && runningEvent_.Poll()) {
            const std::uint32_t sleepMs = folders.GetTimeToNextScan(services_.clock);
            const int woken = WaitAny(quitEvent_, stopEvent_, std::chrono::milliseconds(sleepMs));
            if (woken == kWaitTimeout) {
                folders.ScanDue(services_, stopSignal_);
                continue;
            }
            // Stop or quit: the run ends, after the scan that was in progress.
            folders.StopAll();
            startEvent_.Reset();
            runningEvent_.Reset();
            idleEvent_.Set();
        }
    }
    folders.StopAll();
}

}  // namespace tallowin
