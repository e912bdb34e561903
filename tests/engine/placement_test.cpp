#include "engine/placement.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/page_fit.h"

using namespace tallowin;

namespace {

struct PaperArea {
    const char* Name;
    int Dpi, Pw, Ph;
};
// Borderless A4 (21000 x 29700 hundredths of a millimetre) and 4 x 6 in.
constexpr PaperArea kA4At300{"a4_300", 300, 2480, 3507};
constexpr PaperArea kA4At600{"a4_600", 600, 4960, 7015};
constexpr PaperArea k4x6At300{"4x6_300", 300, 1200, 1800};
constexpr PaperArea k4x6At600{"4x6_600", 600, 2400, 3600};
constexpr PaperArea kSheets[] = {kA4At300, kA4At600, k4x6At300, k4x6At600};

struct PictureSize {
    int W, H, Dx, Dy;
};
constexpr PictureSize kLandscape{3000, 2000, 300, 300};  // 10 x 6.67 in
constexpr PictureSize kSmall{600, 400, 300, 300};        // 2 x 1.33 in

FitInput Input(const PictureSize& p, const PaperArea& s) {
    return {p.W, p.H, p.Dx, p.Dy, s.Dpi, s.Dpi, s.Pw, s.Ph};
}

TEST(PlacementTest, PlacesToThePixel) {
    using enum Scaling;
    using enum Position;
    using enum Rotation;
    struct Case {
        const char* Name;
        PictureSize Pic;
        PaperArea On;
        Scaling Scale;
        Position Place;
        Rotation Turn;
        bool Turned;
        int ScaledW, ScaledH;
        PixelRect Printed;  // X, Y in the area; Tw x Th
        PixelRect Kept;
    };
    // clang-format off
    const Case cases[] = {
        {"autofit_shrinks", kLandscape, k4x6At300, AutoFit, TopLeft, No, false, 1200, 800, {0, 0, 1200, 800}, {0, 0, 1200, 800}},
        {"autofit_centre", kLandscape, k4x6At300, AutoFit, Center, No, false, 1200, 800, {0, 500, 1200, 800}, {0, 0, 1200, 800}},
        {"autofit_bottom_right", kLandscape, k4x6At300, AutoFit, BottomRight, No, false, 1200, 800, {0, 1000, 1200, 800}, {0, 0, 1200, 800}},
        {"autofit_turns_when_larger", kLandscape, k4x6At300, AutoFit, TopLeft, Auto, true, 1200, 1800, {0, 0, 1200, 1800}, {0, 0, 1200, 1800}},
        {"autofit_600", kLandscape, k4x6At600, AutoFit, TopLeft, No, false, 2400, 1600, {0, 0, 2400, 1600}, {0, 0, 2400, 1600}},
        {"autofit_a4_300", kLandscape, kA4At300, AutoFit, TopLeft, No, false, 2480, 1653, {0, 0, 2480, 1653}, {0, 0, 2480, 1653}},
        {"autofit_a4_600", kLandscape, kA4At600, AutoFit, TopLeft, No, false, 4960, 3307, {0, 0, 4960, 3307}, {0, 0, 4960, 3307}},
        {"autofit_a4_turned_own_size", kLandscape, kA4At300, AutoFit, TopLeft, Auto, true, 2000, 3000, {0, 0, 2000, 3000}, {0, 0, 2000, 3000}},
        {"autofit_never_enlarges", kSmall, k4x6At300, AutoFit, TopLeft, No, false, 600, 400, {0, 0, 600, 400}, {0, 0, 600, 400}},
        {"autofit_small_centre", kSmall, k4x6At300, AutoFit, Center, No, false, 600, 400, {300, 700, 600, 400}, {0, 0, 600, 400}},
        {"autofit_small_right", kSmall, k4x6At300, AutoFit, Right, No, false, 600, 400, {600, 700, 600, 400}, {0, 0, 600, 400}},
        {"autofit_no_resolution_is_72", {720, 360, 0, 0}, kA4At300, AutoFit, TopLeft, No, false, 2480, 1240, {0, 0, 2480, 1240}, {0, 0, 2480, 1240}},
        {"fit_shrinks", kLandscape, k4x6At300, Fit, TopLeft, No, false, 1200, 800, {0, 0, 1200, 800}, {0, 0, 1200, 800}},
        {"fit_enlarges", kSmall, k4x6At300, Fit, TopLeft, No, false, 1200, 800, {0, 0, 1200, 800}, {0, 0, 1200, 800}},
        {"fit_bottom", kSmall, k4x6At300, Fit, Bottom, No, false, 1200, 800, {0, 1000, 1200, 800}, {0, 0, 1200, 800}},
        {"fit_turned", kSmall, k4x6At300, Fit, TopLeft, Auto, true, 1200, 1800, {0, 0, 1200, 1800}, {0, 0, 1200, 1800}},
        {"fit_a4_rounds_the_short_side", kSmall, kA4At300, Fit, TopLeft, No, false, 2480, 1653, {0, 0, 2480, 1653}, {0, 0, 2480, 1653}},
        {"fill_cuts_both_sides", kLandscape, k4x6At300, Fill, TopLeft, No, false, 2700, 1800, {0, 0, 1200, 1800}, {750, 0, 1200, 1800}},
        {"fill_ignores_position", kLandscape, k4x6At300, Fill, BottomRight, No, false, 2700, 1800, {0, 0, 1200, 1800}, {750, 0, 1200, 1800}},
        {"fill_turns_to_cut_nothing", kLandscape, k4x6At300, Fill, TopLeft, Auto, true, 1200, 1800, {0, 0, 1200, 1800}, {0, 0, 1200, 1800}},
        {"fill_odd_pixel_cut_on_the_right", kSmall, kA4At300, Fill, TopLeft, No, false, 5261, 3507, {0, 0, 2480, 3507}, {1390, 0, 2480, 3507}},
        {"none_cut_at_the_right_and_bottom", kLandscape, k4x6At300, None, TopLeft, No, false, 3000, 2000, {0, 0, 1200, 1800}, {0, 0, 1200, 1800}},
        {"none_centre_cut_evenly", kLandscape, k4x6At300, None, Center, No, false, 3000, 2000, {0, 0, 1200, 1800}, {900, 100, 1200, 1800}},
        {"none_bottom_right_cut_left_and_top", kLandscape, k4x6At300, None, BottomRight, No, false, 3000, 2000, {0, 0, 1200, 1800}, {1800, 200, 1200, 1800}},
        {"none_tie_is_not_turned", kLandscape, k4x6At300, None, TopLeft, Auto, false, 3000, 2000, {0, 0, 1200, 1800}, {0, 0, 1200, 1800}},
        {"none_600_centre", kLandscape, k4x6At600, None, Center, No, false, 6000, 4000, {0, 0, 2400, 3600}, {1800, 200, 2400, 3600}},
        {"none_small_centre", kSmall, k4x6At300, None, Center, No, false, 600, 400, {300, 700, 600, 400}, {0, 0, 600, 400}},
        {"none_own_resolutions", {300, 300, 100, 200}, k4x6At300, None, TopLeft, Auto, false, 900, 450, {0, 0, 900, 450}, {0, 0, 900, 450}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const Placement p = PlacePicture({Input(c.Pic, c.On), c.Scale, c.Place, c.Turn});
        EXPECT_EQ(p.Turned, c.Turned);
        EXPECT_EQ(p.ScaledW, c.ScaledW);
        EXPECT_EQ(p.ScaledH, c.ScaledH);
        EXPECT_EQ((PixelRect{p.X, p.Y, p.Tw, p.Th}), c.Printed);
        EXPECT_EQ(p.Kept, c.Kept);
    }
}

TEST(PlacementTest, SourceRegionIsTheKeptPartInPicturePixels) {
    const Placement fill = PlacePicture({Input(kLandscape, k4x6At300), Scaling::Fill});
    EXPECT_DOUBLE_EQ(fill.Source.X, 750.0 * 3000 / 2700);
    EXPECT_DOUBLE_EQ(fill.Source.Y, 0);
    EXPECT_DOUBLE_EQ(fill.Source.W, 1200.0 * 3000 / 2700);
    EXPECT_DOUBLE_EQ(fill.Source.H, 2000);
    EXPECT_TRUE(fill.Cut());

    const Placement none =
        PlacePicture({Input(kLandscape, k4x6At600), Scaling::None, Position::Center, Rotation::No});
    EXPECT_DOUBLE_EQ(none.Source.X, 900);
    EXPECT_DOUBLE_EQ(none.Source.Y, 100);
    EXPECT_DOUBLE_EQ(none.Source.W, 1200);
    EXPECT_DOUBLE_EQ(none.Source.H, 1800);

    const Placement turned = PlacePicture(
        {Input(kLandscape, k4x6At300), Scaling::AutoFit, Position::TopLeft, Rotation::Auto});
    ASSERT_TRUE(turned.Turned);
    EXPECT_DOUBLE_EQ(turned.Source.W, 2000);  // the turned picture is H wide
    EXPECT_DOUBLE_EQ(turned.Source.H, 3000);
    EXPECT_FALSE(turned.Cut());
}

TEST(PlacementTest, TodaysRuleIsFitToPageOnEverySheet) {
    for (const PaperArea& sheet : kSheets) {
        for (int w : {1, 17, 599, 600, 2480, 3001, 9999}) {
            for (int h : {1, 400, 1653, 3507, 7016}) {
                for (int dpi : {0, 72, 96, 300, 301, 1200}) {
                    SCOPED_TRACE(std::string(sheet.Name) + " " + std::to_string(w) + "x" +
                                 std::to_string(h) + " @" + std::to_string(dpi));
                    const FitInput in = Input({w, h, dpi, dpi}, sheet);
                    const FitResult today = FitToPage(in);
                    const Placement p = PlacePicture({in});
                    EXPECT_FALSE(p.Turned);
                    EXPECT_EQ(p.Tw, today.Tw);
                    EXPECT_EQ(p.Th, today.Th);
                    EXPECT_EQ(p.X, 0);
                    EXPECT_EQ(p.Y, 0);
                }
            }
        }
    }
}

// Every mode on every sheet: the printed part lies inside the area, the kept
// part inside the scaled picture, and the proportions stay within a pixel.
TEST(PlacementTest, EveryModeStaysInsideTheArea) {
    const Scaling scales[] = {Scaling::AutoFit, Scaling::Fit, Scaling::Fill, Scaling::None};
    const PictureSize pictures[] = {kLandscape, kSmall, {1, 5000, 300, 300}, {4000, 4000, 0, 0}};
    for (const PaperArea& sheet : kSheets) {
        for (const PictureSize& pic : pictures) {
            for (const Scaling scale : scales) {
                for (int place = 0; place <= static_cast<int>(Position::BottomRight); ++place) {
                    for (const Rotation turn : {Rotation::No, Rotation::Auto}) {
                        SCOPED_TRACE(std::string(sheet.Name) + " " + std::to_string(pic.W) + "x" +
                                     std::to_string(pic.H) + " scale " +
                                     std::to_string(static_cast<int>(scale)) + " place " +
                                     std::to_string(place) + " turn " +
                                     std::to_string(static_cast<int>(turn)));
                        const Placement p = PlacePicture(
                            {Input(pic, sheet), scale, static_cast<Position>(place), turn});
                        const int pw = sheet.Pw, ph = sheet.Ph;
                        EXPECT_GE(p.X, 0);
                        EXPECT_GE(p.Y, 0);
                        EXPECT_LE(p.X + p.Tw, pw);
                        EXPECT_LE(p.Y + p.Th, ph);
                        EXPECT_GE(p.Kept.X, 0);
                        EXPECT_GE(p.Kept.Y, 0);
                        EXPECT_LE(p.Kept.X + p.Kept.W, p.ScaledW);
                        EXPECT_LE(p.Kept.Y + p.Kept.H, p.ScaledH);
                        if (scale == Scaling::Fill) {
                            EXPECT_EQ(p.Tw, pw);
                            EXPECT_EQ(p.Th, ph);
                        }
                        if (scale == Scaling::Fit) {
                            EXPECT_TRUE(p.Tw == pw || p.Th == ph);
                        }
                        const int w = p.Turned ? pic.H : pic.W, h = p.Turned ? pic.W : pic.H;
                        if (scale != Scaling::None && p.ScaledW > 1 && p.ScaledH > 1) {
                            // ScaledW / ScaledH against w / h, within a pixel of rounding.
                            EXPECT_LE(std::abs(static_cast<double>(p.ScaledW) * h / w - p.ScaledH),
                                      1.0);
                        }
                    }
                }
            }
        }
    }
}

TEST(PlacementTest, AbsurdSizesAreHeldNotWrapped) {
    const Placement fill =
        PlacePicture({{1, 1'000'000'000, 300, 300, 600, 600, 4960, 7015}, Scaling::Fill});
    EXPECT_EQ(fill.ScaledW, 4960);
    EXPECT_EQ(fill.ScaledH, 1 << 30);
    EXPECT_EQ((PixelRect{fill.X, fill.Y, fill.Tw, fill.Th}), (PixelRect{0, 0, 4960, 7015}));
    const Placement none = PlacePicture(
        {{1'000'000'000, 1, 1, 1, 600, 600, 4960, 7015}, Scaling::None, Position::BottomRight});
    EXPECT_EQ(none.ScaledW, 1 << 30);
    EXPECT_EQ(none.Kept, (PixelRect{(1 << 30) - 4960, 0, 4960, 600}));
}

TEST(PlacementTest, NothingToPlaceGivesNothing) {
    EXPECT_EQ(PlacePicture({{0, 10, 300, 300, 300, 300, 100, 100}, Scaling::Fit}).Tw, 0);
    EXPECT_EQ(PlacePicture({{10, 10, 300, 300, 300, 300, 0, 100}, Scaling::Fill}).Tw, 0);
    EXPECT_EQ(PlacePicture({{10, 10, 300, 300, 0, 300, 100, 100}, Scaling::None}).Tw, 0);
}

}  // namespace
