// CTallowinApp: the root of the application. It owns, for the life of the
// process, the platform services the engine runs on, the one hot folder list
// and the one worker, in that order, so that the worker (destroyed first)
// ends and is joined before the list and the services go.
//
// InitInstance runs the start-up and the main window; ExitInstance saves the
// hot folders. Used on the main thread only.
#pragma once

#include <QString>
#include <memory>
#include <string>

#include "app/claim_keeping.h"
#include "app/profile_sync.h"
#include "cups/cups_printers.h"
#include "cups/cups_spooler.h"
#include "os/app_environment.h"
#include "os/folder_listing.h"
#include "os/tick.h"
#include "page/vips_image.h"
#include "scheduling/hot_folder_list.h"
#include "scheduling/hot_folder_thread.h"
#include "scheduling/recent_print_log.h"
#include "store/job_ledger_file.h"
#include "store/print_log_file.h"

namespace tallowin {

class CTallowinApp {
  public:
    // profilePath: the INI file the hot folders live in.
    explicit CTallowinApp(std::string profilePath);
    CTallowinApp(const CTallowinApp&) = delete;
    CTallowinApp& operator=(const CTallowinApp&) = delete;
    virtual ~CTallowinApp() = default;

    // Start-up, the main window until it closes, and false: always false,
    // at once when the process cannot create sockets (message 103; nothing
    // is loaded, created or shown).
    bool InitInstance();
    // Saves the hot folders (not when nothing was loaded) and returns the
    // exit code. A save that fails is told to the user, in a message box
    // after the window's own Exit, on stderr after a termination signal. A
    // hand edit of the file that the window has not taken in yet is never
    // written over (DiskProfileSync::Save): the print log and stderr say
    // so, and the exit code is 0.
    int ExitInstance();
    // A termination signal is ending the run: nobody may be there to answer
    // a message box (a logout, a service manager).
    void EndedBySignal() { m_endedBySignal = true; }

    const QString& ApplicationFolder() const { return m_applicationFolder; }

  private:
    std::string m_profilePath;
    MonotonicClock m_clock;
    PosixFolderLister m_lister;
    VipsImageLoader m_images;
    CupsSpooler m_spooler;
    CupsPrinterCatalogue m_printers;  // what the main window lists and edits
    PosixFileRemover m_remover;
    // Jobs in flight and the print log live in the state folder, so that
    // a restart neither sends a file again nor forgets what was printed.
    FileJobLedger m_ledger{StateDirectory() + "/jobs.tsv"};
    SpdlogPrintLog m_fileLog{StateDirectory() + "/print.log"};
    RecentPrintLog m_recentLog;  // what the Log view shows
    TeePrintLog m_log{{&m_fileLog, &m_recentLog}};
    // Files of folders that other hosts print from too are claimed first.
    ClaimKeeping m_claims{m_clock, m_ledger.Path()};
    EngineServices m_services{m_clock,   m_lister, m_images, m_spooler,
                              m_remover, m_ledger, m_log,    m_claims.Claims()};

  public:
    HotFolderList m_hotFolderList;
    HotFolderThread m_hotFolderThread{m_services};

  private:
    QString m_applicationFolder;
    std::unique_ptr<DiskProfileSync> m_profile;  // made by InitInstance
    bool m_endedBySignal = false;
};

}  // namespace tallowin
