#include "app/composition.h"

#include <unistd.h>
#include "app/ledger_report.h"

#include "os/app_environment.h"
#include "os/instance_lock.h"
#include "store/print_record.h"

namespace tallowin {

namespace {

std::vector<PrintLog*> LogsOf(SpdlogPrintLog& file, PrintLog* alsoTo, PrintLog& notify) {
    if (alsoTo == nullptr) return {&file, &notify};
    return {&file, alsoTo, &notify};
}

}  // namespace

StatePaths UserStatePaths() {
    StatePaths paths;
    paths.Folder = StateDirectory();
    paths.Ledger = paths.Folder + "/jobs.tsv";
    paths.PrintLog = paths.Folder + "/print.log";
    paths.PrintRecord = PrintRecordPath();
    paths.Made = MakePrivateFolder(paths.Folder);
    return paths;
}

EngineAdapters::EngineAdapters(const StatePaths& paths, const Options& options)
    : stateMade_(paths.Made),
      ledger_(paths.Ledger),
      fileLog_(paths.PrintLog, SpdlogPrintLog::Options{.Console = options.Console}),
      alsoTo_(options.AlsoTo),
      log_(LogsOf(fileLog_, options.AlsoTo, notify_)),
      claims_(clock_, ledger_.Path()),
      services_{clock_,  lister_, images_,          spooler_, remover_,
                ledger_, log_,    claims_.Claims(), &mover_} {}

void EngineAdapters::Configure(const IniProfile& profile) {
    images_.SetDecodeMemoryLimit(DecodeMemoryLimitOf(profile));
    notify_.Configure(ReadNotifySettings(profile));
}

void EngineAdapters::ReportNotify(const NotifyRun& run) {
    const Notice& notice = run.Notice.Latest;
    PrintLogEntry entry;
    entry.Time = std::chrono::system_clock::now();
    entry.HotFolder = notice.Folder;
    entry.File = notice.File;
    entry.Printer = notice.Printer;
    entry.Result = PrintLogEntry::Outcome::Notified;
    entry.Reason = NotifyEventName(notice.Event);
    if (run.Notice.Count > 1) entry.Reason += " (" + std::to_string(run.Notice.Count) + " events)";
    entry.Reason += ": " + DescribeChildRun(run.Run);
    fileLog_.Record(entry);
    if (alsoTo_ != nullptr) alsoTo_->Record(entry);
}

std::vector<StartupNote> EngineAdapters::StartupNotes(const std::string& profilePath,
                                                      const IniProfile& profile,
                                                      const HotFolderList& list) {
    std::vector<StartupNote> notes;
    if (!list.IsLoaded()) {
        // Starting with no folders is safe; saving that over the user's
        // profile would not be, so nothing is saved at exit either.
        notes.push_back({true, "the hot folders could not be read from " + profilePath + " (" +
                                   profile.GetError() +
                                   "); Tallowin runs without them and will not save over "
                                   "that file"});
    }
    // One note for all of them; they stay in the file as they are.
    std::string skipped;
    for (const HotFolderList::SkippedSection& s : list.GetSkipped()) {
        skipped += "\n[" + s.Section + "]: " + s.Reason;
    }
    if (!skipped.empty()) {
        notes.push_back({false, "these hot folders in " + profilePath +
                                    " could not be loaded and were skipped; they are kept in "
                                    "the file as they are:" +
                                    skipped});
    }
    if (!stateMade_.Ok()) notes.push_back({true, stateMade_.Reason});
    // Printing goes on without them, but the user must know what is lost:
    // no record of jobs in flight (a file could be sent twice), or no log.
    // The note says it on the console; the entry goes to the file and the
    // Log view.
    if (const std::optional<PrintLogEntry> entry = LedgerLoadEntry(ledger_)) {
        fileLog_.RecordInFileOnly(*entry);
        if (alsoTo_ != nullptr) alsoTo_->Record(*entry);
        notes.push_back({ledger_.RecordsLost(), ledger_.LoadStatus().Reason});
    }
    if (!fileLog_.OpenStatus().Ok()) notes.push_back({true, fileLog_.OpenStatus().Reason});
    return notes;
}

StatusEndpoint::StatusEndpoint(const std::string& profilePath, std::string mode,
                               const HotFolderList& list, const HotFolderThread& worker,
                               FolderTexts texts)
    : profilePath_(profilePath),
      mode_(std::move(mode)),
      list_(list),
      worker_(worker),
      texts_(std::move(texts)),
      server_(StatusSocketPathFor(LockPathFor(profilePath)), [this](const std::string& request) {
          return AnswerStatusRequest(request, [this] { return Report(); });
      }) {}

InstanceReport StatusEndpoint::Report() const {
    InstanceReport report;
    report.Pid = getpid();
    report.UptimeSeconds = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::steady_clock::now() - started_)
                               .count();
    report.Mode = mode_;
    report.Profile = profilePath_;
    report.Started = !worker_.IsIdle();
    for (const HotFolder& folder : list_.GetAll()) {
        report.Folders.push_back(ReportFolder(folder, texts_));
    }
    return report;
}

}  // namespace tallowin
