#include "store/print_log_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>

#include "tests/support/temp_dir.h"

using namespace tallowin;

namespace {

PrintLogEntry Entry(PrintLogEntry::Outcome outcome, std::string reason = {}) {
    PrintLogEntry e;
    e.Time = std::chrono::system_clock::now();
    e.HotFolder = "Photos";
    e.File = "/srv/hot/a\tb.jpg";
    e.Printer = "tallowin-600";
    e.JobId = 42;
    e.Width = 4800;
    e.Height = 3600;
    e.Result = outcome;
    e.Code = reason.empty() ? HF_ERR_NONE : HF_ERR_DAMAGED;
    e.Reason = std::move(reason);
    return e;
}

TEST(SpdlogPrintLog, OneLinePerEntryWithEveryField) {
    TempDir dir;
    const std::string path = dir / "state/tallowin/print.log";
    {
        SpdlogPrintLog log(path);
        ASSERT_TRUE(log.OpenStatus().Ok()) << log.OpenStatus().Reason;
        EXPECT_EQ(log.Path(), path);
        log.Record(Entry(PrintLogEntry::Outcome::Printed));
        log.Record(Entry(PrintLogEntry::Outcome::Kept, "gifload: Unexpected end\nof data"));
        EXPECT_NE(ReadFile(path), "") << "on disk before Record returns";
    }
    struct stat st {};
    ASSERT_EQ(stat((dir / "state/tallowin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const std::string text = ReadFile(path);
    const std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)"
                          R"(\tPhotos\t/srv/hot/a\\tb\.jpg\ttallowin-600\t42\t4800x3600\t)"
                          R"((printed\t0\t|kept\t4\tgifload: Unexpected end\\nof data)\n)");
    std::istringstream lines(text);
    std::string one;
    int count = 0;
    while (std::getline(lines, one)) {
        EXPECT_TRUE(std::regex_match(one + "\n", line)) << one;
        ++count;
    }
    EXPECT_EQ(count, 2);
}

TEST(SpdlogPrintLog, AFolderBackIsItsOwnWordInTheSameNineFields) {
    const std::string line = FormatPrintLogLine(Entry(PrintLogEntry::Outcome::FolderBack));
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 8) << line;
    EXPECT_NE(line.find("\tfolder-back\t0\t"), std::string::npos) << line;
}

TEST(SpdlogPrintLog, RotatesAtItsCap) {
    TempDir dir;
    const std::string path = dir / "print.log";
    SpdlogPrintLog log(path, {.MaxBytes = 1000, .MaxFiles = 2, .Console = nullptr});
    for (int i = 0; i < 40; ++i) log.Record(Entry(PrintLogEntry::Outcome::Sent));
    EXPECT_TRUE(FileExists(dir / "print.1.log"));
    EXPECT_TRUE(FileExists(dir / "print.2.log"));
    EXPECT_FALSE(FileExists(dir / "print.3.log")) << "no more than MaxFiles old files";
    for (const char* name : {"print.log", "print.1.log", "print.2.log"}) {
        EXPECT_LE(ReadFile(dir / name).size(), 1000u) << name;
    }
}

TEST(SpdlogPrintLog, TheConsoleGetsSyslogPriorities) {
    TempDir dir;
    std::ostringstream console;
    SpdlogPrintLog log(dir / "print.log", {.Console = &console});
    struct Case {
        PrintLogEntry::Outcome Outcome;
        const char* Prefix;
    } cases[] = {
        {PrintLogEntry::Outcome::Sent, "<6>"},
        {PrintLogEntry::Outcome::Printed, "<6>"},
        {PrintLogEntry::Outcome::Kept, "<4>"},
        {PrintLogEntry::Outcome::Interrupted, "<4>"},
        {PrintLogEntry::Outcome::NotDeleted, "<3>"},
        {PrintLogEntry::Outcome::LedgerRecovered, "<4>"},
        {PrintLogEntry::Outcome::LedgerLost, "<3>"},
        {PrintLogEntry::Outcome::FolderBack, "<6>"},
    };
    std::string expected;
    for (const Case& c : cases) {
        const PrintLogEntry entry = Entry(c.Outcome);
        log.Record(entry);
        expected += c.Prefix + FormatPrintLogLine(entry) + "\n";
    }
    EXPECT_EQ(console.str(), expected);
    EXPECT_EQ(ReadFile(dir / "print.log").find('<'), std::string::npos) << "the file has none";

    // What the caller says on the console itself goes to the file alone.
    log.RecordInFileOnly(Entry(PrintLogEntry::Outcome::LedgerLost, "jobs.tsv: it is empty"));
    EXPECT_EQ(console.str(), expected);
    EXPECT_NE(ReadFile(dir / "print.log").find("\tledger-lost\t4\tjobs.tsv: it is empty\n"),
              std::string::npos);
}

TEST(SpdlogPrintLog, AFileThatCannotBeOpenedStillReachesTheConsole) {
    TempDir dir;
    WriteFile(dir / "not-a-folder", "");
    std::ostringstream console;
    SpdlogPrintLog log(dir / "not-a-folder/print.log", {.Console = &console});
    EXPECT_EQ(log.OpenStatus().Code, HF_ERR_STATE);
    log.Record(Entry(PrintLogEntry::Outcome::Kept));
    EXPECT_NE(console.str().find("<4>"), std::string::npos);
}

}  // namespace
