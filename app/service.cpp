#include "app/service.h"

#include "platform/ini_profile.h"
#include "platform/instance_lock.h"
#include "platform/service_notify.h"

namespace tallowin {

HotFolderService::HotFolderService(std::string profilePath, ServiceLog& log)
    : profilePath_(std::move(profilePath)), log_(log) {}

void HotFolderService::Load() {
    const IniProfile profile(profilePath_);
    images_.SetDecodeMemoryLimit(DecodeMemoryLimitOf(profile));
    loaded_ = list_.Load(profile);
    if (!loaded_) {
        log_.Error("the hot folders could not be read from " + profilePath_ +
                   "; running without them, and that file will not be saved over");
        return;
    }
    LogFolders();
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
    const IniProfile profile(profilePath_);
    if (!profile.IsReadable()) {
        log_.Warning("the hot folders could not be read again from " + profilePath_ +
                     "; the running ones stay");
        return;
    }
    // The worker is between runs: membership may change.
    for (int id = 0; list_.GetCount() > 0; ++id) list_.Remove(id);
    images_.SetDecodeMemoryLimit(DecodeMemoryLimitOf(profile));
    loaded_ = list_.Load(profile);
    LogFolders();
}

int HotFolderService::Save() {
    if (!loaded_) {
        log_.Warning("not saved: the hot folders were never read from " + profilePath_);
        return 0;
    }
    IniProfile profile(profilePath_);
    if (!list_.Save(profile)) {
        log_.Error("the hot folders could not be saved to " + profilePath_);
        return 1;
    }
    log_.Info("saved " + std::to_string(list_.GetCount()) + " hot folder(s) to " + profilePath_);
    return 0;
}

int HotFolderService::Run(SignalFd& received) {
    Load();
    thread_.SetList(list_);
    thread_.Create();
    thread_.Start();
    log_.Info("started");
    NotifyServiceManager("READY=1\nSTATUS=Watching the hot folders");

    int status = 0;
    for (;;) {
        const int number = received.Next();
        if (number == SIGHUP) {
            NotifyServiceManager("RELOADING=1");
            log_.Info("SIGHUP: reading the hot folders again");
            thread_.Stop();
            Reload();
            thread_.Start();
            NotifyServiceManager("READY=1");
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
    thread_.Quit();
    thread_.Join();
    log_.Info("stopped");
    const int saved = Save();
    return status != 0 ? status : saved;
}

int RunService(const std::string& profilePath) {
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
    HotFolderService service(profilePath, log);
    return service.Run(received);
}

}  // namespace tallowin
