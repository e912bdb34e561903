// What a job ledger found damaged at start tells the print log, the same
// for the window and the service.
#pragma once

#include <optional>

#include "engine/ports/services.h"
#include "store/job_ledger_file.h"

namespace tallowin {

// The print log's entry for how the ledger was read: LedgerRecovered when
// something was damaged and its last good state was read, LedgerLost when
// records may be gone (RecordsLost()); File is the ledger's path, Reason
// LoadStatus()'s words. nullopt when it was read as it was, or there was
// none.
std::optional<PrintLogEntry> LedgerLoadEntry(const FileJobLedger& ledger);

}  // namespace tallowin
