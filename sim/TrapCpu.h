// The board's CPU as the DCU sees it in trap mode, running the stand-in trap handlers.
//
// DCU control writes: 0xFFFFFFFF and 0 prepare a download and stop a running handler (status
// 0), so the image downloaded next is the one 0x20000000 starts; with keep-running they leave
// it running, and since a combined image begins with the same general part, the running
// handler then serves the newly downloaded device part. 0x20000000 reads the vector block at
// 0x80000040 (word 2 workspace, word 3 entry) and starts a recognised image: status 0x60000,
// and the handler writes 1 into Command once ready.
//
// The handler acts when the host's DCU traffic reaches the board, never per clock: a command
// starts when the host writes it and completes (1 in Command) once its simulated duration has
// passed and the host has read Command more than readyPolls times since it started.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "sim/StandInHandlers.h"

namespace sim {

class Memory;
class FlashBus;
class I2cEeprom;

struct CpuKnobs {
    uint32_t idcode = 0x0D4C9041;    // IDCODE register value (revision in the top 4 bits)
    std::optional<uint32_t> procid;  // what ProcID reports (default: idcode)
    uint32_t readyPolls = 2;         // Command reads that still see the old value
    bool handlerDead = false;        // starts (0x60000) but never answers
    bool keepRunning = false;        // preparation writes leave a running handler alone
    uint32_t scc = 0x20009000;       // board serial controller
    uint32_t pio = 0x2000D000;       // board PIO
};

class TrapCpu {
  public:
    static constexpr uint32_t kVectors = 0x80000040;
    static constexpr uint32_t kRunning = 0x60000;
    static constexpr uint32_t kLeft = 0xC00000;
    static constexpr uint32_t kMemStart = 0xC0000000;  // what MemStart reports: SDRAM
    // Parameter block offsets.
    static constexpr uint32_t kCommand = 0, kAccessAddress = 92, kAccessData = 96, kCount = 100,
                              kOffset = 104, kFlashAddress = 108, kDeviceSize = 112,
                              kBusWidth = 116, kAlgorithm = 120, kTopBoot = 124, kWordMode = 128,
                              kFlashStatus = 132, kParam0 = 140;

    TrapCpu(Memory& memory, FlashBus& flash, I2cEeprom& eeprom, const CpuKnobs& knobs,
            const uint64_t& now)
        : memory_(memory), flash_(flash), eeprom_(eeprom), knobs_(knobs), now_(now) {}

    void Control(uint32_t value);
    void BeforeRead(uint32_t addr, size_t n);
    void AfterWrite(uint32_t addr, size_t n);

    bool Running() const { return state_ != State::Stopped && state_ != State::Left; }
    // The device part of the image running now (none for the general handler alone).
    std::optional<TrapPart> RunningDevice() const;
    // The slots hold what an I2C part needs to reach this board's EEPROM.
    bool EepromReachable() const;
    uint32_t GoAddress() const { return go_; }
    bool Rebooted() const { return rebooted_; }
    uint32_t ParamBlock() const { return param_; }
    uint64_t CommandsDone() const { return done_; }

  private:
    enum class State { Stopped, Left, Busy, Idle, Dead };
    struct Image {
        bool ok = false;
        std::optional<TrapPart> device;
    };

    Image Recognise(uint32_t entry) const;
    void Start();
    void CatchUp();
    void Execute(uint32_t command);
    bool Covers(uint32_t addr, size_t n, uint32_t at) const {
        return at - addr < n;  // both wrap the same way
    }
    uint32_t Slot(uint32_t offset) const;
    void SetSlot(uint32_t offset, uint32_t value);
    uint32_t Param(int i) const { return Slot(kParam0 + 4 * static_cast<uint32_t>(i)); }

    // Device parts; t is the handler's own time, advanced by every cycle it makes.
    // The flash ones return false when the part cannot run at all.
    uint32_t Read(uint32_t addr, unsigned width, uint64_t& t);
    void Write(uint32_t addr, uint32_t value, unsigned width, uint64_t& t);
    void FlashProgram(const TrapPart& part, uint64_t& t);
    void FlashErase(const TrapPart& part, uint64_t& t);
    bool FlashWait(uint32_t addr, uint32_t expect, bool amd, uint64_t step, uint64_t& t);
    bool EepromTransfer(const TrapPart& part, bool write, uint64_t& t);
    bool AckPoll(uint8_t dev, uint64_t& t);

    Memory& memory_;
    FlashBus& flash_;
    I2cEeprom& eeprom_;
    const CpuKnobs& knobs_;
    const uint64_t& now_;

    State state_ = State::Stopped;
    uint32_t param_ = 0;
    uint32_t entry_ = 0;
    uint64_t doneAt_ = 0;
    uint32_t polls_ = 0;
    uint32_t go_ = 0;
    bool rebooted_ = false;
    uint64_t done_ = 0;
};

}  // namespace sim
