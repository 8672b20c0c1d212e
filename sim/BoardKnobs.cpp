#include "sim/BoardKnobs.h"

#include <cerrno>
#include <cstdlib>

#include "sim/Knobs.h"
#include "sim/Memory.h"

namespace sim {

namespace {

bool ParseInt(const std::string& text, long min, long max, int& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    out = static_cast<int>(v);
    return true;
}

// The value readers of the table: each stores into its field or says what it expected.
template <class T>
bool Whole(const std::string& value, uint64_t min, uint64_t max, T& field, std::string& expected,
           const char* what) {
    uint64_t n = 0;
    if (!KnobNumber(value, max, n) || n < min) {
        expected = what;
        return false;
    }
    field = static_cast<T>(n);
    return true;
}

template <class T>
bool Hex32(const std::string& value, T& field, std::string& expected, const char* what) {
    uint64_t n = 0;
    if (!KnobHex(value, 8, n)) {
        expected = what;
        return false;
    }
    field = static_cast<uint32_t>(n);
    return true;
}

template <auto Field>
bool Set(Options& o, const std::string&, std::string&) {
    o.*Field = true;
    return true;
}

using Value = const std::string&;
using Expected = std::string&;

const Knob<Options> kBoardKnobs[] = {
    {"idcode", "HEX", "IDCODE of the CPU (default 0x0D4C9041; revision in the top 4 bits)",
     [](Options& o, Value v, Expected e) {
         return Hex32(v, o.idcode, e, "a 32-bit hexadecimal value");
     }},
    {"clock-ns", "N", "simulated time per JTAG clock in ns (default 4000)",
     [](Options& o, Value v, Expected e) {
         return Whole(v, 1, 1000000000, o.clockNs, e,
                      "a whole number of nanoseconds from 1 to 1000000000");
     }},
    {.help = "Trap handler (stand-in images, see TrapHandlers/README.md):"},
    {"ready-polls", "N",
     "Command reads that still see the old value before the handler's 1 (default 2; after the "
     "start and after each command)",
     [](Options& o, Value v, Expected e) {
         return Whole(v, 0, 1000000, o.readyPolls, e, "a whole number from 0 to 1000000");
     }},
    {"handler-dead", nullptr, "the handler starts (status 0x60000) but never answers",
     Set<&Options::handlerDead>},
    {"keep-running", nullptr, "0xFFFFFFFF/0 control writes leave a running handler running",
     Set<&Options::keepRunning>},
    {"procid", "HEX", "what ProcID reports (default: the idcode)",
     [](Options& o, Value v, Expected e) {
         return Hex32(v, o.procid, e, "a 32-bit hexadecimal value");
     }},
    {.help = "Devices:"},
    {"flash-width", "8|16|32",
     "flash bus width (default 16; 32 = two chips). The bank ends at 0x7FFFFFFF: 0x7FF00000 "
     "for 1 MiB, 0x7FE00000 for the 2 MiB of two chips",
     [](Options& o, Value v, Expected e) {
         return KnobChoice(v, {"8", "16", "32"}, {8u, 16u, 32u}, o.flashWidth, e);
     }},
    {"flash-cmdset", "amd|intel", "command set of the chips (default amd)",
     [](Options& o, Value v, Expected e) {
         return KnobChoice(v, {"amd", "intel"}, {CommandSet::Amd, CommandSet::Intel}, o.flashCmdset,
                           e);
     }},
    {"flash-mode", "word|byte", "chip organisation x16 or x8 (default word)",
     [](Options& o, Value v, Expected e) {
         return KnobChoice(v, {"word", "byte"}, {true, false}, o.flashWordMode, e);
     }},
    {"flash-boot", "top|bottom", "boot block position (default top)",
     [](Options& o, Value v, Expected e) {
         return KnobChoice(v, {"top", "bottom"}, {true, false}, o.flashTopBoot, e);
     }},
    {"flash-wiring", "W",
     "identity, reversed, rotate (line i -> bit i+1) or L0/L1/.../Ln: bus data line i -> chip "
     "data bit Li",
     [](Options& o, Value v, Expected) {
         o.flashWiring = v;  // checked against the bus width once all knobs are in
         return true;
     }},
    {"eeprom", "24c02|24c512", "I2C EEPROM at 0xA0 (default 24c02)",
     [](Options& o, Value v, Expected e) {
         return KnobChoice(v, {"24c02", "24c512"}, {false, true}, o.eeprom512, e);
     }},
    {"slow", "N", "flash and EEPROM operations N times slower (default 1)",
     [](Options& o, Value v, Expected e) {
         return Whole(v, 1, 1000000, o.slow, e, "a whole number from 1 to 1000000");
     }},
    {"erase-fails", nullptr, "every flash erase ends in error", Set<&Options::eraseFails>},
    {"flash-stuck", "HEX", "bus address of a flash unit that cannot be programmed",
     [](Options& o, Value v, Expected e) {
         return Hex32(v, o.flashStuck, e, "a 32-bit hexadecimal address");
     }},
    {.help = "Link:"},
    {"no-target", nullptr, "no board on the cable: TDO stuck high (same as tdo=1)",
     [](Options& o, Value, Expected) {
         o.tdo = Options::Tdo::StuckHigh;
         return true;
     }},
    {"tdo", "0|1|live", "TDO stuck low, stuck high, or driven by the board (default live)",
     [](Options& o, Value v, Expected e) {
         using Tdo = Options::Tdo;
         return KnobChoice(v, {"0", "1", "live"}, {Tdo::StuckLow, Tdo::StuckHigh, Tdo::Live}, o.tdo,
                           e);
     }},
    {"unplug-after", "N", "the cable comes off after N clocks: TDO high, pins unheard",
     [](Options& o, Value v, Expected e) {
         return Whole(v, 1, UINT64_MAX, o.unplugAfter, e, "a whole number of clocks from 1");
     }},
    {"ack-delay", "N",
     "clocks from a received byte's stop bit to the acknowledge's 1 (-9..1000000, default -9: "
     "acknowledged during the data bits). A host following the link protocol accepts -9..-3 "
     "and -1..14; -2 only if it also checks right after the stop bit; 15 or more is too slow "
     "(acknowledge missed)",
     [](Options& o, Value v, Expected e) {
         if (ParseInt(v, kAckDelayMin, kAckDelayMax, o.ackDelay)) return true;
         e = "a whole number from -9 to 1000000";
         return false;
     }},
    {"no-ack", nullptr, "take bytes but never acknowledge them", Set<&Options::noAck>},
    {"bad-header", nullptr, "peek replies carry a corrupted header (low bits 3)",
     Set<&Options::badHeader>},
    {"bad-length", nullptr, "peek replies announce and send another length",
     Set<&Options::badLength>},
    {"link-reset", "keep|drop",
     "what leaving the link register (a TAP reset, a session's end) does to a half-received "
     "message: the link keeps its place in it (default), or drops it and any reply still owed",
     [](Options& o, Value v, Expected e) {
         return KnobChoice(v, {"keep", "drop"}, {false, true}, o.dropOnReset, e);
     }},
    {"busy", nullptr, "the link never goes idle (TDO stays 1 in the link register)",
     Set<&Options::busy>},
    {"noise", "P", "flip each TDO bit of the link with probability P (0..1)",
     [](Options& o, Value v, Expected e) {
         errno = 0;
         char* end = nullptr;
         const double p = std::strtod(v.c_str(), &end);
         if (v.empty() || errno != 0 || *end != '\0' || !(p >= 0.0 && p <= 1.0)) {
             e = "a probability from 0 to 1";
             return false;
         }
         o.noise = p;
         return true;
     }},
    {"seed", "S", "seed of the noise (same seed, same flips; default 1)",
     [](Options& o, Value v, Expected e) {
         return Whole(v, 0, UINT64_MAX, o.seed, e, "an unsigned number");
     }},
};

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

std::string BankError(const Options& o) {
    FlashBusOptions bank;
    std::string error;
    FlashBankOf(o, bank, error);
    return error;
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
    size_t knobs = std::string::npos;  // where the first knob begins
    if (!text.empty() && text[0] == ':') {
        const size_t comma = text.find(',');
        o.dir = text.substr(1, comma == std::string::npos ? std::string::npos : comma - 1);
        if (o.dir.empty()) {
            error = "empty board directory after ':'";
            return false;
        }
        if (comma != std::string::npos) knobs = comma + 1;
    } else if (!text.empty() && text[0] != ',') {
        error = "board options must start with ':DIR' or ',knob' (got '" + text + "')";
        return false;
    } else if (!text.empty()) {
        knobs = 1;
    }
    if (!ParseKnobs(kBoardKnobs, "board", text, knobs, o, error, BankError)) return false;
    out = o;
    return true;
}

std::string OptionsHelp() {
    return HelpEntry(":DIR",
                     "keep internal RAM, SDRAM, flash and EEPROM as files in DIR (iram.bin, "
                     "sdram.bin, flash0.bin, eeprom.bin; created if missing, saved at exit)") +
           KnobsHelp(kBoardKnobs) +
           "Unmapped addresses read as 0xDEADC0DE per word; writes there are dropped.\n";
}

}  // namespace sim
