#include "sim/Board.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace sim {

namespace {

constexpr uint8_t kTms = 0x01;
constexpr uint8_t kTck = 0x02;
constexpr uint8_t kTdi = 0x04;
constexpr uint8_t kTrst = 0x08;
constexpr uint8_t kReset = 0x10;
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

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > max) return false;
    out = v;
    return true;
}

bool ParseHex32(const std::string& text, uint32_t& out) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t v = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    out = v;
    return true;
}

bool ParseInt(const std::string& text, long min, long max, int& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    out = static_cast<int>(v);
    return true;
}

bool ParseKnob(const std::string& name, const std::string& value, bool hasValue, Options& o,
               std::string& error) {
    auto flag = [&](bool& field) {
        if (hasValue) {
            error = "board knob '" + name + "' takes no value";
            return false;
        }
        field = true;
        return true;
    };
    auto bad = [&](const char* what) {
        error = "board knob '" + name + "': '" + value + "' is not " + what;
        return false;
    };
    if (name == "no-target") {
        if (hasValue) {
            error = "board knob 'no-target' takes no value";
            return false;
        }
        o.tdo = Options::Tdo::StuckHigh;
        return true;
    }
    if (name == "no-ack") return flag(o.noAck);
    if (name == "bad-header") return flag(o.badHeader);
    if (name == "bad-length") return flag(o.badLength);
    if (name == "busy") return flag(o.busy);
    if (name == "handler-dead") return flag(o.handlerDead);
    if (name == "keep-running") return flag(o.keepRunning);
    if (name == "erase-fails") return flag(o.eraseFails);
    if (!hasValue) {
        static const char* const kValued[] = {
            "tdo",        "idcode",       "ack-delay", "noise",       "seed",         "ready-polls",
            "slow",       "flash-stuck",  "procid",    "flash-width", "flash-cmdset", "flash-mode",
            "flash-boot", "flash-wiring", "eeprom",    "clock-ns",    "unplug-after"};
        error = "unknown board knob '" + name + "' (see --help for the list)";
        for (const char* known : kValued)
            if (name == known) error = "board knob '" + name + "' needs a value (" + name + "=...)";
        return false;
    }
    if (name == "ready-polls") {
        uint64_t v = 0;
        if (!ParseUnsigned(value, 1000000, v)) return bad("a whole number from 0 to 1000000");
        o.readyPolls = static_cast<uint32_t>(v);
        return true;
    }
    if (name == "slow") {
        uint64_t v = 0;
        if (!ParseUnsigned(value, 1000000, v) || v == 0)
            return bad("a whole number from 1 to 1000000");
        o.slow = static_cast<uint32_t>(v);
        return true;
    }
    if (name == "unplug-after") {
        uint64_t v = 0;
        if (!ParseUnsigned(value, UINT64_MAX, v) || v == 0)
            return bad("a whole number of clocks from 1");
        o.unplugAfter = v;
        return true;
    }
    if (name == "clock-ns") {
        uint64_t v = 0;
        if (!ParseUnsigned(value, 1000000000, v) || v == 0)
            return bad("a whole number of nanoseconds from 1 to 1000000000");
        o.clockNs = v;
        return true;
    }
    if (name == "flash-stuck") {
        uint32_t v = 0;
        if (!ParseHex32(value, v)) return bad("a 32-bit hexadecimal address");
        o.flashStuck = v;
        return true;
    }
    if (name == "procid") {
        uint32_t v = 0;
        if (!ParseHex32(value, v)) return bad("a 32-bit hexadecimal value");
        o.procid = v;
        return true;
    }
    if (name == "flash-width") {
        if (value != "8" && value != "16" && value != "32") return bad("8, 16 or 32");
        o.flashWidth = static_cast<unsigned>(std::atoi(value.c_str()));
        return true;
    }
    if (name == "flash-cmdset") {
        if (value != "amd" && value != "intel") return bad("amd or intel");
        o.flashCmdset = value == "amd" ? CommandSet::Amd : CommandSet::Intel;
        return true;
    }
    if (name == "flash-mode") {
        if (value != "word" && value != "byte") return bad("word or byte");
        o.flashWordMode = value == "word";
        return true;
    }
    if (name == "flash-boot") {
        if (value != "top" && value != "bottom") return bad("top or bottom");
        o.flashTopBoot = value == "top";
        return true;
    }
    if (name == "flash-wiring") {
        o.flashWiring = value;  // checked against the bus width once all knobs are in
        return true;
    }
    if (name == "eeprom") {
        if (value != "24c02" && value != "24c512") return bad("24c02 or 24c512");
        o.eeprom512 = value == "24c512";
        return true;
    }
    if (name == "tdo") {
        if (value == "0")
            o.tdo = Options::Tdo::StuckLow;
        else if (value == "1")
            o.tdo = Options::Tdo::StuckHigh;
        else if (value == "live")
            o.tdo = Options::Tdo::Live;
        else
            return bad("0, 1 or live");
        return true;
    }
    if (name == "idcode") return ParseHex32(value, o.idcode) || bad("a 32-bit hexadecimal value");
    if (name == "ack-delay") {
        return ParseInt(value, kAckDelayMin, kAckDelayMax, o.ackDelay) ||
               bad("a whole number from -9 to 1000000");
    }
    if (name == "noise") {
        errno = 0;
        char* end = nullptr;
        const double p = std::strtod(value.c_str(), &end);
        if (value.empty() || errno != 0 || *end != '\0' || !(p >= 0.0 && p <= 1.0))
            return bad("a probability from 0 to 1");
        o.noise = p;
        return true;
    }
    if (name == "seed") {
        uint64_t s = 0;
        if (!ParseUnsigned(value, UINT64_MAX, s)) return bad("an unsigned number");
        o.seed = s;
        return true;
    }
    error = "unknown board knob '" + name + "' (see --help for the list)";
    return false;
}

bool ParseWiring(const std::string& text, unsigned width, DataWiring& out, std::string& error) {
    out = IdentityWiring();
    if (text == "identity") return true;
    if (text == "reversed" || text == "rotate") {
        for (unsigned i = 0; i < width; ++i)
            out[i] = static_cast<uint8_t>(text == "reversed" ? width - 1 - i : (i + 1) % width);
        return true;
    }
    unsigned i = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t slash = text.find('/', pos);
        if (slash == std::string::npos) slash = text.size();
        int bit = 0;
        if (i >= width || !ParseInt(text.substr(pos, slash - pos), 0, 31, bit)) break;
        out[i++] = static_cast<uint8_t>(bit);
        pos = slash + 1;
        if (slash == text.size()) {
            if (i == width) return true;
            break;
        }
    }
    error = "flash-wiring '" + text + "' is not identity, reversed, rotate or " +
            std::to_string(width) + " chip bit numbers L0/L1/... (one per bus data line)";
    return false;
}

I2cEepromOptions EepromOf(const Options& o) {
    I2cEepromOptions e = o.eeprom512 ? I2cEepromOptions::At24c512() : I2cEepromOptions::At24c02();
    e.slowFactor = o.slow;
    return e;
}

}  // namespace

bool FlashBankOf(const Options& o, FlashBusOptions& out, std::string& error) {
    FlashBusOptions bank;
    bank.width = o.flashWidth;
    if (!ParseWiring(o.flashWiring, o.flashWidth, bank.wiring, error)) return false;
    bank.chip.commandSet = o.flashCmdset;
    bank.chip.wordMode = o.flashWordMode;
    bank.chip.topBoot = o.flashTopBoot;
    bank.chip.slowFactor = o.slow == 0 ? 1 : o.slow;
    bank.chip.eraseFails = o.eraseFails;
    // The bank ends where internal RAM begins, as the boot flash does on these boards
    // (0x7FF00000 for the default 1 MiB window).
    const uint64_t units = bank.chip.sizeBytes / (bank.chip.wordMode ? 2 : 1);
    const uint64_t window = units * (bank.width / 8);
    bank.base = static_cast<uint32_t>(Memory::kIramBase - window);
    if (std::string e = FlashBus::Validate(bank); !e.empty()) {
        error = e;
        return false;
    }
    if (o.flashStuck) {
        if (*o.flashStuck < bank.base || *o.flashStuck - bank.base >= window) {
            error = "flash-stuck address is outside the flash window";
            return false;
        }
        bank.chip.stuckUnit = (*o.flashStuck - bank.base) / (bank.width / 8);
    }
    out = bank;
    return true;
}

bool ParseOptions(const std::string& text, Options& out, std::string& error) {
    Options o = out;
    size_t pos = 0;
    if (!text.empty() && text[0] == ':') {
        const size_t comma = text.find(',');
        o.dir = text.substr(1, comma == std::string::npos ? std::string::npos : comma - 1);
        if (o.dir.empty()) {
            error = "empty board directory after ':'";
            return false;
        }
        pos = comma == std::string::npos ? text.size() : comma;
    } else if (!text.empty() && text[0] != ',') {
        error = "board options must start with ':DIR' or ',knob' (got '" + text + "')";
        return false;
    }
    while (pos < text.size()) {
        ++pos;  // the comma
        size_t next = text.find(',', pos);
        if (next == std::string::npos) next = text.size();
        const std::string item = text.substr(pos, next - pos);
        pos = next;
        if (item.empty()) {
            error = "empty board knob in '" + text + "'";
            return false;
        }
        const size_t eq = item.find('=');
        const bool hasValue = eq != std::string::npos;
        const std::string name = item.substr(0, eq);
        const std::string value = hasValue ? item.substr(eq + 1) : std::string();
        if (!ParseKnob(name, value, hasValue, o, error)) return false;
    }
    FlashBusOptions bank;
    if (!FlashBankOf(o, bank, error)) return false;
    out = o;
    return true;
}

std::string OptionsHelp() {
    return "  :DIR           keep internal RAM, SDRAM, flash and EEPROM as files in DIR "
           "(iram.bin,\n"
           "                 sdram.bin, flash0.bin, eeprom.bin; created if missing, saved at "
           "exit)\n"
           "  idcode=HEX     IDCODE of the CPU (default 0x0D4C9041; revision in the top 4 bits)\n"
           "  clock-ns=N     simulated time per JTAG clock in ns (default 4000)\n"
           "Trap handler (stand-in images, see TrapHandlers/README.md):\n"
           "  ready-polls=N  Command reads that still see the old value before the handler's 1\n"
           "                 (default 2; after the start and after each command)\n"
           "  handler-dead   the handler starts (status 0x60000) but never answers\n"
           "  keep-running   0xFFFFFFFF/0 control writes leave a running handler running\n"
           "  procid=HEX     what ProcID reports (default: the idcode)\n"
           "Devices:\n"
           "  flash-width=8|16|32        flash bus width (default 16; 32 = two chips). The bank\n"
           "                             ends at 0x7FFFFFFF: 0x7FF00000 for 1 MiB, 0x7FE00000\n"
           "                             for the 2 MiB of two chips\n"
           "  flash-cmdset=amd|intel     command set of the chips (default amd)\n"
           "  flash-mode=word|byte       chip organisation x16 or x8 (default word)\n"
           "  flash-boot=top|bottom      boot block position (default top)\n"
           "  flash-wiring=W             identity, reversed, rotate (line i -> bit i+1) or\n"
           "                             L0/L1/.../Ln: bus data line i -> chip data bit Li\n"
           "  eeprom=24c02|24c512        I2C EEPROM at 0xA0 (default 24c02)\n"
           "  slow=N         flash and EEPROM operations N times slower (default 1)\n"
           "  erase-fails    every flash erase ends in error\n"
           "  flash-stuck=HEX  bus address of a flash unit that cannot be programmed\n"
           "Link:\n"
           "  no-target      no board on the cable: TDO stuck high (same as tdo=1)\n"
           "  tdo=0|1|live   TDO stuck low, stuck high, or driven by the board (default live)\n"
           "  unplug-after=N the cable comes off after N clocks: TDO high, pins unheard\n"
           "  ack-delay=N    clocks from a received byte's stop bit to the acknowledge's 1\n"
           "                 (-9..1000000, default -9: acknowledged during the data bits).\n"
           "                 A host following the link protocol accepts -9..-3 and -1..14;\n"
           "                 -2 only if it also checks right after the stop bit; 15 or more\n"
           "                 is too slow (acknowledge missed)\n"
           "  no-ack         take bytes but never acknowledge them\n"
           "  bad-header     peek replies carry a corrupted header (low bits 3)\n"
           "  bad-length     peek replies announce and send another length\n"
           "  busy           the link never goes idle (TDO stays 1 in the link register)\n"
           "  noise=P        flip each TDO bit of the link with probability P (0..1)\n"
           "  seed=S         seed of the noise (same seed, same flips; default 1)\n"
           "Unmapped addresses read as 0xDEADC0DE per word; writes there are dropped.\n";
}

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
    if ((changed & kReset) && !(value & kReset)) link_.Reset();  // system reset asserted
    if (!(value & kTrst)) {
        if (tap_ != kTestLogicReset) EnterTestLogicReset();
        if ((changed & kTck) && (value & kTck)) {
            ++clocks_;
            now_ = AddNs(now_, options_.clockNs);
        }
        tdo_ = true;
        return;
    }
    if (changed & kTck) {
        if (value & kTck)
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
    const bool tdi = (pins & kTdi) != 0;
    const TapState next = kNext[tap_][pins & kTms];
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
