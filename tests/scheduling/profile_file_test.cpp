// The profile file as users and their editors leave it: encodings, line
// ends, damaged sections, links and read-only files, on real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "os/file_watch.h"
#include "scheduling/hot_folder_list.h"
#include "store/ini_profile.h"
#include "tests/support/temp_dir.h"

using namespace tallowin;

namespace {

// One profile in any of the string types: P is the literal's prefix.
// clang-format off
#define PROFILE_TEXT(P, NL, SCAN)                                                            \
    P##"; Tallowin settings" NL "[Init]" NL "FHNumber = 2" NL "Version=1" NL NL               \
    "[HotFolder0]" NL "FolderPath=C:\\Caf\u00e9" NL "PrinterName=tallowin-600" NL             \
    "Name=Caf\u00e9 \U0001D11E" NL "ScanTime=" SCAN NL NL "[Other]" NL "Theme=dark" NL NL    \
    "[HotFolder1]" NL "Name=Scans" NL "FolderPath=/srv/scans" NL "PrinterName=tallowin-300" NL \
    "ScanTime=12" NL
// clang-format on

std::string Utf16(std::u16string_view units, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t u : units) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        bytes += bigEndian ? hi : lo;
        bytes += bigEndian ? lo : hi;
    }
    return bytes;
}

struct EncodingCase {
    const char* name;
    std::string original;  // with scan time 5
    std::string edited;    // the same with scan time 7
};

class ProfileFileEncoding : public ::testing::TestWithParam<EncodingCase> {};

std::vector<std::string> Names(const HotFolderList& list) {
    std::vector<std::string> names;
    list.GetNames(names);
    return names;
}

TEST_P(ProfileFileEncoding, UnchangedSaveIsByteIdenticalAndAnEditChangesOnlyItsLine) {
    TempDir dir;
    const std::string path = dir / "tallowin.ini";
    WriteFile(path, GetParam().original);
    {
        IniProfile profile(path);
        HotFolderList list;
        ASSERT_TRUE(list.Load(profile)) << profile.GetError();
        EXPECT_EQ(Names(list), (std::vector<std::string>{"Caf\u00e9 \U0001D11E", "Scans"}));
        ASSERT_TRUE(list.Save(profile)) << profile.GetError();
    }
    EXPECT_EQ(ReadFile(path), GetParam().original);
    {
        IniProfile profile(path);
        HotFolderList list;
        ASSERT_TRUE(list.Load(profile));
        HotFolder folder;
        ASSERT_TRUE(list.Get(0, folder));
        folder.SetScanTime(7);
        list.Set(0, folder);
        ASSERT_TRUE(list.Save(profile)) << profile.GetError();
    }
    EXPECT_EQ(ReadFile(path), GetParam().edited);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileFileEncoding,
    ::testing::Values(EncodingCase{"utf16le", Utf16(PROFILE_TEXT(u, "\r\n", "5"), false),
                                   Utf16(PROFILE_TEXT(u, "\r\n", "7"), false)},
                      EncodingCase{"utf16be", Utf16(PROFILE_TEXT(u, "\r\n", "5"), true),
                                   Utf16(PROFILE_TEXT(u, "\r\n", "7"), true)},
                      EncodingCase{"utf8_bom", "\xEF\xBB\xBF" PROFILE_TEXT(, "\r\n", "5"),
                                   "\xEF\xBB\xBF" PROFILE_TEXT(, "\r\n", "7")},
                      EncodingCase{"crlf", PROFILE_TEXT(, "\r\n", "5"),
                                   PROFILE_TEXT(, "\r\n", "7")},
                      EncodingCase{"lf", PROFILE_TEXT(, "\n", "5"), PROFILE_TEXT(, "\n", "7")},
                      EncodingCase{"cr", PROFILE_TEXT(, "\r", "5"), PROFILE_TEXT(, "\r", "7")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileFile, NewKeysAndSectionsFollowTheFilesLineEnds) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path,
              "[Init]\r\nFHNumber=1\r\n\r\n[HotFolder0]\r\nName="
              "a\r\nScanTime=3\r\n\r\n[Other]\r\nK=v");
    {
        IniProfile profile(path);
        HotFolderList list;
        ASSERT_TRUE(list.Load(profile));
        list.Add(HotFolder("b", "/b", "p", 9));
        ASSERT_TRUE(list.Save(profile));
    }
    EXPECT_EQ(ReadFile(path),
              "[Init]\r\nFHNumber=2\r\nVersion=1\r\n\r\n"
              "[HotFolder0]\r\nName=a\r\nScanTime="
              "3\r\nFolderPath=\r\nPrinterName=\r\n\r\n"
              "[Other]\r\nK=v\r\n"
              "[HotFolder1]\r\nFolderPath=/"
              "b\r\nPrinterName=p\r\nName=b\r\nScanTime=9\r\n");
}

struct UnreadableCase {
    const char* name;
    std::string bytes;
    const char* reason;
};

class ProfileFileUnreadable : public ::testing::TestWithParam<UnreadableCase> {};

TEST_P(ProfileFileUnreadable, IsReportedAndNeverSavedOver) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path, GetParam().bytes);
    IniProfile profile(path);
    HotFolderList list;
    EXPECT_FALSE(profile.IsReadable());
    EXPECT_NE(profile.GetError().find(GetParam().reason), std::string::npos) << profile.GetError();
    EXPECT_FALSE(list.Load(profile));
    list.Add(HotFolder("new", "/p", "q", 5));
    EXPECT_FALSE(list.Save(profile));
    EXPECT_EQ(ReadFile(path), GetParam().bytes);
}

using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileFileUnreadable,
    ::testing::Values(
        UnreadableCase{"nul_bytes", "[Init]\nFHNumber=1\0\0\n[HotFolder0]\nName=a\n"s, "NUL"},
        UnreadableCase{"binary", "\x89PNG\r\n\x1a\n\x01\x02"s, "control characters"},
        UnreadableCase{"utf16_odd_length", "\xFF\xFE[\0I"s, "not valid UTF-16"},
        UnreadableCase{"utf16_lone_surrogate", "\xFF\xFE[\0\x00\xD8]\0"s, "not valid UTF-16"},
        UnreadableCase{"utf16_with_nul", Utf16(u"[Init]\r\nFHNumber=1\0"s, true), "NUL"}),
    [](const auto& info) { return std::string(info.param.name); });

struct SkipCase {
    const char* name;
    std::vector<int> removeIds;
    std::vector<std::string> names;  // after save and reload
    int count;                       // FHNumber written
};

class ProfileFileSkipped : public ::testing::TestWithParam<SkipCase> {};

TEST_P(ProfileFileSkipped, BadSectionIsKeptAndTheFoldersAfterItLoad) {
    const std::string bad = "[HotFolder1]\n; waiting for a name\nFolderPath=/x\nName=  \n";
    const std::string original = "[Init]\nFHNumber=4\nVersion=1\n[HotFolder0]\nName=a\n" + bad +
                                 "[HotFolder2]\nName=c\n[HotFolder3]\nName=d\n";
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path, original);
    {
        IniProfile profile(path);
        HotFolderList list;
        ASSERT_TRUE(list.Load(profile));
        EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "c", "d"}));
        for (int id : GetParam().removeIds) ASSERT_TRUE(list.Remove(id));
        ASSERT_TRUE(list.Save(profile));
    }
    if (GetParam().removeIds.empty()) {
        // The numbers fit around the kept section: nothing moves.
        EXPECT_NE(ReadFile(path).find("[HotFolder0]\nName=a\nFolderPath=\n"), std::string::npos);
    }
    EXPECT_NE(ReadFile(path).find(bad), std::string::npos) << ReadFile(path);
    IniProfile profile(path);
    HotFolderList list;
    ASSERT_TRUE(list.Load(profile));
    EXPECT_EQ(profile.GetInt("Init", "FHNumber", -1), GetParam().count);
    EXPECT_EQ(Names(list), GetParam().names);
    const auto skipped = list.GetSkipped();
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].Section, "HotFolder1");
    EXPECT_EQ(skipped[0].Reason, "it has no Name");
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileFileSkipped,
                         ::testing::Values(SkipCase{"unchanged", {}, {"a", "c", "d"}, 4},
                                           SkipCase{"first_removed", {0}, {"c", "d"}, 3},
                                           SkipCase{"all_removed", {0, 1, 2}, {}, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileFile, SaveWritesThroughALinkToItsTarget) {
    TempDir dir;
    std::filesystem::create_directory(dir / "dotfiles");
    WriteFile(dir / "dotfiles/tallowin.ini", "[Init]\nFHNumber=0\n");
    ASSERT_EQ(symlink("dotfiles/tallowin.ini", (dir / "tallowin.ini").c_str()), 0);
    {
        IniProfile profile(dir / "tallowin.ini");
        HotFolderList list;
        ASSERT_TRUE(list.Load(profile));
        list.Add(HotFolder("new", "/p", "q", 5));
        ASSERT_TRUE(list.Save(profile)) << profile.GetError();
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "tallowin.ini"));
    EXPECT_NE(ReadFile(dir / "dotfiles/tallowin.ini").find("Name=new"), std::string::npos);
    // No temporary file left in either folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "dotfiles"), {}), 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
}

TEST(ProfileFile, ReadOnlyProfileIsNotReplaced) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    const std::string original = "[Init]\nFHNumber=0\nVersion=1\n";
    WriteFile(path, original);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    IniProfile profile(path);
    HotFolderList list;
    ASSERT_TRUE(list.Load(profile));
    EXPECT_TRUE(list.Save(profile)) << "nothing changed, so nothing needs writing";
    list.Add(HotFolder("new", "/p", "q", 5));
    EXPECT_FALSE(list.Save(profile));
    EXPECT_NE(profile.GetError().find("read-only"), std::string::npos) << profile.GetError();
    EXPECT_EQ(ReadFile(path), original);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
}

// Replaces path the way most editors save: a new file renamed over it.
void SaveLikeAnEditor(const std::string& path, const std::string& text) {
    WriteFile(path + ".new", text);
    ASSERT_EQ(rename((path + ".new").c_str(), path.c_str()), 0);
}

TEST(ProfileFile, CommitDoesNotReplaceAFileChangedSinceItWasRead) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path, "[Init]\nFHNumber=0\n");
    IniProfile profile(path);
    const std::string edit = "[Init]\nFHNumber=0\n; edited by hand\n";
    SaveLikeAnEditor(path, edit);
    profile.WriteString("Init", "Version", "1");
    EXPECT_FALSE(profile.Commit());
    EXPECT_NE(profile.GetError().find("changed on disk"), std::string::npos) << profile.GetError();
    EXPECT_EQ(ReadFile(path), edit);
}

TEST(ProfileFile, WatchReportsAChangeOnceItHoldsStill) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path, "[Init]\n");
    FileWatch watch(path, IniProfile(path).ReadIdentity());
    EXPECT_FALSE(watch.Poll());
    SaveLikeAnEditor(path, "[Init]\nFHNumber=0\n");
    EXPECT_FALSE(watch.Poll()) << "seen once: it may still be being written";
    EXPECT_TRUE(watch.Poll());
    EXPECT_FALSE(watch.Poll()) << "reported once";
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_FALSE(watch.Poll());
    EXPECT_FALSE(watch.Poll()) << "a missing file is no change";
    WriteFile(path, "[Init]\n");
    EXPECT_FALSE(watch.Poll());
    EXPECT_TRUE(watch.Poll());
}

// A gone folder's section written twice at the end of the file, a blank
// line between: both go, and nothing of the sections above them.
TEST(ProfileFile, AGoneFolderInTwoSectionsAtTheEndIsRemovedWhole) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path,
              "[Init]\nFHNumber=3\n[HotFolder0]\nName=a\nScanTime=5\n[Other]\nKeep=me\n"
              "[HotFolder2]\nName=gone\n\n[HotFolder2]\nScanTime=4\n");
    {
        IniProfile profile(path);
        HotFolderList list;
        ASSERT_TRUE(list.Load(profile));
        ASSERT_EQ(Names(list), (std::vector<std::string>{"a", "gone"}));
        ASSERT_TRUE(list.Remove(1));
        ASSERT_TRUE(list.Save(profile)) << profile.GetError();
    }
    EXPECT_EQ(ReadFile(path),
              "[Init]\nFHNumber=1\nVersion=1\n[HotFolder0]\nName=a\nScanTime=5\n"
              "FolderPath=\nPrinterName=\n[Other]\nKeep=me\n");
}

TEST(ProfileFile, ScanTimeIsAtLeastOneSecondAndSaturates) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"0", 1},
        {"-1", 1},
        {"", 1},
        {" 12abc", 12},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"4294967301", INT_MAX},
        {"-2147483649", 1},
    };
    for (const auto& [text, expected] : cases) {
        TempDir dir;
        WriteFile(dir / "t.ini",
                  "[Init]\nFHNumber=1\n[HotFolder0]\nName=a\nScanTime=" + std::string(text) + "\n");
        IniProfile profile(dir / "t.ini");
        HotFolderList list;
        ASSERT_TRUE(list.Load(profile));
        HotFolder folder;
        ASSERT_TRUE(list.Get(0, folder));
        EXPECT_EQ(folder.GetScanTime(), expected) << "'" << text << "'";
    }
}

}  // namespace
