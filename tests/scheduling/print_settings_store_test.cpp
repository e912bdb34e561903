// A hot folder's print settings in the profile, on real files: read as
// written, kept as written (wrong values included), and a profile without
// them left as it is, byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "scheduling/hot_folder_list.h"
#include "store/ini_profile.h"
#include "tests/support/temp_dir.h"

using namespace tallowin;

namespace {

const char* const kWithout =
    "[Init]\r\nFHNumber=2\r\nVersion=1\r\n\r\n"
    "[HotFolder0]\r\nFolderPath=/srv/a\r\nPrinterName=p\r\nName=a\r\nScanTime=5\r\n\r\n"
    "[HotFolder1]\r\nFolderPath=/srv/b\r\nPrinterName=p\r\nName=b\r\nScanTime=5\r\n";

const char* const kWith =
    "[Init]\nFHNumber=2\nVersion=1\n"
    "[HotFolder0]\nFolderPath=/srv/a\nPrinterName=p\nName=a\nScanTime=5\n"
    "copies = 3\nMEDIA=iso_a5_148x210mm\nSides=two-sided-long-edge\nColorMode=monochrome\n"
    "Tray=tray-2\nOptions=print-quality=5 page-label='Proof copy'\nScaling=Fit\n"
    "Position=center\nRotate=auto\nAfterPrint=move\nPrintedFolder=done\n"
    "KeptFolder=/srv/kept\nInclude=*.jpg; *.png\nExclude=.*;*.tmp;*.part;*.crdownload;~*\n"
    "; the second folder's values are all wrong, and stay so\n"
    "[HotFolder1]\nFolderPath=/srv/b\nPrinterName=p\nName=b\nScanTime=5\n"
    "Copies=0\nScaling=stretch\nOptions=media='A4\n";

HotFolder Folder(HotFolderList& list, int id) {
    HotFolder folder;
    EXPECT_TRUE(list.Get(id, folder));
    return folder;
}

TEST(PrintSettingsStore, AProfileWithoutThemIsSavedByteForByte) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    for (const char* text : {kWithout, kWith}) {
        SCOPED_TRACE(text);
        WriteFile(path, text);
        IniProfile profile(path);
        HotFolderList list;
        ASSERT_TRUE(list.Load(profile));
        HotFolder folder = Folder(list, 0);
        folder.SetScanTime(5);  // the same: nothing to write
        list.Set(0, folder);
        ASSERT_TRUE(list.Save(profile)) << profile.GetError();
        EXPECT_EQ(ReadFile(path), text);
    }
}

TEST(PrintSettingsStore, ValuesAreReadAsWrittenAndWrongOnesNamed) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path, kWith);
    IniProfile profile(path);
    HotFolderList list;
    ASSERT_TRUE(list.Load(profile));
    const JobSettingsText a = Folder(list, 0).PrintSettings;
    const std::pair<std::string, std::string> expected[] = {
        {a.Copies, "3"},
        {a.Media, "iso_a5_148x210mm"},
        {a.Sides, "two-sided-long-edge"},
        {a.ColorMode, "monochrome"},
        {a.Tray, "tray-2"},
        {a.Options, "print-quality=5 page-label='Proof copy'"},
        {a.Scaling, "Fit"},
        {a.Position, "center"},
        {a.Rotate, "auto"},
        {a.AfterPrint, "move"},
        {a.PrintedFolder, "done"},
        {a.KeptFolder, "/srv/kept"},
        {a.Include, "*.jpg; *.png"},
        {a.Exclude, kNewFolderExclude},
    };
    for (const auto& [read, value] : expected) EXPECT_EQ(read, value);
    EXPECT_EQ(Folder(list, 1).PrintSettings.Copies, "0");
    const std::vector<std::pair<int, std::string>> problems = {
        {1,
         "Copies=0: must be a whole number from 1 to 999; Options=media='A4: the quote ' at "
         "character 7 is not closed; Scaling=stretch: must be auto-fit, fit, fill or none"}};
    EXPECT_EQ(list.GetSettingsProblems(), problems);
}

TEST(PrintSettingsStore, AnEditWritesOnlyTheKeysThatChanged) {
    struct Case {
        const char* Name;
        const char* Key;
        const char* Value;
        const char* Before;  // a line of section 0 of kWith ("" for none)
        const char* After;   // the line that replaces it, or is added after the last one
    };
    const Case cases[] = {
        {"changed", "Copies", "4", "copies = 3\n", "copies = 4\n"},
        {"cleared_stays_empty", "Tray", "", "Tray=tray-2\n", "Tray=\n"},
        {"wrong_value_written_as_typed", "Scaling", "stretch", "Scaling=Fit\n",
         "Scaling=stretch\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        const std::string path = dir / "t.ini";
        WriteFile(path, kWith);
        {
            IniProfile profile(path);
            HotFolderList list;
            ASSERT_TRUE(list.Load(profile));
            HotFolder folder = Folder(list, 0);
            for (const JobSettingsKey& k : kJobSettingsKeys) {
                if (std::string(k.Key) == c.Key) folder.PrintSettings.*k.Field = c.Value;
            }
            list.Set(0, folder);
            ASSERT_TRUE(list.Save(profile)) << profile.GetError();
        }
        std::string expected = kWith;
        expected.replace(expected.find(c.Before), std::string(c.Before).size(), c.After);
        EXPECT_EQ(ReadFile(path), expected);
        IniProfile back(path);
        HotFolderList again;
        ASSERT_TRUE(again.Load(back));
        EXPECT_EQ(again.HasOwnChanges(), false);
        HotFolder folder = Folder(again, 0);
        for (const JobSettingsKey& k : kJobSettingsKeys) {
            if (std::string(k.Key) == c.Key) {
                EXPECT_EQ(folder.PrintSettings.*k.Field, c.Value);
            }
        }
    }
}

TEST(PrintSettingsStore, ANewFolderWritesOnlyTheSettingsItHas) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path, "[Init]\nFHNumber=0\nVersion=1\n");
    {
        IniProfile profile(path);
        HotFolderList list;
        ASSERT_TRUE(list.Load(profile));
        HotFolder folder("new", "/srv/new", "p", 20);
        folder.PrintSettings.Exclude = kNewFolderExclude;
        folder.PrintSettings.Copies = "2";
        list.Add(folder);
        ASSERT_TRUE(list.Save(profile)) << profile.GetError();
    }
    EXPECT_EQ(ReadFile(path),
              "[Init]\nFHNumber=1\nVersion=1\n"
              "[HotFolder0]\nFolderPath=/srv/new\nPrinterName=p\nName=new\nScanTime=20\n"
              "Copies=2\nExclude=.*;*.tmp;*.part;*.crdownload;~*\n");
}

TEST(PrintSettingsStore, AFolderTakingAnotherOnesSectionLeavesNoneOfItsSettings) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path, kWith);
    {
        IniProfile profile(path);
        HotFolderList list;
        ASSERT_TRUE(list.Load(profile));
        list.Remove(0);
        ASSERT_TRUE(list.Save(profile)) << profile.GetError();
    }
    IniProfile back(path);
    HotFolderList again;
    ASSERT_TRUE(again.Load(back));
    ASSERT_EQ(again.GetCount(), 1u);
    JobSettingsText expected;
    expected.Copies = "0";
    expected.Scaling = "stretch";
    expected.Options = "media='A4";
    EXPECT_EQ(Folder(again, 0).PrintSettings, expected);
}

TEST(PrintSettingsStore, AnEditOnDiskIsSeenAndMergedWithTheWindows) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path, kWithout);
    IniProfile profile(path);
    HotFolderList list;
    ASSERT_TRUE(list.Load(profile));
    HotFolder mine = Folder(list, 1);
    mine.PrintSettings.Scaling = "fill";
    list.Set(1, mine);

    std::string edited = kWithout;
    edited.replace(edited.find("ScanTime=5\r\n\r\n"), 12, "ScanTime=5\r\nCopies=7\r\n");
    WriteFile(path, edited);
    IniProfile now(path);
    EXPECT_TRUE(list.ChangedOnDisk(now));
    ASSERT_EQ(list.Save(now).Outcome, HotFolderList::SaveOutcome::Merged) << now.GetError();
    IniProfile back(path);
    HotFolderList again;
    ASSERT_TRUE(again.Load(back));
    EXPECT_EQ(Folder(again, 0).PrintSettings.Copies, "7");
    EXPECT_EQ(Folder(again, 1).PrintSettings.Scaling, "fill");
}

}  // namespace
