// The virtual board: a whole target board behind the parallel-port pins.
// Written from the wire formats only; it shares no protocol code with the host side.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace sim {

// Board knobs, given after commas in the driver string ("sim:DIR,no-target,idcode=0x3D4C9041").
struct Options {
    std::string dir;               // where flash, EEPROM and SDRAM contents persist ("" = none)
    uint32_t idcode = 0x0D4C9041;  // IDCODE register value
    enum class Tdo { Live, StuckHigh, StuckLow } tdo = Tdo::Live;  // no-target knobs
    // Later knobs (link faults, devices, time base) are added here by the board's owners.
};

// Parses "[:DIR][,knob[=value]]..." (the part of the driver string after "sim").
bool ParseOptions(const std::string& text, Options& out, std::string& error);
// One line per knob, for --help.
std::string OptionsHelp();

class Board {
public:
    explicit Board(const Options& options);
    ~Board();  // persists memory contents into options.dir when one is given
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // Pin level entry points. Data register bits: D0 TMS, D1 TCK, D2 TDI, D3 nTRST, D4 nRESET.
    // Status register: bit 4 is TDO (not inverted). These are on the per-clock path: no
    // allocation, no formatting, no locking.
    void WriteData(uint8_t value);
    uint8_t ReadData() const;
    uint8_t ReadStatus() const;

    const Options& options() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim
