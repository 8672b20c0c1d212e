// The EEPROM, MEMORY and MISC. pages from the command line: each command works the main
// window on the in-memory host after the CPU ID / LOAD / LOAD TRAP steps it needs.
#pragma once

#include <CLI/CLI.hpp>

#include "cli/Commands.h"

// Adds the eeprom, mem and misc subcommands.
void AddPageCommands(CLI::App& app);
// The exit code of the page command chosen on the command line (0 done, 1 failed, 2 a wrong
// option), or -1 when none was.
int RunPageCommands(const CliOptions& options);
