// The claim records through which several hosts that print from one shared
// folder agree on who prints which file: small files in a hidden sub-folder
// of the hot folder. They are only ever changed with an exclusive create or
// a rename, which NFS and SMB servers carry out atomically for all their
// clients alike; advisory locks (flock, fcntl) are not shared reliably
// between the clients of those servers, so none is used.
#pragma once

#include <string>
#include <vector>

namespace tallowin {

// The sub-folder of every hot folder that holds its claims: hidden, and a
// folder, so a listing of plain files never shows it.
inline constexpr char kClaimFolderName[] = ".tallowin-claims";

// What one operation on a claim record found.
enum class ClaimIo {
    Done,      // it did what was asked
    Exists,    // Create: a record of that name is there already
    Missing,   // Read, MoveAside, Remove: no record of that name
    ReadOnly,  // this process may not write there (permissions, a read-only
               // mount, a full disk): no claim can be made in this folder
    Failed,    // anything else (an I/O error, a share gone): Reason says what
};

struct ClaimIoResult {
    ClaimIo Kind = ClaimIo::Done;
    std::string Text{};    // Read: the record's bytes
    std::string Reason{};  // ReadOnly, Failed: the system's own words

    bool Ok() const { return Kind == ClaimIo::Done; }
};

// The claim folder of each hot folder. hotFolder is the hot folder's path;
// every name is a plain file name inside its claim folder. No operation
// blocks on another host. Implementations are thread-safe.
class ClaimFolder {
  public:
    virtual ~ClaimFolder() = default;
    // Creates the record name holding text, only if no file of that name
    // exists (Exists then); the claim folder is made when missing. A record
    // that could not be written whole is removed again (Failed).
    virtual ClaimIoResult Create(const std::string& hotFolder, const std::string& name,
                                 const std::string& text) = 0;
    // The bytes of name; Missing when there is none.
    virtual ClaimIoResult Read(const std::string& hotFolder, const std::string& name) = 0;
    // Writes text to tempName and renames it over name, so that a reader sees
    // either the old record or the new one, never a part.
    virtual ClaimIoResult Replace(const std::string& hotFolder, const std::string& name,
                                  const std::string& tempName, const std::string& text) = 0;
    // Renames name to aside. Of several hosts that try at once exactly one
    // succeeds; the others find Missing.
    virtual ClaimIoResult MoveAside(const std::string& hotFolder, const std::string& name,
                                    const std::string& aside) = 0;
    // Deletes name (Missing when it was gone).
    virtual ClaimIoResult Remove(const std::string& hotFolder, const std::string& name) = 0;
    // The names of the plain files in the claim folder, in no order; none
    // when it does not exist or cannot be read.
    virtual std::vector<std::string> List(const std::string& hotFolder) = 0;
};

}  // namespace tallowin
