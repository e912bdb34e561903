// The folder a hot folder watches: its listing, its writers, and the
// deletion or move of a file that was printed.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/hot_folder_types.h"
#include "engine/status.h"

namespace tallowin {

// One plain file of a folder listing.
struct ListedFile {
    std::string Name;        // within the folder, raw bytes
    std::uint32_t Size = 0;  // the low 32 bits of the size
    FileIdentity Identity;   // device, inode, whole size, modification time
    // Whether this process may read it, as its owner, group and mode bits
    // tell: a chmod changes neither size nor modification time, so this is
    // how the table learns that a file kept as unreadable can be read now.
    bool Readable = true;
};
// Sorted by name in ascending order of unsigned bytes; names are unique.
using Listing = std::vector<ListedFile>;

// Whether a file is still open for writing by some process.
enum class WriterProbe {
    NotOpen,         // no process holds it open for writing
    OpenForWriting,  // a writer holds it: it has not settled
    Unknown,         // cannot be told here (network share, no permission)
};

// A folder on disk, whatever path leads to it: two paths name the same
// folder when their keys are equal.
struct FolderKey {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;

    auto operator<=>(const FolderKey&) const = default;
};

class FolderLister {
  public:
    virtual ~FolderLister() = default;
    // The folder path names (links followed, a trailing slash allowed);
    // nothing when it names no existing folder.
    virtual std::optional<FolderKey> FindFolder(const std::string& path) = 0;
    // True when path names an existing folder (a link to one counts).
    bool IsFolder(const std::string& path) { return FindFolder(path).has_value(); }
    // The regular files directly inside path, sorted by name. Links, fifos,
    // sockets, devices and sub-folders are left out. A folder that cannot be
    // opened gives an empty listing; a read error ends the listing with what
    // was read so far.
    virtual Listing List(const std::string& path) = 0;
    // Asks whether the file at path (a full path) is open for writing.
    virtual WriterProbe ProbeWriter(const std::string& path) = 0;
    // The identity of the plain file at path (a full path) as a listing
    // would give it; nothing when there is none. This default lists the
    // whole folder; an adapter asks for the one file.
    virtual std::optional<FileIdentity> Identify(const std::string& path) {
        const std::size_t slash = path.rfind('/');
        if (slash == std::string::npos) return std::nullopt;
        const std::string name = path.substr(slash + 1);
        for (const ListedFile& file : List(path.substr(0, slash))) {
            if (file.Name == name) return file.Identity;
        }
        return std::nullopt;
    }
};

class FileRemover {
  public:
    virtual ~FileRemover() = default;
    // Deletes path only when it still names the file described by identity.
    // Fails with HF_ERR_NOT_DELETED (strerror, or a note that the file was
    // replaced) when it did not delete it.
    virtual Status RemoveIfSame(const std::string& path, const FileIdentity& identity) = 0;
};

// Moves a file out of its hot folder: one that printed (AfterPrint=move),
// or one that can never print as it is (the KeptFolder).
class FileMover {
  public:
    virtual ~FileMover() = default;
    // Moves path into the existing folder, only when path still names the
    // file described by identity, under its own name or, when that is
    // taken, NumberedName's "name (2).ext", "name (3).ext" ...: never over
    // another file. Returns the full path it now has. Fails with failCode
    // and why (strerror, or a note that the file was replaced or changed, or
    // that the folder is missing), the file left where it was.
    virtual Result<std::string> MoveIfSame(const std::string& path, const FileIdentity& identity,
                                           const std::string& folder, HotFolderError failCode) = 0;
};

}  // namespace tallowin
