#include "engine/folder_scan.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "engine/file_claims.h"
#include "engine/job_decision.h"
#include "engine/scan_time.h"
#include "util/paths.h"

namespace tallowin {

namespace {

using Outcome = PrintLogEntry::Outcome;

const ListedFile* FindListed(const Listing& listing, const std::string& name) {
    const auto it = std::lower_bound(
        listing.begin(), listing.end(), name,
        [](const ListedFile& file, const std::string& n) { return file.Name < n; });
    return it != listing.end() && it->Name == name ? &*it : nullptr;
}

const JobRecord* FindRecord(const std::vector<JobRecord>& records, const std::string& name) {
    const auto it = std::lower_bound(
        records.begin(), records.end(), name,
        [](const JobRecord& record, const std::string& n) { return record.FileName < n; });
    return it != records.end() && it->FileName == name ? &*it : nullptr;
}

// The record follows job from now on.
void Adopt(JobRecord& record, const JobTicket& job) {
    record.JobId = job.Id;
    record.JobUuid = job.Uuid;
    record.CreatedAt = job.CreatedAt;
}

// A record in stage Sending, of no job yet, written now.
JobRecord NewRecord(const std::string& folderPath, const std::string& fileName,
                    const FileIdentity& identity, const std::string& printerName) {
    JobRecord record;
    record.FolderPath = folderPath;
    record.FileName = fileName;
    record.Identity = identity;
    record.PrinterName = printerName;
    record.State = JobRecord::Stage::Sending;
    record.RecordedAt = SecondsNow();
    return record;
}

}  // namespace

void FolderScan::Run(const HotFolder::SameFolderCheck& sameFolder) {
    const std::int32_t state = f_.GetState();
    if (state != HF_STATE_RUNNING && state != HF_STATE_ERROR) return;
    // The interval to the next scan counts from the start of this one, so
    // the time spent printing belongs to it.
    const std::uint32_t now = s_.clock.Now();
    f_.LastScanTick.store(now, std::memory_order_relaxed);

    const std::optional<FolderKey> folder = s_.lister.FindFolder(f_.FolderPath);
    if (!folder) {
        FolderFault(Status::Failure(HF_ERR_PATH, "the folder is missing"));
        return;
    }
    if (sameFolder) {
        if (const std::optional<std::string> other = sameFolder(*folder)) {
            FolderFault(Status::Failure(HF_ERR_DUPLICATE,
                                        "hot folder \"" + *other + "\" watches this folder"));
            return;
        }
    }
    if (state == HF_STATE_ERROR) {
        // Back (a share mounted again, a folder restored, the other hot
        // folder gone): whatever it holds now settles afresh; the ledger
        // still knows what was sent.
        const bool wasMissing = f_.GetError() == HF_ERR_PATH;
        f_.Files.clear();
        f_.SetRunning();
        PrintLogEntry entry;
        entry.File = f_.FolderPath;
        entry.Printer = f_.PrinterName;
        entry.Result = Outcome::FolderBack;
        entry.Reason = wasMissing ? "the folder is back" : "no other hot folder watches it now";
        Log(std::move(entry));
    }

    if (!read_.Ok()) {
        // Settings changed under a running folder: nothing prints by them.
        f_.SetSettingsError(read_.Reason());
        return;
    }
    std::unique_ptr<Printer> printer;  // opened by the settings check or the first file printed
    if (!PrinterOffersSettings(printer)) return;
    if (s_.claims) {
        // What an earlier run of this service left claimed here: kept for
        // the files the ledger follows, given up for the rest.
        s_.claims->ClearLeftovers(
            f_.FolderPath,
            [&](const std::string& file) {
                return s_.ledger.Find(f_.FolderPath, file).has_value();
            },
            s_.ledger.RecordsLost());
    }
    const Listing listing = s_.lister.List(f_.FolderPath);
    const std::vector<JobRecord> standing = PollJobs(listing);
    // Names the settings leave out are not there as far as the table goes:
    // never printed, never logged. Their jobs of earlier settings are still
    // followed above.
    Listing candidates = listing;
    std::erase_if(candidates,
                  [&](const ListedFile& file) { return !read_.Settings.IsCandidate(file.Name); });
    // A file whose job can no longer print is due again at once.
    std::erase_if(f_.sendAgainWhy_,
                  [&](const auto& note) { return FindListed(listing, note.first) == nullptr; });
    for (FileEntry& entry : f_.Files) {
        if (entry.Mark == FileMark::Handled && f_.sendAgainWhy_.count(entry.Name) != 0) {
            entry.Mark = FileMark::Waiting;
        }
    }

    // Files that settle while the printer cannot print wait for it: not
    // tried, so neither failed nor sent, and printed once it prints again.
    const bool canPrint = PrinterCanPrint();

    TableScan scan;
    scan.Now = now;
    scan.FirstRetryMs = ScanIntervalMs(f_.ScanTime);
    scan.Print = [&](const ListedFile& file) {
        if (!canPrint) return PrintOutcome::NotTried;
        return PrintFile(JoinPath(f_.FolderPath, file.Name), printer, &file.Identity);
    };
    scan.HandledBefore = [&](const ListedFile& file) {
        const JobRecord* record = FindRecord(standing, file.Name);
        return record != nullptr && SameFileAcrossMounts(record->Identity, file.Identity);
    };
    scan.BeingWritten = [&](const ListedFile& file) {
        return s_.lister.ProbeWriter(JoinPath(f_.FolderPath, file.Name)) ==
               WriterProbe::OpenForWriting;
    };
    scan.Stopped = [&] { return stop_.Requested(); };
    f_.Files = UpdateFileTable(f_.Files, candidates, scan);
    CountWork();
}

bool FolderScan::PrinterOffersSettings(std::unique_ptr<Printer>& printer) {
    std::vector<NamedValue> options = JobOptions(read_.Settings);
    if (options.empty()) return true;
    auto asked = std::make_pair(f_.PrinterName, f_.PrintSettings);
    if (f_.offeredFor_ == asked) return true;
    Result<std::unique_ptr<Printer>> opened =
        s_.spooler.OpenWith(f_.PrinterName, std::move(options), stop_);
    if (opened.Ok()) {
        f_.offeredFor_ = std::move(asked);
        printer = std::move(opened.Value);
        return true;
    }
    if (opened.Error.Code != HF_ERR_SETTINGS) return true;
    f_.SetSettingsError(opened.Error.Reason);
    return false;
}

bool FolderScan::PrinterCanPrint() {
    if (stop_.Requested()) return true;  // nothing is printed anyway
    const Result<PrinterCondition> condition = s_.spooler.Condition(f_.PrinterName, stop_);
    if (!condition.Ok()) return true;
    const std::optional<std::string> trouble = NeedsAttention(condition.Value);
    if (trouble) {
        // Over any error a job's end left: while it lasts, this is the
        // folder's trouble.
        f_.Error.store(HF_ERR_PRINTER_ATTENTION, std::memory_order_relaxed);
        f_.SetPrinterTrouble(*trouble);
        if (!f_.printerAttention_.exchange(true, std::memory_order_relaxed)) {
            PrintLogEntry entry;
            entry.Printer = f_.PrinterName;
            entry.Result = Outcome::PrinterAttention;
            entry.Code = HF_ERR_PRINTER_ATTENTION;
            entry.Reason = *trouble;
            Log(std::move(entry));
        }
        return false;
    }
    if (f_.GetError() == HF_ERR_PRINTER_ATTENTION)
        f_.Error.store(HF_ERR_NONE, std::memory_order_relaxed);
    f_.SetPrinterTrouble({});
    if (f_.printerAttention_.exchange(false, std::memory_order_relaxed)) {
        PrintLogEntry entry;
        entry.Printer = f_.PrinterName;
        entry.Result = Outcome::PrinterReady;
        entry.Reason = "the printer prints again";
        Log(std::move(entry));
    }
    return true;
}

void FolderScan::CountWork() {
    const auto waiting = std::count_if(f_.Files.begin(), f_.Files.end(), [](const FileEntry& e) {
        return e.Mark != FileMark::Handled;
    });
    std::int32_t inFlight = 0;
    for (const JobRecord& record : s_.ledger.InFolder(f_.FolderPath)) {
        if (record.State == JobRecord::Stage::Sending || record.State == JobRecord::Stage::Sent) {
            ++inFlight;
        }
    }
    f_.FilesWaiting.store(static_cast<std::int32_t>(waiting), std::memory_order_relaxed);
    f_.JobsInFlight.store(inFlight, std::memory_order_relaxed);
}

std::vector<JobRecord> FolderScan::PollJobs(const Listing& listing) {
    std::vector<JobRecord> records = s_.ledger.InFolder(f_.FolderPath);
    std::sort(records.begin(), records.end(),
              [](const JobRecord& a, const JobRecord& b) { return a.FileName < b.FileName; });
    std::vector<JobRecord> standing;
    for (JobRecord& record : records) {
        const ListedFile* file = FindListed(listing, record.FileName);
        if (file == nullptr && listing.empty()) {
            // A folder that lists nothing may be one that could not be read
            // for a moment (a share, a stick): forgetting its jobs then
            // would send their files again once they are listed.
            standing.push_back(record);
            continue;
        }
        if (file == nullptr || !SameFileAcrossMounts(file->Identity, record.Identity)) {
            // Gone, or replaced by another file: nothing left to wait for or
            // to delete, and the new file is a new file.
            CancelPagelessJob(record);
            Forget(record.FileName);
            f_.jobGoneSince_.erase(record.FileName);
            continue;
        }
        switch (record.State) {
            case JobRecord::Stage::Sending:
            case JobRecord::Stage::Sent:
                if (FollowJob(record, *file)) standing.push_back(record);
                break;
            case JobRecord::Stage::Printed:
                // Tried again at every scan, without a new entry each time.
                RemovePrinted(record, true);
                if (s_.ledger.Find(f_.FolderPath, record.FileName)) standing.push_back(record);
                break;
            case JobRecord::Stage::Failed:
                standing.push_back(record);
                break;
        }
    }
    return standing;
}

bool FolderScan::FollowJob(JobRecord& record, const ListedFile& file) {
    // Once stop is asked the scheduler is not asked again; the record waits
    // for the next run.
    if (stop_.Requested()) return true;
    std::vector<FoundJob> found;
    JobStatus status;
    if (DecideJob(record, status, false) == JobAction::Search) {
        // A run ended between writing the record and hearing of its job:
        // whether the scheduler made one is asked by the job's name, user,
        // printer and time.
        Result<std::vector<FoundJob>> search = s_.spooler.FindJobs(
            record.PrinterName, record.FileName,
            EarliestJobTime(file.Identity.ModifiedNs, record.RecordedAt), stop_);
        if (!search.Ok()) return true;  // asked again at the next scan
        found = std::move(search.Value);
        const FoundJob* telling = MostTelling(found);
        if (telling == nullptr) {
            return SendAgain(record,
                             "Tallowin ended while sending it, before the scheduler made a job "
                             "of it");
        }
        Adopt(record, telling->Ticket);
        // Should this fail, the job is searched for again at the next scan.
        // Flushed, as the job's id is when it is made (below).
        s_.ledger.Put(record);
        status = telling->Status;
    } else {
        status = s_.spooler.QueryJob(record.PrinterName, record.Ticket(), stop_);
    }
    const std::string named = "job " + std::to_string(record.JobId);
    const JobAction action =
        DecideJob(record, status, GoneLongEnough(record.FileName, status.State));
    // The scheduler took the whole page before the run that sent it ended:
    // the sent line that run did not live to write is written now. A record
    // of this run (one whose Sent stage could not be stored) was said.
    const bool earlierRun = f_.firstScanAt_ == 0 || record.RecordedAt < f_.firstScanAt_;
    const auto sentBefore = [&] {
        if (!earlierRun) return;
        PrintLogEntry entry;
        entry.File = JoinPath(f_.FolderPath, record.FileName);
        entry.Printer = record.PrinterName;
        entry.JobId = record.JobId;
        entry.Result = Outcome::Sent;
        entry.Reason = "sent before Tallowin ended; the scheduler has the whole page";
        Log(std::move(entry));
    };
    switch (action) {
        case JobAction::Wait:
            if (record.State == JobRecord::Stage::Sending && status.State == JobState::Pending) {
                // Only the scheduler's answer was missed. Should this fail,
                // the job is asked for again, and said once it is stored.
                record.State = JobRecord::Stage::Sent;
                if (s_.ledger.Update(record).Ok()) sentBefore();
            }
            return true;
        case JobAction::Delete:
            if (record.State == JobRecord::Stage::Sending) sentBefore();
            RemovePrinted(record, false);
            return s_.ledger.Find(f_.FolderPath, record.FileName).has_value();
        case JobAction::Keep: {
            record.State = JobRecord::Stage::Failed;
            s_.ledger.Update(record);
            const std::string reason =
                status.Reason.empty() ? "the job was aborted or cancelled" : status.Reason;
            Keep(JoinPath(f_.FolderPath, record.FileName),
                 Status::Failure(HF_ERR_JOB_FAILED, reason), record.JobId);
            return true;
        }
        case JobAction::CancelAndResend: {
            // Every job of the file that waits without its page goes: none
            // of them can print it.
            bool cancelled = true;
            if (found.empty()) {
                cancelled = s_.spooler.CancelJob(record.PrinterName, record.JobId, stop_).Ok();
            }
            for (const FoundJob& other : found) {
                if (other.Status.State != JobState::Pending || !other.Status.Documentless) continue;
                cancelled = s_.spooler.CancelJob(record.PrinterName, other.Ticket.Id, stop_).Ok() &&
                            cancelled;
            }
            if (!cancelled) return true;  // asked again at the next scan
            return SendAgain(record, named +
                                         " never received its page (Tallowin ended while sending "
                                         "it); it was cancelled");
        }
        case JobAction::Resend:
            return SendAgain(record, status.State == JobState::Gone
                                         ? "the scheduler no longer knows " + named + " (" +
                                               status.Reason + "), so it did not print"
                                         : named + " ended without its page, so it did not print");
        case JobAction::Search:
            break;  // a record that names a job is never searched for
    }
    return true;
}

void FolderScan::CancelPagelessJob(const JobRecord& record) {
    if (record.State != JobRecord::Stage::Sending || record.JobId <= 0 || stop_.Requested()) return;
    const JobStatus status = s_.spooler.QueryJob(record.PrinterName, record.Ticket(), stop_);
    // Best effort: should the scheduler not answer, it aborts such a job on
    // its own in the end.
    if (status.State == JobState::Pending && status.Documentless) {
        s_.spooler.CancelJob(record.PrinterName, record.JobId, stop_);
    }
}

bool FolderScan::GoneLongEnough(const std::string& fileName, JobState state) {
    // A scheduler that cannot be asked says nothing either way; any other
    // answer shows that it knows the job.
    if (state == JobState::Unknown) return false;
    if (state != JobState::Gone) {
        f_.jobGoneSince_.erase(fileName);
        return false;
    }
    const std::uint32_t now = s_.clock.Now();
    const auto [since, first] = f_.jobGoneSince_.try_emplace(fileName, now);
    // Elapsed time, so that the tick's wrap changes nothing.
    return !first && now - since->second >= kJobGoneGraceMs;
}

bool FolderScan::SendAgain(const JobRecord& record, std::string why) {
    // Should the erase fail, sending fails too when it cannot record the
    // job, and says so; the file is not sent unrecorded. Its claim goes too:
    // it is claimed again, by whichever host sends it again.
    Forget(record.FileName);
    f_.jobGoneSince_.erase(record.FileName);
    f_.sendAgainWhy_[record.FileName] = std::move(why);
    return false;
}

void FolderScan::RemovePrinted(const JobRecord& record, bool quietly) {
    const std::string path = JoinPath(f_.FolderPath, record.FileName);
    PrintLogEntry entry;
    entry.File = path;
    entry.Printer = record.PrinterName;
    entry.JobId = record.JobId;
    Status removed;
    if (read_.Settings.After == AfterPrint::Move) {
        const std::string folder =
            ResolveSettingsFolder(f_.FolderPath, read_.Settings.PrintedFolder);
        if (s_.mover == nullptr) {
            removed = Status::Failure(HF_ERR_NOT_DELETED, "files cannot be moved here");
        } else {
            const Result<std::string> moved =
                s_.mover->MoveIfSame(path, record.Identity, folder, HF_ERR_NOT_DELETED);
            removed = moved.Error;
            if (moved.Ok()) entry.Reason = "moved to " + moved.Value;
        }
        if (!removed.Ok()) removed.Reason = "not moved to " + folder + ": " + removed.Reason;
    } else {
        removed = s_.remover.RemoveIfSame(path, record.Identity);
    }
    if (removed.Ok()) {
        Forget(record.FileName);
        if (f_.GetError() == HF_ERR_NOT_DELETED) f_.ClearFileError();
        entry.Result = Outcome::Printed;
        Log(std::move(entry));
        return;
    }
    if (quietly) return;
    JobRecord printed = record;
    printed.State = JobRecord::Stage::Printed;
    s_.ledger.Update(printed);
    f_.Error.store(HF_ERR_NOT_DELETED, std::memory_order_relaxed);
    f_.NoteFailure(path, removed);
    entry.Result = Outcome::NotDeleted;
    entry.Code = removed.Code;
    entry.Reason = removed.Reason;
    Log(std::move(entry));
}

PrintOutcome FolderScan::PrintFile(const std::string& path, std::unique_ptr<Printer>& printer,
                                   const FileIdentity* settled) {
    using End = PrintJobResult::End;
    if (f_.firstScanAt_ == 0) f_.firstScanAt_ = SecondsNow();
    // Said once, with the attempt that follows it.
    const std::string docName = DocumentName(path);
    std::string again;
    if (const auto note = f_.sendAgainWhy_.find(docName); note != f_.sendAgainWhy_.end()) {
        again = std::move(note->second);
        f_.sendAgainWhy_.erase(note);
    }

    // Claimed before anything is loaded, so that of several hosts sharing
    // the folder only one does the work.
    std::string takenFrom;
    if (s_.claims && !stop_.Requested()) {
        const ClaimAnswer claim = s_.claims->Claim(f_.FolderPath, docName);
        switch (claim.Result) {
            case ClaimAnswer::Kind::Held: {
                // The host that held the claim before may have printed the
                // file and deleted it since this scan listed it: a claim is
                // only released after its file's deletion. Gone or replaced,
                // it is no longer the file that settled.
                const std::optional<FileIdentity> now = s_.lister.Identify(path);
                if (!now || (settled != nullptr && !SameFileAcrossMounts(*now, *settled))) {
                    s_.claims->Release(f_.FolderPath, docName);
                    return PrintOutcome::NotTried;
                }
                takenFrom = claim.Holder;
                break;
            }
            case ClaimAnswer::Kind::Unclaimed:
                break;  // no host can claim here: printed as by a lone host
            case ClaimAnswer::Kind::Busy:
                // Another host prints it; looked at again after a pause, by
                // when it is most likely printed and gone.
                return PrintOutcome::Deferred;
            case ClaimAnswer::Kind::AwaitHost:
                Keep(path, Status::Failure(HF_ERR_OTHER_HOST,
                                           claim.Holder +
                                               " sent it and has not been heard from since: the "
                                               "file waits for that host to come back"));
                return PrintOutcome::RetryLater;
            case ClaimAnswer::Kind::Failed:
                Keep(path, Status::Failure(HF_ERR_STATE,
                                           "the claim folder cannot be used: " + claim.Reason));
                return PrintOutcome::RetryLater;
        }
    }

    // Recorded before the job exists, and again with the job as soon as the
    // scheduler made it: should the program end before the send returns, a
    // later scan finds this record and asks the scheduler what became of it.
    JobRecord record;
    bool recorded = false;
    PrintJobSteps steps;
    steps.Settings = &read_.Settings;
    steps.BeforeSend = [&](const Image& image) -> Result<Proceed> {
        // From here on the job may exist: the claim says so first, so that
        // no other host ever sends the file again.
        if (s_.claims) {
            if (const Status marked = s_.claims->MarkSending(f_.FolderPath, docName);
                !marked.Ok()) {
                return {Proceed::Go, marked};
            }
        }
        if (s_.ledger.RecordsLost()) {
            // The records of earlier runs are lost: a job of this file may
            // be with the scheduler already, and is followed rather than
            // doubled.
            Result<Proceed> adopted = AdoptEarlierJob(path, image.Identity());
            if (!adopted.Ok() || adopted.Value == Proceed::Skip) return adopted;
        }
        record = NewRecord(f_.FolderPath, docName, image.Identity(), f_.PrinterName);
        // Unrecorded, a send could be repeated after a crash: not sent now,
        // tried again later like a printer that cannot be used. Flushed to
        // the disk before the job is made, as the job's id is once it is
        // made; what follows (that it was sent, how it ended, that the
        // file went) a power cut may take back, and the job then tells
        // again.
        const Status noted = s_.ledger.Put(record);
        if (!noted.Ok()) return {Proceed::Go, noted};
        recorded = true;
        return {Proceed::Go, {}};
    };
    steps.Created = [&](const JobTicket& job) {
        Adopt(record, job);
        // Should this fail, the record without its job is searched for by
        // the job's name. Flushed: a search by name may find an earlier
        // job of a file of the same name, and is left to the rare crash
        // between the two records rather than to every power cut.
        s_.ledger.Put(record);
    };
    steps.Progress = [&](HotFolderState stage) {
        f_.State.store(stage, std::memory_order_relaxed);
    };

    const PrintJobResult job =
        RunPrintJob(s_.images, s_.spooler, path, f_.PrinterName, printer, stop_, steps);
    f_.State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
    // The adapter cancelled whatever it had created: nothing prints, and the
    // record of the send goes with it.
    if (job.Outcome == End::Failed || job.Outcome == End::Stopped) {
        if (recorded) {
            Forget(docName);
        } else if (s_.claims) {
            s_.claims->Release(f_.FolderPath, docName);
        }
    }
    switch (job.Outcome) {
        case End::Stopped:
            LogInterrupted(path, Status{HF_ERR_NONE, "stopped before it was sent"});
            return PrintOutcome::NotTried;
        case End::Skipped:
            return PrintOutcome::Handled;  // the next scan follows the adopted job
        case End::Unsure:
            // The job exists and its cancel did not get through: it may
            // still print, so it is followed like any sent job and never
            // sent again blindly.
            record.JobId = job.JobId;
            record.State = JobRecord::Stage::Sent;
            s_.ledger.Update(record);
            Keep(path, job.Why, job.JobId);
            return PrintOutcome::Handled;
        case End::Failed:
            return AfterFailure(path, job.Why, settled);
        case End::Sent:
            break;
    }
    record.JobId = job.JobId;
    record.State = JobRecord::Stage::Sent;
    const Status stored = s_.ledger.Update(record);

    PrintLogEntry entry;
    entry.File = path;
    entry.Printer = f_.PrinterName;
    entry.JobId = job.JobId;
    entry.Width = job.Width;
    entry.Height = job.Height;
    entry.Result = Outcome::Sent;
    entry.Reason = again.empty() ? std::string() : "sent again: " + again;
    if (!takenFrom.empty()) {
        entry.Reason += (entry.Reason.empty() ? "" : "; ") + std::string("taken over from ") +
                        takenFrom + ", which had stopped renewing its claim before sending it";
    }
    if (stored.Ok()) {
        f_.ClearFileError();
    } else {
        // The job is sent all the same; the ledger still holds the record
        // of it being sent, and later scans ask the scheduler about it.
        f_.Error.store(stored.Code, std::memory_order_relaxed);
        f_.NoteFailure(path, stored);
        entry.Code = stored.Code;
        entry.Reason += (entry.Reason.empty() ? "" : "; ") + stored.Reason;
    }
    Log(std::move(entry));
    return PrintOutcome::Handled;
}

PrintOutcome FolderScan::AfterFailure(const std::string& path, const Status& why,
                                      const FileIdentity* identity) {
    switch (ClassifyFailure(why.Code)) {
        case FailureKind::Changed:
            // Still being written, or replaced: nothing printed and nothing
            // to blame; the table tries it again once two scans see it alike.
            LogInterrupted(path, why.Reason.empty()
                                     ? Status{why.Code, "the file changed while it was read"}
                                     : why);
            return PrintOutcome::NotTried;
        case FailureKind::Printer:
        case FailureKind::Folder:
            Keep(path, why);
            return PrintOutcome::RetryLater;
        case FailureKind::File:
            Keep(path, MoveKept(path, why, identity));
            return PrintOutcome::Handled;
        case FailureKind::None:
        case FailureKind::Removal:
            break;
    }
    Keep(path, why);
    return PrintOutcome::Handled;
}

Status FolderScan::MoveKept(const std::string& path, const Status& why,
                            const FileIdentity* identity) {
    if (read_.Settings.KeptFolder.empty() || s_.mover == nullptr || identity == nullptr) {
        return why;
    }
    const std::string folder = ResolveSettingsFolder(f_.FolderPath, read_.Settings.KeptFolder);
    const Result<std::string> moved = s_.mover->MoveIfSame(path, *identity, folder, why.Code);
    Status said = why;
    said.Reason += moved.Ok() ? "; moved to " + moved.Value
                              : "; not moved to " + folder + ": " + moved.Error.Reason;
    return said;
}

void FolderScan::LogInterrupted(const std::string& path, const Status& why) {
    PrintLogEntry entry;
    entry.File = path;
    entry.Printer = f_.PrinterName;
    entry.Result = Outcome::Interrupted;
    entry.Code = why.Code;
    entry.Reason = why.Reason;
    Log(std::move(entry));
}

void FolderScan::FolderFault(const Status& why) {
    const bool known = f_.GetState() == HF_STATE_ERROR && f_.GetError() == why.Code;
    f_.Error.store(why.Code, std::memory_order_relaxed);
    f_.State.store(HF_STATE_ERROR, std::memory_order_relaxed);
    // Checked at every interval while it lasts: one entry when it begins,
    // not one per scan.
    if (known) return;
    f_.NoteFailure(f_.FolderPath, why);
    PrintLogEntry entry;
    entry.File = f_.FolderPath;
    entry.Printer = f_.PrinterName;
    entry.Result = Outcome::Kept;
    entry.Code = why.Code;
    entry.Reason = why.Reason;
    Log(std::move(entry));
}

Result<Proceed> FolderScan::AdoptEarlierJob(const std::string& path, const FileIdentity& identity) {
    const std::string docName = DocumentName(path);
    Result<std::vector<FoundJob>> found = s_.spooler.FindJobs(
        f_.PrinterName, docName, EarliestJobTime(identity.ModifiedNs, 0), stop_);
    if (!found.Ok()) return {Proceed::Go, found.Error};
    // This run's own jobs are in the ledger; only earlier runs' count.
    std::erase_if(found.Value,
                  [&](const FoundJob& job) { return job.Ticket.CreatedAt >= f_.firstScanAt_; });
    const FoundJob* telling = MostTelling(found.Value);
    if (telling == nullptr) return {Proceed::Go, {}};
    JobRecord record = NewRecord(f_.FolderPath, docName, identity, f_.PrinterName);
    Adopt(record, telling->Ticket);
    // Flushed: without it the next start would send the file again.
    if (const Status noted = s_.ledger.Put(record); !noted.Ok()) return {Proceed::Go, noted};
    // The next scan follows the job as any other.
    return {Proceed::Skip, {}};
}

void FolderScan::Forget(const std::string& fileName) {
    s_.ledger.Erase(f_.FolderPath, fileName);
    if (s_.claims) s_.claims->Release(f_.FolderPath, fileName);
}

void FolderScan::Keep(const std::string& path, const Status& why, int jobId) {
    f_.Error.store(why.Code, std::memory_order_relaxed);
    f_.NoteFailure(path, why);
    PrintLogEntry entry;
    entry.File = path;
    entry.Printer = f_.PrinterName;
    entry.JobId = jobId;
    entry.Result = Outcome::Kept;
    entry.Code = why.Code;
    entry.Reason = why.Reason;
    Log(std::move(entry));
}

void FolderScan::Log(PrintLogEntry entry) const {
    entry.Time = std::chrono::system_clock::now();
    entry.HotFolder = f_.Name;
    s_.log.Record(entry);
}

}  // namespace tallowin
