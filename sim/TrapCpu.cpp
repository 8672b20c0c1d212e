#include "sim/TrapCpu.h"

#include <algorithm>
#include <array>

#include "sim/FlashBus.h"
#include "sim/I2cEeprom.h"
#include "sim/Memory.h"

namespace sim {
namespace {

constexpr uint64_t kCycleNs = 250;              // one handler bus cycle with its instructions
constexpr uint64_t kI2cByteNs = 90 * kNsPerUs;  // nine bits at 100 kHz
constexpr uint64_t kProgramPollNs = 2 * kNsPerUs;
constexpr uint64_t kErasePollNs = 1 * kNsPerMs;
constexpr uint32_t kProgramPolls = 50000;     // 100 ms per unit, then the unit counts as failed
constexpr uint32_t kErasePolls = 100000;      // 100 s
constexpr uint32_t kAckPolls = 10000;         // 0.9 s of NAKs: the EEPROM is not there
constexpr uint32_t kMaxTransfer = 16u << 20;  // larger counts are garbage: left unanswered
constexpr uint32_t kFlashStatusOk = 0x80808080;
constexpr uint32_t kFlashStatusFailed = 0x20202020;

// Unlock addresses by bus width (the chip's 0x555 and 0x2AA in bus bytes).
void UnlockAddresses(unsigned width, uint32_t& first, uint32_t& second) {
    first = width == 8 ? 0x555 : width == 32 ? 0x1554 : 0xAAA;
    second = width == 8 ? 0xAAA : width == 32 ? 0x2AA8 : 0x1554;
}

uint32_t Mask(unsigned width) {
    return width == 32 ? 0xFFFFFFFFu : (1u << width) - 1;
}

}  // namespace

uint32_t TrapCpu::Slot(uint32_t offset) const {
    uint8_t b[4];
    memory_.Peek(param_ + offset, b, 4);
    return b[0] | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

void TrapCpu::SetSlot(uint32_t offset, uint32_t value) {
    const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    memory_.Poke(param_ + offset, b, 4);
}

TrapCpu::Image TrapCpu::Recognise(uint32_t entry) const {
    std::array<uint8_t, kMaxPartBytes> buf;
    auto part = [&](uint32_t at) -> std::optional<TrapPart> {
        memory_.Peek(at, buf.data(), kTrapHeaderBytes);
        const uint32_t len = buf[8] | uint32_t{buf[9]} << 8;
        if (len <= kTrapHeaderBytes || len > kMaxPartBytes) return std::nullopt;
        memory_.Peek(at, buf.data(), len);
        return ParseTrapPart(buf.data(), len);
    };
    Image image;
    const std::optional<TrapPart> general = part(entry);
    if (!general || general->kind != TrapPart::kGeneral) return image;
    image.ok = true;
    image.device = part(entry + general->length);
    if (image.device && image.device->kind == TrapPart::kGeneral) image.device.reset();
    return image;
}

std::optional<TrapPart> TrapCpu::RunningDevice() const {
    if (!Running()) return std::nullopt;
    return Recognise(entry_).device;
}

void TrapCpu::Control(uint32_t value) {
    if (value == 0xFFFFFFFF || value == 0) {
        if (knobs_.keepRunning && Running()) return;
        state_ = State::Stopped;
        memory_.dcuStatus = 0;
    } else if (value == 0x20000000) {
        Start();
    }
}

void TrapCpu::Start() {
    uint8_t v[16];
    memory_.Peek(kVectors, v, sizeof v);
    param_ = v[8] | uint32_t{v[9]} << 8 | uint32_t{v[10]} << 16 | uint32_t{v[11]} << 24;
    entry_ = v[12] | uint32_t{v[13]} << 8 | uint32_t{v[14]} << 16 | uint32_t{v[15]} << 24;
    if (!Recognise(entry_).ok) {  // the CPU runs into garbage: trap mode never shows
        state_ = State::Stopped;
        memory_.dcuStatus = 0;
        return;
    }
    memory_.dcuStatus = kRunning;
    state_ = knobs_.handlerDead ? State::Dead : State::Busy;
    doneAt_ = now_;  // the readiness announcement
    polls_ = 0;
}

void TrapCpu::CatchUp() {
    if (state_ == State::Busy && polls_ > knobs_.readyPolls && now_ >= doneAt_) {
        SetSlot(kCommand, 1);
        state_ = State::Idle;
        ++done_;
    }
}

void TrapCpu::BeforeRead(uint32_t addr, size_t n) {
    if (state_ == State::Busy && Covers(addr, n, param_ + kCommand) && polls_ < UINT32_MAX)
        ++polls_;
    CatchUp();
}

void TrapCpu::AfterWrite(uint32_t addr, size_t n) {
    CatchUp();
    if (state_ != State::Idle || !Covers(addr, n, param_ + kCommand)) return;
    const uint32_t command = Slot(kCommand);
    if (command > 1) Execute(command);
}

uint32_t TrapCpu::Read(uint32_t addr, unsigned width, uint64_t& t) {
    t = AddNs(t, kCycleNs);
    if (flash_.Contains(addr)) return flash_.BusRead(addr, width, t);
    uint8_t b[4] = {};
    memory_.Peek(addr, b, width / 8);
    return (b[0] | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24) & Mask(width);
}

void TrapCpu::Write(uint32_t addr, uint32_t value, unsigned width, uint64_t& t) {
    t = AddNs(t, kCycleNs);
    if (flash_.Contains(addr)) {
        flash_.BusWrite(addr, value, width, t);
        return;
    }
    const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    memory_.Poke(addr, b, width / 8);
}

void TrapCpu::Execute(uint32_t command) {
    switch (command) {
        case 2:       // leave trap mode
        case 0x10:    // GO
        case 0x2000:  // reboot
            if (command == 0x10) go_ = Slot(kAccessAddress);
            if (command == 0x2000) rebooted_ = true;
            state_ = State::Left;
            memory_.dcuStatus = kLeft;
            return;
        default:
            break;
    }
    // The handler's code may have been replaced under it (keep-running): it runs what is there.
    const Image image = Recognise(entry_);
    if (!image.ok) {
        state_ = State::Dead;
        return;
    }
    uint64_t t = now_;
    bool answered = true;
    const uint32_t address = Slot(kAccessAddress);
    switch (command) {
        case 0x20:
        case 0x80:
        case 0x200: {
            const unsigned width = command == 0x20 ? 8 : command == 0x80 ? 16 : 32;
            SetSlot(kAccessData, Read(address, width, t));
            break;
        }
        case 0x40:
        case 0x100:
        case 0x400: {
            const unsigned width = command == 0x40 ? 8 : command == 0x100 ? 16 : 32;
            Write(address, Slot(kAccessData) & Mask(width), width, t);
            break;
        }
        case 0x800:
            SetSlot(kAccessData, kMemStart);
            break;
        case 0x1000:
            SetSlot(kAccessData, knobs_.procid.value_or(knobs_.idcode));
            break;
        case 0x4000:
        case 0x8000:
            if (!image.device) {
                answered = false;  // no device part: the general handler ignores the code
            } else if (image.device->kind == TrapPart::kFlash) {
                if (command == 0x4000) {
                    answered = Slot(kCount) <= kMaxTransfer;
                    if (answered) FlashProgram(*image.device, t);
                } else {
                    FlashErase(*image.device, t);
                }
            } else {
                answered = EepromReachable() && EepromTransfer(*image.device, command == 0x4000, t);
            }
            break;
        default:
            answered = false;
            break;
    }
    if (!answered) {  // the host times out waiting, as on hardware
        state_ = State::Idle;
        return;
    }
    state_ = State::Busy;
    doneAt_ = t;
    polls_ = 0;
}

bool TrapCpu::FlashWait(uint32_t addr, uint32_t expect, bool amd, uint64_t step, uint64_t& t) {
    const uint32_t ready = Param(6), error = Param(7);
    const unsigned width = flash_.width();
    const uint32_t polls = step == kProgramPollNs ? kProgramPolls : kErasePolls;
    for (uint32_t i = 0; i < polls; ++i) {
        uint32_t s = Read(addr, width, t);
        if (amd) {
            if ((s & ready) == (expect & ready)) return true;
            if (s & error) {  // time limit exceeded: one more look decides
                s = Read(addr, width, t);
                return (s & ready) == (expect & ready);
            }
        } else if ((s & ready) == ready) {
            return (s & error) == 0;
        }
        t = AddNs(t, step);
    }
    return false;
}

void TrapCpu::FlashProgram(const TrapPart& part, uint64_t& t) {
    const unsigned width = part.busWidth;
    const uint32_t bytes = width / 8;
    const bool amd = part.arg == 0;
    const uint32_t base = Slot(kFlashAddress) & ~0xFFFFu;
    const uint64_t start = uint64_t{Slot(kFlashAddress)} + Slot(kOffset);
    const uint64_t end = start + Slot(kCount);
    const uint32_t buffer = Slot(kAccessAddress);
    uint32_t u1, u2;
    UnlockAddresses(width, u1, u2);
    const uint32_t p0 = Param(0), p1 = Param(1), reset = Param(2), program = Param(3);
    uint32_t left = 0;
    uint32_t lastUnit = 0;
    for (uint64_t a = start & ~uint64_t{bytes - 1}; a < end; a += bytes) {
        const uint32_t unit = static_cast<uint32_t>(a);
        lastUnit = unit;
        uint32_t value = 0;
        for (uint32_t b = 0; b < bytes; ++b) {
            uint8_t byte = 0xFF;  // bytes outside the chunk program nothing
            if (a + b >= start && a + b < end)
                memory_.Peek(buffer + static_cast<uint32_t>(a + b - start), &byte, 1);
            value |= uint32_t{byte} << (8 * b);
        }
        bool ok = a + bytes - 1 <= UINT32_MAX && flash_.Contains(unit) &&
                  flash_.Contains(unit + bytes - 1);
        if (ok) {
            if (amd) {
                Write(base | u1, p0, width, t);
                Write(base | u2, p1, width, t);
                Write(base | u1, program, width, t);
            } else {
                Write(unit, program, width, t);
            }
            Write(unit, value, width, t);
            ok = FlashWait(unit, value, amd, kProgramPollNs, t);
            if (ok && !amd) Write(unit, reset, width, t);  // status mode -> array for the check
            ok = ok && Read(unit, width, t) == (value & Mask(width));
        }
        if (!ok) {
            left = static_cast<uint32_t>(end - std::max(a, start));
            if (!amd) Write(unit, Param(8), width, t);  // clear status
            break;
        }
    }
    if (left != 0 || !amd) Write(left != 0 ? lastUnit : base, reset, width, t);
    SetSlot(kCount, left);
}

void TrapCpu::FlashErase(const TrapPart& part, uint64_t& t) {
    const unsigned width = part.busWidth;
    const bool amd = part.arg == 0;
    const uint32_t address = Slot(kFlashAddress);
    const uint32_t base = address & ~0xFFFFu;
    const uint32_t reset = Param(2), setup = Param(4), confirm = Param(5);
    bool ok = true;
    if (amd) {
        uint32_t u1, u2;
        UnlockAddresses(width, u1, u2);
        const uint32_t p0 = Param(0), p1 = Param(1);
        Write(base | u1, p0, width, t);
        Write(base | u2, p1, width, t);
        Write(base | u1, setup, width, t);
        Write(base | u1, p0, width, t);
        Write(base | u2, p1, width, t);
        Write(base | u1, confirm, width, t);
        ok = FlashWait(address, 0xFFFFFFFF, true, kErasePollNs, t);
        Write(address, reset, width, t);
    } else {
        // Block by block, from the chip layout the host handed over.
        const uint32_t size = Slot(kDeviceSize);
        const bool top = Slot(kTopBoot) != 0;
        const uint32_t unitBytes = Slot(kWordMode) == 1 ? 2 : 1;
        constexpr uint32_t kBlock = 64 * 1024, kKiB = 1024;
        const uint32_t bootPieces[4] = {16 * kKiB, 8 * kKiB, 8 * kKiB, 32 * kKiB};
        std::vector<uint32_t> blocks;
        if (size == 0 || size % kBlock != 0 || size > (64u << 20)) ok = false;
        for (uint32_t o = 0; ok && o < size; o += kBlock) {
            const bool boot = top ? o + kBlock == size : o == 0;
            if (!boot) {
                blocks.push_back(o);
                continue;
            }
            uint32_t at = o;
            for (int i = 0; i < 4; ++i) {
                blocks.push_back(at);
                at += bootPieces[top ? 3 - i : i];
            }
        }
        for (uint32_t o : blocks) {
            const uint64_t a = uint64_t{address} + uint64_t{o / unitBytes} * (width / 8);
            if (a > UINT32_MAX) {
                ok = false;
                break;
            }
            const uint32_t block = static_cast<uint32_t>(a);
            Write(block, setup, width, t);
            Write(block, confirm, width, t);
            ok = FlashWait(block, 0xFFFFFFFF, false, kErasePollNs, t);
            if (!ok) Write(block, Param(8), width, t);
            Write(block, reset, width, t);
            if (!ok) break;
        }
    }
    SetSlot(kFlashStatus, ok ? kFlashStatusOk : kFlashStatusFailed);
}

bool TrapCpu::EepromReachable() const {
    const uint32_t low = knobs_.idcode & 0x0FFFFFFF;
    const uint32_t expected7 = low == 0x0D402041 || low == 0x0D415041 ? 2 : 4;
    return Param(4) == knobs_.scc && Param(5) == knobs_.pio && Param(6) == 1 &&
           Param(7) == expected7;
}

bool TrapCpu::AckPoll(uint8_t dev, uint64_t& t) {
    for (uint32_t i = 0; i < kAckPolls; ++i) {
        t = AddNs(t, kI2cByteNs);
        if (eeprom_.Write(dev, nullptr, 0, nullptr, 0, t)) return true;
    }
    return false;
}

bool TrapCpu::EepromTransfer(const TrapPart& part, bool write, uint64_t& t) {
    const uint8_t dev = static_cast<uint8_t>(Param(0));
    const uint32_t address = Param(1), count = Param(2), buffer = Param(3);
    if (count > kMaxTransfer) return false;
    const size_t addrLen = part.arg == 3 ? 2 : 1;
    const uint32_t page = part.arg == 3 ? 32 : 8;  // the smallest page of the family
    auto addrBytes = [&](uint32_t a, uint8_t* out) {
        if (addrLen == 2) {
            out[0] = static_cast<uint8_t>(a >> 8);
            out[1] = static_cast<uint8_t>(a);
        } else {
            out[0] = static_cast<uint8_t>(a);
        }
    };
    uint8_t ab[2];
    std::array<uint8_t, 256> data;
    if (write) {
        for (uint32_t done = 0; done < count;) {
            const uint32_t a = address + done;
            const uint32_t piece = std::min(count - done, page - a % page);
            memory_.Peek(buffer + done, data.data(), piece);
            if (!AckPoll(dev, t)) return false;
            addrBytes(a, ab);
            if (!eeprom_.Write(dev, ab, addrLen, data.data(), piece, t)) return false;
            t = AddNs(t, (1 + addrLen + piece) * kI2cByteNs);
            done += piece;
        }
        return true;
    }
    if (!AckPoll(dev, t)) return false;
    addrBytes(address, ab);
    for (uint32_t done = 0; done < count;) {
        const uint32_t piece = std::min<uint32_t>(count - done, data.size());
        const bool first = done == 0;
        if (!eeprom_.Read(dev, first ? ab : nullptr, first ? addrLen : 0, data.data(), piece, t))
            return false;
        t = AddNs(t, (2 + (first ? addrLen : 0) + piece) * kI2cByteNs);
        memory_.Poke(buffer + done, data.data(), piece);
        done += piece;
    }
    return true;
}

}  // namespace sim
