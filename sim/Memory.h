// The target's address space as the DCU sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

class FlashBus;

class Memory {
  public:
    static constexpr uint32_t kDcuBase = 0x3000;
    static constexpr uint32_t kDcuSize = 0x90;       // 36 registers
    static constexpr uint32_t kDcuControl = 0x3004;  // control on write, status on read
    static constexpr uint32_t kEmiBase = 0x2000;
    static constexpr uint32_t kEmiSize = 0x40;
    static constexpr uint32_t kIramBase = 0x80000000;
    static constexpr uint32_t kIramSize = 64 * 1024;
    static constexpr uint32_t kSdramBase = 0xC0000000;
    static constexpr uint32_t kSdramSize = 8 * 1024 * 1024;
    static constexpr uint32_t kFlashBase = 0x7FF00000;
    static constexpr uint32_t kFlashSize = 1024 * 1024;
    // What an unmapped word reads as (byte k of the word at an aligned address is byte k of
    // this value, so a whole unmapped word reads 0xDEADC0DE).
    static constexpr uint32_t kUnmappedPattern = 0xDEADC0DE;

    Memory();

    // The flash bank behind its window. DCU reads and the backdoor see the array; DCU writes
    // are bus cycles to the chips at time *now. Until one is attached the window is unmapped.
    void AttachFlash(FlashBus* bus, const uint64_t* now) {
        flash_ = bus;
        now_ = now;
    }
    FlashBus* flash() const { return flash_; }

    // Backdoor access: whole map, flash written directly, nothing counted, no hooks run.
    void Peek(uint32_t addr, uint8_t* out, size_t n) const;
    void Poke(uint32_t addr, const uint8_t* in, size_t n);

    // Bus access as the DCU performs it: unmapped bytes counted, 0x3004 reads the status and
    // writes the control word, flash writes go to the chip hook.
    void BusRead(uint32_t addr, uint8_t* out, size_t n);
    void BusWrite(uint32_t addr, const uint8_t* in, size_t n);

    uint64_t unmapped_reads() const { return unmappedReads_; }
    uint64_t unmapped_writes() const { return unmappedWrites_; }

    // The processor side of the DCU. Until a CPU model sets onControl, the status word is a
    // plain register that control writes leave alone.
    uint32_t dcuStatus = 0;
    uint32_t dcuControl = 0;
    std::function<void(uint32_t value)> onControl;
    // The CPU catches up here: before every DCU read and after every DCU write.
    std::function<void(uint32_t addr, size_t n)> beforeRead;
    std::function<void(uint32_t addr, size_t n)> afterWrite;

    // Raw image files: Load takes what the file holds (short or oversized is fine, missing
    // keeps `into`), Save replaces the file in one step.
    static void LoadFile(const std::string& path, uint8_t* into, size_t n);
    static bool SaveFile(const std::string& path, const uint8_t* from, size_t n,
                         std::string& error);

    // Persistence: RAM and flash images as files in dir. Load tolerates missing, short or
    // oversized files (what is there is taken, the rest keeps its reset contents).
    // Both return false with a message on the first problem.
    bool Load(const std::string& dir, std::string& error);
    bool Save(const std::string& dir, std::string& error) const;

  private:
    struct Span {
        uint8_t* bytes;  // null: unmapped
        size_t len;      // bytes available from addr in this region (or up to the next one)
        int kind;        // see Memory.cpp
    };
    Span Find(uint32_t addr) const;

    std::vector<uint8_t> iram_;
    std::vector<uint8_t> sdram_;
    FlashBus* flash_ = nullptr;
    const uint64_t* now_ = nullptr;
    uint8_t dcu_[kDcuSize] = {};
    uint8_t emi_[kEmiSize] = {};
    uint64_t unmappedReads_ = 0;
    uint64_t unmappedWrites_ = 0;
};

}  // namespace sim
