// The command line as a second front end: it builds the main window and its pages on the
// in-memory host and works them as an operator would, pressing the buttons a command needs.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "cli/Commands.h"

enum class WindowCommand { CpuId, Load };

// Runs one command through the window; the exit code: 0 done, 1 the operation failed,
// 2 a wrong option.
int RunWindowCommand(const CliOptions& options, WindowCommand command);

// An option's hexadecimal value as the bare digits the pages expect ("0x" dropped).
// False when it is not 1 to 8 hexadecimal digits.
bool HexDigits(const std::string& option, std::string& digits);

// An existing file with something in it: an empty image would "program" nothing and pass.
extern const CLI::Validator kImageToWrite;
