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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const CommandLine line = ParseCommandLine(c.Arguments);
        EXPECT_EQ(line.Mode, c.Mode) << line.Error;
        EXPECT_EQ(line.Profile, c.Profile);
        EXPECT_EQ(line.Printer, c.Printer);
        EXPECT_EQ(line.Files, c.Files);
    }
}

TEST(CommandLine, RefusesWhatItDoesNotKnow) {
    const Args cases[] = {
        {"--bogus"},
        {"stray"},
        {"--profile"},
        {"--profile="},
        {"--service", "--list-printers"},
        {"--list-printers", "--profile", "x.ini"},
        {"print"},
        {"print", "a.jpg"},
        {"print", "-d"},
        {"print", "-d", "q"},
        {"print", "-x", "-d", "q", "a.jpg"},
        {"--service", "print"},
    };
    for (const Args& args : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        const CommandLine line = ParseCommandLine(args);
        EXPECT_EQ(line.Mode, RunMode::Invalid);
        EXPECT_FALSE(line.Error.empty());
    }
}

}  // namespace
