#include "app/command_line.h"

#include <algorithm>

namespace tallowin {

namespace {

CommandLine WithMode(RunMode mode) {
    CommandLine c;
    c.Mode = mode;
    return c;
}

CommandLine Invalid(std::string error) {
    CommandLine c;
    c.Mode = RunMode::Invalid;
    c.Error = std::move(error);
    return c;
}

// The -o options that are a hot folder's own keys.
struct OptionKey {
    const char* Option;
    std::string JobSettingsText::*Field;
};
constexpr OptionKey kOptionKeys[] = {
    {"media", &JobSettingsText::Media},
    {"sides", &JobSettingsText::Sides},
    {"print-color-mode", &JobSettingsText::ColorMode},
    {"media-source", &JobSettingsText::Tray},
    {"print-scaling", &JobSettingsText::Scaling},
    {"position", &JobSettingsText::Position},
    {"rotate", &JobSettingsText::Rotate},
};

// value as the Options key reads it back: each character that would end or
// open a part of it taken as it is.
std::string Escaped(const std::string& value) {
    if (value.starts_with('{')) return value;  // a collection, kept whole
    std::string out;
    for (const char ch : value) {
        if (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\\' || ch == '\'' || ch == '"') {
            out += '\\';
        }
        out += ch;
    }
    return out;
}

// One -o argument ("name=value", or several as lp takes them) into text.
std::string TakeOptions(const std::string& arg, JobSettingsText& text) {
    const OptionText read = ParseOptionText(arg);
    if (!read.Ok()) return "print: -o " + arg + ": " + read.Error;
    for (const NamedValue& option : read.Options) {
        const auto key =
            std::find_if(std::begin(kOptionKeys), std::end(kOptionKeys),
                         [&](const OptionKey& k) { return SameOptionName(option.Name, k.Option); });
        if (key != std::end(kOptionKeys)) {
            text.*key->Field = option.Value;
            continue;
        }
        if (!text.Options.empty()) text.Options += ' ';
        text.Options += option.Name + "=" + Escaped(option.Value);
    }
    return {};
}

// An option's value: attached ("-dq") or the next argument, unless that
// looks like an option (then it is one left out). Empty when there is none.
std::string ValueOf(const std::vector<std::string>& args, std::size_t& i, const char* option) {
    const std::string& arg = args[i];
    if (arg != option) return arg.substr(std::string(option).size());
    if (i + 1 < args.size() && !args[i + 1].starts_with("-")) return args[++i];
    return {};
}

// print -d PRINTER [-n COPIES] [-o NAME=VALUE]... [--no-wait] [--] FILE...
CommandLine ParsePrint(const std::vector<std::string>& args) {
    CommandLine c;
    c.Mode = RunMode::Print;
    JobSettingsText text;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            c.Files.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--no-wait") {
            c.Wait = false;
        } else if (arg.starts_with("-d")) {
            if (!c.Printer.empty()) return Invalid("print: -d given twice");
            c.Printer = ValueOf(args, i, "-d");
            if (c.Printer.empty()) return Invalid("print: -d needs a printer name");
        } else if (arg.starts_with("-n")) {
            if (!text.Copies.empty()) return Invalid("print: -n given twice");
            text.Copies = ValueOf(args, i, "-n");
            if (text.Copies.empty()) return Invalid("print: -n needs a number of copies");
        } else if (arg.starts_with("-o")) {
            const std::string options = ValueOf(args, i, "-o");
            if (options.empty()) return Invalid("print: -o needs an option (NAME=VALUE)");
            if (std::string error = TakeOptions(options, text); !error.empty()) {
                return Invalid(std::move(error));
            }
        } else {
            return Invalid("print: unknown option " + arg);
        }
    }
    if (c.Printer.empty()) return Invalid("print: no printer given (-d PRINTER)");
    if (c.Files.empty()) return Invalid("print: no file given");
    const ParsedJobSettings settings = ParseJobSettings(text);
    if (!settings.Ok()) return Invalid("print: " + settings.Reason());
    c.Settings = settings.Settings;
    return c;
}

// Reads "--profile FILE" or "--profile=FILE" at args[i] into c.Profile,
// stepping over the value; an error text, or empty when it went well.
std::string TakeProfile(const std::vector<std::string>& args, std::size_t& i, CommandLine& c) {
    const std::string& arg = args[i];
    if (!c.Profile.empty()) return "--profile given twice";
    if (arg == "--profile" && i + 1 < args.size()) {
        c.Profile = args[++i];
    } else {
        c.Profile = arg.substr(std::min(arg.size(), std::size_t{10}));
    }
    if (c.Profile.empty()) return "--profile needs a file name";
    return {};
}

bool IsProfileOption(const std::string& arg) {
    return arg == "--profile" || arg.starts_with("--profile=");
}

// status [--profile FILE] [--json]
CommandLine ParseStatus(const std::vector<std::string>& args) {
    CommandLine c;
    c.Mode = RunMode::Status;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json") {
            if (c.Json) return Invalid("status: --json given twice");
            c.Json = true;
        } else if (IsProfileOption(arg)) {
            if (std::string error = TakeProfile(args, i, c); !error.empty()) {
                return Invalid("status: " + error);
            }
        } else {
            return Invalid(
                "status: " +
                std::string(arg.starts_with("-") ? "unknown option " : "unexpected argument ") +
                arg);
        }
    }
    return c;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    const bool print = !args.empty() && args[0] == "print";
    // What follows print's "--" is files, whatever they are called.
    const auto optionsEnd = print ? std::find(args.begin(), args.end(), "--") : args.end();
    const auto has = [&](const char* option) {
        return std::find(args.begin(), optionsEnd, option) != optionsEnd;
    };
    if (has("--help") || has("-h")) return WithMode(RunMode::Help);
    if (has("--version")) return WithMode(RunMode::Version);
    if (print) return ParsePrint(args);
    if (!args.empty() && args[0] == "status") return ParseStatus(args);

    CommandLine c;
    bool service = false, list = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--service") {
            service = true;
        } else if (arg == "--list-printers") {
            list = true;
        } else if (IsProfileOption(arg)) {
            if (std::string error = TakeProfile(args, i, c); !error.empty()) return Invalid(error);
        } else {
            return Invalid((arg.starts_with("-") ? "unknown option " : "unexpected argument ") +
                           arg);
        }
    }
    if (service && list) return Invalid("--service and --list-printers exclude each other");
    if (list) {
        if (!c.Profile.empty()) return Invalid("--list-printers does not use a profile");
        c.Mode = RunMode::ListPrinters;
    } else if (service) {
        c.Mode = RunMode::Service;
    }
    return c;
}

std::string UsageText() {
    return "Usage: tallowin [--profile FILE]            the window\n"
           "       tallowin --service [--profile FILE]  the hot folders without a window\n"
           "       tallowin print -d PRINTER [-n COPIES] [-o NAME=VALUE]... [--no-wait]\n"
           "                      [--] FILE...          prints files once, keeps them\n"
           "       tallowin --list-printers             printers and their pages\n"
           "       tallowin status [--profile FILE] [--json]\n"
           "                                            asks the running window or service\n"
           "                                            how its hot folders stand\n"
           "       tallowin --help | --version\n"
           "\n"
           "print waits until the printer has printed or refused each job; with\n"
           "--no-wait it ends once the scheduler has taken them. A file printed\n"
           "before is not printed again unless it changed; one whose job failed is.\n"
           "Its options are lp's: -n COPIES, -o media=SIZE (a size the printer\n"
           "offers, e.g. A4, Letter, iso_a4_210x297mm), -o sides=one-sided|\n"
           "two-sided-long-edge|two-sided-short-edge, -o print-color-mode=color|\n"
           "monochrome, -o media-source=TRAY (one the printer offers), -o\n"
           "print-scaling=auto-fit|fit|fill|none, -o position=top-left|top|top-right|\n"
           "left|center|right|bottom-left|bottom|bottom-right, -o rotate=no|auto\n"
           "(turned a quarter when that prints it larger); any other -o NAME=VALUE\n"
           "goes to the printer as it is. A hot folder takes the same settings as\n"
           "keys of its profile section: Copies, Media, Sides, ColorMode, Tray,\n"
           "Options, Scaling, Position, Rotate, AfterPrint, PrintedFolder,\n"
           "KeptFolder, Include, Exclude (see readme.htm).\n"
           "\n"
           "The profile defaults to $XDG_CONFIG_HOME/tallowin/tallowin.ini\n"
           "(~/.config/tallowin/tallowin.ini). The service saves it on SIGTERM and\n"
           "SIGINT and reads it again on SIGHUP.\n"
           "\n"
           "status tells the running instance's process, uptime and, for each hot\n"
           "folder, its state, printer, error, files waiting and jobs in flight.\n"
           "\n"
           "The profile's Init section may name a program to run for each event:\n"
           "NotifyCommand=/path/to/program (see the help document).\n"
           "\n"
           "Exit status: 0 success (print: every job printed, or taken with --no-wait);\n"
           "1 a failure (print: a file not sent, or its job aborted or cancelled);\n"
           "2 an invalid command line; 3 print: no failure, but a job not seen to\n"
           "finish (interrupted, or no job ended for 10 minutes); 3 status: no instance\n"
           "running with the profile.\n";
}

}  // namespace tallowin
