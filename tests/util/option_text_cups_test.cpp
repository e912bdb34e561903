// The rows the parser accepts, read by libcups itself: both must agree.
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/util/option_text_cases.h"
#include "util/option_text.h"

using namespace tallowin;

namespace {

TEST(OptionTextCupsTest, AcceptedRowsReadAsCupsParseOptionsReadsThem) {
    for (const test_rows::OptionTextCase& c : test_rows::OptionTextCases()) {
        if (!c.Ok) continue;
        SCOPED_TRACE(c.Name);
        cups_option_t* options = nullptr;
        const int count = cupsParseOptions(c.Text, 0, &options);
        const OptionText ours = ParseOptionText(c.Text);
        ASSERT_EQ(static_cast<size_t>(count), ours.Options.size());
        for (const NamedValue& option : ours.Options) {
            const char* value = cupsGetOption(option.Name.c_str(), count, options);
            ASSERT_NE(value, nullptr) << option.Name;
            EXPECT_EQ(option.Value, value) << option.Name;
            bool sameSpelling = false;
            for (int i = 0; i < count; ++i) sameSpelling |= option.Name == options[i].name;
            EXPECT_TRUE(sameSpelling) << option.Name;
        }
        cupsFreeOptions(count, options);
    }
}

// Texts made of the characters that matter to the reader, at random (a fixed
// seed, so a failure repeats): every one the parser accepts, CUPS reads
// alike.
TEST(OptionTextCupsTest, RandomTextsTheParserAcceptsReadAlikeInCups) {
    const std::string alphabet = "ano=   \t'\"\\{},xN";
    std::mt19937 random(20261208);
    int accepted = 0;
    for (int n = 0; n < 20000; ++n) {
        std::string text;
        const size_t length = random() % 14;
        for (size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
        const OptionText ours = ParseOptionText(text);
        if (!ours.Ok()) continue;
        ++accepted;
        SCOPED_TRACE("[" + text + "]");
        cups_option_t* options = nullptr;
        const int count = cupsParseOptions(text.c_str(), 0, &options);
        EXPECT_EQ(static_cast<size_t>(count), ours.Options.size());
        for (const NamedValue& option : ours.Options) {
            const char* value = cupsGetOption(option.Name.c_str(), count, options);
            EXPECT_EQ(option.Value, value ? value : "(none)") << option.Name;
        }
        cupsFreeOptions(count, options);
    }
    EXPECT_GT(accepted, 2000);  // the table above is not all the check there is
}

// What CUPS does with the rows refused here: something of the text is lost
// or changed, which is why they are refused.
TEST(OptionTextCupsTest, RefusedRowsLoseSomethingInCups) {
    struct Row {
        const char* Text;
        const char* Option;    // an option the text names
        const char* Expected;  // what CUPS makes of it: nullptr when it drops it
    };
    const Row rows[] = {
        {"media= A4", "media", ""},
        {"copies=2 =A4 media=A4", "media", nullptr},
        {"page-label='Proof copies=2", "page-label", "Proof copies=2"},
        {"media=", "media", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Text);
        EXPECT_FALSE(ParseOptionText(row.Text).Ok());
        cups_option_t* options = nullptr;
        const int count = cupsParseOptions(row.Text, 0, &options);
        const char* value = cupsGetOption(row.Option, count, options);
        if (row.Expected == nullptr) {
            EXPECT_EQ(value, nullptr);
        } else {
            ASSERT_NE(value, nullptr);
            EXPECT_EQ(std::string(value), row.Expected);
        }
        cupsFreeOptions(count, options);
    }
}

}  // namespace
