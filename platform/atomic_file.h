// Replacing a file so that a crash, a full disk or a failing write at any
// moment leaves either the old file or the new one, never a mix.
#pragma once

#include <sys/types.h>
#include <string>

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

// Writes bytes to a new file beside path, flushes it to the disk, and renames
// it over path; the folder is created when missing. On failure the temporary
// file is removed, path is as it was, and the result is false. The new file
// keeps the permissions of the one it replaces (0600 for a new one).
bool ReplaceFileAtomically(const std::string& path, const std::string& bytes, FileOps& ops);
bool ReplaceFileAtomically(const std::string& path, const std::string& bytes);
