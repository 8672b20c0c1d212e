// The board's knobs: what a driver string may set on the virtual board, read from one table
// (BoardKnobs.cpp) that also gives the help text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/DcuLink.h"
#include "sim/FlashBus.h"
#include "sim/TrapCpu.h"

namespace sim {

// Board knobs, given after commas in the driver string ("sim:DIR,no-target,idcode=0x3D4C9041").
// Tests may change them at run time through Board::mutable_options(); each takes effect at the
// next point where the board consults it (next clock, next byte or next reply).
struct Options : LinkKnobs, CpuKnobs {
    std::string dir;  // where flash, EEPROM and RAM contents persist ("" = none)
    enum class Tdo { Live, StuckHigh, StuckLow } tdo = Tdo::Live;  // no-target knobs
    // The cable comes off after this many clocks (0: never); 0 at run time puts it back.
    uint64_t unplugAfter = 0;
    uint64_t clockNs = 4000;  // simulated time per JTAG clock

    // Devices; fixed when the board is built (the fault knobs also at run time).
    unsigned flashWidth = 16;
    CommandSet flashCmdset = CommandSet::Amd;
    bool flashWordMode = true;
    bool flashTopBoot = true;
    std::string flashWiring = "identity";  // identity, reversed, rotate or L0/L1/.../Ln
    bool eeprom512 = false;                // AT24C512 instead of AT24C02
    uint32_t slow = 1;                     // device operations this many times slower
    bool eraseFails = false;
    std::optional<uint32_t> flashStuck;  // bus address of a flash unit that never programs
    // The DCU link knobs (ackDelay, noAck, badHeader, badLength, busy, noise, seed) come from
    // LinkKnobs in DcuLink.h; idcode, procid, readyPolls, handlerDead and keepRunning from
    // CpuKnobs in TrapCpu.h.
};

// Parses "[:DIR][,knob[=value]]..." (the part of the driver string after "sim").
// On failure `out` is left unchanged and `error` names the offending knob.
bool ParseOptions(const std::string& text, Options& out, std::string& error);
// The directory and every knob, for --help.
std::string OptionsHelp();

// The flash bank the options describe; false with a message when they describe none.
bool FlashBankOf(const Options& options, FlashBusOptions& out, std::string& error);

}  // namespace sim
