// The heart of a scan: from the file table of the previous scan and the
// listing of this one, the next table. Pure; printing, the writer probe, the
// records of earlier runs and the stop request are call-outs so that tests
// can play them.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/hot_folder_types.h"
#include "engine/ports/services.h"

namespace tallowin {

// What became of a file handed to the print job.
enum class PrintOutcome {
    Handled,     // sent, or kept because of the file itself: not again while unchanged
    RetryLater,  // kept because the printer could not be used: tried again later
    NotTried,    // a stop ended the attempt before anything was sent
    Deferred,    // another host has it in hand: looked at again after the first
                 // pause each time, which does not grow, so that the host's
                 // going is noticed soon after its lease ran out
};

// The longest pause between two tries of a file whose printer failed.
inline constexpr std::uint32_t kLongestRetryDelayMs = 60000;

struct TableScan {
    std::uint32_t Now = 0;           // the tick of this scan
    std::uint32_t FirstRetryMs = 0;  // the pause before the first retry (the scan time)
    // Called with each file that has settled, in ascending byte order of the
    // names, one after another; required.
    std::function<PrintOutcome(const ListedFile& file)> Print;
    // True when a file seen for the first time was handed over by an earlier
    // run (a job record for this very file): it is never sent again while it
    // stays. Optional: none means no earlier run.
    std::function<bool(const ListedFile& file)> HandledBefore;
    // True when a writer still holds a file open: it has not settled.
    // Optional: none means no file is held.
    std::function<bool(const ListedFile& file)> BeingWritten;
    // True once the run should end: no file is handed over after that, and
    // the files not yet printed stay waiting. Optional.
    std::function<bool()> Stopped;
};

// A file listed with the same size and identity as at the previous scan,
// still waiting and not held by a writer, is handed to Print. A file seen
// for the first time, or changed (size, inode, modification time), waits for
// the next scan, whatever it was before: a new file under a known name is a
// new file. A file that was unreadable and is readable now counts as changed
// too (a chmod touches neither size nor modification time); one that turns
// unreadable does not. A handled file stays handled while it is unchanged; a
// file to retry is handed over again once its pause has passed, each pause
// twice the one before, up to kLongestRetryDelayMs. A file no longer listed
// is dropped.
// The result holds exactly the listed files, in the listing's order.
// previous and listing must both be sorted by name in unsigned byte order.
FileTable UpdateFileTable(const FileTable& previous, const Listing& listing, const TableScan& scan);

}  // namespace tallowin
