// The files that `tallowin print` has already sent, so that running the same
// command again (after a failure of some of its files, say) never prints a
// file twice.
#pragma once

#include <deque>
#include <string>

#include "engine/platform_services.h"

namespace tallowin {

// $XDG_STATE_HOME/tallowin/printed when that variable holds an absolute
// path, else $HOME/.local/state/tallowin/printed.
std::string PrintRecordPath();

// A file is known by its printer and its identity (device, inode, size,
// modification time): a file changed or replaced since it was sent is a
// new file and prints again. The record keeps the newest maxEntries
// entries, so it stays small however long it is used. One line per entry;
// a line that cannot be read is dropped. Not for two threads at once; two
// processes at once may lose one another's newest entries, never the file.
class PrintRecord {
  public:
    static constexpr std::size_t kMaxEntries = 4096;

    // Reads path; a missing or unreadable record is an empty one.
    // maxEntries: how many entries to keep, the newest.
    explicit PrintRecord(std::string path, std::size_t maxEntries = kMaxEntries);

    const std::string& Path() const { return path_; }
    bool Contains(const std::string& printer, const FileIdentity& file) const;
    // Adds the entry and replaces the stored record atomically. False when
    // it could not be stored (the entry is still known to this object).
    bool Add(const std::string& printer, const FileIdentity& file);

  private:
    struct Entry {
        std::string Printer;
        FileIdentity File;
    };
    std::string path_;
    std::size_t maxEntries_;
    std::deque<Entry> entries_;
};

}  // namespace tallowin
