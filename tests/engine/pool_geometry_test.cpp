#include "engine/pool_geometry.h"

#include <gtest/gtest.h>

namespace {

// 1/100 mm of a quarter inch, and sheets in inches.
constexpr int kQuarterInch = 635;
constexpr int Inches(double in) {
    return static_cast<int>(in * 2540);
}

PrinterSheet Sheet(double widthIn, double lengthIn, int dpiX, int dpiY, int margin = kQuarterInch) {
    return {Inches(widthIn), Inches(lengthIn), margin, margin, margin, margin, dpiX, dpiY};
}

struct PoolCase {
    const char* Name;
    std::vector<PrinterSheet> Members;
    bool Prints;
    int Rx, Ry, Pw, Ph;
    double MediaWidthPt, MediaHeightPt, LeftPt, TopPt;
};

TEST(PoolPage, CombinesTheMembersIntoAPageEveryOneCanPrint) {
    const PoolCase cases[] = {
        {"one_member_is_its_own_page",
         {Sheet(8.5, 11.5, 600, 600)},
         true,
         600,
         600,
         4800,
         6600,
         612,
         828,
         18,
         18},
        {"identical_members",
         {Sheet(8.5, 11.5, 600, 600), Sheet(8.5, 11.5, 600, 600)},
         true,
         600,
         600,
         4800,
         6600,
         612,
         828,
         18,
         18},
        {"lower_resolution_wins",
         {Sheet(8.5, 11, 600, 600), Sheet(8.5, 11, 300, 300)},
         true,
         300,
         300,
         2400,
         3150,
         612,
         792,
         18,
         18},
        // Resolution from one member, the smaller sheet from the other.
        {"resolution_and_area_from_different_members",
         {Sheet(8.5, 11, 600, 600), Sheet(8.5, 14, 300, 300)},
         true,
         300,
         300,
         2400,
         3150,
         612,
         792,
         18,
         18},
        // Across from one member, down from another.
        {"resolution_across_and_down_apart",
         {Sheet(8.5, 11, 600, 300), Sheet(8.5, 11, 300, 600)},
         true,
         300,
         300,
         2400,
         3150,
         612,
         792,
         18,
         18},
        // Narrow but long against wide but short: each smallest extent.
        {"smallest_width_and_length_of_different_members",
         {Sheet(8, 14, 300, 300), Sheet(8.5, 11, 300, 300)},
         true,
         300,
         300,
         2250,
         3150,
         612,
         792,
         18,
         18},
        // Wider margins make the smaller printable area; its margins count.
        {"margins_of_the_smallest_area",
         {Sheet(8.5, 11, 300, 300), Sheet(8.5, 11, 300, 300, 2 * kQuarterInch)},
         true,
         300,
         300,
         2250,
         3000,
         612,
         792,
         36,
         36},
        {"no_members", {}, false, 0, 0, 0, 0, 0, 0, 0, 0},
        {"a_member_without_resolution",
         {Sheet(8.5, 11, 600, 600), Sheet(8.5, 11, 0, 0)},
         false,
         0,
         0,
         0,
         0,
         0,
         0,
         0,
         0},
        {"a_member_without_printable_area",
         {Sheet(8.5, 11, 600, 600), Sheet(0.5, 11, 600, 600)},
         false,
         0,
         0,
         0,
         0,
         0,
         0,
         0,
         0},
    };
    for (const PoolCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::optional<PageGeometry> g = PoolPage(c.Members);
        ASSERT_EQ(g.has_value(), c.Prints);
        if (!g) continue;
        EXPECT_EQ(g->Rx, c.Rx);
        EXPECT_EQ(g->Ry, c.Ry);
        EXPECT_EQ(g->Pw, c.Pw);
        EXPECT_EQ(g->Ph, c.Ph);
        EXPECT_NEAR(g->MediaWidthPt, c.MediaWidthPt, 0.001);
        EXPECT_NEAR(g->MediaHeightPt, c.MediaHeightPt, 0.001);
        EXPECT_NEAR(g->LeftPt, c.LeftPt, 0.001);
        EXPECT_NEAR(g->TopPt, c.TopPt, 0.001);
    }
}

TEST(PoolPage, AgreeingMembersGiveExactlyTheirOwnPage) {
    const PrinterSheet a{21000, 29700, 423, 300, 500, 611, 360, 720};
    const std::optional<PageGeometry> own = PageOf(a);
    const std::optional<PageGeometry> pool = PoolPage({a, a, a});
    ASSERT_TRUE(own && pool);
    EXPECT_EQ(pool->Pw, own->Pw);
    EXPECT_EQ(pool->Ph, own->Ph);
    EXPECT_EQ(pool->Rx, own->Rx);
    EXPECT_EQ(pool->Ry, own->Ry);
    EXPECT_DOUBLE_EQ(pool->LeftPt, own->LeftPt);
    EXPECT_DOUBLE_EQ(pool->TopPt, own->TopPt);
}

}  // namespace
