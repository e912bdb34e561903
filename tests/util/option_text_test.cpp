#include "util/option_text.h"

#include <gtest/gtest.h>

#include "tests/util/option_text_cases.h"

using namespace tallowin;

namespace {

TEST(OptionTextTest, ReadsAsLpDoesAndRefusesWhatItWouldLose) {
    for (const test_rows::OptionTextCase& c : test_rows::OptionTextCases()) {
        SCOPED_TRACE(c.Name);
        const OptionText read = ParseOptionText(c.Text);
        EXPECT_EQ(read.Ok(), c.Ok) << read.Error;
        EXPECT_EQ(read.Options, c.Options);
    }
}

TEST(OptionTextTest, SaysWhereTheFaultIs) {
    EXPECT_EQ(ParseOptionText("copies=2 =A4").Error,
              "a value has no option name before its '=' at character 10");
    EXPECT_EQ(ParseOptionText("a='x").Error, "the quote ' at character 3 is not closed");
    EXPECT_EQ(ParseOptionText("media=").Error, "the option media has no value");
}

TEST(OptionTextTest, NamesMatchWithoutCase) {
    EXPECT_TRUE(SameOptionName("Media", "mEDIA"));
    EXPECT_FALSE(SameOptionName("media", "media-source"));
}

}  // namespace
