#include "engine/page_fit.h"

#include <gtest/gtest.h>

using namespace tallowin;

namespace {

struct FitCase {
    const char* name;
    FitInput in;
    float f;
    int Tw, Th;
};

class PageFitTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(PageFitTest, GivesFactorAndSizeOnPaper) {
    const FitCase& c = GetParam();
    const FitResult r = FitToPage(c.in);
    EXPECT_FLOAT_EQ(r.f, c.f) << c.name;
    EXPECT_EQ(r.Tw, c.Tw) << c.name;
    EXPECT_EQ(r.Th, c.Th) << c.name;
}

// {W, H, Dx, Dy, Rx, Ry, Pw, Ph}
INSTANTIATE_TEST_SUITE_P(
    Cases, PageFitTest,
    ::testing::Values(
        // The worked examples.
        FitCase{"too wide at 300 dpi on 600",
                {3000, 2000, 300, 300, 600, 600, 4800, 6600},
                0.8f,
                4800,
                3200},
        FitCase{
            "no resolution means 72", {1000, 500, 0, 0, 300, 300, 2400, 3200}, 0.576f, 2400, 1200},
        FitCase{"fits: natural size, half rounds up",
                {667, 400, 200, 200, 300, 300, 4800, 6600},
                1.0f,
                1001,
                600},
        FitCase{"one resolution 0 means both 72",
                {1000, 1000, 96, 0, 600, 600, 4800, 6600},
                0.576f,
                4800,
                4800},
        // Never enlarged, however small.
        FitCase{"small image stays small", {10, 20, 600, 600, 600, 600, 4800, 6600}, 1.0f, 10, 20},
        // Exactly the width of the printable area: unscaled.
        FitCase{
            "width exactly fills", {4800, 100, 600, 600, 600, 600, 4800, 6600}, 1.0f, 4800, 100},
        // Height is the limiting side. f is single precision (0.26249998...),
        // so 3000 x f is just under 787.5 and rounds down.
        FitCase{"too tall", {1000, 4000, 100, 100, 300, 300, 2400, 3150}, 0.2625f, 787, 3150},
        // Different resolutions across and down keep the paper proportions.
        FitCase{"non-square image resolution",
                {600, 600, 300, 150, 600, 600, 4800, 6600},
                1.0f,
                1200,
                2400},
        FitCase{"non-square printer resolution",
                {600, 600, 600, 600, 600, 300, 4800, 3300},
                1.0f,
                600,
                300},
        // The other resolution is 0: both become 72.
        FitCase{"only Dx is 0", {72, 72, 0, 300, 300, 300, 2400, 3150}, 1.0f, 300, 300}),
    [](const ::testing::TestParamInfo<FitCase>& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST(PageFit, NeverExceedsThePrintableArea) {
    // Sweep awkward sizes: the rounded result may touch the edge, never pass it.
    for (int w = 1; w < 5000; w += 97) {
        for (int h = 1; h < 9000; h += 211) {
            const FitResult r = FitToPage({w, h, 72, 72, 600, 600, 4800, 6600});
            ASSERT_LE(r.Tw, 4800) << w << "x" << h;
            ASSERT_LE(r.Th, 6600) << w << "x" << h;
            ASSERT_LE(r.f, 1.0f) << w << "x" << h;
        }
    }
}

}  // namespace
