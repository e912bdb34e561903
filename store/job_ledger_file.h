// The record of jobs in flight, kept in a text file and its copy across
// restarts.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "engine/ports/services.h"
#include "store/mirrored_file.h"

namespace tallowin {

// The file ($XDG_STATE_HOME/tallowin/jobs.tsv as the application uses it)
// is read once, at construction, and rewritten whole by every change before
// it returns: by Put in two copies (jobs.tsv.copy first, then jobs.tsv),
// each flushed, by Update and Erase in jobs.tsv alone, unflushed, for the
// copy to keep the last Put's (MirroredFile says why no crash leaves both
// damaged). Each copy is closed by an end line with its line count and
// crc32. A change that fails leaves jobs.tsv, and the records in memory,
// as they were.
//
// Records, UTF-8 or any bytes: a first line "tallowin-jobs<TAB>2", then one
// line per record of twelve tab-separated fields:
//   folder path, file name, device, inode, size, modification time (ns),
//   printer, job id, stage (sending, sent, printed, failed), job uuid (may
//   be empty), job creation time (s, 0 when not known), record time (s)
// A file of version 1 ("tallowin-jobs<TAB>1", the first nine fields only)
// is read with the last three empty, and written back as version 2.
// In the text fields a backslash, tab, newline and carriage return are
// written as \\, \t, \n and \r, so any path fits on its line. Then the end
// line "tallowin-jobs-end<TAB>lines above<TAB>crc32 of them". A file of the
// version before, without end line, is read while no copy exists.
//
// A copy that cannot be read (empty, cut short, a checksum that does not
// match, a folder in its place, unreadable, another version) is never
// written over: it is renamed to <name>.bad for a person, and the other copy
// is read instead, both then written anew. LoadStatus() says what happened
// (HF_ERR_STATE) whenever something was damaged, for the application to
// report; RecordsLost() tells whether records may be gone: true only when
// no good copy remained. When a damaged copy cannot even be moved aside,
// every Put and Erase fails with HF_ERR_STATE and the files stay as they are.
//
// Thread-safe: one mutex guards the records and the files.
class FileJobLedger final : public JobLedger {
  public:
    explicit FileJobLedger(std::string path);

    const std::string& Path() const { return path_; }
    // How the files read at construction went: success when jobs.tsv was
    // read whole, or there was none; else HF_ERR_STATE and, for the user,
    // which copy was damaged and why, where it was kept, and what was
    // recovered or lost.
    const Status& LoadStatus() const { return loadStatus_; }
    // True when the files held records that none of the copies could give
    // back: a job that was sent may be unknown now. False when the last good
    // state was read, from jobs.tsv or from its copy. Fixed at construction:
    // the next start reads the ledger begun since, and says nothing.
    bool RecordsLost() const override { return recordsLost_; }

    std::optional<JobRecord> Find(const std::string& folderPath,
                                  const std::string& fileName) const override;
    std::vector<JobRecord> InFolder(const std::string& folderPath) const override;
    Status Put(const JobRecord& record) override;
    Status Update(const JobRecord& record) override;
    Status Erase(const std::string& folderPath, const std::string& fileName) override;

  private:
    using Key = std::pair<std::string, std::string>;  // folder path, file name
    Status Load();
    Status Replace(const JobRecord& record, bool flushed);
    Status Store(bool flushed) const;  // with mutex_ held

    const std::string path_;
    const MirroredFile file_;
    mutable std::mutex mutex_;
    std::map<Key, JobRecord> records_;
    Status loadStatus_;
    bool recordsLost_ = false;
    bool writable_ = true;  // false while a damaged copy could not be moved aside
};

// The file's text for records, and records from such a text (nullopt when
// it cannot be parsed). Exposed for the tests.
std::string FormatJobLedger(const std::vector<JobRecord>& records);
std::optional<std::vector<JobRecord>> ParseJobLedger(const std::string& text);

}  // namespace tallowin
