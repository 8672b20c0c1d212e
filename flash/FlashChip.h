// What is known about the flash chips of a bank, and the computations behind their
// identification: preparing values for the bank's data bus and wiring, rebuilding the
// identification words, looking them up, choosing the command set and the handler file.
// The FLASH page wraps these with its selected bank; tests and benchmarks use them as they are.
#pragma once

#include <cstdint>
#include <string>

#include "link/FlashCommandSet.h"

class CSettings;

struct FlashChip {
    uint32_t m_nMakerId = 0;
    uint32_t m_nDeviceId = 0;
    uint32_t m_nChipCount = 1;  // 2 on a 32-bit bus, once the parameters are transferred
    uint32_t m_nChipSize = 0;   // 0 until a device row has been found
    uint32_t m_nIntel = 0;
    uint32_t m_nTopBoot = 0;
    uint32_t m_nWordMode = 0;
    std::string m_maker;
    std::string m_device;
    FlashCommandSet m_commands;
    uint32_t m_nBase = 0;
    uint32_t m_nBusWidth = 16;

    // Bytes of the bank (chip size x chip count), saturated at 32 bits; 0 while unknown.
    uint32_t Capacity() const;
};

// Entry i of a data-line map: the chip data bit that bus line i carries. 32 entries.
using DataLineMap = const uint8_t*;
// Bus line i carries chip bit i.
extern const uint8_t kStraightWiring[32];

// The bus widths the flash handlers drive, in the order the FLASH page lists them.
constexpr uint32_t kHandlerBusWidths[] = {8, 16, 32};
// The index in kHandlerBusWidths of the handler that serves a bus this wide: 8 and 32 have
// their own, every other width the 16-bit one.
int HandlerBusIndex(uint32_t width);

uint32_t MaskToBus(const FlashChip& chip, uint32_t value);
uint32_t MaskWordMode(uint32_t value, uint32_t wordMode);
// Rebuilds a chip value from what the bus lines returned: bus bit i goes to bit map[i].
uint32_t MapDataLines(const FlashChip& chip, DataLineMap map, uint32_t value);
// The inverse, for values sent to the chip: bus line i carries chip bit map[i].
uint32_t UnmapDataLines(const FlashChip& chip, DataLineMap map, uint32_t value);

// Words 0-4 for the identification sequence.
void PrepareIdCommands(FlashChip& chip, DataLineMap map);
// Rebuilds the two words in the chip record, looks them up and fills names, size and flags.
// idText receives "%04X/%04X". True when both the maker and the device are known.
bool DecodeIdentification(FlashChip& chip, DataLineMap map, const CSettings& settings,
                          std::string& idText);
// The command set of the identified chip; words 2 and 4 keep their identification values.
void PrepareChipCommands(FlashChip& chip, DataLineMap map);
// "Flash0Bus08.bin" ... "Flash1Bus32.bin".
std::string FlashHandlerName(const FlashChip& chip, uint32_t pageBusWidth);
