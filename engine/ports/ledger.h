// The record of jobs in flight, kept across restarts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/hot_folder_types.h"
#include "engine/ports/spooler.h"
#include "engine/status.h"

namespace tallowin {

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
// change is stored before the call returns, so that the end of the program
// loses none; only Put's are flushed to the disk at once. Thread-safe.
class JobLedger {
  public:
    virtual ~JobLedger() = default;
    virtual std::optional<JobRecord> Find(const std::string& folderPath,
                                          const std::string& fileName) const = 0;
    virtual std::vector<JobRecord> InFolder(const std::string& folderPath) const = 0;
    // Adds or replaces the record for its folder path and file name, on the
    // disk before it returns: for what must outlive a power cut, that a job
    // is about to be made and which job it is.
    virtual Status Put(const JobRecord& record) = 0;
    // Adds or replaces a record as Put does, and Erase removes one, but
    // flushed to the disk only with the next Put (or by the system, within
    // seconds): a power cut before then brings back the records of the last
    // Put. For what the job can tell again (that it was sent, how it ended)
    // or a record whose file is gone: a record brought back is followed by
    // asking the scheduler about its job, as after any crash.
    virtual Status Update(const JobRecord& record) = 0;
    virtual Status Erase(const std::string& folderPath, const std::string& fileName) = 0;
    // True when the records of earlier runs could not be recovered at
    // start: a file without a record may then have been sent already, and
    // the scheduler is asked before it is sent again.
    virtual bool RecordsLost() const = 0;
};

}  // namespace tallowin
