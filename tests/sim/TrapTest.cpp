// The board's CPU in trap mode: start, readiness, the general handler's commands, leaving.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "TrapHost.h"

using simtest::Image;
using simtest::kCommand;
using simtest::Part;
using simtest::TrapHost;
namespace st = simtest;

namespace {

TEST(TrapLoad, StartsThroughTheVectorsAndAnnouncesReadinessAfterThePolls) {
    TrapHost host(",ready-polls=5");
    EXPECT_EQ(host.Status(), 0u);
    host.Poke(0x3004, 0xFFFFFFFF);
    host.Poke(0x3004, 0);
    host.PokeBlock(st::kEntry, Image());
    host.PokeBlock(0x80000040, {0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0x0F, 0, 0x80, 0, 0x0A, 0, 0x80});
    EXPECT_FALSE(host.board().TrapRunning());
    host.Poke(0x3004, 0x20000000);
    EXPECT_EQ(host.Status(), 0x60000u);
    EXPECT_TRUE(host.board().TrapRunning());
    EXPECT_EQ(host.WaitReady(64), 6);  // five reads still see the old word
    // Each command counts its own polls again.
    EXPECT_EQ(host.Command(0x800), 6);
    EXPECT_EQ(host.Slot(st::kAccessData), 0xC0000000u);
}

TEST(TrapLoad, OnlyAWholeRecognisedImageStarts) {
    std::vector<std::vector<uint8_t>> bad;
    bad.push_back(std::vector<uint8_t>(512, 0x20));
    bad.push_back(Part("Flash0Bus16.bin"));  // a device part alone
    std::vector<uint8_t> flipped = Image();
    flipped[300] ^= 1;
    bad.push_back(flipped);
    std::vector<uint8_t> cut = Image();
    cut.resize(400);  // the rest of RAM is zeros, not the rest of the part
    bad.push_back(cut);
    for (const auto& image : bad) {
        TrapHost host;
        EXPECT_FALSE(host.Load(image));
        EXPECT_NE(host.Status() & 0x60000, 0x60000u);
        EXPECT_FALSE(host.board().TrapRunning());
    }
}

TEST(TrapLoad, DeadHandlerRunsButNeverAnswers) {
    TrapHost host(",handler-dead");
    EXPECT_FALSE(host.Load(Image()));
    EXPECT_EQ(host.Status(), 0x60000u);
    EXPECT_EQ(host.WaitReady(500), 0);
    EXPECT_EQ(host.Command(0x800, 200), 0);
}

TEST(TrapLoad, PreparationStopsTheHandlerSoTheSecondImageIsStarted) {
    TrapHost host;
    ASSERT_TRUE(host.Load(Image()));
    EXPECT_EQ(host.Command(0x8000, 200), 0);  // no device part: never answered
    bool shortcut = true;
    ASSERT_TRUE(host.Load(Image("Flash0Bus16.bin"), &shortcut));
    EXPECT_FALSE(shortcut);
    host.SetSlot(st::kFlashAddress, st::kFlash);
    // The device part now serves 0x8000 (an erase with zero words fails, but is answered).
    EXPECT_GT(host.Command(0x8000, 100000), 0);
}

TEST(TrapLoad, KeepRunningLetsTheRunningHandlerServeTheNewDevicePart) {
    TrapHost host(",keep-running");
    ASSERT_TRUE(host.Load(Image()));
    bool shortcut = false;
    ASSERT_TRUE(host.Load(Image("I2C_2Cycles.bin"), &shortcut));
    EXPECT_TRUE(shortcut);
    for (int i = 0; i < 8; ++i) host.SetSlot(st::kParam0 + 4 * i, 0);
    host.SetSlot(st::kParam0, 0xA0);
    host.SetSlot(st::kParam0 + 8, 4);
    host.SetSlot(st::kParam0 + 12, st::kBuffer);
    host.SetSlot(st::kParam0 + 16, 0x20009000);
    host.SetSlot(st::kParam0 + 20, 0x2000D000);
    host.SetSlot(st::kParam0 + 24, 1);
    host.SetSlot(st::kParam0 + 28, 4);
    EXPECT_GT(host.Command(0x8000, 5000), 0);
    EXPECT_EQ(host.Peek(st::kBuffer), 0xFFFFFFFFu);
}

TEST(TrapCommands, WidthAccessesReachMemoryWithTheirWidths) {
    TrapHost host;
    ASSERT_TRUE(host.Load(Image()));
    const uint32_t a = 0xC0000100;
    host.Poke(a, 0x11223344);
    uint32_t v = 0;
    ASSERT_TRUE(host.Access(0x20, a + 1, 0, &v));
    EXPECT_EQ(v, 0x33u);
    ASSERT_TRUE(host.Access(0x80, a + 2, 0, &v));
    EXPECT_EQ(v, 0x1122u);
    ASSERT_TRUE(host.Access(0x200, a, 0, &v));
    EXPECT_EQ(v, 0x11223344u);
    ASSERT_TRUE(host.Access(0x40, a, 0xAABBCCDD));  // only the low byte is written
    EXPECT_EQ(host.board().ReadWord(a), 0x112233DDu);
    ASSERT_TRUE(host.Access(0x100, a + 2, 0xEEFF));
    EXPECT_EQ(host.board().ReadWord(a), 0xEEFF33DDu);
    ASSERT_TRUE(host.Access(0x400, 0x80000000, 0x01020304));
    EXPECT_EQ(host.board().ReadWord(0x80000000), 0x01020304u);
    EXPECT_EQ(host.Command(0x300, 200), 0);  // unknown code: never answered
}

TEST(TrapCommands, ProcIdFollowsTheKnobs) {
    TrapHost plain(",idcode=3D415041");
    ASSERT_TRUE(plain.Load(Image()));
    ASSERT_GT(plain.Command(0x1000), 0);
    EXPECT_EQ(plain.Slot(st::kAccessData), 0x3D415041u);
    TrapHost other(",procid=12345678");
    ASSERT_TRUE(other.Load(Image()));
    ASSERT_GT(other.Command(0x1000), 0);
    EXPECT_EQ(other.Slot(st::kAccessData), 0x12345678u);
}

TEST(TrapCommands, LeaveRebootAndGoEndTrapMode) {
    struct Case {
        uint32_t code;
        bool rebooted;
        uint32_t go;
    };
    for (const Case c : {Case{2, false, 0}, Case{0x2000, true, 0}, Case{0x10, false, 0xC0001000}}) {
        TrapHost host;
        ASSERT_TRUE(host.Load(Image()));
        EXPECT_EQ(host.board().GoAddress(), 0u);
        host.SetSlot(st::kAccessAddress, 0xC0001000);
        host.SetSlot(kCommand, c.code);
        EXPECT_EQ(host.Status(), 0xC00000u) << c.code;
        EXPECT_FALSE(host.board().TrapRunning());
        EXPECT_EQ(host.board().Rebooted(), c.rebooted);
        EXPECT_EQ(host.board().GoAddress(), c.go);
        EXPECT_NE(host.Slot(kCommand), 1u);  // no completion word
        // A new load starts again from there.
        EXPECT_TRUE(host.Load(Image()));
        EXPECT_EQ(host.Status(), 0x60000u);
    }
}

TEST(StandIns, CommittedFilesAreTheGeneratedOnes) {
    const char* root = std::getenv("TAPWRIGHT_SOURCE_DIR");
    ASSERT_NE(root, nullptr);
    for (const auto& h : sim::StandInHandlers()) {
        std::ifstream f(std::filesystem::path(root) / "TrapHandlers" / h.file, std::ios::binary);
        ASSERT_TRUE(f) << h.file;
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(f), {}};
        EXPECT_EQ(bytes, sim::BuildTrapPart(h.part, h.description)) << h.file;
        const auto parsed = sim::ParseTrapPart(bytes.data(), bytes.size());
        ASSERT_TRUE(parsed) << h.file;
        EXPECT_EQ(parsed->kind, h.part.kind);
    }
    // General + device fits below the parameter block at the default addresses.
    EXPECT_LE(Image("Flash0Bus32.bin").size(), st::kParams - st::kEntry);
}

TEST(StandIns, WriteHandlersReportsAnUnusableDirectory) {
    const auto dir = std::filesystem::temp_directory_path() / "tapwright-sim5-handlers";
    std::filesystem::remove_all(dir);
    std::ofstream(dir.string()) << "x";  // a file where the directory should be
    std::string error;
    EXPECT_FALSE(sim::WriteStandInHandlers(dir.string(), error));
    EXPECT_FALSE(error.empty());
    std::filesystem::remove_all(dir);
}

TEST(TimeBase, EachClockAdvancesBoardTime) {
    TrapHost host(",clock-ns=250");
    host.Peek(0x80000000);
    EXPECT_GT(host.board().Clocks(), 0u);
    EXPECT_EQ(host.board().NowNs(), host.board().Clocks() * 250);
}

}  // namespace
