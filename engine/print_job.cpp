#include "engine/print_job.h"

#include <optional>
#include <utility>

#include "engine/page_fit.h"
#include "engine/placement.h"
#include "util/paths.h"

namespace tallowin {

FailureKind ClassifyFailure(HotFolderError code) {
    switch (code) {
        case HF_ERR_NONE:
            return FailureKind::None;
        case HF_ERR_NOT_IMAGE:
        case HF_ERR_DAMAGED:
        case HF_ERR_TOO_LARGE:
        case HF_ERR_PROTECTED:
        case HF_ERR_NO_PAGES:
            return FailureKind::File;
        case HF_ERR_PRINTER:
        case HF_ERR_UNREACHABLE:
        case HF_ERR_JOB_FAILED:
        case HF_ERR_NO_PAGE_SIZE:
        case HF_ERR_STATE:
        case HF_ERR_SETTINGS:
        case HF_ERR_PRINTER_ATTENTION:
        // Another host that shares the folder may have sent it: the file is
        // looked at again after a pause, until that host has finished it.
        case HF_ERR_OTHER_HOST:
            return FailureKind::Printer;
        case HF_ERR_CHANGED:
            return FailureKind::Changed;
        case HF_ERR_PATH:
        case HF_ERR_DUPLICATE:
            return FailureKind::Folder;
        case HF_ERR_NOT_DELETED:
            return FailureKind::Removal;
    }
    // A code from nowhere (a damaged record): the file is fine as far as
    // anyone knows, so it is tried again rather than given up on.
    return FailureKind::Printer;
}

namespace {

using End = PrintJobResult::End;

// A step's verdict as the job's end; nullopt goes on.
std::optional<PrintJobResult> AfterStep(const JobStep& step, const Image& image,
                                        const StopSignal& stop) {
    if (!step) return std::nullopt;
    const Result<Proceed> verdict = step(image);
    if (!verdict.Ok()) {
        if (stop.Requested()) return PrintJobResult{End::Stopped, {}};
        return PrintJobResult{End::Failed, verdict.Error};
    }
    if (verdict.Value == Proceed::Skip) return PrintJobResult{End::Skipped, {}};
    return std::nullopt;
}

}  // namespace

PrintJobResult RunPrintJob(ImageLoader& images, Spooler& spooler, const std::string& path,
                           const std::string& printerName, std::unique_ptr<Printer>& printer,
                           const StopSignal& stop, const PrintJobSteps& steps) {
    PrintJobResult result;
    // A stage that failed because a stop cut it short is the stop.
    const auto failed = [&](const Status& why) {
        result.Outcome = stop.Requested() ? End::Stopped : End::Failed;
        result.Why = result.Outcome == End::Failed ? why : Status{};
        return result;
    };
    const auto progress = [&](HotFolderState stage) {
        if (steps.Progress) steps.Progress(stage);
    };
    if (stop.Requested()) return failed({});

    // Load.
    Result<std::unique_ptr<Image>> loaded = images.Load(path);
    if (!loaded.Ok()) return failed(loaded.Error);
    const Image& image = *loaded.Value;
    if (auto ended = AfterStep(steps.BeforeOpen, image, stop)) return *ended;

    // Open.
    if (!printer) {
        Result<std::unique_ptr<Printer>> opened =
            steps.Settings != nullptr
                ? spooler.OpenWith(printerName, JobOptions(*steps.Settings), stop)
                : spooler.Open(printerName, stop);
        if (!opened.Ok()) return failed(opened.Error);
        printer = std::move(opened.Value);
    }
    progress(HF_STATE_RESIZING);

    // Fit.
    const PageGeometry& page = printer->Geometry();
    const FitInput fitIn{image.Width(), image.Height(), image.XDpi(), image.YDpi(),
                         page.Rx,       page.Ry,        page.Pw,      page.Ph};
    const FitResult fit = FitToPage(fitIn);
    PlacementInput placeIn{fitIn};
    if (steps.Settings != nullptr) {
        placeIn.Scale = steps.Settings->Scale;
        placeIn.Place = steps.Settings->Place;
        placeIn.Turn = steps.Settings->Turn;
    }
    // A document's pages are placed by its own writer, as today.
    const Placement placed = image.IsDocument() ? Placement{} : PlacePicture(placeIn);
    const bool noSize =
        image.IsDocument() ? fit.Tw <= 0 || fit.Th <= 0 : placed.Tw <= 0 || placed.Th <= 0;
    if (noSize) {
        return failed(Status::Failure(HF_ERR_TOO_LARGE,
                                      "too long and thin: it would be less than a dot wide on "
                                      "the page"));
    }
    result.Width = image.IsDocument() ? fit.Tw : placed.Tw;
    result.Height = image.IsDocument() ? fit.Th : placed.Th;

    // Page: only the header is checked here; the pixels are decoded while
    // the job takes them, so a file damaged past its header fails in Send.
    // A document's writer fits each of its pages by the same rule (the fit
    // above is its first page's) and places them itself.
    Result<std::unique_ptr<PageWriter>> writer =
        image.IsDocument()
            ? loaded.Value->PlacedDocument(page, {placeIn.Scale, placeIn.Place, placeIn.Turn})
            : loaded.Value->PlacedPage(placed);
    if (!writer.Ok()) return failed(writer.Error);
    if (stop.Requested()) return failed({});
    if (auto ended = AfterStep(steps.BeforeSend, image, stop)) return *ended;

    // Send.
    progress(HF_STATE_PRINTING);
    const Result<int> job = printer->Print(DocumentName(path), *writer.Value, stop, steps.Created);
    // Whatever failed (the connection, the destination, the file) the next
    // file starts from a fresh printer rather than one in an unknown state.
    if (!job.Ok()) printer.reset();
    if (!job.Ok() && job.Value > 0) {
        result.Outcome = End::Unsure;
        result.Why = job.Error;
        result.JobId = job.Value;
        return result;
    }
    if (!job.Ok()) return failed(job.Error);
    result.Outcome = End::Sent;
    result.JobId = job.Value;
    return result;
}

}  // namespace tallowin
