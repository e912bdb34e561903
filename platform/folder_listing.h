// Folders and files on the local file system.
#pragma once

#include "engine/platform_services.h"

// Lists a folder with opendir/readdir and fstatat without following links.
// Only regular files count: links, fifos, sockets, devices and sub-folders
// are skipped, so nothing listed can hang the worker or print a file through
// a link. Sizes are the low 32 bits. Thread-safe (no state).
class PosixFolderLister final : public FolderLister {
  public:
    bool IsFolder(const std::string& path) override;
    Listing List(const std::string& path) override;
};

// unlink, but only while the path still names the same device, inode, size
// and modification time as when the file was loaded. Thread-safe.
class PosixFileRemover final : public FileRemover {
  public:
    bool RemoveIfSame(const std::string& path, const FileIdentity& identity) override;
};
