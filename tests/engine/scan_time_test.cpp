#include "engine/scan_time.h"

#include <gtest/gtest.h>

using namespace tallowin;

namespace {

// One row per scan time: what the dialog, the profile and the engine make
// of it.
TEST(ScanTime, EachSideAcceptsItsOwnShortest) {
    struct Case {
        const char* text;
        bool typed;              // the dialog accepts it
        std::int32_t profile;    // read from the profile
        std::uint32_t interval;  // the engine's pause, for the parsed value
    };
    const Case cases[] = {
        {"20", true, 20, 20000}, {"5", true, 5, 5000},   {"4", false, 4, 4000},
        {"1", false, 1, 1000},   {"0", false, 1, 0},     {"-3", false, 1, 0},
        {"", false, 1, 0},       {" 7s", true, 7, 7000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::int32_t parsed = ParseScanTime(c.text);
        EXPECT_EQ(TypedScanTimeAccepted(parsed), c.typed);
        EXPECT_EQ(ProfileScanTime(c.text), c.profile);
        EXPECT_EQ(ScanIntervalMs(parsed), c.interval);
    }
}

TEST(ScanTime, DueOnceMoreThanTheIntervalHasPassedAcrossTheWrap) {
    EXPECT_EQ(TimeToNextScan(1000, 1000, 5000), 5001u);
    EXPECT_EQ(TimeToNextScan(1000, 6000, 5000), 1u);
    EXPECT_EQ(TimeToNextScan(1000, 6001, 5000), 0u);
    EXPECT_EQ(TimeToNextScan(0xFFFFFFFFu - 999u, 1000u, 5000), 3001u);
    EXPECT_EQ(TimeToNextScan(7, 7, 0), 1u);
    EXPECT_EQ(TimeToNextScan(7, 8, 0), 0u);
}

}  // namespace
