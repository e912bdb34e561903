// Option texts and what `lp -o` makes of them, shared by the parser's own
// test and the check of the same rows against libcups.
#pragma once

#include <vector>

#include "util/option_text.h"

namespace tallowin::test_rows {

struct OptionTextCase {
    const char* Name;
    const char* Text;
    bool Ok;
    std::vector<NamedValue> Options;  // in the order the parser gives them
};

inline const std::vector<OptionTextCase>& OptionTextCases() {
    static const std::vector<OptionTextCase> cases = {
        {"empty", "", true, {}},
        {"blank", " \t ", true, {}},
        {"one", "media=A4", true, {{"media", "A4"}}},
        {"two", "copies=2 media=A4", true, {{"copies", "2"}, {"media", "A4"}}},
        {"tabs_and_spaces_around",
         "  sides=two-sided-long-edge\tprint-quality=5  ",
         true,
         {{"sides", "two-sided-long-edge"}, {"print-quality", "5"}}},
        {"newline_separates",
         "print-color-mode=monochrome\nDuplex=None",
         true,
         {{"print-color-mode", "monochrome"}, {"Duplex", "None"}}},
        {"comma_list", "job-sheets=none,none", true, {{"job-sheets", "none,none"}}},
        {"single_quotes", "page-label='Proof copy'", true, {{"page-label", "Proof copy"}}},
        {"double_quotes_escaped",
         R"(page-label="a \"quoted\" word")",
         true,
         {{"page-label", R"(a "quoted" word)"}}},
        {"backslash_space", R"(job-name=a\ b)", true, {{"job-name", "a b"}}},
        {"trailing_backslash_kept", R"(job-name=b\)", true, {{"job-name", R"(b\)"}}},
        {"switch_on", "collate", true, {{"collate", "true"}}},
        {"switch_off", "nocollate", true, {{"collate", "false"}}},
        {"switch_off_any_case", "NoCollate", true, {{"Collate", "false"}}},
        {"last_value_wins_first_spelling_stays",
         "media=A4 MEDIA=Letter",
         true,
         {{"media", "Letter"}}},
        {"repeated", "x=1 x=2 y=3", true, {{"x", "2"}, {"y", "3"}}},
        {"collection",
         "media-col={media-size={x-dimension=10160 y-dimension=15240}}",
         true,
         {{"media-col", "{media-size={x-dimension=10160 y-dimension=15240}}"}}},
        {"wrapped_in_braces", "{media=A4 copies=2}", true, {{"media", "A4"}, {"copies", "2"}}},
        {"empty_braces", "{}", true, {}},
        {"equals_in_value", "a=b=c", true, {{"a", "b=c"}}},
        {"quote_inside_a_plain_value", "a=x'y z'", true, {{"a", "x'y"}, {"z'", "true"}}},
        {"quoted_part_then_plain", "a='x y'z", true, {{"a", "x yz"}}},
        {"quoted_part_then_a_list", "a='1 2',3", true, {{"a", "1 2,3"}}},
        {"quote_after_a_comma_is_plain", "a=1,'2 3'", true, {{"a", "1,'2"}, {"3'", "true"}}},
        {"space_before_equals", "media =A4", true, {{"media", "A4"}}},
        // CUPS drops or cuts these without a word; refused here.
        {"space_after_equals", "media= A4", false, {}},
        {"no_name", "=A4", false, {}},
        {"no_name_later", "copies=2 =A4 media=A4", false, {}},
        {"quote_not_closed", "page-label='Proof", false, {}},
        {"brace_not_closed", "media-col={media-size={x-dimension=10160}", false, {}},
        {"outer_brace_not_closed", "{media=A4", false, {}},
        {"no_value", "media=", false, {}},
        {"no_alone", "no", false, {}},
    };
    return cases;
}

}  // namespace tallowin::test_rows
