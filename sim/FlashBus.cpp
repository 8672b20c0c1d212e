#include "sim/FlashBus.h"

#include <algorithm>
#include <stdexcept>

namespace sim {

std::string FlashBus::Validate(const FlashBusOptions& o) {
    if (o.width != 8 && o.width != 16 && o.width != 32)
        return "flash bus width must be 8, 16 or 32";
    if (std::string error = NorFlash::Validate(o.chip); !error.empty()) return error;
    uint32_t seen = 0;
    for (unsigned i = 0; i < o.width; ++i) {
        const unsigned bit = o.wiring[i];
        if (bit >= o.width) {
            return "flash data line " + std::to_string(i) + " is wired to chip bit " +
                   std::to_string(bit) + ", beyond the " + std::to_string(o.width) + "-bit bus";
        }
        if (seen & (1u << bit)) {
            return "flash data lines share chip bit " + std::to_string(bit);
        }
        seen |= 1u << bit;
    }
    const uint32_t busBytes = o.width / 8;
    if (o.base % busBytes != 0) return "flash base must be aligned to the bus width";
    const uint64_t unitBytes = o.chip.wordMode ? 2 : 1;
    const uint64_t size = o.chip.sizeBytes / unitBytes * busBytes;
    if (o.base + size > (uint64_t{1} << 32)) return "flash window runs past the end of memory";
    return {};
}

FlashBus::FlashBus(const FlashBusOptions& options) : options_(options) {
    if (std::string error = Validate(options_); !error.empty()) {
        throw std::invalid_argument(error);
    }
    busBytes_ = options_.width / 8;
    laneMask_ = options_.width == 32 ? 0xFFFFFFFFu : (1u << options_.width) - 1;
    chips_.assign(options_.width == 32 ? 2 : 1, NorFlash(options_.chip));
    size_ = chips_[0].units() * busBytes_;
    identity_ = true;
    for (unsigned i = 0; i < options_.width; ++i) identity_ = identity_ && options_.wiring[i] == i;
}

uint32_t FlashBus::ToChips(uint32_t busValue) const {
    busValue &= laneMask_;
    if (identity_) return busValue;
    uint32_t chip = 0;
    for (unsigned i = 0; i < options_.width; ++i) {
        chip |= ((busValue >> i) & 1u) << options_.wiring[i];
    }
    return chip;
}

uint32_t FlashBus::FromChips(uint32_t chipWord) const {
    if (identity_) return chipWord & laneMask_;
    uint32_t bus = 0;
    for (unsigned i = 0; i < options_.width; ++i) {
        bus |= ((chipWord >> options_.wiring[i]) & 1u) << i;
    }
    return bus;
}

bool FlashBus::InWindow(uint32_t addr, unsigned width) const {
    if (width != 8 && width != 16 && width != 32) return false;
    const uint32_t offset = addr - options_.base;
    return offset < size_ && size_ - offset >= width / 8;
}

uint32_t FlashBus::CycleRead(uint32_t unit, uint64_t now) {
    uint32_t chipWord = 0;
    for (unsigned k = 0; k < chips_.size(); ++k) {
        chipWord |= (chips_[k].Read(unit, now) & chips_[k].data_mask()) << (16 * k);
    }
    return FromChips(chipWord);
}

uint32_t FlashBus::ArrayRead(uint32_t unit) const {
    uint32_t chipWord = 0;
    for (unsigned k = 0; k < chips_.size(); ++k) {
        chipWord |= chips_[k].ReadArray(unit) << (16 * k);
    }
    return FromChips(chipWord);
}

void FlashBus::CycleWrite(uint32_t unit, uint32_t busValue, uint64_t now) {
    const uint32_t chipWord = ToChips(busValue);
    for (unsigned k = 0; k < chips_.size(); ++k) {
        chips_[k].Write(unit, (chipWord >> (16 * k)) & chips_[k].data_mask(), now);
    }
}

// Assembles the bytes of one access from the bus-width units it touches, lowest first.
template <typename UnitRead>
uint32_t FlashBus::Gather(uint32_t addr, unsigned width, UnitRead&& read) const {
    const uint32_t offset = addr - options_.base;
    const uint32_t end = offset + width / 8;
    uint32_t result = 0;
    for (uint32_t unit = offset / busBytes_; unit * busBytes_ < end; ++unit) {
        const uint32_t unitStart = unit * busBytes_;
        const uint32_t word = read(unit);
        for (uint32_t b = std::max(offset, unitStart); b < end && b < unitStart + busBytes_; ++b) {
            result |= ((word >> (8 * (b - unitStart))) & 0xFFu) << (8 * (b - offset));
        }
    }
    return result;
}

uint32_t FlashBus::BusRead(uint32_t addr, unsigned width, uint64_t now) {
    if (!InWindow(addr, width)) return 0;
    return Gather(addr, width, [&](uint32_t unit) { return CycleRead(unit, now); });
}

uint32_t FlashBus::Peek(uint32_t addr, unsigned width) const {
    if (!InWindow(addr, width)) return 0;
    return Gather(addr, width, [&](uint32_t unit) { return ArrayRead(unit); });
}

void FlashBus::PeekBytes(uint32_t addr, uint8_t* out, size_t n) const {
    for (size_t i = 0; i < n; ++i, ++addr) {
        if (!Contains(addr)) continue;
        const uint32_t offset = addr - options_.base;
        out[i] = static_cast<uint8_t>(ArrayRead(offset / busBytes_) >> (8 * (offset % busBytes_)));
    }
}

void FlashBus::PokeBytes(uint32_t addr, const uint8_t* in, size_t n) {
    for (size_t i = 0; i < n; ++i, ++addr) {
        if (!Contains(addr)) continue;
        const uint32_t offset = addr - options_.base;
        const uint32_t unit = offset / busBytes_;
        const unsigned shift = 8 * (offset % busBytes_);
        const uint32_t bus = (ArrayRead(unit) & ~(0xFFu << shift)) | uint32_t{in[i]} << shift;
        const uint32_t chipWord = ToChips(bus);
        const uint32_t seen = ToChips(laneMask_);  // chip bits that have a bus line
        for (unsigned k = 0; k < chips_.size(); ++k) {
            const uint32_t mask = (seen >> (16 * k)) & chips_[k].data_mask();
            const uint32_t old = chips_[k].ReadArray(unit);
            chips_[k].WriteArray(unit, (old & ~mask) | ((chipWord >> (16 * k)) & mask));
        }
    }
}

void FlashBus::BusWrite(uint32_t addr, uint32_t value, unsigned width, uint64_t now) {
    if (!InWindow(addr, width)) return;
    const uint32_t offset = addr - options_.base;
    const uint32_t end = offset + width / 8;
    for (uint32_t unit = offset / busBytes_; unit * busBytes_ < end; ++unit) {
        const uint32_t unitStart = unit * busBytes_;
        uint32_t busValue = 0;
        for (uint32_t b = std::max(offset, unitStart); b < end && b < unitStart + busBytes_; ++b) {
            busValue |= ((value >> (8 * (b - offset))) & 0xFFu) << (8 * (b - unitStart));
        }
        CycleWrite(unit, busValue, now);
    }
}

}  // namespace sim
