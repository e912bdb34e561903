// What the command line asks for. Read before anything else starts, so that
// the modes without a window never need a display.
#pragma once

#include <string>
#include <vector>

namespace tallowin {

enum class RunMode {
    Window,        // the main window (no arguments, or only --profile)
    Service,       // --service: the worker without a window
    Print,         // print -d PRINTER [--no-wait] [--] FILE...
    ListPrinters,  // --list-printers
    Help,          // --help
    Version,       // --version
    Invalid,       // anything else; Error says why
};

struct CommandLine {
    RunMode Mode = RunMode::Window;
    std::string Profile;  // --profile FILE; empty for the default profile
    std::string Printer;  // print's -d
    bool Wait = true;     // print: wait for the jobs' outcome; false with --no-wait
    std::vector<std::string> Files;
    std::string Error;
};

// args without the program name. --help or --version anywhere wins over the
// rest, except after print's "--", which ends the options: print takes
// every argument after it as a file. Options take their value as the next
// argument or after '=' ("--profile=FILE", "-dPRINTER"). An option given
// twice is an error, not an override.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The usage text, for --help (stdout) and for an invalid command line
// (stderr).
std::string UsageText();

}  // namespace tallowin
