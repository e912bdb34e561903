// `tallowin print -d PRINTER [-n COPIES] [-o NAME=VALUE]... [--no-wait] FILE...`: each file printed
// once, as a hot folder prints it, and kept; the exit status says whether the printer printed them.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "app/job_wait.h"
#include "engine/job_settings.h"
#include "engine/ports/services.h"
#include "store/print_record.h"

namespace tallowin {

// The exit statuses of RunPrintCommand (2 is an invalid command line).
inline constexpr int kPrintAllDone = 0;      // every job completed (or, not waiting, was taken)
inline constexpr int kPrintNotPrinted = 1;   // a file not sent, or its job aborted or cancelled
inline constexpr int kPrintUnconfirmed = 3;  // no failure, but a job's outcome was not seen

struct PrintRequest {
    std::string Printer;
    std::vector<std::string> Files;
    bool Wait = true;      // false: end once the scheduler has taken every job
    JobSettings Settings;  // copies, media, placement ... as a hot folder's (AfterPrint and
                           // the folders are not used: the files are always kept)
};

// What the command runs on; each outlives the call. Not thread-safe.
struct PrintServices {
    ImageLoader& images;
    Spooler& spooler;
    PrintRecord& record;
    Clock& clock;
    Interrupt& interrupt;  // ends the sending and the wait; asked inside every request
    std::ostream& err;
};

// Sends each file to the printer through the hot folders' own print job
// (engine/print_job.h: the same stages, fit and placement — one page, the
// image at its size on paper, never enlarged, at the printable area's
// top-left corner — and the same failures), in the order given, and never
// deletes one; then, with Wait, waits for every job it sent until each completed or
// failed (see AwaitJobs for when it gives up).
//
// The record decides what a file already sent to this printer, unchanged,
// gets: printed before, it is skipped with a note; sent before with an
// outcome not seen then, the scheduler is asked about that job: completed,
// it is skipped; failed, it is sent again; still pending, it is not sent
// again but waited for; unknown to the scheduler, it is not sent again and
// counts as unconfirmed. Only a completed job records its file as printed;
// a failed one takes it out of the record, so that a retry sends it again.
//
// Each failure (a file not sent, a job the scheduler aborted or cancelled,
// in its words) and each job whose outcome was not seen is one line on err
// naming the file. Returns one of the statuses above; a failure outweighs an
// unconfirmed job.
int RunPrintCommand(const PrintRequest& request, PrintServices& services,
                    const WaitLimits& limits = {});

}  // namespace tallowin
