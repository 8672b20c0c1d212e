// Trap handler helpers for host tests: the profile's default trap addresses, the stand-in
// handler files, and the flash command words of a straight-wired bus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flash/FlashChip.h"
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
// The named stand-in files as one handler image; empty when one cannot be read.
std::vector<uint8_t> HandlerImage(const std::vector<std::string>& files);
// Downloads the image, named as `what`, in a session of its own, as the pages do.
bool LoadImage(CTargetLink& link, const std::vector<uint8_t>& image,
               const TargetProgram& what = TargetProgram::General());

// An AMD or Intel chip on a straight-wired bus of this width with its whole command set
// prepared; words 0-4 are also the identification words.
FlashChip StraightChip(uint32_t width, bool intel = false, bool wordMode = false);

}  // namespace test
