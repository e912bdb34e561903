// A picture file of any bytes through the path a dropped file takes: the
// image loader reads its header, the page is fitted to a printer's
// printable area as the print job fits it, and the page writer decodes,
// resamples and encodes the whole document into a sink that keeps only its
// first and last bytes. A PDF document takes its own writer, which places
// every page. Load and Page fail only with their documented
// codes; Write fails only as damaged (the sink never refuses, nothing asks
// to stop), and a page written whole is a whole PDF.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>

#include "engine/page_fit.h"
#include "engine/ports/services.h"
#include "page/vips_image.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tallowin;

namespace {

// The loader refuses, before allocating, a picture whose decode needs more
// than its limit; a lower limit than the service's keeps each run small and
// makes the refusal itself part of what is fuzzed.
constexpr std::uint64_t kDecodeMemoryLimit = std::uint64_t{64} << 20;
constexpr long long kLargestPicture = 2048LL * 2048;

// A 100 dpi printer with a 3 x 4 inch printable area a quarter inch in: the
// fitted page is at most 300 x 400 pixels, so small pictures are enlarged,
// large ones reduced (by 10 and more too), and each run stays quick.
PageGeometry Geometry() {
    PageGeometry g;
    g.Rx = g.Ry = 100;
    g.Pw = 300;
    g.Ph = 400;
    g.LeftPt = g.TopPt = 18;
    g.MediaWidthPt = 300 * 72 / 100 + 36;
    g.MediaHeightPt = 400 * 72 / 100 + 36;
    return g;
}

// Counts the document's bytes and keeps its first and last few.
class DiscardingSink {
  public:
    bool Take(const unsigned char* data, std::size_t size) {
        bytes_ += size;
        const std::string piece(reinterpret_cast<const char*>(data), size);
        if (head_.size() < kKept) head_ += piece.substr(0, kKept - head_.size());
        tail_ += piece;
        if (tail_.size() > kKept) tail_.erase(0, tail_.size() - kKept);
        return true;
    }
    bool IsWholePdf() const { return head_.starts_with("%PDF-") && tail_.ends_with("%%EOF\n"); }
    std::size_t Bytes() const { return bytes_; }

  private:
    static constexpr std::size_t kKept = 16;
    std::size_t bytes_ = 0;
    std::string head_, tail_;
};

bool OneOf(HotFolderError code, std::initializer_list<HotFolderError> codes) {
    for (const HotFolderError c : codes) {
        if (code == c) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // One libvips worker: the runs are deterministic, and the machine's
    // other cores are left to whatever else runs.
    setenv("VIPS_CONCURRENCY", "1", 1);
    // libvips' warnings on every damaged input would drown the fuzzer's own
    // lines; the failures that matter come back as statuses.
    setenv("VIPS_WARNING", "0", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::ScratchFolder scratch("picture");
    static VipsImageLoader loader(kDecodeMemoryLimit);
    scratch.Write(data, size);

    Result<std::unique_ptr<Image>> image = loader.Load(scratch.File());
    if (!image.Ok()) {
        fuzz::Check(OneOf(image.Error.Code, {HF_ERR_NOT_IMAGE, HF_ERR_DAMAGED, HF_ERR_TOO_LARGE,
                                             HF_ERR_PROTECTED, HF_ERR_NO_PAGES}),
                    "Load fails with a documented code", image.Error.Reason);
        fuzz::Check(!image.Error.Reason.empty(), "Load says why it failed");
        return 0;
    }
    fuzz::Check(image.Value != nullptr, "Load gives an image");
    Image& picture = *image.Value;
    fuzz::Check(picture.Width() > 0 && picture.Height() > 0, "a loaded image has a size");
    if (static_cast<long long>(picture.Width()) * picture.Height() > kLargestPicture) {
        return 0;
    }

    const PageGeometry g = Geometry();
    const FitResult fit = FitToPage({picture.Width(), picture.Height(), picture.XDpi(),
                                     picture.YDpi(), g.Rx, g.Ry, g.Pw, g.Ph});
    Result<std::unique_ptr<PageWriter>> writer =
        picture.IsDocument() ? picture.Document(g) : picture.Page(fit.Tw, fit.Th);
    if (!writer.Ok()) {
        fuzz::Check(OneOf(writer.Error.Code, {HF_ERR_DAMAGED, HF_ERR_TOO_LARGE}),
                    "Page fails with a documented code", writer.Error.Reason);
        return 0;
    }
    fuzz::Check(writer.Value != nullptr, "Page gives a writer");

    DiscardingSink sink;
    const NeverStop never;
    const Status written = writer.Value->Write(
        g, [&sink](const unsigned char* d, std::size_t n) { return sink.Take(d, n); }, never);
    if (!written.Ok()) {
        // Too large: libjpeg's own memory bound, behind the loader's estimate.
        fuzz::Check(OneOf(written.Code, {HF_ERR_DAMAGED, HF_ERR_TOO_LARGE}),
                    "Write fails only as damaged or too large",
                    std::to_string(written.Code) + ": " + written.Reason);
        fuzz::Check(!written.Reason.empty(), "Write says why it failed");
        return 0;
    }
    fuzz::Check(sink.IsWholePdf(), "a page written whole is a whole PDF",
                std::to_string(sink.Bytes()) + " bytes");
    return 0;
}
