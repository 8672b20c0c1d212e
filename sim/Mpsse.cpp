#include "sim/Mpsse.h"

#include <algorithm>

#include "sim/Board.h"

namespace sim {

namespace {

// Low-byte pins with a fixed role.
constexpr unsigned kTck = 0;
constexpr unsigned kDo = 1;  // TDI
constexpr unsigned kDi = 2;  // TDO
constexpr unsigned kCs = 3;  // TMS
constexpr unsigned kGpioL1 = 5;
constexpr unsigned kGpioL3 = 7;

// Data command bits (opcodes 0x00-0x7F).
constexpr uint8_t kOutFalling = 0x01;
constexpr uint8_t kBitMode = 0x02;
constexpr uint8_t kInFalling = 0x04;
constexpr uint8_t kLsbFirst = 0x08;
constexpr uint8_t kWriteTdi = 0x10;
constexpr uint8_t kReadTdo = 0x20;
constexpr uint8_t kWriteTms = 0x40;

constexpr uint8_t kBadCommand = 0xFA;

bool IsData(uint8_t op) {
    return (op & 0x80) == 0;
}
// A data command done in one go: bits, or TMS (always bits, with its data byte).
bool IsShort(uint8_t op) {
    return IsData(op) && (op & (kBitMode | kWriteTms)) != 0;
}

// Bytes after the opcode that must be there before the command starts.
size_t ArgBytes(uint8_t op, const MpsseFeatures& f) {
    if (IsData(op)) {
        if (op & kWriteTms) return 2;                        // length, TMS bits | TDI << 7
        if (op & kBitMode) return (op & kWriteTdi) ? 2 : 1;  // length[, data]
        return 2;                                            // length low, high; data streams
    }
    switch (op) {
        case 0x80:  // set low byte: value, direction
        case 0x82:  // set high byte
        case 0x86:  // divisor low, high
        case 0x8F:  // clock bytes: length low, high
        case 0x9C:  // clock bytes until GPIOL1 high / low
        case 0x9D:
            return 2;
        case 0x8E:  // clock bits: length
            return 1;
        case 0x9E:  // drive zero only: low mask, high mask
            return f.openDrain ? 2 : 0;
        default:
            return 0;
    }
}

bool Known(uint8_t op, const MpsseFeatures& f) {
    if (IsData(op)) return true;  // the engine reports only bad opcodes with bit 7 set
    if (op >= 0x80 && op <= 0x8F) return true;
    switch (op) {
        case 0x94:
        case 0x95:
        case 0x96:
        case 0x97:
        case 0x9C:
        case 0x9D:
            return true;
        case 0x9E:
            return f.openDrain;
        default:
            return false;
    }
}

bool Clocks(uint8_t op) {
    return IsData(op) || op == 0x8E || op == 0x8F || (op >= 0x94 && op <= 0x95) || op == 0x9C ||
           op == 0x9D;
}

}  // namespace

uint8_t MpsseEngine::Fifo::pop() {
    const uint8_t b = buf_[head_];
    head_ = (head_ + 1) % buf_.size();
    --size_;
    return b;
}

void MpsseEngine::Fifo::push(uint8_t b) {
    buf_[(head_ + size_) % buf_.size()] = b;
    ++size_;
}

MpsseEngine::MpsseEngine(const MpsseFeatures& features, const MpsseWiring& wiring)
    : features_(features), wiring_(wiring), out_(features.bufferBytes), in_(features.bufferBytes) {
    Reset();
}

void MpsseEngine::Reset() {
    out_.clear();
    in_.clear();
    value_ = dir_ = zeroOnly_ = 0;
    divisor_ = 0;
    div5_ = true;
    threePhase_ = adaptive_ = loopback_ = false;
    flush_ = held_ = false;
    bytesLeft_ = 0;
    untilLevel_ = -1;
    ClockChanged();
    DriveBoard();
}

size_t MpsseEngine::Write(const uint8_t* data, size_t n) {
    size_t taken = 0;
    while (!cut_) {
        while (taken < n && out_.room() != 0) out_.push(data[taken++]);
        Run();
        if (taken == n || out_.room() == 0) break;
    }
    return taken;
}

size_t MpsseEngine::Read(uint8_t* out, size_t n) {
    size_t got = 0;
    while (got < n && in_.size() != 0) out[got++] = in_.pop();
    if (got != 0) Run();
    return got;
}

void MpsseEngine::PurgeOut() {
    out_.clear();
    bytesLeft_ = 0;  // a shift whose data was purged ends here
    held_ = false;
}

void MpsseEngine::PurgeIn() {
    in_.clear();
    flush_ = false;
    Run();
}

void MpsseEngine::Cut() {
    if (cut_) return;
    if (wiring_.board != nullptr) wiring_.board->WriteData(Board::kPinsPulled);
    cut_ = true;
}

void MpsseEngine::Run() {
    held_ = false;
    while (!cut_) {
        if (bytesLeft_ != 0) {
            if (!StepBytes()) return;
        } else if (out_.size() == 0 || !Start(out_.peek(0))) {
            return;
        }
    }
}

bool MpsseEngine::Start(uint8_t op) {
    const size_t args = ArgBytes(op, features_);
    if (out_.size() < 1 + args) return false;  // the rest is still on its way
    const bool known = Known(op, features_);
    if (known && Clocks(op) && adaptive_ && !wiring_.rtck) {
        held_ = true;  // every edge waits for an RTCK that never comes
        return false;
    }
    size_t room = 0;
    if (!known)
        room = 2;
    else if (op == 0x81 || op == 0x83 || (IsShort(op) && (op & kReadTdo)))
        room = 1;
    if (in_.room() < room) return false;
    if (op == 0x88 || op == 0x89 || op == 0x94 || op == 0x95) {
        if (Level(kGpioL1) != (op == 0x88 || op == 0x94)) {
            held_ = true;  // nothing on the board moves GPIOL1
            return false;
        }
    }
    out_.pop();
    uint8_t a[2] = {0, 0};
    for (size_t i = 0; i < args; ++i) a[i] = out_.pop();
    const uint16_t word = static_cast<uint16_t>(a[0] | a[1] << 8);
    if (!known) {
        in_.push(kBadCommand);
        in_.push(op);
        return true;
    }
    if (IsShort(op)) {
        const uint8_t got = Shift(op, (a[0] & 7u) + 1, a[1]);
        if ((op & kReadTdo) && !cut_) in_.push(got);
        return true;
    }
    if (IsData(op) || op == 0x8F || op == 0x9C || op == 0x9D) {
        op_ = op;
        bytesLeft_ = static_cast<uint32_t>(word) + 1;
        untilLevel_ = op == 0x9C ? 1 : op == 0x9D ? 0 : -1;
        return true;
    }
    switch (op) {
        case 0x80:
            value_ = static_cast<uint16_t>((value_ & 0xFF00) | a[0]);
            dir_ = static_cast<uint16_t>((dir_ & 0xFF00) | a[1]);
            DriveBoard();
            break;
        case 0x82:
            if (!features_.highByte) break;  // no xCBUS pins on this chip
            value_ = static_cast<uint16_t>((value_ & 0x00FF) | a[0] << 8);
            dir_ = static_cast<uint16_t>((dir_ & 0x00FF) | a[1] << 8);
            DriveBoard();
            break;
        case 0x81:
            in_.push(ReadPins(false));
            break;
        case 0x83:
            in_.push(features_.highByte ? ReadPins(true) : 0xFF);
            break;
        case 0x84:
        case 0x85:
            loopback_ = op == 0x84;
            break;
        case 0x86:
            divisor_ = word;
            ClockChanged();
            break;
        case 0x87:
            flush_ = true;
            break;
        case 0x8A:
        case 0x8B:
            div5_ = op == 0x8B;
            ClockChanged();
            break;
        case 0x8C:
        case 0x8D:
            threePhase_ = op == 0x8C;
            ClockChanged();
            break;
        case 0x8E:
            Shift(0, (a[0] & 7u) + 1, 0);
            break;
        case 0x96:
        case 0x97:
            adaptive_ = op == 0x96;
            break;
        case 0x9E:
            zeroOnly_ = word;
            DriveBoard();
            break;
        default:  // waits whose condition already holds
            break;
    }
    return true;
}

bool MpsseEngine::StepBytes() {
    const bool write = IsData(op_) && (op_ & kWriteTdi);
    const bool read = IsData(op_) && (op_ & kReadTdo);
    const uint8_t mode = IsData(op_) ? op_ : 0;
    while (bytesLeft_ != 0) {
        if (untilLevel_ >= 0 && Level(kGpioL1) == (untilLevel_ == 1)) {
            bytesLeft_ = 0;
            break;
        }
        if ((write && out_.size() == 0) || (read && in_.room() == 0)) return false;
        const uint8_t got = Shift(mode, 8, write ? out_.pop() : 0);
        if (cut_) return false;
        if (read) in_.push(got);
        --bytesLeft_;
    }
    return true;
}

uint8_t MpsseEngine::Shift(uint8_t mode, unsigned bits, uint8_t out) {
    const bool lsb = (mode & kLsbFirst) != 0;
    const bool tms = (mode & kWriteTms) != 0;
    const bool write = tms || (mode & kWriteTdi) != 0;
    const unsigned pin = tms ? kCs : kDo;
    const bool idleHigh = (value_ & 1) != 0;
    // A cycle's leading edge leaves the idle level, its trailing edge returns to it.
    const bool outOnLeading = ((mode & kOutFalling) != 0) == idleHigh;
    const bool inOnLeading = ((mode & kInFalling) != 0) == idleHigh;
    auto bitAt = [&](unsigned i) { return ((lsb ? out >> i : out >> (7 - i)) & 1) != 0; };
    if (tms) SetPin(kDo, (out & 0x80) != 0);  // TDI held for the whole TMS command
    if (write) SetPin(pin, bitAt(0));
    uint8_t in = 0;
    for (unsigned i = 0; i < bits; ++i) {
        if (clockLimit_ != 0 && clocks_ >= clockLimit_) {
            Cut();
            return in;
        }
        ++clocks_;
        ticks_ += TicksPerBit();
        bool sample = true;
        for (int leading = 1; leading >= 0; --leading) {
            if ((leading != 0) == inOnLeading) sample = Tdo();
            Edge(leading != 0 ? !idleHigh : idleHigh);
            if (write && (leading != 0) == outOnLeading && i + 1 < bits) SetPin(pin, bitAt(i + 1));
        }
        // The chip puts bit 7 (the TDI level) on TMS too at the end of a 7-bit TMS command.
        if (tms && bits == 7 && i == 6) SetPin(kCs, (out & 0x80) != 0);
        in = lsb ? static_cast<uint8_t>((in >> 1) | (sample ? 0x80 : 0))
                 : static_cast<uint8_t>((in << 1) | (sample ? 1 : 0));
    }
    return in;
}

void MpsseEngine::Edge(bool tckHigh) {
    SetPin(kTck, tckHigh);
}

void MpsseEngine::SetPin(unsigned pin, bool level) {
    const uint16_t bit = static_cast<uint16_t>(1u << pin);
    const uint16_t v = level ? (value_ | bit) : (value_ & ~bit);
    if (v == value_) return;
    value_ = v;
    DriveBoard();
}

bool MpsseEngine::Driven(unsigned pin) const {
    return ((dir_ & ~(zeroOnly_ & value_)) >> pin & 1) != 0;
}

bool MpsseEngine::Level(unsigned pin) const {
    if (Driven(pin)) return (value_ >> pin & 1) != 0;
    if (wiring_.board == nullptr || cut_) return true;
    if (pin == kDi) return (wiring_.board->ReadStatus() & Board::kStatusTdo) != 0;
    if (pin == kTck) return false;  // the board pulls TCK low
    if (pin == kGpioL3 && wiring_.rtck) return Level(kTck);
    return true;  // the board's pull-ups, or the chip's own on pins not wired
}

bool MpsseEngine::Tdo() const {
    return Level(loopback_ ? kDo : kDi);
}

uint8_t MpsseEngine::ReadPins(bool high) const {
    uint8_t v = 0;
    for (unsigned i = 0; i < 8; ++i)
        if (Level(i + (high ? 8 : 0))) v = static_cast<uint8_t>(v | 1u << i);
    return v;
}

void MpsseEngine::DriveBoard() {
    if (wiring_.board == nullptr || cut_) return;
    uint8_t pins = 0;
    auto put = [&](int pin, uint8_t bit) {
        const bool level = pin >= 0 && Driven(static_cast<unsigned>(pin))
                               ? (value_ >> pin & 1) != 0
                               : (Board::kPinsPulled & bit) != 0;
        if (level) pins = static_cast<uint8_t>(pins | bit);
    };
    put(kTck, Board::kPinTck);
    put(kDo, Board::kPinTdi);
    put(kCs, Board::kPinTms);
    put(wiring_.trst, Board::kPinTrst);
    put(wiring_.srst, Board::kPinReset);
    wiring_.board->WriteData(pins);
}

uint64_t MpsseEngine::TicksPerBit() const {
    // TCK = base / ((1 + divisor) * 2), base 60 MHz or 12 MHz with divide-by-5; a three-phase
    // bit lasts one and a half periods.
    const uint64_t half = (1 + static_cast<uint64_t>(divisor_)) * (div5_ ? 5 : 1);
    return half * (threePhase_ ? 3 : 2);
}

void MpsseEngine::ClockChanged() {
    // The board's devices keep time by the clock the cable gives.
    if (wiring_.board != nullptr)
        wiring_.board->mutable_options().clockNs = std::max<uint64_t>(1, TicksPerBit() * 50 / 3);
}

}  // namespace sim
