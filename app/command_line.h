// What the command line asks for. Read before anything else starts, so that
// the modes without a window never need a display.
#pragma once

#include <string>

#include <vector>
#include "engine/job_settings.h"

namespace tallowin {

enum class RunMode {
    Window,        // the main window (no arguments, or only --profile)
    Service,       // --service: the worker without a window
    Print,         // print -d PRINTER [--no-wait] [--] FILE...
    ListPrinters,  // --list-printers
    Status,        // status [--profile FILE] [--json]
    Help,          // --help
    Version,       // --version
    Invalid,       // anything else; Error says why
};

struct CommandLine {
    RunMode Mode = RunMode::Window;
    std::string Profile;  // --profile FILE; empty for the default profile
    std::string Printer;  // print's -d
    bool Wait = true;     // print: wait for the jobs' outcome; false with --no-wait
    bool Json = false;    // status: the answer as JSON
    std::vector<std::string> Files;
    // print's -n and -o, as a hot folder's keys: -n COPIES is Copies; -o
    // media, sides, print-color-mode, media-source, print-scaling, position
    // and rotate are Media, Sides, ColorMode, Tray, Scaling, Position and
    // Rotate; every other -o option goes to Options, to be passed on. Checked
    // by ParseJobSettings: a wrong value makes the line invalid.
    JobSettings Settings;
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
