// The print job: one image file (a picture, or a document whose pages all
// go in one job) on its way to a printer, in five stages
// composed in one place — load the file, open the printer, fit the image to
// the printable area, make the page, send it — and the one rule that says
// what a failure means for the file. The hot folders' scan and
// `tallowin print` both run it; each adds its own record keeping through
// the steps below.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/hot_folder_types.h"
#include "engine/job_settings.h"
#include "engine/ports/page.h"
#include "engine/ports/spooler.h"
#include "engine/status.h"

namespace tallowin {

// Whose fault a failure is, and so what becomes of the file: every
// HotFolderError code has exactly one.
enum class FailureKind {
    None,     // HF_ERR_NONE: nothing failed
    File,     // the file as it is (not a picture, damaged, too large): it stays
              // and is not tried again until it changes
    Printer,  // the printer, the scheduler or the state files: the file is
              // fine, it stays and is tried again after a pause
    Changed,  // the file changed while it was read: nothing is blamed; it is
              // tried again once it settles
    Folder,   // the folder itself (missing, watched by another hot folder):
              // the hot folder is in error until the folder is back
    Removal,  // the file printed but could not be deleted: never sent again;
              // its deletion is tried again
};

FailureKind ClassifyFailure(HotFolderError code);

// Where a caller's step leaves the job.
enum class Proceed {
    Go,    // on to the next stage
    Skip,  // nothing is sent, and nothing is wrong (the caller knows the file
           // was printed or is being printed already)
};

// A caller's step: a failure ends the job as Failed with that status.
using JobStep = std::function<Result<Proceed>(const Image& image)>;

// What the caller adds to the stages; every member is optional.
struct PrintJobSteps {
    // The folder's (or the command's) print settings; the caller's, they
    // outlive the call. Null: the printer's defaults and today's fit. With
    // them, the printer opens with JobOptions(*Settings) and the picture is
    // scaled, placed and turned by PlacePicture.
    const JobSettings* Settings = nullptr;
    JobStep BeforeOpen;  // once the file is loaded, before the printer is opened
    JobStep BeforeSend;  // once the page can be made, before anything is sent
    JobCreated Created;  // told the job the moment the scheduler made it
    // Told the stage the job enters: HF_STATE_RESIZING once the printer is
    // open, HF_STATE_PRINTING while the page is sent.
    std::function<void(HotFolderState stage)> Progress;
};

struct PrintJobResult {
    enum class End {
        Sent,     // the scheduler has the whole page; JobId is its job
        Skipped,  // a step said Skip: nothing sent
        Failed,   // nothing sent (a job the adapter made was cancelled); Why
                  // says what failed, ClassifyFailure(Why.Code) what follows
        Unsure,   // sending failed (Why), but job JobId exists and its cancel
                  // did not get through: it may still print, so it must be
                  // followed, never sent again blindly
        Stopped,  // a stop ended it before anything was sent
    };
    End Outcome = End::Failed;
    Status Why;
    int JobId = 0;
    int Width = 0;   // the page's image in printer pixels, once it was fitted
    int Height = 0;  // (a document's: its first page's)
};

// Runs the stages for the file at path on printerName. printer is the
// printer opened for earlier files (null: none): opened here when null, kept
// for the next file, and dropped after a failed send so that the next file
// starts afresh. Once stop is requested nothing more is sent, and a stage
// that fails while it is requested ends the job as Stopped, not Failed.
// Each stage's resources live in this call, so one bad file never stops the
// files after it. Never throws; the services outlive the call.
PrintJobResult RunPrintJob(ImageLoader& images, Spooler& spooler, const std::string& path,
                           const std::string& printerName, std::unique_ptr<Printer>& printer,
                           const StopSignal& stop, const PrintJobSteps& steps = {});

}  // namespace tallowin
