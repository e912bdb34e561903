#include "tests/support/legacy_page.h"

#include <vips/vips8>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "page/source/vips_colour.h"

using namespace tallowin;

namespace legacy {
namespace {

using vips::VImage;

VImage ToExactSize(VImage in, int width, int height) {
    if (in.width() > width || in.height() > height) {
        in = in.crop(0, 0, std::min(in.width(), width), std::min(in.height(), height));
    }
    if (in.width() < width || in.height() < height) {
        in = in.embed(0, 0, width, height, VImage::option()->set("extend", VIPS_EXTEND_COPY));
    }
    return in;
}

bool WriteOrThrow(const std::string& path, const PageGeometry& g, int width, int height,
                  const PdfSink& sink) {
    VImage in = VImage::new_from_file(path.c_str(), VImage::option()
                                                        ->set("access", VIPS_ACCESS_SEQUENTIAL)
                                                        ->set("fail_on", VIPS_FAIL_ON_ERROR));
    const char* loaderName = nullptr;
    vips_image_get_string(in.get_image(), VIPS_META_LOADER, &loaderName);
    const std::string loader = loaderName ? loaderName : "";
    int orientation = vips_image_get_orientation(in.get_image());
    if (orientation < 1 || orientation > 8) orientation = 1;
    const bool turns = orientation >= 5;
    const int storedW = in.width(), storedH = in.height();
    in = ToOpaqueRgb(std::move(in));
    const int tw = turns ? height : width, th = turns ? width : height;
    const double hscale = static_cast<double>(tw) / storedW;
    const double vscale = static_cast<double>(th) / storedH;
    if (hscale != 1.0 || vscale != 1.0) {
        in = in.resize(hscale,
                       VImage::option()->set("vscale", vscale)->set("kernel", VIPS_KERNEL_LINEAR));
    }
    in = ToExactSize(std::move(in), tw, th);
    if (orientation != 1) {
        in = in.copy_memory();
        in.set(VIPS_META_ORIENTATION, orientation);
        in = in.autorot();
    }
    PageImage page;
    page.Width = in.width();
    page.Height = in.height();
    if (loader.starts_with("jpegload")) {
        VipsBlob* blob = in.jpegsave_buffer(VImage::option()
                                                ->set("Q", 95)
                                                ->set("strip", true)
                                                ->set("interlace", false)
                                                ->set("optimize_coding", false));
        std::size_t size = 0;
        const void* bytes = vips_blob_get(blob, &size);
        page.Format = PageImage::Encoding::Jpeg;
        page.Data = std::shared_ptr<const std::uint8_t>(
            static_cast<const std::uint8_t*>(bytes),
            [blob](const std::uint8_t*) { vips_area_unref(VIPS_AREA(blob)); });
        page.Size = size;
    } else {
        const VImage bgrx =
            VImage::bandjoin({in.extract_band(2), in.extract_band(1), in.extract_band(0)})
                .bandjoin_const({255});
        std::size_t size = 0;
        void* bytes = bgrx.write_to_memory(&size);
        page.Format = PageImage::Encoding::Bgrx;
        page.Stride = 4 * bgrx.width();
        page.Data = std::shared_ptr<const std::uint8_t>(
            static_cast<const std::uint8_t*>(bytes),
            [](const std::uint8_t* p) { g_free(const_cast<std::uint8_t*>(p)); });
        page.Size = size;
    }
    return WritePdfPage(g, page, sink);
}

}  // namespace

bool WritePage(const std::string& path, const PageGeometry& g, int width, int height,
               const PdfSink& sink) {
    if (!InitVipsOnce()) return false;
    try {
        return WriteOrThrow(path, g, width, height, sink);
    } catch (const std::exception&) {
        vips_error_clear();
        return false;
    }
}

}  // namespace legacy
