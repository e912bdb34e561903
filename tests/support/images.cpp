#include "tests/support/images.h"

#include "tests/support/file_bytes.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace testimages {
namespace {

using namespace filebytes;

bool InitVips() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = VIPS_INIT("tallowin-tests") == 0; });
    return ok;
}

std::string Suffix(const std::string& path) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos) return {};
    std::string s = path.substr(dot + 1);
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (s == "jpeg") s = "jpg";
    if (s == "tiff") s = "tif";
    return s;
}

// Why the recipe cannot be written as that format; empty when it can.
std::string Unwritable(const Recipe& s, const std::string& format) {
    if (format != "jpg" && format != "png" && format != "tif") return "unknown suffix";
    if (s.Width <= 0 || s.Height <= 0) return "empty size";
    if (s.Bands < 1 || s.Bands > 4) return "bands must be 1..4";
    if (s.Cmyk && (s.Bands != 4 || format == "png")) return "CMYK needs 4 bands, JPEG or TIFF";
    const bool alpha = !s.Cmyk && (s.Bands == 2 || s.Bands == 4);
    if (format == "jpg" && (alpha || s.SixteenBit)) return "JPEG has no alpha and no 16 bits";
    if (s.Palette && (format != "png" || s.SixteenBit)) return "palettes are 8-bit PNG only";
    if (s.Orientation < 0 || s.Orientation > 8) return "orientation must be 0..8";
    if (s.Dpi < 0 || s.YDpi < 0) return "negative resolution";
    if (s.Mark < 0 || s.Mark > std::min(s.Width, s.Height)) return "mark larger than the image";
    return {};
}

std::vector<double> Ink(const Recipe& s, unsigned char r, unsigned char g, unsigned char b) {
    std::vector<double> v;
    if (s.Cmyk) {
        v = {255.0 - r, 255.0 - g, 255.0 - b, 0};
    } else if (s.Bands <= 2) {
        v = {static_cast<double>(r)};
    } else {
        v = {static_cast<double>(r), static_cast<double>(g), static_cast<double>(b)};
    }
    if (!s.Cmyk && (s.Bands == 2 || s.Bands == 4)) v.push_back(s.Alpha);
    if (s.SixteenBit) {
        for (double& x : v) x *= 257;
    }
    return v;
}

vips::VImage Pixels(const Recipe& s) {
    using vips::VImage;
    VImage img = VImage::black(s.Width, s.Height, VImage::option()->set("bands", s.Bands))
                     .linear(std::vector<double>{0}, Ink(s, s.R, s.G, s.B))
                     .cast(s.SixteenBit ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR);
    if (s.Mark > 0) {
        img = img.copy_memory();
        img.draw_rect(Ink(s, s.MarkR, s.MarkG, s.MarkB), 0, 0, s.Mark, s.Mark,
                      VImage::option()->set("fill", true));
    }
    VipsInterpretation space;
    if (s.Cmyk) {
        space = VIPS_INTERPRETATION_CMYK;
    } else if (s.Bands <= 2) {
        space = s.SixteenBit ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_B_W;
    } else {
        space = s.SixteenBit ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB;
    }
    auto options = VImage::option()->set("interpretation", space);
    if (s.Dpi > 0) {
        options->set("xres", s.Dpi / 25.4)->set("yres", (s.YDpi > 0 ? s.YDpi : s.Dpi) / 25.4);
    }
    img = img.copy(options);
    if (s.Dpi > 0) img.set("resolution-unit", s.Centimetres ? "cm" : "in");
    if (s.Orientation > 0) img.set(VIPS_META_ORIENTATION, s.Orientation);
    return img;
}

Bytes TakeBlob(VipsBlob* blob) {
    std::size_t size = 0;
    const void* data = vips_blob_get(blob, &size);
    Bytes bytes(static_cast<const char*>(data), size);
    vips_area_unref(VIPS_AREA(blob));
    return bytes;
}

// EXIF data holding nothing but the orientation tag, so that a file can say
// how to turn it without saying anything about resolution.
Bytes ExifOrientation(int orientation) {
    const unsigned char exif[] = {
        'I',
        'I',
        0x2a,
        0x00,
        8,
        0,
        0,
        0,  // little-endian TIFF header, IFD0 at 8
        1,
        0,  // one entry
        0x12,
        0x01,
        3,
        0,
        1,
        0,
        0,
        0,  // Orientation, SHORT, count 1
        static_cast<unsigned char>(orientation),
        0,
        0,
        0,
        0,
        0,
        0,
        0,  // no next IFD
    };
    return Bytes(reinterpret_cast<const char*>(exif), sizeof exif);
}

// The JPEG APP1 segment for that EXIF data.
Bytes JpegExifSegment(const Bytes& exif) {
    const std::size_t length = 2 + 6 + exif.size();
    Bytes segment = "\xff\xe1";
    segment += static_cast<char>(length >> 8);
    segment += static_cast<char>(length & 0xff);
    segment += std::string("Exif\0\0", 6);
    return segment + exif;
}

// libvips' PNG writer always adds a pHYs chunk and writes no EXIF: the
// pHYs chunk is dropped when keepPhys is false, and an eXIf chunk holding
// the orientation goes in after IHDR when orientation is not 0.
std::optional<Bytes> EditPng(const Bytes& png, bool keepPhys, int orientation) {
    if (png.size() < 8) return std::nullopt;
    Bytes out = png.substr(0, 8);
    std::size_t at = 8;
    while (at + 12 <= png.size()) {
        const std::size_t length = BigEndian32(png, at);
        if (at + 12 + length > png.size()) return std::nullopt;
        if (keepPhys || png.compare(at + 4, 4, "pHYs") != 0) out += png.substr(at, 12 + length);
        if (png.compare(at + 4, 4, "IHDR") == 0 && orientation > 0) {
            out += PngChunk("eXIf", ExifOrientation(orientation));
        }
        at += 12 + length;
    }
    if (at != png.size()) return std::nullopt;
    return out;
}

// libvips' TIFF writer always writes XResolution, YResolution and
// ResolutionUnit; this removes their entries from the first IFD (the values
// they pointed to stay behind as unused bytes). Little-endian classic TIFF,
// as libvips writes it on this machine.
std::optional<Bytes> WithoutTiffResolution(Bytes tiff) {
    if (tiff.size() < 8 || tiff.compare(0, 4, std::string("II*\0", 4)) != 0) return std::nullopt;
    const std::size_t ifd = LittleEndian(tiff, 4, 4);
    if (ifd + 2 > tiff.size()) return std::nullopt;
    const std::size_t count = LittleEndian(tiff, ifd, 2);
    const std::size_t end = ifd + 2 + 12 * count + 4;
    if (end > tiff.size()) return std::nullopt;
    Bytes entries;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = ifd + 2 + 12 * i;
        const std::uint32_t tag = LittleEndian(tiff, at, 2);
        if (tag == 0x011a || tag == 0x011b || tag == 0x0128) continue;
        entries += tiff.substr(at, 12);
        ++kept;
    }
    Bytes ifdBytes;
    ifdBytes += static_cast<char>(kept & 0xff);
    ifdBytes += static_cast<char>(kept >> 8);
    ifdBytes += entries;
    ifdBytes += tiff.substr(ifd + 2 + 12 * count, 4);  // offset of the next IFD
    ifdBytes.resize(end - ifd, '\0');
    tiff.replace(ifd, end - ifd, ifdBytes);
    return tiff;
}

Bytes Encode(const Recipe& s, const std::string& format) {
    using vips::VImage;
    const VImage img = Pixels(s);
    if (format == "jpg") {
        // With a resolution, libvips writes it as EXIF (with the orientation,
        // when set). Without one, all metadata is left out (libvips then
        // writes neither a JFIF nor an EXIF segment) and the orientation
        // comes in an EXIF segment of its own.
        if (s.Dpi > 0) {
            return TakeBlob(img.jpegsave_buffer(VImage::option()->set("Q", 95)));
        }
        Bytes jpeg =
            TakeBlob(img.jpegsave_buffer(VImage::option()->set("Q", 95)->set("strip", true)));
        if (s.Orientation > 0) jpeg.insert(2, JpegExifSegment(ExifOrientation(s.Orientation)));
        return jpeg;
    }
    if (format == "png") {
        auto options = VImage::option()->set("bitdepth", s.SixteenBit ? 16 : 8);
        if (s.Palette) options->set("palette", true);
        auto edited = EditPng(TakeBlob(img.pngsave_buffer(options)), s.Dpi > 0, s.Orientation);
        if (!edited) throw std::runtime_error("cannot find the PNG chunks");
        return *edited;
    }
    Bytes tiff = TakeBlob(
        img.tiffsave_buffer(VImage::option()->set("resunit", s.Centimetres ? "cm" : "inch")));
    if (s.Dpi > 0) return tiff;
    auto stripped = WithoutTiffResolution(tiff);
    if (!stripped) throw std::runtime_error("not a little-endian classic TIFF");
    return *stripped;
}

}  // namespace

void Write(const std::string& path, const Recipe& recipe) {
    if (!InitVips()) {
        ADD_FAILURE() << "libvips did not start";
        return;
    }
    const std::string format = Suffix(path);
    if (const std::string why = Unwritable(recipe, format); !why.empty()) {
        ADD_FAILURE() << "cannot write " << path << ": " << why;
        return;
    }
    Bytes bytes;
    try {
        bytes = Encode(recipe, format);
    } catch (const vips::VError& e) {
        ADD_FAILURE() << "libvips cannot write " << path << ": " << e.what();
        vips_error_clear();
        return;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "cannot write " << path << ": " << e.what();
        return;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

}  // namespace testimages
