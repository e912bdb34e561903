#include "app/print_command.h"

#include "engine/page_fit.h"
#include "engine/paths.h"

namespace tallowin {

namespace {

// A failure as one line: what is wrong, then the library's own words.
std::string Describe(const Status& failure, const std::string& printerName) {
    switch (failure.Code) {
        case HF_ERR_NOT_IMAGE:
            return "not an image, or a format that cannot be read: " + failure.Reason;
        case HF_ERR_DAMAGED:
            return "damaged or incomplete picture: " + failure.Reason;
        case HF_ERR_TOO_LARGE:
            return "picture too large: " + failure.Reason;
        case HF_ERR_PRINTER:
        case HF_ERR_UNREACHABLE:
        case HF_ERR_NO_PAGE_SIZE:
        case HF_ERR_JOB_FAILED:
            return "printer " + printerName + ": " + failure.Reason;
        default:
            return failure.Reason;
    }
}

// Why path was not sent, or empty when it was.
std::string PrintOne(const std::string& printerName, const std::string& path, ImageLoader& images,
                     Spooler& spooler, PrintRecord& record, std::ostream& err) {
    const NeverStop stop;
    Result<std::unique_ptr<Image>> loaded = images.Load(path);
    if (!loaded.Ok()) return Describe(loaded.Error, printerName);
    const std::unique_ptr<Image> image = std::move(loaded.Value);
    if (record.Contains(printerName, image->Identity())) {
        err << "tallowin: " << path << ": already sent to " << printerName
            << " unchanged; not printed again\n";
        return {};
    }
    Result<std::unique_ptr<Printer>> opened = spooler.Open(printerName, stop);
    if (!opened.Ok()) return Describe(opened.Error, printerName);
    const std::unique_ptr<Printer> printer = std::move(opened.Value);

    const PageGeometry& page = printer->Geometry();
    const FitResult fit = FitToPage({image->Width(), image->Height(), image->XDpi(), image->YDpi(),
                                     page.Rx, page.Ry, page.Pw, page.Ph});
    if (fit.Tw <= 0 || fit.Th <= 0) return "the image is less than a pixel on paper";
    const Result<std::unique_ptr<PageWriter>> writer = image->Page(fit.Tw, fit.Th);
    if (!writer.Ok()) return Describe(writer.Error, printerName);
    const Result<int> job = printer->Print(DocumentName(path), *writer.Value, stop);
    if (!job.Ok()) return Describe(job.Error, printerName);
    if (!record.Add(printerName, image->Identity())) {
        // Printed all the same; only a retry could print it twice.
        err << "tallowin: " << path << ": printed, but the record of printed files ("
            << record.Path() << ") could not be written\n";
    }
    return {};
}

}  // namespace

int RunPrintCommand(const std::string& printer, const std::vector<std::string>& files,
                    ImageLoader& images, Spooler& spooler, PrintRecord& record, std::ostream& err) {
    int status = 0;
    for (const std::string& path : files) {
        const std::string failure = PrintOne(printer, path, images, spooler, record, err);
        if (failure.empty()) continue;
        err << "tallowin: " << path << ": " << failure << "\n";
        status = 1;
    }
    return status;
}

}  // namespace tallowin
