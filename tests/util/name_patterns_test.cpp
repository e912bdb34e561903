#include "util/name_patterns.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tallowin;

namespace {

TEST(NamePatternsTest, SplitsTrimsAndDropsEmptyPatterns) {
    struct Case {
        const char* Name;
        const char* List;
        std::vector<std::string> Patterns;
    };
    const Case cases[] = {
        {"empty", "", {}},
        {"blank", "  ;\t; ", {}},
        {"one", "*.jpg", {"*.jpg"}},
        {"trimmed", " *.jpg ;\t*.png\t", {"*.jpg", "*.png"}},
        {"empty_between", "*.jpg;;*.png;", {"*.jpg", "*.png"}},
        {"inner_space_kept", "my photo*", {"my photo*"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(NamePatterns(c.List).Patterns(), c.Patterns);
        EXPECT_EQ(NamePatterns(c.List).Empty(), c.Patterns.empty());
    }
}

TEST(NamePatternsTest, PicksTheCandidates) {
    const char* const dialogExclude = ".*;*.tmp;*.part;*.crdownload;~*";
    struct Case {
        const char* Name;
        const char* Include;
        const char* Exclude;
        const char* File;
        bool Candidate;
    };
    const Case cases[] = {
        {"no_keys_every_file", "", "", ".hidden", true},
        {"include_matches", "*.jpg;*.png", "", "a.png", true},
        {"include_without_case", "*.jpg", "", "PHOTO.JPG", true},
        {"include_misses", "*.jpg", "", "a.tif", false},
        {"question_mark", "img?.jpg", "", "img7.jpg", true},
        {"bracket_range", "[a-c]*.jpg", "", "B1.jpg", true},
        {"bracket_range_misses", "[a-c]*.jpg", "", "d1.jpg", false},
        {"star_matches_leading_dot", "*.jpg", "", ".a.jpg", true},
        {"exclude_wins", "*.jpg", "~*", "~a.jpg", false},
        {"dialog_hidden", "", dialogExclude, ".a.jpg", false},
        {"dialog_partial_download", "", dialogExclude, "a.JPG.crdownload", false},
        {"dialog_part", "", dialogExclude, "a.jpg.part", false},
        {"dialog_tmp_any_case", "", dialogExclude, "x.TMP", false},
        {"dialog_office_lock", "", dialogExclude, "~$a.jpg", false},
        {"dialog_picture", "", dialogExclude, "a.jpg", true},
        {"trimmed_pattern", " *.jpg ", "", "a.jpg", true},
        {"blank_include_is_empty", " ; ", "", "a.tif", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(IsCandidateName(c.File, NamePatterns(c.Include), NamePatterns(c.Exclude)),
                  c.Candidate);
    }
}

}  // namespace
