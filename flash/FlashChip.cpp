#include "flash/FlashChip.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "config/Settings.h"

namespace {

// A map never has more than 32 entries, whatever the bank's width says.
uint32_t LineCount(const FlashChip& chip) {
    return std::min<uint32_t>(chip.m_nBusWidth, 32);
}

// Values sent to the chip: masked for the bus (and the word mode), then routed so that each
// bus line carries the chip bit it is wired to.
uint32_t PrepareCommand(const FlashChip& chip, DataLineMap map, uint32_t value, bool wordMode) {
    value = MaskToBus(chip, value);
    if (wordMode) value = MaskWordMode(value, chip.m_nWordMode);
    return UnmapDataLines(chip, map, value);
}

bool IsUnknown(const std::string& name) {
    static const std::string kUnknown = "inconnu";
    if (name.size() != kUnknown.size()) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != kUnknown[i]) return false;
    return true;
}

}  // namespace

const uint8_t kStraightWiring[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                                     11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                     22, 23, 24, 25, 26, 27, 28, 29, 30, 31};

int HandlerBusIndex(uint32_t width) {
    return width == 8 ? 0 : width == 32 ? 2 : 1;
}

uint32_t FlashChip::Capacity() const {
    const uint64_t bytes = static_cast<uint64_t>(m_nChipSize) * m_nChipCount;
    return static_cast<uint32_t>(std::min<uint64_t>(bytes, 0xFFFFFFFFu));
}

uint32_t MaskToBus(const FlashChip& chip, uint32_t value) {
    if (chip.m_nBusWidth == 8) return value & 0xFF;
    if (chip.m_nBusWidth == 16) return value & 0xFFFF;
    return value;
}

uint32_t MaskWordMode(uint32_t value, uint32_t wordMode) {
    return wordMode == 1 ? value & 0x00FF00FF : value;
}

uint32_t MapDataLines(const FlashChip& chip, DataLineMap map, uint32_t value) {
    uint32_t out = 0;
    for (uint32_t i = 0; i < LineCount(chip); ++i) {
        const uint32_t to = static_cast<uint32_t>(static_cast<int8_t>(map[i])) & 31;
        out |= ((value >> i) & 1u) << to;
    }
    return out;
}

uint32_t UnmapDataLines(const FlashChip& chip, DataLineMap map, uint32_t value) {
    uint32_t out = 0;
    for (uint32_t i = 0; i < LineCount(chip); ++i) {
        const uint32_t from = static_cast<uint32_t>(static_cast<int8_t>(map[i])) & 31;
        out |= ((value >> from) & 1u) << i;
    }
    return out;
}

void PrepareIdCommands(FlashChip& chip, DataLineMap map) {
    FlashCommandSet& c = chip.m_commands;
    c[1] = PrepareCommand(chip, map, 0x55555555, false);
    c[0] = PrepareCommand(chip, map, 0xAAAAAAAA, false);
    c[2] = PrepareCommand(chip, map, 0x90909090, false);
    c[3] = PrepareCommand(chip, map, 0xF0F0F0F0, false);
    c[4] = PrepareCommand(chip, map, 0xFFFFFFFF, false);
}

bool DecodeIdentification(FlashChip& chip, DataLineMap map, const CSettings& settings,
                          std::string& idText) {
    chip.m_nMakerId = MapDataLines(chip, map, chip.m_nMakerId);
    chip.m_nDeviceId = MapDataLines(chip, map, chip.m_nDeviceId);
    if (chip.m_nBusWidth == 32) {
        // Two identical chips answer in both halves.
        for (uint32_t* id : {&chip.m_nMakerId, &chip.m_nDeviceId})
            if ((*id >> 16) == (*id & 0xFFFF)) *id &= 0xFFFF;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04X/%04X", chip.m_nMakerId, chip.m_nDeviceId);
    idText = text;

    chip.m_maker = "Inconnu";
    const int maker = LookupFlashMaker(settings, chip.m_nMakerId);
    if (maker >= 0) chip.m_maker = settings.m_makers[static_cast<size_t>(maker)].m_szName;

    chip.m_device = "Inconnu";
    const int device = LookupFlashDevice(settings, chip.m_nDeviceId);
    if (device >= 0) {
        const FlashDeviceEntry& row = settings.m_devices[static_cast<size_t>(device)];
        chip.m_device = row.m_szName;
        chip.m_nChipSize = row.m_nSize;
        chip.m_nIntel = row.m_nAlgorithm;
        chip.m_nTopBoot = row.m_nTopBoot;
        chip.m_nWordMode = row.m_nWordMode;
    }
    return !IsUnknown(chip.m_maker) && !IsUnknown(chip.m_device);
}

void PrepareChipCommands(FlashChip& chip, DataLineMap map) {
    FlashCommandSet& c = chip.m_commands;
    c[1] = PrepareCommand(chip, map, 0x55555555, true);
    c[0] = PrepareCommand(chip, map, 0xAAAAAAAA, true);
    c[9] = PrepareCommand(chip, map, 0x80808080, true);
    c[8] = PrepareCommand(chip, map, 0x50505050, true);
    const bool intel = chip.m_nIntel == 1;
    c[3] = PrepareCommand(chip, map, intel ? 0xFFFFFFFF : 0xF0F0F0F0, true);
    c[5] = PrepareCommand(chip, map, intel ? 0x40404040 : 0xA0A0A0A0, true);
    c[6] = PrepareCommand(chip, map, intel ? 0x20202020 : 0x80808080, true);
    c[7] = PrepareCommand(chip, map, intel ? 0xD0D0D0D0 : 0x10101010, true);
    c[10] = PrepareCommand(chip, map, intel ? 0x38383838 : 0x20202020, true);
}

std::string FlashHandlerName(const FlashChip& chip, uint32_t pageBusWidth) {
    static const char* const kWidths[] = {"08", "16", "32"};
    std::string name = chip.m_nIntel == 1 ? "Flash1Bus" : "Flash0Bus";
    return name + kWidths[HandlerBusIndex(pageBusWidth)] + ".bin";
}
