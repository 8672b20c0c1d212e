#include "support/TrapSupport.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace test {

void ApplyTrapDefaults(CTargetLink& link) {
    link.m_nTrapBase = kTrapEntry;
    link.m_nParamBlock = kTrapParams;
    link.m_nBufferAddr = kTrapData;
    link.m_nBufferSize = kTrapDataSize;
}

std::string HandlerDir() {
    const char* root = std::getenv("TAPWRIGHT_SOURCE_DIR");
    return std::string(root != nullptr ? root : "..") + "/TrapHandlers/";
}

bool HandlersAvailable() {
    std::ifstream in(HandlerDir() + "TrapHandler.bin", std::ios::binary);
    return in.good();
}

std::vector<uint8_t> HandlerImage(const std::vector<std::string>& files) {
    std::vector<uint8_t> image;
    for (const std::string& name : files) {
        std::ifstream in(HandlerDir() + name, std::ios::binary);
        if (!in) return {};
        image.insert(image.end(), std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
    }
    while (image.size() % 4 != 0) image.push_back(0x20);
    return image;
}

bool LoadImage(CTargetLink& link, const std::vector<uint8_t>& image, const TargetProgram& what) {
    if (!link.BeginSession()) return false;
    const bool ok =
        link.LoadTrapHandler(image.data(), static_cast<uint32_t>(image.size()), 0, what);
    link.EndSession();
    return ok;
}

namespace {

// A command word on a straight-wired bus of this width.
uint32_t PrepareForBus(uint32_t value, uint32_t width, bool wordMode) {
    if (width == 8) value &= 0xFF;
    if (width == 16) value &= 0xFFFF;
    if (wordMode) value &= 0x00FF00FF;
    return value;
}

}  // namespace

FlashCommandSet IdCommands(uint32_t width) {
    FlashCommandSet cmd;
    const uint32_t raw[5] = {0xAAAAAAAA, 0x55555555, 0x90909090, 0xF0F0F0F0, 0xFFFFFFFF};
    for (int i = 0; i < 5; ++i) cmd[i] = PrepareForBus(raw[i], width, false);
    return cmd;
}

FlashCommandSet ChipCommands(uint32_t width, bool intel, bool wordMode) {
    FlashCommandSet cmd = IdCommands(width);
    const uint32_t amd[11] = {0xAAAAAAAA, 0x55555555, 0,          0xF0F0F0F0, 0,         0xA0A0A0A0,
                              0x80808080, 0x10101010, 0x50505050, 0x80808080, 0x20202020};
    const uint32_t intelWords[11] = {0xAAAAAAAA, 0x55555555, 0,          0xFFFFFFFF,
                                     0,          0x40404040, 0x20202020, 0xD0D0D0D0,
                                     0x50505050, 0x80808080, 0x38383838};
    const uint32_t* words = intel ? intelWords : amd;
    for (int i : {0, 1, 3, 5, 6, 7, 8, 9, 10}) {
        cmd[i] = PrepareForBus(words[i], width, wordMode);
    }
    return cmd;
}

}  // namespace test
