#include "page/pdf/pdf_image.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "os/file_identity.h"

namespace tallowin {

namespace {

UniqueFd Duplicate(int fd) {
    return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

class PdfImage final : public Image {
  public:
    PdfImage(UniqueFd fd, std::string path, std::unique_ptr<PdfDocument> opened, FitInput first,
             const PdfLimits& limits)
        : fd_(std::move(fd)),
          path_(std::move(path)),
          identity_(opened->Identity()),
          opened_(std::move(opened)),
          first_(first),
          limits_(limits) {}

    int Width() const override { return first_.W; }
    int Height() const override { return first_.H; }
    int XDpi() const override { return first_.Dx; }
    int YDpi() const override { return first_.Dy; }
    const FileIdentity& Identity() const override { return identity_; }
    bool IsDocument() const override { return true; }

    Result<std::unique_ptr<PageWriter>> Page(int, int) override {
        return {nullptr,
                Status::Failure(HF_ERR_JOB_FAILED, "a document prints all its pages, not one")};
    }

    Result<std::unique_ptr<PageWriter>> Document(const PageGeometry& g) override {
        return PlacedDocument(g, {});
    }

    Result<std::unique_ptr<PageWriter>> PlacedDocument(const PageGeometry& g,
                                                       const PlacementMode& mode) override {
        std::unique_ptr<PdfDocument> doc = std::move(opened_);
        if (!doc) {
            if (Status same = SameFileAsLoaded(fd_.get(), path_, identity_); !same.Ok()) {
                return {nullptr, std::move(same)};
            }
            UniqueFd again = Duplicate(fd_.get());
            if (!again) {
                return {nullptr, Status::Failure(HF_ERR_JOB_FAILED,
                                                 std::string("cannot keep the file open: ") +
                                                     std::strerror(errno))};
            }
            Result<std::unique_ptr<PdfDocument>> reopened =
                PdfDocument::Open(std::move(again), path_, identity_, limits_);
            if (!reopened.Ok()) return {nullptr, std::move(reopened.Error)};
            doc = std::move(reopened.Value);
        }
        for (int i = 0; i < doc->PageCount(); ++i) {
            const Placement fit = PlacePdfPageAs(doc->Page(i), g, mode);
            if (fit.Tw <= 0 || fit.Th <= 0) {
                return {nullptr,
                        Status::Failure(HF_ERR_TOO_LARGE,
                                        "page " + std::to_string(i + 1) +
                                            " is so long and thin that it would be less than a "
                                            "dot wide on the page")};
            }
        }
        doc->SetPlacement(mode);
        return {std::move(doc), {}};
    }

  private:
    const UniqueFd fd_;
    const std::string path_;
    const FileIdentity identity_;
    std::unique_ptr<PdfDocument> opened_;  // until the first Document
    const FitInput first_;                 // the first page's, for any printer
    const PdfLimits limits_;
};

}  // namespace

Result<std::unique_ptr<Image>> OpenPdfImage(UniqueFd fd, const std::string& path,
                                            const FileIdentity& identity, const PdfLimits& limits) {
    UniqueFd kept = Duplicate(fd.get());
    if (!kept) {
        return {nullptr, Status::Failure(HF_ERR_NOT_IMAGE, std::string("cannot keep the file "
                                                                       "open: ") +
                                                               std::strerror(errno))};
    }
    Result<std::unique_ptr<PdfDocument>> opened =
        PdfDocument::Open(std::move(fd), path, identity, limits);
    if (!opened.Ok()) return {nullptr, std::move(opened.Error)};
    // The printer's geometry does not change a page's own size.
    const FitInput first = PdfPageFitInput(opened.Value->Page(0), PageGeometry{});
    return {
        std::make_unique<PdfImage>(std::move(kept), path, std::move(opened.Value), first, limits),
        {}};
}

}  // namespace tallowin
