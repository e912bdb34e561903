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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const CommandLine line = ParseCommandLine(c.Arguments);
        EXPECT_EQ(line.Mode, c.Mode) << line.Error;
        EXPECT_EQ(line.Profile, c.Profile);
        EXPECT_EQ(line.Printer, c.Printer);
        EXPECT_EQ(line.Files, c.Files);
        EXPECT_EQ(line.Wait, c.Wait);
    }
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
        {{"print", "-d", "q", "--"}, "no file given"},
        {{"print", "-d", "q", "-d", "r", "a.jpg"}, "-d given twice"},
        {{"print", "-dq", "a.jpg", "-dq"}, "-d given twice"},
        {{"print", "-x", "-d", "q", "a.jpg"}, "unknown option -x"},
        {{"--service", "print"}, "unexpected argument print"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Arguments));
        const CommandLine line = ParseCommandLine(c.Arguments);
        EXPECT_EQ(line.Mode, RunMode::Invalid);
        EXPECT_NE(line.Error.find(c.Error), std::string::npos) << line.Error;
    }
}

}  // namespace
