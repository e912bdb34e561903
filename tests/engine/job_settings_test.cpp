#include "engine/job_settings.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

using namespace tallowin;

namespace {

// A text with the keys given set.
JobSettingsText With(std::initializer_list<std::pair<std::string, std::string>> keys) {
    JobSettingsText text;
    for (const auto& [key, value] : keys) {
        for (const JobSettingsKey& k : kJobSettingsKeys) {
            if (k.Key == key) text.*k.Field = value;
        }
    }
    return text;
}

TEST(JobSettingsTest, NoKeysIsTodaysJob) {
    const ParsedJobSettings read = ParseJobSettings({});
    ASSERT_TRUE(read.Ok());
    EXPECT_EQ(read.Reason(), "");
    const JobSettings& s = read.Settings;
    EXPECT_FALSE(s.Copies);
    EXPECT_EQ(s.Scale, Scaling::AutoFit);
    EXPECT_EQ(s.Place, Position::TopLeft);
    EXPECT_EQ(s.Turn, Rotation::No);
    EXPECT_EQ(s.After, AfterPrint::Delete);
    EXPECT_TRUE(JobOptions(s).empty());
    EXPECT_TRUE(s.IsCandidate(".hidden.tmp"));
}

TEST(JobSettingsTest, ReadsEveryGoodValue) {
    JobSettingsText text;
    text.Copies = "12";
    text.Media = "iso_a5_148x210mm";
    text.Sides = "Two-Sided-Long-Edge";
    text.ColorMode = "monochrome";
    text.Tray = "tray-2";
    text.Options = "print-quality=5 output-bin=face-up";
    text.Scaling = "FILL";
    text.Position = "bottom-right";
    text.Rotate = "auto";
    text.AfterPrint = "move";
    text.PrintedFolder = "done";
    text.KeptFolder = "/srv/kept";
    text.Include = "*.jpg; *.png";
    text.Exclude = kNewFolderExclude;
    const ParsedJobSettings read = ParseJobSettings(text, "/srv/in");
    ASSERT_TRUE(read.Ok()) << read.Reason();
    const JobSettings& s = read.Settings;
    EXPECT_EQ(s.Copies, 12);
    EXPECT_EQ(s.Sides, "two-sided-long-edge");
    EXPECT_EQ(s.Scale, Scaling::Fill);
    EXPECT_EQ(s.Place, Position::BottomRight);
    EXPECT_EQ(s.Turn, Rotation::Auto);
    EXPECT_EQ(s.After, AfterPrint::Move);
    EXPECT_EQ(ResolveSettingsFolder("/srv/in", s.PrintedFolder), "/srv/in/done");
    EXPECT_EQ(ResolveSettingsFolder("/srv/in", s.KeptFolder), "/srv/kept");
    EXPECT_TRUE(s.IsCandidate("A.JPG"));
    EXPECT_FALSE(s.IsCandidate("a.tif"));
    EXPECT_FALSE(s.IsCandidate(".a.jpg"));
    const std::vector<NamedValue> expected = {{"print-quality", "5"},
                                              {"output-bin", "face-up"},
                                              {"copies", "12"},
                                              {"media", "iso_a5_148x210mm"},
                                              {"sides", "two-sided-long-edge"},
                                              {"print-color-mode", "monochrome"},
                                              {"media-source", "tray-2"}};
    EXPECT_EQ(JobOptions(s), expected);
}

TEST(JobSettingsTest, NamesEveryBadValue) {
    struct Case {
        const char* Key;
        const char* Value;
        const char* Reason;
    };
    const Case cases[] = {
        {"Copies", "0", "Copies=0: must be a whole number from 1 to 999"},
        {"Copies", "1000", "Copies=1000: must be a whole number from 1 to 999"},
        {"Copies", "99999999999", "Copies=99999999999: must be a whole number from 1 to 999"},
        {"Copies", "-2", "Copies=-2: must be a whole number from 1 to 999"},
        {"Copies", "2x", "Copies=2x: must be a whole number from 1 to 999"},
        {"Media", "A4 Letter", "Media=A4 Letter: must be one name, without spaces"},
        {"Tray", "tray 2", "Tray=tray 2: must be one name, without spaces"},
        {"Sides", "duplex",
         "Sides=duplex: must be one-sided, two-sided-long-edge or two-sided-short-edge"},
        {"ColorMode", "grey", "ColorMode=grey: must be color or monochrome"},
        {"Scaling", "stretch", "Scaling=stretch: must be auto-fit, fit, fill or none"},
        {"Position", "middle",
         "Position=middle: must be top-left, top, top-right, left, center, right, bottom-left, "
         "bottom or bottom-right"},
        {"Rotate", "yes", "Rotate=yes: must be no or auto"},
        {"AfterPrint", "keep", "AfterPrint=keep: must be delete or move"},
        {"AfterPrint", "move", "AfterPrint=move: needs a PrintedFolder to move files to"},
        {"Options", "media='A4", "Options=media='A4: the quote ' at character 7 is not closed"},
        {"Options", "=A4", "Options==A4: a value has no option name before its '=' at character 1"},
        {"Options", "Fit-To-Page",
         "Options=Fit-To-Page: Fit-To-Page would change the page's size or place: Scaling, "
         "Position and Rotate say how the picture is printed"},
        {"PrintedFolder", ".", "PrintedFolder=.: is the hot folder itself"},
        {"KeptFolder", "/srv/in/", "KeptFolder=/srv/in/: is the hot folder itself"},
        {"KeptFolder", "../in", "KeptFolder=../in: is the hot folder itself"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Key) + "=" + c.Value);
        const ParsedJobSettings read = ParseJobSettings(With({{c.Key, c.Value}}), "/srv/in");
        EXPECT_FALSE(read.Ok());
        EXPECT_EQ(read.Reason(), c.Reason);
        EXPECT_TRUE(JobOptions(read.Settings).empty()) << "a wrong value is left at its default";
    }
}

TEST(JobSettingsTest, EveryProblemIsNamedAtOnce) {
    JobSettingsText text;
    text.Copies = "0";
    text.Scaling = "stretch";
    const ParsedJobSettings read = ParseJobSettings(text);
    EXPECT_EQ(read.Problems.size(), 2u);
    EXPECT_EQ(read.Reason(),
              "Copies=0: must be a whole number from 1 to 999; Scaling=stretch: must be "
              "auto-fit, fit, fill or none");
}

TEST(JobSettingsTest, KeysWinOverTheSameOptions) {
    struct Case {
        const char* Name;
        JobSettingsText Text;
        std::vector<NamedValue> Options;
    };
    const Case cases[] = {
        {"copies",
         With({{"Copies", "3"}, {"Options", "Copies=9 collate"}}),
         {{"collate", "true"}, {"copies", "3"}}},
        {"media_and_ppd_size",
         With({{"Media", "A4"}, {"Options", "PageSize=Letter media=letter PageRegion=Letter"}}),
         {{"media", "A4"}}},
        {"sides_and_duplex",
         With({{"Sides", "one-sided"}, {"Options", "Duplex=DuplexNoTumble"}}),
         {{"sides", "one-sided"}}},
        {"colour_and_model",
         With({{"ColorMode", "color"}, {"Options", "ColorModel=Gray"}}),
         {{"print-color-mode", "color"}}},
        {"tray_and_input_slot",
         With({{"Tray", "manual"}, {"Options", "InputSlot=Tray1"}}),
         {{"media-source", "manual"}}},
        {"options_alone_stay",
         With({{"Options", "media=A5 sides=two-sided-short-edge"}}),
         {{"media", "A5"}, {"sides", "two-sided-short-edge"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const ParsedJobSettings read = ParseJobSettings(c.Text);
        ASSERT_TRUE(read.Ok()) << read.Reason();
        EXPECT_EQ(JobOptions(read.Settings), c.Options);
    }
}

TEST(JobSettingsTest, SettingsFoldersResolveUnderTheHotFolder) {
    EXPECT_EQ(ResolveSettingsFolder("/srv/in", ""), "");
    EXPECT_EQ(ResolveSettingsFolder("/srv/in", "printed"), "/srv/in/printed");
    EXPECT_EQ(ResolveSettingsFolder("/srv/in/", "printed"), "/srv/in/printed");
    EXPECT_EQ(ResolveSettingsFolder("/srv/in", "/var/printed"), "/var/printed");
}

}  // namespace
