#include "engine/file_table.h"

FileTable UpdateFileTable(const FileTable& previous, const Listing& listing,
                          const PrintCallout& print) {
    FileTable next;
    // First the files the previous scan knew, in name order, so that files
    // settling together print in that order.
    for (const auto& [name, old] : previous) {
        const auto listed = listing.find(name);
        if (listed == listing.end()) continue;  // gone
        FileEntry entry = old;
        if (entry.Printed == 0) {
            if (entry.Size != listed->second) {
                entry.Size = listed->second;  // still arriving
            } else {
                // Marked before printing, whatever the outcome: a file is
                // handed to the print job once while it stays.
                entry.Printed = 1;
                print(name);
            }
        }
        next.emplace_hint(next.end(), name, std::move(entry));
    }
    // Then the newcomers; never printed by the scan that first sees them.
    for (const auto& [name, size] : listing) {
        next.try_emplace(name, FileEntry{name, size, 0});
    }
    return next;
}
