#include "util/units.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace tallowin;

namespace {

struct LengthCase {
    const char* Name;
    std::int64_t HundredthsMm;
    int Dpi;
    int Pixels;
    double Points;
};

TEST(UnitsTest, ConvertsHundredthsOfAMillimetre) {
    const LengthCase cases[] = {
        {"one_inch", 2540, 600, 600, 72.0},
        {"letter_width", 21590, 300, 2550, 612.0},
        {"a4_width_rounds_pixels_down", 21000, 300, 2480, 595.275590551181},
        {"zero", 0, 600, 0, 0.0},
        {"just_under_a_pixel", 4, 600, 0, 0.113385826771654},
    };
    for (const LengthCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(HundredthsMmToPixels(c.HundredthsMm, c.Dpi), c.Pixels);
        EXPECT_NEAR(HundredthsMmToPoints(static_cast<double>(c.HundredthsMm)), c.Points, 1e-9);
        EXPECT_NEAR(PointsToHundredthsMm(c.Points), static_cast<double>(c.HundredthsMm), 1e-6);
    }
}

}  // namespace
