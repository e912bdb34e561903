// FolderScan: one scan of one hot folder — the folder checked, its sent
// jobs followed with the scheduler, each settled file handed to the print
// job (engine/print_job.h) and the file table replaced.
//
// What a scan does with each file, and why:
// - a file settles when two scans see it alike (size and identity) and no
//   writer holds it open; then it is printed once;
// - it is deleted only after the scheduler reports its job completed, and
//   only if it is still the very file that was sent; the job ledger carries
//   sent jobs across Stop/Start and restarts, so no file is sent twice;
// - a job is followed by its uuid, since the scheduler's ids start again
//   after it loses its history; a job the scheduler makes clear it no longer
//   knows (past a grace), or one that never received its page, is not
//   printed: its file is sent again, and the log says why;
// - where several hosts print from one shared folder (services.claims),
//   each file is claimed just before it is loaded, marked sending before
//   its job is recorded, and released once it was not sent or its job is
//   over (engine/file_claims.h); a file another host holds is looked at
//   again later, one whose host went away after sending it waits for that
//   host, with HF_ERR_OTHER_HOST naming it;
// - what a failure means for the file is ClassifyFailure's: a file kept
//   because of itself (not a picture, damaged, too large) is tried again
//   only once it changed; one kept because the printer could not be used is
//   tried again after a pause that doubles, up to a minute;
// - the folder's print settings (engine/job_settings.h) go with every job;
//   a name they leave out is never a candidate (not listed in the table,
//   not printed, not logged); a printed file moves to PrintedFolder instead
//   of being deleted with AfterPrint=move, and a file kept because of
//   itself moves to KeptFolder when one is set. A move that fails leaves
//   the file where it is, never sent again, like a deletion that fails.
//
// Lives for one scan (HotFolder::Scan and HotFolder::PrintFile make one);
// the record, the services and stop outlive it. Runs on the worker thread
// only, like the record's file table it replaces.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/file_table.h"
#include "engine/hot_folder.h"
#include "engine/ports/services.h"
#include "engine/print_job.h"

namespace tallowin {

class FolderScan {
  public:
    FolderScan(HotFolder& folder, const EngineServices& services, const StopSignal& stop)
        : f_(folder),
          s_(services),
          stop_(stop),
          read_(ParseJobSettings(folder.PrintSettings, folder.FolderPath)) {}

    // HotFolder::Scan.
    void Run(const HotFolder::SameFolderCheck& sameFolder);

    // HotFolder::PrintFile, with the printer the scan opened for its files
    // so far (null when none is open): opened once and kept for the next
    // file, so a burst of files does not ask the scheduler for the
    // destination, its details and its page again for every one of them.
    // Each file is still its own job; a printer whose job failed is dropped,
    // and the next file opens a fresh one. settled: the file as the scan saw
    // it settle (null: as it is now), which a file kept because of itself
    // also needs to move to KeptFolder.
    PrintOutcome PrintFile(const std::string& path, std::unique_ptr<Printer>& printer,
                           const FileIdentity* settled = nullptr);

  private:
    // The folder's job records that still stand after asking the spooler,
    // sorted by file name.
    std::vector<JobRecord> PollJobs(const Listing& listing);
    // Asks the scheduler about the job of record (in stage Sending or Sent)
    // of the listed file and acts on the answer (see DecideJob). True while
    // the record stands; false once the file is to be sent again.
    bool FollowJob(JobRecord& record, const ListedFile& file);
    // Cancels the job of record, of a run that ended while sending it, when
    // it waits without its page: its file is gone or changed, and nothing
    // else would ever end it.
    void CancelPagelessJob(const JobRecord& record);
    // True once the scheduler has said for kJobGoneGraceMs that it does not
    // know the job of fileName, state being its latest answer.
    bool GoneLongEnough(const std::string& fileName, JobState state);
    // Drops record and has its file sent again at once (or at its next
    // settle), why going with the Sent entry. Returns false.
    bool SendAgain(const JobRecord& record, std::string why);
    // With the records of earlier runs lost: records and follows a job of an
    // earlier run that the scheduler has for the file at path, instead of
    // sending it again. Skip when there is one, Go when there is none (the
    // file is sent); fails when the scheduler cannot be asked or the record
    // cannot be stored.
    Result<Proceed> AdoptEarlierJob(const std::string& path, const FileIdentity& identity);
    void RemovePrinted(const JobRecord& record, bool quietly);
    // What the table makes of a file whose print job failed for why, by
    // ClassifyFailure: kept (noted and logged) to wait for a change or to be
    // tried again later, or, changed while read, logged as interrupted.
    PrintOutcome AfterFailure(const std::string& path, const Status& why,
                              const FileIdentity* identity);
    // A file kept because of itself goes to KeptFolder (when set and its
    // identity is known); returns why with where it went or why it could
    // not, for the log.
    Status MoveKept(const std::string& path, const Status& why, const FileIdentity* identity);
    // Logs an attempt that ended with nothing sent and nothing blamed.
    void LogInterrupted(const std::string& path, const Status& why);
    // The file's job is over or will not be followed: its ledger record
    // goes, and so does its claim, if this service holds one.
    void Forget(const std::string& fileName);
    // With job options: once a run (and again when the printer or the
    // settings change), opens the printer with them before any file is
    // waiting, so that a media, tray, sides or colour mode it does not
    // offer shows from the first scan on. False when it does not offer
    // them: the folder then waits with HF_ERR_SETTINGS, printing nothing.
    // True otherwise, also when the printer cannot be asked now (printing
    // finds out why); printer is the one opened, kept for this scan's files.
    bool PrinterOffersSettings(std::unique_ptr<Printer>& printer);
    // Asks where the printer stands and notes it in the record (error,
    // words, the log's begin and end entries). False while it cannot print;
    // true when it can or cannot be asked (printing then finds out why).
    bool PrinterCanPrint();
    // The files the new table still waits to print and the folder's jobs in
    // flight, for whoever asks how the folder stands.
    void CountWork();
    // The folder itself cannot be watched: error state with why's code;
    // noted and logged only when that is news.
    void FolderFault(const Status& why);
    // Sets Error, notes the failure and logs the file as kept.
    void Keep(const std::string& path, const Status& why, int jobId = 0);
    void Log(PrintLogEntry entry) const;

    HotFolder& f_;
    const EngineServices& s_;
    const StopSignal& stop_;
    const ParsedJobSettings read_;  // the folder's print settings
};

}  // namespace tallowin
