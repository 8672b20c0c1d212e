// The `flash` commands: CPU ID, LOAD and the FLASH page's LOAD TRAP, then one of the page's
// operations, all through the window on the in-memory host.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "cli/Commands.h"

struct FlashArgs {
    enum class Op { Id, Read, Erase, Write, Verify } op = Op::Id;
    std::string file;
    std::string start, size;  // hexadecimal digits for the Start and Size fields
    int bank = -1;            // -1: the bank the profile opens on
    int bus = 0;              // 0: the bank's own width
    bool yes = false;
    bool verify = false;
};

// Adds `flash` and its subcommands; `args` is filled when the command line is parsed.
CLI::App* AddFlashCommands(CLI::App& app, FlashArgs& args);
// The exit code: 0 done, 1 the operation failed, 2 a wrong option.
int RunFlashCommand(const CliOptions& options, const FlashArgs& args);
