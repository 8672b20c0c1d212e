#include <gtest/gtest.h>

#include "sim/NorFlash.h"

namespace sim {
namespace {

constexpr uint32_t kDq7 = 0x80, kDq6 = 0x40, kDq5 = 0x20, kDq3 = 0x08, kDq2 = 0x04;
constexpr uint64_t kMs = kNsPerMs;

// AMD command sequences in chip addresses; every cycle at time t.
void Amd(NorFlash& c, std::initializer_list<std::pair<uint32_t, uint32_t>> cycles, uint64_t t) {
    for (auto [addr, data] : cycles) c.Write(addr, data, t);
}
void AmdProgram(NorFlash& c, uint32_t addr, uint32_t data, uint64_t t) {
    Amd(c, {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0xA0}, {addr, data}}, t);
}
void AmdErase(NorFlash& c, uint32_t addr, uint32_t cmd, uint64_t t) {
    Amd(c, {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x80}, {0x555, 0xAA}, {0x2AA, 0x55}, {addr, cmd}},
        t);
}

TEST(NorFlashAmd, IdentifyInWordAndByteMode) {
    NorFlash chip;
    chip.mutable_data()[0] = 0x34;
    chip.mutable_data()[1] = 0x12;
    // Word mode ignores the upper command byte; 0xAAA decodes as 0x2AA on 11 lines.
    Amd(chip, {{0x555, 0xFFAA}, {0xAAA, 0x1255}, {0x555, 0x0090}}, 0);
    EXPECT_EQ(chip.Read(0, 0), 0x0020u);
    EXPECT_EQ(chip.Read(0x10001, 0), 0x00D7u);  // any sector answers
    chip.Write(0, 0xFF, 0);                     // unknown to AMD: back to the array
    EXPECT_EQ(chip.Read(0, 0), 0x1234u);

    NorFlashOptions o;
    o.wordMode = false;
    NorFlash bytes(o);
    Amd(bytes, {{0x555, 0xAA}, {0xAAA, 0x55}, {0x555, 0x90}}, 0);
    EXPECT_EQ(bytes.Read(1, 0), 0xD7u);
    bytes.Write(0, 0xF0, 0);
    AmdProgram(bytes, 3, 0x1A5, 0);  // bit 8 is not on an x8 chip
    EXPECT_EQ(bytes.Read(3, kMs), 0xA5u);
}

TEST(NorFlashAmd, ProgramPollsThenClearsOnlyBits) {
    NorFlash chip;
    AmdProgram(chip, 0x100, 0x1234, 1000);
    const uint32_t s1 = chip.Read(0x100, 1000), s2 = chip.Read(0x100, 5000);
    EXPECT_EQ(s1 & (kDq7 | kDq5), kDq7);  // DQ7 = complement of bit 7 of 0x34
    EXPECT_EQ((s1 ^ s2) & kDq6, kDq6);
    chip.Write(0x555, 0xAA, 5000);  // ignored while busy
    EXPECT_EQ(chip.Read(0x100, 1000 + 10 * kNsPerUs), 0x1234u);
    EXPECT_EQ(chip.data()[0x200], 0x34);  // low byte first
    AmdProgram(chip, 0x100, 0x0230, kMs);
    EXPECT_EQ(chip.Read(0x100, 2 * kMs), 0x0230u);
}

TEST(NorFlashAmd, UnprogrammableUnitsLatchDq5UntilReset) {
    NorFlashOptions o;
    o.stuckUnit = 7;
    NorFlash chip(o);
    AmdProgram(chip, 0, 0x00FF, 0);
    AmdProgram(chip, 0, 0x0F0F, kMs);  // a 1 over a 0
    EXPECT_EQ(chip.Read(0, 2 * kMs) & kDq5, kDq5);
    chip.Write(0x555, 0xAA, 2 * kMs);  // only a reset leaves the status
    EXPECT_EQ(chip.Read(0, 2 * kMs) & kDq5, kDq5);
    chip.Write(0, 0xF0, 2 * kMs);
    EXPECT_EQ(chip.Read(0, 2 * kMs), 0x000Fu);

    AmdProgram(chip, 7, 0x2222, 3 * kMs);
    EXPECT_EQ(chip.Read(7, 4 * kMs) & kDq5, kDq5);
    chip.Write(0, 0xF0, 4 * kMs);
    EXPECT_EQ(chip.Read(7, 4 * kMs), 0xFFFFu);
}

TEST(NorFlashAmd, SectorEraseStatusExtentAndSlowFactor) {
    NorFlashOptions o;
    o.slowFactor = 2;
    NorFlash chip(o);
    std::fill(chip.mutable_data(), chip.mutable_data() + chip.size(), 0);
    AmdErase(chip, 0x7C010, 0x30, 0);  // top boot: the 8 KiB sector at byte 0xF8000
    const uint32_t in1 = chip.Read(0x7C000, 1), in2 = chip.Read(0x7C000, 2);
    const uint32_t out1 = chip.Read(0, 3), out2 = chip.Read(0, 4);
    EXPECT_EQ(in1 & (kDq7 | kDq3), kDq3);
    EXPECT_EQ((in1 ^ in2) & (kDq6 | kDq2), kDq6 | kDq2);
    EXPECT_EQ((out1 ^ out2) & (kDq6 | kDq2), kDq6);  // DQ2 toggles only in the sector
    EXPECT_NE(chip.Read(0x7C000, 2 * kNsPerS - 1), 0xFFFFu);
    EXPECT_EQ(chip.Read(0x7C000, 2 * kNsPerS), 0xFFFFu);
    EXPECT_EQ(chip.data()[0xF7FFF], 0);
    EXPECT_EQ(chip.data()[0xF8000], 0xFF);
    EXPECT_EQ(chip.data()[0xFA000], 0);
}

TEST(NorFlashAmd, ChipEraseTimingAndFailureKnob) {
    NorFlash chip;
    AmdProgram(chip, 0, 0, 0);
    AmdErase(chip, 0x555, 0x10, kNsPerS);
    const uint64_t end = kNsPerS + chip.options().chipEraseNs;
    EXPECT_TRUE(chip.Busy(end - 1));
    EXPECT_EQ(chip.Read(0, end), 0xFFFFu);

    chip.set_erase_fails(true);
    AmdProgram(chip, 0, 0x1234, end);
    AmdErase(chip, 0x555, 0x10, end + kNsPerS);
    const uint64_t end2 = end + kNsPerS + chip.options().chipEraseNs;
    EXPECT_EQ(chip.Read(0, end2 - 1) & kDq5, 0u);
    EXPECT_EQ(chip.Read(0, end2) & (kDq7 | kDq5), kDq5);
    chip.Write(0, 0xF0, end2);
    EXPECT_EQ(chip.Read(0, end2), 0x1234u);  // array kept
}

TEST(NorFlashLayout, TopAndBottomBootSectors) {
    NorFlashOptions o;
    o.topBoot = false;
    o.wordMode = false;
    const NorFlash top, bottom(o);
    const auto t = top.Sectors(), b = bottom.Sectors();
    ASSERT_EQ(t.size(), 19u);
    ASSERT_EQ(b.size(), 19u);
    const uint32_t topSizes[] = {0x8000, 0x2000, 0x2000, 0x4000};
    const uint32_t bottomSizes[] = {0x4000, 0x2000, 0x2000, 0x8000};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(t[15 + i].size, topSizes[i]);
        EXPECT_EQ(b[i].size, bottomSizes[i]);
    }
    // Each list tiles the chip and SectorAt agrees at both ends of every sector.
    for (const NorFlash* chip : {&top, &bottom}) {
        uint32_t next = 0;
        for (const auto& s : chip->Sectors()) {
            EXPECT_EQ(s.offset, next);
            next = s.offset + s.size;
            EXPECT_EQ(chip->SectorAt(s.offset / chip->unit_bytes()).offset, s.offset);
            EXPECT_EQ(chip->SectorAt((next - 1) / chip->unit_bytes()).offset, s.offset);
        }
        EXPECT_EQ(next, 0x100000u);
    }
}

TEST(NorFlashIntel, IdentifyProgramEraseAndStatusRegister) {
    NorFlashOptions o;
    o.commandSet = CommandSet::Intel;
    o.deviceId = 0x88C0;
    NorFlash chip(o);
    // The host's identification: AMD reset and unlock cycles are harmless, 0x90 answers.
    Amd(chip, {{0, 0xF0}, {0, 0xFF}, {0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x90}}, 0);
    EXPECT_EQ(chip.Read(1, 0), 0x88C0u);

    Amd(chip, {{0x40, 0x40}, {0x40, 0xABCD}}, 0);
    EXPECT_EQ(chip.Read(0x40, 1), 0x00u);  // busy: SR7 clear
    EXPECT_EQ(chip.Read(0x40, 10 * kNsPerUs), 0x80u);
    chip.Write(0, 0xFF, kMs);
    EXPECT_EQ(chip.Read(0x40, kMs), 0xABCDu);
    Amd(chip, {{0x40, 0x10}, {0x40, 0xFFFF}}, kMs);  // a 1 over a 0: sticky program error
    EXPECT_EQ(chip.Read(0, 2 * kMs), 0x90u);
    chip.Write(0, 0x50, 2 * kMs);
    EXPECT_EQ(chip.Read(0, 2 * kMs), 0x80u);

    // Block erase, a missing confirm, then the failure knob.
    o.topBoot = false;
    NorFlash b(o);
    std::fill(b.mutable_data(), b.mutable_data() + b.size(), 0);
    Amd(b, {{0x2000, 0x20}, {0x2000, 0xD0}}, 0);  // the 8 KiB block at byte 0x4000
    EXPECT_EQ(b.Read(0, o.sectorEraseNs - 1), 0x00u);
    EXPECT_EQ(b.Read(0, o.sectorEraseNs), 0x80u);
    EXPECT_EQ(b.data()[0x3FFF] + b.data()[0x6000], 0);
    EXPECT_EQ(b.data()[0x4000] & b.data()[0x5FFF], 0xFF);
    const uint64_t t = 2 * kNsPerS;
    Amd(b, {{0, 0x20}, {0, 0xFF}}, t);
    EXPECT_EQ(b.Read(0, t), 0xB0u);
    b.set_erase_fails(true);
    Amd(b, {{0, 0x50}, {0, 0x20}, {0, 0xD0}}, t);
    EXPECT_EQ(b.Read(0, t + o.sectorEraseNs) & 0xB8, 0xA0u);  // inside the 0x38 error mask
    EXPECT_EQ(b.data()[0], 0);
}

}  // namespace
}  // namespace sim
