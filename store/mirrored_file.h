// A small state file kept twice, each copy closed by a line that counts its
// lines and carries their checksum, so that a damaged write, a damaged disk
// block or a copy emptied by hand leaves the last good state readable.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "store/atomic_file.h"

namespace tallowin {

// The two copies are path itself and path + ".copy", each:
//
//   the body: lines, each ending in a newline
//   END-WORD <TAB> lines in the body <TAB> crc32 of the body <NEWLINE>
//
// with the crc32 (zlib's) as 8 lowercase hex digits.
//
// Store writes the copy first and path second, each replaced atomically
// (ReplaceFileAtomically: a new file flushed to the disk, then renamed over
// the old one), and the folder is flushed once, after both renames. Every
// new file is whole on the disk before its name moves to it, so whichever
// renames a crash keeps, each name holds a whole state: path the last
// stored one or the one being stored, the copy the one being stored or the
// last one (or, if path is a link to another folder, an older one), never
// both damaged. A Store that fails (a full disk) leaves path as it was; the
// copy may hold the new state or the old one. StoreUnflushed changes path
// alone: the copy, only ever written flushed, always holds a whole state.
//
// Load prefers path; the copy is read when path is missing or damaged, and
// always checked, so that a damaged copy is found and reported too. A copy
// that is damaged is never written over: it is renamed to <copy>.bad (or
// .bad.2, .bad.3 ... when that name is taken) for a person to look at.
//
// A file without the end line is read only when it begins with
// unframedStart and no copy exists at all: the file of a version that wrote
// one copy without end line. Once a copy exists, a file without its end
// line was cut short at a line break, however well its lines read.
//
// Not thread-safe: its owner serializes Load and Store.
class MirroredFile {
  public:
    // name: what the file is, for the user ("the job ledger").
    MirroredFile(std::string path, std::string name, std::string endWord,
                 std::string unframedStart);

    const std::string& Path() const { return path_; }
    std::string CopyPath() const { return path_ + ".copy"; }

    struct Loaded {
        enum class Source {
            Nothing,  // neither copy exists: a first start
            File,     // Body is path's
            Copy,     // path was missing or damaged; Body is the copy's
            Neither,  // there was something, and nothing of it could be read
        };
        Source From = Source::Nothing;
        std::string Body;  // without the end line
        // For the user, one sentence or more naming each damaged or missing
        // copy, why, and where it was kept; empty when all was well.
        std::string Damage;
        // A damaged copy could not be set aside: nothing may be stored
        // until a person moves it, or it would be written over.
        bool Blocked = false;
    };
    // readable(body): whether the caller can read a body (its lines parse).
    Loaded Load(const std::function<bool(const std::string& body)>& readable) const;

    // Writes body (lines ending in newlines) to both copies as described
    // above; on failure the result says why, for the user. ops: the system
    // calls, for tests that make one of them fail.
    ReplaceResult Store(const std::string& body) const;
    ReplaceResult Store(const std::string& body, FileOps& ops) const;
    // Writes body to path alone, flushing nothing: the copy keeps the last
    // stored state, which a power cut before the next Store may bring back
    // (path being then an older state, or damaged and set aside at Load).
    // For a change the owner can do without; the end of the program alone
    // loses nothing.
    ReplaceResult StoreUnflushed(const std::string& body) const;
    ReplaceResult StoreUnflushed(const std::string& body, FileOps& ops) const;

  private:
    const std::string path_;
    const std::string name_;
    const std::string endWord_;
    const std::string unframedStart_;
};

// body followed by its end line.
std::string FramedText(const std::string& body, std::string_view endWord);

}  // namespace tallowin
