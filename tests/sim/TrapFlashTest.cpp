// The flash and EEPROM device parts driven through the parameter block, as the host does.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TrapHost.h"
#include "support/BoardData.h"

using simtest::Image;
using simtest::TrapHost;
namespace st = simtest;

namespace {

using test::Pattern;

enum class Map { Correct, Forward };

// Chip command bytes in Param0..Param8 order: unlock 1, unlock 2, reset, program, erase
// setup, erase confirm, ready bit, error bits, clear status.
constexpr uint8_t kAmd[9] = {0xAA, 0x55, 0xF0, 0xA0, 0x80, 0x10, 0x80, 0x20, 0x50};
constexpr uint8_t kIntel[9] = {0xAA, 0x55, 0xFF, 0x40, 0x20, 0xD0, 0x80, 0x38, 0x50};

// Hands the handler words that reach the chips as `cmd` (Correct) or the chip word pushed
// through the wiring the wrong way (Forward).
void SetFlashWords(TrapHost& host, const uint8_t* cmd, unsigned width, Map map) {
    sim::FlashBus& bus = host.board().flash();
    for (int i = 0; i < 9; ++i) {
        const uint32_t chip = width == 32 ? cmd[i] * 0x10001u : cmd[i];
        const uint32_t word = map == Map::Correct ? bus.FromChips(chip) : bus.ToChips(chip);
        host.SetSlot(st::kParam0 + 4 * static_cast<uint32_t>(i), word);
    }
    host.SetSlot(st::kDeviceSize, 0x100000);
    host.SetSlot(st::kBusWidth, width);
    host.SetSlot(st::kTopBoot, 1);
    host.SetSlot(st::kWordMode, host.board().options().flashWordMode ? 1 : 0);
}

int Erase(TrapHost& host, uint32_t* status = nullptr) {
    host.SetSlot(st::kFlashAddress, host.board().flash().base());
    const int polls = host.Command(0x8000, 0xFFFFFF);
    if (status) *status = host.Slot(st::kFlashStatus);
    return polls;
}

// Programs data in buffer-sized chunks; returns the bytes done, like the host's count.
uint32_t Program(TrapHost& host, uint32_t addr, const std::vector<uint8_t>& data,
                 uint32_t chunk = 2048) {
    host.SetSlot(st::kFlashAddress, addr);
    uint32_t done = 0;
    while (done < data.size()) {
        const uint32_t n = std::min<uint32_t>(chunk, static_cast<uint32_t>(data.size()) - done);
        host.PokeBlock(st::kBuffer,
                       std::vector<uint8_t>(data.begin() + done, data.begin() + done + n));
        host.SetSlot(st::kAccessAddress, st::kBuffer);
        host.SetSlot(st::kOffset, done);
        host.SetSlot(st::kCount, n);
        if (host.Command(0x4000) == 0) return done;
        const uint32_t left = host.Slot(st::kCount);
        done += n - left;
        if (left != 0) break;
    }
    return done;
}

std::vector<uint8_t> FlashBytes(TrapHost& host, uint32_t addr, size_t n) {
    return test::Backdoor(host.board(), addr, n);
}

struct BankCase {
    const char* knobs;
    const char* handler;
    unsigned width;
    bool intel;
    uint32_t maker, device;  // as read over the bus at base and base + width/8
};

class FlashBank : public ::testing::TestWithParam<BankCase> {};

TEST_P(FlashBank, IdentifiesErasesAndProgramsThroughTheHandler) {
    const BankCase& c = GetParam();
    TrapHost host(c.knobs);
    ASSERT_TRUE(host.Load(Image(c.handler)));
    // The identification sequence, by width accesses of the bus width.
    const uint32_t w = c.width == 8 ? 0x40 : c.width == 16 ? 0x100 : 0x400;
    const uint32_t r = w >> 1;
    const uint32_t u1 = c.width == 8 ? 0x555 : c.width == 16 ? 0xAAA : 0x1554;
    const uint32_t u2 = c.width == 8 ? 0xAAA : c.width == 16 ? 0x1554 : 0x2AA8;
    const uint32_t lanes = c.width == 32 ? 0x10001u : 1u;
    const uint32_t base = host.board().flash().base();
    auto cmd = [&](uint32_t b) { return host.board().flash().FromChips(b * lanes); };
    ASSERT_TRUE(host.Access(w, base | u1, cmd(0xAA)));
    ASSERT_TRUE(host.Access(w, base | u2, cmd(0x55)));
    ASSERT_TRUE(host.Access(w, base | u1, cmd(0x90)));
    uint32_t maker = 0, device = 0;
    ASSERT_TRUE(host.Access(r, base, 0, &maker));
    ASSERT_TRUE(host.Access(r, base + c.width / 8, 0, &device));
    EXPECT_EQ(maker, c.maker);
    EXPECT_EQ(device, c.device);
    ASSERT_TRUE(host.Access(w, base, cmd(c.intel ? 0xFF : 0xF0)));

    SetFlashWords(host, c.intel ? kIntel : kAmd, c.width, Map::Correct);
    host.board().WriteWord(base + 0x100, 0);  // something to erase
    uint32_t status = 0;
    ASSERT_GT(Erase(host, &status), 0);
    EXPECT_EQ(status, 0x80808080u);
    EXPECT_EQ(host.board().ReadWord(base + 0x100), 0xFFFFFFFFu);

    const std::vector<uint8_t> data = Pattern(5001, 3);  // odd: the last unit is padded
    EXPECT_EQ(Program(host, base + 0x2000, data), data.size());
    EXPECT_EQ(FlashBytes(host, base + 0x2000, data.size()), data);
    EXPECT_EQ(FlashBytes(host, base + 0x2000 + 5001, 1)[0], 0xFF);
    // Programming only clears bits: asking for ones over zeros fails at once.
    EXPECT_EQ(Program(host, base + 0x2000, std::vector<uint8_t>(64, 0xFF)), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Buses, FlashBank,
    ::testing::Values(
        BankCase{"", "Flash0Bus16.bin", 16, false, 0x20, 0xD7},
        BankCase{",flash-width=8,flash-mode=byte", "Flash0Bus08.bin", 8, false, 0x20, 0xD7},
        BankCase{",flash-width=32", "Flash0Bus32.bin", 32, false, 0x00200020, 0x00D700D7},
        BankCase{",flash-cmdset=intel", "Flash1Bus16.bin", 16, true, 0x20, 0xD7},
        BankCase{",flash-cmdset=intel,flash-width=32,flash-boot=bottom", "Flash1Bus32.bin", 32,
                 true, 0x00200020, 0x00D700D7},
        BankCase{",flash-wiring=reversed", "Flash0Bus16.bin", 16, false, 0x0400, 0xEB00}));

TEST(FlashFaults, WrongAlgorithmOrBusWidthFailsOnTheChip) {
    for (const char* handler : {"Flash1Bus16.bin", "Flash0Bus08.bin", "Flash0Bus32.bin"}) {
        TrapHost host;
        ASSERT_TRUE(host.Load(Image(handler)));
        const std::string name = handler;
        const bool intel = name[5] == '1';
        SetFlashWords(host, intel ? kIntel : kAmd, 16, Map::Correct);
        host.board().WriteWord(st::kFlash, 0x12345678);
        uint32_t status = 0;
        ASSERT_GT(Erase(host, &status), 0) << handler;
        EXPECT_NE(status & 0x80808080, 0x80808080u) << handler;
        EXPECT_EQ(host.board().ReadWord(st::kFlash), 0x12345678u) << handler;
        EXPECT_LT(Program(host, st::kFlash + 0x10000, Pattern(256, 9)), 256u) << handler;
    }
}

TEST(FlashFaults, RotatedWiringNeedsWordsMappedTheRightWay) {
    for (const Map map : {Map::Correct, Map::Forward}) {
        TrapHost host(",flash-wiring=rotate");
        ASSERT_TRUE(host.Load(Image("Flash0Bus16.bin")));
        SetFlashWords(host, kAmd, 16, map);
        const std::vector<uint8_t> data = Pattern(512, 1);
        const uint32_t done = Program(host, st::kFlash, data);
        if (map == Map::Correct) {
            EXPECT_EQ(done, data.size());
            EXPECT_EQ(FlashBytes(host, st::kFlash, data.size()), data);
        } else {
            EXPECT_LT(done, data.size());
        }
    }
}

TEST(FlashFaults, StuckUnitStopsTheChunkAndCountsWhatIsLeft) {
    TrapHost host(",flash-stuck=7FF00A10");
    ASSERT_TRUE(host.Load(Image("Flash0Bus16.bin")));
    SetFlashWords(host, kAmd, 16, Map::Correct);
    host.SetSlot(st::kFlashAddress, st::kFlash);
    host.PokeBlock(st::kBuffer, Pattern(2048, 5));
    host.SetSlot(st::kAccessAddress, st::kBuffer);
    host.SetSlot(st::kOffset, 0x800);
    host.SetSlot(st::kCount, 2048);
    ASSERT_GT(host.Command(0x4000), 0);
    EXPECT_EQ(host.Slot(st::kCount), 2048u - 0x210);
    EXPECT_EQ(FlashBytes(host, st::kFlash + 0x800, 0x210), Pattern(0x210, 5));
}

TEST(FlashFaults, EraseFailureGivesAStatusWithoutBit7) {
    for (const char* knobs : {",erase-fails", ",erase-fails,flash-cmdset=intel"}) {
        TrapHost host(knobs);
        const bool intel = std::string(knobs).find("intel") != std::string::npos;
        ASSERT_TRUE(host.Load(Image(intel ? "Flash1Bus16.bin" : "Flash0Bus16.bin")));
        SetFlashWords(host, intel ? kIntel : kAmd, 16, Map::Correct);
        uint32_t status = 0;
        ASSERT_GT(Erase(host, &status), 0) << knobs;
        EXPECT_NE(status & 0x80808080, 0x80808080u) << knobs;
    }
}

TEST(FlashTime, ChipEraseTakesManyPollsAndAChunkFewerThan64) {
    TrapHost host;
    ASSERT_TRUE(host.Load(Image("Flash0Bus16.bin")));
    SetFlashWords(host, kAmd, 16, Map::Correct);
    const uint64_t before = host.board().NowNs();
    const int polls = Erase(host);
    EXPECT_GT(polls, 1000);  // six simulated seconds of status polls
    EXPECT_GE(host.board().NowNs() - before, 6 * sim::kNsPerS);
    host.SetSlot(st::kFlashAddress, st::kFlash);
    host.PokeBlock(st::kBuffer, Pattern(2048, 2));
    host.SetSlot(st::kAccessAddress, st::kBuffer);
    host.SetSlot(st::kOffset, 0);
    host.SetSlot(st::kCount, 2048);
    const int chunkPolls = host.Command(0x4000);
    EXPECT_GT(chunkPolls, 3);
    EXPECT_LT(chunkPolls, 64);
    // A slower chip needs more polls for the same chunk.
    host.board().mutable_options().slow = 20;
    host.SetSlot(st::kOffset, 2048);
    host.SetSlot(st::kCount, 2048);
    const int slowPolls = host.Command(0x4000, 100000);
    EXPECT_EQ(host.Slot(st::kCount), 0u);
    EXPECT_GT(slowPolls, 10 * chunkPolls);
}

// ---- EEPROM ----

void SetEeprom(TrapHost& host, uint32_t scc, uint32_t pio, uint32_t p7) {
    host.SetSlot(st::kParam0, 0xA0);
    host.SetSlot(st::kParam0 + 12, st::kBuffer);
    host.SetSlot(st::kParam0 + 16, scc);
    host.SetSlot(st::kParam0 + 20, pio);
    host.SetSlot(st::kParam0 + 24, 1);
    host.SetSlot(st::kParam0 + 28, p7);
}

int EepromCommand(TrapHost& host, uint32_t code, uint32_t addr, uint32_t n, int polls) {
    host.SetSlot(st::kParam0 + 4, addr);
    host.SetSlot(st::kParam0 + 8, n);
    return host.Command(code, polls);
}

TEST(Eeprom, WritesReadsAndErasesThroughTheHandler) {
    struct Case {
        const char* knobs;
        const char* handler;
        uint32_t size;
        uint32_t p7;
    };
    for (const Case c : {Case{"", "I2C_2Cycles.bin", 256, 4},
                         Case{",eeprom=24c512,idcode=2D402041", "I2C_3Cycles.bin", 0x10000, 2}}) {
        TrapHost host(c.knobs);
        ASSERT_TRUE(host.Load(Image(c.handler)));
        SetEeprom(host, 0x20009000, 0x2000D000, c.p7);
        const std::vector<uint8_t> data = Pattern(100, 7);
        host.PokeBlock(st::kBuffer, data);
        const int writePolls = EepromCommand(host, 0x4000, 0x13, 100, 50000);
        EXPECT_GT(writePolls, 20) << c.knobs;  // page writes wait out their write cycles
        std::vector<uint8_t> back(100);
        host.board().ReadEeprom(0x13, back.data(), back.size());
        EXPECT_EQ(back, data) << c.knobs;
        host.PokeBlock(st::kBuffer, std::vector<uint8_t>(128, 0));
        ASSERT_GT(EepromCommand(host, 0x8000, 0x13, 100, 5000), 0);
        std::vector<uint8_t> read(100);
        host.board().ReadBytes(st::kBuffer, read.data(), read.size());
        EXPECT_EQ(read, data);
        // Erase is a write of 0xFF over the part.
        host.PokeBlock(st::kBuffer, std::vector<uint8_t>(256, 0xFF));
        ASSERT_GT(EepromCommand(host, 0x4000, 0, 256, 50000), 0);
        host.board().ReadEeprom(0x13, back.data(), back.size());
        EXPECT_EQ(back, std::vector<uint8_t>(100, 0xFF));
    }
}

TEST(Eeprom, UnreachableWithTheWrongControllerPioOrProcessorValue) {
    struct Case {
        uint32_t scc, pio, p7;
    };
    for (const Case c : {Case{0x20008000, 0x2000D000, 4}, Case{0x20009000, 0x2000C000, 4},
                         Case{0x20009000, 0x2000D000, 2}}) {
        TrapHost host;
        ASSERT_TRUE(host.Load(Image("I2C_2Cycles.bin")));
        SetEeprom(host, c.scc, c.pio, c.p7);
        host.PokeBlock(st::kBuffer, std::vector<uint8_t>(8, 0));
        EXPECT_EQ(EepromCommand(host, 0x4000, 0, 8, 300), 0);
        uint8_t b = 0;
        host.board().ReadEeprom(0, &b, 1);
        EXPECT_EQ(b, 0xFF);
        // The handler still takes the next command.
        EXPECT_GT(host.Command(0x800), 0);
    }
    // A flash handler does not reach the EEPROM either way.
    TrapHost host;
    ASSERT_TRUE(host.Load(Image("Flash0Bus16.bin")));
    EXPECT_EQ(host.board().TrapRunning(), true);
}

TEST(Persistence5, FlashAndEepromSurviveInTheDirectory) {
    const auto dir = std::filesystem::temp_directory_path() / "tapwright-sim5-persist";
    std::filesystem::remove_all(dir);
    std::string knobs(":");
    knobs += dir.string();
    {
        TrapHost host(knobs);
        ASSERT_TRUE(host.Load(Image("Flash0Bus16.bin")));
        SetFlashWords(host, kAmd, 16, Map::Correct);
        ASSERT_EQ(Program(host, st::kFlash + 0x40, Pattern(64, 4)), 64u);
        const uint8_t e[3] = {1, 2, 3};
        host.board().WriteEeprom(0x20, e, 3);
    }
    TrapHost again(knobs);
    EXPECT_EQ(FlashBytes(again, st::kFlash + 0x40, 64), Pattern(64, 4));
    uint8_t e[3] = {};
    again.board().ReadEeprom(0x20, e, 3);
    EXPECT_EQ(e[2], 3);
    EXPECT_TRUE(std::filesystem::exists(dir / "eeprom.bin"));
    std::filesystem::remove_all(dir);
}

}  // namespace
