#include "app/command_line.h"

#include <gtest/gtest.h>

using namespace tallowin;

namespace {

using Args = std::vector<std::string>;

struct Case {
    const char* Name;
    Args Arguments;
    RunMode Mode;
    std::string Profile = {};
    std::string Printer = {};
    Args Files = {};
    bool Wait = true;
    bool Json = false;
};

TEST(CommandLine, ReadsEachMode) {
    const Case cases[] = {
        {"nothing_is_the_window", {}, RunMode::Window},
        {"window_with_profile", {"--profile", "/p.ini"}, RunMode::Window, "/p.ini"},
        {"profile_with_equals", {"--profile=/p.ini"}, RunMode::Window, "/p.ini"},
        {"service", {"--service"}, RunMode::Service},
        {"service_with_profile", {"--profile", "a.ini", "--service"}, RunMode::Service, "a.ini"},
        {"list_printers", {"--list-printers"}, RunMode::ListPrinters},
        {"help_wins", {"--service", "--help"}, RunMode::Help},
        {"help_even_with_bad_options", {"--bogus", "-h"}, RunMode::Help},
        {"version", {"--version"}, RunMode::Version},
        {"print",
         {"print", "-d", "q", "a.jpg", "b.png"},
         RunMode::Print,
         "",
         "q",
         {"a.jpg", "b.png"}},
        {"print_attached_printer", {"print", "-dq", "a.jpg"}, RunMode::Print, "", "q", {"a.jpg"}},
        {"print_printer_after_files",
         {"print", "a.jpg", "-d", "q/inst"},
         RunMode::Print,
         "",
         "q/inst",
         {"a.jpg"}},
        {"print_dash_file_after_double_dash",
         {"print", "-d", "q", "--", "-odd.jpg"},
         RunMode::Print,
         "",
         "q",
         {"-odd.jpg"}},
        {"print_help_after_double_dash_is_a_file",
         {"print", "-d", "q", "--", "--help", "--version", "-d"},
         RunMode::Print,
         "",
         "q",
         {"--help", "--version", "-d"}},
        {"print_help_before_double_dash", {"print", "-h", "--", "a.jpg"}, RunMode::Help},
        {"print_no_wait",
         {"print", "--no-wait", "-d", "q", "a.jpg"},
         RunMode::Print,
         "",
         "q",
         {"a.jpg"},
         false},
        {"print_no_wait_after_double_dash_is_a_file",
         {"print", "-d", "q", "--", "--no-wait"},
         RunMode::Print,
         "",
         "q",
         {"--no-wait"}},
        {"status", {"status"}, RunMode::Status},
        {"status_json_with_profile",
         {"status", "--json", "--profile", "p.ini"},
         RunMode::Status,
         "p.ini",
         "",
         {},
         true,
         true},
        {"status_profile_with_equals", {"status", "--profile=p.ini"}, RunMode::Status, "p.ini"},
        {"status_help", {"status", "--help"}, RunMode::Help},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const CommandLine line = ParseCommandLine(c.Arguments);
        EXPECT_EQ(line.Mode, c.Mode) << line.Error;
        EXPECT_EQ(line.Profile, c.Profile);
        EXPECT_EQ(line.Printer, c.Printer);
        EXPECT_EQ(line.Files, c.Files);
        EXPECT_EQ(line.Wait, c.Wait);
        EXPECT_EQ(line.Json, c.Json);
    }
}

TEST(CommandLine, PrintTakesLpsCopiesAndOptionsAsAFoldersSettings) {
    const CommandLine line =
        ParseCommandLine({"print",    "-d",
                          "q",        "-n",
                          "2",        "-o",
                          "media=A4", "-osides=two-sided-long-edge",
                          "-o",       "print-color-mode=monochrome media-source=tray-2",
                          "-o",       "print-scaling=fill",
                          "-o",       "position=center",
                          "-o",       "rotate=auto",
                          "-o",       "job-sheets=none",
                          "-o",       "page-label='a b'",
                          "a.jpg"});
    ASSERT_EQ(line.Mode, RunMode::Print) << line.Error;
    const JobSettings& s = line.Settings;
    EXPECT_EQ(s.Copies, 2);
    EXPECT_EQ(s.Media, "A4");
    EXPECT_EQ(s.Sides, "two-sided-long-edge");
    EXPECT_EQ(s.ColorMode, "monochrome");
    EXPECT_EQ(s.Tray, "tray-2");
    EXPECT_EQ(s.Scale, Scaling::Fill);
    EXPECT_EQ(s.Place, Position::Center);
    EXPECT_EQ(s.Turn, Rotation::Auto);
    EXPECT_EQ(s.Options, (std::vector<NamedValue>{{"job-sheets", "none"}, {"page-label", "a b"}}));
    EXPECT_EQ(line.Files, Args{"a.jpg"});

    const CommandLine plain = ParseCommandLine({"print", "-d", "q", "a.jpg"});
    EXPECT_EQ(JobOptions(plain.Settings), std::vector<NamedValue>{});
}

TEST(CommandLine, RefusesWhatItDoesNotKnow) {
    struct Refused {
        Args Arguments;
        std::string Error;  // a part of the message
    };
    const Refused cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"stray"}, "unexpected argument stray"},
        {{"--profile"}, "--profile needs a file name"},
        {{"--profile="}, "--profile needs a file name"},
        {{"--profile", "a.ini", "--profile=b.ini"}, "--profile given twice"},
        {{"--service", "--list-printers"}, "exclude each other"},
        {{"--list-printers", "--profile", "x.ini"}, "does not use a profile"},
        {{"print"}, "no printer given"},
        {{"print", "a.jpg"}, "no printer given"},
        {{"print", "-d"}, "-d needs a printer name"},
        {{"print", "-d", "--no-wait", "a.jpg"}, "-d needs a printer name"},
        {{"print", "-d", "q"}, "no file given"},
        {{"print", "-d", "q", "-n", "0", "a.jpg"}, "Copies=0"},
        {{"print", "-d", "q", "-n", "two", "a.jpg"}, "Copies=two"},
        {{"print", "-d", "q", "a.jpg", "-n"}, "-n needs a number"},
        {{"print", "-d", "q", "-o", "=x", "a.jpg"}, "-o =x"},
        {{"print", "-d", "q", "-o", "print-scaling=stretch", "a.jpg"}, "Scaling=stretch"},
        {{"print", "-d", "q", "-o", "media=", "a.jpg"}, "-o media="},
        {{"print", "-d", "q", "--"}, "no file given"},
        {{"print", "-d", "q", "-d", "r", "a.jpg"}, "-d given twice"},
        {{"print", "-dq", "a.jpg", "-dq"}, "-d given twice"},
        {{"print", "-x", "-d", "q", "a.jpg"}, "unknown option -x"},
        {{"--service", "print"}, "unexpected argument print"},
        {{"--service", "status"}, "unexpected argument status"},
        {{"status", "--json", "--json"}, "--json given twice"},
        {{"status", "--service"}, "unknown option --service"},
        {{"status", "extra"}, "unexpected argument extra"},
        {{"status", "--profile"}, "--profile needs a file name"},
        {{"status", "--profile", "a", "--profile", "b"}, "--profile given twice"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Arguments));
        const CommandLine line = ParseCommandLine(c.Arguments);
        EXPECT_EQ(line.Mode, RunMode::Invalid);
        EXPECT_NE(line.Error.find(c.Error), std::string::npos) << line.Error;
    }
}

}  // namespace
