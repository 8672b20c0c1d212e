// Stand-in trap handler images: what the virtual board's CPU recognises at the entry address.
//
// Every part starts with a 16-byte header (little-endian):
//   0-5   "TWTRAP"
//   6     format version (1)
//   7     kind: 'G' general, 'F' flash device part, 'E' I2C EEPROM device part
//   8-9   length of the whole part in bytes, header included
//   10    flash: command set (0 AMD, 1 Intel); EEPROM: address cycles (2 or 3); general: 0
//   11    flash: bus width in bits (8, 16, 32); otherwise 0
//   12-15 FNV-1a of the part's other bytes (0-11 and 16 to the end)
// then a NUL-terminated description and filler up to the length. An image is a general part,
// optionally followed directly by one device part; whatever follows (the host's blank
// padding, older memory contents) is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct TrapPart {
    enum Kind : uint8_t { kGeneral = 'G', kFlash = 'F', kEeprom = 'E' };
    Kind kind = kGeneral;
    uint8_t arg = 0;       // command set (flash) or address cycles (EEPROM)
    uint8_t busWidth = 0;  // flash only
    uint32_t length = 0;
};

constexpr size_t kTrapHeaderBytes = 16;
constexpr uint32_t kGeneralPartBytes = 512;
constexpr uint32_t kDevicePartBytes = 256;
constexpr uint32_t kMaxPartBytes = 4096;

// The bytes of one part.
std::vector<uint8_t> BuildTrapPart(const TrapPart& part, const std::string& description);
// The part at the start of `bytes` (n available), if it is one and lies there whole.
std::optional<TrapPart> ParseTrapPart(const uint8_t* bytes, size_t n);

struct StandInHandler {
    const char* file;
    TrapPart part;
    const char* description;
};
// The nine stand-ins, in file-name order of the handler directory.
const std::vector<StandInHandler>& StandInHandlers();
// Writes them into dir (created if missing); false with a message on the first problem.
bool WriteStandInHandlers(const std::string& dir, std::string& error);

}  // namespace sim
