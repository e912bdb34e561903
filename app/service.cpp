#include "app/service.h"

#include "os/instance_lock.h"
#include "os/service_notify.h"
#include "store/ini_profile.h"

namespace tallowin {

namespace {

// How often the profile file is looked at (one stat); an edit is taken in
// at the second look that finds it unchanged since the first.
constexpr int kProfileCheckMs = 1000;

}  // namespace

HotFolderService::HotFolderService(std::string profilePath, ServiceLog& log, FolderTexts texts)
    : profilePath_(std::move(profilePath)), log_(log), texts_(std::move(texts)) {}

void HotFolderService::Load() {
    const IniProfile profile(profilePath_);
    sync_ = std::make_unique<DiskProfileSync>(profile, list_, adapters_.Log());
    adapters_.Configure(profile);
    list_.Load(profile);
    for (const StartupNote& note : adapters_.StartupNotes(profilePath_, profile, list_)) {
        log_.Write(note.Severe ? 3 : 4, note.Text);
    }
    if (list_.IsLoaded()) LogFolders();
}

void HotFolderService::LogFolders() {
    const unsigned count = list_.GetCount();
    log_.Info("read " + std::to_string(count) + " hot folder(s) from " + profilePath_);
    // Load numbers the folders 0 .. count - 1 in profile order.
    for (unsigned id = 0; id < count; ++id) {
        HotFolder folder;
        if (!list_.Get(static_cast<int>(id), folder)) continue;
        log_.Info("hot folder \"" + folder.GetName() + "\": " + folder.GetFolderPath() + " on " +
                  folder.GetPrinterName() + " every " + std::to_string(folder.GetScanTime()) +
                  " s");
    }
}

void HotFolderService::Reload() {
    NotifyServiceManager("RELOADING=1");
    // The worker is between runs while membership changes.
    thread_.Stop();
    if (sync_->TakeIn()) {
        adapters_.Configure(IniProfile(profilePath_));
        LogFolders();
    } else {
        log_.Warning("the hot folders could not be read again from " + profilePath_ + " (" +
                     sync_->Error() + "); the running ones stay");
    }
    thread_.Start();
    NotifyServiceManager("READY=1");
}

int HotFolderService::Save() {
    if (!list_.IsLoaded()) {
        log_.Warning("not saved: the hot folders were never read from " + profilePath_);
        return 0;
    }
    const DiskProfileSync::Saved saved = sync_->Save();
    switch (saved.Outcome) {
        case HotFolderList::SaveOutcome::Failed:
            log_.Error("the hot folders could not be saved to " + profilePath_ + ": " +
                       saved.Error);
            return 1;
        case HotFolderList::SaveOutcome::KeptEdit:
            // The print log has said why, on stderr as well.
            log_.Info("not saved: " + profilePath_ + " was edited since it was read");
            return 0;
        case HotFolderList::SaveOutcome::Saved:
        case HotFolderList::SaveOutcome::Merged:
            break;
    }
    log_.Info("saved " + std::to_string(list_.GetCount()) + " hot folder(s) to " + profilePath_);
    return 0;
}

int HotFolderService::Run(SignalFd& received) {
    Load();
    thread_.SetList(list_);
    thread_.Create();
    status_ = std::make_unique<StatusEndpoint>(profilePath_, "service", list_, thread_, texts_);
    if (!status_->Listening().Ok()) {
        log_.Warning("`tallowin status` cannot ask this service: " + status_->Listening().Reason);
    }
    thread_.Start();
    log_.Info("started");
    NotifyServiceManager("READY=1\nSTATUS=Watching the hot folders");

    int status = 0;
    for (;;) {
        const int number = received.Next(kProfileCheckMs);
        if (number == 0) {
            if (sync_->Changed()) {
                log_.Info("the hot folders changed in " + profilePath_ + ": reading them again");
                Reload();
            }
            continue;
        }
        if (number == SIGHUP) {
            log_.Info("SIGHUP: reading the hot folders again");
            Reload();
            continue;
        }
        if (number < 0) {
            log_.Error("the termination signals can no longer be read; stopping");
            status = 1;
        } else {
            log_.Info(std::string(number == SIGINT ? "SIGINT" : "SIGTERM") + ": stopping");
        }
        break;
    }
    NotifyServiceManager("STOPPING=1");
    status_.reset();
    thread_.Quit();
    thread_.Join();
    log_.Info("stopped");
    const int saved = Save();
    return status != 0 ? status : saved;
}

int RunService(const std::string& profilePath, const FolderTexts& texts) {
    ServiceLog log;
    SignalFd received;
    if (!received.Valid()) {
        log.Error("the termination signals cannot be read; not starting");
        return 1;
    }
    const InstanceLock lock(LockPathFor(profilePath));
    if (!lock.Result().Acquired) {
        log.Error("not starting: " + lock.Result().Reason);
        return 1;
    }
    HotFolderService service(profilePath, log, texts);
    return service.Run(received);
}

}  // namespace tallowin
