#include "page/source/image_header.h"

namespace tallowin {

std::string TakeVipsError(std::string_view fallback) {
    std::string words = vips_error_buffer();
    vips_error_clear();
    while (!words.empty() && (words.back() == '\n' || words.back() == ' ')) words.pop_back();
    // Several lines become one.
    for (char& c : words) {
        if (c == '\n') c = ';';
    }
    return words.empty() ? std::string(fallback) : words;
}

ImageHeader ReadImageHeader(const vips::VSource& source) {
    ImageHeader header;
    header.Image = vips::VImage::new_from_source(source, "",
                                                 vips::VImage::option()
                                                     ->set("access", VIPS_ACCESS_SEQUENTIAL)
                                                     ->set("fail_on", VIPS_FAIL_ON_ERROR));
    VipsImage* image = header.Image.get_image();
    const char* loader = nullptr;
    if (vips_image_get_typeof(image, VIPS_META_LOADER) != 0 &&
        vips_image_get_string(image, VIPS_META_LOADER, &loader) == 0 && loader != nullptr) {
        header.Loader = loader;
    }
    header.Width = header.Image.width();
    header.Height = header.Image.height();
    header.Orientation = vips_image_get_orientation(image);
    if (header.Orientation < 1 || header.Orientation > 8) header.Orientation = 1;
    vips_error_clear();
    return header;
}

}  // namespace tallowin
