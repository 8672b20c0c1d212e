#include "sim/NorFlash.h"

#include <algorithm>
#include <stdexcept>

namespace sim {
namespace {

constexpr uint32_t kBlock = 64 * 1024;
constexpr uint32_t kKiB = 1024;
constexpr uint32_t kMaxSize = 64 * 1024 * 1024;

// The 64 KiB boot block, split as on 29W800-class parts (offsets within the block).
constexpr NorFlash::Sector kTopBoot[] = {
    {0, 32 * kKiB}, {32 * kKiB, 8 * kKiB}, {40 * kKiB, 8 * kKiB}, {48 * kKiB, 16 * kKiB}};
constexpr NorFlash::Sector kBottomBoot[] = {
    {0, 16 * kKiB}, {16 * kKiB, 8 * kKiB}, {24 * kKiB, 8 * kKiB}, {32 * kKiB, 32 * kKiB}};

// AMD status bits.
constexpr uint32_t kDq7 = 0x80, kDq6 = 0x40, kDq5 = 0x20, kDq3 = 0x08, kDq2 = 0x04;
// Intel status register bits.
constexpr uint8_t kSrReady = 0x80, kSrEraseError = 0x20, kSrProgramError = 0x10;
constexpr uint8_t kSrClearable = 0x3A;

// Unlock and command cycles decode only the low 11 address lines.
constexpr uint32_t kCmdAddrMask = 0x7FF;

}  // namespace

std::string NorFlash::Validate(const NorFlashOptions& o) {
    if (o.sizeBytes == 0 || o.sizeBytes % kBlock != 0) {
        return "flash size must be a non-zero multiple of 64 KiB";
    }
    if (o.sizeBytes > kMaxSize) return "flash size must be at most 64 MiB";
    if (o.slowFactor == 0) return "flash slow factor must be at least 1";
    return {};
}

NorFlash::NorFlash(const NorFlashOptions& options) : options_(options) {
    if (std::string error = Validate(options_); !error.empty()) {
        throw std::invalid_argument(error);
    }
    array_.assign(options_.sizeBytes, 0xFF);
}

uint32_t NorFlash::Unit(uint32_t chipAddr) const {
    const uint32_t offset = Wrap(chipAddr) * unit_bytes();
    if (!options_.wordMode) return array_[offset];
    return array_[offset] | (uint32_t{array_[offset + 1]} << 8);
}

void NorFlash::SetUnit(uint32_t chipAddr, uint32_t value) {
    const uint32_t offset = Wrap(chipAddr) * unit_bytes();
    array_[offset] = static_cast<uint8_t>(value);
    if (options_.wordMode) array_[offset + 1] = static_cast<uint8_t>(value >> 8);
}

uint32_t NorFlash::ReadArray(uint32_t chipAddr) const {
    return Unit(chipAddr);
}

bool NorFlash::Busy(uint64_t now) const {
    return op_ != Op::None && now < doneAt_;
}

std::vector<NorFlash::Sector> NorFlash::Sectors() const {
    std::vector<Sector> out;
    const uint32_t blocks = options_.sizeBytes / kBlock;
    if (!options_.topBoot) {
        for (const Sector& s : kBottomBoot) out.push_back(s);
    }
    for (uint32_t b = 0; b + 1 < blocks; ++b) {
        out.push_back({(options_.topBoot ? b : b + 1) * kBlock, kBlock});
    }
    if (options_.topBoot) {
        const uint32_t bootStart = options_.sizeBytes - kBlock;
        for (const Sector& s : kTopBoot) out.push_back({bootStart + s.offset, s.size});
    }
    return out;
}

NorFlash::Sector NorFlash::SectorAt(uint32_t chipAddr) const {
    const uint32_t offset = Wrap(chipAddr) * unit_bytes();
    const uint32_t bootStart = options_.topBoot ? options_.sizeBytes - kBlock : 0;
    if (offset < bootStart || offset >= bootStart + kBlock) {
        return {offset / kBlock * kBlock, kBlock};
    }
    for (const Sector& s : options_.topBoot ? kTopBoot : kBottomBoot) {
        if (offset - bootStart < s.offset + s.size) return {bootStart + s.offset, s.size};
    }
    return {bootStart, kBlock};  // not reached: the pieces cover the block
}

uint32_t NorFlash::IdRead(uint32_t chipAddr) const {
    // Identification answers on the low address lines only, in any sector.
    switch (chipAddr & 0xFF) {
        case 0:
            return options_.makerId & data_mask();
        case 1:
            return options_.deviceId & data_mask();
        default:
            return 0;  // block protection and the rest: nothing protected
    }
}

bool NorFlash::Program(uint32_t chipAddr, uint32_t data) {
    data &= data_mask();
    if (options_.stuckUnit && Wrap(chipAddr) == *options_.stuckUnit) return false;
    const uint32_t old = Unit(chipAddr);
    SetUnit(chipAddr, old & data);
    ++arrayWrites_;
    // Programming only clears bits: asking for a 1 over a 0 is a failed program.
    return (data & ~old) == 0;
}

void NorFlash::EraseRange(uint32_t offset, uint32_t size) {
    std::fill(array_.begin() + offset, array_.begin() + offset + size, 0xFF);
    ++arrayWrites_;
}

uint32_t NorFlash::Read(uint32_t chipAddr, uint64_t now) {
    return options_.commandSet == CommandSet::Amd ? AmdRead(chipAddr, now)
                                                  : IntelRead(chipAddr, now);
}

void NorFlash::Write(uint32_t chipAddr, uint32_t data, uint64_t now) {
    if (options_.commandSet == CommandSet::Amd) {
        AmdWrite(chipAddr, data, now);
    } else {
        IntelWrite(chipAddr, data, now);
    }
}

// ---- AMD ----

uint32_t NorFlash::AmdRead(uint32_t chipAddr, uint64_t now) {
    if (mode_ == Mode::Status && !failed_ && now >= doneAt_) {
        mode_ = Mode::Array;
        op_ = Op::None;
    }
    switch (mode_) {
        case Mode::Array:
            return Unit(chipAddr);
        case Mode::Id:
            return IdRead(chipAddr);
        case Mode::Status:
            break;
    }
    uint32_t status = toggle_ ? kDq6 : 0;
    if (failed_ && now >= doneAt_) status |= kDq5;
    if (op_ == Op::Program) {
        status |= ~pollData_ & kDq7;
    } else {
        status |= kDq3;
        const uint32_t offset = Wrap(chipAddr) * unit_bytes();
        if (toggle_ && offset >= erasing_.offset && offset - erasing_.offset < erasing_.size) {
            status |= kDq2;
        }
    }
    toggle_ = !toggle_;
    return status;
}

void NorFlash::AmdWrite(uint32_t chipAddr, uint32_t data, uint64_t now) {
    const uint32_t cmd = data & 0xFF;  // word mode: the upper byte is ignored for commands
    if (mode_ == Mode::Status) {
        if (now < doneAt_) return;  // embedded algorithm running: writes are ignored
        if (failed_) {
            // DQ5 latched: only a reset leaves the status mode.
            if (cmd == 0xF0) {
                mode_ = Mode::Array;
                op_ = Op::None;
                failed_ = false;
            }
            return;
        }
        mode_ = Mode::Array;
        op_ = Op::None;
    }

    const uint32_t low = chipAddr & kCmdAddrMask;
    const Seq seq = seq_;
    seq_ = Seq::Idle;
    switch (seq) {
        case Seq::Idle:
        case Seq::EraseSetup:  // the erase is confirmed behind the same two unlock cycles
            if (cmd == 0xAA && low == 0x555) {
                seq_ = seq == Seq::Idle ? Seq::Unlock1 : Seq::EraseUnlock1;
                return;
            }
            break;
        case Seq::Unlock1:
        case Seq::EraseUnlock1:
            if (cmd == 0x55 && low == 0x2AA) {
                seq_ = seq == Seq::Unlock1 ? Seq::Unlock2 : Seq::EraseUnlock2;
                return;
            }
            break;
        case Seq::Unlock2:
            if (low != 0x555) break;
            if (cmd == 0x90) {
                mode_ = Mode::Id;
                return;
            }
            if (cmd == 0xA0) {
                seq_ = Seq::ProgramSetup;
                return;
            }
            if (cmd == 0x80) {
                seq_ = Seq::EraseSetup;
                return;
            }
            break;
        case Seq::ProgramSetup:
            op_ = Op::Program;
            mode_ = Mode::Status;
            doneAt_ = AddNs(now, Scaled(options_.programNs));
            pollData_ = data & data_mask();
            failed_ = !Program(chipAddr, data);
            return;
        case Seq::EraseUnlock2:
            if ((cmd == 0x10 && low == 0x555) || cmd == 0x30) {
                const bool chip = cmd == 0x10;
                erasing_ = chip ? Sector{0, options_.sizeBytes} : SectorAt(chipAddr);
                op_ = Op::Erase;
                mode_ = Mode::Status;
                doneAt_ = AddNs(now, Scaled(chip ? options_.chipEraseNs : options_.sectorEraseNs));
                failed_ = options_.eraseFails;
                if (!failed_) EraseRange(erasing_.offset, erasing_.size);
                return;
            }
            break;
    }
    // A reset, or a cycle out of sequence: back to reading the array.
    mode_ = Mode::Array;
}

// ---- Intel ----

uint32_t NorFlash::IntelRead(uint32_t chipAddr, uint64_t now) {
    if (Busy(now)) return status_ & ~kSrReady;  // any read gives status while the WSM runs
    switch (mode_) {
        case Mode::Array:
            return Unit(chipAddr);
        case Mode::Id:
            return IdRead(chipAddr);
        case Mode::Status:
            break;
    }
    return status_ | kSrReady;
}

void NorFlash::IntelWrite(uint32_t chipAddr, uint32_t data, uint64_t now) {
    if (Busy(now)) return;
    const uint32_t cmd = data & 0xFF;
    const Seq seq = seq_;
    seq_ = Seq::Idle;
    if (seq == Seq::ProgramSetup) {
        op_ = Op::Program;
        mode_ = Mode::Status;
        doneAt_ = AddNs(now, Scaled(options_.programNs));
        if (!Program(chipAddr, data)) status_ |= kSrProgramError;
        return;
    }
    if (seq == Seq::EraseSetup) {
        mode_ = Mode::Status;
        if (cmd != 0xD0) {
            status_ |= kSrEraseError | kSrProgramError;  // command sequence error
            return;
        }
        const Sector block = SectorAt(chipAddr);
        op_ = Op::Erase;
        doneAt_ = AddNs(now, Scaled(options_.sectorEraseNs));
        if (options_.eraseFails) {
            status_ |= kSrEraseError;
        } else {
            EraseRange(block.offset, block.size);
        }
        return;
    }
    switch (cmd) {
        case 0x90:
            mode_ = Mode::Id;
            break;
        case 0x70:
            mode_ = Mode::Status;
            break;
        case 0x50:
            status_ &= static_cast<uint8_t>(~kSrClearable);
            break;
        case 0x40:
        case 0x10:
            seq_ = Seq::ProgramSetup;
            mode_ = Mode::Status;
            break;
        case 0x20:
            seq_ = Seq::EraseSetup;
            mode_ = Mode::Status;
            break;
        default:
            // 0xFF and anything the chip does not know (the AMD reset 0xF0, unlock cycles).
            mode_ = Mode::Array;
            break;
    }
}

}  // namespace sim
