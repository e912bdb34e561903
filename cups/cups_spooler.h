// Printers through the CUPS scheduler (libcups 2.4).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/ports/services.h"

namespace tallowin {

// Opens CUPS destinations with their default options, the user's lpoptions
// included, and reads from them the page a print job sees.
//
// Open(name): name is a queue, or "queue/instance" for an lpoptions
// instance (one that lpoptions does not define is the plain queue, as for
// lp). Each Open makes its own connection to the scheduler that
// cupsServer() names ($CUPS_SERVER, client.conf, or the local socket). The
// geometry comes from:
//   - the sheet and its margins: the user's "media" option (a PWG name such as
//     "na_letter_8.5x11in", a PPD name such as "Letter" or one of the queue's
//     own PPD sizes, a legacy name, or a comma-separated list of which the
//     first size counts), else the user's "PageSize" option, else the queue's
//     media-col-default. A chosen size is looked up among the printer's media
//     (its media-col-database) and the entry with margins is preferred over a
//     borderless one of the same size; a chosen size the printer does not
//     offer makes Open fail. Tokens that name no size (a media type or
//     source) are ignored.
//   - Rx, Ry: the user's "printer-resolution" (for example "600dpi",
//     "600x300dpi", "118dpcm") or PPD-style "Resolution" option, else the
//     printer's printer-resolution-default, else the first of
//     printer-resolution-supported. A value that cannot be read is ignored.
//   - landscape: orientation-requested 4 or 5 (the user's option, else the
//     printer's default) or the "landscape" option swap the sheet's width
//     and height, Rx and Ry, and rotate the margins as the page is turned.
//   - Pw = floor(printable width in 1/100 mm * Rx / 2540), Ph likewise.
// A class (a pool of queues, `lpadmin -p QUEUE -c CLASS`) has no page of its
// own: its page is PoolPage of its members' sheets (member-names), each read
// as above for that queue, and its jobs go to the class, where the scheduler
// picks a member. A class whose members cannot all be read has no page.
// Open fails, holding nothing, with HF_ERR_PRINTER when the name is empty
// or the scheduler knows no such destination, HF_ERR_UNREACHABLE when the
// scheduler cannot be reached or heard (or stop was requested meanwhile),
// and HF_ERR_NO_PAGE_SIZE when the destination says nothing of its media or
// its resolution. A raw queue (no driver) is such a destination: it reports
// neither, and guessing a sheet and a resolution would print at the wrong
// size or into the sheet's unprintable edges, so it is refused; a queue set
// up with its printer's driver or as an IPP Everywhere queue reports both.
//
// No call waits unbounded. The connect gives up after 30 s or as soon as
// stop is requested; every request over it gives up once its stop is
// requested (noticed within a tenth of a second per attempt) or once the scheduler
// has stayed silent for 30 s (cupsutil::kSilenceLimit).
//
// The Printer that Open returns keeps the destination and its connection;
// its Print sends one streamed job named ToJobName(docName) holding the page
// that the PageWriter writes for the printer's geometry, its bytes going into
// the request as they are made, with the destination's default options (as
// `lp` passes them) plus print-scaling=none, so nothing scales the page
// again, and returns the scheduler's job id. Print fails with the writer's
// own failure as it is (HF_ERR_DAMAGED for a file found damaged part way),
// HF_ERR_UNREACHABLE (scheduler gone, silent, or stop requested) or
// HF_ERR_JOB_FAILED (the scheduler refused the job or the document) and
// cupsLastErrorString(); a
// job that was created is then cancelled over a fresh connection (bounded
// to 3 s of silence, whatever the stop), and its connection is dropped first
// so that a document cut off is discarded even if the cancel cannot get
// through. When the cancel does not get through the failure carries the
// job's id in Value (else 0): sent whole, that job may still print. So it
// does when the scheduler answers that the job has already ended and then
// says it completed (it printed) or cannot say how it ended; a job that
// ended cancelled or aborted counts as cancelled. A
// request given up while the scheduler was creating the job leaves a job
// without a document, which never prints. A second Print fails without
// doing anything.
//
// Print reads the job's uuid and creation time (Get-Job-Attributes) right
// after it created the job and tells them to its JobCreated before the
// document goes.
//
// QueryJob asks the scheduler (Get-Job-Attributes, over a connection of its
// own, bounded as above) where a job stands: pending, held, processing or
// stopped is Pending; completed is Completed; cancelled or aborted is Failed
// with the scheduler's words ("aborted-by-system: Job aborted due to backend
// errors; ..."); a job that holds no document (job-k-octets 0: its sender
// was cut off) is Documentless. A job the scheduler does not know, or an id
// that now names a job of another destination, another uuid or another
// creation time, is Gone; a scheduler that cannot be asked gives Unknown
// with the reason.
//
// FindJobs asks for all of this user's jobs (Get-Jobs, which-jobs=all,
// my-jobs) and keeps those of the destination's queue named
// ToJobName(docName) made at or after notBefore (time-at-creation); the
// scheduler lists at most as many as its own limit (CUPS: 500). CancelJob
// cancels a job by its id (Cancel-Job); a job that has already ended cannot
// be cancelled (HF_ERR_JOB_FAILED).
//
// Neither class throws. Each object may be used from one thread at a time;
// different objects may be used from different threads.
class CupsSpooler final : public Spooler {
  public:
    Result<std::unique_ptr<Printer>> Open(const std::string& printerName,
                                          const StopSignal& stop) override;
    // Open with the job's options layered on the destination's (see
    // Spooler::OpenWith): the media they name is the sheet read above (for a
    // class, on each member), and each job sends them before
    // print-scaling=none.
    Result<std::unique_ptr<Printer>> OpenWith(const std::string& printerName,
                                              const std::vector<NamedValue>& options,
                                              const StopSignal& stop) override;
    JobStatus QueryJob(const std::string& printerName, const JobTicket& job,
                       const StopSignal& stop) override;
    Result<std::vector<FoundJob>> FindJobs(const std::string& printerName,
                                           const std::string& docName, std::int64_t notBefore,
                                           const StopSignal& stop) override;
    Status CancelJob(const std::string& printerName, int jobId, const StopSignal& stop) override;
    // Gives up after 5 s of silence (HF_ERR_UNREACHABLE), not the usual 30.
    Result<PrinterCondition> Condition(const std::string& printerName,
                                       const StopSignal& stop) override;
};

// The job name for a file name: valid UTF-8 is kept as it is, except that
// control characters (which CUPS refuses in a name) become U+FFFD; each byte
// that is not part of a valid UTF-8 sequence (stray continuation bytes,
// overlong forms, surrogates, code points past U+10FFFF, truncated
// sequences) becomes U+FFFD too. The result is cut, at a character boundary,
// to the 255 bytes IPP allows in a name. Thread-safe.
std::string ToJobName(const std::string& fileName);

}  // namespace tallowin
