#include "engine/hot_folder.h"

#include <algorithm>
#include <utility>

#include "engine/page_fit.h"
#include "engine/paths.h"

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
      lastFailure_(other.GetLastFailure()) {}

HotFolder& HotFolder::AssignWithoutFiles(const HotFolder& other) {
    if (this != &other) {
        FolderPath = other.FolderPath;
        ScanTime = other.ScanTime;
        Name = other.Name;
        PrinterName = other.PrinterName;
        Files.clear();
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
}

void HotFolder::SetRunning() {
    Error.store(HF_ERR_NONE, std::memory_order_relaxed);
    State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
}

void HotFolder::SetWaiting() {
    State.store(HF_STATE_WAITING, std::memory_order_relaxed);
}

void HotFolder::Scan(const EngineServices& services, const StopSignal& stop) {
    const std::int32_t state = GetState();
    if (state != HF_STATE_RUNNING && state != HF_STATE_ERROR) return;
    // The interval to the next scan counts from the start of this one, so
    // the time spent printing belongs to it.
    const std::uint32_t now = services.clock.Now();
    LastScanTick.store(now, std::memory_order_relaxed);

    if (!services.lister.IsFolder(FolderPath)) {
        if (state == HF_STATE_RUNNING) {
            NoteFailure(FolderPath, Status::Failure(HF_ERR_PATH, "the folder is missing"));
        }
        Error.store(HF_ERR_PATH, std::memory_order_relaxed);
        State.store(HF_STATE_ERROR, std::memory_order_relaxed);
        return;
    }
    if (state == HF_STATE_ERROR) {
        // Back (a share mounted again, a folder restored): whatever it holds
        // now settles afresh; the ledger still knows what was sent.
        Files.clear();
        SetRunning();
    }

    const Listing listing = services.lister.List(FolderPath);
    const std::vector<JobRecord> standing = PollJobs(services, listing, stop);

    TableScan scan;
    scan.Now = now;
    scan.FirstRetryMs = static_cast<std::uint32_t>(std::max(ScanTime, 0)) * 1000u;
    std::unique_ptr<Printer> printer;  // opened by the first file printed
    scan.Print = [&](const ListedFile& file) {
        return PrintFile(services, JoinPath(FolderPath, file.Name), stop, printer);
    };
    scan.HandledBefore = [&](const ListedFile& file) {
        const JobRecord* record = FindRecord(standing, file.Name);
        return record != nullptr && record->Identity == file.Identity;
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
        if (file == nullptr || !(file->Identity == record.Identity)) {
            // Gone, or replaced by another file: nothing left to wait for or
            // to delete, and the new file is a new file.
            services.ledger.Erase(FolderPath, record.FileName);
            continue;
        }
        switch (record.State) {
            case JobRecord::Stage::Sending: {
                // A run ended between writing the record and hearing back:
                // the job may exist, so the file is neither sent again nor
                // deleted.
                record.State = JobRecord::Stage::Failed;
                services.ledger.Put(record);
                Keep(services, JoinPath(FolderPath, record.FileName),
                     Status::Failure(HF_ERR_JOB_FAILED,
                                     "Tallowin ended while sending it; it may have printed, so "
                                     "it is kept and not sent again until it changes"));
                standing.push_back(record);
                break;
            }
            case JobRecord::Stage::Sent:
                PollSentJob(services, record, standing, stop);
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

void HotFolder::PollSentJob(const EngineServices& services, JobRecord& record,
                            std::vector<JobRecord>& standing, const StopSignal& stop) {
    // Once stop is asked the scheduler is not asked again; the record waits
    // for the next run.
    const JobStatus job = stop.Requested()
                              ? JobStatus{}
                              : services.spooler.QueryJob(record.PrinterName, record.JobId, stop);
    switch (job.State) {
        case JobState::Completed:
            RemovePrinted(services, record, false);
            if (services.ledger.Find(FolderPath, record.FileName)) standing.push_back(record);
            return;
        case JobState::Failed: {
            record.State = JobRecord::Stage::Failed;
            services.ledger.Put(record);
            const std::string reason =
                job.Reason.empty() ? "the job was aborted or cancelled" : job.Reason;
            Keep(services, JoinPath(FolderPath, record.FileName),
                 Status::Failure(HF_ERR_JOB_FAILED, reason), record.JobId);
            standing.push_back(record);
            return;
        }
        case JobState::Pending:
        case JobState::Unknown:
            standing.push_back(record);
            return;
    }
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

    // Recorded before the job exists: should the program end before Print
    // returns, a later scan finds this record and never sends the file again
    // blindly.
    JobRecord record{FolderPath,  docName, image->Identity(),
                     PrinterName, 0,       JobRecord::Stage::Sending};
    const Status noted = services.ledger.Put(record);
    if (!noted.Ok()) {
        // Unrecorded, a send could be repeated after a crash: not sent now,
        // tried again later like a printer that cannot be used.
        State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
        Keep(services, path, noted);
        return PrintOutcome::RetryLater;
    }

    State.store(HF_STATE_PRINTING, std::memory_order_relaxed);
    const Result<int> job = printer->Print(docName, *writer.Value, stop);
    State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
    // Whatever failed (the connection, the destination, the file) the next
    // file starts from a fresh printer rather than one in an unknown state.
    if (!job.Ok()) printer.reset();
    if (!job.Ok() && job.Value > 0) {
        // The job exists and its cancel did not get through: it may still
        // print, so it is followed like any sent job and never sent again.
        record.JobId = job.Value;
        record.State = JobRecord::Stage::Sent;
        services.ledger.Put(record);
        Keep(services, path, job.Error);
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
    // Should this fail, the Sending record stays: the file is kept unsent.
    services.ledger.Put(record);
    ClearFileError();

    PrintLogEntry entry;
    entry.File = path;
    entry.Printer = PrinterName;
    entry.JobId = job.Value;
    entry.Width = fit.Tw;
    entry.Height = fit.Th;
    entry.Result = Outcome::Sent;
    Log(services, std::move(entry));
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
