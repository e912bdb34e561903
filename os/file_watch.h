// Notices that a file was changed on disk, cheaply enough for a timer: one
// stat() per Poll, and nothing read. An editor that saves by writing a new
// file and renaming it over the old one changes the inode; one that writes
// in place changes the size or the modification time.
#pragma once

#include <optional>
#include <string>

#include "engine/hot_folder_types.h"

namespace tallowin {

class FileWatch {
  public:
    // seen: the identity of the file as its reader last read it; nullopt
    // when there was no file.
    FileWatch(std::string path, std::optional<FileIdentity> seen);

    // True once the file's identity differs from the one seen and is the
    // same as at the previous Poll, so that a file still being written is
    // not reported half-way; it becomes the one seen. A file that cannot be
    // found is no change (an editor may remove the old file before it
    // writes the new one): the file that appears next is. Not thread-safe.
    bool Poll();
    // What the reader read now; the watch goes on from there.
    void Seen(std::optional<FileIdentity> identity);

  private:
    std::string path_;
    std::optional<FileIdentity> seen_;
    std::optional<FileIdentity> pending_;  // a change seen once, not yet still
};

}  // namespace tallowin
