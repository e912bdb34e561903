// The hot folders in the INI profile, on real temporary files.
#include "store/ini_profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <functional>

#include "scheduling/hot_folder_list.h"
#include "tests/support/temp_dir.h"

using namespace tallowin;

namespace {

struct Loaded {
    bool ok = false;
    std::vector<HotFolder> folders;
};

Loaded LoadFrom(const std::string& path) {
    IniProfile profile(path);
    HotFolderList list;
    Loaded result;
    result.ok = list.Load(profile);
    for (unsigned id = 0; id < list.GetCount(); ++id) {
        HotFolder f;
        EXPECT_TRUE(list.Get(static_cast<int>(id), f)) << "ids must be 0 .. n-1 after a load";
        result.folders.push_back(f);
    }
    return result;
}

std::vector<std::string> SectionNames(const Loaded& l) {
    std::vector<std::string> names;
    for (const HotFolder& f : l.folders) names.push_back(f.GetName());
    return names;
}

TEST(SettingsStore, MissingProfileLoadsNothingAndSavesAnEmptyList) {
    TempDir dir;
    const std::string path = dir / "sub/tallowin.ini";
    {
        IniProfile profile(path);
        HotFolderList list;
        EXPECT_TRUE(list.Load(profile));
        EXPECT_EQ(list.GetCount(), 0u);
        EXPECT_TRUE(list.Save(profile));
    }
    IniProfile back(path);
    EXPECT_EQ(back.GetInt("Init", "FHNumber", -7), 0);
    EXPECT_EQ(back.GetInt("Init", "Version", -7), 1);
    EXPECT_EQ(back.GetString("HotFolder0", "Name", "absent"), "absent");
}

TEST(SettingsStore, SaveAndLoadKeepTheFourSettingsExactly) {
    TempDir dir;
    const std::string path = dir / "tallowin.ini";
    const std::vector<HotFolder> folders = {
        HotFolder("Photos", "C:\\Hot\\Photos", "HP LaserJet, Floor 2", 5),
        HotFolder("\"Quoted\" name", "/srv/hot folder/in", "tallowin-600", 30),
        HotFolder("Caf\xc3\xa9 \xe9t\xe9", "/tmp/caf\xe9;x=1", "", 1),  // UTF-8 and Latin-1 bytes
        HotFolder("semi;colon # hash", "/a=b", "p[1]", 86400),
    };
    {
        IniProfile profile(path);
        HotFolderList list;
        ASSERT_TRUE(list.Load(profile));
        list.Add(HotFolder("gone", "/x", "y", 5));
        for (const HotFolder& f : folders) list.Add(f);
        list.Remove(0);  // ids 1..4 are saved as positions 0..3
        ASSERT_TRUE(list.Save(profile));
    }
    const Loaded loaded = LoadFrom(path);
    ASSERT_TRUE(loaded.ok);
    ASSERT_EQ(loaded.folders.size(), folders.size());
    for (size_t i = 0; i < folders.size(); ++i) {
        EXPECT_EQ(loaded.folders[i].GetName(), folders[i].GetName()) << i;
        EXPECT_EQ(loaded.folders[i].GetFolderPath(), folders[i].GetFolderPath()) << i;
        EXPECT_EQ(loaded.folders[i].GetPrinterName(), folders[i].GetPrinterName()) << i;
        EXPECT_EQ(loaded.folders[i].GetScanTime(), folders[i].GetScanTime()) << i;
        EXPECT_EQ(loaded.folders[i].GetState(), HF_STATE_WAITING) << i;
    }
}

struct LoadCase {
    const char* name;
    const char* ini;
    std::vector<std::string> names;
};

class LoadProfile : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadProfile, LoadsTheExpectedFolders) {
    TempDir dir;
    WriteFile(dir / "t.ini", GetParam().ini);
    const Loaded loaded = LoadFrom(dir / "t.ini");
    EXPECT_TRUE(loaded.ok);
    EXPECT_EQ(SectionNames(loaded), GetParam().names) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadProfile,
    ::testing::Values(
        LoadCase{"empty_file", "", {}}, LoadCase{"no_count", "[HotFolder0]\nName=a\n", {}},
        LoadCase{"count_minus_one", "[Init]\nFHNumber=-1\n[HotFolder0]\nName=a\n", {}},
        LoadCase{"count_zero", "[Init]\nFHNumber=0\n[HotFolder0]\nName=a\n", {}},
        LoadCase{"skips_an_empty_name",
                 "[Init]\nFHNumber=3\n[HotFolder0]\nName=a\n[HotFolder1]\nFolderPath=/x\n"
                 "[HotFolder2]\nName=c\n",
                 {"a", "c"}},
        LoadCase{"gap_in_the_numbers",
                 "[Init]\nFHNumber=3\n[HotFolder0]\nName=a\n[HotFolder2]\nName=c\n",
                 {"a", "c"}},
        LoadCase{"huge_count", "[Init]\nFHNumber=2147483647\n[HotFolder0]\nName=a\n", {"a"}},
        LoadCase{"not_our_numbering",
                 "[Init]\nFHNumber=3\n[HotFolder01]\nName=x\n[hotfolder1]\nName=b\n",
                 {"b"}},
        LoadCase{"count_bounds_the_load",
                 "[Init]\nFHNumber=2\n[HotFolder0]\nName=a\n[HotFolder1]\nName=b\n"
                 "[HotFolder2]\nName=c\n",
                 {"a", "b"}},
        LoadCase{"count_larger_than_sections",
                 "[Init]\nFHNumber=9\n[HotFolder0]\nName=a\n[HotFolder1]\nName=b\n",
                 {"a", "b"}},
        LoadCase{"same_name_twice",
                 "[Init]\nFHNumber=2\n[HotFolder0]\nName=dup\n[HotFolder1]\nName=dup\n",
                 {"dup", "dup"}},
        LoadCase{"count_with_garbage_after_digits",
                 "[Init]\nFHNumber=1abc\n[HotFolder0]\nName=a\n[HotFolder1]\nName=b\n",
                 {"a"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsStore, ReadsAProfileWrittenByTheClassicWriter) {
    // CRLF line ends, mixed-case sections and keys, spaces around '=',
    // comments, and keys in another order than ours.
    TempDir dir;
    WriteFile(dir / "t.ini",
              "; Tallowin settings\r\n"
              "[init]\r\n"
              "fhnumber = 1\r\n"
              "VERSION=1\r\n"
              "\r\n"
              "[HOTFOLDER0]\r\n"
              "; the scanner drops files here\r\n"
              "scantime =  12 \r\n"
              "Name = Scans  \r\n"
              "printername=Office Printer\r\n"
              "folderpath= C:\\Scans\\In \r\n");
    const Loaded loaded = LoadFrom(dir / "t.ini");
    ASSERT_EQ(loaded.folders.size(), 1u);
    const HotFolder& f = loaded.folders[0];
    EXPECT_EQ(f.GetName(), "Scans");
    EXPECT_EQ(f.GetPrinterName(), "Office Printer");
    EXPECT_EQ(f.GetFolderPath(), "C:\\Scans\\In");
    EXPECT_EQ(f.GetScanTime(), 12);
}

// A profile of folders given as {name, path, printer}, scanned every 5 s.
std::string Ini(const std::vector<std::array<const char*, 3>>& folders) {
    std::string text = "[Init]\nFHNumber=" + std::to_string(folders.size()) + "\nVersion=1\n";
    for (size_t i = 0; i < folders.size(); ++i) {
        text += "[HotFolder" + std::to_string(i) + "]\nName=" + folders[i][0] +
                "\nFolderPath=" + folders[i][1] + "\nPrinterName=" + folders[i][2] +
                "\nScanTime=5\n";
    }
    return text;
}

// Each folder as "name path printer", in profile order.
std::vector<std::string> Folders(const std::string& path) {
    std::vector<std::string> out;
    for (const HotFolder& f : LoadFrom(path).folders) {
        out.push_back(f.GetName() + " " + f.GetFolderPath() + " " + f.GetPrinterName());
    }
    return out;
}

const std::string kBase = Ini({{"a", "/a", "p"}, {"b", "/b", "p"}});

// The profile edited by hand after the list read it, and the window's own
// changes (made on folder ids 0 = a, 1 = b), then a save over the file as it
// is now.
struct EditCase {
    const char* name;
    std::string edit;  // the file written over kBase; empty: none
    std::function<void(HotFolderList&)> window;
    HotFolderList::SaveOutcome outcome;
    std::vector<std::string> saved;  // the folders in the file afterwards
};

class SaveAfterAnEdit : public ::testing::TestWithParam<EditCase> {};

TEST_P(SaveAfterAnEdit, NeverWritesOverTheEdit) {
    const EditCase& c = GetParam();
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path, kBase);
    HotFolderList list;
    ASSERT_TRUE(list.Load(IniProfile(path)));
    c.window(list);
    if (!c.edit.empty()) WriteFile(path, c.edit);
    IniProfile now(path);
    EXPECT_EQ(list.Save(now).Outcome, c.outcome) << now.GetError();
    EXPECT_EQ(Folders(path), c.saved);
    if (c.outcome == HotFolderList::SaveOutcome::Saved && !c.edit.empty()) {
        EXPECT_NE(ReadFile(path).find("; a note"), std::string::npos) << "the edit is kept";
    }
    if (c.outcome == HotFolderList::SaveOutcome::KeptEdit) {
        EXPECT_EQ(ReadFile(path), c.edit) << "not a byte written";
    } else {
        EXPECT_FALSE(list.ChangedOnDisk(IniProfile(path))) << "the list and the file agree";
    }
}

const auto kNothing = [](HotFolderList&) {};
const auto kAddC = [](HotFolderList& l) { l.Add(HotFolder("c", "/c", "p", 5)); };
using Outcome = HotFolderList::SaveOutcome;

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveAfterAnEdit,
    ::testing::Values(
        EditCase{"no_edit", "", kAddC, Outcome::Saved, {"a /a p", "b /b p", "c /c p"}},
        EditCase{"edit_with_nothing_of_ours",
                 Ini({{"a", "/a", "q"}, {"b", "/b", "p"}, {"d", "/d", "p"}}),
                 kNothing,
                 Outcome::KeptEdit,
                 {"a /a q", "b /b p", "d /d p"}},
        EditCase{"edit_outside_the_folders",
                 kBase + "; a note\n[Other]\nKey=Value\n",
                 kAddC,
                 Outcome::Saved,
                 {"a /a p", "b /b p", "c /c p"}},
        EditCase{"printer_changed_and_a_folder_added_here",
                 Ini({{"a", "/a", "q"}, {"b", "/b", "p"}}),
                 kAddC,
                 Outcome::Merged,
                 {"a /a q", "b /b p", "c /c p"}},
        EditCase{"both_changed_one_folder",
                 Ini({{"a", "/a", "q"}, {"b", "/b", "p"}}),
                 [](HotFolderList& l) { l.Set(0, HotFolder("a", "/a", "r", 5)); },
                 Outcome::Merged,
                 {"a /a q", "b /b p", "a /a r"}},
        EditCase{"deleted_here_and_another_changed_there",
                 Ini({{"a", "/a", "p"}, {"b", "/b", "q"}}),
                 [](HotFolderList& l) { l.Remove(0); },
                 Outcome::Merged,
                 {"b /b q"}},
        EditCase{"deleted_there_and_changed_here",
                 Ini({{"a", "/a", "p"}}),
                 [](HotFolderList& l) { l.Set(1, HotFolder("b", "/b", "r", 5)); },
                 Outcome::Merged,
                 {"a /a p", "b /b r"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsStore, TakeInShowsTheEditAndKeepsTheWindowsChanges) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path, kBase);
    HotFolderList list;
    ASSERT_TRUE(list.Load(IniProfile(path)));
    EXPECT_FALSE(list.HasOwnChanges());
    list.Add(HotFolder("c", "/c", "p", 5));
    EXPECT_TRUE(list.HasOwnChanges());
    EXPECT_FALSE(list.ChangedOnDisk(IniProfile(path)));

    WriteFile(path, Ini({{"a", "/a", "q"}, {"b", "/b", "p"}, {"d", "/d", "p"}}));
    const IniProfile edited(path);
    EXPECT_TRUE(list.ChangedOnDisk(edited));
    const auto taken = list.TakeIn(edited);
    EXPECT_TRUE(taken.Ok);
    EXPECT_TRUE(taken.KeptOwnChanges);
    std::vector<std::string> names;
    list.GetNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "d", "c"}));
    EXPECT_FALSE(list.ChangedOnDisk(edited));
    EXPECT_TRUE(list.HasOwnChanges()) << "c is still to be saved";

    IniProfile now(path);
    EXPECT_EQ(list.Save(now).Outcome, HotFolderList::SaveOutcome::Saved) << now.GetError();
    EXPECT_EQ(Folders(path), (std::vector<std::string>{"a /a q", "b /b p", "d /d p", "c /c p"}));
    EXPECT_FALSE(list.HasOwnChanges());
}

TEST(SettingsStore, AnUnreadableEditIsNeitherTakenInNorSavedOver) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path, kBase);
    HotFolderList list;
    ASSERT_TRUE(list.Load(IniProfile(path)));
    list.Add(HotFolder("c", "/c", "p", 5));
    std::string damaged = "[Init]\nFHNumber=0\n";
    damaged += '\0';
    WriteFile(path, damaged);
    const IniProfile profile(path);
    EXPECT_FALSE(list.TakeIn(profile).Ok);
    EXPECT_EQ(list.GetCount(), 3u);
    IniProfile now(path);
    EXPECT_FALSE(list.Save(now));
    EXPECT_EQ(ReadFile(path), damaged);
}

TEST(SettingsStore, IntegersAreReadLikeTheClassicReader) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"42", 42}, {"  7", 7}, {"12abc", 12}, {"-5", -5}, {"+8", 8},
        {"", 0},    {"x", 0},   {"-", 0},      {"007", 7}, {"4294967295", -1},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(ParseProfileInt(text), value) << "'" << text << "'";
}

TEST(SettingsStore, SaveKeepsWhatItDoesNotOwnAndRemovesFoldersThatAreGone) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path,
              "; kept comment\n"
              "[Init]\nFHNumber=5\nVersion=1\nTheme=dark\n"
              "[HotFolder0]\nName=a\n[HotFolder1]\nName=b\n[HotFolder2]\nName=c\n"
              "[HotFolder3]\nName=d\n[HotFolder4]\nName=e\n"
              "[Other]\nKey=Value\n");
    {
        IniProfile profile(path);
        HotFolderList list;
        ASSERT_TRUE(list.Load(profile));
        ASSERT_EQ(list.GetCount(), 5u);
        for (int id : {2, 3, 4}) list.Remove(id);
        ASSERT_TRUE(list.Save(profile));
    }
    const std::string text = ReadFile(path);
    EXPECT_NE(text.find("; kept comment"), std::string::npos);
    IniProfile back(path);
    EXPECT_EQ(back.GetInt("Init", "FHNumber", -1), 2);
    EXPECT_EQ(back.GetString("Init", "Theme", ""), "dark");
    EXPECT_EQ(back.GetString("Other", "Key", ""), "Value");
    EXPECT_EQ(back.GetSectionNames(),
              (std::vector<std::string>{"Init", "HotFolder0", "HotFolder1", "Other"}));
    EXPECT_EQ(SectionNames(LoadFrom(path)), (std::vector<std::string>{"a", "b"}));
}

TEST(SettingsStore, EleventhFolderIsHotFolder10) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    {
        IniProfile profile(path);
        HotFolderList list;
        ASSERT_TRUE(list.Load(profile));
        for (int i = 0; i < 11; ++i) list.Add(HotFolder("f" + std::to_string(i), "/p", "q", 5));
        ASSERT_TRUE(list.Save(profile));
    }
    IniProfile back(path);
    EXPECT_EQ(back.GetString("HotFolder10", "Name", ""), "f10");
    EXPECT_EQ(LoadFrom(path).folders.size(), 11u);
}

TEST(SettingsStore, SaveIsRefusedWithoutALoad) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path, "[Init]\nFHNumber=1\n[HotFolder0]\nName=a\n");
    IniProfile profile(path);
    HotFolderList list;
    EXPECT_FALSE(list.Save(profile));
    EXPECT_EQ(ReadFile(path), "[Init]\nFHNumber=1\n[HotFolder0]\nName=a\n");
}

TEST(SettingsStore, UnreadableProfileIsNeverSavedOver) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);  // a folder where the file should be
    IniProfile profile(path);
    HotFolderList list;
    EXPECT_FALSE(profile.IsReadable());
    EXPECT_FALSE(list.Load(profile));
    list.Add(HotFolder("new", "/p", "q", 5));
    EXPECT_FALSE(list.Save(profile));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

// Makes the n-th system call of a commit fail, the way a full disk would.
class FailingOps final : public FileOps {
  public:
    explicit FailingOps(int failAt) : failAt_(failAt) {}
    int MakeTemp(std::string& t) override { return Fail() ? -1 : FileOps::MakeTemp(t); }
    ssize_t Write(int fd, const char* d, size_t n) override {
        if (Fail()) return -1;
        // A short write first, so that the loop around it is exercised.
        return FileOps::Write(fd, d, n > 1 ? n / 2 : n);
    }
    int Sync(int fd) override { return Fail() ? -1 : FileOps::Sync(fd); }
    int Close(int fd) override {
        const int r = FileOps::Close(fd);  // always release the descriptor
        return Fail() ? -1 : r;
    }
    int Rename(const std::string& a, const std::string& b) override {
        return Fail() ? -1 : FileOps::Rename(a, b);
    }
    int calls = 0;

  private:
    bool Fail() {
        if (++calls != failAt_) return false;
        errno = ENOSPC;
        return true;
    }
    int failAt_;
};

TEST(SettingsStore, SaveInterruptedAtAnyStepLeavesTheOldFileWhole) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    const std::string original = "[Init]\nFHNumber=1\nVersion=1\n[HotFolder0]\nName=old\n";
    // Count the calls of a commit that succeeds, then fail each in turn.
    int total = 0;
    {
        WriteFile(path, original);
        FailingOps counting(0);
        IniProfile profile(path, counting);
        HotFolderList list;
        ASSERT_TRUE(list.Load(profile));
        ASSERT_TRUE(list.Save(profile));
        total = counting.calls;
        ASSERT_GE(total, 5);
    }
    for (int step = 1; step <= total; ++step) {
        WriteFile(path, original);
        FailingOps failing(step);
        IniProfile profile(path, failing);
        HotFolderList list;
        ASSERT_TRUE(list.Load(profile));
        list.Add(HotFolder("new", "/p", "q", 5));
        EXPECT_FALSE(list.Save(profile)) << "step " << step;
        EXPECT_EQ(ReadFile(path), original) << "step " << step;
        // No temporary file is left behind.
        int entries = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
            (void)e;
            ++entries;
        }
        EXPECT_EQ(entries, 1) << "step " << step;
    }
}

}  // namespace
