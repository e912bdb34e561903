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

// print -d PRINTER [--] FILE...
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
        } else if (arg == "-d") {
            if (i + 1 == args.size()) return Invalid("print: -d needs a printer name");
            c.Printer = args[++i];
        } else if (arg.starts_with("-d")) {
            c.Printer = arg.substr(2);
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
    const auto has = [&](const char* option) {
        return std::find(args.begin(), args.end(), option) != args.end();
    };
    if (has("--help") || has("-h")) return WithMode(RunMode::Help);
    if (has("--version")) return WithMode(RunMode::Version);
    if (!args.empty() && args[0] == "print") return ParsePrint(args);

    CommandLine c;
    bool service = false, list = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--service") {
            service = true;
        } else if (arg == "--list-printers") {
            list = true;
        } else if (arg == "--profile" || arg.starts_with("--profile=")) {
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
           "       tallowin print -d PRINTER FILE...    prints files once, keeps them\n"
           "       tallowin --list-printers             printers and their pages\n"
           "       tallowin --help | --version\n"
           "\n"
           "The profile defaults to $XDG_CONFIG_HOME/tallowin/tallowin.ini\n"
           "(~/.config/tallowin/tallowin.ini). The service saves it on SIGTERM and\n"
           "SIGINT and reads it again on SIGHUP.\n";
}

}  // namespace tallowin
