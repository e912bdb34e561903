// Folders and files on the local file system.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <vector>

#include "engine/ports/services.h"

namespace tallowin {

// Who this process is to the kernel's permission check on files.
struct Credentials {
    uid_t User = 0;            // effective
    gid_t Group = 0;           // effective
    std::vector<gid_t> Extra;  // supplementary groups, sorted

    // This process's, read with three calls (never per file).
    static Credentials OfProcess();
};

// Whether who may open the file st describes for reading, by its owner,
// group and mode bits as the kernel weighs them: the owner's bits for its
// owner, the group's for a member, the others' for the rest; the super-user
// reads anything. Access control lists and other capabilities are not
// weighed: a file that only they let this process read counts as unreadable,
// which costs at most one more try when its bits change. Pure.
bool MayRead(const struct stat& st, const Credentials& who);

// Lists a folder with opendir/readdir and fstatat without following links.
// Only regular files count: links, fifos, sockets, devices and sub-folders
// are skipped, so nothing listed can hang the worker or print a file through
// a link. A listing is one vector, sorted once by name in unsigned byte
// order, each file with its size's low 32 bits, its identity (device,
// inode, whole size, modification time in nanoseconds) and MayRead for this
// process, from the same fstatat.
//
// ProbeWriter asks the kernel for a read lease on the file: Linux grants one
// only while no process has the file open for writing. It opens the file
// O_RDONLY | O_NOFOLLOW | O_NONBLOCK, so neither a link nor a fifo nor a
// conflicting lease can make it wait, and gives the lease back at once.
// Leases need the file's owner (or CAP_LEASE) and a local file system; where
// the kernel refuses one (EACCES, EINVAL on network file systems, ENOLCK)
// the answer is Unknown and the caller relies on the size alone.
//
// Thread-safe (no state).
class PosixFolderLister final : public FolderLister {
  public:
    std::optional<FolderKey> FindFolder(const std::string& path) override;
    Listing List(const std::string& path) override;
    WriterProbe ProbeWriter(const std::string& path) override;
    // lstat: links are not followed, so a link is no file here either.
    std::optional<FileIdentity> Identify(const std::string& path) override;
};

// unlink, but only while the path still names the same device, inode, size
// and modification time as when the file was loaded. Fails with
// HF_ERR_NOT_DELETED and strerror, or a note that the file was replaced or
// changed. Thread-safe.
class PosixFileRemover final : public FileRemover {
  public:
    Status RemoveIfSame(const std::string& path, const FileIdentity& identity) override;
};

}  // namespace tallowin
