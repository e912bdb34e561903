// The platform services the engine needs, each behind a small interface so
// that the scan and the print job run in tests with a fake clock, a fake
// listing or a printer that records calls. The real adapters live in
// platform/; nothing here includes a system header.
//
// None of these interfaces is required to be thread-safe: the engine uses
// them from the worker thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <chrono>
#include <compare>
#include <vector>

#include "engine/hot_folder_types.h"
#include "engine/status.h"

namespace tallowin {

// The 32-bit millisecond tick: wraps to 0 after 2^32 - 1.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::uint32_t Now() = 0;
};

// Asked between files and inside every call that may block (the scheduler's
// requests): true once the run should end. The worker answers it from its
// stop and quit events; thread-safe.
class StopSignal {
  public:
    virtual ~StopSignal() = default;
    virtual bool Requested() const = 0;
};

// Never requested: for a call that runs to its end (a one-shot command, a
// request made between the calls that bring their own stop signal).
class NeverStop final : public StopSignal {
  public:
    bool Requested() const override { return false; }
};

// FileIdentity is declared with the file table (engine/hot_folder_types.h).

// One plain file of a folder listing.
struct ListedFile {
    std::string Name;        // within the folder, raw bytes
    std::uint32_t Size = 0;  // the low 32 bits of the size
    FileIdentity Identity;   // device, inode, whole size, modification time
    // Whether this process may read it, as its owner, group and mode bits
    // tell: a chmod changes neither size nor modification time, so this is
    // how the table learns that a file kept as unreadable can be read now.
    bool Readable = true;
};
// Sorted by name in ascending order of unsigned bytes; names are unique.
using Listing = std::vector<ListedFile>;

// Whether a file is still open for writing by some process.
enum class WriterProbe {
    NotOpen,         // no process holds it open for writing
    OpenForWriting,  // a writer holds it: it has not settled
    Unknown,         // cannot be told here (network share, no permission)
};

// A folder on disk, whatever path leads to it: two paths name the same
// folder when their keys are equal.
struct FolderKey {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;

    auto operator<=>(const FolderKey&) const = default;
};

class FolderLister {
  public:
    virtual ~FolderLister() = default;
    // The folder path names (links followed, a trailing slash allowed);
    // nothing when it names no existing folder.
    virtual std::optional<FolderKey> FindFolder(const std::string& path) = 0;
    // True when path names an existing folder (a link to one counts).
    bool IsFolder(const std::string& path) { return FindFolder(path).has_value(); }
    // The regular files directly inside path, sorted by name. Links, fifos,
    // sockets, devices and sub-folders are left out. A folder that cannot be
    // opened gives an empty listing; a read error ends the listing with what
    // was read so far.
    virtual Listing List(const std::string& path) = 0;
    // Asks whether the file at path (a full path) is open for writing.
    virtual WriterProbe ProbeWriter(const std::string& path) = 0;
};

class PageWriter;  // below, with the printer it writes for

// One decoded (or, at least, opened and checked) image file.
class Image {
  public:
    virtual ~Image() = default;
    virtual int Width() const = 0;  // upright, after the EXIF orientation
    virtual int Height() const = 0;
    virtual int XDpi() const = 0;  // whole dots per inch; 0 when the file gives none
    virtual int YDpi() const = 0;
    virtual const FileIdentity& Identity() const = 0;
    // A writer of the page that holds this image resampled to exactly
    // width x height printer pixels (linear kernel, averaging when it
    // shrinks), alpha flattened on white, 8-bit sRGB. Only the file's header
    // is checked here: fails with HF_ERR_DAMAGED when the file no longer is
    // the one that was loaded, HF_ERR_TOO_LARGE for a size it cannot make.
    // The pixels are decoded while the writer writes. Never null on success.
    virtual Result<std::unique_ptr<PageWriter>> Page(int width, int height) = 0;
};

class ImageLoader {
  public:
    virtual ~ImageLoader() = default;
    // Never null on success. Fails with HF_ERR_NOT_IMAGE when the file is
    // gone, unreadable (strerror), not a regular file or in no format a
    // trusted loader reads; HF_ERR_DAMAGED when its header is damaged;
    // HF_ERR_TOO_LARGE beyond the loader's limit. Never throws.
    virtual Result<std::unique_ptr<Image>> Load(const std::string& path) = 0;
};

// A printer's page as the print job sees it, all in printer pixels except
// where a unit says otherwise.
struct PageGeometry {
    int Rx = 0, Ry = 0;       // dots per inch across and down
    int Pw = 0, Ph = 0;       // printable area in printer pixels
    double MediaWidthPt = 0;  // the whole sheet, in points (1/72 inch)
    double MediaHeightPt = 0;
    double LeftPt = 0, TopPt = 0;  // the printable area's top-left corner, in points
};

// Takes a document's bytes in order, in pieces of any size; false refuses
// them, which ends the document.
using PageSink = std::function<bool(const unsigned char* data, std::size_t size)>;

// Writes one page document (PDF) as its image is decoded, straight to a
// sink, so that no whole page is ever held in memory.
class PageWriter {
  public:
    virtual ~PageWriter() = default;
    // Writes the whole document for a page of g's media with the image at
    // the printable area's top-left corner, unscaled. Fails with
    // HF_ERR_DAMAGED (the library's words) when the file turns out damaged
    // or truncated while its pixels are read, HF_ERR_JOB_FAILED when sink
    // refuses or encoding fails, HF_ERR_UNREACHABLE once stop is requested;
    // on failure the sink has had a truncated document that no reader
    // accepts. Call once.
    virtual Status Write(const PageGeometry& g, const PageSink& sink, const StopSignal& stop) = 0;
};

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
    // scheduler went silent), Value is the job's id despite the failure: the
    // job may still print, so the file must be followed with QueryJob, never
    // sent again blindly. May be called again for the next job, each its own
    // job, on the geometry read when the printer was opened; after a failure
    // the printer is best dropped and the destination opened again.
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
};

class FileRemover {
  public:
    virtual ~FileRemover() = default;
    // Deletes path only when it still names the file described by identity.
    // Fails with HF_ERR_NOT_DELETED (strerror, or a note that the file was
    // replaced) when it did not delete it.
    virtual Status RemoveIfSame(const std::string& path, const FileIdentity& identity) = 0;
};

// A job that was sent and whose file has not been deleted yet, kept across
// Stop/Start and restarts so that no file is sent twice and none is deleted
// before its job completed.
struct JobRecord {
    enum class Stage {
        Sending,  // being sent; a crash here leaves the outcome to be asked
        Sent,     // the scheduler has the job; the file waits for it to complete
        Printed,  // the job completed, but the file could not be deleted
        Failed,   // the job was aborted or cancelled; the file stays unchanged
    };
    std::string FolderPath;  // as the hot folder stores it
    std::string FileName;
    FileIdentity Identity;  // the file that was sent
    std::string PrinterName;
    int JobId = 0;
    Stage State = Stage::Sending;
    std::string JobUuid;         // the job's uuid; empty while not known
    std::int64_t CreatedAt = 0;  // the job's time-at-creation (s); 0 while not known
    // When the record was first written, in seconds since 1970: no job of
    // it can be older. 0 in records of older versions.
    std::int64_t RecordedAt = 0;

    JobTicket Ticket() const { return {JobId, JobUuid, CreatedAt}; }
};

// The records of jobs in flight, one per folder path and file name. Each
// change is stored before the call returns. Thread-safe.
class JobLedger {
  public:
    virtual ~JobLedger() = default;
    virtual std::optional<JobRecord> Find(const std::string& folderPath,
                                          const std::string& fileName) const = 0;
    virtual std::vector<JobRecord> InFolder(const std::string& folderPath) const = 0;
    // Adds or replaces the record for its folder path and file name.
    virtual Status Put(const JobRecord& record) = 0;
    virtual Status Erase(const std::string& folderPath, const std::string& fileName) = 0;
    // True when the records of earlier runs could not be recovered at
    // start: a file without a record may then have been sent already, and
    // the scheduler is asked before it is sent again.
    virtual bool RecordsLost() const = 0;
};

// One line of the print log: every attempt, its outcome and its reason;
// and, at start, what a damaged job ledger gave back (File is the ledger).
struct PrintLogEntry {
    enum class Outcome {
        Sent,             // the job is with the scheduler; the file waits for it
        Printed,          // the job completed and the file was deleted
        Kept,             // not printed: the file stays (Code and Reason say why)
        NotDeleted,       // printed, but the file stays
        Interrupted,      // a stop ended the attempt; the file stays, nothing printed
        LedgerRecovered,  // the job ledger was damaged; its last good state was read
        LedgerLost,       // the job ledger was damaged; jobs in flight may be unknown
        FolderBack,       // the hot folder's folder, missing or another's, is watched again
                          // (File is the folder); its going is a Kept entry with the folder's code
    };
    std::chrono::system_clock::time_point Time;
    std::string HotFolder;  // the hot folder's name
    std::string File;       // the full path
    std::string Printer;
    int JobId = 0;              // 0 when no job was created
    int Width = 0, Height = 0;  // size on paper in printer pixels; 0 when not fitted
    Outcome Result = Outcome::Kept;
    HotFolderError Code = HF_ERR_NONE;
    std::string Reason;
};

// Takes every entry; thread-safe, never throws, never blocks for long.
class PrintLog {
  public:
    virtual ~PrintLog() = default;
    virtual void Record(const PrintLogEntry& entry) = 0;
};

// The services one hot folder's scan and print jobs use; they outlive it.
struct EngineServices {
    Clock& clock;
    FolderLister& lister;
    ImageLoader& images;
    Spooler& spooler;
    FileRemover& remover;
    JobLedger& ledger;
    PrintLog& log;
};

}  // namespace tallowin
