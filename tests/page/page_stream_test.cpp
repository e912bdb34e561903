// The streamed page on images the tests make, beside today's page (libvips
// render + cairo): same page size, same placement, same image size; a
// lossless page's pixels within 45 dB of today's, a JPEG page's within
// 40 dB (luma) of an exact linear resample of its source, its chroma not
// shifted, in the source's own sampling at quality 92. Every page passes
// qpdf --check; a file damaged part way gives a failure and never a
// complete document.
#include "page/page_stream.h"

#include "page/resample/linear_reducer.h"
#include "page/resample/linear_resampler.h"
#include "page/source/jpeg_rows.h"

#include <fcntl.h>
// clang-format off
#include <cstdio>  // jpeglib.h needs FILE
#include <jpeglib.h>
// clang-format on
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

// Smooth colour waves, `waves` of them across the image, over a luma ramp:
// chroma that a shift of even half a pixel moves by levels, while sampling
// it at half the size loses almost nothing.
VImage ColourWaves(int width, int height, double waves) {
    const VImage xyz = VImage::xyz(width, height);
    const VImage x = xyz.extract_band(0), y = xyz.extract_band(1);
    const VImage luma = x.linear(120.0 / width, 70.0) + y.linear(40.0 / height, 0.0);
    // libvips' sin and cos take degrees.
    const VImage cb = x.linear(360.0 * waves / width, 0.0).sin() * 40.0;
    const VImage cr = y.linear(360.0 * waves / height, 0.0).sin() * 40.0 +
                      (x + y).linear(180.0 * waves / width, 0.0).cos() * 15.0;
    // Back to RGB as JFIF's matrix has it.
    const VImage r = luma + cr * 1.402;
    const VImage g = luma - cb * 0.344136 - cr * 0.714136;
    const VImage b = luma + cb * 1.772;
    return VImage::bandjoin({r, g, b}).cast(VIPS_FORMAT_UCHAR);
}

enum class Kind { Rgb, Grey, Alpha, Cmyk, Sixteen, Waves };

struct Case {
    const char* Name;
    const char* File;  // its suffix picks the format
    Kind Pixels;
    int Orientation;       // EXIF orientation; 1: none
    int StoredW, StoredH;  // as written
    int Tw, Th;            // upright size on paper
    PageCodec Codec;
    const char* SaveOptions = "";  // libvips' save options, "[Q=95]"
    // Written by libjpeg with these luma sampling factors (chroma 1 x 1)
    // when not 0, for the layouts libvips does not write.
    int SampleH = 0, SampleV = 0;
};

// img (three bands) as a quality 90 JPEG of luma sampling h x v, with an
// EXIF orientation when it is not 1.
std::string EncodeJpeg(const VImage& img, int h, int v, int orientation) {
    std::size_t size = 0;
    const std::unique_ptr<unsigned char, decltype(&g_free)> pixels(
        static_cast<unsigned char*>(img.write_to_memory(&size)), &g_free);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(img.width());
    cinfo.image_height = static_cast<JDIMENSION>(img.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    cinfo.comp_info[0].h_samp_factor = h;
    cinfo.comp_info[0].v_samp_factor = v;
    jpeg_start_compress(&cinfo, TRUE);
    if (orientation != 1) {
        // A little-endian TIFF header and one IFD entry: orientation.
        const unsigned char exif[] = {'E', 'x',  'i', 'f', 0,
                                      0,   'I',  'I', 42,  0,
                                      8,   0,    0,   0,   1,
                                      0,   0x12, 1,   3,   0,
                                      1,   0,    0,   0,   static_cast<unsigned char>(orientation),
                                      0,   0,    0,   0,   0,
                                      0,   0};
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif, sizeof exif);
    }
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row =
            pixels.get() + static_cast<std::size_t>(cinfo.next_scanline) * img.width() * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string bytes(reinterpret_cast<const char*>(out), outSize);
    std::free(out);
    return bytes;
}

void WriteImage(const Case& c, const std::string& path) {
    VImage img = Photo(c.StoredW, c.StoredH);
    switch (c.Pixels) {
        case Kind::Rgb:
            break;
        case Kind::Waves:
            // A wave every 40 pixels or so of the page.
            img = ColourWaves(c.StoredW, c.StoredH, std::min(c.Tw, c.Th) / 40.0);
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
    if (c.SampleH != 0) {
        WriteFile(path, EncodeJpeg(img, c.SampleH, c.SampleV, c.Orientation));
        return;
    }
    if (c.Orientation != 1) {
        img = img.copy();
        img.set(VIPS_META_ORIENTATION, c.Orientation);
    }
    img.write_to_file((path + c.SaveOptions).c_str());
}

double Psnr(const VImage& a, const VImage& b) {
    const VImage d = a.cast(VIPS_FORMAT_FLOAT) - b.cast(VIPS_FORMAT_FLOAT);
    const double mse = (d * d).avg();
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// What a JPEG's header says: its components, their sampling factors, its
// colour and its first quantisation table.
struct JpegHeader {
    int Components = 0;
    int H[4] = {}, V[4] = {};
    J_COLOR_SPACE Colour = JCS_UNKNOWN;
    std::vector<int> Quant;
};

JpegHeader ReadJpegHeader(const std::string& bytes) {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    JpegHeader h;
    h.Components = cinfo.num_components;
    h.Colour = cinfo.jpeg_color_space;
    for (int c = 0; c < std::min(4, h.Components); ++c) {
        h.H[c] = cinfo.comp_info[c].h_samp_factor;
        h.V[c] = cinfo.comp_info[c].v_samp_factor;
    }
    if (cinfo.quant_tbl_ptrs[0] != nullptr) {
        h.Quant.assign(cinfo.quant_tbl_ptrs[0]->quantval, cinfo.quant_tbl_ptrs[0]->quantval + 64);
    }
    jpeg_destroy_decompress(&cinfo);
    return h;
}

// libjpeg's luma quantisation table at quality q.
std::vector<int> QuantTableAt(int q) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    cinfo.in_color_space = JCS_RGB;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, q, TRUE);
    std::vector<int> table(cinfo.quant_tbl_ptrs[0]->quantval,
                           cinfo.quant_tbl_ptrs[0]->quantval + 64);
    jpeg_destroy_compress(&cinfo);
    return table;
}

// JFIF's Y, Cb, Cr of an sRGB (or grey) image, as floats.
VImage ToYCbCr(const VImage& in) {
    VImage rgb = in.bands() == 1 ? VImage::bandjoin({in, in, in})
                                 : in.extract_band(0, VImage::option()->set("n", 3));
    rgb = rgb.cast(VIPS_FORMAT_FLOAT);
    const VImage r = rgb[0], g = rgb[1], b = rgb[2];
    return VImage::bandjoin({r * 0.299 + g * 0.587 + b * 0.114,
                             r * -0.168736 + g * -0.331264 + b * 0.5 + 128.0,
                             r * 0.5 + g * -0.418688 + b * -0.081312 + 128.0});
}

// The resampler's kernels as its header defines them, in floating point,
// for one axis of from pixels made to: same size, kept; enlarging (the page
// enlarges on both axes or keeps one), a tent at i * s - 0.5; reducing, a
// triangle of half-width s at (i + 0.5) * s - 0.5. Edge pixels repeat.
std::vector<std::vector<std::pair<int, double>>> ExactAxis(int from, int to, bool enlarging,
                                                           bool same) {
    std::vector<std::vector<std::pair<int, double>>> taps(static_cast<std::size_t>(to));
    const double s = static_cast<double>(from) / to;
    const double half = enlarging ? 1.0 : std::max(1.0, s);
    for (int i = 0; i < to; ++i) {
        const double centre = same ? i : enlarging ? i * s - 0.5 : (i + 0.5) * s - 0.5;
        double sum = 0;
        for (int j = static_cast<int>(std::floor(centre - half)); j <= centre + half; ++j) {
            const double w = 1.0 - std::fabs(j - centre) / half;
            if (w <= 0) continue;
            taps[static_cast<std::size_t>(i)].emplace_back(std::clamp(j, 0, from - 1), w);
            sum += w;
        }
        for (auto& [j, w] : taps[static_cast<std::size_t>(i)]) w /= sum;
    }
    return taps;
}

// in (float bands) resampled exactly to dw x dh.
VImage ExactResample(const VImage& in, int dw, int dh) {
    const int sw = in.width(), sh = in.height(), bands = in.bands();
    const bool same = sw == dw && sh == dh;
    const bool enlarging = !same && dw >= sw && dh >= sh;
    const auto across = ExactAxis(sw, dw, enlarging, same && sw == dw);
    const auto down = ExactAxis(sh, dh, enlarging, same && sh == dh);
    std::size_t size = 0;
    const std::unique_ptr<float, decltype(&g_free)> src(
        static_cast<float*>(in.write_to_memory(&size)), &g_free);
    std::vector<float> rows(static_cast<std::size_t>(sw) * dh * bands);
    for (int y = 0; y < dh; ++y) {
        for (const auto& [j, w] : down[static_cast<std::size_t>(y)]) {
            for (int i = 0; i < sw * bands; ++i) {
                rows[(static_cast<std::size_t>(y) * sw * bands) + i] +=
                    static_cast<float>(w) * src.get()[static_cast<std::size_t>(j) * sw * bands + i];
            }
        }
    }
    std::vector<float> out(static_cast<std::size_t>(dw) * dh * bands);
    for (int y = 0; y < dh; ++y) {
        for (int x = 0; x < dw; ++x) {
            for (const auto& [j, w] : across[static_cast<std::size_t>(x)]) {
                for (int b = 0; b < bands; ++b) {
                    out[(static_cast<std::size_t>(y) * dw + x) * bands + b] +=
                        static_cast<float>(w) *
                        rows[(static_cast<std::size_t>(y) * sw + j) * bands + b];
                }
            }
        }
    }
    return VImage(vips_image_new_from_memory_copy(out.data(), out.size() * sizeof(float), dw, dh,
                                                  bands, VIPS_FORMAT_FLOAT));
}

// The page a JPEG source should give: its pixels as decoded, in Y, Cb, Cr,
// resampled exactly as stored and then turned upright, as the page is.
VImage ExactPage(const std::string& path, const Case& c) {
    VImage stored = VImage::new_from_file(path.c_str());
    if (stored.interpretation() == VIPS_INTERPRETATION_CMYK) {
        stored = stored.colourspace(VIPS_INTERPRETATION_sRGB);
    }
    const bool swap = c.Orientation >= 5;
    VImage page = ExactResample(ToYCbCr(stored), swap ? c.Th : c.Tw, swap ? c.Tw : c.Th);
    page.set(VIPS_META_ORIENTATION, c.Orientation);
    return page.autorot();
}

// Luma PSNR, and the mean error and mean absolute error of Cb and Cr.
struct PageError {
    double LumaPsnr = 0, Cb = 0, Cr = 0, AbsCb = 0, AbsCr = 0;
};

PageError Compare(const VImage& page, const VImage& exact) {
    const VImage d = page - exact;
    PageError e;
    e.LumaPsnr = Psnr(page[0], exact[0]);
    e.Cb = d[1].avg();
    e.Cr = d[2].avg();
    e.AbsCb = d[1].abs().avg();
    e.AbsCr = d[2].abs().avg();
    return e;
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

// The JPEG page of source against its exact page: quality 92, the source's
// sampling (turned with the picture; all 1 x 1 where libvips converted
// its colours), luma within 40 dB, chroma not shifted.
void ExpectJpegPage(const std::string& source, const std::string& pdf, const std::string& prefix,
                    const Case& c) {
    RunTool("pdfimages -j " + ShellQuote(pdf) + " " + ShellQuote(prefix));
    const std::string jpeg = prefix + "-000.jpg";
    const JpegHeader page = ReadJpegHeader(ReadFile(jpeg));
    const JpegHeader from = ReadJpegHeader(ReadFile(source));
    const bool swap = c.Orientation >= 5;
    EXPECT_EQ(page.Quant, QuantTableAt(92));
    const bool kept = from.Colour == JCS_YCbCr || from.Colour == JCS_GRAYSCALE;
    ASSERT_EQ(page.Components, kept ? from.Components : 3);
    for (int i = 0; i < page.Components; ++i) {
        EXPECT_EQ(page.H[i], !kept ? 1 : swap ? from.V[i] : from.H[i]) << "component " << i;
        EXPECT_EQ(page.V[i], !kept ? 1 : swap ? from.H[i] : from.V[i]) << "component " << i;
    }
    const PageError e = Compare(ToYCbCr(VImage::new_from_file(jpeg.c_str())), ExactPage(source, c));
    SCOPED_TRACE(testing::Message() << "luma " << e.LumaPsnr << " dB, Cb " << e.Cb << " (|"
                                    << e.AbsCb << "|), Cr " << e.Cr << " (|" << e.AbsCr << "|)");
    EXPECT_GE(e.LumaPsnr, 40.0);
    EXPECT_LT(std::fabs(e.Cb), 1.0);
    EXPECT_LT(std::fabs(e.Cr), 1.0);
    // On smooth colour waves a chroma plane off by half a sample is off by
    // levels on average.
    if (c.Pixels == Kind::Waves) {
        EXPECT_LT(e.AbsCb, 1.0);
        EXPECT_LT(e.AbsCr, 1.0);
    }
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
    EXPECT_EQ(mine[0].Colour, c.Pixels == Kind::Grey && c.Codec == PageCodec::Dct ? "gray" : "rgb");
    EXPECT_EQ(mine[0].Encoding, c.Codec == PageCodec::Dct ? "jpeg" : "image");

    if (c.Codec == PageCodec::Dct) {
        ExpectJpegPage(image, streamed, dir_ / "mine", c);
    } else {
        EXPECT_GE(Psnr(ExtractImage(streamed, dir_ / "mine"), ExtractImage(today, dir_ / "theirs")),
                  45.0);
    }

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
        // Colour waves in the source's own sampling: 4:2:0, 4:2:2 and 4:4:4,
        // enlarged, reduced by less and more than 2, shrunk on load, turned
        // and flipped, odd sizes.
        Case{"Waves420Enlarge", "a.jpg", Kind::Waves, 1, 401, 299, 481, 359, PageCodec::Dct, "", 2,
             2},
        Case{"Waves420Reduce", "a.jpg", Kind::Waves, 1, 641, 481, 481, 359, PageCodec::Dct, "", 2,
             2},
        Case{"Waves420ReduceBy3", "a.jpg", Kind::Waves, 1, 1441, 1079, 481, 359, PageCodec::Dct, "",
             2, 2},
        Case{"Waves420ShrinkBy4", "a.jpg", Kind::Waves, 1, 2000, 1504, 200, 150, PageCodec::Dct, "",
             2, 2},
        Case{"Waves422Enlarge", "a.jpg", Kind::Waves, 1, 401, 299, 481, 359, PageCodec::Dct, "", 2,
             1},
        Case{"Jpeg411Exif8Enlarge", "a.jpg", Kind::Rgb, 8, 301, 199, 239, 361, PageCodec::Dct, "",
             4, 1},
        Case{"Waves444Reduce", "a.jpg", Kind::Waves, 1, 641, 481, 481, 359, PageCodec::Dct, "", 1,
             1},
        Case{"Waves420Exif6Enlarge", "a.jpg", Kind::Waves, 6, 301, 199, 239, 361, PageCodec::Dct,
             "", 2, 2},
        Case{"Waves422Exif6Enlarge", "a.jpg", Kind::Waves, 6, 301, 199, 239, 361, PageCodec::Dct,
             "", 2, 1},
        Case{"Waves422Exif8Reduce", "a.jpg", Kind::Waves, 8, 641, 481, 301, 401, PageCodec::Dct, "",
             2, 1},
        Case{"Waves420Exif3Reduce", "a.jpg", Kind::Waves, 3, 1201, 901, 481, 359, PageCodec::Dct,
             "", 2, 2},
        Case{"Waves420Exif5Same", "a.jpg", Kind::Waves, 5, 301, 201, 201, 301, PageCodec::Dct, "",
             2, 2},
        Case{"Waves420Exif6Stretched", "a.jpg", Kind::Waves, 6, 401, 301, 251, 441, PageCodec::Dct,
             "", 2, 2},
        Case{"Waves420Exif7ShrinkBy4", "a.jpg", Kind::Waves, 7, 2000, 1504, 150, 200,
             PageCodec::Dct, "", 2, 2},
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

// A plane resampled alone gives what the same channel of an RGB row gives,
// for both resamplers, sampled where the caller says: the one-channel
// paths (byte shuffles, or a tap at a time) are the same arithmetic.
TEST(PlaneResamplingTest, OneChannelGivesWhatThreeGive) {
    ASSERT_EQ(VIPS_INIT("page_stream_test"), 0);
    struct Row {
        int Sw, Sh, Dw, Dh;
        bool Reducer;
    };
    for (const Row& r : {Row{203, 151, 480, 360, false}, Row{640, 480, 401, 333, false},
                         Row{333, 222, 333, 222, false}, Row{1200, 900, 251, 171, true},
                         Row{640, 480, 100, 479, true}}) {
        const VImage source = Photo(r.Sw, r.Sh).copy_memory();
        const bool enlarging = r.Dw >= r.Sw && r.Dh >= r.Sh;
        const AxisSampling across{static_cast<double>(r.Sw) / r.Dw, 0.3};
        const AxisSampling down{static_cast<double>(r.Sh) / r.Dh, -0.7};
        const auto run = [&](int channels, const VImage& in) {
            std::size_t size = 0;
            const std::unique_ptr<unsigned char, decltype(&g_free)> pixels(
                static_cast<unsigned char*>(in.write_to_memory(&size)), &g_free);
            std::vector<unsigned char> out;
            const RowSink keep = [&](const unsigned char* row) {
                out.insert(out.end(), row, row + static_cast<std::size_t>(r.Dw) * channels);
                return true;
            };
            const std::size_t stride = static_cast<std::size_t>(r.Sw) * channels;
            if (r.Reducer) {
                LinearReducer reducer(channels, r.Sw, r.Sh, r.Dw, r.Dh, across, down);
                for (int y = 0; y < r.Sh; ++y) reducer.Push(y, pixels.get() + stride * y, keep);
            } else {
                LinearResampler resampler(channels, r.Sw, r.Sh, r.Dw, r.Dh, enlarging, across,
                                          down);
                for (int y = 0; y < r.Sh; ++y) resampler.Push(y, pixels.get() + stride * y, keep);
            }
            EXPECT_EQ(out.size(), static_cast<std::size_t>(r.Dw) * r.Dh * channels);
            return out;
        };
        const std::vector<unsigned char> rgb = run(3, source);
        for (int c = 0; c < 3; ++c) {
            const std::vector<unsigned char> plane = run(1, source.extract_band(c).copy_memory());
            int differing = 0;
            for (std::size_t i = 0; i < plane.size() && i * 3 + c < rgb.size(); ++i) {
                differing += plane[i] != rgb[i * 3 + static_cast<std::size_t>(c)];
            }
            EXPECT_EQ(differing, 0)
                << r.Sw << "x" << r.Sh << " to " << r.Dw << "x" << r.Dh << ", channel " << c;
        }
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

    // Read as planes: libvips wrote 4:2:0, so the chroma planes are half
    // the size each way, rounded up, a sample spanning 2 x 2 pixels.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const std::unique_ptr<JpegRows> planes = JpegRows::OpenPlanes(fd, 1);
    ::close(fd);
    ASSERT_NE(planes, nullptr);
    EXPECT_EQ(planes->Layout().Count, 3);
    EXPECT_EQ(planes->PlaneSize(0).Width, 640);
    EXPECT_EQ(planes->PlaneSize(2).Width, 320);
    EXPECT_EQ(planes->PlaneSize(2).Height, 23);
    EXPECT_EQ(planes->PlaneSize(1).StepY, 2.0);
    int given[3] = {};
    EXPECT_TRUE(
        planes->ReadPlanes([&](int c, const unsigned char*) { return ++given[c] > 0; }).Ok());
    EXPECT_EQ(given[0], 45);
    EXPECT_EQ(given[1], 23);
    EXPECT_EQ(given[2], 23);
    const int cmykFd = ::open(cmyk.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(JpegRows::OpenPlanes(cmykFd, 1), nullptr);
    ::close(cmykFd);
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
