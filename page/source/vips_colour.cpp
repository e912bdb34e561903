#include "page/source/vips_colour.h"

#include <mutex>
#include <optional>
#include <utility>

namespace tallowin {

namespace {

using vips::VError;
using vips::VImage;

// The colour bands of an image (no alpha) to 8-bit sRGB. An embedded ICC
// profile is honoured; when it cannot be used (broken, or not matching the
// pixels) the plain colourspace conversion takes over, so a bad profile
// never stops a print. CMYK without a profile goes through libvips' built-in
// CMYK profile; Adobe's inverted CMYK JPEGs are undone by the JPEG loader.
VImage ToSrgb8(const VImage& in) {
    if (in.get_typeof(VIPS_META_ICC_NAME) != 0) {
        try {
            return in.icc_transform("srgb", VImage::option()
                                                ->set("embedded", true)
                                                ->set("intent", VIPS_INTENT_RELATIVE)
                                                ->set("depth", 8));
        } catch (const VError&) {
            vips_error_clear();
        }
    }
    const VipsInterpretation space = in.guess_interpretation();
    if (space == VIPS_INTERPRETATION_CMYK && in.bands() >= 4) {
        return in.icc_transform("srgb", VImage::option()
                                            ->set("input_profile", "cmyk")
                                            ->set("intent", VIPS_INTENT_RELATIVE)
                                            ->set("depth", 8));
    }
    return in.colourspace(VIPS_INTERPRETATION_sRGB, VImage::option()->set("source_space", space));
}

// The value of an opaque pixel in the alpha band, as libvips counts it.
double MaxAlpha(const VImage& in) {
    switch (in.interpretation()) {
        case VIPS_INTERPRETATION_RGB16:
        case VIPS_INTERPRETATION_GREY16:
            return 65535;
        case VIPS_INTERPRETATION_scRGB:
            return 1;
        default:
            return in.format() == VIPS_FORMAT_USHORT ? 65535 : 255;
    }
}

// Exactly three 8-bit sRGB bands, alpha flattened on white.
//
// The alpha band is taken off before the colour conversion and put back as
// a 0..1 weight afterwards: an ICC transform to 8 bits leaves a 16-bit alpha
// band at 16-bit values, which a plain flatten would then take as opaque.
VImage ToOpaqueRgbImpl(VImage in) {
    if (in.coding() != VIPS_CODING_NONE) {
        VipsImage* decoded = nullptr;
        if (vips_image_decode(in.get_image(), &decoded) != 0) throw VError();
        in = VImage(decoded);
    }
    std::optional<VImage> weight;
    if (in.has_alpha() && in.bands() > 1) {
        weight = in.extract_band(in.bands() - 1).linear(1.0 / MaxAlpha(in), 0.0);
        in = in.extract_band(0, VImage::option()->set("n", in.bands() - 1));
    }
    in = ToSrgb8(in);
    if (in.bands() > 3) in = in.extract_band(0, VImage::option()->set("n", 3));
    if (in.bands() < 3) {
        const VImage grey = in.extract_band(0);
        in = VImage::bandjoin({grey, grey, grey});
    }
    if (weight) {
        // colour * a + white * (1 - a); the cast below clips what odd alpha
        // values might push out of 0..255.
        in = (in.linear(1.0, -255.0) * *weight).linear(1.0, 255.0).round(VIPS_OPERATION_ROUND_RINT);
    }
    if (in.format() != VIPS_FORMAT_UCHAR) in = in.cast(VIPS_FORMAT_UCHAR);
    return in.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

}  // namespace

vips::VImage ToOpaqueRgb(vips::VImage in) {
    return ToOpaqueRgbImpl(std::move(in));
}

bool InitVipsOnce() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        if (VIPS_INIT("tallowin") != 0) {
            vips_error_clear();
            return;
        }
        // Hot folders take files from anyone; the cache would only keep old
        // images in memory, as each file is decoded once.
        vips_block_untrusted_set(TRUE);
        vips_cache_set_max(0);
        vips_cache_set_max_mem(0);
        ok = true;
    });
    return ok;
}

}  // namespace tallowin
