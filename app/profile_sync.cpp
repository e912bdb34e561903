#include "app/profile_sync.h"

#include <chrono>

namespace tallowin {

DiskProfileSync::DiskProfileSync(const IniProfile& loaded, HotFolderList& list, PrintLog& log)
    : path_(loaded.Path()), list_(list), log_(log), watch_(path_, loaded.ReadIdentity()) {}

void DiskProfileSync::Note(const std::string& reason) {
    PrintLogEntry entry;
    entry.Time = std::chrono::system_clock::now();
    entry.File = path_;
    entry.Result = PrintLogEntry::Outcome::Kept;
    entry.Reason = reason;
    log_.Record(entry);
}

bool DiskProfileSync::Changed() {
    if (!watch_.Poll()) return false;
    const IniProfile profile(path_);
    if (!profile.IsReadable()) {
        Note("the profile changed on disk but cannot be read (" + profile.GetError() +
             "); the hot folders stay as they are");
        return false;
    }
    // Comments, other sections and Init keys are kept by every save; only
    // a change of the hot folders is worth stopping the worker for.
    return list_.ChangedOnDisk(profile);
}

bool DiskProfileSync::TakeIn() {
    const IniProfile profile(path_);
    watch_.Seen(profile.ReadIdentity());
    const HotFolderList::TakeInResult result = list_.TakeIn(profile);
    if (!result.Ok) {
        error_ = profile.GetError();  // the caller tells it
        return false;
    }
    if (result.KeptOwnChanges) {
        Note(
            "the profile changed on disk: its hot folders were read again, and the changes "
            "made in the window since were kept on top of them");
    }
    return true;
}

DiskProfileSync::Saved DiskProfileSync::Save() {
    IniProfile profile(path_);
    Saved saved{list_.Save(profile).Outcome, {}};
    switch (saved.Outcome) {
        case HotFolderList::SaveOutcome::Saved:
            break;
        case HotFolderList::SaveOutcome::KeptEdit:
            Note(
                "the profile was changed on disk and that edit was not read yet; it is kept "
                "as it is and nothing was written over it");
            break;
        case HotFolderList::SaveOutcome::Merged:
            Note(
                "the profile was changed on disk and that edit was not read yet; it is kept, "
                "and the changes made in the window were saved beside it");
            break;
        case HotFolderList::SaveOutcome::Failed:
            saved.Error = profile.GetError();
            // The caller tells this one, where the user looks for it.
            if (saved.Error.empty()) saved.Error = "it could not be read";
            break;
    }
    return saved;
}

}  // namespace tallowin
