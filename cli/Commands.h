// The CLI's commands. Each opens the link on the chosen backend, does one job and closes it.
#pragma once

#include <cstdint>
#include <string>

struct CliOptions {
    std::string driver;  // --driver, else the environment, else the platform default
    int lptIndex = -1;   // --lpt; -1 = the settings' LPT_NUM
    int lptBase = 0;     // --lpt-base; 0 = from the LPT index
    int dut = -1;        // --dut; -1 = the settings' DUT_NUM
    std::string log;     // --log; empty = "log.txt" (appended)
};

int RunMemRead(const CliOptions& options, const std::string& file, uint32_t start, uint32_t size);
// size null: the file's length.
int RunMemWrite(const CliOptions& options, const std::string& file, uint32_t start,
                const uint32_t* size);
int RunSettings(const CliOptions& options);

// Link-level trap handler commands: each downloads the general handler first.
enum class TrapCommand { Load, MemStart, ProcId, Reboot };
int RunTrap(const CliOptions& options, TrapCommand command);
