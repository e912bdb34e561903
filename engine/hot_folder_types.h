// The values a hot folder reports to the main window, and one row of its
// file table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tallowin {

enum HotFolderState : std::int32_t {
    HF_STATE_WAITING = 0,   // service not started for this folder
    HF_STATE_ERROR = 1,     // the folder path was not a folder, or is the folder of another hot
                            // folder; checked at its interval until back
    HF_STATE_RUNNING = 2,   // scanned at its interval
    HF_STATE_RESIZING = 3,  // a print job is fitting the image to the page
    HF_STATE_PRINTING = 4,  // a print job is drawing the page and handing it to the spooler
};

enum HotFolderError : std::int32_t {
    HF_ERR_NONE = 0,
    HF_ERR_PATH = 1,          // the folder path is not an existing folder
    HF_ERR_PRINTER = 2,       // the printer does not exist
    HF_ERR_NOT_IMAGE = 3,     // not a picture, a format that cannot be read, or unreadable
    HF_ERR_DAMAGED = 4,       // a damaged or incomplete picture
    HF_ERR_TOO_LARGE = 5,     // a picture larger than the loader accepts
    HF_ERR_UNREACHABLE = 6,   // the scheduler or the printer cannot be reached
    HF_ERR_JOB_FAILED = 7,    // the printer refused, aborted or cancelled the job
    HF_ERR_NO_PAGE_SIZE = 8,  // the printer gives no usable page size or resolution
    HF_ERR_NOT_DELETED = 9,   // printed, but the file could not be deleted
    HF_ERR_STATE = 10,        // the job ledger or the print log cannot be read or stored
    HF_ERR_DUPLICATE = 11,    // another hot folder (the first in the list) watches this folder
    HF_ERR_CHANGED = 12,      // the file changed while it was read: not printed, it settles again
    HF_ERR_PROTECTED = 13,    // a document that needs a password or does not allow printing
    HF_ERR_NO_PAGES = 14,     // a document without a single page
    HF_ERR_OTHER_HOST = 15,   // another host that shares the folder may have sent the file's
                              // job: it waits for that host to come back
    HF_ERR_SETTINGS = 16,     // the folder's print settings are wrong, or ask for what its
                              // printer does not offer: nothing prints until they are corrected
    HF_ERR_PRINTER_ATTENTION = 17,  // the printer is stopped, refuses jobs or reports a condition
                                    // that keeps it from printing: files wait, none is failed
};

// What a file is on disk: the print job deletes a file only when its path
// still names this very file, and a file kept after a failure is tried again
// only once it is no longer the same.
struct FileIdentity {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::uint64_t Size = 0;
    std::int64_t ModifiedNs = 0;

    bool operator==(const FileIdentity&) const = default;
};

// The same file for a record kept across runs: a share or a stick mounted
// again comes back under another device number, while the inode, the size
// and the modification time stay (on file systems with inode numbers of
// their own; the folder path and the name are the record's key).
inline bool SameFileAcrossMounts(const FileIdentity& a, const FileIdentity& b) {
    return a.Inode == b.Inode && a.Size == b.Size && a.ModifiedNs == b.ModifiedNs;
}

// Where a file of the table stands.
enum class FileMark : std::int32_t {
    Waiting = 0,  // not settled yet: printed once two scans see it alike
    Handled = 1,  // handed to the print job (sent, printed, or kept because of
                  // the file itself): not again while it stays the same
    Retry = 2,    // kept because the printer could not be used: tried again
                  // once RetryDelayMs have passed since KeptTick
};

struct FileEntry {
    std::string Name;        // name within the folder, raw bytes
    std::uint32_t Size = 0;  // low 32 bits of the size at the last scan that saw it
    FileIdentity Identity;   // as the last scan saw it
    FileMark Mark = FileMark::Waiting;
    std::uint32_t KeptTick = 0;      // Retry: the tick of the scan that kept it
    std::uint32_t RetryDelayMs = 0;  // Retry: the pause before the next try
    bool Readable = true;            // as the last scan saw it (ListedFile::Readable)

    bool operator==(const FileEntry&) const = default;
};

// Sorted by name in ascending order of unsigned bytes (std::string compares
// through char_traits<char>, which orders as unsigned bytes: exactly the
// order that file names must be visited in); names are unique. A vector, so
// that a scan merges it with the sorted listing in one linear pass.
using FileTable = std::vector<FileEntry>;

}  // namespace tallowin
