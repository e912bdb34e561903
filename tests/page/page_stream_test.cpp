// The streamed page against today's page (libvips render + cairo) on images
// the tests make: same page size, same placement, same image size, pixels
// within 45 dB; every page passes qpdf --check; a file damaged part way
// gives a failure and never a complete document.
#include "page/page_stream.h"

#include "page/resample/linear_reducer.h"
#include "page/resample/linear_resampler.h"
#include "page/source/jpeg_rows.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vips/vips8>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/legacy_page.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_page.h"

using namespace tallowin;

namespace {

using vips::VImage;

// Smooth gradients, a fine wave pattern and a little grain: detail that a
// half-pixel error in resampling would show, yet no colour near white.
VImage Photo(int width, int height) {
    const VImage xyz = VImage::xyz(width, height);
    const VImage x = xyz.extract_band(0), y = xyz.extract_band(1);
    const VImage r = x.linear(180.0 / width, 30.0);
    const VImage g = y.linear(180.0 / height, 30.0);
    const VImage b = (x.linear(25.0, 0.0).sin() * y.linear(20.0, 0.0).cos()).linear(80.0, 120.0);
    const VImage noise =
        VImage::gaussnoise(width, height, VImage::option()->set("sigma", 2.0)->set("mean", 0.0));
    return (VImage::bandjoin({r, g, b}) + noise).cast(VIPS_FORMAT_UCHAR);
}

enum class Kind { Rgb, Grey, Alpha, Cmyk, Sixteen };

struct Case {
    const char* Name;
    const char* File;  // its suffix picks the format
    Kind Pixels;
    int Orientation;       // EXIF orientation; 1: none
    int StoredW, StoredH;  // as written
    int Tw, Th;            // upright size on paper
    PageCodec Codec;
    const char* SaveOptions = "";  // libvips' save options, "[Q=95]"
};

void WriteImage(const Case& c, const std::string& path) {
    VImage img = Photo(c.StoredW, c.StoredH);
    switch (c.Pixels) {
        case Kind::Rgb:
            break;
        case Kind::Grey:
            img = img.extract_band(1).copy(
                VImage::option()->set("interpretation", VIPS_INTERPRETATION_B_W));
            break;
        case Kind::Alpha: {
            const VImage alpha = VImage::xyz(c.StoredW, c.StoredH)
                                     .extract_band(0)
                                     .linear(190.0 / c.StoredW, 64.0)
                                     .cast(VIPS_FORMAT_UCHAR);
            img = img.bandjoin(alpha);
            break;
        }
        case Kind::Cmyk:
            img = img.linear(-1.0, 255.0)
                      .cast(VIPS_FORMAT_UCHAR)
                      .bandjoin_const({0})
                      .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_CMYK));
            break;
        case Kind::Sixteen:
            img = img.cast(VIPS_FORMAT_USHORT)
                      .linear(257.0, 0.0)
                      .cast(VIPS_FORMAT_USHORT)
                      .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
            break;
    }
    if (c.Orientation != 1) {
        img = img.copy();
        img.set(VIPS_META_ORIENTATION, c.Orientation);
    }
    img.write_to_file((path + c.SaveOptions).c_str());
}

std::string RunTool(const std::string& command) {
    const CommandResult result = RunCommand(command);
    if (result.ExitCode != 0) ADD_FAILURE() << command << " exited with " << result.ExitCode;
    return result.Output;
}

struct ImageRow {
    int Width = 0, Height = 0, XPpi = 0, YPpi = 0;
    std::string Colour, Encoding, Interpolate;
};

std::vector<ImageRow> ListImages(const std::string& pdf) {
    std::istringstream lines(RunTool("pdfimages -list " + ShellQuote(pdf)));
    std::string line;
    std::getline(lines, line);
    std::getline(lines, line);
    std::vector<ImageRow> rows;
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        ImageRow row;
        std::string type;
        int page, num, comp, bpc, object, generation;
        f >> page >> num >> type >> row.Width >> row.Height >> row.Colour >> comp >> bpc >>
            row.Encoding >> row.Interpolate >> object >> generation >> row.XPpi >> row.YPpi;
        if (f) rows.push_back(row);
    }
    return rows;
}

std::string PageSize(const std::string& pdf) {
    const std::string info = RunTool("pdfinfo " + ShellQuote(pdf));
    const auto at = info.find("Page size:");
    return at == std::string::npos ? "" : info.substr(at, info.find('\n', at) - at);
}

// The page's only image, decoded, as three bands.
VImage ExtractImage(const std::string& pdf, const std::string& prefix) {
    RunTool("pdfimages -png " + ShellQuote(pdf) + " " + ShellQuote(prefix));
    VImage img = VImage::new_from_file((prefix + "-000.png").c_str());
    if (img.bands() == 1) img = VImage::bandjoin({img, img, img});
    return img;
}

double Psnr(const VImage& a, const VImage& b) {
    const VImage d = a.cast(VIPS_FORMAT_FLOAT) - b.cast(VIPS_FORMAT_FLOAT);
    const double mse = (d * d).avg();
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// Where ink lands when the page is rendered at the printer's resolution:
// left, top, width, height of the pixels that are not white.
std::vector<int> InkBox(const std::string& pdf, int dpi, const std::string& prefix) {
    // No anti-aliasing: an edge pixel is inked or not.
    RunTool("pdftoppm -aa no -aaVector no -r " + std::to_string(dpi) + " -png -singlefile " +
            ShellQuote(pdf) + " " + ShellQuote(prefix));
    const VImage page = VImage::new_from_file((prefix + ".png").c_str());
    const VImage ink = (page < 250).bandor();  // 255 where any band is below 250
    std::size_t size = 0;
    const std::unique_ptr<unsigned char, decltype(&g_free)> mask(
        static_cast<unsigned char*>(ink.write_to_memory(&size)), &g_free);
    int left = page.width(), top = page.height(), right = -1, bottom = -1;
    for (int y = 0; y < page.height(); ++y) {
        for (int x = 0; x < page.width(); ++x) {
            if (mask.get()[static_cast<std::size_t>(y) * page.width() + x] == 0) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    return {left, top, right - left + 1, bottom - top + 1};
}

// Opens the file and streams its page into bytes.
Status StreamFile(const std::string& path, const PageGeometry& g, int tw, int th,
                  std::string& bytes, const StopQuery& stop = {}) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Status::Failure(HF_ERR_NOT_IMAGE, "cannot open");
    Result<std::unique_ptr<PageSource>> source = PageSource::Open(fd, tw, th);
    ::close(fd);
    if (!source.Ok()) return source.Error;
    return StreamPage(
        *source.Value, g,
        [&](const unsigned char* d, std::size_t n) {
            bytes.append(reinterpret_cast<const char*>(d), n);
            return true;
        },
        stop);
}

class PageStreamTest : public testing::TestWithParam<Case> {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(VIPS_INIT("page_stream_test"), 0); }
    TempDir dir_;
};

TEST_P(PageStreamTest, MatchesTodaysPage) {
    const Case& c = GetParam();
    const PageGeometry g = TestPageGeometry();
    const std::string image = dir_ / c.File;
    WriteImage(c, image);

    std::string bytes;
    const Status s = StreamFile(image, g, c.Tw, c.Th, bytes);
    ASSERT_TRUE(s.Ok()) << s.Reason;
    const std::string streamed = dir_ / "streamed.pdf", today = dir_ / "today.pdf";
    WriteFile(streamed, bytes);
    std::FILE* f = std::fopen(today.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const bool legacyOk = legacy::WritePage(
        image, g, c.Tw, c.Th,
        [&](const unsigned char* d, std::size_t n) { return std::fwrite(d, 1, n, f) == n; });
    std::fclose(f);
    ASSERT_TRUE(legacyOk);

    EXPECT_EQ(RunCommand("qpdf --check " + ShellQuote(streamed)).ExitCode, 0);
    EXPECT_EQ(PageSize(streamed), PageSize(today));

    const std::vector<ImageRow> mine = ListImages(streamed), theirs = ListImages(today);
    ASSERT_EQ(mine.size(), 1u);
    ASSERT_EQ(theirs.size(), 1u);
    EXPECT_EQ(mine[0].Width, c.Tw);
    EXPECT_EQ(mine[0].Height, c.Th);
    EXPECT_EQ(mine[0].Width, theirs[0].Width);
    EXPECT_EQ(mine[0].Height, theirs[0].Height);
    EXPECT_EQ(mine[0].XPpi, theirs[0].XPpi);
    EXPECT_EQ(mine[0].YPpi, theirs[0].YPpi);
    EXPECT_EQ(mine[0].Interpolate, "no");
    EXPECT_EQ(mine[0].Colour, "rgb");
    EXPECT_EQ(mine[0].Encoding, c.Codec == PageCodec::Dct ? "jpeg" : "image");

    const double psnr =
        Psnr(ExtractImage(streamed, dir_ / "mine"), ExtractImage(today, dir_ / "theirs"));
    EXPECT_GE(psnr, 45.0);

    // The placement exactly: Tw x Th printer pixels in points, the top-left
    // corner at the printable area's (PDF's y runs up from the bottom).
    const std::size_t q = bytes.find("q ");
    ASSERT_NE(q, std::string::npos);
    double w = 0, h = 0, x = 0, y = 0, b = 0, cc = 0;
    ASSERT_EQ(std::sscanf(bytes.c_str() + q, "q %lf %lf %lf %lf %lf %lf cm /Im0 Do Q", &w, &b, &cc,
                          &h, &x, &y),
              6);
    EXPECT_NEAR(w, c.Tw * 72.0 / g.Rx, 1e-6);
    EXPECT_NEAR(h, c.Th * 72.0 / g.Ry, 1e-6);
    EXPECT_EQ(b, 0.0);
    EXPECT_EQ(cc, 0.0);
    EXPECT_NEAR(x, g.LeftPt, 1e-6);
    EXPECT_NEAR(y, g.MediaHeightPt - g.TopPt - h, 1e-6);

    // Where the geometry puts the image, as today's page does. An edge that
    // falls exactly on a pixel boundary may ink the pixel beside it or not,
    // depending on the last bit of the numbers each writer printed.
    const std::vector<int> box = InkBox(streamed, g.Rx, dir_ / "mine-page");
    const std::vector<int> todays = InkBox(today, g.Rx, dir_ / "theirs-page");
    const int expected[4] = {30, 60, c.Tw, c.Th};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(box[i], todays[i], 1) << "box field " << i;
        EXPECT_NEAR(box[i], expected[i], 2) << "box field " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Images, PageStreamTest,
    testing::Values(
        Case{"JpegEnlarge", "a.jpg", Kind::Rgb, 1, 400, 300, 480, 360, PageCodec::Dct},
        Case{"JpegReduce", "a.jpg", Kind::Rgb, 1, 640, 480, 480, 360, PageCodec::Dct},
        Case{"JpegSameSize", "a.jpg", Kind::Rgb, 1, 480, 360, 480, 360, PageCodec::Dct},
        Case{"JpegGrey", "a.jpg", Kind::Grey, 1, 400, 300, 480, 360, PageCodec::Dct},
        // libjpeg decodes these straight into the resampler: progressive,
        // no chroma subsampling (quality 90 and up), restart markers.
        Case{"JpegProgressive", "a.jpg", Kind::Rgb, 1, 400, 300, 480, 360, PageCodec::Dct,
             "[interlace]"},
        Case{"JpegFullChroma", "a.jpg", Kind::Rgb, 1, 401, 299, 481, 359, PageCodec::Dct, "[Q=95]"},
        Case{"JpegRestarts", "a.jpg", Kind::Rgb, 1, 640, 480, 520, 390, PageCodec::Dct,
             "[subsample-mode=on,restart-interval=2]"},
        Case{"PngEnlargeLossless", "a.png", Kind::Rgb, 1, 400, 300, 480, 360, PageCodec::FlateUp},
        Case{"PngReduceLossless", "a.png", Kind::Rgb, 1, 700, 500, 480, 343, PageCodec::FlateUp},
        // Beyond the resampler: left to libvips' resize.
        Case{"PngReduceByThree", "a.png", Kind::Rgb, 1, 1440, 1080, 480, 360, PageCodec::FlateUp},
        // Milder reductions decode in full; from a reduction of 10 the
        // JPEG is decoded shrunk by 4, from 16 by 8 (upright or turned,
        // any colour), and the rest reduced linearly.
        Case{"JpegReduceBy2_5", "a.jpg", Kind::Rgb, 1, 1200, 900, 480, 360, PageCodec::Dct},
        Case{"JpegReduceBy3_3", "a.jpg", Kind::Rgb, 1, 1600, 1200, 480, 360, PageCodec::Dct},
        Case{"JpegReduceBy5", "a.jpg", Kind::Rgb, 1, 2400, 1800, 480, 360, PageCodec::Dct},
        Case{"JpegReduceBy9_9", "a.jpg", Kind::Rgb, 1, 1984, 1488, 200, 150, PageCodec::Dct},
        Case{"JpegShrinkBy4", "a.jpg", Kind::Rgb, 1, 2000, 1500, 200, 150, PageCodec::Dct},
        Case{"JpegShrinkBy8", "a.jpg", Kind::Rgb, 1, 3200, 2400, 200, 150, PageCodec::Dct},
        Case{"JpegShrinkTurned", "a.jpg", Kind::Rgb, 6, 2400, 1600, 160, 240, PageCodec::Dct},
        Case{"JpegShrinkCmyk", "a.jpg", Kind::Cmyk, 1, 2000, 1500, 200, 150, PageCodec::Dct},
        Case{"JpegShrinkGrey", "a.jpg", Kind::Grey, 1, 2000, 1500, 200, 150, PageCodec::Dct},
        Case{"JpegStretched", "a.jpg", Kind::Rgb, 1, 400, 300, 480, 250, PageCodec::Dct},
        Case{"ExifRotated", "a.jpg", Kind::Rgb, 6, 400, 300, 270, 360, PageCodec::Dct},
        Case{"ExifRotatedEnlarged", "a.jpg", Kind::Rgb, 6, 300, 200, 240, 360, PageCodec::Dct},
        Case{"Exif2Enlarged", "a.jpg", Kind::Rgb, 2, 400, 300, 480, 360, PageCodec::Dct},
        Case{"Exif4Enlarged", "a.jpg", Kind::Rgb, 4, 400, 300, 480, 360, PageCodec::Dct},
        Case{"Exif5Enlarged", "a.jpg", Kind::Rgb, 5, 300, 200, 240, 360, PageCodec::Dct},
        Case{"Exif6Enlarged", "a.jpg", Kind::Rgb, 6, 300, 200, 240, 360, PageCodec::Dct},
        Case{"Exif7Enlarged", "a.jpg", Kind::Rgb, 7, 300, 200, 240, 360, PageCodec::Dct},
        Case{"Exif8Enlarged", "a.jpg", Kind::Rgb, 8, 300, 200, 240, 360, PageCodec::Dct},
        Case{"ExifFlipped", "a.jpg", Kind::Rgb, 3, 400, 300, 480, 360, PageCodec::Dct},
        // Turned on the libvips path (CMYK), the source held or the page.
        Case{"Exif6CmykEnlarged", "a.jpg", Kind::Cmyk, 6, 300, 200, 240, 360, PageCodec::Dct},
        Case{"Exif7CmykReduced", "a.jpg", Kind::Cmyk, 7, 400, 300, 270, 360, PageCodec::Dct},
        Case{"AlphaOnWhite", "a.png", Kind::Alpha, 1, 400, 300, 480, 360, PageCodec::FlateUp},
        Case{"Cmyk", "a.jpg", Kind::Cmyk, 1, 400, 300, 480, 360, PageCodec::Dct},
        Case{"SixteenBit", "a.png", Kind::Sixteen, 1, 400, 300, 480, 360, PageCodec::FlateUp}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.Name); });

// The resampler alone against vips_resize with the linear kernel on the
// same pixels, both lossless: enlarging, reducing below 2, one axis kept,
// the two axes apart, odd sizes.
struct ResampleCase {
    int Sw, Sh, Dw, Dh;
};

// source's rows pushed through a resampler (LinearResampler or
// LinearReducer) to c's size.
template <typename Resampler>
VImage Resampled(const VImage& source, const ResampleCase& c) {
    std::size_t size = 0;
    const std::unique_ptr<unsigned char, decltype(&g_free)> pixels(
        static_cast<unsigned char*>(source.write_to_memory(&size)), &g_free);
    std::vector<unsigned char> mine;
    Resampler resampler(c.Sw, c.Sh, c.Dw, c.Dh);
    for (int y = 0; y < c.Sh; ++y) {
        EXPECT_TRUE(resampler.Push(y, pixels.get() + static_cast<std::size_t>(y) * c.Sw * 3,
                                   [&](const unsigned char* row) {
                                       mine.insert(mine.end(), row, row + c.Dw * 3);
                                       return true;
                                   }));
    }
    EXPECT_EQ(resampler.RowsOut(), c.Dh);
    // A copy: an image on foreign memory would outlive mine.
    return VImage(vips_image_new_from_memory_copy(mine.data(), mine.size(), c.Dw, c.Dh, 3,
                                                  VIPS_FORMAT_UCHAR));
}

VImage VipsResized(const VImage& source, const ResampleCase& c) {
    VImage want = source.resize(static_cast<double>(c.Dw) / c.Sw,
                                VImage::option()
                                    ->set("vscale", static_cast<double>(c.Dh) / c.Sh)
                                    ->set("kernel", VIPS_KERNEL_LINEAR));
    EXPECT_EQ(want.width(), c.Dw);
    EXPECT_EQ(want.height(), c.Dh);
    return want;
}

class LinearResamplerTest : public testing::TestWithParam<ResampleCase> {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(VIPS_INIT("page_stream_test"), 0); }
};

TEST_P(LinearResamplerTest, MatchesVipsResize) {
    const ResampleCase c = GetParam();
    ASSERT_TRUE(LinearResampler::Handles(c.Sw, c.Sh, c.Dw, c.Dh));
    const VImage source = Photo(c.Sw, c.Sh).copy_memory();
    EXPECT_GE(Psnr(Resampled<LinearResampler>(source, c), VipsResized(source, c)), 50.0);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LinearResamplerTest,
    testing::Values(ResampleCase{400, 300, 480, 360}, ResampleCase{400, 300, 1000, 750},
                    ResampleCase{401, 299, 402, 300}, ResampleCase{640, 480, 480, 360},
                    ResampleCase{700, 500, 351, 251}, ResampleCase{400, 300, 400, 200},
                    ResampleCase{300, 400, 450, 400}, ResampleCase{333, 222, 200, 130}));

// The reducer against vips_resize with the linear kernel: the same bytes,
// for reductions by 2 to 16 (a box first from 4, a box alone at exactly
// 4), one axis kept, odd sizes, factors apart.
TEST(LinearReducerTest, GivesVipsResizesBytes) {
    ASSERT_EQ(VIPS_INIT("page_stream_test"), 0);
    for (const ResampleCase c :
         {ResampleCase{1200, 900, 480, 360}, ResampleCase{1600, 1200, 480, 360},
          ResampleCase{1000, 1000, 300, 280}, ResampleCase{640, 480, 200, 480},
          ResampleCase{701, 503, 190, 170}, ResampleCase{640, 480, 400, 200},
          ResampleCase{999, 777, 251, 259}, ResampleCase{2400, 1800, 480, 360},
          ResampleCase{2001, 1503, 200, 150}, ResampleCase{1603, 1201, 100, 300},
          ResampleCase{1000, 800, 250, 200}}) {
        ASSERT_TRUE(LinearReducer::Handles(c.Sw, c.Sh, c.Dw, c.Dh));
        const VImage source = Photo(c.Sw, c.Sh).copy_memory();
        const VImage difference = (Resampled<LinearReducer>(source, c).cast(VIPS_FORMAT_INT) -
                                   VipsResized(source, c).cast(VIPS_FORMAT_INT))
                                      .abs();
        EXPECT_EQ(difference.max(), 0.0) << c.Sw << "x" << c.Sh << " to " << c.Dw << "x" << c.Dh;
    }
}

TEST(LinearResamplerHandlesTest, LeavesToLibvipsWhatItDoesNotCopy) {
    struct Row {
        int Sw, Sh, Dw, Dh;
        bool Handled;
    };
    for (const Row& r : {Row{400, 300, 480, 360, true}, Row{400, 300, 400, 300, true},
                         Row{400, 300, 201, 151, true}, Row{400, 300, 200, 150, false},
                         Row{400, 300, 500, 250, false}, Row{400, 300, 300, 400, false},
                         Row{400, 300, 0, 300, false}}) {
        EXPECT_EQ(LinearResampler::Handles(r.Sw, r.Sh, r.Dw, r.Dh), r.Handled)
            << r.Sw << "x" << r.Sh << " to " << r.Dw << "x" << r.Dh;
    }
}

// A file cut short: the page fails as damaged, and what the sink received
// is no complete document (no trailer, no end-of-file marker).
class TruncatedTest : public testing::TestWithParam<const char*> {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(VIPS_INIT("page_stream_test"), 0); }
    TempDir dir_;
};

TEST_P(TruncatedTest, FailsBeforeTheDocumentEnds) {
    const std::string whole = dir_ / (std::string("whole.") + GetParam());
    Photo(800, 600).write_to_file(whole.c_str());
    const std::string cut = dir_ / (std::string("cut.") + GetParam());
    std::filesystem::copy_file(whole, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(whole) * 6 / 10);

    std::string bytes;
    const Status s = StreamFile(cut, TestPageGeometry(), 960, 720, bytes);
    EXPECT_FALSE(s.Ok());
    EXPECT_EQ(s.Code, HF_ERR_DAMAGED) << s.Reason;
    EXPECT_FALSE(s.Reason.empty());
    EXPECT_EQ(bytes.find("%%EOF"), std::string::npos);
    EXPECT_EQ(bytes.find("trailer"), std::string::npos);
    EXPECT_EQ(bytes.find("xref"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Formats, TruncatedTest, testing::Values("jpg", "png"));

// Damage anywhere in a JPEG, bytes changed or the file cut short, in its
// header or its data, as libjpeg meets it straight or through libvips: the
// page either completes or fails as damaged or as no image, never
// complete after a failure, and nothing crashes or hangs. Deterministic, so
// a failure repeats.
TEST(DamagedJpegTest, EveryDamageEndsInAPageOrADamagedFile) {
    ASSERT_EQ(VIPS_INIT("page_stream_test"), 0);
    TempDir dir;
    const std::string whole = dir / "whole.jpg", hurt = dir / "hurt.jpg";
    Photo(320, 240).write_to_file(whole.c_str());
    const std::string bytes = ReadFile(whole);
    std::uint32_t seed = 12345;
    const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (int round = 0; round < 40; ++round) {
        std::string damaged = bytes;
        if (round % 3 == 2) {
            damaged.resize(next() % damaged.size());  // cut short anywhere
        } else {
            for (int k = 0; k < 1 + round % 4; ++k) {
                damaged[next() % damaged.size()] = static_cast<char>(next() >> 24);
            }
        }
        WriteFile(hurt, damaged);
        std::string page;
        const Status s = StreamFile(hurt, TestPageGeometry(), 400, 300, page);
        EXPECT_TRUE(s.Ok() || s.Code == HF_ERR_DAMAGED || s.Code == HF_ERR_NOT_IMAGE ||
                    s.Code == HF_ERR_TOO_LARGE)
            << "round " << round << ": " << s.Code << " " << s.Reason;
        if (!s.Ok()) {
            EXPECT_EQ(page.find("%%EOF"), std::string::npos) << "round " << round;
        }
    }
}

// A sink that refuses, or a stop, ends the page with a failure and both
// threads ended.
TEST(PageStreamEndTest, RefusalAndStopEndThePage) {
    ASSERT_EQ(VIPS_INIT("page_stream_test"), 0);
    TempDir dir;
    const std::string path = dir / "a.jpg";
    Photo(800, 600).write_to_file(path.c_str());
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);

    Result<std::unique_ptr<PageSource>> source = PageSource::Open(fd, 1600, 1200);
    ASSERT_TRUE(source.Ok());
    std::size_t seen = 0;
    const Status refused =
        StreamPage(*source.Value, TestPageGeometry(), [&](const unsigned char*, std::size_t n) {
            seen += n;
            return seen < 4096;
        });
    EXPECT_EQ(refused.Code, HF_ERR_JOB_FAILED);

    source = PageSource::Open(fd, 1600, 1200);
    ASSERT_TRUE(source.Ok());
    int asked = 0;
    std::string bytes;
    const Status stopped = StreamPage(
        *source.Value, TestPageGeometry(),
        [&](const unsigned char* d, std::size_t n) {
            bytes.append(reinterpret_cast<const char*>(d), n);
            return true;
        },
        [&] { return ++asked > 2; });
    EXPECT_EQ(stopped.Code, HF_ERR_UNREACHABLE);
    EXPECT_EQ(bytes.find("%%EOF"), std::string::npos);
    ::close(fd);
}

// The JPEG reader on its own: libvips' loader's pixels bit for bit, a cut
// file failing as damaged, and what it leaves to libvips.
TEST(JpegRowsTest, GivesTheLoadersPixelsAndFailsCutFiles) {
    ASSERT_EQ(VIPS_INIT("page_stream_test"), 0);
    TempDir dir;
    const std::string path = dir / "a.jpg", cut = dir / "cut.jpg", cmyk = dir / "cmyk.jpg";
    Photo(640, 45).write_to_file(path.c_str());
    Photo(64, 48)
        .bandjoin_const({0})
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_CMYK))
        .write_to_file(cmyk.c_str());
    std::filesystem::copy_file(path, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(path) / 2);
    const auto open = [](const std::string& file, int shrink = 1) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        std::unique_ptr<JpegRows> rows = JpegRows::Open(fd, shrink);
        ::close(fd);  // the reader keeps its own descriptor
        return rows;
    };

    std::vector<unsigned char> mine;
    ASSERT_TRUE(open(path)
                    ->Read([&](const unsigned char* r) {
                        mine.insert(mine.end(), r, r + 640 * 3);
                        return true;
                    })
                    .Ok());
    std::size_t size = 0;
    const VImage loaded = VImage::new_from_file(path.c_str());
    const std::unique_ptr<unsigned char, decltype(&g_free)> theirs(
        static_cast<unsigned char*>(loaded.write_to_memory(&size)), &g_free);
    ASSERT_EQ(mine.size(), size);
    EXPECT_EQ(std::memcmp(mine.data(), theirs.get(), size), 0);

    int rows = 0;
    const Status cutShort = open(cut)->Read([&](const unsigned char*) { return ++rows > 0; });
    EXPECT_EQ(cutShort.Code, HF_ERR_DAMAGED);
    EXPECT_LT(rows, 45);

    EXPECT_EQ(open(cmyk), nullptr);
    EXPECT_EQ(open(path, 3), nullptr);  // no DCT scaling libvips offers
    EXPECT_EQ(open(path, 2), nullptr);  // 45 rows do not halve
}

TEST(PageSourceTest, RefusesWhatIsNoImage) {
    ASSERT_EQ(VIPS_INIT("page_stream_test"), 0);
    TempDir dir;
    const std::string path = dir / "note.txt";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not a picture at all\n", f);
    std::fclose(f);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(PageSource::Open(fd, 10, 10).Error.Code, HF_ERR_NOT_IMAGE);
    ::close(fd);
}

}  // namespace
