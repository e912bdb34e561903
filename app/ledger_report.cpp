#include "app/ledger_report.h"

#include <chrono>

namespace tallowin {

std::optional<PrintLogEntry> LedgerLoadEntry(const FileJobLedger& ledger) {
    const Status& load = ledger.LoadStatus();
    if (load.Ok()) return std::nullopt;
    PrintLogEntry entry;
    entry.Time = std::chrono::system_clock::now();
    entry.File = ledger.Path();
    entry.Result = ledger.RecordsLost() ? PrintLogEntry::Outcome::LedgerLost
                                        : PrintLogEntry::Outcome::LedgerRecovered;
    entry.Code = load.Code;
    entry.Reason = load.Reason;
    return entry;
}

}  // namespace tallowin
