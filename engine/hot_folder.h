// HotFolder: one watched folder — the four settings the user enters, the
// run state and error the main window shows, the tick of the last scan and
// the file table through which two scans in a row recognise a file that has
// finished arriving.
//
// A plain value: copies carry every field, the file table included. Not
// thread-safe as a whole; the hot folder list guards the records it holds.
// State, Error and LastScanTick are single 32-bit words that the worker
// writes while the user interface copies the record, so they are atomics
// (relaxed: nothing else is published through them). The last failure is
// several words, so it has a small lock of its own: copies never see half
// of one.
//
// What a scan does with the folder and its files: engine/folder_scan.h;
// what happens to one file on its way to the printer: engine/print_job.h.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "engine/file_table.h"
#include "engine/hot_folder_types.h"
#include "engine/job_settings.h"
#include "engine/ports/services.h"
#include "util/thread_annotations.h"

namespace tallowin {

// Why the last file that was not printed stayed.
struct FailureNote {
    std::string File;  // the full path; empty when nothing failed yet
    std::chrono::system_clock::time_point Time;
    HotFolderError Code = HF_ERR_NONE;
    std::string Reason;
};

class HotFolder {
  public:
    // "NewHotFolder", no path, no printer, 20 seconds, waiting, no error.
    HotFolder();
    HotFolder(std::string name, std::string folderPath, std::string printerName,
              std::int32_t scanTime);
    HotFolder(const HotFolder& other);
    HotFolder& operator=(const HotFolder& other);
    virtual ~HotFolder() = default;

    // Copies every field but the file table and the worker's notes about
    // jobs, which become empty (the last failure is copied). For
    // callers that only show or store a folder: it never reads the table
    // that a scan on another thread may be replacing. Returns *this.
    HotFolder& AssignWithoutFiles(const HotFolder& other);

    std::string GetName() const { return Name; }
    std::string GetFolderPath() const { return FolderPath; }
    std::string GetPrinterName() const { return PrinterName; }
    std::int32_t GetScanTime() const { return ScanTime; }
    std::int32_t GetState() const { return State.load(std::memory_order_relaxed); }
    std::int32_t GetError() const { return Error.load(std::memory_order_relaxed); }
    std::uint32_t GetLastScanTick() const { return LastScanTick.load(std::memory_order_relaxed); }
    const FileTable& GetFiles() const { return Files; }
    // A copy of the last failure; thread-safe.
    FailureNote GetLastFailure() const EXCLUDES(failureLock_);
    // While Error is HF_ERR_PRINTER_ATTENTION: what keeps the printer from
    // printing, in its own words (NeedsAttention); empty otherwise.
    // Thread-safe.
    std::string GetPrinterTrouble() const EXCLUDES(failureLock_);
    // As the last scan left them: the files in the folder not printed yet
    // (not settled, waiting for the printer, or to be tried again), and the
    // jobs sent whose end the files wait for. Thread-safe.
    std::int32_t GetFilesWaiting() const { return FilesWaiting.load(std::memory_order_relaxed); }
    std::int32_t GetJobsInFlight() const { return JobsInFlight.load(std::memory_order_relaxed); }

    // Each replaces one setting and touches nothing else; nothing is checked.
    void SetName(std::string name) { Name = std::move(name); }
    void SetFolderPath(std::string path) { FolderPath = std::move(path); }
    void SetPrinterName(std::string printer) { PrinterName = std::move(printer); }
    void SetScanTime(std::int32_t seconds) { ScanTime = seconds; }

    // Service start: stamps the current tick and the run's start, and
    // forgets the file table; state and error are left as they are. Files
    // handed over in earlier runs are recognised again through the job
    // ledger.
    void Reset(Clock& clock);
    // Any state to running, error cleared.
    void SetRunning();
    // Any state to waiting; the error stays visible.
    void SetWaiting();
    // Waiting with HF_ERR_SETTINGS, reason (ParsedJobSettings::Reason) the
    // last failure, noted on the folder's path: what a start shows for a
    // folder whose print settings are wrong.
    void SetSettingsError(const std::string& reason);

    // Asked by a scan with the folder its path leads to: nothing when this
    // hot folder may watch it, else the name of the hot folder that does.
    using SameFolderCheck = std::function<std::optional<std::string>(const FolderKey& folder)>;

    // One scan of the folder (engine/folder_scan.h): does nothing unless running, or in error
    // because of its folder. A folder path that is not a folder puts the
    // record in HF_STATE_ERROR with HF_ERR_PATH; one that sameFolder (when
    // given) says another hot folder watches, in HF_STATE_ERROR with
    // HF_ERR_DUPLICATE naming that one; either is noted as the last failure
    // and logged as kept once, when it begins. Once the folder is there and
    // free again the record runs again, error cleared, file table fresh,
    // and a FolderBack entry is logged.
    // Otherwise: lists the plain files, asks the spooler where the folder's
    // sent jobs stand (deleting the files of completed ones) and whether the
    // printer can print. A printer that cannot (stopped, refusing jobs, out
    // of paper, ...: see NeedsAttention) sets Error to
    // HF_ERR_PRINTER_ATTENTION with its words, and its files wait, neither
    // failed nor sent; a PrinterAttention entry is logged when that begins
    // and a PrinterReady entry when it ends, once each. Otherwise it hands each
    // settled file to PrintFile in byte order of the names, one after
    // another, and replaces the file table with this listing. stop is asked
    // before each file; once it is set the files not yet printed stay
    // waiting, unprinted.
    void Scan(const EngineServices& services, const StopSignal& stop,
              const SameFolderCheck& sameFolder = {});

    // Runs the print job (engine/print_job.h) for one image file (the full
    // path) and records the job in the ledger; the file stays until a later scan finds the job
    // completed. Every outcome goes to the log; a failure sets Error to its
    // code and becomes the last failure. The state is HF_STATE_RUNNING
    // afterwards. Returns what the table must make of the file.
    PrintOutcome PrintFile(const EngineServices& services, const std::string& path,
                           const StopSignal& stop);

    // The folder's own print settings, as the profile holds them.
    JobSettingsText PrintSettings;

  private:
    // The scan works on the record's run state: the file table, the notes
    // about jobs and the failure; nothing else touches them.
    friend class FolderScan;

    std::string FolderPath;
    std::int32_t ScanTime = 20;
    std::string Name = "NewHotFolder";
    std::string PrinterName;
    FileTable Files;
    std::atomic<std::uint32_t> LastScanTick{0};
    std::atomic<std::int32_t> State{HF_STATE_WAITING};
    std::atomic<std::int32_t> Error{HF_ERR_NONE};
    std::atomic<std::int32_t> FilesWaiting{0};
    std::atomic<std::int32_t> JobsInFlight{0};
    mutable Mutex failureLock_;
    FailureNote lastFailure_ GUARDED_BY(failureLock_);
    std::string printerTrouble_ GUARDED_BY(failureLock_);
    // Worker state: the printer was last found needing attention, and the
    // PrinterAttention entry said so (kept across Stop and Start, so that
    // one trouble is one pair of entries).
    std::atomic<bool> printerAttention_{false};
    // Worker state, like the file table. Per file name: the tick of the
    // first of the scheduler's answers that it does not know the job (kept
    // in memory: the tick starts again with the program, and a restart only
    // waits longer), and why a file whose job cannot print is sent again.
    std::map<std::string, std::uint32_t> jobGoneSince_;
    std::map<std::string, std::string> sendAgainWhy_;
    // When this run began (s since 1970; set at Reset, else by the first
    // file printed): the jobs the scheduler made and the records written
    // before are of earlier runs.
    std::int64_t firstScanAt_ = 0;
    // Worker state: the printer and settings whose job options the printer
    // was last found to offer in this run (forgotten at Reset), so that a
    // run asks once, not at every scan.
    std::optional<std::pair<std::string, JobSettingsText>> offeredFor_;

    void NoteFailure(const std::string& path, const Status& why) EXCLUDES(failureLock_);
    void SetPrinterTrouble(std::string words) EXCLUDES(failureLock_);
    void ClearFileError();
};

}  // namespace tallowin
