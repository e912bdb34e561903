#include "tests/support/pdf_page.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <vips/vips.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>

namespace {

struct SurfaceDestroyer {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDestroyer>;

struct ContextDestroyer {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using Context = std::unique_ptr<cairo_t, ContextDestroyer>;

struct PatternDestroyer {
    void operator()(cairo_pattern_t* p) const { cairo_pattern_destroy(p); }
};
using Pattern = std::unique_ptr<cairo_pattern_t, PatternDestroyer>;

struct VipsUnref {
    void operator()(VipsImage* image) const { g_object_unref(image); }
};
using VipsHandle = std::unique_ptr<VipsImage, VipsUnref>;

bool Usable(const PageGeometry& g) {
    return g.Rx > 0 && g.Ry > 0 && std::isfinite(g.MediaWidthPt) && g.MediaWidthPt > 0 &&
           std::isfinite(g.MediaHeightPt) && g.MediaHeightPt > 0 && std::isfinite(g.LeftPt) &&
           std::isfinite(g.TopPt);
}

// True when bytes hold a JPEG of exactly width x height pixels that a PDF
// reader shows as it should from the DCT stream alone: grey or
// three-component colour, stored upright. Only the header is read. CMYK is
// refused because Adobe's inverted CMYK JPEGs would print as a negative
// without a decode array, and an EXIF orientation because PDF readers ignore
// it and would print the image turned.
bool IsEmbeddableJpeg(const PageImage& image) {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = vips_init("tallowin") == 0; });
    if (!ready) return false;

    VipsImage* raw = nullptr;
    // jpegload_buffer wants a mutable pointer but only reads; the image is
    // dropped before the bytes can go.
    void* bytes = const_cast<std::uint8_t*>(image.Data.get());
    if (vips_jpegload_buffer(bytes, image.Size, &raw, nullptr) != 0) {
        vips_error_clear();
        return false;
    }
    const VipsHandle header(raw);
    const int bands = vips_image_get_bands(header.get());
    return vips_image_get_width(header.get()) == image.Width &&
           vips_image_get_height(header.get()) == image.Height && (bands == 1 || bands == 3) &&
           vips_image_get_interpretation(header.get()) != VIPS_INTERPRETATION_CMYK &&
           vips_image_get_orientation(header.get()) == 1;
}

// A source that stands for the JPEG: cairo's PDF surface embeds the attached
// JPEG as it is. A recording surface is used rather than an image surface
// because cairo copies an image surface's pixel memory when it is destroyed
// after having been painted (its snapshot is detached), which for an image
// surface created only to carry the JPEG would touch Width * Height * 4
// bytes that nobody needs; a recording surface has no pixels at all.
Pattern JpegPattern(const PageImage& image) {
    const cairo_rectangle_t extents{0, 0, static_cast<double>(image.Width),
                                    static_cast<double>(image.Height)};
    const Surface source(cairo_recording_surface_create(CAIRO_CONTENT_COLOR, &extents));
    if (cairo_surface_status(source.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    // The bytes are not copied; they outlive the surface, which dies before
    // WritePdfPage returns. No destroy callback: PageImage owns them.
    if (cairo_surface_set_mime_data(source.get(), CAIRO_MIME_TYPE_JPEG, image.Data.get(),
                                    image.Size, nullptr, nullptr) != CAIRO_STATUS_SUCCESS) {
        return nullptr;
    }
    return Pattern(cairo_pattern_create_for_surface(source.get()));
}

// An RGB24 image surface over image's rows when cairo can read them in place
// (little-endian B, G, R, X is cairo's RGB24 layout and the stride is one it
// accepts); otherwise a copy in cairo's layout. Once painted, cairo 1.16
// keeps a snapshot of the surface and copies the rows into it when the
// surface is destroyed, after the document is complete. A raster-source
// pattern would avoid that copy, but cairo 1.16 leaks a little memory for
// each page drawn from one.
Surface BgrxSurface(const PageImage& image) {
    const int minStride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, image.Width);
    if (minStride < 0 || image.Stride < image.Width * 4) return nullptr;
    const std::size_t rowBytes = static_cast<std::size_t>(image.Width) * 4;
    const std::size_t needed =
        static_cast<std::size_t>(image.Stride) * static_cast<std::size_t>(image.Height - 1) +
        rowBytes;
    if (image.Size < needed) return nullptr;

    const std::uint8_t* rows = image.Data.get();
    if (std::endian::native == std::endian::little && image.Stride >= minStride &&
        image.Stride % 4 == 0) {
        // cairo only reads a source surface; the cast is for its C signature.
        return Surface(cairo_image_surface_create_for_data(const_cast<std::uint8_t*>(rows),
                                                           CAIRO_FORMAT_RGB24, image.Width,
                                                           image.Height, image.Stride));
    }

    Surface copy(cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.Width, image.Height));
    if (cairo_surface_status(copy.get()) != CAIRO_STATUS_SUCCESS) return copy;
    cairo_surface_flush(copy.get());
    unsigned char* out = cairo_image_surface_get_data(copy.get());
    const int outStride = cairo_image_surface_get_stride(copy.get());
    for (int y = 0; y < image.Height; ++y) {
        const std::uint8_t* in = rows + static_cast<std::size_t>(image.Stride) * y;
        auto* px = reinterpret_cast<std::uint32_t*>(out + static_cast<std::size_t>(outStride) * y);
        for (int x = 0; x < image.Width; ++x, in += 4) {
            px[x] = (std::uint32_t{in[2]} << 16) | (std::uint32_t{in[1]} << 8) | in[0];
        }
    }
    cairo_surface_mark_dirty(copy.get());
    return copy;
}

// The sink as cairo's write callback. cairo does not report every failed
// write (one during the document's last bytes goes unnoticed), so the
// refusal is remembered here, and once refused the sink is never called again.
struct SinkState {
    const PdfSink& Sink;
    bool Refused = false;
};

cairo_status_t WriteToSink(void* closure, const unsigned char* data, unsigned int length) {
    auto& state = *static_cast<SinkState*>(closure);
    if (state.Refused) return CAIRO_STATUS_WRITE_ERROR;
    try {
        state.Refused = !state.Sink(data, length);
    } catch (...) {
        state.Refused = true;
    }
    return state.Refused ? CAIRO_STATUS_WRITE_ERROR : CAIRO_STATUS_SUCCESS;
}

}  // namespace

bool WritePdfPage(const PageGeometry& g, const PageImage& image, const PdfSink& sink) {
    if (!sink || !Usable(g) || image.Width <= 0 || image.Height <= 0 || !image.Data ||
        image.Size == 0) {
        return false;
    }

    // Declared before the PDF surface so that they outlive it.
    Surface pixels;
    Pattern source;
    switch (image.Format) {
        case PageImage::Encoding::Jpeg:
            if (!IsEmbeddableJpeg(image)) return false;
            source = JpegPattern(image);
            break;
        case PageImage::Encoding::Bgrx:
            pixels = BgrxSurface(image);
            if (!pixels || cairo_surface_status(pixels.get()) != CAIRO_STATUS_SUCCESS) {
                return false;
            }
            source = Pattern(cairo_pattern_create_for_surface(pixels.get()));
            break;
    }
    if (!source || cairo_pattern_status(source.get()) != CAIRO_STATUS_SUCCESS) return false;
    // Nearest neighbour makes cairo write /Interpolate false, so no reader
    // smooths the pixels; the pattern is drawn 1:1 on device pixels anyway.
    cairo_pattern_set_filter(source.get(), CAIRO_FILTER_NEAREST);
    cairo_pattern_set_extend(source.get(), CAIRO_EXTEND_NONE);

    SinkState state{sink};
    const Surface pdf(
        cairo_pdf_surface_create_for_stream(WriteToSink, &state, g.MediaWidthPt, g.MediaHeightPt));
    if (cairo_surface_status(pdf.get()) != CAIRO_STATUS_SUCCESS) return false;
    // An empty creation date leaves it out: same page, same bytes.
    cairo_pdf_surface_set_metadata(pdf.get(), CAIRO_PDF_METADATA_CREATE_DATE, "");
    cairo_pdf_surface_set_metadata(pdf.get(), CAIRO_PDF_METADATA_CREATOR, "Tallowin");

    {
        const Context cr(cairo_create(pdf.get()));
        // cairo's PDF user space starts at the sheet's top-left corner, y down,
        // in points; one unit after the scale is one printer pixel.
        cairo_translate(cr.get(), g.LeftPt, g.TopPt);
        cairo_scale(cr.get(), 72.0 / g.Rx, 72.0 / g.Ry);
        cairo_set_source(cr.get(), source.get());
        cairo_paint(cr.get());  // the pattern ends at the image's edges
        cairo_show_page(cr.get());
        if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) return false;
    }
    // Finishing writes the rest of the document; a refused write shows here.
    cairo_surface_finish(pdf.get());
    return !state.Refused && cairo_surface_status(pdf.get()) == CAIRO_STATUS_SUCCESS;
}
