// Runs a shell command for a test and captures what it prints.
#pragma once

#include <string>

struct CommandResult {
    int ExitCode = -1;   // -1 when the command could not be run or was killed
    std::string Output;  // standard output (standard error is left alone)
};

CommandResult RunCommand(const std::string& command);

// The argument in single quotes for /bin/sh.
std::string ShellQuote(const std::string& arg);
