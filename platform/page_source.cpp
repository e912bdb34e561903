#include "platform/page_source.h"

#include <vips/vips8>

#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>
#include <vector>

#include "platform/jpeg_rows.h"
#include "platform/linear_reducer.h"
#include "platform/linear_resampler.h"
#include "platform/vips_colour.h"

namespace tallowin {

namespace {

using vips::VError;
using vips::VImage;
using vips::VSource;

// libvips' words for the last failure, which are then cleared.
std::string TakeVipsError(const char* fallback) {
    std::string reason = vips_error_buffer();
    vips_error_clear();
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    return reason.empty() ? fallback : reason;
}

Status Damaged() {
    return Status::Failure(HF_ERR_DAMAGED, TakeVipsError("the image data is damaged"));
}

// Computes image (three 8-bit bands) strip by strip in libvips' thread pool
// and gives its rows in order to row, through resampler first when there is
// one. vips_sink_disc hands the strips over in order from one thread at a
// time.
class RowDriver {
  public:
    RowDriver(const PageSource::RowSink& row, LinearResampler* resampler)
        : row_(row), resampler_(resampler) {}

    Status Run(const VImage& image) {
        if (vips_sink_disc(image.get_image(), &RowDriver::Write, this) == 0 && !stopped_) {
            return Status::Success();
        }
        if (threw_) {
            vips_error_clear();
            return Status::Failure(HF_ERR_JOB_FAILED, "the page's rows could not be taken");
        }
        if (stopped_) {
            vips_error_clear();
            return Status::Failure(HF_ERR_UNREACHABLE, "the page was stopped");
        }
        return Damaged();
    }

  private:
    static int Write(VipsRegion* region, VipsRect* area, void* self) {
        return static_cast<RowDriver*>(self)->Rows(region, area) ? 0 : -1;
    }

    bool Rows(VipsRegion* region, const VipsRect* area) {
        try {
            for (int y = area->top; y < area->top + area->height; ++y) {
                const auto* p =
                    reinterpret_cast<const unsigned char*>(VIPS_REGION_ADDR(region, area->left, y));
                const bool ok = resampler_ ? resampler_->Push(y, p, row_) : row_(p);
                if (!ok) {
                    stopped_ = true;
                    return false;
                }
            }
            return true;
        } catch (...) {
            threw_ = true;
            return false;
        }
    }

    const PageSource::RowSink& row_;
    LinearResampler* const resampler_;
    // Set on libvips' writing thread; read after vips_sink_disc has joined it.
    bool stopped_ = false;
    bool threw_ = false;
};

// vips_resize rounds its output size itself: trim, or repeat the edge
// pixels, to the exact size.
VImage ToExactSize(VImage in, int width, int height) {
    if (in.width() > width || in.height() > height) {
        in = in.crop(0, 0, std::min(in.width(), width), std::min(in.height(), height));
    }
    if (in.width() < width || in.height() < height) {
        in = in.embed(0, 0, width, height, VImage::option()->set("extend", VIPS_EXTEND_COPY));
    }
    return in;
}

// Orientations 5 to 8 store the image turned a quarter: its stored axes
// are the page's, swapped.
bool SwapsAxes(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

// libjpeg's DCT scaling (libvips' shrink-on-load) for a JPEG stored
// storedW x storedH printed at targetW x targetH in the same orientation: 2,
// 4 or 8, or 1 for a full decode. The scaled decode is a per-block cut of
// the DCT, not the box libvips' resize shrinks with, so its pixels differ
// from a full decode reduced linearly; measured against that page (JPEG
// sources, quality 95 pages, test photos with fine waves and grain), the
// difference stays at 47 dB or more only once the whole reduction is 10 or more
// and a reduction of at least 2 is left after the shrink (the margin
// libvips' thumbnail keeps too). Below 10 a 2x shrink costs 37 to 45 dB.
// The stored size must be a multiple of the shrink, so that the shrunk
// pixels lie on the full image's grid and the rest of the reduction keeps
// its exact scale.
int JpegShrink(int storedW, int storedH, int targetW, int targetH) {
    constexpr double kFromReduction = 10.0;
    constexpr double kRestLeft = 2.0;
    const double reduction =
        std::min(static_cast<double>(storedW) / targetW, static_cast<double>(storedH) / targetH);
    if (reduction < kFromReduction) return 1;
    for (const int shrink : {8, 4, 2}) {
        if (reduction / shrink >= kRestLeft && storedW % shrink == 0 && storedH % shrink == 0) {
            return shrink;
        }
    }
    return 1;
}

class VipsPageSource final : public PageSource {
  public:
    // decoded may be shrunk on load; storedW x storedH is the file's own size.
    VipsPageSource(VSource source, VImage decoded, std::string loader, int storedW, int storedH,
                   int width, int height, int orientation)
        : source_(std::move(source)), orientation_(orientation) {
        loader_ = std::move(loader);
        storedWidth_ = storedW;
        storedHeight_ = storedH;
        width_ = width;
        height_ = height;
        codec_ = loader_.starts_with("jpegload") ? PageCodec::Dct : PageCodec::FlateUp;
        storedTargetW_ = Turns() ? height : width;
        storedTargetH_ = Turns() ? width : height;
        rgb_ = ToOpaqueRgb(std::move(decoded));
    }

    Status Pump(const RowSink& row) override {
        try {
            if (orientation_ == 1) return Stage(row);
            return EnlargesTurned() ? PumpTurnedSource(row) : PumpTurned(row);
        } catch (const VError&) {
        } catch (const std::exception&) {
        }
        return Damaged();
    }

  private:
    bool Turns() const { return SwapsAxes(orientation_); }

    // The rows at the size on paper in the stored orientation: through
    // LinearResampler, which computes what libvips' linear resize does for
    // factors it handles at a fraction of the cost, else libvips' resize.
    Status Stage(const RowSink& row) {
        const int w = storedTargetW_, h = storedTargetH_;
        if (w == rgb_.width() && h == rgb_.height()) return RowDriver(row, nullptr).Run(rgb_);
        if (LinearResampler::Handles(rgb_.width(), rgb_.height(), w, h)) {
            LinearResampler resampler(rgb_.width(), rgb_.height(), w, h);
            Status s = RowDriver(row, &resampler).Run(rgb_);
            if (s.Ok() && resampler.RowsOut() != h) {
                return Status::Failure(HF_ERR_DAMAGED, "the image ended early");
            }
            return s;
        }
        const double hscale = static_cast<double>(w) / rgb_.width();
        const double vscale = static_cast<double>(h) / rgb_.height();
        VImage resized = rgb_.resize(
            hscale, VImage::option()->set("vscale", vscale)->set("kernel", VIPS_KERNEL_LINEAR));
        return RowDriver(row, nullptr).Run(ToExactSize(std::move(resized), w, h));
    }

    // Enlarging a turned image with LinearResampler: then the source is the
    // smaller one to hold.
    bool EnlargesTurned() const {
        return storedTargetW_ >= rgb_.width() && storedTargetH_ >= rgb_.height() &&
               LinearResampler::Handles(rgb_.width(), rgb_.height(), storedTargetW_,
                                        storedTargetH_);
    }

    // Decodes the whole source into memory, turns it upright and enlarges
    // it from there, giving the rows as they are made. The page is as if
    // enlarged in the stored orientation and then turned (today's order):
    // on an upright axis that runs against its stored one, the resampler
    // samples mirrored.
    Status PumpTurnedSource(const RowSink& row) {
        VImage stored = rgb_.copy_memory();
        rgb_ = VImage();  // the decoder and its buffers are done
        stored.set(VIPS_META_ORIENTATION, orientation_);
        const VImage upright = stored.autorot();
        // Orientations 2, 3, 6 and 7 run the upright x axis backwards
        // through the stored image; 3, 4, 7 and 8 the upright y axis.
        const bool mirrorX =
            orientation_ == 2 || orientation_ == 3 || orientation_ == 6 || orientation_ == 7;
        const bool mirrorY =
            orientation_ == 3 || orientation_ == 4 || orientation_ == 7 || orientation_ == 8;
        LinearResampler resampler(upright.width(), upright.height(), width_, height_, mirrorX,
                                  mirrorY);
        Status s = RowDriver(row, &resampler).Run(upright);
        if (s.Ok() && resampler.RowsOut() != height_) {
            return Status::Failure(HF_ERR_DAMAGED, "the image ended early");
        }
        return s;
    }

    // Resamples the whole page in its stored orientation into memory, then
    // gives the turned rows.
    Status PumpTurned(const RowSink& row) {
        const std::size_t rowBytes = static_cast<std::size_t>(storedTargetW_) * 3;
        std::vector<unsigned char> page(rowBytes * static_cast<std::size_t>(storedTargetH_));
        std::size_t filled = 0;
        Status s = Stage([&](const unsigned char* r) {
            if (filled + rowBytes > page.size()) return false;
            std::memcpy(page.data() + filled, r, rowBytes);
            filled += rowBytes;
            return true;
        });
        if (!s.Ok()) return s;
        if (filled != page.size()) return Status::Failure(HF_ERR_DAMAGED, "the image ended early");
        rgb_ = VImage();  // the decoder and its buffers are done
        VImage stored = VImage::new_from_memory(page.data(), page.size(), storedTargetW_,
                                                storedTargetH_, 3, VIPS_FORMAT_UCHAR);
        stored.set(VIPS_META_ORIENTATION, orientation_);
        const VImage upright = stored.autorot();
        if (upright.width() != width_ || upright.height() != height_) {
            return Status::Failure(HF_ERR_DAMAGED, "the image could not be turned");
        }
        return RowDriver(row, nullptr).Run(upright);
    }

    VSource source_;  // holds the duplicate descriptor the decoder reads
    const int orientation_;
    int storedTargetW_ = 0, storedTargetH_ = 0;
    VImage rgb_;  // the decoded image, three 8-bit sRGB bands
};

// An upright JPEG without a colour profile: libjpeg's rows go straight into
// LinearResampler, or for reductions by 2 or more into LinearReducer, with no
// libvips in between (see JpegRows). The rows are the libvips path's
// (LinearReducer's bit for bit), so only the sizes these two take come
// here.
class JpegPageSource final : public PageSource {
  public:
    JpegPageSource(std::unique_ptr<JpegRows> rows, std::string loader, int storedW, int storedH,
                   int width, int height)
        : rows_(std::move(rows)) {
        loader_ = std::move(loader);
        storedWidth_ = storedW;
        storedHeight_ = storedH;
        width_ = width;
        height_ = height;
        codec_ = PageCodec::Dct;
    }

    // True when the decoded rows (decodedW x decodedH) can be brought to
    // the page's size here.
    static bool Takes(int decodedW, int decodedH, int width, int height) {
        return LinearResampler::Handles(decodedW, decodedH, width, height) ||
               LinearReducer::Handles(decodedW, decodedH, width, height);
    }

    Status Pump(const RowSink& row) override {
        try {
            const int w = rows_->Width(), h = rows_->Height();
            if (w == width_ && h == height_) return rows_->Read(row);
            if (LinearResampler::Handles(w, h, width_, height_)) {
                LinearResampler resampler(w, h, width_, height_);
                return Through(resampler, row);
            }
            LinearReducer reducer(w, h, width_, height_);
            return Through(reducer, row);
        } catch (...) {
            return Status::Failure(HF_ERR_JOB_FAILED, "the page's rows could not be taken");
        }
    }

  private:
    template <typename Resampler>
    Status Through(Resampler& resampler, const RowSink& row) {
        int y = 0;
        Status s = rows_->Read([&](const unsigned char* r) { return resampler.Push(y++, r, row); });
        if (s.Ok() && resampler.RowsOut() != height_) {
            return Status::Failure(HF_ERR_DAMAGED, "the image ended early");
        }
        return s;
    }

    std::unique_ptr<JpegRows> rows_;
};

// True when libvips found an ICC profile in the file: its colours are then
// converted to sRGB, which only the libvips path does.
bool HasProfile(const VImage& in) {
    return vips_image_get_typeof(in.get_image(), VIPS_META_ICC_NAME) != 0;
}

Result<std::unique_ptr<PageSource>> OpenOrThrow(int fd, int width, int height) {
    Result<std::unique_ptr<PageSource>> result;
    VSource source = VSource::new_from_descriptor(fd);
    if (vips_foreign_find_load_source(source.get_source()) == nullptr) {
        result.Error = Status::Failure(HF_ERR_NOT_IMAGE, TakeVipsError("not a readable image"));
        return result;
    }
    // Sequential: the pixels are read once, top to bottom. fail_on error: a
    // truncated or damaged file fails instead of being padded with grey.
    VImage in = VImage::new_from_source(source, "",
                                        VImage::option()
                                            ->set("access", VIPS_ACCESS_SEQUENTIAL)
                                            ->set("fail_on", VIPS_FAIL_ON_ERROR));
    const std::uint64_t stored =
        static_cast<std::uint64_t>(std::max(in.width(), 0)) * std::max(in.height(), 0);
    if (in.width() <= 0 || in.height() <= 0 || stored > PageSource::kMaxPixels) {
        result.Error = Status::Failure(HF_ERR_TOO_LARGE, "the image is larger than accepted");
        return result;
    }
    const char* loader = nullptr;
    std::string loaderName;
    if (vips_image_get_typeof(in.get_image(), VIPS_META_LOADER) != 0 &&
        vips_image_get_string(in.get_image(), VIPS_META_LOADER, &loader) == 0 && loader) {
        loaderName = loader;
    }
    vips_error_clear();
    int orientation = vips_image_get_orientation(in.get_image());
    if (orientation < 1 || orientation > 8) orientation = 1;
    const int storedW = in.width(), storedH = in.height();
    if (loaderName.starts_with("jpegload")) {
        // The shrink applies to the stored image, before it is turned.
        const int shrink = SwapsAxes(orientation) ? JpegShrink(storedW, storedH, height, width)
                                                  : JpegShrink(storedW, storedH, width, height);
        if (orientation == 1 && !HasProfile(in) &&
            JpegPageSource::Takes(storedW / shrink, storedH / shrink, width, height)) {
            if (std::unique_ptr<JpegRows> rows = JpegRows::Open(fd, shrink);
                rows && rows->Width() * shrink == storedW && rows->Height() * shrink == storedH) {
                result.Value = std::make_unique<JpegPageSource>(
                    std::move(rows), std::move(loaderName), storedW, storedH, width, height);
                return result;
            }
        }
        if (shrink > 1) {
            in = VImage::jpegload_source(source, VImage::option()
                                                     ->set("shrink", shrink)
                                                     ->set("access", VIPS_ACCESS_SEQUENTIAL)
                                                     ->set("fail_on", VIPS_FAIL_ON_ERROR));
            if (in.width() * shrink != storedW || in.height() * shrink != storedH) {
                result.Error = Status::Failure(HF_ERR_DAMAGED, "the image header is damaged");
                return result;
            }
        }
    }
    result.Value =
        std::make_unique<VipsPageSource>(std::move(source), std::move(in), std::move(loaderName),
                                         storedW, storedH, width, height, orientation);
    return result;
}

}  // namespace

Result<std::unique_ptr<PageSource>> PageSource::Open(int fd, int width, int height) {
    Result<std::unique_ptr<PageSource>> result;
    if (width <= 0 || height <= 0 ||
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMaxPixels) {
        result.Error = Status::Failure(HF_ERR_TOO_LARGE, "the page size is not usable");
        return result;
    }
    if (!InitVipsOnce()) {
        result.Error = Status::Failure(HF_ERR_NOT_IMAGE, "libvips could not be started");
        return result;
    }
    try {
        return OpenOrThrow(fd, width, height);
    } catch (const VError&) {
    } catch (const std::exception&) {
    }
    result.Error = Status::Failure(HF_ERR_DAMAGED, TakeVipsError("the image header is damaged"));
    return result;
}

}  // namespace tallowin
