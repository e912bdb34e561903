#include "page/vips_image.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <zlib.h>
#include <vips/vips8>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "store/ini_profile.h"
#include "tests/support/file_bytes.h"
#include "tests/support/images.h"
#include "tests/support/pdf_page.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pdf.h"

using namespace tallowin;

namespace {

using testimages::Recipe;
using namespace filebytes;

struct Rgb {
    int R = 0, G = 0, B = 0;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.R << ", " << c.G << ", " << c.B << ")";
}

bool Near(const Rgb& a, const Rgb& b, int tolerance) {
    return std::abs(a.R - b.R) <= tolerance && std::abs(a.G - b.G) <= tolerance &&
           std::abs(a.B - b.B) <= tolerance;
}

void InitVipsForTests() {
    static const bool ok = VIPS_INIT("tallowin-tests") == 0;
    ASSERT_TRUE(ok);
}

// A rendered page as RGB pixels.
struct Decoded {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint8_t> Pixels;  // R, G, B per pixel, rows packed

    Rgb At(int x, int y) const {
        const std::size_t i = (static_cast<std::size_t>(y) * Width + x) * 3;
        return {Pixels[i], Pixels[i + 1], Pixels[i + 2]};
    }
};

// The page's document as Image::Page writes it (PlacedPage, when placed),
// on a sheet the page fits.
Result<std::string> PageDocument(Image& image, int width, int height,
                                 const Placement* placed = nullptr) {
    Result<std::unique_ptr<PageWriter>> writer =
        placed != nullptr ? image.PlacedPage(*placed) : image.Page(width, height);
    if (!writer.Ok()) return {{}, writer.Error};
    PageGeometry g;
    g.Rx = g.Ry = 72;
    g.Pw = width;
    g.Ph = height;
    g.MediaWidthPt = width;
    g.MediaHeightPt = height;
    std::string pdf;
    const NeverStop never;
    const Status written = writer.Value->Write(
        g,
        [&pdf](const unsigned char* d, std::size_t n) {
            pdf.append(reinterpret_cast<const char*>(d), n);
            return true;
        },
        never);
    return {std::move(pdf), written};
}

// The image the page document holds, as the whole page in memory: its JPEG
// bytes unchanged, or its lossless rows (Flate, PNG Up before every row)
// undone into B, G, R, 255 pixels.
std::optional<PageImage> ImageOfDocument(const std::string& pdf) {
    const std::size_t dict = pdf.find("/Subtype /Image");
    const std::size_t start = pdf.find(">>\nstream\n", dict);
    const std::size_t end = pdf.rfind("\nendstream");
    if (dict == std::string::npos || start == std::string::npos || end == std::string::npos ||
        end < start) {
        ADD_FAILURE() << "no image stream in the page";
        return std::nullopt;
    }
    const std::string stream = pdf.substr(start + 10, end - start - 10);
    const auto number = [&](const char* key) {
        const std::size_t at = pdf.find(key, dict);
        return at == std::string::npos ? 0 : std::atoi(pdf.c_str() + at + std::strlen(key));
    };
    PageImage page;
    page.Width = number("/Width ");
    page.Height = number("/Height ");
    if (pdf.find("/Filter /DCTDecode", dict) < start) {
        page.Format = PageImage::Encoding::Jpeg;
        page.Size = stream.size();
        auto owner = std::make_shared<std::string>(stream);
        page.Data = {owner, reinterpret_cast<const std::uint8_t*>(owner->data())};
        return page;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(page.Width) * 3;
    std::vector<unsigned char> rows((rowBytes + 1) * static_cast<std::size_t>(page.Height));
    uLongf size = rows.size();
    if (uncompress(rows.data(), &size, reinterpret_cast<const Bytef*>(stream.data()),
                   stream.size()) != Z_OK ||
        size != rows.size()) {
        ADD_FAILURE() << "the page's rows do not inflate to " << rows.size() << " bytes";
        return std::nullopt;
    }
    page.Format = PageImage::Encoding::Bgrx;
    page.Stride = 4 * page.Width;
    page.Size = static_cast<std::size_t>(page.Stride) * page.Height;
    auto bgrx = std::make_shared<std::vector<std::uint8_t>>(page.Size);
    std::vector<unsigned char> above(rowBytes, 0), row(rowBytes);
    for (int y = 0; y < page.Height; ++y) {
        const unsigned char* in = rows.data() + (rowBytes + 1) * static_cast<std::size_t>(y);
        if (in[0] != 2) {
            ADD_FAILURE() << "row " << y << " is not led by the Up filter";
            return std::nullopt;
        }
        for (std::size_t i = 0; i < rowBytes; ++i) {
            row[i] = static_cast<unsigned char>(in[1 + i] + above[i]);
        }
        std::uint8_t* out = bgrx->data() + static_cast<std::size_t>(page.Stride) * y;
        for (int x = 0; x < page.Width; ++x) {
            out[4 * x] = row[3 * x + 2];
            out[4 * x + 1] = row[3 * x + 1];
            out[4 * x + 2] = row[3 * x];
            out[4 * x + 3] = 255;
        }
        above.swap(row);
    }
    page.Data = {bgrx, bgrx->data()};
    return page;
}

// The page as poppler renders it at 72 dpi (one pixel a point): for a JPEG
// that the page carries as it is stored, turned and enlarged by the reader.
std::optional<PageImage> RasterOfDocument(const std::string& pdf) {
    InitVipsForTests();
    const TempDir dir;
    const std::string file = dir.Path() + "/page.pdf";
    WriteFile(file, pdf);
    const CommandResult run = RunCommand("pdftoppm -r 72 -png -singlefile " + ShellQuote(file) +
                                         " " + ShellQuote(dir.Path() + "/page"));
    if (run.ExitCode != 0) {
        ADD_FAILURE() << "pdftoppm could not render the page";
        return std::nullopt;
    }
    vips::VImage png = vips::VImage::new_from_file((dir.Path() + "/page.png").c_str());
    if (png.bands() == 1) png = vips::VImage::bandjoin({png, png, png});
    png = vips::VImage::bandjoin({png[2], png[1], png[0], png.new_from_image(255)[0]});
    PageImage page;
    page.Width = png.width();
    page.Height = png.height();
    page.Stride = 4 * page.Width;
    std::size_t size = 0;
    auto* bytes = static_cast<std::uint8_t*>(png.cast(VIPS_FORMAT_UCHAR).write_to_memory(&size));
    page.Data = {bytes, g_free};
    page.Size = size;
    return page;
}

// True when the page carries the file's own JPEG bytes, drawn enlarged
// by the reader: its image is not the page's size.
bool CarriesTheFile(const std::string& pdf, const PageImage& image, int width, int height) {
    return image.Format == PageImage::Encoding::Jpeg &&
           (image.Width != width || image.Height != height ||
            pdf.find("/Interpolate true") != std::string::npos);
}

// The page, or nothing when it could not be made or written whole; a
// failure always says why. A page that carries its JPEG file as it is
// comes as poppler renders it.
std::optional<PageImage> Render(Image& image, int width, int height, bool* carried = nullptr,
                                const Placement* placed = nullptr) {
    Result<std::string> pdf = PageDocument(image, width, height, placed);
    if (!pdf.Ok()) {
        EXPECT_FALSE(pdf.Error.Reason.empty()) << "a failure without a reason";
        return std::nullopt;
    }
    std::optional<PageImage> page = ImageOfDocument(pdf.Value);
    const bool file = page && CarriesTheFile(pdf.Value, *page, width, height);
    if (carried != nullptr) *carried = file;
    return file ? RasterOfDocument(pdf.Value) : page;
}

// Decodes a page, checking its layout on the way: a Bgrx page must have
// rows of 4 * Width bytes with 255 in every fourth byte; a JPEG page must
// be a JPEG file of the page's size with three bands, or one for grey.
std::optional<Decoded> Decode(const PageImage& page) {
    Decoded d;
    d.Width = page.Width;
    d.Height = page.Height;
    if (page.Width <= 0 || page.Height <= 0 || !page.Data) {
        ADD_FAILURE() << "empty page " << page.Width << "x" << page.Height;
        return std::nullopt;
    }
    const std::size_t pixels = static_cast<std::size_t>(page.Width) * page.Height;
    d.Pixels.resize(pixels * 3);
    if (page.Format == PageImage::Encoding::Bgrx) {
        if (page.Stride != 4 * page.Width ||
            page.Size != static_cast<std::size_t>(page.Stride) * page.Height) {
            ADD_FAILURE() << "Bgrx layout: stride " << page.Stride << ", size " << page.Size
                          << " for " << page.Width << "x" << page.Height;
            return std::nullopt;
        }
        const std::uint8_t* p = page.Data.get();
        for (std::size_t i = 0; i < pixels; ++i) {
            if (p[4 * i + 3] != 255) {
                ADD_FAILURE() << "the unused byte of pixel " << i << " is not 255";
                return std::nullopt;
            }
            d.Pixels[3 * i] = p[4 * i + 2];
            d.Pixels[3 * i + 1] = p[4 * i + 1];
            d.Pixels[3 * i + 2] = p[4 * i];
        }
        return d;
    }
    InitVipsForTests();
    try {
        vips::VImage jpeg = vips::VImage::new_from_buffer(page.Data.get(), page.Size, "");
        const std::string loader = jpeg.get_string("vips-loader");
        // A grey JPEG's page is a grey JPEG.
        if (jpeg.bands() == 1) jpeg = vips::VImage::bandjoin({jpeg, jpeg, jpeg});
        if (loader != "jpegload_buffer" || jpeg.width() != page.Width ||
            jpeg.height() != page.Height || jpeg.bands() != 3 ||
            jpeg.format() != VIPS_FORMAT_UCHAR) {
            ADD_FAILURE() << "not a " << page.Width << "x" << page.Height
                          << " 3-band JPEG: " << loader << " " << jpeg.width() << "x"
                          << jpeg.height() << " bands " << jpeg.bands();
            return std::nullopt;
        }
        std::size_t size = 0;
        void* memory = jpeg.write_to_memory(&size);
        if (size == d.Pixels.size()) std::memcpy(d.Pixels.data(), memory, size);
        g_free(memory);
        if (size != d.Pixels.size()) {
            ADD_FAILURE() << "decoded JPEG has " << size << " bytes";
            return std::nullopt;
        }
    } catch (const vips::VError& e) {
        ADD_FAILURE() << "the page is not a valid JPEG: " << e.what();
        vips_error_clear();
        return std::nullopt;
    }
    return d;
}

// --- Byte-level edits for files that libvips will not write ---------------

void SetPngPhys(Bytes& png, std::uint32_t x, std::uint32_t y, unsigned char unit) {
    const std::size_t at = FindPngChunk(png, "pHYs");
    ASSERT_NE(at, Bytes::npos) << "no pHYs chunk";
    ReplacePngChunkData(png, at, BigEndianBytes(x) + BigEndianBytes(y) + static_cast<char>(unit));
}

void SetPngSize(Bytes& png, std::uint32_t width, std::uint32_t height) {
    const std::size_t at = FindPngChunk(png, "IHDR");
    ASSERT_EQ(at, 8u);
    ReplacePngChunkData(png, at,
                        BigEndianBytes(width) + BigEndianBytes(height) + png.substr(at + 16, 5));
}

// The offset of each data sub-block of the GIF's first frame (its length
// byte), in order.
std::vector<std::size_t> GifFirstFrameBlocks(const Bytes& gif) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(gif.at(at)); };
    std::size_t at = 13;
    if (byte(10) & 0x80) at += 3 * (2u << (byte(10) & 7));
    while (byte(at) == 0x21) {  // extensions: label, then sub-blocks
        at += 2;
        while (byte(at) != 0) at += byte(at) + 1u;
        ++at;
    }
    EXPECT_EQ(byte(at), 0x2c) << "no image descriptor";
    const unsigned char local = byte(at + 9);
    at += 10;
    if (local & 0x80) at += 3 * (2u << (local & 7));
    ++at;  // LZW minimum code size
    std::vector<std::size_t> blocks;
    while (byte(at) != 0) {
        blocks.push_back(at);
        at += byte(at) + 1u;
    }
    return blocks;
}

// The JPEG's first scan data starts after the SOS segment.
std::size_t JpegScanStart(const Bytes& jpeg) {
    const std::size_t sos = jpeg.find("\xff\xda");
    EXPECT_NE(sos, Bytes::npos);
    return sos + 2 +
           ((static_cast<unsigned char>(jpeg[sos + 2]) << 8) |
            static_cast<unsigned char>(jpeg[sos + 3]));
}

// A JFIF APP0 segment inserted right after SOI.
void InsertJfif(Bytes& jpeg, unsigned char unit, std::uint16_t x, std::uint16_t y) {
    Bytes app0 = std::string("\xff\xe0\x00\x10JFIF\0\x01\x01", 11);
    app0 += static_cast<char>(unit);
    app0 += {static_cast<char>(x >> 8), static_cast<char>(x & 0xff)};
    app0 += {static_cast<char>(y >> 8), static_cast<char>(y & 0xff)};
    app0 += std::string("\0\0", 2);
    jpeg.insert(2, app0);
}

// Rewrites the size in the JPEG's SOF0 marker.
void SetJpegSize(Bytes& jpeg, std::uint16_t width, std::uint16_t height) {
    std::size_t at = 2;
    while (at + 9 < jpeg.size() && static_cast<unsigned char>(jpeg[at]) == 0xff) {
        const unsigned char marker = static_cast<unsigned char>(jpeg[at + 1]);
        if (marker == 0xc0) {
            jpeg[at + 5] = static_cast<char>(height >> 8);
            jpeg[at + 6] = static_cast<char>(height & 0xff);
            jpeg[at + 7] = static_cast<char>(width >> 8);
            jpeg[at + 8] = static_cast<char>(width & 0xff);
            return;
        }
        at += 2 + ((static_cast<unsigned char>(jpeg[at + 2]) << 8) |
                   static_cast<unsigned char>(jpeg[at + 3]));
    }
    ADD_FAILURE() << "no SOF0 marker";
}

// Offsets of the entries of a little-endian TIFF's first IFD.
std::vector<std::size_t> TiffEntries(const Bytes& tiff) {
    std::vector<std::size_t> entries;
    if (tiff.compare(0, 4, std::string("II*\0", 4)) != 0) {
        ADD_FAILURE() << "not a little-endian TIFF";
        return entries;
    }
    const std::size_t ifd = LittleEndian(tiff, 4, 4);
    const std::size_t count = LittleEndian(tiff, ifd, 2);
    for (std::size_t i = 0; i < count; ++i) entries.push_back(ifd + 2 + 12 * i);
    return entries;
}

// Sets the value of a SHORT or LONG tag that holds one value.
void SetTiffValue(Bytes& tiff, std::uint16_t tag, std::uint32_t value) {
    for (const std::size_t at : TiffEntries(tiff)) {
        if (LittleEndian(tiff, at, 2) != tag) continue;
        const std::uint32_t type = LittleEndian(tiff, at + 2, 2);
        ASSERT_TRUE(type == 3 || type == 4) << "tag " << tag << " has type " << type;
        const int n = type == 3 ? 2 : 4;
        for (int i = 0; i < n; ++i) tiff[at + 8 + i] = static_cast<char>((value >> (8 * i)) & 0xff);
        return;
    }
    ADD_FAILURE() << "no TIFF tag " << tag;
}

void DropTiffTag(Bytes& tiff, std::uint16_t tag) {
    const auto entries = TiffEntries(tiff);
    ASSERT_FALSE(entries.empty());
    const std::size_t ifd = entries.front() - 2;
    const std::size_t count = entries.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (LittleEndian(tiff, entries[i], 2) != tag) continue;
        // Move the later entries and the next-IFD offset up by one entry.
        const std::size_t tail = ifd + 2 + 12 * count + 4;
        tiff.erase(entries[i], 12);
        tiff.insert(tail - 12, 12, '\0');
        tiff[ifd] = static_cast<char>((count - 1) & 0xff);
        tiff[ifd + 1] = static_cast<char>((count - 1) >> 8);
        return;
    }
    ADD_FAILURE() << "no TIFF tag " << tag;
}

// --- The fixture ------------------------------------------------------------

class VipsImageTest : public ::testing::Test {
  protected:
    // The image, or null when Load failed; a failure always says why.
    std::unique_ptr<Image> Load(const std::string& path) {
        Result<std::unique_ptr<Image>> image = loader_.Load(path);
        if (!image.Ok()) {
            EXPECT_FALSE(image.Error.Reason.empty()) << "a failure without a reason";
            return nullptr;
        }
        EXPECT_NE(image.Value, nullptr);
        return std::move(image.Value);
    }

    std::string Make(const std::string& name, const Recipe& recipe) {
        const std::string path = dir_ / name;
        testimages::Write(path, recipe);
        return path;
    }

    // Writes an image, lets edit change its bytes, and writes them back.
    std::string MakeEdited(const std::string& name, const Recipe& recipe,
                           const std::function<void(Bytes&)>& edit) {
        const std::string path = Make(name, recipe);
        Bytes bytes = ReadFile(path);
        edit(bytes);
        WriteFile(path, bytes);
        return path;
    }

    // Loads and renders at the image's own size.
    std::optional<Decoded> LoadAndDecode(const std::string& path, PageImage::Encoding expected) {
        auto image = Load(path);
        if (!image) {
            ADD_FAILURE() << "cannot load " << path;
            return std::nullopt;
        }
        bool carried = false;
        auto page = Render(*image, image->Width(), image->Height(), &carried);
        if (!page) {
            ADD_FAILURE() << "cannot render " << path;
            return std::nullopt;
        }
        // A JPEG's page is a JPEG: re-encoded, or the file itself.
        EXPECT_EQ(carried ? PageImage::Encoding::Jpeg : page->Format, expected);
        return Decode(*page);
    }

    TempDir dir_;
    VipsImageLoader loader_;
};

// --- Resolution -------------------------------------------------------------

struct DpiCase {
    const char* Name;
    const char* File;
    Recipe Image;
    int XDpi, YDpi;
};

TEST_F(VipsImageTest, ResolutionIsWholeDotsPerInchOrZeroWhenTheFileHasNone) {
    const DpiCase cases[] = {
        {"jpeg without resolution", "a.jpg", {}, 0, 0},
        {"jpeg 300 dpi", "a.jpg", {.Dpi = 300}, 300, 300},
        {"jpeg 72 dpi written explicitly", "a.jpg", {.Dpi = 72}, 72, 72},
        {"jpeg 300 x 150 dpi", "a.jpg", {.Dpi = 300, .YDpi = 150}, 300, 150},
        {"jpeg 300 dpi in cm", "a.jpg", {.Dpi = 300, .Centimetres = true}, 300, 300},
        {"jpeg orientation but no resolution", "a.jpg", {.Orientation = 6}, 0, 0},
        {"png without resolution", "a.png", {}, 0, 0},
        {"png 300 dpi", "a.png", {.Dpi = 300}, 300, 300},
        {"png 72 dpi", "a.png", {.Dpi = 72}, 72, 72},
        {"png 300 x 150 dpi", "a.png", {.Dpi = 300, .YDpi = 150}, 300, 150},
        {"tiff without resolution", "a.tif", {}, 0, 0},
        {"tiff 300 dpi in inches", "a.tif", {.Dpi = 300}, 300, 300},
        {"tiff 300 dpi in cm", "a.tif", {.Dpi = 300, .Centimetres = true}, 300, 300},
        {"tiff 96 dpi", "a.tif", {.Dpi = 96}, 96, 96},
        {"tiff 300 x 150 dpi in cm",
         "a.tif",
         {.Dpi = 300, .YDpi = 150, .Centimetres = true},
         300,
         150},
        // A turn by a quarter swaps the axes, and their resolutions with them.
        {"jpeg 300 x 150 turned (6)",
         "a.jpg",
         {.Dpi = 300, .Orientation = 6, .YDpi = 150},
         150,
         300},
        {"png 300 x 150 turned (8)",
         "a.png",
         {.Dpi = 300, .Orientation = 8, .YDpi = 150},
         150,
         300},
        {"tiff 300 x 150 turned (5)",
         "a.tif",
         {.Dpi = 300, .Orientation = 5, .YDpi = 150},
         150,
         300},
        {"tiff 300 x 150 upside down (3)",
         "a.tif",
         {.Dpi = 300, .Orientation = 3, .YDpi = 150},
         300,
         150},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto image = Load(Make(c.File, c.Image));
        ASSERT_TRUE(image);
        EXPECT_EQ(image->XDpi(), c.XDpi);
        EXPECT_EQ(image->YDpi(), c.YDpi);
    }
}

struct EditedDpiCase {
    const char* Name;
    const char* File;
    Recipe Image;
    std::function<void(Bytes&)> Edit;
    int XDpi, YDpi;
};

// HEIF (HEIC, AVIF) follows the same rule as JPEG: the resolution its EXIF
// data gives, 0 when it carries none (never libvips' own default of one
// pixel a millimetre, 25 dpi).
TEST_F(VipsImageTest, HeifResolutionIsTheFilesOrZero) {
    InitVipsForTests();
    const vips::VImage rgb =
        vips::VImage::black(64, 48, vips::VImage::option()->set("bands", 3))
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    for (const char* file : {"a.heic", "a.avif"}) {
        const std::string path = dir_ / file;
        const auto save = [&](const vips::VImage& image, bool strip) {
            image.heifsave(path.c_str(),
                           vips::VImage::option()
                               ->set("compression", std::string(file).ends_with("avif")
                                                        ? VIPS_FOREIGN_HEIF_COMPRESSION_AV1
                                                        : VIPS_FOREIGN_HEIF_COMPRESSION_HEVC)
                               ->set("strip", strip));
        };
        for (const auto& [dpi, strip, expected] :
             {std::tuple{0, true, 0}, std::tuple{300, false, 300}, std::tuple{96, false, 96}}) {
            SCOPED_TRACE(std::string(file) + " " + std::to_string(dpi) +
                         (strip ? " stripped" : ""));
            vips::VImage image = rgb.copy();
            if (dpi > 0) {
                image = rgb.copy(
                    vips::VImage::option()->set("xres", dpi / 25.4)->set("yres", dpi / 25.4));
            }
            try {
                save(image, strip);
            } catch (const vips::VError& e) {
                GTEST_SKIP() << "libvips cannot write " << file << ": " << e.what();
            }
            const auto loaded = Load(path);
            ASSERT_TRUE(loaded);
            EXPECT_EQ(loaded->XDpi(), expected);
            EXPECT_EQ(loaded->YDpi(), expected);
        }
    }
}

TEST_F(VipsImageTest, ResolutionFromHeadersLibvipsDoesNotWrite) {
    const EditedDpiCase cases[] = {
        {"jfif density in inches",
         "a.jpg",
         {},
         [](Bytes& b) { InsertJfif(b, 1, 300, 150); },
         300,
         150},
        {"jfif density in cm", "a.jpg", {}, [](Bytes& b) { InsertJfif(b, 2, 118, 118); }, 300, 300},
        {"jfif aspect ratio only (unit 0)",
         "a.jpg",
         {},
         [](Bytes& b) { InsertJfif(b, 0, 300, 300); },
         0,
         0},
        {"jfif density 1 x 1 (the usual 'none')",
         "a.jpg",
         {},
         [](Bytes& b) { InsertJfif(b, 1, 1, 1); },
         0,
         0},
        {"jfif density 0", "a.jpg", {}, [](Bytes& b) { InsertJfif(b, 1, 0, 0); }, 0, 0},
        {"jfif 300 dpi under exif 72 dpi (exif wins)",
         "a.jpg",
         {.Dpi = 72},
         [](Bytes& b) { InsertJfif(b, 1, 300, 300); },
         72,
         72},
        {"png pHYs without unit",
         "a.png",
         {.Dpi = 300},
         [](Bytes& b) { SetPngPhys(b, 1, 1, 0); },
         0,
         0},
        {"png pHYs of 2834 dots per metre (as libvips' default)",
         "a.png",
         {.Dpi = 300},
         [](Bytes& b) { SetPngPhys(b, 2834, 2834, 1); },
         72,
         72},
        {"png pHYs of 1000 dots per metre",
         "a.png",
         {.Dpi = 300},
         [](Bytes& b) { SetPngPhys(b, 1000, 1000, 1); },
         25,
         25},
        {"png pHYs of 0", "a.png", {.Dpi = 300}, [](Bytes& b) { SetPngPhys(b, 0, 0, 1); }, 0, 0},
        {"tiff resolution without unit tag (inches by default)",
         "a.tif",
         {.Dpi = 300},
         [](Bytes& b) { DropTiffTag(b, 0x0128); },
         300,
         300},
        {"tiff resolution unit 'none'",
         "a.tif",
         {.Dpi = 300},
         [](Bytes& b) { SetTiffValue(b, 0x0128, 1); },
         0,
         0},
        {"tiff with YResolution only: no horizontal resolution",
         "a.tif",
         {.Dpi = 300},
         [](Bytes& b) { DropTiffTag(b, 0x011a); },
         0,
         300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto image = Load(MakeEdited(c.File, c.Image, c.Edit));
        ASSERT_TRUE(image);
        EXPECT_EQ(image->XDpi(), c.XDpi);
        EXPECT_EQ(image->YDpi(), c.YDpi);
    }
}

// --- Orientation ------------------------------------------------------------

TEST_F(VipsImageTest, ExifOrientationGivesTheUprightSizeAndPixels) {
    // A 40 x 20 red image with a blue 8 x 8 square at its stored top-left
    // corner; where that corner ends up for each orientation, upright.
    enum Corner { TopLeft, TopRight, BottomRight, BottomLeft };
    const Corner expected[9] = {TopLeft, TopLeft,  TopRight,    BottomRight, BottomLeft,
                                TopLeft, TopRight, BottomRight, BottomLeft};
    const Rgb red{255, 0, 0};
    const Rgb blue{0, 0, 255};
    for (const char* file : {"a.jpg", "a.png", "a.tif"}) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            for (const int divisor : {1, 2}) {
                SCOPED_TRACE(std::string(file) + " orientation " + std::to_string(orientation) +
                             (divisor == 1 ? " full size" : " half size"));
                const Recipe recipe{.Width = 40,
                                    .Height = 20,
                                    .Orientation = orientation,
                                    .R = 255,
                                    .G = 0,
                                    .B = 0,
                                    .Mark = 8};
                const auto image = Load(Make(file, recipe));
                ASSERT_TRUE(image);
                const bool swapped = orientation >= 5;
                EXPECT_EQ(image->Width(), swapped ? 20 : 40);
                EXPECT_EQ(image->Height(), swapped ? 40 : 20);
                const int w = image->Width() / divisor;
                const int h = image->Height() / divisor;
                const auto page = Render(*image, w, h);
                ASSERT_TRUE(page);
                const auto d = Decode(*page);
                ASSERT_TRUE(d);
                ASSERT_EQ(d->Width, w);
                ASSERT_EQ(d->Height, h);
                // One pixel in from each corner; the mark covers at least 4.
                const int in = 1;
                const Rgb corners[4] = {d->At(in, in), d->At(w - 1 - in, in),
                                        d->At(w - 1 - in, h - 1 - in), d->At(in, h - 1 - in)};
                for (int corner = 0; corner < 4; ++corner) {
                    const Rgb want = corner == expected[orientation] ? blue : red;
                    EXPECT_TRUE(Near(corners[corner], want, 40))
                        << "corner " << corner << " is " << corners[corner] << ", want " << want;
                }
            }
        }
    }
}

// --- Format from content ----------------------------------------------------

TEST_F(VipsImageTest, FormatComesFromTheContentNotTheName) {
    struct Case {
        const char* Name;
        const char* Written;
        const char* RenamedTo;
        PageImage::Encoding Encoding;
    };
    const Case cases[] = {
        {"jpeg named .png", "a.jpg", "jpeg.png", PageImage::Encoding::Jpeg},
        {"jpeg named .txt", "b.jpg", "jpeg.txt", PageImage::Encoding::Jpeg},
        {"jpeg without a suffix", "c.jpg", "jpeg", PageImage::Encoding::Jpeg},
        {"png named .jpg", "d.png", "png.jpg", PageImage::Encoding::Bgrx},
        {"tiff named .jpeg", "e.tif", "tiff.jpeg", PageImage::Encoding::Bgrx},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string written = Make(c.Written, {.R = 10, .G = 200, .B = 90});
        const std::string renamed = dir_ / c.RenamedTo;
        ASSERT_EQ(std::rename(written.c_str(), renamed.c_str()), 0);
        const auto d = LoadAndDecode(renamed, c.Encoding);
        ASSERT_TRUE(d);
        EXPECT_TRUE(Near(d->At(5, 5), {10, 200, 90}, 4)) << d->At(5, 5);
    }
}

// --- Colour -----------------------------------------------------------------

struct ColourCase {
    const char* Name;
    const char* File;
    Recipe Image;
    Rgb Expected;
    int Tolerance;
};

TEST_F(VipsImageTest, RendersEightBitSrgbWithAlphaFlattenedOnWhite) {
    const ColourCase cases[] = {
        {"rgb png", "a.png", {.R = 200, .G = 40, .B = 20}, {200, 40, 20}, 0},
        {"rgb jpeg", "a.jpg", {.R = 200, .G = 40, .B = 20}, {200, 40, 20}, 3},
        {"rgb tiff", "a.tif", {.R = 200, .G = 40, .B = 20}, {200, 40, 20}, 0},
        {"grey png", "a.png", {.Bands = 1, .R = 90}, {90, 90, 90}, 0},
        {"grey jpeg", "a.jpg", {.Bands = 1, .R = 90}, {90, 90, 90}, 2},
        {"grey tiff", "a.tif", {.Bands = 1, .R = 90}, {90, 90, 90}, 0},
        {"16-bit rgb png",
         "a.png",
         {.SixteenBit = true, .R = 200, .G = 40, .B = 20},
         {200, 40, 20},
         1},
        {"16-bit grey png",
         "a.png",
         {.Bands = 1, .SixteenBit = true, .R = 200},
         {200, 200, 200},
         1},
        {"16-bit rgb tiff",
         "a.tif",
         {.SixteenBit = true, .R = 17, .G = 128, .B = 250},
         {17, 128, 250},
         1},
        {"fully transparent png",
         "a.png",
         {.Bands = 4, .R = 255, .G = 0, .B = 0, .Alpha = 0},
         {255, 255, 255},
         1},
        {"half transparent red png",
         "a.png",
         {.Bands = 4, .R = 255, .G = 0, .B = 0, .Alpha = 128},
         {255, 127, 127},
         2},
        {"opaque red png with alpha",
         "a.png",
         {.Bands = 4, .R = 255, .G = 0, .B = 0, .Alpha = 255},
         {255, 0, 0},
         0},
        {"fully transparent black grey png",
         "a.png",
         {.Bands = 2, .R = 0, .Alpha = 0},
         {255, 255, 255},
         1},
        {"half transparent black grey png",
         "a.png",
         {.Bands = 2, .R = 0, .Alpha = 128},
         {127, 127, 127},
         2},
        {"half transparent red 16-bit png",
         "a.png",
         {.Bands = 4, .SixteenBit = true, .R = 255, .G = 0, .B = 0, .Alpha = 128},
         {255, 127, 127},
         2},
        {"half transparent red tiff",
         "a.tif",
         {.Bands = 4, .R = 255, .G = 0, .B = 0, .Alpha = 128},
         {255, 127, 127},
         2},
        {"fully transparent palette png",
         "a.png",
         {.Bands = 4, .R = 255, .G = 0, .B = 0, .Alpha = 0, .Palette = true},
         {255, 255, 255},
         1},
        {"no cmyk ink is white (jpeg)",
         "a.jpg",
         {.Bands = 4, .Cmyk = true, .R = 255, .G = 255, .B = 255},
         {255, 255, 255},
         5},
        {"no cmyk ink is white (tiff)",
         "a.tif",
         {.Bands = 4, .Cmyk = true, .R = 255, .G = 255, .B = 255},
         {255, 255, 255},
         5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const bool jpeg = std::string(c.File).ends_with(".jpg");
        const auto d = LoadAndDecode(Make(c.File, c.Image),
                                     jpeg ? PageImage::Encoding::Jpeg : PageImage::Encoding::Bgrx);
        ASSERT_TRUE(d);
        for (const auto& [x, y] : {std::pair{0, 0}, std::pair{63, 47}, std::pair{30, 20}}) {
            EXPECT_TRUE(Near(d->At(x, y), c.Expected, c.Tolerance))
                << "pixel " << x << "," << y << " is " << d->At(x, y) << ", want " << c.Expected;
        }
    }
}

TEST_F(VipsImageTest, CmykInkBecomesTheMatchingSrgbColour) {
    struct Case {
        const char* Name;
        const char* File;
        Recipe Image;
        std::function<bool(const Rgb&)> Looks;
        const char* Want;
    };
    // Printing inks are duller than screen primaries: full cyan ink through
    // a press profile is about (0, 160, 230), not (0, 255, 255).
    const auto cyan = [](const Rgb& c) {
        return c.R <= 40 && c.G >= 120 && c.G <= 210 && c.B >= 200;
    };
    const auto dark = [](const Rgb& c) { return c.R <= 80 && c.G <= 80 && c.B <= 80; };
    const Case cases[] = {
        {"cyan ink, jpeg",
         "a.jpg",
         {.Bands = 4, .Cmyk = true, .R = 0, .G = 255, .B = 255},
         cyan,
         "cyan"},
        {"cyan ink, tiff",
         "a.tif",
         {.Bands = 4, .Cmyk = true, .R = 0, .G = 255, .B = 255},
         cyan,
         "cyan"},
        {"all inks, jpeg",
         "a.jpg",
         {.Bands = 4, .Cmyk = true, .R = 0, .G = 0, .B = 0},
         dark,
         "near black"},
        {"all inks, tiff",
         "a.tif",
         {.Bands = 4, .Cmyk = true, .R = 0, .G = 0, .B = 0},
         dark,
         "near black"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = Make(c.File, c.Image);
        if (std::string(c.File).ends_with(".jpg")) {
            // libjpeg marks CMYK with Adobe's APP14 segment and libvips
            // stores the inks inverted, as Photoshop does: this is the
            // "Adobe inverted" kind of CMYK JPEG.
            EXPECT_NE(ReadFile(path).find("\xff\xee\x00\x0e"
                                          "Adobe"),
                      std::string::npos);
        }
        const bool jpeg = std::string(c.File).ends_with(".jpg");
        const auto d =
            LoadAndDecode(path, jpeg ? PageImage::Encoding::Jpeg : PageImage::Encoding::Bgrx);
        ASSERT_TRUE(d);
        EXPECT_TRUE(c.Looks(d->At(30, 20))) << d->At(30, 20) << " is not " << c.Want;
    }
}

TEST_F(VipsImageTest, PalettePngKeepsItsColours) {
    const std::string path =
        Make("a.png", {.R = 200, .G = 40, .B = 20, .Palette = true, .Mark = 16, .MarkB = 255});
    const Bytes png = ReadFile(path);
    ASSERT_GT(png.size(), 26u);
    ASSERT_EQ(png[25], 3) << "not a palette PNG (colour type " << int{png[25]} << ")";
    const auto d = LoadAndDecode(path, PageImage::Encoding::Bgrx);
    ASSERT_TRUE(d);
    EXPECT_TRUE(Near(d->At(40, 30), {200, 40, 20}, 2)) << d->At(40, 30);
    EXPECT_TRUE(Near(d->At(5, 5), {0, 0, 255}, 2)) << d->At(5, 5);
}

TEST_F(VipsImageTest, EmbeddedIccProfileIsApplied) {
    InitVipsForTests();
    // sRGB (200, 40, 20) stored as Display P3 numbers with the P3 profile.
    const std::string path = dir_ / "p3.png";
    const vips::VImage p3 =
        vips::VImage::black(16, 16, vips::VImage::option()->set("bands", 3))
            .linear(std::vector<double>{0}, std::vector<double>{200, 40, 20})
            .cast(VIPS_FORMAT_UCHAR)
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
            .icc_transform("p3");
    p3.pngsave(path.c_str());
    ASSERT_NE(ReadFile(path).find("iCCP"), std::string::npos);
    const std::vector<double> stored = vips::VImage::new_from_file(path.c_str()).getpoint(8, 8);
    ASSERT_FALSE(Near({int(stored[0]), int(stored[1]), int(stored[2])}, {200, 40, 20}, 8))
        << "the P3 numbers should differ from the sRGB ones";

    const auto d = LoadAndDecode(path, PageImage::Encoding::Bgrx);
    ASSERT_TRUE(d);
    EXPECT_TRUE(Near(d->At(8, 8), {200, 40, 20}, 3)) << d->At(8, 8);
}

TEST_F(VipsImageTest, SixteenBitAlphaWithAnIccProfileIsFlattenedOnWhite) {
    InitVipsForTests();
    // The ICC transform to 8 bits leaves alpha alone; a 16-bit alpha must
    // still count as half transparent, not as opaque.
    const std::string path = dir_ / "icc16.png";
    vips::VImage::black(8, 8, vips::VImage::option()->set("bands", 4))
        .linear(std::vector<double>{0}, std::vector<double>{65535, 0, 0, 128 * 257})
        .cast(VIPS_FORMAT_USHORT)
        .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16))
        .icc_transform("srgb",
                       vips::VImage::option()->set("input_profile", "srgb")->set("depth", 16))
        .pngsave(path.c_str(), vips::VImage::option()->set("bitdepth", 16));
    ASSERT_NE(ReadFile(path).find("iCCP"), std::string::npos);

    const auto d = LoadAndDecode(path, PageImage::Encoding::Bgrx);
    ASSERT_TRUE(d);
    EXPECT_TRUE(Near(d->At(4, 4), {255, 127, 127}, 2)) << d->At(4, 4);
}

TEST_F(VipsImageTest, BrokenIccProfileFallsBackInsteadOfFailing) {
    InitVipsForTests();
    const std::string path = dir_ / "broken-profile.tif";
    vips::VImage image =
        vips::VImage::black(16, 16, vips::VImage::option()->set("bands", 3))
            .linear(std::vector<double>{0}, std::vector<double>{200, 40, 20})
            .cast(VIPS_FORMAT_UCHAR)
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    std::string garbage(600, 'x');
    image.set(VIPS_META_ICC_NAME, nullptr, garbage.data(), garbage.size());
    image.tiffsave(path.c_str());
    ASSERT_NE(ReadFile(path).find(garbage), std::string::npos) << "profile not embedded";

    const auto d = LoadAndDecode(path, PageImage::Encoding::Bgrx);
    ASSERT_TRUE(d);
    EXPECT_TRUE(Near(d->At(8, 8), {200, 40, 20}, 1)) << d->At(8, 8);
}

// --- Size and layout --------------------------------------------------------

TEST_F(VipsImageTest, RendersExactlyTheAskedSize) {
    struct Case {
        const char* File;
        int W, H;
        int Tw, Th;
    };
    const Case cases[] = {
        {"a.png", 640, 480, 64, 48},   {"a.png", 3001, 2001, 4800, 3200},
        {"a.png", 1000, 1000, 1, 1},   {"a.png", 64, 48, 1, 1},
        {"a.png", 10, 10, 1000, 700},  {"a.png", 333, 777, 101, 57},
        {"a.png", 64, 48, 64, 48},     {"a.png", 1, 1, 5, 3},
        {"a.png", 97, 13, 13, 97},     {"a.jpg", 640, 480, 200, 150},
        {"a.jpg", 31, 17, 1234, 567},  {"a.jpg", 1000, 1000, 1, 1},
        {"a.jpg", 333, 777, 101, 57},  {"a.tif", 3001, 2001, 4800, 3200},
        {"a.tif", 501, 499, 250, 250},
    };
    for (const auto& c : cases) {
        const std::string name = std::string(c.File) + " " + std::to_string(c.W) + "x" +
                                 std::to_string(c.H) + " to " + std::to_string(c.Tw) + "x" +
                                 std::to_string(c.Th);
        SCOPED_TRACE(name);
        const auto image =
            Load(Make(c.File, {.Width = c.W, .Height = c.H, .R = 10, .G = 200, .B = 90}));
        ASSERT_TRUE(image);
        EXPECT_EQ(image->Width(), c.W);
        EXPECT_EQ(image->Height(), c.H);
        const auto page = Render(*image, c.Tw, c.Th);
        ASSERT_TRUE(page);
        EXPECT_EQ(page->Width, c.Tw);
        EXPECT_EQ(page->Height, c.Th);
        const auto d = Decode(*page);
        ASSERT_TRUE(d);
        const int tolerance = std::string(c.File).ends_with(".jpg") ? 4 : 1;
        for (const auto& [x, y] :
             {std::pair{0, 0}, std::pair{c.Tw - 1, c.Th - 1}, std::pair{c.Tw / 2, c.Th / 2}}) {
            EXPECT_TRUE(Near(d->At(x, y), {10, 200, 90}, tolerance))
                << "pixel " << x << "," << y << " is " << d->At(x, y);
        }
    }
}

TEST_F(VipsImageTest, BgrxPagesHoldBlueGreenRedAndAnUnusedByte) {
    const auto image = Load(Make("a.png", {.Width = 7, .Height = 5, .R = 10, .G = 20, .B = 30}));
    ASSERT_TRUE(image);
    const auto page = Render(*image, 7, 5);
    ASSERT_TRUE(page);
    ASSERT_EQ(page->Format, PageImage::Encoding::Bgrx);
    EXPECT_EQ(page->Width, 7);
    EXPECT_EQ(page->Height, 5);
    EXPECT_EQ(page->Stride, 28);
    ASSERT_EQ(page->Size, 140u);
    for (std::size_t i = 0; i < page->Size; i += 4) {
        const std::uint8_t* p = page->Data.get() + i;
        ASSERT_EQ((std::vector<int>{p[0], p[1], p[2], p[3]}), (std::vector<int>{30, 20, 10, 255}))
            << "at byte " << i;
    }
}

TEST_F(VipsImageTest, JpegSourcesBecomeAPlainFullChromaJpeg) {
    const auto image = Load(Make(
        "a.jpg",
        {.Width = 300, .Height = 200, .Dpi = 300, .Orientation = 1, .R = 30, .G = 90, .B = 220}));
    ASSERT_TRUE(image);
    const auto page = Render(*image, 123, 45);
    ASSERT_TRUE(page);
    ASSERT_EQ(page->Format, PageImage::Encoding::Jpeg);
    EXPECT_EQ(page->Stride, 0);
    const auto d = Decode(*page);
    ASSERT_TRUE(d);
    EXPECT_TRUE(Near(d->At(60, 20), {30, 90, 220}, 4)) << d->At(60, 20);

    const vips::VImage jpeg = vips::VImage::new_from_buffer(page->Data.get(), page->Size, "");
    EXPECT_EQ(jpeg.get_int("jpeg-multiscan"), 0) << "progressive";
    EXPECT_EQ(jpeg.get_string("jpeg-chroma-subsample"), std::string("4:4:4"));
    EXPECT_EQ(jpeg.get_typeof("exif-data"), 0u) << "metadata left in";
    EXPECT_EQ(jpeg.get_typeof(VIPS_META_ICC_NAME), 0u) << "metadata left in";
    EXPECT_EQ(jpeg.interpretation(), VIPS_INTERPRETATION_sRGB);
    const Bytes bytes(reinterpret_cast<const char*>(page->Data.get()), page->Size);
    EXPECT_NE(bytes.find("\xff\xc0"), std::string::npos) << "not a baseline JPEG";
}

// A JPEG whose page is no smaller than the picture goes to the printer as
// it is stored, up to its end marker, drawn turned and enlarged by the
// reader; what a reader might decode otherwise, and a page that reduces
// the picture, is decoded and encoded again.
TEST_F(VipsImageTest, AJpegThePageEnlargesGoesAsItIsStored) {
    InitVipsForTests();
    const auto save = [&](const std::string& path, vips::VOption* options) {
        // 60 x 40 red, a blue 12 x 12 square at the stored top-left.
        vips::VImage red = vips::VImage::black(60, 40, vips::VImage::option()->set("bands", 3)) +
                           std::vector<double>{255, 0, 0};
        red = red.insert(vips::VImage::black(12, 12, vips::VImage::option()->set("bands", 3)) +
                             std::vector<double>{0, 0, 255},
                         0, 0)
                  .cast(VIPS_FORMAT_UCHAR)
                  .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        red.jpegsave(path.c_str(), options);
    };
    enum Corner { TopLeft, TopRight, BottomRight, BottomLeft };
    struct Case {
        const char* Name;
        std::function<vips::VOption*()> Options;
        int Orientation;
        double Scale;  // of the page against the upright picture
        bool Carried;
        Corner Mark;
        const char* After = "";    // bytes after the end marker
        bool FolderTurns = false;  // placed turned a quarter counter-clockwise
    };
    const auto none = [] { return vips::VImage::option(); };
    const Case cases[] = {
        {"baseline, enlarged", none, 1, 2.0, true, TopLeft},
        {"baseline, as large", none, 1, 1.0, true, TopLeft},
        {"baseline, reduced", none, 1, 0.5, false, TopLeft},
        {"baseline, enlarged four times", none, 1, 4.0, true, TopLeft},
        {"baseline, enlarged five times: smoothed here", none, 1, 5.0, false, TopLeft},
        {"turned a quarter clockwise, enlarged", none, 6, 1.5, true, TopRight},
        {"transposed, enlarged", none, 5, 1.5, true, TopLeft},
        {"mirrored, enlarged", none, 2, 2.0, true, TopRight},
        {"bytes after the end marker", none, 1, 2.0, true, TopLeft, "trailing"},
        {"turned by the folder, enlarged", none, 1, 2.0, true, BottomLeft, "", true},
        {"stored turned, turned back by the folder", none, 6, 1.5, true, TopLeft, "", true},
        {"stored upside down, turned by the folder", none, 3, 1.5, true, TopRight, "", true},
        {"stored turned the other way, turned by the folder", none, 8, 1.5, true, BottomRight, "",
         true},
        {"progressive", [] { return vips::VImage::option()->set("interlace", true); }, 1, 2.0,
         false, TopLeft},
        {"with a colour profile", [] { return vips::VImage::option()->set("profile", "srgb"); }, 1,
         2.0, false, TopLeft},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = dir_ / "a.jpg";
        save(path, c.Options());
        Bytes file = ReadFile(path);
        if (c.Orientation != 1) {
            vips::VImage turned = vips::VImage::new_from_file(path.c_str()).copy_memory();
            turned.set("orientation", c.Orientation);
            turned.jpegsave(path.c_str(), c.Options());
            file = ReadFile(path);
        }
        const std::size_t ends = file.size();
        WriteFile(path, file + c.After);
        const auto image = Load(path);
        ASSERT_TRUE(image);
        const int w =
            static_cast<int>((c.FolderTurns ? image->Height() : image->Width()) * c.Scale);
        const int h =
            static_cast<int>((c.FolderTurns ? image->Width() : image->Height()) * c.Scale);
        const Placement turned{.Turned = true,
                               .ScaledW = w,
                               .ScaledH = h,
                               .Tw = w,
                               .Th = h,
                               .Kept = {0, 0, w, h},
                               .Source = {0, 0, static_cast<double>(image->Height()),
                                          static_cast<double>(image->Width())}};
        const Placement* placed = c.FolderTurns ? &turned : nullptr;
        const Result<std::string> pdf = PageDocument(*image, w, h, placed);
        ASSERT_TRUE(pdf.Ok()) << pdf.Error.Reason;
        const std::optional<PageImage> stream = ImageOfDocument(pdf.Value);
        ASSERT_TRUE(stream);
        // The file's own scans, without its EXIF data (its orientation,
        // which a reader might apply a second time) and not beyond its end.
        const Bytes carried(reinterpret_cast<const char*>(stream->Data.get()), stream->Size);
        const Bytes scans = file.substr(0, ends).substr(file.find("\xff\xda"));
        EXPECT_EQ(carried.ends_with(scans), c.Carried);
        EXPECT_EQ(carried.find("Exif"), Bytes::npos);
        bool rendered = false;
        const auto page = Render(*image, w, h, &rendered, placed);
        ASSERT_TRUE(page);
        EXPECT_EQ(rendered, c.Carried);
        const auto d = Decode(*page);
        ASSERT_TRUE(d);
        ASSERT_EQ(d->Width, w);
        ASSERT_EQ(d->Height, h);
        const int in = 2;
        const Rgb corners[4] = {d->At(in, in), d->At(w - 1 - in, in), d->At(w - 1 - in, h - 1 - in),
                                d->At(in, h - 1 - in)};
        for (int corner = 0; corner < 4; ++corner) {
            const Rgb want = corner == c.Mark ? Rgb{0, 0, 255} : Rgb{255, 0, 0};
            EXPECT_TRUE(Near(corners[corner], want, 60))
                << "corner " << corner << " is " << corners[corner] << ", want " << want;
        }
    }
}

TEST_F(VipsImageTest, ShrinkingAveragesAndEnlargingInterpolates) {
    InitVipsForTests();
    // A one-pixel black and white checkerboard: any averaging shrink turns it
    // grey, picking pixels would keep it black or white.
    const std::string checker = dir_ / "checker.png";
    const vips::VImage xy = vips::VImage::xyz(64, 64);
    (((xy[0] + xy[1]) % 2) * 255).cast(VIPS_FORMAT_UCHAR).pngsave(checker.c_str());
    auto image = Load(checker);
    ASSERT_TRUE(image);
    auto page = Render(*image, 8, 8);
    ASSERT_TRUE(page);
    auto d = Decode(*page);
    ASSERT_TRUE(d);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_TRUE(Near(d->At(x, y), {128, 128, 128}, 8))
                << x << "," << y << " " << d->At(x, y);
        }
    }

    // Two pixels, black and white, stretched: a linear ramp between them.
    const std::string pair = dir_ / "pair.png";
    (vips::VImage::xyz(2, 1)[0] * 255).cast(VIPS_FORMAT_UCHAR).pngsave(pair.c_str());
    image = Load(pair);
    ASSERT_TRUE(image);
    page = Render(*image, 100, 1);
    ASSERT_TRUE(page);
    d = Decode(*page);
    ASSERT_TRUE(d);
    EXPECT_LE(d->At(0, 0).R, 10);
    EXPECT_GE(d->At(99, 0).R, 245);
    int between = 0;
    for (int x = 1; x < 100; ++x) {
        EXPECT_GE(d->At(x, 0).R, d->At(x - 1, 0).R) << "not monotonic at " << x;
        if (d->At(x, 0).R > 20 && d->At(x, 0).R < 235) ++between;
    }
    EXPECT_GE(between, 20) << "no interpolation between the two pixels";
}

// --- Failures ---------------------------------------------------------------

TEST_F(VipsImageTest, FilesThatAreNotImagesOrNotRegularFilesDoNotLoad) {
    struct Case {
        const char* Name;
        std::function<std::string()> Setup;
        HotFolderError Code;
        const char* Reason;  // part of the reason
    };
    const std::string image = Make("real.jpg", {});
    const Case cases[] = {
        {"empty file",
         [&] {
             WriteFile(dir_ / "empty.jpg", "");
             return dir_ / "empty.jpg";
         },
         HF_ERR_NOT_IMAGE, ""},
        {"text file",
         [&] {
             WriteFile(dir_ / "notes.jpg", "just some words, not an image\n");
             return dir_ / "notes.jpg";
         },
         HF_ERR_NOT_IMAGE, ""},
        {"svg (untrusted loader)",
         [&] {
             WriteFile(dir_ / "a.svg",
                       "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\">"
                       "<rect width=\"10\" height=\"10\" fill=\"red\"/></svg>\n");
             return dir_ / "a.svg";
         },
         HF_ERR_NOT_IMAGE, ""},
        {"ppm (untrusted loader)",
         [&] {
             WriteFile(dir_ / "a.ppm", "P3\n2 1\n255\n255 0 0 0 0 255\n");
             return dir_ / "a.ppm";
         },
         HF_ERR_NOT_IMAGE, ""},
        {"missing file", [&] { return dir_ / "missing.jpg"; }, HF_ERR_NOT_IMAGE,
         "No such file or directory"},
        {"empty path", [&] { return std::string(); }, HF_ERR_NOT_IMAGE, ""},
        {"directory",
         [&] {
             const std::string d = dir_ / "folder.jpg";
             EXPECT_EQ(mkdir(d.c_str(), 0700), 0);
             return d;
         },
         HF_ERR_NOT_IMAGE, "not a regular file"},
        {"fifo",
         [&] {
             const std::string f = dir_ / "fifo.jpg";
             EXPECT_EQ(mkfifo(f.c_str(), 0600), 0);
             return f;
         },
         HF_ERR_NOT_IMAGE, "not a regular file"},
        {"symbolic link to an image",
         [&] {
             const std::string l = dir_ / "link.jpg";
             EXPECT_EQ(symlink(image.c_str(), l.c_str()), 0);
             return l;
         },
         HF_ERR_NOT_IMAGE, "cannot open: "},
        {"png header of 40000 x 40000",
         [&] { return MakeEdited("huge.png", {}, [](Bytes& b) { SetPngSize(b, 40000, 40000); }); },
         HF_ERR_TOO_LARGE, "40000 x 40000"},
        {"png header of 40000 x 25001 (just over a gigapixel)",
         [&] { return MakeEdited("over.png", {}, [](Bytes& b) { SetPngSize(b, 40000, 25001); }); },
         HF_ERR_TOO_LARGE, ""},
        {"jpeg header of 40000 x 40000",
         [&] { return MakeEdited("huge.jpg", {}, [](Bytes& b) { SetJpegSize(b, 40000, 40000); }); },
         HF_ERR_TOO_LARGE, ""},
        {"tiff header of 40000 x 40000",
         [&] {
             return MakeEdited("huge.tif", {}, [](Bytes& b) {
                 SetTiffValue(b, 256, 40000);
                 SetTiffValue(b, 257, 40000);
             });
         },
         HF_ERR_TOO_LARGE, ""},
    };
    ASSERT_TRUE(Load(image)) << "the real image must load, or the link case proves nothing";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = c.Setup();
        EXPECT_EQ(Load(path), nullptr);
    }
}

// Files of formats this program does not print, valid ones included, are
// told apart from damaged pictures: a picture format no trusted loader
// reads, and JPEG processes libjpeg does not decode (lossless, 12-bit).
TEST_F(VipsImageTest, FormatsThatAreNotPrintedAreNotCalledDamaged) {
    InitVipsForTests();
    const vips::VImage rgb =
        vips::VImage::black(32, 24, vips::VImage::option()->set("bands", 3))
            .linear(std::vector<double>{0}, std::vector<double>{200, 40, 20})
            .cast(VIPS_FORMAT_UCHAR)
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    const auto saved = [&](const char* name) {
        const std::string path = dir_ / name;
        rgb.write_to_file(path.c_str());
        return path;
    };
    const auto sof = [&](const char* name, unsigned char marker, unsigned char precision) {
        return MakeEdited(name, {}, [&](Bytes& b) {
            const std::size_t at = b.find("\xff\xc0");
            ASSERT_NE(at, Bytes::npos);
            b[at + 1] = static_cast<char>(marker);
            b[at + 4] = static_cast<char>(precision);
        });
    };
    const auto text = [&](const char* name, const std::string& bytes) {
        WriteFile(dir_ / name, bytes);
        return dir_ / name;
    };
    const struct {
        const char* Name;
        std::function<std::string()> Make;
    } cases[] = {
        {"svg",
         [&] {
             return text("a.svg",
                         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" "
                         "height=\"10\"><rect width=\"10\" height=\"10\"/></svg>\n");
         }},
        {"ppm", [&] { return text("a.ppm", "P3\n2 1\n255\n255 0 0 0 0 255\n"); }},
        {"jpeg 2000", [&] { return saved("a.jp2"); }},
        {"jpeg xl", [&] { return text("a.jxl", std::string("\xff\x0a\xfa\x01\x00\x00", 6)); }},
        {"lossless jpeg (SOF3)", [&] { return sof("lossless.jpg", 0xc3, 8); }},
        {"12-bit jpeg", [&] { return sof("twelve.jpg", 0xc1, 12); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const Result<std::unique_ptr<Image>> loaded = loader_.Load(c.Make());
        EXPECT_EQ(loaded.Error.Code, HF_ERR_NOT_IMAGE) << loaded.Error.Reason;
        EXPECT_FALSE(loaded.Error.Reason.empty());
        EXPECT_EQ(vips_error_buffer(), std::string()) << "the error buffer is left clear";
    }
}

// A PDF document is told by its content, whatever its name, and loads as a
// document of pages whose first page gives its size; a picture named .pdf
// stays a picture.
TEST_F(VipsImageTest, APdfDocumentLoadsAsADocumentByItsContent) {
    InitVipsForTests();
    TestPdfPage first;
    first.Media = {0, 0, 200, 100};
    first.Rotate = 90;
    WriteFile(dir_ / "scan.jpg", MakeTestPdf({first, {}}));
    const Result<std::unique_ptr<Image>> doc = loader_.Load(dir_ / "scan.jpg");
    ASSERT_TRUE(doc.Ok()) << doc.Error.Reason;
    EXPECT_TRUE(doc.Value->IsDocument());
    EXPECT_EQ(doc.Value->Width(), 100);
    EXPECT_EQ(doc.Value->Height(), 200);
    EXPECT_EQ(doc.Value->XDpi(), 72);
    EXPECT_NE(doc.Value->Page(10, 10).Error.Code, HF_ERR_NONE);

    vips::VImage::black(8, 8).jpegsave((dir_ / "photo.pdf").c_str());
    const Result<std::unique_ptr<Image>> picture = loader_.Load(dir_ / "photo.pdf");
    ASSERT_TRUE(picture.Ok()) << picture.Error.Reason;
    EXPECT_FALSE(picture.Value->IsDocument());
    EXPECT_EQ(picture.Value->Document(PageGeometry{}).Error.Code, HF_ERR_NOT_IMAGE);
}

// A picture whose decode would hold more than the limit at once is
// refused as too large from its header, whatever its file's size; one that
// streams prints under the same limit.
TEST_F(VipsImageTest, DecodesThatNeedMoreMemoryThanTheLimitAreRefusedFromTheHeader) {
    InitVipsForTests();
    const vips::VImage rgb =
        vips::VImage::black(4000, 4000, vips::VImage::option()->set("bands", 3))
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    const vips::VImage small = rgb.crop(0, 0, 2000, 2000);
    // 35 bytes: a GIF whose screen and frame claim 30000 x 30000 pixels.
    const std::string claim = std::string("GIF89a\x30\x75\x30\x75\x80\0\0", 13) +
                              std::string("\0\0\0\xff\xff\xff", 6) +
                              std::string("\x2c\0\0\0\0\x30\x75\x30\x75\0\x02\x02\x4c\x01\0;", 16);
    const struct {
        const char* Name;
        std::function<void(const std::string&)> Write;
        const char* File;
        bool Prints;  // under 8 MiB
        int Orientation = 1;
    } cases[] = {
        {"baseline jpeg 4000 x 4000", [&](auto& p) { rgb.jpegsave(p.c_str()); }, "a.jpg", true},
        {"progressive jpeg 4000 x 4000",
         [&](auto& p) { rgb.jpegsave(p.c_str(), vips::VImage::option()->set("interlace", true)); },
         "p.jpg", false},
        {"png 2000 x 2000", [&](auto& p) { small.pngsave(p.c_str()); }, "a.png", true},
        {"interlaced png 2000 x 2000",
         [&](auto& p) { small.pngsave(p.c_str(), vips::VImage::option()->set("interlace", true)); },
         "i.png", false},
        {"lossless webp 2000 x 2000",
         [&](auto& p) { small.webpsave(p.c_str(), vips::VImage::option()->set("lossless", true)); },
         "a.webp", false},
        {"gif of 35 bytes claiming 30000 x 30000", [&](auto& p) { WriteFile(p, claim); }, "a.gif",
         false},
        {"baseline jpeg 4000 x 4000 turned (6), held whole",
         [&](auto& p) {
             vips::VImage turned = rgb.copy();
             turned.set("orientation", 6);
             turned.jpegsave(p.c_str());
         },
         "t.jpg", false, 6},
    };
    VipsImageLoader tight(8 << 20);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = dir_ / c.File;
        c.Write(path);
        Result<std::unique_ptr<Image>> loaded = tight.Load(path);
        if (!c.Prints && c.Orientation == 1) {
            EXPECT_EQ(loaded.Error.Code, HF_ERR_TOO_LARGE) << loaded.Error.Reason;
            EXPECT_NE(loaded.Error.Reason.find("MiB"), std::string::npos) << loaded.Error.Reason;
            continue;
        }
        ASSERT_TRUE(loaded.Ok()) << loaded.Error.Reason;
        const Result<std::string> page =
            PageDocument(*loaded.Value, loaded.Value->Width(), loaded.Value->Height());
        EXPECT_EQ(page.Error.Code, c.Prints ? HF_ERR_NONE : HF_ERR_TOO_LARGE) << page.Error.Reason;
    }
}

TEST(DecodeMemoryLimit, IsTheProfilesMiBOrTheDefault) {
    TempDir dir;
    const struct {
        const char* Text;
        std::uint64_t Bytes;
    } cases[] = {
        {"[Init]\nDecodeMemoryLimit=2048\n", std::uint64_t{2048} << 20},
        {"[init]\ndecodememorylimit = 8\n", std::uint64_t{8} << 20},
        {"[Init]\nFHNumber=0\n", VipsImageLoader::kDefaultDecodeMemoryLimit},
        {"[Init]\nDecodeMemoryLimit=0\n", VipsImageLoader::kDefaultDecodeMemoryLimit},
        {"[Init]\nDecodeMemoryLimit=-5\n", VipsImageLoader::kDefaultDecodeMemoryLimit},
    };
    for (const auto& c : cases) {
        WriteFile(dir / "tallowin.ini", c.Text);
        EXPECT_EQ(DecodeMemoryLimitOf(IniProfile(dir / "tallowin.ini")), c.Bytes) << c.Text;
    }
}

TEST_F(VipsImageTest, AGigapixelHeaderLoadsWithoutDecoding) {
    // Exactly the limit: accepted, and Load reads only the header (the file
    // holds the pixel data of a 64 x 48 image).
    const auto image =
        Load(MakeEdited("limit.png", {}, [](Bytes& b) { SetPngSize(b, 40000, 25000); }));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Width(), 40000);
    EXPECT_EQ(image->Height(), 25000);
    // A page larger than the limit is refused before anything is decoded.
    EXPECT_FALSE(Render(*image, 40000, 25001));
}

TEST_F(VipsImageTest, UnreadableFileDoesNotLoad) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads files without read permission";
    const std::string path = Make("locked.jpg", {});
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    const Result<std::unique_ptr<Image>> loaded = loader_.Load(path);
    EXPECT_EQ(loaded.Error.Code, HF_ERR_NOT_IMAGE);
    EXPECT_EQ(loaded.Error.Reason, "cannot open: Permission denied");
}

TEST_F(VipsImageTest, DamagedPixelDataNeverRenders) {
    struct Case {
        const char* Name;
        const char* File;
        std::function<void(Bytes&)> Edit;
    };
    // Images with detail, so that their pixel data is a good part of the file.
    const Case cases[] = {
        {"jpeg cut in half", "a.jpg", [](Bytes& b) { b.resize(b.size() / 2); }},
        {"png cut in half", "a.png", [](Bytes& b) { b.resize(b.size() / 2); }},
        {"tiff cut in half", "a.tif", [](Bytes& b) { b.resize(b.size() / 2); }},
        {"png with a wrong IDAT checksum", "a.png",
         [](Bytes& b) {
             const std::size_t at = FindPngChunk(b, "IDAT");
             ASSERT_NE(at, Bytes::npos);
             b[at + 8 + BigEndian32(b, at) / 2] ^= 0x55;
         }},
        {"png with damaged IDAT data and a matching checksum", "a.png",
         [](Bytes& b) {
             const std::size_t at = FindPngChunk(b, "IDAT");
             ASSERT_NE(at, Bytes::npos);
             Bytes data = b.substr(at + 8, BigEndian32(b, at));
             for (std::size_t i = 2; i < data.size(); i += 3) data[i] = static_cast<char>(0xff);
             ReplacePngChunkData(b, at, data);
         }},
    };
    InitVipsForTests();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = dir_ / c.File;
        // Noise compresses badly, so the pixel data dominates the file.
        const vips::VImage noise =
            vips::VImage::bandjoin({vips::VImage::gaussnoise(256, 256).cast(VIPS_FORMAT_UCHAR),
                                    vips::VImage::gaussnoise(256, 256).cast(VIPS_FORMAT_UCHAR),
                                    vips::VImage::gaussnoise(256, 256).cast(VIPS_FORMAT_UCHAR)});
        noise.copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
            .write_to_file(path.c_str());
        Bytes bytes = ReadFile(path);
        c.Edit(bytes);
        WriteFile(path, bytes);
        // Load may still read the header; then Render must fail.
        const auto image = Load(path);
        if (image) {
            EXPECT_FALSE(Render(*image, image->Width(), image->Height()));
            EXPECT_FALSE(Render(*image, 64, 64));
        }
    }
}

// The whole picture, or an error: a truncated file never prints with the
// rest of it padded out, whatever its format, and a complete one prints.
TEST_F(VipsImageTest, TruncatedPicturesAreRefusedInEveryFormat) {
    InitVipsForTests();
    // Noise compresses badly, so that 60 % of a file holds part of its pixels.
    const auto noise = [] {
        return vips::VImage::gaussnoise(160, 120, vips::VImage::option()->set("sigma", 60))
            .cast(VIPS_FORMAT_UCHAR);
    };
    const vips::VImage rgb =
        vips::VImage::bandjoin({noise(), noise(), noise()})
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    // Three frames, one below the other, as libvips stores an animation.
    const vips::VImage frames =
        vips::VImage::arrayjoin({rgb, rgb, rgb}, vips::VImage::option()->set("across", 1))
            .copy(vips::VImage::option()->set("page-height", 120));
    struct Case {
        const char* File;
        const vips::VImage& Pixels;
    } cases[] = {
        {"a.jpg", rgb},           {"a.png", rgb}, {"a.gif", rgb},
        {"animated.gif", frames}, {"a.tif", rgb}, {"a.webp", rgb},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.File);
        const std::string path = dir_ / c.File;
        c.Pixels.write_to_file(path.c_str());
        ASSERT_TRUE(Load(path)) << "the complete file must load";
        ASSERT_TRUE(Render(*Load(path), 40, 30)) << "and print";

        const Bytes whole = ReadFile(path);
        WriteFile(path, whole.substr(0, whole.size() * 6 / 10));
        Result<std::unique_ptr<Image>> loaded = loader_.Load(path);
        if (!loaded.Ok()) {  // some formats are refused at their header already
            EXPECT_EQ(loaded.Error.Code, HF_ERR_DAMAGED) << loaded.Error.Reason;
            EXPECT_FALSE(loaded.Error.Reason.empty());
            continue;
        }
        const Result<std::string> page = PageDocument(*loaded.Value, 40, 30);
        EXPECT_EQ(page.Error.Code, HF_ERR_DAMAGED);
        EXPECT_FALSE(page.Error.Reason.empty());
        EXPECT_EQ(page.Value.find("trailer"), std::string::npos) << "no complete document";
        EXPECT_EQ(vips_error_buffer(), std::string()) << "the error buffer is left clear";
    }
}

// Pictures whose data a decoder reports as damaged but would still decode,
// padded or guessed: never printed, whichever path decodes them (libjpeg
// straight for a JPEG without a profile, libvips for one with a profile,
// and libvips for GIF), while the undamaged file prints on the same path.
TEST_F(VipsImageTest, DamagedDataADecoderWouldPadIsRefusedOnEveryPath) {
    InitVipsForTests();
    const auto noise = [] {
        return vips::VImage::gaussnoise(240, 160, vips::VImage::option()->set("sigma", 60))
            .cast(VIPS_FORMAT_UCHAR);
    };
    const vips::VImage rgb =
        vips::VImage::bandjoin({noise(), noise(), noise()})
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    const vips::VImage profiled = rgb.icc_transform("srgb");
    struct Case {
        const char* Name;
        const char* File;
        const vips::VImage& Pixels;
        std::function<void(Bytes&)> Edit;
    };
    const auto cutAndClosed = [](Bytes& b) { b = b.substr(0, b.size() * 6 / 10) + "\xff\xd9"; };
    const auto garbage = [](Bytes& b) {
        const std::size_t from = JpegScanStart(b) + (b.size() - JpegScanStart(b)) / 3;
        for (std::size_t at = from; at < from + 4000; at += 97) {
            b[at] = static_cast<char>(0xff);
            b[at + 1] = 0x12;
        }
    };
    const auto gifDataEndsEarly = [](Bytes& b) {
        const std::vector<std::size_t> blocks = GifFirstFrameBlocks(b);
        b = b.substr(0, blocks.at(blocks.size() / 2)) + std::string("\0;", 2);
    };
    const auto gifBlockCut = [](Bytes& b) {
        const std::vector<std::size_t> blocks = GifFirstFrameBlocks(b);
        b = b.substr(0, blocks.at(blocks.size() / 2) + 50) + std::string("\0;", 2);
    };
    const Case cases[] = {
        {"jpeg cut short, closed with an end marker", "a.jpg", rgb, cutAndClosed},
        {"the same with a profile (libvips)", "p.jpg", profiled, cutAndClosed},
        {"jpeg with garbage in its scan data", "a.jpg", rgb, garbage},
        {"the same with a profile (libvips)", "p.jpg", profiled, garbage},
        {"gif whose data blocks end early", "a.gif", rgb, gifDataEndsEarly},
        {"gif with a data block cut", "a.gif", rgb, gifBlockCut},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = dir_ / c.File;
        c.Pixels.write_to_file(path.c_str());
        for (const auto& [w, h] : {std::pair{240, 160}, std::pair{120, 80}}) {
            ASSERT_TRUE(Render(*Load(path), w, h)) << "the whole file prints at " << w;
        }
        Bytes bytes = ReadFile(path);
        c.Edit(bytes);
        WriteFile(path, bytes);
        for (const auto& [w, h] : {std::pair{240, 160}, std::pair{120, 80}}) {
            Result<std::unique_ptr<Image>> loaded = loader_.Load(path);
            if (!loaded.Ok()) {  // libvips reads far ahead for some headers
                EXPECT_EQ(loaded.Error.Code, HF_ERR_DAMAGED) << loaded.Error.Reason;
                continue;
            }
            const Result<std::string> page = PageDocument(*loaded.Value, w, h);
            EXPECT_EQ(page.Error.Code, HF_ERR_DAMAGED) << w << ": " << page.Error.Reason;
            EXPECT_FALSE(page.Error.Reason.empty());
            EXPECT_EQ(page.Value.find("trailer"), std::string::npos) << "no complete document";
        }
    }
}

TEST_F(VipsImageTest, RenderRefusesSizesItCannotMake) {
    const auto image = Load(Make("a.png", {}));
    ASSERT_TRUE(image);
    for (const auto& [w, h] : {std::pair{0, 10}, std::pair{10, 0}, std::pair{-1, 10},
                               std::pair{10, -5}, std::pair{100000, 100000}}) {
        EXPECT_FALSE(Render(*image, w, h)) << w << "x" << h;
    }
    EXPECT_TRUE(Render(*image, 64, 48)) << "still usable afterwards";
}

// --- Identity and the file behind it ----------------------------------------

TEST_F(VipsImageTest, IdentityIsTheStatOfTheLoadedFile) {
    const std::string path = Make("a.png", {});
    const struct timespec times[2] = {{1234567890, 123456789}, {1234567890, 987654321}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    const auto image = Load(path);
    ASSERT_TRUE(image);
    const FileIdentity& id = image->Identity();
    EXPECT_EQ(id.Device, static_cast<std::uint64_t>(st.st_dev));
    EXPECT_EQ(id.Inode, static_cast<std::uint64_t>(st.st_ino));
    EXPECT_EQ(id.Size, static_cast<std::uint64_t>(st.st_size));
    EXPECT_EQ(id.ModifiedNs, 1234567890LL * 1'000'000'000 + 987654321);
}

// The pixels are always the loaded file's, but a file whose name no longer
// names it (replaced, removed) is not printed: the name's new file settles
// and prints on its own.
TEST_F(VipsImageTest, AFileReplacedOrRemovedAfterItWasLoadedFailsAsChanged) {
    const std::string path = Make("a.png", {.R = 255, .G = 0, .B = 0});
    const auto image = Load(path);
    ASSERT_TRUE(image);
    ASSERT_TRUE(Render(*image, 10, 10));
    const std::string other = Make("b.png", {.R = 0, .G = 0, .B = 255});
    ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
    EXPECT_EQ(PageDocument(*image, 10, 10).Error.Code, HF_ERR_CHANGED);
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_EQ(PageDocument(*image, 10, 10).Error.Code, HF_ERR_CHANGED);
}

TEST_F(VipsImageTest, AFileRewrittenInPlaceWithAnotherSizeDoesNotRender) {
    const std::string path = Make("a.png", {.Width = 64, .Height = 48});
    const auto image = Load(path);
    ASSERT_TRUE(image);
    const std::string other = Make("b.png", {.Width = 80, .Height = 20});
    WriteFile(path, ReadFile(other));  // same inode, new bytes
    EXPECT_FALSE(Render(*image, 64, 48));
}

// A file still being copied when it was loaded: the rest arrives while its
// page is written (the decoder may read it, or find the data cut short).
// Either way the page fails as changed, never printed nor kept as damaged.
TEST_F(VipsImageTest, AFileThatGrowsOrIsReplacedWhileItsPageIsWrittenFailsAsChanged) {
    InitVipsForTests();
    const auto noise = [] {
        return vips::VImage::gaussnoise(300, 200, vips::VImage::option()->set("sigma", 60))
            .cast(VIPS_FORMAT_UCHAR);
    };
    const vips::VImage rgb =
        vips::VImage::bandjoin({noise(), noise(), noise()})
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    for (const char* name : {"a.png", "a.jpg", "b.png"}) {
        SCOPED_TRACE(name);
        const std::string path = dir_ / name;
        const bool replaced = name[0] == 'b';
        rgb.write_to_file(path.c_str());
        const Bytes whole = ReadFile(path);
        if (!replaced) WriteFile(path, whole.substr(0, whole.size() - 2000));
        const auto image = Load(path);
        ASSERT_TRUE(image);
        Result<std::unique_ptr<PageWriter>> writer = image->Page(150, 100);
        ASSERT_TRUE(writer.Ok()) << writer.Error.Reason;
        PageGeometry g;
        g.Rx = g.Ry = 72;
        g.Pw = g.MediaWidthPt = 150;
        g.Ph = g.MediaHeightPt = 100;
        std::string pdf;
        const NeverStop never;
        const Status written = writer.Value->Write(
            g,
            [&](const unsigned char* d, std::size_t n) {
                if (pdf.empty() && replaced) {
                    const std::string other = dir_ / "other.png";
                    WriteFile(other, whole);
                    EXPECT_EQ(std::rename(other.c_str(), path.c_str()), 0);
                } else if (pdf.empty()) {  // the same file grows to its whole size
                    std::ofstream(path, std::ios::binary | std::ios::app)
                        << whole.substr(whole.size() - 2000);
                }
                pdf.append(reinterpret_cast<const char*>(d), n);
                return true;
            },
            never);
        EXPECT_EQ(written.Code, HF_ERR_CHANGED) << written.Reason;
        EXPECT_EQ(pdf.find("trailer"), std::string::npos) << "no complete document";
        ASSERT_TRUE(Render(*Load(path), 150, 100)) << "the whole file, once settled, prints";
    }
}

TEST_F(VipsImageTest, RenderCanBeCalledAgain) {
    const auto image = Load(Make("a.jpg", {.Width = 90, .Height = 60, .Mark = 10}));
    ASSERT_TRUE(image);
    const auto first = Render(*image, 45, 30);
    const auto second = Render(*image, 45, 30);
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    ASSERT_EQ(first->Size, second->Size);
    EXPECT_EQ(std::memcmp(first->Data.get(), second->Data.get(), first->Size), 0);
}

}  // namespace
