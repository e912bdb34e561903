// The one-page PDF document the print job handed to the spooler before the
// page was streamed: a whole image laid on the page by cairo. Kept as the
// reference the streamed page is compared with in the tests.
#pragma once

#include <cstddef>
#include <functional>

#include <cstdint>
#include <memory>

#include "engine/ports/services.h"

using namespace tallowin;

// An image scaled to its size on paper, whole in memory.
struct PageImage {
    enum class Encoding {
        Jpeg,  // Data holds a JPEG file (the source was a JPEG)
        Bgrx,  // Data holds Height rows of Stride bytes, 4 bytes a pixel: B, G, R, unused
    };
    Encoding Format = Encoding::Bgrx;
    int Width = 0;
    int Height = 0;
    int Stride = 0;                            // Bgrx only
    std::shared_ptr<const std::uint8_t> Data;  // owner of the bytes, whatever allocated them
    std::size_t Size = 0;
};

// The same sink as the streamed page's.
using PdfSink = ByteSink;

// Writes one PDF page of the sheet's size (g.MediaWidthPt x g.MediaHeightPt)
// whose only content is image, its top-left corner at (g.LeftPt, g.TopPt)
// from the sheet's top-left corner, exactly image.Width x image.Height device
// pixels large (Width * 72 / g.Rx by Height * 72 / g.Ry points). The image is
// embedded as one image of exactly Width x Height pixels, marked for no
// smoothing, so nothing between here and the paper resamples it:
//   - Encoding::Jpeg: the JPEG bytes are embedded unchanged (DCTDecode). They
//     must be a JPEG whose header says Width x Height pixels and one (grey) or
//     three (YCbCr/RGB) components, stored upright; anything else (CMYK, an
//     EXIF orientation other than 1, damaged header, other size) is
//     refused. The pixels are never decoded and no pixel memory is
//     allocated: the cost is the JPEG's size, whatever the image's.
//   - Encoding::Bgrx: the rows are compressed losslessly (Flate); when every
//     pixel is grey cairo stores a grey image (one component, one bit when
//     only black and white occur), the values unchanged. Stride must be at
//     least Width * 4 and Size at least Stride * (Height - 1) + Width * 4.
//     cairo takes about as much memory again as the rows while it writes.
// The document carries no creation date, so the same arguments always give
// the same bytes.
//
// Returns true when the whole document went to sink. Returns false, having
// written nothing or a partial document, when g or image is unusable
// (non-positive sizes or resolutions, missing data), when cairo reports an
// error, or as soon as sink returns false (sink is then not called again).
// image's bytes are only read, and only during the call; sink is called on
// the calling thread only. Never throws (an exception from sink counts as a
// refusal). Thread-safe: calls share no state.
bool WritePdfPage(const PageGeometry& g, const PageImage& image, const PdfSink& sink);
