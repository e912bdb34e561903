// `tallowin --service`: the hot folders without a window and without a
// display, for a systemd user unit or a terminal.
#pragma once

#include <iostream>
#include <string>

#include <memory>

#include "app/claim_keeping.h"
#include "app/profile_sync.h"
#include "app/service_log.h"
#include "cups/cups_spooler.h"
#include "os/app_environment.h"
#include "os/folder_listing.h"
#include "os/signal_fd.h"
#include "os/tick.h"
#include "page/vips_image.h"
#include "scheduling/hot_folder_list.h"
#include "scheduling/hot_folder_thread.h"
#include "store/job_ledger_file.h"
#include "store/print_log_file.h"

namespace tallowin {

// Loads the profile and runs the worker at once until SIGTERM or SIGINT,
// then stops and joins it and saves the profile; SIGHUP reads the profile
// again (stop, reload, start), and so does an edit of its hot folders on
// disk, noticed within two seconds. A profile that cannot be read is never
// saved over: at start the service runs without folders, on SIGHUP it keeps
// the folders it runs. An edit on disk not yet read at exit is kept, not
// saved over, and the print log says so. Every event is a line on log; a
// job ledger found damaged at start is said once, an error when records may
// be lost, else a warning, and also written to the print log. Main thread
// only.
class HotFolderService {
  public:
    HotFolderService(std::string profilePath, ServiceLog& log);
    HotFolderService(const HotFolderService&) = delete;
    HotFolderService& operator=(const HotFolderService&) = delete;

    // Runs until a termination signal arrives on received; the exit status:
    // 0, or 1 when the profile could not be saved or the signals cannot be
    // read.
    int Run(SignalFd& received);

  private:
    void ReportLedger();
    void Load();
    void Reload();
    void LogFolders();
    int Save();

    std::string profilePath_;
    ServiceLog& log_;
    MonotonicClock clock_;
    PosixFolderLister lister_;
    VipsImageLoader images_;
    CupsSpooler spooler_;
    PosixFileRemover remover_;
    // Jobs in flight survive a restart; every print and failure goes to the
    // rotated print log and, with syslog priority prefixes, to the journal.
    FileJobLedger ledger_{StateDirectory() + "/jobs.tsv"};
    SpdlogPrintLog printLog_{StateDirectory() + "/print.log",
                             SpdlogPrintLog::Options{.Console = &std::cerr}};
    // Files of folders that other hosts print from too are claimed first.
    ClaimKeeping claims_{clock_, ledger_.Path()};
    EngineServices services_{clock_,   lister_, images_,   spooler_,
                             remover_, ledger_, printLog_, claims_.Claims()};
    HotFolderList list_;
    std::unique_ptr<DiskProfileSync> sync_;  // made by Load
    HotFolderThread thread_{services_};      // last: joined before the list goes
};

// The whole service mode: the signals blocked before any thread starts, the
// profile's instance lock (refused: a line naming the holder, status 1),
// then HotFolderService::Run.
int RunService(const std::string& profilePath);

}  // namespace tallowin
