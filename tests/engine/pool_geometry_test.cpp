#include "engine/pool_geometry.h"

#include <gtest/gtest.h>

using namespace tallowin;

namespace {

// 1/100 mm of a quarter inch, and sheets in inches.
constexpr int kQuarterInch = 635;
constexpr int Inches(double in) {
    return static_cast<int>(in * 2540);
}

PrinterSheet Sheet(double widthIn, double lengthIn, int dpiX, int dpiY, int margin = kQuarterInch) {
    return {Inches(widthIn), Inches(lengthIn), margin, margin, margin, margin, dpiX, dpiY};
}

// The page a pool should give; the sheet and the margins in points.
struct Page {
    int Rx, Ry, Pw, Ph;
    double MediaWidthPt, MediaHeightPt, LeftPt, TopPt;
};

struct PoolCase {
    const char* Name;
    std::vector<PrinterSheet> Members;
    std::optional<Page> Expected;
};

TEST(PoolPage, CombinesTheMembersIntoAPageEveryOneCanPrint) {
    const Page letter300{300, 300, 2400, 3150, 612, 792, 18, 18};
    // clang-format off
    const PoolCase cases[] = {
        {"one_member_is_its_own_page", {Sheet(8.5, 11.5, 600, 600)},
         Page{600, 600, 4800, 6600, 612, 828, 18, 18}},
        {"identical_members", {Sheet(8.5, 11.5, 600, 600), Sheet(8.5, 11.5, 600, 600)},
         Page{600, 600, 4800, 6600, 612, 828, 18, 18}},
        {"lower_resolution_wins", {Sheet(8.5, 11, 600, 600), Sheet(8.5, 11, 300, 300)}, letter300},
        // Resolution from one member, the smaller sheet from the other.
        {"resolution_and_area_from_different_members",
         {Sheet(8.5, 11, 600, 600), Sheet(8.5, 14, 300, 300)}, letter300},
        // Across from one member, down from another.
        {"resolution_across_and_down_apart",
         {Sheet(8.5, 11, 600, 300), Sheet(8.5, 11, 300, 600)}, letter300},
        // Narrow but long against wide but short: each smallest extent.
        {"smallest_width_and_length_of_different_members",
         {Sheet(8, 14, 300, 300), Sheet(8.5, 11, 300, 300)},
         Page{300, 300, 2250, 3150, 612, 792, 18, 18}},
        // Wider margins make the smaller printable area; its margins count.
        {"margins_of_the_smallest_area",
         {Sheet(8.5, 11, 300, 300), Sheet(8.5, 11, 300, 300, 2 * kQuarterInch)},
         Page{300, 300, 2250, 3000, 612, 792, 36, 36}},
        {"no_members", {}, std::nullopt},
        {"a_member_without_resolution", {Sheet(8.5, 11, 600, 600), Sheet(8.5, 11, 0, 0)},
         std::nullopt},
        {"a_member_without_printable_area",
         {Sheet(8.5, 11, 600, 600), Sheet(0.5, 11, 600, 600)}, std::nullopt},
    };
    // clang-format on
    for (const PoolCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::optional<PageGeometry> g = PoolPage(c.Members);
        ASSERT_EQ(g.has_value(), c.Expected.has_value());
        if (!g) continue;
        const Page& e = *c.Expected;
        EXPECT_EQ(g->Rx, e.Rx);
        EXPECT_EQ(g->Ry, e.Ry);
        EXPECT_EQ(g->Pw, e.Pw);
        EXPECT_EQ(g->Ph, e.Ph);
        EXPECT_NEAR(g->MediaWidthPt, e.MediaWidthPt, 0.001);
        EXPECT_NEAR(g->MediaHeightPt, e.MediaHeightPt, 0.001);
        EXPECT_NEAR(g->LeftPt, e.LeftPt, 0.001);
        EXPECT_NEAR(g->TopPt, e.TopPt, 0.001);
    }
}

}  // namespace
