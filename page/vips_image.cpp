#include "page/vips_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vips/vips8>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "os/file_identity.h"
#include "page/page_stream.h"
#include "page/pdf/pdf_image.h"
#include "page/source/decode_memory.h"
#include "page/source/image_header.h"
#include "page/source/page_source.h"
#include "page/source/vips_colour.h"
#include "util/unique_fd.h"

namespace tallowin {

namespace {

Status VipsFailure(HotFolderError code, std::string_view fallback) {
    return Status::Failure(code, TakeVipsError(fallback));
}

std::string PixelCount(std::uint64_t width, std::uint64_t height) {
    return std::to_string(width) + " x " + std::to_string(height) + " pixels";
}

using vips::VError;
using vips::VImage;
using vips::VSource;

// Reads exactly size bytes at offset; false on a short read or an error.
bool ReadAt(int fd, unsigned char* buf, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, buf, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buf += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

std::uint32_t BigEndian32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

// Whole dots per inch from a density in dots per millimetre; 0 for a
// density that is zero, negative, not a number or too large for an int.
int DpiFromPerMm(double perMm) {
    const double dpi = std::round(perMm * 25.4);
    if (!std::isfinite(dpi) || dpi <= 0 || dpi > INT_MAX) return 0;
    return static_cast<int>(dpi);
}

struct StoredDpi {
    int X = 0;
    int Y = 0;
};

// The PNG loader reports the same density for "no pHYs chunk" as for a
// pHYs chunk of 2834 dots per metre, and turns a unitless (aspect ratio
// only) pHYs into a density. So for PNG the pHYs chunk is read here, from
// the same descriptor: it must come before the first IDAT chunk.
// Returns nullopt when the file has no pHYs chunk there.
std::optional<StoredDpi> ReadPngPhys(int fd) {
    static constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    unsigned char head[8];
    if (!ReadAt(fd, head, sizeof head, 0) || std::memcmp(head, kSignature, 8) != 0) {
        return std::nullopt;
    }
    off_t offset = 8;
    // Every chunk takes at least 12 bytes, so the walk ends at the end of
    // the file at the latest.
    while (ReadAt(fd, head, sizeof head, offset)) {
        const std::uint32_t length = BigEndian32(head);
        const std::string_view type(reinterpret_cast<const char*>(head + 4), 4);
        if (type == "IDAT" || type == "IEND" || length > 0x7fffffffu) return std::nullopt;
        if (type == "pHYs") {
            unsigned char body[9];
            if (length != 9 || !ReadAt(fd, body, sizeof body, offset + 8)) return std::nullopt;
            StoredDpi r;
            if (body[8] == 1) {  // unit: metre; 0 means the values are an aspect ratio only
                r.X = DpiFromPerMm(BigEndian32(body) / 1000.0);
                r.Y = DpiFromPerMm(BigEndian32(body + 4) / 1000.0);
            }
            return r;
        }
        offset += 12 + static_cast<off_t>(length);
    }
    return std::nullopt;
}

// A text field of the image's metadata; empty when it has none.
std::string StringField(const VImage& image, const char* name) {
    const char* value = nullptr;
    if (vips_image_get_typeof(image.get_image(), name) == 0 ||
        vips_image_get_string(image.get_image(), name, &value) != 0 || value == nullptr) {
        vips_error_clear();
        return {};
    }
    return value;
}

// A rational EXIF value as libvips gives it ("299999/1000 (299.999,
// Rational, ...)"); 0 when it is not one.
double ExifRational(const VImage& image, const char* name) {
    const std::string text = StringField(image, name);
    double num = 0, den = 0;
    if (std::sscanf(text.c_str(), "%lf/%lf", &num, &den) != 2 || den == 0) return 0;
    return num / den;
}

// The HEIF loader (HEIC, AVIF) reads the EXIF data and sets
// "resolution-unit" from it, but leaves Xres/Yres at its default of one
// pixel a millimetre: the EXIF values are read here instead, with the same
// rule (unit inch or centimetre, else none).
StoredDpi ReadExifResolution(const VImage& image) {
    const std::string unit = StringField(image, "exif-ifd0-ResolutionUnit");
    double perInch = 0;
    if (unit.starts_with("2 ")) perInch = 1;
    if (unit.starts_with("3 ")) perInch = 2.54;
    if (perInch == 0) return {};
    return {DpiFromPerMm(ExifRational(image, "exif-ifd0-XResolution") * perInch / 25.4),
            DpiFromPerMm(ExifRational(image, "exif-ifd0-YResolution") * perInch / 25.4)};
}

// The resolution a file gives, in whole dots per inch, 0 x 0 when none.
//
// libvips always fills in Xres/Yres; for a file that carries no resolution
// it invents one (72 dpi for JPEG and PNG, 1 pixel/mm for TIFF). What tells
// them apart, found by loading files written every way:
//  - JPEG: the loader sets "resolution-unit" ("in" or "cm") only when a JFIF
//    APP0 density with unit inch or cm (and a density other than 1) or an
//    EXIF XResolution/YResolution with ResolutionUnit inch or cm was read.
//    JFIF unit 0 (aspect ratio only) and EXIF unit "none" leave it unset or
//    set it to "none".
//  - TIFF: "resolution-unit" is "in" or "cm" when XResolution and
//    YResolution are present with ResolutionUnit inch (also when the unit tag
//    is missing: inch is TIFF's default) or centimetre; ResolutionUnit none
//    or missing tags leave it unset.
//  - PNG: see ReadPngPhys; a file without pHYs falls back to the rule above
//    (a resolution from EXIF data).
// Everything else follows the same "resolution-unit" rule.
StoredDpi ReadResolution(const VImage& image, std::string_view loader, int fd) {
    if (loader.starts_with("pngload")) {
        if (auto phys = ReadPngPhys(fd)) return *phys;
    }
    if (loader.starts_with("heifload")) return ReadExifResolution(image);
    const std::string unit = StringField(image, "resolution-unit");
    if (unit == "in" || unit == "cm") {
        return {DpiFromPerMm(image.xres()), DpiFromPerMm(image.yres())};
    }
    return {};
}

// The page of one loaded image, streamed: decoded, resampled and encoded
// strip by strip while the document goes to the sink. Once the pixels are
// read, and before the document ends, the file must still be the one
// loaded: a file that grew meanwhile (still being copied) gave the decoder
// bytes its identity does not cover, and printing it now would print it
// again once the table sees its new size.
class VipsPageWriter final : public PageWriter {
  public:
    // Takes ownership of fd, a descriptor of the file being decoded. The
    // image goes (x, y) printer pixels from the printable area's top-left
    // corner. asStored: whether the file may go to the printer as it is
    // stored (a JPEG its page enlarges at most four times, not cut), when
    // it reads as such (see Write), and the orientation that turns its
    // stored pixels as the page shows them.
    struct AsStored {
        bool May = false;
        int Orientation = 1;
        std::uint64_t MemoryLimit = UINT64_MAX;
    };
    VipsPageWriter(std::unique_ptr<PageSource> source, int fd, std::string path,
                   const FileIdentity& identity, int x, int y, const AsStored& asStored)
        : source_(std::move(source)),
          fd_(fd),
          path_(std::move(path)),
          identity_(identity),
          x_(x),
          y_(y),
          asStored_(asStored) {}

    Status Write(const PageGeometry& printable, const ByteSink& sink,
                 const StopSignal& stop) override {
        PageGeometry g = printable;
        if (x_ != 0 && g.Rx > 0) g.LeftPt += x_ * 72.0 / g.Rx;
        if (y_ != 0 && g.Ry > 0) g.TopPt += y_ * 72.0 / g.Ry;
        // The source decodes once, top to bottom: a second page needs a
        // second writer.
        if (!source_) return Status::Failure(HF_ERR_JOB_FAILED, "the page was written already");
        const std::unique_ptr<PageSource> source = std::move(source_);
        PageStreamOptions options;
        options.BeforeEnd = [this] { return SameFileAsLoaded(fd_.get(), path_, identity_); };
        const StopQuery stopped = [&stop] { return stop.Requested(); };
        // Enlarging a photo here only multiplies the pixels the printer is
        // sent and costs a lossy encode: a JPEG it reads as it is goes
        // whole, and the printer enlarges it as it renders the page.
        std::optional<JpegRows::Verbatim> jpeg;
        if (asStored_.May) jpeg = JpegRows::CheckVerbatim(fd_.get(), asStored_.MemoryLimit);
        Status written =
            jpeg && jpeg->Width == source->StoredWidth() && jpeg->Height == source->StoredHeight()
                ? StreamVerbatimJpeg(fd_.get(), *jpeg, asStored_.Orientation, g, source->Width(),
                                     source->Height(), sink, stopped, options)
                : StreamPage(*source, g, sink, stopped, options);
        // Damaged data from a file that is still arriving is the change's
        // doing, not the file's.
        if (written.Code == HF_ERR_DAMAGED) {
            if (Status same = SameFileAsLoaded(fd_.get(), path_, identity_); !same.Ok())
                return same;
        }
        return written;
    }

  private:
    std::unique_ptr<PageSource> source_;
    const UniqueFd fd_;
    const std::string path_;
    const FileIdentity identity_;
    const int x_, y_;
    const AsStored asStored_;
};

// True when a picture side of `from` pixels becomes `to` on the page
// without shrinking and at most kMostEnlargedAsStored times: a JPEG the
// printer may enlarge itself. Beyond that, a printer that ignores the
// page's smoothing mark would print each pixel as a visible square, so the
// page is enlarged here, smoothly, as it always was.
constexpr int kMostEnlargedAsStored = 4;
bool EnlargedAtMost(int from, int to) {
    return to >= from &&
           static_cast<std::int64_t>(to) <= std::int64_t{kMostEnlargedAsStored} * from;
}

// The EXIF orientation of a picture stored with orientation, once its
// upright picture is turned a quarter counter-clockwise.
int TurnedAQuarter(int orientation) {
    static constexpr int kTurned[9] = {8, 8, 5, 6, 7, 4, 1, 2, 3};
    return kTurned[orientation >= 1 && orientation <= 8 ? orientation : 1];
}

class VipsImage final : public Image {
  public:
    // Takes ownership of fd.
    VipsImage(int fd, std::string path, std::string loader, int storedWidth, int storedHeight,
              int orientation, StoredDpi dpi, const FileIdentity& identity,
              std::uint64_t memoryLimit)
        : memoryLimit_(memoryLimit),
          fd_(fd),
          path_(std::move(path)),
          loader_(std::move(loader)),
          storedWidth_(storedWidth),
          storedHeight_(storedHeight),
          orientation_(orientation),
          dpi_(dpi),
          identity_(identity) {}

    int Width() const override { return SwapsAxes() ? storedHeight_ : storedWidth_; }
    int Height() const override { return SwapsAxes() ? storedWidth_ : storedHeight_; }
    int XDpi() const override { return SwapsAxes() ? dpi_.Y : dpi_.X; }
    int YDpi() const override { return SwapsAxes() ? dpi_.X : dpi_.Y; }
    const FileIdentity& Identity() const override { return identity_; }

    // Opens the file again from its own descriptor on every call, so it may
    // be called more than once; each writer decodes it once.
    Result<std::unique_ptr<PageWriter>> Page(int width, int height) override {
        return MakePage(width, height, nullptr);
    }

    // A placement that only moves the picture streams as Page does; one
    // that cuts or turns it decodes it whole (PageSource::OpenPlaced).
    Result<std::unique_ptr<PageWriter>> PlacedPage(const Placement& placement) override {
        const bool streams = !placement.Turned && !placement.Cut();
        return MakePage(placement.Tw, placement.Th, &placement, streams);
    }

  private:
    Result<std::unique_ptr<PageWriter>> MakePage(int width, int height, const Placement* placed,
                                                 bool streams = true) {
        if (width <= 0 || height <= 0) {
            return {nullptr, Status::Failure(HF_ERR_DAMAGED,
                                             "no page can be made of " + std::to_string(width) +
                                                 " x " + std::to_string(height) + " pixels")};
        }
        if (!WithinPixelLimit(width, height)) {
            return {nullptr,
                    Status::Failure(HF_ERR_TOO_LARGE, "a page of " + PixelCount(width, height) +
                                                          " is larger than the loader accepts")};
        }
        // Every duplicate shares the file offset, which Load's reads moved:
        // the decoder must start from the first byte.
        if (::lseek(fd_.get(), 0, SEEK_SET) != 0) {
            return {nullptr, Status::Failure(HF_ERR_DAMAGED, std::string("cannot read again: ") +
                                                                 std::strerror(errno))};
        }
        Result<std::unique_ptr<PageSource>> source =
            streams ? PageSource::Open(fd_.get(), width, height, memoryLimit_)
                    : PageSource::OpenPlaced(fd_.get(), *placed, memoryLimit_);
        if (!source.Ok()) {
            // The header read fine at Load: whatever fails now is the file
            // gone bad since, not a file of another kind.
            Status why = std::move(source.Error);
            if (why.Code == HF_ERR_NOT_IMAGE) why.Code = HF_ERR_DAMAGED;
            return {nullptr, std::move(why)};
        }
        const PageSource& s = *source.Value;
        if (s.StoredWidth() != storedWidth_ || s.StoredHeight() != storedHeight_ ||
            s.Loader() != loader_) {
            return {nullptr,
                    Status::Failure(HF_ERR_CHANGED, "the file changed since it was opened")};
        }
        const int kept = ::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0);
        if (kept < 0) {
            return {nullptr, Status::Failure(HF_ERR_JOB_FAILED, std::string("cannot keep the file "
                                                                            "open: ") +
                                                                    std::strerror(errno))};
        }
        const int x = placed != nullptr ? placed->X : 0;
        const int y = placed != nullptr ? placed->Y : 0;
        // A placement's quarter turn is only a matrix more for a JPEG that
        // goes as it is; a cut is not.
        const bool turned = placed != nullptr && placed->Turned;
        const VipsPageWriter::AsStored asStored{
            .May = (placed == nullptr || !placed->Cut()) && loader_.starts_with("jpegload") &&
                   EnlargedAtMost(turned ? Height() : Width(), width) &&
                   EnlargedAtMost(turned ? Width() : Height(), height),
            .Orientation = turned ? TurnedAQuarter(orientation_) : orientation_,
            .MemoryLimit = memoryLimit_};
        return {std::make_unique<VipsPageWriter>(std::move(source.Value), kept, path_, identity_, x,
                                                 y, asStored),
                {}};
    }

    bool SwapsAxes() const { return orientation_ >= 5 && orientation_ <= 8; }

    const std::uint64_t memoryLimit_;
    const UniqueFd fd_;  // our own duplicate of the file's descriptor
    const std::string path_;
    const std::string loader_;
    const int storedWidth_;
    const int storedHeight_;
    const int orientation_;  // EXIF orientation 1..8
    const StoredDpi dpi_;    // of the stored image, before any turn
    const FileIdentity identity_;
};

// True when the file starts like a JPEG, PNG, GIF, TIFF or WebP file. A
// loader's check reads more than the signature (libtiff wants the first
// directory, which may sit at the end), so a file of these formats that is
// cut short may be claimed by no loader at all: it is a damaged picture,
// not something other than a picture.
bool HasPictureSignature(int fd) {
    unsigned char head[12] = {};
    if (!ReadAt(fd, head, sizeof head, 0)) return false;
    const std::string_view h(reinterpret_cast<const char*>(head), sizeof head);
    return h.starts_with("\xFF\xD8\xFF") || h.starts_with("\x89PNG\r\n\x1A\n") ||
           h.starts_with("GIF87a") || h.starts_with("GIF89a") ||
           h.starts_with(std::string_view("II*\0", 4)) ||
           h.starts_with(std::string_view("MM\0*", 4)) ||
           (h.starts_with("RIFF") && h.substr(8, 4) == "WEBP");
}

Status NotImage(std::string reason) {
    return Status::Failure(HF_ERR_NOT_IMAGE, std::move(reason));
}

// The nickname of a loader libvips found that is blocked (an untrusted
// one: SVG, PDF, PPM, JPEG 2000, JPEG XL, ImageMagick ...); empty when the
// loader may be used. libvips finds blocked loaders too and only refuses
// them when they run, which would read as a damaged file.
std::string BlockedLoader(const char* typeName) {
    const GType type = g_type_from_name(typeName);
    if (type == 0) return typeName;
    const gpointer klass = g_type_class_ref(type);
    std::string nickname;
    if ((VIPS_OPERATION_CLASS(klass)->flags & VIPS_OPERATION_BLOCKED) != 0) {
        const char* name = VIPS_OBJECT_CLASS(klass)->nickname;
        nickname = name != nullptr ? name : typeName;
    }
    g_type_class_unref(klass);
    return nickname;
}

// Why a JPEG whose header libjpeg cannot read is not a damaged picture but
// one this program does not print: its frame marker names a process
// libjpeg-turbo does not decode here (lossless, hierarchical, or samples of
// other than 8 bits). Empty when the frame is one it decodes, or none is
// found (then the file is damaged).
std::string JpegProcessNotPrinted(int fd) {
    off_t at = 2;
    unsigned char m[5];
    // Every segment takes at least 4 bytes, so the walk ends at the end of
    // the file at the latest.
    while (ReadAt(fd, m, 4, at) && m[0] == 0xFF) {
        const unsigned marker = m[1];
        const unsigned length = (unsigned{m[2]} << 8) | m[3];
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (!ReadAt(fd, m, 5, at + 4)) return {};
            if (marker == 0xC3 || marker == 0xC7 || marker == 0xCB || marker == 0xCF) {
                return "a lossless JPEG, which this program does not print";
            }
            if (marker == 0xC5 || marker == 0xC6 || marker == 0xCD || marker == 0xCE) {
                return "a hierarchical JPEG, which this program does not print";
            }
            if (m[0] != 8) {
                return "a JPEG of " + std::to_string(m[0]) +
                       "-bit samples; this program prints 8-bit JPEG files only";
            }
            return {};
        }
        if (marker == 0xDA || length < 2) return {};  // scan data before any frame
        at += 2 + static_cast<off_t>(length);
    }
    return {};
}

Status FromErrno(const char* what) {
    return NotImage(std::string(what) + ": " + std::strerror(errno));
}

Result<std::unique_ptr<Image>> LoadOrThrow(const std::string& path, std::uint64_t memoryLimit) {
    // O_NOFOLLOW: a link is not a file of the folder. O_NONBLOCK: opening a
    // fifo must not wait for a writer (it is then refused as not regular).
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (!fd) return {nullptr, FromErrno("cannot open")};
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return {nullptr, FromErrno("cannot read its attributes")};
    if (!S_ISREG(st.st_mode)) return {nullptr, NotImage("not a regular file")};
    // Non-blocking only mattered for the open; reads of the file block as usual.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return {nullptr, FromErrno("cannot read")};
    }
    const FileIdentity identity = IdentityOf(st);
    // A PDF document is recognised by its content before any image loader
    // sees it, and prints as a document of pages.
    // Its objects are held in memory as they are read: the decode memory
    // limit bounds them too.
    if (StartsLikePdf(fd.get())) {
        return OpenPdfImage(std::move(fd), path, identity, PdfLimitsWithin(memoryLimit));
    }

    // The image keeps a duplicate of the descriptor for its pages; ours
    // closes when Load returns.
    VSource source = VSource::new_from_descriptor(fd.get());
    // A format no trusted loader claims is not a picture we print; a format
    // one claims but cannot read the header of is a damaged picture.
    const char* found = vips_foreign_find_load_source(source.get_source());
    if (found == nullptr) {
        return {nullptr,
                VipsFailure(HasPictureSignature(fd.get()) ? HF_ERR_DAMAGED : HF_ERR_NOT_IMAGE,
                            "no trusted loader reads this format")};
    }
    if (const std::string blocked = BlockedLoader(found); !blocked.empty()) {
        vips_error_clear();
        return {nullptr, NotImage("not a picture format this program prints (" + blocked + ")")};
    }
    ImageHeader header;
    try {
        header = ReadImageHeader(source);
    } catch (const VError&) {
        const std::string process = JpegProcessNotPrinted(fd.get());
        if (!process.empty() && std::string_view(found).find("Jpeg") != std::string_view::npos) {
            vips_error_clear();
            return {nullptr, NotImage(process)};
        }
        return {nullptr, VipsFailure(HF_ERR_DAMAGED, "libvips cannot read the header")};
    }
    const int width = header.Width;
    const int height = header.Height;
    if (width <= 0 || height <= 0) {
        return {nullptr,
                Status::Failure(HF_ERR_DAMAGED, "the header gives " + std::to_string(width) +
                                                    " x " + std::to_string(height) + " pixels")};
    }
    if (!WithinPixelLimit(width, height)) {
        return {nullptr,
                Status::Failure(HF_ERR_TOO_LARGE, PixelCount(width, height) + " is more than the " +
                                                      std::to_string(kMaxImagePixels) +
                                                      " pixels the loader accepts")};
    }
    std::string loader = header.Loader;
    if (const std::uint64_t needed = DecodeMemoryNeeded(header.Image, loader, fd.get());
        needed > memoryLimit) {
        return {nullptr,
                Status::Failure(HF_ERR_TOO_LARGE,
                                "decoding it needs " + std::to_string(ToMiB(needed)) +
                                    " MiB, more than the " + std::to_string(ToMiB(memoryLimit)) +
                                    " MiB allowed (DecodeMemoryLimit)")};
    }
    const int kept = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0);
    if (kept < 0) return {nullptr, FromErrno("cannot keep the file open")};
    const StoredDpi dpi = ReadResolution(header.Image, loader, fd.get());
    return {std::make_unique<VipsImage>(kept, path, std::move(loader), width, height,
                                        header.Orientation, dpi, identity, memoryLimit),
            {}};
}

}  // namespace

std::uint64_t DecodeMemoryLimitOf(const Profile& profile) {
    const std::int32_t mib = profile.GetInt("Init", "DecodeMemoryLimit", 0);
    if (mib <= 0) return VipsImageLoader::kDefaultDecodeMemoryLimit;
    return static_cast<std::uint64_t>(mib) << 20;
}

Result<std::unique_ptr<Image>> VipsImageLoader::Load(const std::string& path) {
    if (path.empty()) return {nullptr, NotImage("no file name")};
    if (!InitVipsOnce()) return {nullptr, NotImage("libvips did not start")};
    try {
        return LoadOrThrow(path, decodeMemoryLimit_.load(std::memory_order_relaxed));
    } catch (const VError&) {
        return {nullptr, VipsFailure(HF_ERR_NOT_IMAGE, "libvips cannot open the file")};
    } catch (const std::exception& e) {
        vips_error_clear();
        return {nullptr, NotImage(e.what())};
    }
}

}  // namespace tallowin
