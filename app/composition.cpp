#include "app/composition.h"

#include "app/ledger_report.h"
#include "os/app_environment.h"
#include "store/print_record.h"

namespace tallowin {

namespace {

std::vector<PrintLog*> LogsOf(SpdlogPrintLog& file, PrintLog* alsoTo) {
    if (alsoTo == nullptr) return {&file};
    return {&file, alsoTo};
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
      log_(LogsOf(fileLog_, options.AlsoTo)),
      claims_(clock_, ledger_.Path()),
      services_{clock_,  lister_, images_,          spooler_, remover_,
                ledger_, log_,    claims_.Claims(), &mover_} {}

void EngineAdapters::Configure(const IniProfile& profile) {
    images_.SetDecodeMemoryLimit(DecodeMemoryLimitOf(profile));
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

}  // namespace tallowin
