// The virtual board: a whole target board behind the parallel-port pins.
// Written from the wire formats only; it shares no protocol code with the host side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sim/BoardKnobs.h"
#include "sim/DcuLink.h"
#include "sim/FlashBus.h"
#include "sim/I2cEeprom.h"
#include "sim/Memory.h"
#include "sim/SimClock.h"
#include "sim/TrapCpu.h"

namespace sim {

class Board {
  public:
    explicit Board(const Options& options);
    ~Board();  // persists memory contents into options.dir when one is given
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // The pins, as data register bits, and the status bit TDO comes back on.
    static constexpr uint8_t kPinTms = 0x01;
    static constexpr uint8_t kPinTck = 0x02;
    static constexpr uint8_t kPinTdi = 0x04;
    static constexpr uint8_t kPinTrst = 0x08;
    static constexpr uint8_t kPinReset = 0x10;
    static constexpr uint8_t kStatusTdo = 0x10;
    // Levels the board's resistors give pins no cable drives: TCK low, the others high.
    static constexpr uint8_t kPinsPulled = kPinTms | kPinTdi | kPinTrst | kPinReset;

    // Pin level entry points. Data register bits: D0 TMS, D1 TCK, D2 TDI, D3 nTRST, D4 nRESET.
    // Status register: bit 4 is TDO (not inverted). These are on the per-clock path: no
    // allocation, no formatting, no locking.
    void WriteData(uint8_t value) {
        if (Unplugged()) {
            data_ = value;  // the port's register, no longer wired to the board
            return;
        }
        const uint8_t changed = static_cast<uint8_t>(value ^ data_);
        data_ = value;
        if (changed != 0) PinsChanged(value, changed);
    }
    uint8_t ReadData() const { return data_; }
    uint8_t ReadStatus() const {
        if (Unplugged()) return kStatusTdo;  // open line, pulled high
        switch (options_.tdo) {
            case Options::Tdo::StuckHigh:
                return kStatusTdo;
            case Options::Tdo::StuckLow:
                return 0x00;
            case Options::Tdo::Live:
                break;
        }
        return tdo_ ? kStatusTdo : 0x00;
    }

    const Options& options() const { return options_; }
    Options& mutable_options() { return options_; }

    // Test and demo backdoor: the memory map without wire traffic (little-endian words).
    // Unmapped bytes read as the pattern of Memory.h and are not counted here.
    void ReadBytes(uint32_t addr, uint8_t* out, size_t n) const { memory_.Peek(addr, out, n); }
    void WriteBytes(uint32_t addr, const uint8_t* in, size_t n) { memory_.Poke(addr, in, n); }
    uint32_t ReadWord(uint32_t addr) const;
    void WriteWord(uint32_t addr, uint32_t value);
    // Unmapped bytes touched through the DCU link since construction.
    uint64_t UnmappedReads() const { return memory_.unmapped_reads(); }
    uint64_t UnmappedWrites() const { return memory_.unmapped_writes(); }
    // Rising TCK edges seen.
    uint64_t Clocks() const { return clocks_; }
    bool Unplugged() const { return options_.unplugAfter != 0 && clocks_ >= options_.unplugAfter; }
    // Simulated time: clock-ns per rising TCK edge.
    uint64_t NowNs() const { return now_; }
    // Time that passes without clocks (a USB cable waiting for its bus); the devices see it.
    void AdvanceNs(uint64_t ns) { now_ = AddNs(now_, ns); }

    // The CPU: a trap handler runs (status 0x60000), where GO started a program (0 before),
    // whether the handler rebooted the target, commands answered so far.
    bool TrapRunning() const { return cpu_->Running(); }
    uint32_t GoAddress() const { return cpu_->GoAddress(); }
    bool Rebooted() const { return cpu_->Rebooted(); }
    uint64_t TrapCommandsDone() const { return cpu_->CommandsDone(); }
    // The device part of the running handler (none: not running, or the general part alone),
    // its parameter block, and whether an I2C part could reach the EEPROM with its slots.
    std::optional<TrapPart> RunningDevicePart() const { return cpu_->RunningDevice(); }
    uint32_t TrapParamBlock() const { return cpu_->ParamBlock(); }
    bool EepromSetUp() const { return cpu_->EepromReachable(); }

    // The EEPROM's contents (only the trap handler reaches it over the wire). Bytes beyond
    // the part are not touched.
    void ReadEeprom(uint32_t addr, uint8_t* out, size_t n) const;
    void WriteEeprom(uint32_t addr, const uint8_t* in, size_t n);

    Memory& memory() { return memory_; }
    DcuLink& link() { return link_; }
    FlashBus& flash() { return *flash_; }
    I2cEeprom& eeprom() { return *eeprom_; }

    // TAP state, for tests (IEEE 1149.1 state numbering of TapState).
    enum TapState : uint8_t {
        kTestLogicReset,
        kRunTestIdle,
        kSelectDrScan,
        kCaptureDr,
        kShiftDr,
        kExit1Dr,
        kPauseDr,
        kExit2Dr,
        kUpdateDr,
        kSelectIrScan,
        kCaptureIr,
        kShiftIr,
        kExit1Ir,
        kPauseIr,
        kExit2Ir,
        kUpdateIr,
    };
    TapState tap_state() const { return tap_; }
    uint8_t instruction() const { return ir_; }

    static constexpr uint8_t kIrIdcode = 2;
    static constexpr uint8_t kIrDcuLink = 16;

  private:
    void PinsChanged(uint8_t value, uint8_t changed);
    void Rising(uint8_t pins);
    void Falling();
    void EnterTestLogicReset();
    void SyncFaultKnobs();

    Options options_;
    Memory memory_;
    DcuLink link_;
    std::unique_ptr<FlashBus> flash_;
    std::unique_ptr<I2cEeprom> eeprom_;
    std::unique_ptr<TrapCpu> cpu_;
    uint64_t clocks_ = 0;
    uint64_t now_ = 0;
    uint32_t dr_ = 0;     // IDCODE or BYPASS shift register
    uint8_t drLen_ = 32;  // its length
    uint8_t irShift_ = 0;
    uint8_t ir_ = kIrIdcode;
    uint8_t data_ = 0;
    TapState tap_ = kTestLogicReset;
    bool tdo_ = true;
};

}  // namespace sim
