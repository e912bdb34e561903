#include "engine/hot_folder.h"

#include <utility>

#include "engine/folder_scan.h"
#include "engine/job_decision.h"

namespace tallowin {

HotFolder::HotFolder() = default;

HotFolder::HotFolder(std::string name, std::string folderPath, std::string printerName,
                     std::int32_t scanTime)
    : FolderPath(std::move(folderPath)),
      ScanTime(scanTime),
      Name(std::move(name)),
      PrinterName(std::move(printerName)) {}

HotFolder::HotFolder(const HotFolder& other)
    : PrintSettings(other.PrintSettings),
      FolderPath(other.FolderPath),
      ScanTime(other.ScanTime),
      Name(other.Name),
      PrinterName(other.PrinterName),
      Files(other.Files),
      LastScanTick(other.GetLastScanTick()),
      State(other.GetState()),
      Error(other.GetError()),
      FilesWaiting(other.GetFilesWaiting()),
      JobsInFlight(other.GetJobsInFlight()),
      lastFailure_(other.GetLastFailure()),
      printerTrouble_(other.GetPrinterTrouble()),
      printerAttention_(other.printerAttention_.load(std::memory_order_relaxed)),
      jobGoneSince_(other.jobGoneSince_),
      sendAgainWhy_(other.sendAgainWhy_),
      firstScanAt_(other.firstScanAt_) {}

HotFolder& HotFolder::AssignWithoutFiles(const HotFolder& other) {
    if (this != &other) {
        FolderPath = other.FolderPath;
        ScanTime = other.ScanTime;
        Name = other.Name;
        PrinterName = other.PrinterName;
        PrintSettings = other.PrintSettings;
        Files.clear();
        jobGoneSince_.clear();
        sendAgainWhy_.clear();
        firstScanAt_ = other.firstScanAt_;
        LastScanTick.store(other.GetLastScanTick(), std::memory_order_relaxed);
        State.store(other.GetState(), std::memory_order_relaxed);
        Error.store(other.GetError(), std::memory_order_relaxed);
        FilesWaiting.store(other.GetFilesWaiting(), std::memory_order_relaxed);
        JobsInFlight.store(other.GetJobsInFlight(), std::memory_order_relaxed);
        printerAttention_.store(other.printerAttention_.load(std::memory_order_relaxed),
                                std::memory_order_relaxed);
        FailureNote note = other.GetLastFailure();
        std::string trouble = other.GetPrinterTrouble();
        MutexLock guard(failureLock_);
        lastFailure_ = std::move(note);
        printerTrouble_ = std::move(trouble);
    }
    return *this;
}

HotFolder& HotFolder::operator=(const HotFolder& other) {
    if (this != &other) {
        AssignWithoutFiles(other);
        Files = other.Files;
        jobGoneSince_ = other.jobGoneSince_;
        sendAgainWhy_ = other.sendAgainWhy_;
    }
    return *this;
}

FailureNote HotFolder::GetLastFailure() const {
    MutexLock guard(failureLock_);
    return lastFailure_;
}

std::string HotFolder::GetPrinterTrouble() const {
    MutexLock guard(failureLock_);
    return printerTrouble_;
}

void HotFolder::SetPrinterTrouble(std::string words) {
    MutexLock guard(failureLock_);
    printerTrouble_ = std::move(words);
}

void HotFolder::Reset(Clock& clock) {
    LastScanTick.store(clock.Now(), std::memory_order_relaxed);
    Files.clear();
    firstScanAt_ = SecondsNow();
    offeredFor_.reset();
}

void HotFolder::SetRunning() {
    Error.store(HF_ERR_NONE, std::memory_order_relaxed);
    State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
}

void HotFolder::SetWaiting() {
    State.store(HF_STATE_WAITING, std::memory_order_relaxed);
}

void HotFolder::SetSettingsError(const std::string& reason) {
    State.store(HF_STATE_WAITING, std::memory_order_relaxed);
    Error.store(HF_ERR_SETTINGS, std::memory_order_relaxed);
    NoteFailure(FolderPath, Status::Failure(HF_ERR_SETTINGS, reason));
}

void HotFolder::Scan(const EngineServices& services, const StopSignal& stop,
                     const SameFolderCheck& sameFolder) {
    FolderScan(*this, services, stop).Run(sameFolder);
}

PrintOutcome HotFolder::PrintFile(const EngineServices& services, const std::string& path,
                                  const StopSignal& stop) {
    std::unique_ptr<Printer> printer;
    return FolderScan(*this, services, stop).PrintFile(path, printer);
}

void HotFolder::NoteFailure(const std::string& path, const Status& why) {
    MutexLock guard(failureLock_);
    lastFailure_ = {path, std::chrono::system_clock::now(), why.Code, why.Reason};
}

void HotFolder::ClearFileError() {
    // The folder's own error has its own rule: it clears when the folder is back.
    if (GetError() != HF_ERR_PATH) Error.store(HF_ERR_NONE, std::memory_order_relaxed);
}

}  // namespace tallowin
