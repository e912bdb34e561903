#include "engine/hot_folder.h"

#include <algorithm>
#include <utility>

#include "engine/job_decision.h"
#include "engine/page_fit.h"
#include "util/paths.h"

namespace tallowin {

namespace {

using Outcome = PrintLogEntry::Outcome;

// The failures that lie with the printer or the scheduler rather than the
// file: the file is fine, so it is tried again while it stays.
bool PrinterIsToBlame(HotFolderError code) {
    return code == HF_ERR_PRINTER || code == HF_ERR_UNREACHABLE || code == HF_ERR_NO_PAGE_SIZE;
}

// The file itself cannot be printed as it is: trying again before it
// changes would only fail again.
bool FileIsToBlame(HotFolderError code) {
    return code == HF_ERR_DAMAGED || code == HF_ERR_NOT_IMAGE || code == HF_ERR_TOO_LARGE;
}

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

std::int64_t SecondsNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
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

HotFolder::HotFolder() = default;

HotFolder::HotFolder(std::string name, std::string folderPath, std::string printerName,
                     std::int32_t scanTime)
    : FolderPath(std::move(folderPath)),
      ScanTime(scanTime),
      Name(std::move(name)),
      PrinterName(std::move(printerName)) {}

HotFolder::HotFolder(const HotFolder& other)
    : FolderPath(other.FolderPath),
      ScanTime(other.ScanTime),
      Name(other.Name),
      PrinterName(other.PrinterName),
      Files(other.Files),
      LastScanTick(other.GetLastScanTick()),
      State(other.GetState()),
      Error(other.GetError()),
      lastFailure_(other.GetLastFailure()),
      jobGoneSince_(other.jobGoneSince_),
      sendAgainWhy_(other.sendAgainWhy_),
      firstScanAt_(other.firstScanAt_) {}

HotFolder& HotFolder::AssignWithoutFiles(const HotFolder& other) {
    if (this != &other) {
        FolderPath = other.FolderPath;
        ScanTime = other.ScanTime;
        Name = other.Name;
        PrinterName = other.PrinterName;
        Files.clear();
        jobGoneSince_.clear();
        sendAgainWhy_.clear();
        firstScanAt_ = other.firstScanAt_;
        LastScanTick.store(other.GetLastScanTick(), std::memory_order_relaxed);
        State.store(other.GetState(), std::memory_order_relaxed);
        Error.store(other.GetError(), std::memory_order_relaxed);
        FailureNote note = other.GetLastFailure();
        MutexLock guard(failureLock_);
        lastFailure_ = std::move(note);
    }
    return *this;
}

HotFolder& HotFolder::operator=(const HotFolder& other) {
    if (this != &other) {
        AssignWithoutFiles(other);
        Files = other.Files;
        jobGoneSince_ = other.jobGoneSince_;
        sendAgainWhy_ = other.sendAgainWhy_;
    }
    return *this;
}

FailureNote HotFolder::GetLastFailure() const {
    MutexLock guard(failureLock_);
    return lastFailure_;
}

void HotFolder::Reset(Clock& clock) {
    LastScanTick.store(clock.Now(), std::memory_order_relaxed);
    Files.clear();
    firstScanAt_ = SecondsNow();
}

void HotFolder::SetRunning() {
    Error.store(HF_ERR_NONE, std::memory_order_relaxed);
    State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
}

void HotFolder::SetWaiting() {
    State.store(HF_STATE_WAITING, std::memory_order_relaxed);
}

void HotFolder::Scan(const EngineServices& services, const StopSignal& stop,
                     const SameFolderCheck& sameFolder) {
    const std::int32_t state = GetState();
    if (state != HF_STATE_RUNNING && state != HF_STATE_ERROR) return;
    // The interval to the next scan counts from the start of this one, so
    // the time spent printing belongs to it.
    const std::uint32_t now = services.clock.Now();
    LastScanTick.store(now, std::memory_order_relaxed);

    const std::optional<FolderKey> folder = services.lister.FindFolder(FolderPath);
    if (!folder) {
        FolderFault(services, Status::Failure(HF_ERR_PATH, "the folder is missing"));
        return;
    }
    if (sameFolder) {
        if (const std::optional<std::string> other = sameFolder(*folder)) {
            FolderFault(services, Status::Failure(HF_ERR_DUPLICATE, "hot folder \"" + *other +
                                                                        "\" watches this folder"));
            return;
        }
    }
    if (state == HF_STATE_ERROR) {
        // Back (a share mounted again, a folder restored, the other hot
        // folder gone): whatever it holds now settles afresh; the ledger
        // still knows what was sent.
        const bool wasMissing = GetError() == HF_ERR_PATH;
        Files.clear();
        SetRunning();
        PrintLogEntry entry;
        entry.File = FolderPath;
        entry.Printer = PrinterName;
        entry.Result = Outcome::FolderBack;
        entry.Reason = wasMissing ? "the folder is back" : "no other hot folder watches it now";
        Log(services, std::move(entry));
    }

    const Listing listing = services.lister.List(FolderPath);
    const std::vector<JobRecord> standing = PollJobs(services, listing, stop);
    // A file whose job can no longer print is due again at once.
    std::erase_if(sendAgainWhy_,
                  [&](const auto& note) { return FindListed(listing, note.first) == nullptr; });
    for (FileEntry& entry : Files) {
        if (entry.Mark == FileMark::Handled && sendAgainWhy_.count(entry.Name) != 0) {
            entry.Mark = FileMark::Waiting;
        }
    }

    TableScan scan;
    scan.Now = now;
    scan.FirstRetryMs = static_cast<std::uint32_t>(std::max(ScanTime, 0)) * 1000u;
    std::unique_ptr<Printer> printer;  // opened by the first file printed
    scan.Print = [&](const ListedFile& file) {
        return PrintFile(services, JoinPath(FolderPath, file.Name), stop, printer);
    };
    scan.HandledBefore = [&](const ListedFile& file) {
        const JobRecord* record = FindRecord(standing, file.Name);
        return record != nullptr && SameFileAcrossMounts(record->Identity, file.Identity);
    };
    scan.BeingWritten = [&](const ListedFile& file) {
        return services.lister.ProbeWriter(JoinPath(FolderPath, file.Name)) ==
               WriterProbe::OpenForWriting;
    };
    scan.Stopped = [&] { return stop.Requested(); };
    Files = UpdateFileTable(Files, listing, scan);
}

std::vector<JobRecord> HotFolder::PollJobs(const EngineServices& services, const Listing& listing,
                                           const StopSignal& stop) {
    std::vector<JobRecord> records = services.ledger.InFolder(FolderPath);
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
            CancelPagelessJob(services, record, stop);
            services.ledger.Erase(FolderPath, record.FileName);
            jobGoneSince_.erase(record.FileName);
            continue;
        }
        switch (record.State) {
            case JobRecord::Stage::Sending:
            case JobRecord::Stage::Sent:
                if (FollowJob(services, record, *file, stop)) standing.push_back(record);
                break;
            case JobRecord::Stage::Printed:
                // Tried again at every scan, without a new entry each time.
                RemovePrinted(services, record, true);
                if (services.ledger.Find(FolderPath, record.FileName)) standing.push_back(record);
                break;
            case JobRecord::Stage::Failed:
                standing.push_back(record);
                break;
        }
    }
    return standing;
}

bool HotFolder::FollowJob(const EngineServices& services, JobRecord& record, const ListedFile& file,
                          const StopSignal& stop) {
    // Once stop is asked the scheduler is not asked again; the record waits
    // for the next run.
    if (stop.Requested()) return true;
    std::vector<FoundJob> found;
    JobStatus status;
    if (DecideJob(record, status, false) == JobAction::Search) {
        // A run ended between writing the record and hearing of its job:
        // whether the scheduler made one is asked by the job's name, user,
        // printer and time.
        Result<std::vector<FoundJob>> search = services.spooler.FindJobs(
            record.PrinterName, record.FileName,
            EarliestJobTime(file.Identity.ModifiedNs, record.RecordedAt), stop);
        if (!search.Ok()) return true;  // asked again at the next scan
        found = std::move(search.Value);
        const FoundJob* telling = MostTelling(found);
        if (telling == nullptr) {
            return SendAgain(services, record,
                             "Tallowin ended while sending it, before the scheduler made a job "
                             "of it");
        }
        Adopt(record, telling->Ticket);
        // Should this fail, the job is searched for again at the next scan.
        services.ledger.Put(record);
        status = telling->Status;
    } else {
        status = services.spooler.QueryJob(record.PrinterName, record.Ticket(), stop);
    }
    const std::string named = "job " + std::to_string(record.JobId);
    const JobAction action =
        DecideJob(record, status, GoneLongEnough(services, record.FileName, status.State));
    // The scheduler took the whole page before the run that sent it ended:
    // the sent line that run did not live to write is written now. A record
    // of this run (one whose Sent stage could not be stored) was said.
    const bool earlierRun = firstScanAt_ == 0 || record.RecordedAt < firstScanAt_;
    const auto sentBefore = [&] {
        if (!earlierRun) return;
        PrintLogEntry entry;
        entry.File = JoinPath(FolderPath, record.FileName);
        entry.Printer = record.PrinterName;
        entry.JobId = record.JobId;
        entry.Result = Outcome::Sent;
        entry.Reason = "sent before Tallowin ended; the scheduler has the whole page";
        Log(services, std::move(entry));
    };
    switch (action) {
        case JobAction::Wait:
            if (record.State == JobRecord::Stage::Sending && status.State == JobState::Pending) {
                // Only the scheduler's answer was missed. Should this fail,
                // the job is asked for again, and said once it is stored.
                record.State = JobRecord::Stage::Sent;
                if (services.ledger.Put(record).Ok()) sentBefore();
            }
            return true;
        case JobAction::Delete:
            if (record.State == JobRecord::Stage::Sending) sentBefore();
            RemovePrinted(services, record, false);
            return services.ledger.Find(FolderPath, record.FileName).has_value();
        case JobAction::Keep: {
            record.State = JobRecord::Stage::Failed;
            services.ledger.Put(record);
            const std::string reason =
                status.Reason.empty() ? "the job was aborted or cancelled" : status.Reason;
            Keep(services, JoinPath(FolderPath, record.FileName),
                 Status::Failure(HF_ERR_JOB_FAILED, reason), record.JobId);
            return true;
        }
        case JobAction::CancelAndResend: {
            // Every job of the file that waits without its page goes: none
            // of them can print it.
            bool cancelled = true;
            if (found.empty()) {
                cancelled = services.spooler.CancelJob(record.PrinterName, record.JobId, stop).Ok();
            }
            for (const FoundJob& other : found) {
                if (other.Status.State != JobState::Pending || !other.Status.Documentless) continue;
                cancelled =
                    services.spooler.CancelJob(record.PrinterName, other.Ticket.Id, stop).Ok() &&
                    cancelled;
            }
            if (!cancelled) return true;  // asked again at the next scan
            return SendAgain(services, record,
                             named +
                                 " never received its page (Tallowin ended while sending "
                                 "it); it was cancelled");
        }
        case JobAction::Resend:
            return SendAgain(services, record,
                             status.State == JobState::Gone
                                 ? "the scheduler no longer knows " + named + " (" + status.Reason +
                                       "), so it did not print"
                                 : named + " ended without its page, so it did not print");
        case JobAction::Search:
            break;  // a record that names a job is never searched for
    }
    return true;
}

void HotFolder::CancelPagelessJob(const EngineServices& services, const JobRecord& record,
                                  const StopSignal& stop) {
    if (record.State != JobRecord::Stage::Sending || record.JobId <= 0 || stop.Requested()) return;
    const JobStatus status = services.spooler.QueryJob(record.PrinterName, record.Ticket(), stop);
    // Best effort: should the scheduler not answer, it aborts such a job on
    // its own in the end.
    if (status.State == JobState::Pending && status.Documentless) {
        services.spooler.CancelJob(record.PrinterName, record.JobId, stop);
    }
}

bool HotFolder::GoneLongEnough(const EngineServices& services, const std::string& fileName,
                               JobState state) {
    // A scheduler that cannot be asked says nothing either way; any other
    // answer shows that it knows the job.
    if (state == JobState::Unknown) return false;
    if (state != JobState::Gone) {
        jobGoneSince_.erase(fileName);
        return false;
    }
    const std::uint32_t now = services.clock.Now();
    const auto [since, first] = jobGoneSince_.try_emplace(fileName, now);
    // Elapsed time, so that the tick's wrap changes nothing.
    return !first && now - since->second >= kJobGoneGraceMs;
}

bool HotFolder::SendAgain(const EngineServices& services, const JobRecord& record,
                          std::string why) {
    // Should the erase fail, sending fails too when it cannot record the
    // job, and says so; the file is not sent unrecorded.
    services.ledger.Erase(FolderPath, record.FileName);
    jobGoneSince_.erase(record.FileName);
    sendAgainWhy_[record.FileName] = std::move(why);
    return false;
}

void HotFolder::RemovePrinted(const EngineServices& services, const JobRecord& record,
                              bool quietly) {
    const std::string path = JoinPath(FolderPath, record.FileName);
    PrintLogEntry entry;
    entry.File = path;
    entry.Printer = record.PrinterName;
    entry.JobId = record.JobId;
    const Status removed = services.remover.RemoveIfSame(path, record.Identity);
    if (removed.Ok()) {
        services.ledger.Erase(FolderPath, record.FileName);
        if (GetError() == HF_ERR_NOT_DELETED) ClearFileError();
        entry.Result = Outcome::Printed;
        Log(services, std::move(entry));
        return;
    }
    if (quietly) return;
    JobRecord printed = record;
    printed.State = JobRecord::Stage::Printed;
    services.ledger.Put(printed);
    Error.store(HF_ERR_NOT_DELETED, std::memory_order_relaxed);
    NoteFailure(path, removed);
    entry.Result = Outcome::NotDeleted;
    entry.Code = removed.Code;
    entry.Reason = removed.Reason;
    Log(services, std::move(entry));
}

PrintOutcome HotFolder::PrintFile(const EngineServices& services, const std::string& path,
                                  const StopSignal& stop) {
    std::unique_ptr<Printer> printer;
    return PrintFile(services, path, stop, printer);
}

PrintOutcome HotFolder::PrintFile(const EngineServices& services, const std::string& path,
                                  const StopSignal& stop, std::unique_ptr<Printer>& printer) {
    // Each stage's resources live in this scope, so one bad file releases
    // everything it took and never stops the files after it.
    const auto interrupted = [&] {
        State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
        PrintLogEntry entry;
        entry.File = path;
        entry.Printer = PrinterName;
        entry.Result = Outcome::Interrupted;
        entry.Reason = "stopped before it was sent";
        Log(services, std::move(entry));
        return PrintOutcome::NotTried;
    };
    // The file changed under the decoder (still being written, or replaced):
    // nothing printed and nothing to blame; the table tries it again once two
    // scans see it alike.
    const auto changed = [&](const Status& why) {
        State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
        PrintLogEntry entry;
        entry.File = path;
        entry.Printer = PrinterName;
        entry.Result = Outcome::Interrupted;
        entry.Code = why.Code;
        entry.Reason = why.Reason.empty() ? "the file changed while it was read" : why.Reason;
        Log(services, std::move(entry));
        return PrintOutcome::NotTried;
    };
    // Kept for its own sake it waits for a change; kept for the printer's, it
    // is tried again later.
    const auto kept = [&](const Status& why) {
        State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
        Keep(services, path, why);
        return PrinterIsToBlame(why.Code) ? PrintOutcome::RetryLater : PrintOutcome::Handled;
    };
    if (firstScanAt_ == 0) firstScanAt_ = SecondsNow();
    // Said once, with the attempt that follows it.
    std::string again;
    if (const auto note = sendAgainWhy_.find(DocumentName(path)); note != sendAgainWhy_.end()) {
        again = std::move(note->second);
        sendAgainWhy_.erase(note);
    }
    if (stop.Requested()) return interrupted();

    Result<std::unique_ptr<Image>> loaded = services.images.Load(path);
    if (!loaded.Ok()) return kept(loaded.Error);
    const std::unique_ptr<Image> image = std::move(loaded.Value);

    if (!printer) {
        Result<std::unique_ptr<Printer>> opened = services.spooler.Open(PrinterName, stop);
        if (!opened.Ok()) {
            if (stop.Requested()) return interrupted();
            return kept(opened.Error);
        }
        printer = std::move(opened.Value);
    }
    const std::string docName = DocumentName(path);

    State.store(HF_STATE_RESIZING, std::memory_order_relaxed);
    const PageGeometry& page = printer->Geometry();
    const FitResult fit = FitToPage({image->Width(), image->Height(), image->XDpi(), image->YDpi(),
                                     page.Rx, page.Ry, page.Pw, page.Ph});
    if (fit.Tw <= 0 || fit.Th <= 0) {
        return kept(Status::Failure(HF_ERR_TOO_LARGE,
                                    "too long and thin: it would be less than a dot wide on "
                                    "the page"));
    }
    // Only the header is checked here; the pixels are decoded while the job
    // takes them, so a file damaged past its header fails inside Print.
    Result<std::unique_ptr<PageWriter>> writer = image->Page(fit.Tw, fit.Th);
    if (!writer.Ok() && writer.Error.Code == HF_ERR_CHANGED) return changed(writer.Error);
    if (!writer.Ok()) return kept(writer.Error);
    if (stop.Requested()) return interrupted();

    if (services.ledger.RecordsLost()) {
        // The records of earlier runs are lost: a job of this file may be
        // with the scheduler already, and is followed rather than doubled.
        if (const std::optional<PrintOutcome> adopted =
                AdoptEarlierJob(services, path, image->Identity(), stop)) {
            State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
            return *adopted;
        }
    }

    // Recorded before the job exists, and again with the job as soon as the
    // scheduler made it: should the program end before Print returns, a
    // later scan finds this record and asks the scheduler what became of it.
    JobRecord record = NewRecord(FolderPath, docName, image->Identity(), PrinterName);
    const Status noted = services.ledger.Put(record);
    if (!noted.Ok()) {
        // Unrecorded, a send could be repeated after a crash: not sent now,
        // tried again later like a printer that cannot be used.
        State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
        Keep(services, path, noted);
        return PrintOutcome::RetryLater;
    }
    const JobCreated created = [&](const JobTicket& job) {
        Adopt(record, job);
        // Should this fail, the record without its job is searched for by
        // the job's name.
        services.ledger.Put(record);
    };

    State.store(HF_STATE_PRINTING, std::memory_order_relaxed);
    const Result<int> job = printer->Print(docName, *writer.Value, stop, created);
    State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
    // Whatever failed (the connection, the destination, the file) the next
    // file starts from a fresh printer rather than one in an unknown state.
    if (!job.Ok()) printer.reset();
    if (!job.Ok() && job.Value > 0) {
        // The job exists and its cancel did not get through: it may still
        // print, so it is followed like any sent job and never sent again
        // blindly.
        record.JobId = job.Value;
        record.State = JobRecord::Stage::Sent;
        services.ledger.Put(record);
        Keep(services, path, job.Error, job.Value);
        return PrintOutcome::Handled;
    }
    if (!job.Ok()) {
        // The adapter cancelled whatever it had created: nothing prints. A
        // file found damaged as it streamed waits for a change like one
        // found damaged at its header; the printer's failures are retried.
        services.ledger.Erase(FolderPath, docName);
        if (stop.Requested()) return interrupted();
        if (job.Error.Code == HF_ERR_CHANGED) return changed(job.Error);
        State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
        Keep(services, path, job.Error);
        return FileIsToBlame(job.Error.Code) ? PrintOutcome::Handled : PrintOutcome::RetryLater;
    }
    record.JobId = job.Value;
    record.State = JobRecord::Stage::Sent;
    const Status stored = services.ledger.Put(record);

    PrintLogEntry entry;
    entry.File = path;
    entry.Printer = PrinterName;
    entry.JobId = job.Value;
    entry.Width = fit.Tw;
    entry.Height = fit.Th;
    entry.Result = Outcome::Sent;
    entry.Reason = again.empty() ? std::string() : "sent again: " + again;
    if (stored.Ok()) {
        ClearFileError();
    } else {
        // The job is sent all the same; the ledger still holds the record
        // of it being sent, and later scans ask the scheduler about it.
        Error.store(stored.Code, std::memory_order_relaxed);
        NoteFailure(path, stored);
        entry.Code = stored.Code;
        entry.Reason += (entry.Reason.empty() ? "" : "; ") + stored.Reason;
    }
    Log(services, std::move(entry));
    return PrintOutcome::Handled;
}

void HotFolder::FolderFault(const EngineServices& services, const Status& why) {
    const bool known = GetState() == HF_STATE_ERROR && GetError() == why.Code;
    Error.store(why.Code, std::memory_order_relaxed);
    State.store(HF_STATE_ERROR, std::memory_order_relaxed);
    // Checked at every interval while it lasts: one entry when it begins,
    // not one per scan.
    if (known) return;
    NoteFailure(FolderPath, why);
    PrintLogEntry entry;
    entry.File = FolderPath;
    entry.Printer = PrinterName;
    entry.Result = Outcome::Kept;
    entry.Code = why.Code;
    entry.Reason = why.Reason;
    Log(services, std::move(entry));
}

std::optional<PrintOutcome> HotFolder::AdoptEarlierJob(const EngineServices& services,
                                                       const std::string& path,
                                                       const FileIdentity& identity,
                                                       const StopSignal& stop) {
    const std::string docName = DocumentName(path);
    Result<std::vector<FoundJob>> found = services.spooler.FindJobs(
        PrinterName, docName, EarliestJobTime(identity.ModifiedNs, 0), stop);
    if (!found.Ok()) {
        Keep(services, path, found.Error);
        return PrintOutcome::RetryLater;
    }
    // This run's own jobs are in the ledger; only earlier runs' count.
    std::erase_if(found.Value,
                  [&](const FoundJob& job) { return job.Ticket.CreatedAt >= firstScanAt_; });
    const FoundJob* telling = MostTelling(found.Value);
    if (telling == nullptr) return std::nullopt;
    JobRecord record = NewRecord(FolderPath, docName, identity, PrinterName);
    Adopt(record, telling->Ticket);
    if (const Status noted = services.ledger.Put(record); !noted.Ok()) {
        Keep(services, path, noted);
        return PrintOutcome::RetryLater;
    }
    // The next scan follows the job as any other.
    return PrintOutcome::Handled;
}

void HotFolder::Keep(const EngineServices& services, const std::string& path, const Status& why,
                     int jobId) {
    Error.store(why.Code, std::memory_order_relaxed);
    NoteFailure(path, why);
    PrintLogEntry entry;
    entry.File = path;
    entry.Printer = PrinterName;
    entry.JobId = jobId;
    entry.Result = Outcome::Kept;
    entry.Code = why.Code;
    entry.Reason = why.Reason;
    Log(services, std::move(entry));
}

void HotFolder::NoteFailure(const std::string& path, const Status& why) {
    MutexLock guard(failureLock_);
    lastFailure_ = {path, std::chrono::system_clock::now(), why.Code, why.Reason};
}

void HotFolder::ClearFileError() {
    // The folder's own error has its own rule: it clears when the folder is back.
    if (GetError() != HF_ERR_PATH) Error.store(HF_ERR_NONE, std::memory_order_relaxed);
}

void HotFolder::Log(const EngineServices& services, PrintLogEntry entry) const {
    entry.Time = std::chrono::system_clock::now();
    entry.HotFolder = Name;
    services.log.Record(entry);
}

}  // namespace tallowin
