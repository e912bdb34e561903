#include "app/print_record.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "tests/support/temp_dir.h"

using namespace tallowin;

namespace {

const FileIdentity kFile{2049, 1234567, 4096, 1700000000123456789};

TEST(PrintRecord, KnowsAFileByPrinterAndIdentityAcrossRuns) {
    TempDir dir;
    const std::string path = dir / "state/tallowin/printed";
    {
        PrintRecord record(path);  // none yet
        EXPECT_FALSE(record.Contains("tallowin-600", kFile));
        ASSERT_TRUE(record.Add("tallowin-600", kFile));
    }
    const PrintRecord again(path);
    struct Case {
        const char* Name;
        std::string Printer;
        FileIdentity File;
        bool Known;
    };
    FileIdentity changed = kFile;
    changed.ModifiedNs += 1;
    FileIdentity grown = kFile;
    grown.Size += 1;
    FileIdentity replaced = kFile;
    replaced.Inode += 1;
    const Case cases[] = {
        {"same_file_same_printer", "tallowin-600", kFile, true},
        {"other_printer", "tallowin-300", kFile, false},
        {"modified", "tallowin-600", changed, false},
        {"grown", "tallowin-600", grown, false},
        {"replaced", "tallowin-600", replaced, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(again.Contains(c.Printer, c.File), c.Known);
    }
}

TEST(PrintRecord, KeepsOnlyTheNewestEntriesAndSkipsBrokenLines) {
    TempDir dir;
    const std::string path = dir / "printed";
    WriteFile(path, "garbage\n1 2 3 4\n1 2 3 4 q/inst\n");
    constexpr std::size_t kKept = 3;
    PrintRecord record(path, kKept);
    EXPECT_TRUE(record.Contains("q/inst", {1, 2, 3, 4}));
    FileIdentity file{};
    for (std::size_t i = 0; i < kKept; ++i) {
        file.Inode = 100 + i;
        record.Add("q", file);
    }
    const PrintRecord reread(path, kKept);
    EXPECT_FALSE(reread.Contains("q/inst", {1, 2, 3, 4}));  // the oldest went
    EXPECT_TRUE(reread.Contains("q", {0, 100, 0, 0}));
    EXPECT_TRUE(reread.Contains("q", file));
}

TEST(PrintRecord, LivesUnderTheStateFolder) {
    const char* saved = getenv("XDG_STATE_HOME");
    const std::string keep = saved != nullptr ? saved : "";
    setenv("XDG_STATE_HOME", "/state", 1);
    EXPECT_EQ(PrintRecordPath(), "/state/tallowin/printed");
    setenv("XDG_STATE_HOME", "relative", 1);  // ignored, as XDG says
    setenv("HOME", getenv("HOME") != nullptr ? getenv("HOME") : "/h", 1);
    EXPECT_EQ(PrintRecordPath(), std::string(getenv("HOME")) + "/.local/state/tallowin/printed");
    if (saved != nullptr) {
        setenv("XDG_STATE_HOME", keep.c_str(), 1);
    } else {
        unsetenv("XDG_STATE_HOME");
    }
}

}  // namespace
