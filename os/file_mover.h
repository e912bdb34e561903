// FileMover on the local system: a rename that never replaces a file, or,
// into a folder on another file system, a copy made beside nothing else
// and then the original deleted.
#pragma once

#include <string>

#include "engine/ports/folder.h"

namespace tallowin {

// Tries the names NumberedName gives in turn (up to "name (9999).ext") with
// renameat2(RENAME_NOREPLACE); where the file system cannot promise that
// (EINVAL), a hard link then unlink of the original; across file systems
// (EXDEV), a copy created with O_EXCL, its bytes, permissions and times
// flushed to disk, then the original deleted once it is still the same
// file. A failure removes any copy it made and leaves the original where it
// was. The identity is checked just before the move; a file replaced in the
// instant between is not seen. The folder is never created. Thread-safe (no
// state).
class PosixFileMover final : public FileMover {
  public:
    Result<std::string> MoveIfSame(const std::string& path, const FileIdentity& identity,
                                   const std::string& folder, HotFolderError failCode) override;
};

}  // namespace tallowin
