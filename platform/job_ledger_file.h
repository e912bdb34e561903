// The record of jobs in flight, kept in one text file across restarts.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "engine/platform_services.h"

namespace tallowin {

// The file ($XDG_STATE_HOME/tallowin/jobs.tsv as the application uses it)
// is read once, at construction, and rewritten whole and atomically
// (ReplaceFileAtomically) by every Put and Erase before it returns, so a
// crash at any moment leaves either the old records or the new ones.
//
// Format, UTF-8 or any bytes: a first line "tallowin-jobs<TAB>2", then one
// line per record of twelve tab-separated fields:
//   folder path, file name, device, inode, size, modification time (ns),
//   printer, job id, stage (sending, sent, printed, failed), job uuid (may
//   be empty), job creation time (s, 0 when not known), record time (s)
// A file of version 1 ("tallowin-jobs<TAB>1", the first nine fields only)
// is read with the last three empty, and written back as version 2.
// In the text fields a backslash, tab, newline and carriage return are
// written as \\, \t, \n and \r, so any path fits on its line.
//
// A file that cannot be read or parsed (another version, a damaged line) is
// never written over: it is renamed to <path>.bad, the ledger starts empty,
// and LoadStatus() says so (HF_ERR_STATE) for the application to show. When
// it cannot even be moved aside, every Put and Erase fails with
// HF_ERR_STATE and the file stays as it is.
//
// Thread-safe: one mutex guards the records and the file.
class FileJobLedger final : public JobLedger {
  public:
    explicit FileJobLedger(std::string path);

    const std::string& Path() const { return path_; }
    // How the file read at construction went: success for a file that was
    // read, or none at all.
    const Status& LoadStatus() const { return loadStatus_; }
    // True when the file could not be read at construction: the records of
    // earlier runs are lost.
    bool RecordsLost() const override { return !loadStatus_.Ok(); }

    std::optional<JobRecord> Find(const std::string& folderPath,
                                  const std::string& fileName) const override;
    std::vector<JobRecord> InFolder(const std::string& folderPath) const override;
    Status Put(const JobRecord& record) override;
    Status Erase(const std::string& folderPath, const std::string& fileName) override;

  private:
    using Key = std::pair<std::string, std::string>;  // folder path, file name
    Status Load();
    Status Store() const;  // with mutex_ held

    const std::string path_;
    mutable std::mutex mutex_;
    std::map<Key, JobRecord> records_;
    Status loadStatus_;
    bool writable_ = true;  // false while an unreadable file could not be moved aside
};

// The file's text for records, and records from such a text (nullopt when
// it cannot be parsed). Exposed for the tests.
std::string FormatJobLedger(const std::vector<JobRecord>& records);
std::optional<std::vector<JobRecord>> ParseJobLedger(const std::string& text);

}  // namespace tallowin
