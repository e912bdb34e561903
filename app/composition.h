// The one place that wires the adapters in: the state folder and its files,
// the platform services the engine runs on, and what a start must tell the
// user. The window (CTallowinApp), the service (HotFolderService) and
// `tallowin print` build on it, so they keep their state in the same
// files, made the same way, and report the same troubles at start.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "app/claim_keeping.h"
#include "app/notify_command.h"
#include "app/status_report.h"
#include "cups/cups_spooler.h"
#include "os/file_mover.h"
#include "os/folder_listing.h"
#include "os/status_socket.h"
#include "os/tick.h"
#include "page/vips_image.h"
#include "scheduling/hot_folder_list.h"
#include "scheduling/hot_folder_thread.h"
#include "scheduling/recent_print_log.h"
#include "store/ini_profile.h"
#include "store/job_ledger_file.h"
#include "store/print_log_file.h"

namespace tallowin {

// Where the program keeps its state: the folder (StateDirectory()) and the
// files in it.
struct StatePaths {
    std::string Folder;
    std::string Ledger;       // jobs in flight (FileJobLedger)
    std::string PrintLog;     // what was printed and why not (SpdlogPrintLog)
    std::string PrintRecord;  // what `tallowin print` sent (PrintRecord)
    Status Made;              // how making Folder went
};

// The user's state paths, the folder made private to the user (0700) when
// it is missing, whichever command comes first; a folder that exists is
// left as it is. Made says why the folder could not be made; the stores
// then fail on their own, each saying so.
StatePaths UserStatePaths();

// Something a start must tell the user: a dialog in the window, a line on
// the service's log.
struct StartupNote {
    bool Severe = false;  // an error (something is lost or not kept); else a warning
    std::string Text;     // one sentence; "\n" separates the items of a list
};

// The adapters the engine runs on, made once for the window and the
// service. Owns them all; the EngineServices it hands out refer to them, so
// everything that uses those (the worker) must go first. Main thread only,
// but the services themselves are used from the worker.
class EngineAdapters {
  public:
    struct Options {
        // The print log's lines go here too (the service's stderr); null:
        // the file only.
        std::ostream* Console = nullptr;
        // Each entry goes here too (the window's Log view); outlives this.
        PrintLog* AlsoTo = nullptr;
    };
    EngineAdapters(const StatePaths& paths, const Options& options);
    EngineAdapters(const EngineAdapters&) = delete;
    EngineAdapters& operator=(const EngineAdapters&) = delete;

    const EngineServices& Services() const { return services_; }
    // Every entry: the file, and Options::AlsoTo.
    PrintLog& Log() { return log_; }
    const SpdlogPrintLog& FileLog() const { return fileLog_; }
    const FileJobLedger& Ledger() const { return ledger_; }

    // Takes in the profile's settings that the adapters read (the decoder's
    // memory limit, the notify command); again after every reload.
    void Configure(const IniProfile& profile);

    // What this start must tell, in order: the hot folders that could not
    // be read from the profile at profilePath (as list loaded them from
    // profile) or were skipped, the state folder that could not be made, a
    // job ledger found damaged (its entry also goes to the print log's file
    // and to Options::AlsoTo, once) and a print log that cannot be written.
    // Call once, after list.Load(profile).
    std::vector<StartupNote> StartupNotes(const std::string& profilePath, const IniProfile& profile,
                                          const HotFolderList& list);

  private:
    // A run of the notify command, as a notified entry of the print log's
    // file and of Options::AlsoTo (not of Log(), which the command hears).
    void ReportNotify(const NotifyRun& run);

    Status stateMade_;
    MonotonicClock clock_;
    PosixFolderLister lister_;
    VipsImageLoader images_;
    CupsSpooler spooler_;
    PosixFileRemover remover_;
    PosixFileMover mover_;
    // Jobs in flight and the print log live in the state folder, so that a
    // restart neither sends a file again nor forgets what was printed.
    FileJobLedger ledger_;
    SpdlogPrintLog fileLog_;
    PrintLog* alsoTo_;
    // Hears every entry and runs the profile's NotifyCommand for the events;
    // its runs are reported to the two logs above, so it goes before them.
    NotifyCommand notify_{clock_, [this](const NotifyRun& run) { ReportNotify(run); }};
    TeePrintLog log_;
    // Files of folders that other hosts print from too are claimed first.
    ClaimKeeping claims_;
    EngineServices services_;
};

// Answers `tallowin status` for this instance while it lives: the socket of
// profilePath's lock (which the caller holds), the process, how long this
// object has lived, and a copy of each of list's folders worded by texts.
// The list and the worker must outlive it; the answers come from the
// socket's thread (HotFolderList::GetAll and HotFolderThread::IsIdle are
// safe there).
class StatusEndpoint {
  public:
    StatusEndpoint(const std::string& profilePath, std::string mode, const HotFolderList& list,
                   const HotFolderThread& worker, FolderTexts texts);
    StatusEndpoint(const StatusEndpoint&) = delete;
    StatusEndpoint& operator=(const StatusEndpoint&) = delete;

    // Whether the socket listens; status cannot ask this instance otherwise.
    const Status& Listening() const { return server_.Listening(); }

  private:
    InstanceReport Report() const;

    std::string profilePath_;
    std::string mode_;
    const HotFolderList& list_;
    const HotFolderThread& worker_;
    FolderTexts texts_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    StatusServer server_;  // last: answers only once the rest is there
};

}  // namespace tallowin
