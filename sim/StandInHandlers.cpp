#include "sim/StandInHandlers.h"

#include <cstring>
#include <filesystem>

#include "sim/Memory.h"

namespace sim {
namespace {

constexpr char kMagic[6] = {'T', 'W', 'T', 'R', 'A', 'P'};
constexpr uint8_t kVersion = 1;

uint32_t Fnv(const uint8_t* p, size_t n, uint32_t h) {
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
    return h;
}

uint32_t Checksum(const uint8_t* part, size_t length) {
    const uint32_t h = Fnv(part, 12, 2166136261u);
    return Fnv(part + kTrapHeaderBytes, length - kTrapHeaderBytes, h);
}

}  // namespace

std::vector<uint8_t> BuildTrapPart(const TrapPart& part, const std::string& description) {
    std::vector<uint8_t> out(part.length);
    // Filler that is neither blanks nor zeros, so a part cut short in memory is noticed.
    for (size_t i = kTrapHeaderBytes; i < out.size(); ++i)
        out[i] = static_cast<uint8_t>(0x5B + i * 0x9D);
    std::memcpy(out.data(), kMagic, sizeof kMagic);
    out[6] = kVersion;
    out[7] = part.kind;
    out[8] = static_cast<uint8_t>(part.length);
    out[9] = static_cast<uint8_t>(part.length >> 8);
    out[10] = part.arg;
    out[11] = part.busWidth;
    const size_t room = part.length - kTrapHeaderBytes - 1;
    const size_t len = description.size() < room ? description.size() : room;
    std::memcpy(out.data() + kTrapHeaderBytes, description.data(), len);
    out[kTrapHeaderBytes + len] = 0;
    const uint32_t sum = Checksum(out.data(), out.size());
    for (int i = 0; i < 4; ++i) out[12 + i] = static_cast<uint8_t>(sum >> (8 * i));
    return out;
}

std::optional<TrapPart> ParseTrapPart(const uint8_t* bytes, size_t n) {
    if (n < kTrapHeaderBytes || std::memcmp(bytes, kMagic, sizeof kMagic) != 0 ||
        bytes[6] != kVersion)
        return std::nullopt;
    TrapPart part;
    part.length = bytes[8] | uint32_t{bytes[9]} << 8;
    part.arg = bytes[10];
    part.busWidth = bytes[11];
    if (part.length < kTrapHeaderBytes + 1 || part.length > kMaxPartBytes || part.length > n)
        return std::nullopt;
    switch (bytes[7]) {
        case TrapPart::kGeneral:
            part.kind = TrapPart::kGeneral;
            break;
        case TrapPart::kFlash:
            if (part.arg > 1 || (part.busWidth != 8 && part.busWidth != 16 && part.busWidth != 32))
                return std::nullopt;
            part.kind = TrapPart::kFlash;
            break;
        case TrapPart::kEeprom:
            if (part.arg != 2 && part.arg != 3) return std::nullopt;
            part.kind = TrapPart::kEeprom;
            break;
        default:
            return std::nullopt;
    }
    const uint32_t stored = bytes[12] | uint32_t{bytes[13]} << 8 | uint32_t{bytes[14]} << 16 |
                            uint32_t{bytes[15]} << 24;
    if (stored != Checksum(bytes, part.length)) return std::nullopt;
    return part;
}

const std::vector<StandInHandler>& StandInHandlers() {
    static const std::vector<StandInHandler> list = [] {
        auto flash = [](uint8_t set, uint8_t width) {
            return TrapPart{TrapPart::kFlash, set, width, kDevicePartBytes};
        };
        const TrapPart general{TrapPart::kGeneral, 0, 0, kGeneralPartBytes};
        return std::vector<StandInHandler>{
            {"TrapHandler.bin", general, "Tapwright stand-in trap handler: general"},
            {"Flash0Bus08.bin", flash(0, 8), "Tapwright stand-in: flash, AMD, 8-bit bus"},
            {"Flash0Bus16.bin", flash(0, 16), "Tapwright stand-in: flash, AMD, 16-bit bus"},
            {"Flash0Bus32.bin", flash(0, 32), "Tapwright stand-in: flash, AMD, 32-bit bus"},
            {"Flash1Bus08.bin", flash(1, 8), "Tapwright stand-in: flash, Intel, 8-bit bus"},
            {"Flash1Bus16.bin", flash(1, 16), "Tapwright stand-in: flash, Intel, 16-bit bus"},
            {"Flash1Bus32.bin", flash(1, 32), "Tapwright stand-in: flash, Intel, 32-bit bus"},
            {"I2C_2Cycles.bin", TrapPart{TrapPart::kEeprom, 2, 0, kDevicePartBytes},
             "Tapwright stand-in: I2C EEPROM, two address cycles"},
            {"I2C_3Cycles.bin", TrapPart{TrapPart::kEeprom, 3, 0, kDevicePartBytes},
             "Tapwright stand-in: I2C EEPROM, three address cycles"},
        };
    }();
    return list;
}

bool WriteStandInHandlers(const std::string& dir, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) {
        error = "cannot create directory " + dir;
        return false;
    }
    for (const StandInHandler& h : StandInHandlers()) {
        const std::vector<uint8_t> bytes = BuildTrapPart(h.part, h.description);
        if (!Memory::SaveFile((fs::path(dir) / h.file).string(), bytes.data(), bytes.size(), error))
            return false;
    }
    return true;
}

}  // namespace sim
