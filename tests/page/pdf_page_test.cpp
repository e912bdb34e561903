#include "tests/support/pdf_page.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

struct Colour {
    int R, G, B;
};

// The four quadrants of every test image, so that a flipped, mirrored or
// shifted image shows.
Colour QuadrantColour(int quadrant, bool grey) {
    static constexpr Colour kColours[4] = {
        {220, 30, 30}, {30, 200, 40}, {30, 40, 210}, {230, 220, 30}};
    static constexpr int kGreys[4] = {40, 100, 160, 220};
    if (grey) return {kGreys[quadrant], kGreys[quadrant], kGreys[quadrant]};
    return kColours[quadrant];
}

int QuadrantAt(int x, int y, int w, int h) {
    return (y >= h / 2 ? 2 : 0) + (x >= w / 2 ? 1 : 0);
}

std::shared_ptr<const std::uint8_t> Share(std::vector<std::uint8_t> bytes) {
    auto owner = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
    return {owner, owner->data()};
}

PageImage BgrxImage(int w, int h, int stride, bool grey = false) {
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(stride) * (h - 1) + w * 4, 0x5a);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const Colour c = QuadrantColour(QuadrantAt(x, y, w, h), grey);
            std::uint8_t* px = rows.data() + static_cast<std::size_t>(stride) * y + x * 4;
            px[0] = static_cast<std::uint8_t>(c.B);
            px[1] = static_cast<std::uint8_t>(c.G);
            px[2] = static_cast<std::uint8_t>(c.R);
            px[3] = 0x77;  // the unused byte must not matter
        }
    }
    PageImage image;
    image.Format = PageImage::Encoding::Bgrx;
    image.Width = w;
    image.Height = h;
    image.Stride = stride;
    image.Size = rows.size();
    image.Data = Share(std::move(rows));
    return image;
}

std::vector<std::uint8_t> EncodeJpeg(const vips::VImage& image) {
    VipsBlob* blob = image.jpegsave_buffer(vips::VImage::option()->set("Q", 95));
    std::size_t length = 0;
    const void* data = vips_blob_get(blob, &length);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::vector<std::uint8_t> out(bytes, bytes + length);
    vips_area_unref(VIPS_AREA(blob));
    return out;
}

// Quadrant colours as a JPEG; bands 1 (grey), 3 (RGB) or 4 (CMYK);
// orientation 0 writes no EXIF orientation.
std::vector<std::uint8_t> JpegBytes(int w, int h, int bands, int orientation = 0) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h * bands);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const Colour c = QuadrantColour(QuadrantAt(x, y, w, h), bands == 1);
            std::uint8_t* px = pixels.data() + (static_cast<std::size_t>(y) * w + x) * bands;
            const int values[4] = {c.R, c.G, c.B, 0};
            for (int b = 0; b < bands; ++b) px[b] = static_cast<std::uint8_t>(values[b]);
        }
    }
    vips::VImage image =
        vips::VImage::new_from_memory(pixels.data(), pixels.size(), w, h, bands, VIPS_FORMAT_UCHAR);
    if (bands == 4) {
        image = image.copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_CMYK));
    }
    if (orientation != 0) {
        image = image.copy();
        image.set(VIPS_META_ORIENTATION, orientation);
    }
    return EncodeJpeg(image);
}

PageImage JpegImage(int w, int h, std::vector<std::uint8_t> bytes) {
    PageImage image;
    image.Format = PageImage::Encoding::Jpeg;
    image.Width = w;
    image.Height = h;
    image.Size = bytes.size();
    image.Data = Share(std::move(bytes));
    return image;
}

// The document WritePdfPage produced, and whether it said it succeeded.
struct Written {
    bool Ok = false;
    std::string Bytes;
};

Written Write(const PageGeometry& g, const PageImage& image) {
    Written w;
    w.Ok = WritePdfPage(g, image, [&w](const unsigned char* data, std::size_t size) {
        w.Bytes.append(reinterpret_cast<const char*>(data), size);
        return true;
    });
    return w;
}

// Runs a shell command; its standard output, or a test failure.
std::string RunTool(const std::string& command) {
    const CommandResult result = RunCommand(command);
    if (result.ExitCode != 0) ADD_FAILURE() << command << " exited with " << result.ExitCode;
    return result.Output;
}

struct PdfImageRow {
    std::string Type, Colour, Encoding, Interpolate;
    int Width = 0, Height = 0, XPpi = 0, YPpi = 0;
};

// The rows of `pdfimages -list`.
std::vector<PdfImageRow> ListImages(const std::string& pdf) {
    std::istringstream lines(RunTool("pdfimages -list " + ShellQuote(pdf)));
    std::string line;
    std::getline(lines, line);  // the heading
    std::getline(lines, line);  // the rule under it
    std::vector<PdfImageRow> rows;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        PdfImageRow row;
        int page, num, comp, bpc, object, generation;
        fields >> page >> num >> row.Type >> row.Width >> row.Height >> row.Colour >> comp >> bpc >>
            row.Encoding >> row.Interpolate >> object >> generation >> row.XPpi >> row.YPpi;
        if (fields) rows.push_back(row);
    }
    return rows;
}

// The "Page size" that pdfinfo reports, in points.
std::pair<double, double> PageSize(const std::string& pdf) {
    const std::string info = RunTool("pdfinfo " + ShellQuote(pdf));
    const auto at = info.find("Page size:");
    double w = 0, h = 0;
    if (at == std::string::npos ||
        std::sscanf(info.c_str() + at, "Page size: %lf x %lf", &w, &h) != 2) {
        ADD_FAILURE() << "no page size in:\n" << info;
    }
    return {w, h};
}

vips::VImage Render(const std::string& pdf, int dpi, const std::string& prefix) {
    RunTool("pdftoppm -r " + std::to_string(dpi) + " -png -singlefile " + ShellQuote(pdf) + " " +
            ShellQuote(prefix));
    return vips::VImage::new_from_file((prefix + ".png").c_str());
}

testing::AssertionResult ColourNear(const vips::VImage& page, int x, int y, Colour want,
                                    int tolerance) {
    if (x < 0 || y < 0 || x >= page.width() || y >= page.height()) {
        return testing::AssertionFailure() << "(" << x << "," << y << ") is off the page";
    }
    const std::vector<double> got = page.getpoint(x, y);
    const int have[3] = {static_cast<int>(got[0]), static_cast<int>(got[1]),
                         static_cast<int>(got[2])};
    const int wanted[3] = {want.R, want.G, want.B};
    for (int b = 0; b < 3; ++b) {
        if (std::abs(have[b] - wanted[b]) > tolerance) {
            return testing::AssertionFailure()
                   << "at (" << x << "," << y << ") got " << have[0] << "," << have[1] << ","
                   << have[2] << " wanted " << want.R << "," << want.G << "," << want.B;
        }
    }
    return testing::AssertionSuccess();
}

class PdfPageTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(VIPS_INIT("pdf_page_test"), 0); }
    TempDir dir_;
};

struct PlacementCase {
    const char* Name;
    PageImage::Encoding Format;
    int Bands;        // 1: grey pixels, 3: colour
    int StrideExtra;  // BGRX only: bytes after each row
    PageGeometry G;
    int Width, Height;
    int RenderDpi;
};

constexpr auto kJpeg = PageImage::Encoding::Jpeg;
constexpr auto kBgrx = PageImage::Encoding::Bgrx;

// Geometries whose image edges fall on whole rendered pixels.
const PlacementCase kPlacementCases[] = {
    {"jpeg_72dpi_small_sheet", kJpeg, 3, 0, {72, 72, 0, 0, 200, 150, 18, 10}, 64, 48, 144},
    {"jpeg_600dpi_letter", kJpeg, 3, 0, {600, 600, 0, 0, 612, 792, 18, 18}, 1200, 600, 72},
    {"jpeg_grey", kJpeg, 1, 0, {300, 300, 0, 0, 612, 792, 18, 18}, 600, 300, 72},
    {"jpeg_no_margins", kJpeg, 3, 0, {150, 150, 0, 0, 300, 200, 0, 0}, 300, 200, 72},
    {"bgrx_300dpi_letter", kBgrx, 3, 0, {300, 300, 0, 0, 612, 792, 18, 18}, 600, 450, 72},
    {"bgrx_600x300dpi", kBgrx, 3, 0, {600, 300, 0, 0, 612, 828, 18, 18}, 1200, 300, 72},
    {"bgrx_padded_stride", kBgrx, 3, 16, {300, 300, 0, 0, 612, 792, 18, 18}, 600, 450, 72},
    {"bgrx_unaligned_stride", kBgrx, 3, 3, {300, 300, 0, 0, 612, 792, 18, 18}, 600, 450, 72},
    {"bgrx_landscape_sheet", kBgrx, 3, 0, {300, 300, 0, 0, 828, 612, 36, 18}, 900, 300, 72},
    // cairo writes an image whose pixels are all grey as a grey image.
    {"bgrx_grey_pixels", kBgrx, 1, 0, {300, 300, 0, 0, 612, 792, 18, 18}, 600, 450, 72},
    {"bgrx_72dpi_one_point_pixels", kBgrx, 3, 0, {72, 72, 0, 0, 100, 100, 10, 20}, 30, 20, 288},
};

TEST_F(PdfPageTest, PlacesTheImageUnscaledAtTheTopLeftOfThePrintableArea) {
    for (const PlacementCase& c : kPlacementCases) {
        SCOPED_TRACE(c.Name);
        const bool jpeg = c.Format == PageImage::Encoding::Jpeg;
        const PageImage image =
            jpeg ? JpegImage(c.Width, c.Height, JpegBytes(c.Width, c.Height, c.Bands))
                 : BgrxImage(c.Width, c.Height, c.Width * 4 + c.StrideExtra, c.Bands == 1);
        const Written pdf = Write(c.G, image);
        ASSERT_TRUE(pdf.Ok);
        const std::string path = dir_ / (std::string(c.Name) + ".pdf");
        WriteFile(path, pdf.Bytes);

        const auto [pageW, pageH] = PageSize(path);
        EXPECT_NEAR(pageW, c.G.MediaWidthPt, 0.01);
        EXPECT_NEAR(pageH, c.G.MediaHeightPt, 0.01);

        const std::vector<PdfImageRow> rows = ListImages(path);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].Type, "image");
        EXPECT_EQ(rows[0].Width, c.Width);
        EXPECT_EQ(rows[0].Height, c.Height);
        EXPECT_EQ(rows[0].Encoding, jpeg ? "jpeg" : "image");
        EXPECT_EQ(rows[0].Colour, c.Bands == 1 ? "gray" : "rgb");
        EXPECT_EQ(rows[0].Interpolate, "no");
        // pdfimages derives the resolution from the drawn size.
        EXPECT_EQ(rows[0].XPpi, c.G.Rx);
        EXPECT_EQ(rows[0].YPpi, c.G.Ry);

        const vips::VImage page = Render(path, c.RenderDpi, dir_ / c.Name);
        const double s = c.RenderDpi / 72.0;
        const int x0 = static_cast<int>(std::lround(c.G.LeftPt * s));
        const int y0 = static_cast<int>(std::lround(c.G.TopPt * s));
        const int w = static_cast<int>(std::lround(c.Width * 72.0 / c.G.Rx * s));
        const int h = static_cast<int>(std::lround(c.Height * 72.0 / c.G.Ry * s));
        const bool grey = c.Bands == 1;
        const int tolerance = jpeg ? 24 : 2;
        const Colour white{255, 255, 255};
        // The first rendered pixel of the image is its top-left pixel.
        EXPECT_TRUE(ColourNear(page, x0, y0, QuadrantColour(0, grey), tolerance));
        EXPECT_TRUE(ColourNear(page, x0 + w - 1, y0 + h - 1, QuadrantColour(3, grey), tolerance));
        EXPECT_TRUE(ColourNear(page, x0 + w / 4, y0 + h / 4, QuadrantColour(0, grey), tolerance));
        EXPECT_TRUE(
            ColourNear(page, x0 + 3 * w / 4, y0 + h / 4, QuadrantColour(1, grey), tolerance));
        EXPECT_TRUE(
            ColourNear(page, x0 + w / 4, y0 + 3 * h / 4, QuadrantColour(2, grey), tolerance));
        EXPECT_TRUE(
            ColourNear(page, x0 + 3 * w / 4, y0 + 3 * h / 4, QuadrantColour(3, grey), tolerance));
        // White right around it: nothing moved, nothing grew. poppler's
        // raster output rounds an image's right and bottom edges outward by
        // up to one pixel, so those are checked one pixel further out.
        if (x0 > 0) {
            EXPECT_TRUE(ColourNear(page, x0 - 1, y0 + h / 2, white, 0));
        }
        if (y0 > 0) {
            EXPECT_TRUE(ColourNear(page, x0 + w / 2, y0 - 1, white, 0));
        }
        EXPECT_TRUE(ColourNear(page, x0 + w + 1, y0 + h / 2, white, 0));
        EXPECT_TRUE(ColourNear(page, x0 + w / 2, y0 + h + 1, white, 0));
        EXPECT_TRUE(ColourNear(page, page.width() - 1, page.height() - 1, white, 0));
    }
}

TEST_F(PdfPageTest, EmbedsTheJpegStreamUnchanged) {
    for (const int bands : {3, 1}) {
        SCOPED_TRACE(bands == 3 ? "rgb" : "grey");
        const std::vector<std::uint8_t> bytes = JpegBytes(120, 80, bands);
        const Written pdf = Write({300, 300, 0, 0, 612, 792, 18, 18}, JpegImage(120, 80, bytes));
        ASSERT_TRUE(pdf.Ok);
        const std::string path = dir_ / "page.pdf";
        WriteFile(path, pdf.Bytes);
        RunTool("pdfimages -j " + ShellQuote(path) + " " + ShellQuote(dir_ / "extracted"));
        const std::string extracted = ReadFile(dir_ / "extracted-000.jpg");
        EXPECT_TRUE(extracted == std::string(bytes.begin(), bytes.end()))
            << "extracted " << extracted.size() << " bytes, embedded " << bytes.size();
    }
}

TEST_F(PdfPageTest, AcceptsAJpegMarkedUpright) {
    const PageImage image = JpegImage(48, 48, JpegBytes(48, 48, 3, 1));
    EXPECT_TRUE(Write({300, 300, 0, 0, 612, 792, 18, 18}, image).Ok);
}

TEST_F(PdfPageTest, NeverAsksReadersToSmooth) {
    for (const bool jpeg : {true, false}) {
        SCOPED_TRACE(jpeg ? "jpeg" : "bgrx");
        const PageImage image =
            jpeg ? JpegImage(40, 30, JpegBytes(40, 30, 3)) : BgrxImage(40, 30, 160);
        const Written pdf = Write({300, 300, 0, 0, 612, 792, 18, 18}, image);
        ASSERT_TRUE(pdf.Ok);
        const std::string path = dir_ / "page.pdf";
        WriteFile(path, pdf.Bytes);
        // Uncompressed object dictionaries, so the flag can be searched for.
        RunTool("qpdf --qdf --object-streams=disable " + ShellQuote(path) + " " +
                ShellQuote(dir_ / "plain.pdf"));
        const std::string plain = ReadFile(dir_ / "plain.pdf");
        EXPECT_EQ(plain.find("/Interpolate true"), std::string::npos);
        EXPECT_NE(plain.find("/Interpolate false"), std::string::npos);
    }
}

TEST_F(PdfPageTest, SameArgumentsGiveTheSameBytes) {
    const PageGeometry g{600, 600, 0, 0, 612, 828, 18, 18};
    const PageImage jpeg = JpegImage(64, 64, JpegBytes(64, 64, 3));
    const PageImage bgrx = BgrxImage(64, 64, 256);
    const Written a = Write(g, jpeg);
    const Written b = Write(g, jpeg);
    ASSERT_TRUE(a.Ok && b.Ok);
    EXPECT_EQ(a.Bytes, b.Bytes);
    const Written c = Write(g, bgrx);
    const Written d = Write(g, bgrx);
    ASSERT_TRUE(c.Ok && d.Ok);
    EXPECT_EQ(c.Bytes, d.Bytes);
    EXPECT_EQ(a.Bytes.find("CreationDate"), std::string::npos);
}

TEST_F(PdfPageTest, ARefusingSinkFailsAndIsNotCalledAgain) {
    const PageGeometry g{300, 300, 0, 0, 612, 792, 18, 18};
    const PageImage images[] = {JpegImage(64, 48, JpegBytes(64, 48, 3)), BgrxImage(64, 48, 256)};
    for (const PageImage& image : images) {
        SCOPED_TRACE(image.Format == PageImage::Encoding::Jpeg ? "jpeg" : "bgrx");
        const std::size_t whole = Write(g, image).Bytes.size();
        for (const std::size_t limit : {std::size_t{0}, std::size_t{100}, whole / 2, whole - 1}) {
            SCOPED_TRACE("refused after " + std::to_string(limit) + " of " + std::to_string(whole) +
                         " bytes");
            std::size_t accepted = 0;
            int callsAfterRefusal = 0;
            bool refused = false;
            const bool ok = WritePdfPage(g, image, [&](const unsigned char*, std::size_t size) {
                if (refused) ++callsAfterRefusal;
                if (accepted + size > limit) {
                    refused = true;
                    return false;
                }
                accepted += size;
                return true;
            });
            EXPECT_FALSE(ok);
            EXPECT_TRUE(refused);
            EXPECT_EQ(callsAfterRefusal, 0);
        }
    }
}

TEST_F(PdfPageTest, ASinkThatThrowsCountsAsARefusal) {
    const bool ok = WritePdfPage(
        {300, 300, 0, 0, 612, 792, 18, 18}, BgrxImage(8, 8, 32),
        [](const unsigned char*, std::size_t) -> bool { throw std::runtime_error("disk full"); });
    EXPECT_FALSE(ok);
}

TEST_F(PdfPageTest, RefusesWhatItCannotPlaceExactly) {
    const PageGeometry good{300, 300, 0, 0, 612, 792, 18, 18};
    const std::vector<std::uint8_t> jpeg = JpegBytes(64, 48, 3);
    struct Case {
        const char* Name;
        PageGeometry G;
        PageImage Image;
    };
    PageImage noData = BgrxImage(8, 8, 32);
    noData.Data.reset();
    PageImage shortRows = BgrxImage(8, 8, 32);
    shortRows.Size -= 1;
    PageImage narrowStride = BgrxImage(8, 8, 32);
    narrowStride.Stride = 28;
    PageImage zeroWidth = BgrxImage(8, 8, 32);
    zeroWidth.Width = 0;
    PageImage negativeHeight = BgrxImage(8, 8, 32);
    negativeHeight.Height = -8;
    PageImage truncatedJpeg = JpegImage(64, 48, jpeg);
    truncatedJpeg.Size = 20;
    const std::vector<std::uint8_t> garbage(400, 0xab);
    const Case cases[] = {
        {"zero_dpi_across", {0, 300, 0, 0, 612, 792, 18, 18}, BgrxImage(8, 8, 32)},
        {"negative_dpi_down", {300, -300, 0, 0, 612, 792, 18, 18}, BgrxImage(8, 8, 32)},
        {"zero_media_width", {300, 300, 0, 0, 0, 792, 18, 18}, BgrxImage(8, 8, 32)},
        {"nan_left", {300, 300, 0, 0, 612, 792, std::nan(""), 18}, BgrxImage(8, 8, 32)},
        {"infinite_media_height", {300, 300, 0, 0, 612, INFINITY, 18, 18}, BgrxImage(8, 8, 32)},
        {"bgrx_without_data", good, noData},
        {"bgrx_one_byte_short", good, shortRows},
        {"bgrx_stride_below_width", good, narrowStride},
        {"bgrx_zero_width", good, zeroWidth},
        {"bgrx_negative_height", good, negativeHeight},
        {"jpeg_other_width", good, JpegImage(65, 48, jpeg)},
        {"jpeg_other_height", good, JpegImage(64, 47, jpeg)},
        {"jpeg_truncated_header", good, truncatedJpeg},
        {"jpeg_not_a_jpeg", good, JpegImage(64, 48, garbage)},
        {"jpeg_cmyk", good, JpegImage(64, 48, JpegBytes(64, 48, 4))},
        // Square, so only the orientation is wrong: readers ignore it.
        {"jpeg_exif_turned", good, JpegImage(48, 48, JpegBytes(48, 48, 3, 6))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        int calls = 0;
        const bool ok = WritePdfPage(c.G, c.Image, [&calls](const unsigned char*, std::size_t) {
            ++calls;
            return true;
        });
        EXPECT_FALSE(ok);
    }
    EXPECT_FALSE(WritePdfPage(good, BgrxImage(8, 8, 32), PdfSink()));
}

std::int64_t StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::atoll(line.c_str() + key.size());
    }
    return -1;
}

// A JPEG is embedded without any of its pixels being held in memory: a
// 4800 x 6600 page at 600 dpi would otherwise cost 127 MB of RGB24 pixels.
TEST_F(PdfPageTest, ABigJpegNeverOccupiesItsPixelSizeInMemory) {
    const int w = 4800, h = 6600;
    const vips::VImage plain = vips::VImage::black(w, h).new_from_image({200.0, 40.0, 20.0});
    const PageImage image = JpegImage(w, h, EncodeJpeg(plain.cast(VIPS_FORMAT_UCHAR)));

    {
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5";  // resets the peak resident size to the current one
    }
    const std::int64_t before = StatusKb("VmRSS");
    ASSERT_GT(before, 0);
    ASSERT_LE(StatusKb("VmHWM") - before, 1024) << "the peak could not be reset";

    std::size_t written = 0;
    ASSERT_TRUE(WritePdfPage({600, 600, 4800, 6600, 612, 828, 18, 18}, image,
                             [&written](const unsigned char*, std::size_t size) {
                                 written += size;
                                 return true;
                             }));
    const std::int64_t grewKb = StatusKb("VmHWM") - before;
    const std::int64_t pixelKb = std::int64_t{w} * h * 4 / 1024;
    EXPECT_LT(grewKb, pixelKb / 8) << "peak grew by " << grewKb << " kB";
    EXPECT_GT(written, image.Size);
}

}  // namespace
