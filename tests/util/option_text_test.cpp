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

}  // namespace
