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

// print -d PRINTER [--no-wait] [--] FILE...
CommandLine ParsePrint(const std::vector<std::string>& args) {
    CommandLine c;
    c.Mode = RunMode::Print;
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
            if (arg != "-d") {
                c.Printer = arg.substr(2);
            } else if (i + 1 < args.size() && !args[i + 1].starts_with("-")) {
                // A name that looks like an option is one left out.
                c.Printer = args[++i];
            } else {
                return Invalid("print: -d needs a printer name");
            }
        } else {
            return Invalid("print: unknown option " + arg);
        }
    }
    if (c.Printer.empty()) return Invalid("print: no printer given (-d PRINTER)");
    if (c.Files.empty()) return Invalid("print: no file given");
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

    CommandLine c;
    bool service = false, list = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--service") {
            service = true;
        } else if (arg == "--list-printers") {
            list = true;
        } else if (arg == "--profile" || arg.starts_with("--profile=")) {
            if (!c.Profile.empty()) return Invalid("--profile given twice");
            if (arg == "--profile" && i + 1 < args.size()) {
                c.Profile = args[++i];
            } else {
                c.Profile = arg.substr(std::min(arg.size(), std::size_t{10}));
            }
            if (c.Profile.empty()) return Invalid("--profile needs a file name");
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
           "       tallowin print -d PRINTER [--no-wait] [--] FILE...\n"
           "                                            prints files once, keeps them\n"
           "       tallowin --list-printers             printers and their pages\n"
           "       tallowin --help | --version\n"
           "\n"
           "print waits until the printer has printed or refused each job; with\n"
           "--no-wait it ends once the scheduler has taken them. A file printed\n"
           "before is not printed again unless it changed; one whose job failed is.\n"
           "\n"
           "The profile defaults to $XDG_CONFIG_HOME/tallowin/tallowin.ini\n"
           "(~/.config/tallowin/tallowin.ini). The service saves it on SIGTERM and\n"
           "SIGINT and reads it again on SIGHUP.\n"
           "\n"
           "Exit status: 0 success (print: every job printed, or taken with --no-wait);\n"
           "1 a failure (print: a file not sent, or its job aborted or cancelled);\n"
           "2 an invalid command line; 3 print: no failure, but a job not seen to\n"
           "finish (interrupted, or no job ended for 10 minutes).\n";
}

}  // namespace tallowin
