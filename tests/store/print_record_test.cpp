#include "store/print_record.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

using namespace tallowin;

namespace {

using Stage = PrintRecord::Mark::Stage;

const FileIdentity kFile{2049, 1234567, 4096, 1700000000123456789};

// What Find says, as text: "-", "printed" or "sent N".
std::string Seen(const PrintRecord& record, const std::string& printer, const FileIdentity& file) {
    const auto mark = record.Find(printer, file);
    if (!mark) return "-";
    if (mark->State == Stage::Printed) return "printed";
    std::string seen = "sent " + std::to_string(mark->JobId);
    if (!mark->JobUuid.empty()) seen += " " + mark->JobUuid + " " + std::to_string(mark->CreatedAt);
    return seen;
}

// A restarted scheduler hands the same ids out again: the uuid and creation
// time that name the job for good are kept with it.
TEST(PrintRecord, KeepsWhatNamesASentJobForGood) {
    TempDir dir;
    const std::string path = dir / "printed";
    ASSERT_TRUE(PrintRecord(path).MarkSent("q", kFile, JobTicket{9, "urn:uuid:ab-c", 1700000001}));
    EXPECT_EQ(Seen(PrintRecord(path), "q", kFile), "sent 9 urn:uuid:ab-c 1700000001");
}

TEST(PrintRecord, KnowsAFileByPrinterAndIdentityAcrossRuns) {
    TempDir dir;
    const std::string path = dir / "state/tallowin/printed";
    {
        PrintRecord record(path);  // none yet
        EXPECT_EQ(Seen(record, "tallowin-600", kFile), "-");
        ASSERT_TRUE(record.MarkPrinted("tallowin-600", kFile));
    }
    const PrintRecord again(path);
    struct Case {
        const char* Name;
        std::string Printer;
        FileIdentity File;
        std::string Seen;
    };
    FileIdentity changed = kFile;
    changed.ModifiedNs += 1;
    FileIdentity grown = kFile;
    grown.Size += 1;
    FileIdentity replaced = kFile;
    replaced.Inode += 1;
    const Case cases[] = {
        {"same_file_same_printer", "tallowin-600", kFile, "printed"},
        {"other_printer", "tallowin-300", kFile, "-"},
        {"modified", "tallowin-600", changed, "-"},
        {"grown", "tallowin-600", grown, "-"},
        {"replaced", "tallowin-600", replaced, "-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Seen(again, c.Printer, c.File), c.Seen);
    }
}

// A file goes from sent to printed, or out of the record when its job
// failed; each step is on disk before the call returns.
TEST(PrintRecord, FollowsAFileFromSentToPrintedOrForgotten) {
    TempDir dir;
    const std::string path = dir / "printed";
    FileIdentity other = kFile;
    other.Inode += 1;
    PrintRecord record(path);
    ASSERT_TRUE(record.MarkSent("q", kFile, 41));
    ASSERT_TRUE(record.MarkSent("q", other, 42));
    EXPECT_EQ(Seen(PrintRecord(path), "q", kFile), "sent 41");
    ASSERT_TRUE(record.MarkPrinted("q", kFile));
    ASSERT_TRUE(record.Forget("q", other));
    const PrintRecord reread(path);
    EXPECT_EQ(Seen(reread, "q", kFile), "printed");
    EXPECT_EQ(Seen(reread, "q", other), "-");
    // A printed entry keeps the first versions' line, so they still read it.
    EXPECT_EQ(ReadFile(path), "2049 1234567 4096 1700000000123456789 q\n");
}

TEST(PrintRecord, KeepsOnlyTheNewestEntriesAndSkipsBrokenLines) {
    TempDir dir;
    const std::string path = dir / "printed";
    WriteFile(path,
              "garbage\n1 2 3 4\nsent 0 - 0 5 6 7 8 q\nsent 9 - 0 1 2 3 4 q\n"
              "sent 8 1 2 3 4 q/cut\n1 2 3 4 q/inst\n");
    constexpr std::size_t kKept = 3;
    PrintRecord record(path, kKept);
    EXPECT_EQ(Seen(record, "q/inst", {1, 2, 3, 4}), "printed");
    EXPECT_EQ(Seen(record, "q", {1, 2, 3, 4}), "sent 9");
    EXPECT_EQ(Seen(record, "q", {5, 6, 7, 8}), "-");  // no job 0
    FileIdentity file{};
    for (std::size_t i = 0; i < kKept; ++i) {
        file.Inode = 100 + i;
        record.MarkPrinted("q", file);
    }
    const PrintRecord reread(path, kKept);
    EXPECT_EQ(Seen(reread, "q/inst", {1, 2, 3, 4}), "-");  // the oldest went
    EXPECT_EQ(Seen(reread, "q", {0, 100, 0, 0}), "printed");
    EXPECT_EQ(Seen(reread, "q", file), "printed");
}

// A record left unreadable (a run under another user, say) while its folder
// is writable: a rename would replace it, so the record refuses every change.
TEST(PrintRecord, OneThatCannotBeReadIsNeverWrittenOver) {
    TempDir dir;
    const std::string path = dir / "printed";
    const std::string kept = "1 2 3 4 q\n";
    WriteFile(path, kept);
    ASSERT_EQ(chmod(path.c_str(), 0200), 0);
    // Root reads every file: the record is opened by an ordinary user.
    constexpr uid_t kNobody = 65534;
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(dir.Path().c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (root && (setresgid(kNobody, kNobody, kNobody) != 0 ||
                     setresuid(kNobody, kNobody, kNobody) != 0)) {
            _exit(2);
        }
        PrintRecord record(path);
        const bool refused = !record.ReadError().empty() && !record.MarkSent("q", kFile, 1);
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    EXPECT_EQ(ReadFile(path), kept);
    EXPECT_TRUE(PrintRecord(dir / "missing").ReadError().empty());
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
