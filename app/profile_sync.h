// DiskProfileSync: the one place where a running window or service reads and
// saves its profile file, so that both follow the same rule: an edit of the
// file made by hand while they run is taken in, and never written over.
#pragma once

#include <string>

#include "engine/ports/services.h"
#include "os/file_watch.h"
#include "scheduling/hot_folder_list.h"
#include "scheduling/profile_sync.h"
#include "store/ini_profile.h"

namespace tallowin {

class DiskProfileSync final : public ProfileSync {
  public:
    // loaded: the profile the list was loaded from at start-up. The list and
    // the log must outlive this object. Main thread only.
    DiskProfileSync(const IniProfile& loaded, HotFolderList& list, PrintLog& log);

    bool Changed() override;
    bool TakeIn() override;
    // Why the last TakeIn failed.
    const std::string& Error() const { return error_; }

    struct Saved {
        HotFolderList::SaveOutcome Outcome = HotFolderList::SaveOutcome::Failed;
        std::string Error;  // why, when Failed
    };
    // Reads the file as it is now and saves the list over it
    // (HotFolderList::Save). An edit kept or merged is told in the print log
    // with the file's path (outcome "kept"), as is a failure.
    Saved Save();

  private:
    void Note(const std::string& reason);

    std::string path_;
    HotFolderList& list_;
    PrintLog& log_;
    FileWatch watch_;
    std::string error_;
};

}  // namespace tallowin
