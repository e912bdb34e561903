#include "page/source/decode_memory.h"

#include <unistd.h>

#include <algorithm>

namespace tallowin {

namespace {

// The PNG header's interlace method (0 none, 1 Adam7); 0 when unreadable.
int PngInterlace(int fd) {
    // Signature (8), IHDR length and type (8), width, height (8), depth,
    // colour type, compression, filter: the method is byte 28.
    unsigned char method = 0;
    return ::pread(fd, &method, 1, 28) == 1 ? method : 0;
}

int IntField(const vips::VImage& image, const char* name) {
    int value = 0;
    if (vips_image_get_typeof(image.get_image(), name) == 0 ||
        vips_image_get_int(image.get_image(), name, &value) != 0) {
        vips_error_clear();
        return 0;
    }
    return value;
}

}  // namespace

std::uint64_t DecodeMemoryNeeded(const vips::VImage& header, std::string_view loader, int fd) {
    const std::uint64_t pixels = static_cast<std::uint64_t>(std::max(header.width(), 0)) *
                                 static_cast<std::uint64_t>(std::max(header.height(), 0));
    const std::uint64_t bands = static_cast<std::uint64_t>(std::max(header.bands(), 1));
    const std::uint64_t sample = vips_format_sizeof(header.format());
    if (loader.starts_with("jpegload")) {
        return IntField(header, "jpeg-multiscan") != 0 ? pixels * bands * 2 : 0;
    }
    if (loader.starts_with("pngload")) return PngInterlace(fd) != 0 ? pixels * bands * sample : 0;
    if (loader.starts_with("gifload")) return pixels * 4;
    if (loader.starts_with("webpload")) return pixels * 8;
    if (loader.starts_with("heifload")) return pixels * 6 * sample;
    return 0;
}

std::uint64_t ToMiB(std::uint64_t bytes) {
    return (bytes + (1u << 20) - 1) >> 20;
}

}  // namespace tallowin
