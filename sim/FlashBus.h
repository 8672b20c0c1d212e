// One flash bank on the board's external bus: a window of bus byte addresses, one chip on an
// 8 or 16-bit bus or two side by side on a 32-bit bus, behind a data-line wiring.
//
// Wiring: bus data line i is chip data bit wiring[i]. On a 32-bit bus the chip bits form one
// 32-bit chip-pair word, chip 0 in bits 0-15 and chip 1 in bits 16-31. A value written on the
// bus lines reaches the chips through the wiring; the chips' answer comes back through its
// inverse.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/NorFlash.h"

namespace sim {

using DataWiring = std::array<uint8_t, 32>;

constexpr DataWiring IdentityWiring() {
    DataWiring w{};
    for (uint8_t i = 0; i < w.size(); ++i) w[i] = i;
    return w;
}

struct FlashBusOptions {
    uint32_t base = 0x7FF00000;
    unsigned width = 16;  // bus width in bits: 8, 16 or 32
    DataWiring wiring =
        IdentityWiring();  // entries for lines below `width` must permute 0..width-1
    NorFlashOptions chip;  // both chips of a 32-bit bank are alike
};

class FlashBus {
  public:
    // Throws std::invalid_argument with Validate's text on bad options.
    explicit FlashBus(const FlashBusOptions& options = {});
    // "" when the options describe a bank, else what is wrong with them.
    static std::string Validate(const FlashBusOptions& options);

    bool Contains(uint32_t addr) const { return addr - options_.base < size_; }
    uint32_t base() const { return options_.base; }
    uint32_t size() const { return size_; }  // window bytes: chip size x chip count
    unsigned width() const { return options_.width; }

    // A CPU access of 8, 16 or 32 bits. Each bus-width unit it touches is one chip cycle (bus
    // byte address -> chip address = (addr - base) / (width / 8)); a narrower write drives
    // only its own byte lanes and the others read as 0 at the chips. Accesses of another width
    // or not wholly inside the window read 0 and write nothing.
    uint32_t BusRead(uint32_t addr, unsigned width, uint64_t now);
    void BusWrite(uint32_t addr, uint32_t value, unsigned width, uint64_t now);

    // A plain memory read of the array through the wiring, whatever state the chips are in
    // (the board's DCU peeks). Same address rules as BusRead.
    uint32_t Peek(uint32_t addr, unsigned width) const;

    // The window's bytes as plain memory (backdoor, persistence, DCU reads): the array through
    // the wiring, whatever state the chips are in. Bytes outside the window are left alone.
    void PeekBytes(uint32_t addr, uint8_t* out, size_t n) const;
    void PokeBytes(uint32_t addr, const uint8_t* in, size_t n);

    unsigned chip_count() const { return static_cast<unsigned>(chips_.size()); }
    NorFlash& chip(unsigned i) { return chips_.at(i); }
    const NorFlash& chip(unsigned i) const { return chips_.at(i); }

    // The wiring in both directions.
    uint32_t ToChips(uint32_t busValue) const;
    uint32_t FromChips(uint32_t chipWord) const;

  private:
    bool InWindow(uint32_t addr, unsigned width) const;
    uint32_t CycleRead(uint32_t unit, uint64_t now);
    uint32_t ArrayRead(uint32_t unit) const;
    void CycleWrite(uint32_t unit, uint32_t busValue, uint64_t now);
    template <typename UnitRead>
    uint32_t Gather(uint32_t addr, unsigned width, UnitRead&& read) const;

    FlashBusOptions options_;
    std::vector<NorFlash> chips_;
    uint32_t size_ = 0;
    uint32_t busBytes_ = 2;
    uint32_t laneMask_ = 0xFFFF;
    bool identity_ = true;
};

}  // namespace sim
