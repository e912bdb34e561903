// One whole print job of one image file, the way a hot folder prints it:
// load, fit, resample, compose the page, hand it over. The file is never
// deleted, so the same input can be timed again and again.
//
//   tallowin-print-once FILE QUEUE            prints on QUEUE (CUPS_SERVER honoured)
//   tallowin-print-once FILE QUEUE --pdf OUT  writes the document to OUT instead,
//                                             with QUEUE's page geometry
//   tallowin-print-once FILE QUEUE --size     prints the size on paper "Tw Th" only
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "engine/hot_folder.h"
#include "engine/page_fit.h"
#include "platform/cups_spooler.h"
#include "platform/folder_listing.h"
#include "platform/pdf_page.h"
#include "platform/tick.h"
#include "platform/vips_image.h"

namespace {

class FilePrinter final : public Printer {
  public:
    FilePrinter(PageGeometry geometry, std::string out)
        : geometry_(geometry), out_(std::move(out)) {}
    const PageGeometry& Geometry() const override { return geometry_; }
    bool Print(const std::string&, const PageImage& image) override {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(out_.c_str(), "wb"),
                                                          &std::fclose);
        if (!f) return false;
        const bool ok = WritePdfPage(geometry_, image, [&](const unsigned char* d, std::size_t n) {
            return std::fwrite(d, 1, n, f.get()) == n;
        });
        return ok && std::fflush(f.get()) == 0;
    }

  private:
    PageGeometry geometry_;
    std::string out_;
};

// Takes the geometry from the real queue, then writes to a file.
class FileSpooler final : public Spooler {
  public:
    explicit FileSpooler(std::string out) : out_(std::move(out)) {}
    std::unique_ptr<Printer> Open(const std::string& name) override {
        CupsSpooler cups;
        const std::unique_ptr<Printer> real = cups.Open(name);
        if (!real) return nullptr;
        return std::make_unique<FilePrinter>(real->Geometry(), out_);
    }

  private:
    std::string out_;
};

class KeepFiles final : public FileRemover {
  public:
    bool RemoveIfSame(const std::string&, const FileIdentity&) override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE QUEUE [--pdf OUT | --size]\n", argv[0]);
        return 2;
    }
    const std::string file = argv[1], queue = argv[2];
    VipsImageLoader images;
    if (argc == 4 && std::strcmp(argv[3], "--size") == 0) {
        const std::unique_ptr<Image> image = images.Load(file);
        const std::unique_ptr<Printer> printer = CupsSpooler().Open(queue);
        if (!image || !printer) return 1;
        const PageGeometry& g = printer->Geometry();
        const FitResult fit = FitToPage({image->Width(), image->Height(), image->XDpi(),
                                         image->YDpi(), g.Rx, g.Ry, g.Pw, g.Ph});
        std::printf("%d %d %d %d\n", fit.Tw, fit.Th, image->Width(), image->Height());
        return 0;
    }
    std::unique_ptr<Spooler> spooler;
    if (argc == 5 && std::strcmp(argv[3], "--pdf") == 0) {
        spooler = std::make_unique<FileSpooler>(argv[4]);
    } else if (argc == 3) {
        spooler = std::make_unique<CupsSpooler>();
    } else {
        std::fprintf(stderr, "usage: %s FILE QUEUE [--pdf OUT | --size]\n", argv[0]);
        return 2;
    }
    MonotonicClock clock;
    PosixFolderLister lister;
    KeepFiles remover;
    EngineServices services{clock, lister, images, *spooler, remover};
    HotFolder folder("bench", "", queue, 5);
    folder.SetRunning();
    folder.PrintFile(services, file);
    if (folder.GetError() != HF_ERR_NONE) {
        std::fprintf(stderr, "printer failed\n");
        return 1;
    }
    return 0;
}
