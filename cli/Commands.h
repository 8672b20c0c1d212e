// The options every command shares, and the commands that need no window.
#pragma once

#include <string>

struct CliOptions {
    std::string driver;     // --driver, else the environment, else the platform default
    int lptIndex = -1;      // --lpt; -1 = the settings' LPT_NUM
    int lptBase = 0;        // --lpt-base; 0 = from the LPT index
    int dut = -1;           // --dut; -1 = the settings' DUT_NUM
    std::string log;        // --log; empty = "log.txt" (appended)
    std::string command;    // the command line, for the log's session line
    bool readCheck = true;  // --no-read-check turns it off
};

// Exit codes besides 0 (done), 1 (failed) and 2 (a wrong option): the operation went through
// but the log could not be written; Ctrl-C.
constexpr int kExitLogFailed = 3;
constexpr int kExitInterrupted = 130;

int RunSettings(const CliOptions& options);
