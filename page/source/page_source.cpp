#include "page/source/page_source.h"

#include <vips/vips8>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <functional>
#include <utility>
#include <vector>

#include "page/resample/linear_reducer.h"
#include "page/resample/linear_resampler.h"
#include "page/source/decode_memory.h"
#include "page/source/gif_frames.h"
#include "page/source/image_header.h"
#include "page/source/jpeg_rows.h"
#include "page/source/plane_source.h"
#include "page/source/upright_rows.h"
#include "page/source/vips_colour.h"

namespace tallowin {

namespace {

using vips::VError;
using vips::VImage;
using vips::VSource;

Status Damaged() {
    return Status::Failure(HF_ERR_DAMAGED, TakeVipsError("the image data is damaged"));
}

// Computes image (three 8-bit bands) strip by strip in libvips' thread pool
// and gives its rows in order to row. vips_sink_disc hands the strips over
// in order from one thread at a time.
class RowDriver {
  public:
    explicit RowDriver(const RowSink& row) : row_(row) {}

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
                if (!row_(p)) {
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

    const RowSink& row_;
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

// How a page source gives rows: all of them to the sink, or a failure.
using RowPump = std::function<Status(const RowSink&)>;

// Reads w x h rows into one buffer, all of them or a failure.
Status Gather(const RowPump& pump, int w, int h, std::vector<unsigned char>& into) {
    const std::size_t rowBytes = static_cast<std::size_t>(w) * 3;
    into.resize(rowBytes * static_cast<std::size_t>(h));
    std::size_t filled = 0;
    Status s = pump([&](const unsigned char* r) {
        if (filled + rowBytes > into.size()) return false;
        std::memcpy(into.data() + filled, r, rowBytes);
        filled += rowBytes;
        return true;
    });
    if (s.Ok() && filled != into.size()) {
        return Status::Failure(HF_ERR_DAMAGED, "the image ended early");
    }
    return s;
}

Status Stopped() {
    return Status::Failure(HF_ERR_UNREACHABLE, "the page was stopped");
}

// An image stored turned and enlarged: the whole source (w x h, from
// source) held, turned upright and enlarged from there to pw x ph, as if
// enlarged in the stored orientation and then turned: on an upright axis
// that runs against its stored one, the resampler samples mirrored.
Status PumpTurnedSource(const RowPump& source, int w, int h, int orientation, int pw, int ph,
                        const RowSink& row) {
    std::vector<unsigned char> stored;
    if (Status s = Gather(source, w, h, stored); !s.Ok()) return s;
    UprightRows upright(stored, w, h, orientation);
    const int o = orientation;
    const bool mirrorX = o == 2 || o == 3 || o == 6 || o == 7;
    const bool mirrorY = o == 3 || o == 4 || o == 7 || o == 8;
    LinearResampler resampler(upright.Width(), upright.Height(), pw, ph, mirrorX, mirrorY);
    for (int y = 0; y < upright.Height(); ++y) {
        if (!resampler.Push(y, upright.Row(y), row)) return Stopped();
    }
    if (resampler.RowsOut() != ph) return Status::Failure(HF_ERR_DAMAGED, "the image ended early");
    return Status::Success();
}

// An image stored turned otherwise: its page made in the stored
// orientation (w x h, from stage) into memory, then given turned.
Status PumpTurnedPage(const RowPump& stage, int w, int h, int orientation, const RowSink& row) {
    std::vector<unsigned char> page;
    if (Status s = Gather(stage, w, h, page); !s.Ok()) return s;
    UprightRows upright(page, w, h, orientation);
    for (int y = 0; y < upright.Height(); ++y) {
        if (!row(upright.Row(y))) return Stopped();
    }
    return Status::Success();
}

template <typename Resampler>
Status Through(const RowPump& pump, Resampler& resampler, int h, const RowSink& row) {
    int y = 0;
    Status s = pump([&](const unsigned char* r) { return resampler.Push(y++, r, row); });
    if (s.Ok() && resampler.RowsOut() != h) {
        return Status::Failure(HF_ERR_DAMAGED, "the image ended early");
    }
    return s;
}

// True when Resample takes sw x sh to w x h: kept, or both axes enlarged or
// kept, or both reduced or kept.
bool Resamples(int sw, int sh, int w, int h) {
    return (sw == w && sh == h) || LinearResampler::Handles(sw, sh, w, h) ||
           LinearReducer::Handles(sw, sh, w, h);
}

// pump's rows (sw x sh) brought to w x h: through LinearResampler where it
// copies libvips' resize closely and cheaply, else through LinearReducer,
// libvips' resize to the byte. Resamples(sw, sh, w, h) must hold.
Status Resample(const RowPump& pump, int sw, int sh, int w, int h, const RowSink& row) {
    if (sw == w && sh == h) return pump(row);
    if (LinearResampler::Handles(sw, sh, w, h)) {
        LinearResampler resampler(sw, sh, w, h);
        return Through(pump, resampler, h, row);
    }
    LinearReducer reducer(sw, sh, w, h);
    return Through(pump, reducer, h, row);
}

// The page's rows upright. stage gives them at the size on paper in the
// stored orientation (tw x th); source gives the decoded image (sw x sh).
// Turned, the smaller of the two is held: the source when it is enlarged
// (then the source is turned and enlarged upright), else the page.
Status PumpUpright(const RowPump& source, int sw, int sh, const RowPump& stage, int tw, int th,
                   int orientation, int width, int height, const RowSink& row) {
    if (orientation == 1) return stage(row);
    if (tw >= sw && th >= sh && LinearResampler::Handles(sw, sh, tw, th)) {
        return PumpTurnedSource(source, sw, sh, orientation, width, height, row);
    }
    return PumpTurnedPage(stage, tw, th, orientation, row);
}

class VipsPageSource final : public PageSource {
  public:
    // decoded may be shrunk on load; storedW x storedH is the file's own size.
    VipsPageSource(VSource source, VImage decoded, const std::string& loader, int storedW,
                   int storedH, int width, int height, int orientation)
        : PageSource(loader, storedW, storedH, width, height,
                     loader.starts_with("jpegload") ? PageCodec::Dct : PageCodec::FlateUp),
          source_(std::move(source)),
          orientation_(orientation) {
        storedTargetW_ = Turns() ? height : width;
        storedTargetH_ = Turns() ? width : height;
        rgb_ = ToOpaqueRgb(std::move(decoded));
    }

    Status Pump(const RowSink& row) override {
        try {
            // Once a turned image's rows are held, the decoder and its
            // buffers are done.
            const RowPump stage = [this](const RowSink& r) {
                Status s = Stage(r);
                if (orientation_ != 1) rgb_ = VImage();
                return s;
            };
            const RowPump decoded = [this](const RowSink& r) {
                Status s = RowDriver(r).Run(rgb_);
                rgb_ = VImage();
                return s;
            };
            return PumpUpright(decoded, rgb_.width(), rgb_.height(), stage, storedTargetW_,
                               storedTargetH_, orientation_, width_, height_, row);
        } catch (const VError&) {
        } catch (const std::exception&) {
        }
        return Damaged();
    }

  private:
    bool Turns() const { return SwapsAxes(orientation_); }

    // The rows at the size on paper in the stored orientation: through
    // Resample, or libvips' resize for the sizes that grow one way and
    // shrink the other.
    Status Stage(const RowSink& row) {
        const int w = storedTargetW_, h = storedTargetH_;
        if (Resamples(rgb_.width(), rgb_.height(), w, h)) {
            return Resample([this](const RowSink& r) { return RowDriver(r).Run(rgb_); },
                            rgb_.width(), rgb_.height(), w, h, row);
        }
        const double hscale = static_cast<double>(w) / rgb_.width();
        const double vscale = static_cast<double>(h) / rgb_.height();
        VImage resized = rgb_.resize(
            hscale, VImage::option()->set("vscale", vscale)->set("kernel", VIPS_KERNEL_LINEAR));
        return RowDriver(row).Run(ToExactSize(std::move(resized), w, h));
    }

    VSource source_;  // holds the duplicate descriptor the decoder reads
    const int orientation_;
    int storedTargetW_ = 0, storedTargetH_ = 0;
    VImage rgb_;  // the decoded image, three 8-bit sRGB bands
};

// A JPEG without a colour profile: libjpeg's rows go straight into
// LinearResampler, or for reductions by 2 or more into LinearReducer, with
// no libvips in between (see JpegRows). The rows are the libvips path's
// (LinearReducer's bit for bit), so only the sizes these two take come
// here. A JPEG stored turned is turned in memory as on the libvips path:
// its source held whole when it is enlarged, else its page.
class JpegPageSource final : public PageSource {
  public:
    JpegPageSource(std::unique_ptr<JpegRows> rows, const std::string& loader, int storedW,
                   int storedH, int width, int height, int orientation)
        : PageSource(loader, storedW, storedH, width, height, PageCodec::Dct),
          rows_(std::move(rows)),
          orientation_(orientation) {
        storedTargetW_ = SwapsAxes(orientation) ? height : width;
        storedTargetH_ = SwapsAxes(orientation) ? width : height;
    }

    Status Pump(const RowSink& row) override {
        try {
            return PumpUpright([this](const RowSink& r) { return rows_->Read(r); }, rows_->Width(),
                               rows_->Height(), [this](const RowSink& r) { return Stage(r); },
                               storedTargetW_, storedTargetH_, orientation_, width_, height_, row);
        } catch (...) {
            return Status::Failure(HF_ERR_JOB_FAILED, "the page's rows could not be taken");
        }
    }

  private:
    // The rows at the size on paper in the stored orientation.
    Status Stage(const RowSink& row) {
        return Resample([this](const RowSink& r) { return rows_->Read(r); }, rows_->Width(),
                        rows_->Height(), storedTargetW_, storedTargetH_, row);
    }

    std::unique_ptr<JpegRows> rows_;
    const int orientation_;
    int storedTargetW_ = 0, storedTargetH_ = 0;
};

// A picture turned and cut as a Placement says: libvips alone, on the
// whole decoded picture (see PageSource::OpenPlaced).
class PlacedPageSource final : public PageSource {
  public:
    PlacedPageSource(VSource source, VImage picture, const std::string& loader, int storedW,
                     int storedH, const Placement& placement)
        : PageSource(loader, storedW, storedH, placement.Tw, placement.Th,
                     loader.starts_with("jpegload") ? PageCodec::Dct : PageCodec::FlateUp),
          source_(std::move(source)),
          picture_(std::move(picture)),
          placement_(placement) {}

    Status Pump(const RowSink& row) override {
        try {
            return RowDriver(row).Run(Placed());
        } catch (const VError&) {
        } catch (const std::exception&) {
        }
        return Damaged();
    }

  private:
    // Only the pixels the Source region touches are scaled, at the whole
    // picture's scale, and then the region's own start within them is cut
    // to the page's exact size.
    VImage Placed() {
        VImage upright = ToOpaqueRgb(picture_.autorot());
        picture_ = VImage();
        if (placement_.Turned) upright = upright.rot(VIPS_ANGLE_D270);
        const PictureRegion& r = placement_.Source;
        const double xs = static_cast<double>(placement_.ScaledW) / upright.width();
        const double ys = static_cast<double>(placement_.ScaledH) / upright.height();
        const int x0 = std::clamp(static_cast<int>(std::floor(r.X)), 0, upright.width() - 1);
        const int y0 = std::clamp(static_cast<int>(std::floor(r.Y)), 0, upright.height() - 1);
        const int x1 = std::clamp(static_cast<int>(std::ceil(r.X + r.W)), x0 + 1, upright.width());
        const int y1 = std::clamp(static_cast<int>(std::ceil(r.Y + r.H)), y0 + 1, upright.height());
        VImage part = upright.crop(x0, y0, x1 - x0, y1 - y0);
        if (xs != 1.0 || ys != 1.0) {
            part = part.resize(
                xs, VImage::option()->set("vscale", ys)->set("kernel", VIPS_KERNEL_LINEAR));
        }
        const int ox =
            std::clamp(static_cast<int>(std::lround((r.X - x0) * xs)), 0, part.width() - 1);
        const int oy =
            std::clamp(static_cast<int>(std::lround((r.Y - y0) * ys)), 0, part.height() - 1);
        part = part.crop(ox, oy, part.width() - ox, part.height() - oy);
        return ToExactSize(std::move(part), width_, height_);
    }

    VSource source_;  // holds the duplicate descriptor the decoder reads
    VImage picture_;  // as decoded, before its EXIF turn
    const Placement placement_;
};

// True when libvips found an ICC profile in the file: its colours are then
// converted to sRGB, which only the libvips path does.
bool HasProfile(const VImage& in) {
    return vips_image_get_typeof(in.get_image(), VIPS_META_ICC_NAME) != 0;
}

// The file's header, once a trusted loader knows its format and its size is
// within the pixel limit: HF_ERR_NOT_IMAGE or HF_ERR_TOO_LARGE otherwise.
Result<ImageHeader> ReadCheckedHeader(VSource& source) {
    Result<ImageHeader> result;
    if (vips_foreign_find_load_source(source.get_source()) == nullptr) {
        result.Error = Status::Failure(HF_ERR_NOT_IMAGE, TakeVipsError("not a readable image"));
        return result;
    }
    result.Value = ReadImageHeader(source);
    if (!WithinPixelLimit(result.Value.Width, result.Value.Height)) {
        result.Error = Status::Failure(HF_ERR_TOO_LARGE, "the image is larger than accepted");
    }
    return result;
}

// The file's header as ReadCheckedHeader reads it, refused before anything
// is allocated when its decoder and the bytes held besides (held, of the
// header) need more than memoryLimit: HF_ERR_TOO_LARGE. A GIF's frames are
// read through once first, as libvips would print a frame whose data ends
// early with its rest blank (see CheckGifFrames).
Result<ImageHeader> ReadDecodableHeader(
    VSource& source, int fd, std::uint64_t memoryLimit,
    const std::function<std::uint64_t(const ImageHeader&)>& held) {
    Result<ImageHeader> result = ReadCheckedHeader(source);
    if (!result.Ok()) return result;
    const ImageHeader& header = result.Value;
    if (const std::uint64_t needed =
            DecodeMemoryNeeded(header.Image, header.Loader, fd) + held(header);
        needed > memoryLimit) {
        result.Error = Status::Failure(
            HF_ERR_TOO_LARGE, "decoding it needs " + std::to_string(ToMiB(needed)) +
                                  " MiB, more than the " + std::to_string(ToMiB(memoryLimit)) +
                                  " MiB allowed");
    } else if (header.Loader.starts_with("gifload")) {
        result.Error = CheckGifFrames(fd);
    }
    return result;
}

// For JPEG a warning is damage: libjpeg goes on past corrupt data with a
// warning and pads or guesses the rest (a file cut short and closed with an
// end marker prints half grey), so libvips' path runs with fail_on=warning,
// as the JpegRows path fails on warnings (see there). Other loaders warn
// about things that do not touch the pixels (a PNG's unknown or ancillary
// chunk) and fail on the errors that do: they keep fail_on=error.
Result<std::unique_ptr<PageSource>> OpenOrThrow(int fd, int width, int height,
                                                std::uint64_t memoryLimit) {
    Result<std::unique_ptr<PageSource>> result;
    VSource source = VSource::new_from_descriptor(fd);
    Result<ImageHeader> checked =
        ReadDecodableHeader(source, fd, memoryLimit, [&](const ImageHeader& h) -> std::uint64_t {
            // A turned image holds the smaller of its source and its page whole.
            if (h.Orientation == 1) return 0;
            return std::min(
                       static_cast<std::uint64_t>(h.Width) * h.Height,
                       static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height)) *
                   3;
        });
    if (!checked.Ok()) {
        result.Error = std::move(checked.Error);
        return result;
    }
    ImageHeader header = std::move(checked.Value);
    const int orientation = header.Orientation;
    const int storedW = header.Width, storedH = header.Height;
    VImage in = std::move(header.Image);
    const std::string& loaderName = header.Loader;
    if (loaderName.starts_with("jpegload")) {
        // The shrink applies to the stored image, before it is turned.
        const int targetW = SwapsAxes(orientation) ? height : width;
        const int targetH = SwapsAxes(orientation) ? width : height;
        const int shrink = JpegShrink(storedW, storedH, targetW, targetH);
        if (!HasProfile(in) &&
            PlanesResample(storedW / shrink, storedH / shrink, targetW, targetH)) {
            if (std::unique_ptr<JpegRows> planes = JpegRows::OpenPlanes(fd, shrink, memoryLimit);
                planes && planes->Width() * shrink == storedW &&
                planes->Height() * shrink == storedH) {
                result.Value = MakeJpegPlanesSource(std::move(planes), loaderName, storedW, storedH,
                                                    width, height, orientation);
                return result;
            }
        }
        if (!HasProfile(in) && Resamples(storedW / shrink, storedH / shrink, targetW, targetH)) {
            if (std::unique_ptr<JpegRows> rows = JpegRows::Open(fd, shrink, memoryLimit);
                rows && rows->Width() * shrink == storedW && rows->Height() * shrink == storedH) {
                result.Value = std::make_unique<JpegPageSource>(
                    std::move(rows), loaderName, storedW, storedH, width, height, orientation);
                return result;
            }
        }
        // Opened again on libvips' path: shrunk on load, and failing on
        // libjpeg's warnings (see above).
        in = VImage::jpegload_source(source, VImage::option()
                                                 ->set("shrink", shrink)
                                                 ->set("access", VIPS_ACCESS_SEQUENTIAL)
                                                 ->set("fail_on", VIPS_FAIL_ON_WARNING));
        if (in.width() * shrink != storedW || in.height() * shrink != storedH) {
            result.Error = Status::Failure(HF_ERR_DAMAGED, "the image header is damaged");
            return result;
        }
    }
    result.Value = std::make_unique<VipsPageSource>(std::move(source), std::move(in), loaderName,
                                                    storedW, storedH, width, height, orientation);
    return result;
}

Result<std::unique_ptr<PageSource>> OpenPlacedOrThrow(int fd, const Placement& placement,
                                                      std::uint64_t memoryLimit) {
    Result<std::unique_ptr<PageSource>> result;
    VSource source = VSource::new_from_descriptor(fd);
    Result<ImageHeader> checked =
        ReadDecodableHeader(source, fd, memoryLimit, [](const ImageHeader& h) {
            // Held whole, in three bands, besides what the decoder needs.
            return static_cast<std::uint64_t>(h.Width) * static_cast<std::uint64_t>(h.Height) * 3;
        });
    if (!checked.Ok()) {
        result.Error = std::move(checked.Error);
        return result;
    }
    const ImageHeader header = std::move(checked.Value);
    // Opened again for reads in any order; a JPEG's warning is damage, as
    // on the streaming path.
    VSource again = VSource::new_from_descriptor(fd);
    VImage picture = VImage::new_from_source(
        again, "",
        VImage::option()->set("fail_on", header.Loader.starts_with("jpegload")
                                             ? VIPS_FAIL_ON_WARNING
                                             : VIPS_FAIL_ON_ERROR));
    if (picture.width() != header.Width || picture.height() != header.Height) {
        result.Error = Status::Failure(HF_ERR_DAMAGED, "the image header is damaged");
        return result;
    }
    result.Value =
        std::make_unique<PlacedPageSource>(std::move(again), std::move(picture), header.Loader,
                                           header.Width, header.Height, placement);
    return result;
}

}  // namespace

Status PageSource::PumpPlanes(const PlaneRowSink&) {
    return Status::Failure(HF_ERR_JOB_FAILED, "the page comes as rows");
}

Result<std::unique_ptr<PageSource>> PageSource::OpenPlaced(int fd, const Placement& placement,
                                                           std::uint64_t memoryLimit) {
    Result<std::unique_ptr<PageSource>> result;
    if (placement.Tw <= 0 || placement.Th <= 0 || !WithinPixelLimit(placement.Tw, placement.Th)) {
        result.Error = Status::Failure(HF_ERR_TOO_LARGE, "the page size is not usable");
        return result;
    }
    if (!InitVipsOnce()) {
        result.Error = Status::Failure(HF_ERR_NOT_IMAGE, "libvips could not be started");
        return result;
    }
    try {
        return OpenPlacedOrThrow(fd, placement, memoryLimit);
    } catch (const VError&) {
    } catch (const std::exception&) {
    }
    result.Error = Status::Failure(HF_ERR_DAMAGED, TakeVipsError("the image header is damaged"));
    return result;
}

Result<std::unique_ptr<PageSource>> PageSource::Open(int fd, int width, int height,
                                                     std::uint64_t memoryLimit) {
    Result<std::unique_ptr<PageSource>> result;
    if (!WithinPixelLimit(width, height)) {
        result.Error = Status::Failure(HF_ERR_TOO_LARGE, "the page size is not usable");
        return result;
    }
    if (!InitVipsOnce()) {
        result.Error = Status::Failure(HF_ERR_NOT_IMAGE, "libvips could not be started");
        return result;
    }
    try {
        return OpenOrThrow(fd, width, height, memoryLimit);
    } catch (const VError&) {
    } catch (const std::exception&) {
    }
    result.Error = Status::Failure(HF_ERR_DAMAGED, TakeVipsError("the image header is damaged"));
    return result;
}

}  // namespace tallowin
