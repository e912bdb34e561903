// The files that `tallowin print` has sent, so that running the same command
// again (after a failure of some of its files, say) never prints a file
// twice, and sends again a file whose job failed.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "engine/ports/services.h"

namespace tallowin {

// "printed" in the state folder (StateDirectory(): $XDG_STATE_HOME/tallowin
// when that variable holds an absolute path, else
// $HOME/.local/state/tallowin). A store makes the folder, private to the
// user, when it is missing.
std::string PrintRecordPath();

// A file is known by its printer and its identity (device, inode, size,
// modification time): a file changed or replaced since it was sent is a
// new file and prints again. Each file is either printed (its job
// completed) or sent (the scheduler took job JobId, whose outcome was not
// seen yet); a file whose job failed is forgotten, so it is sent again.
// The record keeps the newest maxEntries entries, so it stays small
// however long it is used. One line per entry; a line that cannot be read
// is dropped. Not for two threads at once; two processes at once may lose
// one another's newest entries, never the file.
class PrintRecord {
  public:
    static constexpr std::size_t kMaxEntries = 4096;

    struct Mark {
        enum class Stage { Printed, Sent };
        Stage State = Stage::Printed;
        int JobId = 0;  // for Sent; 0 for Printed
        // For Sent, when known: what names the job for good, since a
        // scheduler that lost its history hands the same ids out again.
        std::string JobUuid;
        std::int64_t CreatedAt = 0;
        JobTicket Job() const { return {JobId, JobUuid, CreatedAt}; }
    };

    // Reads path; a missing record is an empty one. A record that exists but
    // cannot be read is empty too, and is never written over (ReadError says
    // why): every change is then refused.
    // maxEntries: how many entries to keep, the newest.
    explicit PrintRecord(std::string path, std::size_t maxEntries = kMaxEntries);

    const std::string& Path() const { return path_; }
    // Empty when the record was read (or did not exist yet).
    const std::string& ReadError() const { return readError_; }

    std::optional<Mark> Find(const std::string& printer, const FileIdentity& file) const;
    // Each replaces the file's entry, as the newest, and replaces the stored
    // record atomically. False when it could not be stored (the change is
    // still known to this object).
    bool MarkSent(const std::string& printer, const FileIdentity& file, const JobTicket& job);
    bool MarkSent(const std::string& printer, const FileIdentity& file, int jobId) {
        return MarkSent(printer, file, JobTicket{jobId, {}, 0});
    }
    bool MarkPrinted(const std::string& printer, const FileIdentity& file);
    bool Forget(const std::string& printer, const FileIdentity& file);

  private:
    struct Entry {
        std::string Printer;
        FileIdentity File;
        Mark State;
    };
    bool Put(std::optional<Entry> entry, const std::string& printer, const FileIdentity& file);
    bool Store() const;

    std::string path_;
    std::size_t maxEntries_;
    std::string readError_;
    std::deque<Entry> entries_;
};

}  // namespace tallowin
