// One parallel NOR flash chip as seen on its own pins: chip address lines in units of the
// chip's data word (16 bits in word mode, 8 in byte mode) and the chip's own data word.
// AMD (unlock cycles, autoselect, DQ7/DQ6/DQ5 status) and Intel (status register) command
// sets. Time comes in as `now` (simulated ns); operations take their real durations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/SimClock.h"

namespace sim {

enum class CommandSet { Amd, Intel };

struct NorFlashOptions {
    uint16_t makerId = 0x0020;      // read at chip address 0 in identification mode
    uint16_t deviceId = 0x00D7;     // read at chip address 1
    uint32_t sizeBytes = 0x100000;  // a multiple of 64 KiB
    CommandSet commandSet = CommandSet::Amd;
    bool wordMode = true;  // x16; false = x8
    bool topBoot = true;   // 16K/8K/8K/32K boot block at the top (else at the bottom)

    uint64_t programNs = 10 * kNsPerUs;    // one unit (byte or word)
    uint64_t sectorEraseNs = 1 * kNsPerS;  // one sector or block
    uint64_t chipEraseNs = 6 * kNsPerS;    // AMD chip erase
    uint32_t slowFactor = 1;               // multiplies every duration above

    // Fault knobs.
    bool eraseFails = false;            // every erase ends with the error status, array kept
    std::optional<uint32_t> stuckUnit;  // chip address of a unit that never programs
};

class NorFlash {
  public:
    // Throws std::invalid_argument with Validate's text on bad options.
    explicit NorFlash(const NorFlashOptions& options = {});
    // "" when the options describe a chip, else what is wrong with them.
    static std::string Validate(const NorFlashOptions& options);

    // One bus cycle. Reads give the array, an identifier or status, depending on the mode.
    // Chip addresses beyond the array wrap (the upper address lines are not connected).
    uint32_t Read(uint32_t chipAddr, uint64_t now);
    void Write(uint32_t chipAddr, uint32_t data, uint64_t now);

    // The array at a chip address whatever the command state (a plain memory peek).
    uint32_t ReadArray(uint32_t chipAddr) const;
    // Stores into the array directly (backdoor and persistence; no command cycle).
    void WriteArray(uint32_t chipAddr, uint32_t value) { SetUnit(chipAddr, value); }
    // True while a program or erase is running (not after it ended with an error).
    bool Busy(uint64_t now) const;

    uint32_t unit_bytes() const { return options_.wordMode ? 2 : 1; }
    uint32_t units() const { return options_.sizeBytes / unit_bytes(); }
    uint32_t data_mask() const { return options_.wordMode ? 0xFFFFu : 0xFFu; }
    const NorFlashOptions& options() const { return options_; }

    struct Sector {
        uint32_t offset;  // bytes
        uint32_t size;    // bytes
    };
    std::vector<Sector> Sectors() const;
    // The sector holding a chip address.
    Sector SectorAt(uint32_t chipAddr) const;

    // Fault knobs that the board may change at run time.
    void set_erase_fails(bool fails) { options_.eraseFails = fails; }
    void set_stuck_unit(std::optional<uint32_t> unit) { options_.stuckUnit = unit; }
    void set_slow_factor(uint32_t factor) { options_.slowFactor = factor; }

    // Array contents for persistence: sizeBytes bytes, word-mode units low byte first (the
    // byte order the little-endian target sees on an identity-wired bus).
    const uint8_t* data() const { return array_.data(); }
    uint8_t* mutable_data() { return array_.data(); }
    size_t size() const { return array_.size(); }
    // Units programmed and ranges erased through bus cycles since construction.
    uint64_t array_writes() const { return arrayWrites_; }

  private:
    enum class Mode { Array, Id, Status };
    enum class Seq { Idle, Unlock1, Unlock2, ProgramSetup, EraseSetup, EraseUnlock1, EraseUnlock2 };
    enum class Op { None, Program, Erase };

    uint32_t Wrap(uint32_t chipAddr) const { return chipAddr % units(); }
    uint32_t Unit(uint32_t chipAddr) const;
    void SetUnit(uint32_t chipAddr, uint32_t value);
    uint64_t Scaled(uint64_t ns) const { return ScaleNs(ns, options_.slowFactor); }
    uint32_t IdRead(uint32_t chipAddr) const;
    bool Program(uint32_t chipAddr, uint32_t data);  // false when the unit failed
    void EraseRange(uint32_t offset, uint32_t size);

    void AmdWrite(uint32_t chipAddr, uint32_t data, uint64_t now);
    uint32_t AmdRead(uint32_t chipAddr, uint64_t now);
    void IntelWrite(uint32_t chipAddr, uint32_t data, uint64_t now);
    uint32_t IntelRead(uint32_t chipAddr, uint64_t now);

    NorFlashOptions options_;
    std::vector<uint8_t> array_;
    uint64_t arrayWrites_ = 0;
    Mode mode_ = Mode::Array;
    Seq seq_ = Seq::Idle;
    // The running or last operation.
    Op op_ = Op::None;
    uint64_t doneAt_ = 0;
    bool failed_ = false;    // the operation ends in error
    uint32_t pollData_ = 0;  // AMD: data being programmed (DQ7 polling)
    Sector erasing_{0, 0};   // AMD: DQ2 toggles inside it
    bool toggle_ = false;    // AMD: DQ6 (and DQ2) toggle on every status read
    uint8_t status_ = 0;     // Intel status register error bits (ready is computed)
};

}  // namespace sim
