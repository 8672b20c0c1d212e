#include "sim/Board.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace sim {

namespace {

constexpr uint8_t kIrCapture = 0b00001;

// IEEE 1149.1 next state, indexed [state][tms].
constexpr Board::TapState kNext[16][2] = {
    {Board::kRunTestIdle, Board::kTestLogicReset},  // Test-Logic-Reset
    {Board::kRunTestIdle, Board::kSelectDrScan},    // Run-Test/Idle
    {Board::kCaptureDr, Board::kSelectIrScan},      // Select-DR-Scan
    {Board::kShiftDr, Board::kExit1Dr},             // Capture-DR
    {Board::kShiftDr, Board::kExit1Dr},             // Shift-DR
    {Board::kPauseDr, Board::kUpdateDr},            // Exit1-DR
    {Board::kPauseDr, Board::kExit2Dr},             // Pause-DR
    {Board::kShiftDr, Board::kUpdateDr},            // Exit2-DR
    {Board::kRunTestIdle, Board::kSelectDrScan},    // Update-DR
    {Board::kCaptureIr, Board::kTestLogicReset},    // Select-IR-Scan
    {Board::kShiftIr, Board::kExit1Ir},             // Capture-IR
    {Board::kShiftIr, Board::kExit1Ir},             // Shift-IR
    {Board::kPauseIr, Board::kUpdateIr},            // Exit1-IR
    {Board::kPauseIr, Board::kExit2Ir},             // Pause-IR
    {Board::kShiftIr, Board::kUpdateIr},            // Exit2-IR
    {Board::kRunTestIdle, Board::kSelectDrScan},    // Update-IR
};

I2cEepromOptions EepromOf(const Options& o) {
    I2cEepromOptions e = o.eeprom512 ? I2cEepromOptions::At24c512() : I2cEepromOptions::At24c02();
    e.slowFactor = o.slow;
    return e;
}

}  // namespace

Board::Board(const Options& options) : options_(options), link_(options_, memory_) {
    FlashBusOptions bank;
    std::string error;
    if (!FlashBankOf(options_, bank, error)) throw std::invalid_argument(error);
    flash_ = std::make_unique<FlashBus>(bank);
    eeprom_ = std::make_unique<I2cEeprom>(EepromOf(options_));
    cpu_ = std::make_unique<TrapCpu>(memory_, *flash_, *eeprom_, options_, now_);
    memory_.AttachFlash(flash_.get(), &now_);
    // The CPU catches up when DCU traffic reaches memory, never per clock.
    memory_.onControl = [this](uint32_t value) {
        SyncFaultKnobs();
        cpu_->Control(value);
    };
    memory_.beforeRead = [this](uint32_t addr, size_t n) { cpu_->BeforeRead(addr, n); };
    memory_.afterWrite = [this](uint32_t addr, size_t n) {
        SyncFaultKnobs();
        cpu_->AfterWrite(addr, n);
    };
    if (!options_.dir.empty()) {
        if (!memory_.Load(options_.dir, error))
            std::fprintf(stderr, "tapwright-sim: %s; starting with fresh contents\n",
                         error.c_str());
        else
            Memory::LoadFile((std::filesystem::path(options_.dir) / "eeprom.bin").string(),
                             eeprom_->mutable_data(), eeprom_->size());
    }
}

Board::~Board() {
    if (options_.dir.empty()) return;
    std::string error;
    if (!memory_.Save(options_.dir, error) ||
        !Memory::SaveFile((std::filesystem::path(options_.dir) / "eeprom.bin").string(),
                          eeprom_->data(), eeprom_->size(), error))
        std::fprintf(stderr, "tapwright-sim: board contents not saved: %s\n", error.c_str());
}

void Board::SyncFaultKnobs() {
    std::optional<uint32_t> stuck;
    if (options_.flashStuck && flash_->Contains(*options_.flashStuck))
        stuck = (*options_.flashStuck - flash_->base()) / (flash_->width() / 8);
    const uint32_t slow = options_.slow == 0 ? 1 : options_.slow;
    for (unsigned k = 0; k < flash_->chip_count(); ++k) {
        flash_->chip(k).set_erase_fails(options_.eraseFails);
        flash_->chip(k).set_slow_factor(slow);
        flash_->chip(k).set_stuck_unit(stuck);
    }
    eeprom_->set_slow_factor(slow);
}

void Board::ReadEeprom(uint32_t addr, uint8_t* out, size_t n) const {
    for (size_t i = 0; i < n && addr + i < eeprom_->size(); ++i) out[i] = eeprom_->data()[addr + i];
}

void Board::WriteEeprom(uint32_t addr, const uint8_t* in, size_t n) {
    for (size_t i = 0; i < n && addr + i < eeprom_->size(); ++i)
        eeprom_->mutable_data()[addr + i] = in[i];
}

uint32_t Board::ReadWord(uint32_t addr) const {
    uint8_t b[4];
    memory_.Peek(addr, b, 4);
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void Board::WriteWord(uint32_t addr, uint32_t value) {
    const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    memory_.Poke(addr, b, 4);
}

void Board::PinsChanged(uint8_t value, uint8_t changed) {
    if ((changed & kPinReset) && !(value & kPinReset)) link_.Reset();  // system reset asserted
    if (!(value & kPinTrst)) {
        if (tap_ != kTestLogicReset) EnterTestLogicReset();
        if ((changed & kPinTck) && (value & kPinTck)) {
            ++clocks_;
            now_ = AddNs(now_, options_.clockNs);
        }
        tdo_ = true;
        return;
    }
    if (changed & kPinTck) {
        if (value & kPinTck)
            Rising(value);
        else
            Falling();
    }
}

void Board::EnterTestLogicReset() {
    if (tap_ == kShiftDr && ir_ == kIrDcuLink) link_.FramingReset();
    tap_ = kTestLogicReset;
    ir_ = kIrIdcode;
}

void Board::Rising(uint8_t pins) {
    ++clocks_;
    now_ = AddNs(now_, options_.clockNs);
    const bool tdi = (pins & kPinTdi) != 0;
    const TapState next = kNext[tap_][pins & kPinTms];
    switch (tap_) {
        case kShiftDr:
            if (ir_ == kIrDcuLink) {
                link_.Rising(tdi);
                if (next != kShiftDr) link_.FramingReset();
            } else {
                dr_ = (dr_ >> 1) | (tdi ? 1u << (drLen_ - 1) : 0u);
            }
            break;
        case kShiftIr:
            irShift_ = static_cast<uint8_t>((irShift_ >> 1) | (tdi ? 0x10 : 0));
            break;
        case kCaptureDr:
            if (ir_ == kIrIdcode) {
                dr_ = options_.idcode;
                drLen_ = 32;
            } else if (ir_ != kIrDcuLink) {
                dr_ = 0;  // BYPASS
                drLen_ = 1;
            }
            break;
        case kCaptureIr:
            irShift_ = kIrCapture;
            break;
        case kUpdateIr:
            break;
        default:
            break;
    }
    if (next == kUpdateIr) ir_ = irShift_;
    if (next == kTestLogicReset) ir_ = kIrIdcode;
    tap_ = next;
}

void Board::Falling() {
    switch (tap_) {
        case kShiftDr:
            tdo_ = ir_ == kIrDcuLink ? link_.Falling() : (dr_ & 1) != 0;
            break;
        case kShiftIr:
            tdo_ = (irShift_ & 1) != 0;
            break;
        default:
            tdo_ = true;
            break;  // TDO not driven: the pull-up wins
    }
}

}  // namespace sim
