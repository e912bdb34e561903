// `tallowin --service`: the hot folders without a window and without a
// display, for a systemd user unit or a terminal.
#pragma once

#include <iostream>
#include <string>

#include <memory>

#include "app/composition.h"
#include "app/profile_sync.h"
#include "app/service_log.h"
#include "os/signal_fd.h"
#include "scheduling/hot_folder_list.h"
#include "scheduling/hot_folder_thread.h"

namespace tallowin {

// Loads the profile and runs the worker at once until SIGTERM or SIGINT,
// then stops and joins it and saves the profile; SIGHUP reads the profile
// again (stop, reload, start), and so does an edit of its hot folders on
// disk, noticed within two seconds. A profile that cannot be read is never
// saved over: at start the service runs without folders, on SIGHUP it keeps
// the folders it runs. An edit on disk not yet read at exit is kept, not
// saved over, and the print log says so. Every event is a line on log. At
// start it says what the window would show in its dialogs
// (EngineAdapters::StartupNotes: a profile that cannot be read, skipped
// sections, a job ledger found damaged, a print log that cannot be
// written), each once, an error or a warning. Main thread only.
class HotFolderService {
  public:
    // texts: how `tallowin status` words each folder's state and error.
    HotFolderService(std::string profilePath, ServiceLog& log, FolderTexts texts);
    HotFolderService(const HotFolderService&) = delete;
    HotFolderService& operator=(const HotFolderService&) = delete;

    // Runs until a termination signal arrives on received; the exit status:
    // 0, or 1 when the profile could not be saved or the signals cannot be
    // read.
    int Run(SignalFd& received);

  private:
    void Load();
    void Reload();
    void LogFolders();
    int Save();

    std::string profilePath_;
    ServiceLog& log_;
    FolderTexts texts_;
    // Every print and failure goes to the rotated print log and, with
    // syslog priority prefixes, to the journal.
    EngineAdapters adapters_{UserStatePaths(), {.Console = &std::cerr}};
    HotFolderList list_;
    std::unique_ptr<DiskProfileSync> sync_;         // made by Load
    HotFolderThread thread_{adapters_.Services()};  // joined before the list goes
    std::unique_ptr<StatusEndpoint> status_;        // made by Run; goes first
};

// The whole service mode: the signals blocked before any thread starts, the
// profile's instance lock (refused: a line naming the holder, status 1),
// then HotFolderService::Run, which answers `tallowin status` while it runs.
int RunService(const std::string& profilePath, const FolderTexts& texts);

}  // namespace tallowin
