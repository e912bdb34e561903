// The platform services the engine needs, each behind a small interface
// (engine/ports/*.h) so that the scan and the print job run in tests with a
// fake clock, a fake listing or a printer that records calls. The real
// adapters live in os/, store/, cups/ and page/; nothing here includes a
// system header.
//
// None of these interfaces is required to be thread-safe unless it says so:
// the engine uses them from the worker thread only.
#pragma once

#include "engine/ports/clock.h"
#include "engine/ports/folder.h"
#include "engine/ports/ledger.h"
#include "engine/ports/page.h"
#include "engine/ports/print_log.h"
#include "engine/ports/spooler.h"

namespace tallowin {

class FileClaims;  // engine/file_claims.h

// The services one hot folder's scan and print jobs use; they outlive it.
struct EngineServices {
    Clock& clock;
    FolderLister& lister;
    ImageLoader& images;
    Spooler& spooler;
    FileRemover& remover;
    JobLedger& ledger;
    PrintLog& log;
    // The claims through which several hosts that print from one shared
    // folder agree on who prints which file; none: this process prints
    // alone, as in tests that need no other host.
    FileClaims* claims = nullptr;
    // Moves printed files (AfterPrint=move) and files that can never print
    // (KeptFolder); null: such files stay where they are, and a move fails
    // with HF_ERR_NOT_DELETED.
    FileMover* mover = nullptr;
};

}  // namespace tallowin
