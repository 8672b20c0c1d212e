#include "support/TrapSupport.h"

#include <cstdlib>
#include <fstream>

#include "flash/TrapImage.h"

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
    std::vector<std::string> paths;
    for (const std::string& name : files) paths.push_back(HandlerDir() + name);
    std::vector<uint8_t> image;
    std::string error;
    return BuildTrapImage(paths, image, error) ? image : std::vector<uint8_t>{};
}

bool LoadImage(CTargetLink& link, const std::vector<uint8_t>& image, const TargetProgram& what) {
    if (!link.BeginSession()) return false;
    const bool ok =
        link.LoadTrapHandler(image.data(), static_cast<uint32_t>(image.size()), 0, what);
    link.EndSession();
    return ok;
}

FlashChip StraightChip(uint32_t width, bool intel, bool wordMode) {
    FlashChip chip;
    chip.m_nBusWidth = width;
    chip.m_nIntel = intel ? 1 : 0;
    chip.m_nWordMode = wordMode ? 1 : 0;
    PrepareIdCommands(chip, kStraightWiring);
    PrepareChipCommands(chip, kStraightWiring);
    return chip;
}

}  // namespace test
