#include "app/print_command.h"

#include "engine/page_fit.h"
#include "engine/paths.h"

namespace {

// Why path was not sent, or empty when it was.
std::string PrintOne(const std::string& printerName, const std::string& path, ImageLoader& images,
                     Spooler& spooler, PrintRecord& record, std::ostream& err) {
    const std::unique_ptr<Image> image = images.Load(path);
    if (!image) return "not an image, damaged, or it cannot be read";
    if (record.Contains(printerName, image->Identity())) {
        err << "tallowin: " << path << ": already sent to " << printerName
            << " unchanged; not printed again\n";
        return {};
    }
    const std::unique_ptr<Printer> printer = spooler.Open(printerName);
    if (!printer) return "printer " + printerName + " cannot be used or says nothing of its page";

    const PageGeometry& page = printer->Geometry();
    const FitResult fit = FitToPage({image->Width(), image->Height(), image->XDpi(), image->YDpi(),
                                     page.Rx, page.Ry, page.Pw, page.Ph});
    std::optional<PageImage> pixels;
    if (fit.Tw > 0 && fit.Th > 0) pixels = image->Render(fit.Tw, fit.Th);
    if (!pixels) return "the image could not be decoded";
    if (!printer->Print(DocumentName(path), *pixels)) {
        return "the job could not be sent to " + printerName;
    }
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
