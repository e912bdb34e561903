// The one-page PDF document that a print job hands to the spooler.
#pragma once

#include <cstddef>
#include <functional>

#include "engine/platform_services.h"

// Receives the document's bytes in order, in pieces of any size. Returns
// false to refuse them, which ends the document.
using PdfSink = std::function<bool(const unsigned char* data, std::size_t size)>;

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
