// The image library adapter: image files decoded and resampled with libvips.
//
// The format is recognised from the file's bytes, never from its name. Only
// libvips' trusted loaders are used (JPEG, PNG, TIFF, WebP, GIF, HEIF, ...);
// the ones libvips marks untrusted (SVG, PDF, ImageMagick, ...) are blocked.
// A PDF document ("%PDF-" within its first 1024 bytes) never reaches
// libvips: it is opened by OpenPdfImage and prints all its pages.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/ports/profile.h"
#include "engine/ports/services.h"

namespace tallowin {

// Loads one image file.
//
// Load opens the file itself, without following a final symbolic link and
// without ever waiting on a fifo, accepts only a regular file and decodes
// from that open file, so the pixels printed are those of the file described
// by Image::Identity(). Load reads the header only; the pixels are decoded,
// once per call, by the page writer.
//
// Load fails with HF_ERR_NOT_IMAGE when the file cannot be opened or read
// (strerror: gone, no permission), is not a regular file, is in no format a
// trusted loader recognises, is one a blocked loader would read (SVG, PPM,
// JPEG 2000, JPEG XL), or is a JPEG of a process libjpeg does not
// decode (lossless, hierarchical, 12-bit); with HF_ERR_DAMAGED when a
// loader recognises it but cannot read its header; with HF_ERR_TOO_LARGE
// beyond one gigapixel (kMaxImagePixels, page/source/image_header.h) or
// when its decode would need more than the decode
// memory limit. The reason holds libvips' own words where libvips said
// why. A PDF document fails as OpenPdfImage fails, within
// PdfLimitsWithin(the decode memory limit). Nothing throws.
//
// The returned Image keeps its own duplicate of the file descriptor open
// until it is destroyed; it does not need the loader to outlive it.
//
// Image::Page opens the file again from that descriptor on every call and
// checks that its header still gives the loader and the size Load saw, else
// it fails with HF_ERR_CHANGED; a page over kMaxImagePixels fails with
// HF_ERR_TOO_LARGE, a width or height that is not positive with
// HF_ERR_DAMAGED. The PageWriter it returns streams the page (StreamPage):
// the file is decoded top to bottom as the document is written, JPEG files
// as a JPEG page, any other format lossless; a JPEG that its page does not
// reduce nor enlarge more than four times, placed without cutting, and
// that a PDF reader decodes as it is stored (JpegRows::CheckVerbatim) goes
// as it is (StreamVerbatimJpeg), for the printer to enlarge. Every loader
// runs with fail_on=error (JPEG with fail_on=warning, and every GIF frame is
// read through first, see CheckGifFrames), so a truncated file (any format,
// GIF and its later frames included) or damaged pixel data fails the
// writer's Write with HF_ERR_DAMAGED instead of printing a picture padded
// out with grey or guessed. Page also fails with HF_ERR_TOO_LARGE when the decode
// and a turned image's held rows need more than the memory limit. Once
// the pixels are read, before the document ends, Write checks that the open
// file and the file at the path are still the one Identity() describes;
// when not (a file still being copied grew under the decoder) it fails with
// HF_ERR_CHANGED, also in place of HF_ERR_DAMAGED. A writer holds its own
// descriptor and may outlive the Image and the loader.
//
// Thread-safety: Load may be called from several threads at once (libvips
// is initialised once per process, on the first Load). One Image must be
// used by one thread at a time.
class VipsImageLoader : public ImageLoader {
  public:
    // The most memory one picture's decode may hold at once, unless the
    // profile's [Init] DecodeMemoryLimit (MiB) says otherwise: a picture
    // whose header shows it needs more (see DecodeMemoryNeeded: progressive
    // JPEG, interlaced PNG, GIF, WebP, HEIF; a turned image's held rows) is
    // refused with HF_ERR_TOO_LARGE before anything is allocated, so that
    // one file never takes the service down.
    static constexpr std::uint64_t kDefaultDecodeMemoryLimit = std::uint64_t{512} << 20;

    explicit VipsImageLoader(std::uint64_t decodeMemoryLimit = kDefaultDecodeMemoryLimit)
        : decodeMemoryLimit_(decodeMemoryLimit) {}

    // Applies to the Loads that start afterwards; any thread.
    void SetDecodeMemoryLimit(std::uint64_t bytes) {
        decodeMemoryLimit_.store(bytes, std::memory_order_relaxed);
    }

    Result<std::unique_ptr<Image>> Load(const std::string& path) override;

  private:
    std::atomic<std::uint64_t> decodeMemoryLimit_;
};

// The decode memory limit a profile sets: [Init] DecodeMemoryLimit in MiB;
// the default when the key is missing or not positive.
std::uint64_t DecodeMemoryLimitOf(const Profile& profile);

}  // namespace tallowin
