// The printing system: opening a printer, sending a job, following it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/ports/clock.h"
#include "engine/ports/page.h"
#include "engine/printer_condition.h"
#include "engine/status.h"
#include "util/option_text.h"

namespace tallowin {

// What names a job for good. The scheduler's ids start again at 1 once it
// loses its history (a crash, a reinstalled print server), so an id alone
// may come to name another job; its uuid never does, and the printer and
// the creation time confirm it.
struct JobTicket {
    int Id = 0;
    std::string Uuid;            // job-uuid ("urn:uuid:..."); empty when not known
    std::int64_t CreatedAt = 0;  // time-at-creation, seconds since 1970; 0 when not known
};

// Told the job the moment it exists, before the first byte of its document.
using JobCreated = std::function<void(const JobTicket& job)>;

// An open printer. Print is called at most once.
class Printer {
  public:
    virtual ~Printer() = default;
    virtual const PageGeometry& Geometry() const = 0;
    // Sends one job named docName holding the page that page writes for
    // this printer's geometry, its bytes streamed to the scheduler as they
    // are made, and returns the scheduler's job id (> 0). created (when set)
    // hears of the job as soon as the scheduler made it, before its document
    // goes, so that a caller can record it before the outcome is known. Every
    // request is bounded in time and gives up as soon as stop is requested.
    // On failure (the writer's own failure as it is, so a damaged file stays
    // HF_ERR_DAMAGED; else HF_ERR_UNREACHABLE or HF_ERR_JOB_FAILED with
    // cupsLastErrorString()) a job that was created is cancelled, so nothing
    // of it prints, and Value is 0. Should that cancel not get through (the
    // scheduler went silent), or the job have completed before it came (the
    // scheduler had the whole page although the send failed), Value is the
    // job's id despite the failure: the job may still print or has printed,
    // so the file must be followed with QueryJob, never sent again blindly.
    // May be called again for the next job, each its own job, on the
    // geometry read when the printer was opened; after a failure the printer
    // is best dropped and the destination opened again.
    virtual Result<int> Print(const std::string& docName, PageWriter& page, const StopSignal& stop,
                              const JobCreated& created) = 0;
    // The same, for a caller that needs not hear of the job before it is sent.
    Result<int> Print(const std::string& docName, PageWriter& page, const StopSignal& stop) {
        return Print(docName, page, stop, JobCreated{});
    }
};

// Where a job that was sent stands.
enum class JobState {
    Pending,    // pending, held or processing: the file waits
    Completed,  // the printer has it: the file may go
    Failed,     // aborted or cancelled: the file stays (Reason says why)
    Gone,       // the scheduler answered and knows no such job: its id is
                // unknown or now names another job (another uuid, printer
                // or creation time)
    Unknown,    // the scheduler cannot be asked now
};

struct JobStatus {
    JobState State = JobState::Unknown;
    std::string Reason;  // the scheduler's words, for Failed, Gone and Unknown
    // The job holds no whole document: it was created and its sender was
    // cut off (or never sent one). Such a job never prints what it was for.
    bool Documentless = false;
};

// A job the scheduler lists for a search, and where it stands.
struct FoundJob {
    JobTicket Ticket;
    JobStatus Status;
};

class Spooler {
  public:
    virtual ~Spooler() = default;
    // Opens a printer or a class of printers by name. Fails with
    // HF_ERR_PRINTER when no such destination exists, HF_ERR_UNREACHABLE
    // when the scheduler cannot be reached (or stop was requested), and
    // HF_ERR_NO_PAGE_SIZE when it says nothing usable of its page.
    virtual Result<std::unique_ptr<Printer>> Open(const std::string& printerName,
                                                  const StopSignal& stop) = 0;
    // The same, with options on top of the destination's own (a hot
    // folder's job options, JobOptions): they go with every job the printer
    // sends, and the media they name is the sheet its geometry is read
    // from. Fails as above, and with HF_ERR_SETTINGS when the destination
    // (for a class: any of its members) does not offer the media, the
    // media source, the sides or the colour mode they name. Without
    // options, exactly Open(printerName, stop); a spooler that takes no
    // options refuses any with HF_ERR_SETTINGS.
    virtual Result<std::unique_ptr<Printer>> OpenWith(const std::string& printerName,
                                                      const std::vector<NamedValue>& options,
                                                      const StopSignal& stop) {
        if (options.empty()) return Open(printerName, stop);
        return {nullptr,
                Status::Failure(HF_ERR_SETTINGS, "this printing system takes no job options")};
    }
    // The state of job that was sent to printerName: the job with its id,
    // checked against its uuid and creation time where they are known
    // (Gone when they differ). Bounded in time; Unknown when the scheduler
    // cannot be asked.
    virtual JobStatus QueryJob(const std::string& printerName, const JobTicket& job,
                               const StopSignal& stop) = 0;
    // This user's jobs on printerName that Print would have named for
    // docName and that were created at or after notBefore (seconds since
    // 1970), the scheduler's finished ones included, oldest first. Fails
    // with HF_ERR_UNREACHABLE when the scheduler cannot be asked.
    virtual Result<std::vector<FoundJob>> FindJobs(const std::string& printerName,
                                                   const std::string& docName,
                                                   std::int64_t notBefore,
                                                   const StopSignal& stop) = 0;
    // Cancels job jobId of printerName. Fails with HF_ERR_UNREACHABLE when
    // the scheduler cannot be asked, HF_ERR_JOB_FAILED when it refuses (a
    // job that has already ended cannot be cancelled).
    virtual Status CancelJob(const std::string& printerName, int jobId, const StopSignal& stop) = 0;
    // Where printerName stands now: its state, state reasons and message and
    // whether it accepts jobs, asked afresh (see NeedsAttention). Bounded in
    // time. Fails with HF_ERR_PRINTER when no such destination exists,
    // HF_ERR_UNREACHABLE when the scheduler cannot be asked.
    virtual Result<PrinterCondition> Condition(const std::string& printerName,
                                               const StopSignal& stop) = 0;
};

}  // namespace tallowin
