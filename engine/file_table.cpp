#include "engine/file_table.h"

#include <algorithm>

namespace tallowin {

namespace {

FileEntry Fresh(const ListedFile& file, const TableScan& scan) {
    FileEntry entry{file.Name, file.Size, file.Identity};
    entry.Readable = file.Readable;
    if (scan.HandledBefore && scan.HandledBefore(file)) entry.Mark = FileMark::Handled;
    return entry;
}

bool Due(const FileEntry& entry, std::uint32_t now) {
    switch (entry.Mark) {
        case FileMark::Waiting:
            return true;
        case FileMark::Retry:
            // Elapsed time, so that the tick's wrap changes nothing.
            return now - entry.KeptTick >= entry.RetryDelayMs;
        case FileMark::Handled:
            break;
    }
    return false;
}

// The entry after a try, from what the print job made of it.
void Settle(FileEntry& entry, PrintOutcome outcome, const TableScan& scan) {
    switch (outcome) {
        case PrintOutcome::Handled:
            entry.Mark = FileMark::Handled;
            break;
        case PrintOutcome::RetryLater: {
            const std::uint32_t first = std::min(scan.FirstRetryMs, kLongestRetryDelayMs);
            // Each failure of the same printer doubles the pause, so that an
            // outage long in time costs few attempts.
            entry.RetryDelayMs =
                entry.Mark == FileMark::Retry
                    ? std::min(std::max(entry.RetryDelayMs, 1u) * 2, kLongestRetryDelayMs)
                    : first;
            entry.Mark = FileMark::Retry;
            entry.KeptTick = scan.Now;
            break;
        }
        case PrintOutcome::Deferred:
            entry.Mark = FileMark::Retry;
            entry.RetryDelayMs = std::min(scan.FirstRetryMs, kLongestRetryDelayMs);
            entry.KeptTick = scan.Now;
            break;
        case PrintOutcome::NotTried:
            break;  // as it was: tried in the next run
    }
}

FileEntry Next(const FileEntry* known, const ListedFile& file, const TableScan& scan) {
    if (known == nullptr) return Fresh(file, scan);  // never printed by its first scan
    if (known->Size != file.Size || !(known->Identity == file.Identity)) {
        return Fresh(file, scan);  // still arriving, or replaced: settles anew
    }
    if (!known->Readable && file.Readable) {
        // Its permissions were mended: kept because it could not be opened,
        // it deserves another try. A file sent before is still recognised
        // by its job record, so this never sends it twice.
        return Fresh(file, scan);
    }
    FileEntry entry = *known;
    entry.Readable = file.Readable;  // losing it changes nothing that was decided
    if (!Due(entry, scan.Now)) return entry;
    if (scan.Stopped && scan.Stopped()) return entry;
    if (entry.Mark == FileMark::Waiting && scan.BeingWritten && scan.BeingWritten(file)) {
        return entry;
    }
    Settle(entry, scan.Print(file), scan);
    return entry;
}

}  // namespace

FileTable UpdateFileTable(const FileTable& previous, const Listing& listing,
                          const TableScan& scan) {
    FileTable next;
    next.reserve(listing.size());
    auto old = previous.begin();
    // One merge of two sorted sequences: entries the listing skips are gone.
    for (const ListedFile& file : listing) {
        while (old != previous.end() && old->Name < file.Name) ++old;
        const bool known = old != previous.end() && old->Name == file.Name;
        next.push_back(Next(known ? &*old : nullptr, file, scan));
    }
    return next;
}

}  // namespace tallowin
