// The identification computations on their own: data-line maps in both directions, the
// 32-bit folding, the table lookups and the handler names.
#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

#include "config/Settings.h"
#include "flash/FlashChip.h"
#include "flash/TrapImage.h"
#include "support/TestProcess.h"

namespace {

struct Map {
    uint8_t lines[32];
    explicit Map(uint32_t width, int kind = 0) {  // 0 identity, 1 reversed, 2 rotate by one
        std::iota(lines, lines + 32, 0);
        for (uint32_t i = 0; i < width; ++i)
            lines[i] = static_cast<uint8_t>(kind == 1   ? width - 1 - i
                                            : kind == 2 ? (i + 1) % width
                                                        : i);
    }
};

FlashChip Chip(uint32_t width, uint32_t wordMode = 1) {
    FlashChip chip;
    chip.m_nBusWidth = width;
    chip.m_nWordMode = wordMode;
    return chip;
}

CSettings& Tables() {
    static CSettings settings(std::filesystem::temp_directory_path().string() +
                              "/tapwright-no-such-dir");
    return settings;
}

TEST(FlashChipTest, CommandWordsUseTheInverseOfTheReadMap) {
    FlashChip word = Chip(16);
    const Map reversed(16, 1);  // its own inverse
    EXPECT_EQ(MapDataLines(word, reversed.lines, 0x0400), 0x0020u);
    PrepareChipCommands(word, reversed.lines);
    EXPECT_EQ(word.m_commands[0], 0x5500u);

    FlashChip chip = Chip(8);
    const Map rotate(8, 2);  // line i carries chip bit i+1
    // Chip bit i+1 must appear on line i: 0xAA (bits 1,3,5,7) goes out as 0x55.
    EXPECT_EQ(UnmapDataLines(chip, rotate.lines, 0xAA), 0x55u);
    EXPECT_EQ(MapDataLines(chip, rotate.lines, 0x55), 0xAAu);
    for (uint32_t v : {0x01u, 0x80u, 0x90u, 0xF0u})
        EXPECT_EQ(MapDataLines(chip, rotate.lines, UnmapDataLines(chip, rotate.lines, v)), v);
}

TEST(FlashChipTest, MasksFollowBusAndWordMode) {
    const Map id(32);
    FlashChip chip = Chip(8, 0);
    chip.m_nIntel = 1;
    PrepareChipCommands(chip, id.lines);
    EXPECT_EQ(chip.m_commands[3], 0xFFu);
    EXPECT_EQ(chip.m_commands[7], 0xD0u);
    EXPECT_EQ(FlashHandlerName(chip, 8), "Flash1Bus08.bin");

    chip = Chip(32);
    PrepareChipCommands(chip, id.lines);
    EXPECT_EQ(chip.m_commands[0], 0x00AA00AAu);
    EXPECT_EQ(FlashHandlerName(chip, 32), "Flash0Bus32.bin");

    chip = Chip(24);  // no mask, 24 lines mapped; the handler is the 16-bit one
    PrepareIdCommands(chip, id.lines);
    EXPECT_EQ(chip.m_commands[2], 0x00909090u);
    EXPECT_EQ(FlashHandlerName(chip, 16), "Flash0Bus16.bin");
    EXPECT_EQ(FlashHandlerName(chip, 12), "Flash0Bus16.bin");

    chip = Chip(200);  // a width beyond the map reads no further than its 32 entries
    EXPECT_EQ(MapDataLines(chip, id.lines, 0xDEADBEEF), 0xDEADBEEFu);
}

TEST(FlashChipTest, DecodeFoldsPairsAndLooksUpRows) {
    CSettings& s = Tables();
    const Map id(32);
    FlashChip chip = Chip(32);
    chip.m_nMakerId = 0x00200020;
    chip.m_nDeviceId = 0x00D700D7;
    std::string text;
    EXPECT_TRUE(DecodeIdentification(chip, id.lines, s, text));
    EXPECT_EQ(text, "0020/00D7");
    EXPECT_EQ(chip.m_maker, "STM");
    EXPECT_EQ(chip.m_device, "29W800T");
    EXPECT_EQ(chip.m_nChipSize, 0x100000u);

    chip.m_nMakerId = 0x00200021;
    chip.m_nDeviceId = 0x00D700D7;
    EXPECT_FALSE(DecodeIdentification(chip, id.lines, s, text));
    EXPECT_EQ(text, "200021/00D7");
    EXPECT_EQ(chip.m_maker, "Inconnu");
}

TEST(FlashChipTest, UnknownOrInconnuDeviceKeepsEarlierGeometry) {
    CSettings& s = Tables();
    const std::vector<FlashDeviceEntry> saved = s.m_devices;
    FlashDeviceEntry row{0x22A8, "inconnu", 0, 0x400000, 1, 0};
    FlashDeviceEntry twin{0x22A8, "Twin", 0, 0x200000, 0, 0};
    s.m_devices.push_back(row);
    s.m_devices.push_back(twin);
    const Map id(16);
    FlashChip chip = Chip(16);
    chip.m_nChipSize = 0x100000;
    chip.m_nMakerId = 0x20;
    chip.m_nDeviceId = 0x1234;
    std::string text;
    EXPECT_FALSE(DecodeIdentification(chip, id.lines, s, text));
    EXPECT_EQ(chip.m_device, "Inconnu");
    EXPECT_EQ(chip.m_nChipSize, 0x100000u);

    chip.m_nDeviceId = 0x22A8;  // the first row wins, and its name counts as unknown
    EXPECT_FALSE(DecodeIdentification(chip, id.lines, s, text));
    EXPECT_EQ(chip.m_device, "inconnu");
    s.m_devices = saved;
}

// A handler part that cannot be read whole never goes to the board with the others.
TEST(TrapImageTest, UnreadableOrEmptyPartsRefuseTheImage) {
    const std::filesystem::path dir = test::ScratchDir();
    std::FILE* f = std::fopen((dir / "part.bin").string().c_str(), "wb");
    std::fputs("abcde", f);
    std::fclose(f);
    std::fclose(std::fopen((dir / "empty.bin").string().c_str(), "wb"));
    const std::string part = (dir / "part.bin").string();
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(BuildTrapImage({part}, image, error)) << error;
    EXPECT_EQ(image, (std::vector<uint8_t>{'a', 'b', 'c', 'd', 'e', ' ', ' ', ' '}));
    EXPECT_FALSE(BuildTrapImage({part, dir.string()}, image, error));  // a folder reads nothing
    EXPECT_EQ(error, "Cannot read the trap handler " + dir.string());
    EXPECT_FALSE(BuildTrapImage({(dir / "empty.bin").string()}, image, error));
    EXPECT_EQ(error, "Empty trap handler " + (dir / "empty.bin").string());
}

}  // namespace
