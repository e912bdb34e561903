// Replacing a file so that a crash, a full disk or a failing write at any
// moment leaves either the old file or the new one, never a mix.
#pragma once

#include <sys/types.h>
#include <string>

namespace tallowin {

// The system calls the replacement makes, behind an interface so that tests
// can make any one of them fail. Each returns what the system call returns.
class FileOps {
  public:
    virtual ~FileOps() = default;
    virtual int MakeTemp(std::string& pathTemplate);  // mkstemp
    virtual ssize_t Write(int fd, const char* data, size_t size);
    virtual int Sync(int fd);  // fsync
    virtual int Close(int fd);
    virtual int Rename(const std::string& from, const std::string& to);
};

struct ReplaceResult {
    bool Ok = false;
    std::string Error;  // what went wrong, for the user, when !Ok
};

// Writes bytes to a new file beside path and renames it over path, flushed
// as flush says below; the folder is created when missing. On failure the
// temporary file is removed, path is as it was, and the result says why.
// The new file keeps the permissions and owner of the one it replaces (0600
// for a new one).
//
// A symbolic link (a dotfile manager's, say) is followed to its target,
// which is the file replaced, with the temporary file in the target's
// folder; the link stays. A file that is read-only is not replaced: the
// rename would succeed, since it needs only the folder to be writable, but
// the user made the file read-only to keep it as it is. Read-only means no
// write bit at all in its mode, or no write access for this user; the mode
// bits are checked as well because root passes every access() check.
//
// How much of the replacement is on the disk when the call returns:
//   Now: the new file and its rename (the folder fsynced);
//   FolderLater: the new file, its rename left for a later replacement in
//     the same folder to flush, both renames at once;
//   None: nothing: the old file or the new one after a power cut (or, on a
//     file system that does not flush a file renamed over another, a
//     damaged one), for a change the caller can do without. The end of the
//     program alone loses nothing: the system writes it all the same.
enum class Flush { Now, FolderLater, None };
ReplaceResult ReplaceFileAtomically(const std::string& path, const std::string& bytes, FileOps& ops,
                                    Flush flush = Flush::Now);
ReplaceResult ReplaceFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace tallowin
