// Trap handler helpers for host tests: the profile's default trap addresses, handler images
// read from the stand-in files and combined as the pages do, and flash command words
// prepared for a bus the way the FLASH page prepares them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/FlashCommandSet.h"
#include "link/TargetLink.h"

namespace test {

constexpr uint32_t kTrapEntry = 0x80000A00;
constexpr uint32_t kTrapParams = 0x80000F00;
constexpr uint32_t kTrapData = 0x80000200;
constexpr uint32_t kTrapDataSize = 0x800;
constexpr uint32_t kFlashBase = 0x7FF00000;
constexpr uint32_t kBoardScc = 0x20009000;
constexpr uint32_t kBoardPio = 0x2000D000;

// Sets the default profile's handler entry, parameter block and data buffer.
void ApplyTrapDefaults(CTargetLink& link);

// Directory of the stand-in handler images ($TAPWRIGHT_SOURCE_DIR/TrapHandlers).
std::string HandlerDir();
// True when TrapHandler.bin is there.
bool HandlersAvailable();
// The named files concatenated and padded with blanks to a multiple of 4; empty when a
// file cannot be read.
std::vector<uint8_t> HandlerImage(const std::vector<std::string>& files);
// Downloads the image, named as `what`, in a session of its own, as the pages do.
bool LoadImage(CTargetLink& link, const std::vector<uint8_t>& image,
               const TargetProgram& what = TargetProgram::General());

// Identification words 0-4, and the whole chip set for an AMD or Intel chip, on a
// straight-wired bus of this width.
FlashCommandSet IdCommands(uint32_t width);
FlashCommandSet ChipCommands(uint32_t width, bool intel, bool wordMode);

}  // namespace test
