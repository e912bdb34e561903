// What every reader of an image file in libvips shares: the largest image
// accepted, libvips' words for a failure, and the header as it is read.
// The image adapter (page/vips_image) reads it at Load, the page source
// again for each page (to decode from the first byte and to see that the
// file is still the one loaded): both through ReadImageHeader, so they
// never read it two ways.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vips/vips8>

namespace tallowin {

// The largest image accepted, width x height of the stored image (and of a
// page): one gigapixel in the decimal sense. An 8-bit RGB image of this
// size is 3 GB decoded; anything larger is refused before any pixel is
// decoded.
inline constexpr std::uint64_t kMaxImagePixels = 1'000'000'000;

// True when width x height is positive and within kMaxImagePixels.
constexpr bool WithinPixelLimit(std::int64_t width, std::int64_t height) {
    return width > 0 && height > 0 &&
           static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <=
               kMaxImagePixels;
}

// libvips' own words for the last failure, taken out of its per-thread
// error buffer (which is then cleared, so the next failure starts afresh),
// on one line for the log and the window's tooltip; fallback when libvips
// said nothing.
std::string TakeVipsError(std::string_view fallback);

// An image file's header, as libvips reads it.
struct ImageHeader {
    vips::VImage Image;  // opened for one sequential read; no pixel read yet
    std::string Loader;  // libvips' loader nickname ("jpegload_source"); empty when unsaid
    int Width = 0;       // as stored, before any turn
    int Height = 0;
    int Orientation = 1;  // EXIF orientation 1..8
};

// Opens the image of source for one sequential read, top to bottom, with
// fail_on=error (a truncated or damaged file fails instead of being padded
// out with grey; it covers every loader, GIF included), and reads its
// header. Throws vips::VError as libvips does; leaves libvips' error
// buffer clear otherwise.
ImageHeader ReadImageHeader(const vips::VSource& source);

}  // namespace tallowin
