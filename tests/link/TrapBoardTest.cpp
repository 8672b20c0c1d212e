// The trap handler protocol and the device commands, through the whole host stack against
// the virtual board and its stand-in handlers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/LinkErrors.h"
#include "support/SimLinkFixture.h"
#include "support/TrapSupport.h"

namespace {

using test::kFlashBase;
using test::kTrapParams;

constexpr uint32_t kScratch = 0x80001000;
const std::string kNotReady = "ShowStatus(Erreur Trap non pr\xC3\xAAt)";

class TrapBoardTest : public test::SimLinkFixture {
  protected:
    void SetUp() override {
        SimLinkFixture::SetUp();
        if (!test::HandlersAvailable()) GTEST_SKIP() << "no stand-in handlers in TrapHandlers/";
    }

    bool Open(const std::string& knobs = "") {
        if (!OpenBoard(knobs)) return false;
        test::ApplyTrapDefaults(link);
        return true;
    }
    // Named by its device file as the pages name it: "Flash0Bus16.bin", "I2C_2Cycles.bin".
    bool Load(const std::vector<std::string>& files) {
        const auto image = test::HandlerImage(files);
        EXPECT_FALSE(image.empty());
        TargetProgram what = TargetProgram::General();
        if (files.size() > 1 && files[1].rfind("Flash", 0) == 0)
            what = TargetProgram::Flash(0, static_cast<uint32_t>(std::stoi(files[1].substr(9, 2))));
        if (files.size() > 1 && files[1].rfind("I2C", 0) == 0) what = TargetProgram::Eeprom();
        return test::LoadImage(link, image, what);
    }
    bool LoadGeneral() { return Load({"TrapHandler.bin"}); }

    uint32_t Slot(uint32_t offset) { return board().ReadWord(kTrapParams + offset); }
    uint32_t DcuStatus() {
        uint8_t b[4] = {};
        EXPECT_TRUE(link.ReadMemory(kDcuControl, 4, b));
        return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
    }
    void PlantVectors() {
        for (uint32_t i = 0; i < 4; ++i)
            board().WriteWord(kTrapVectorAddr + 4 * i, 0x1111 * (i + 1));
    }
    static std::vector<uint8_t> PlantedVectors() {
        return test::LittleEndian({0x1111, 0x2222, 0x3333, 0x4444});
    }
    static std::vector<uint8_t> TrapBlock() {
        return test::LittleEndian({0, 0x80000000, test::kTrapParams, test::kTrapEntry});
    }
    // The flash handler for the bus, with its parameters handed over as the FLASH page does.
    bool LoadFlash(uint32_t width, bool intel = false, bool wordMode = true) {
        const FlashChip chip = test::StraightChip(width, intel, wordMode);
        if (!Load({"TrapHandler.bin", FlashHandlerName(chip, width)})) return false;
        return link.SetFlashParameters(width, 1u << 20, chip.m_nIntel, 1, chip.m_nWordMode,
                                       chip.m_commands);
    }
    // A 16-bit flash erased, with a 2048-byte buffer and progress shown at each chunk.
    void ReadyToProgram(const std::string& knobs = "") {
        ASSERT_TRUE(Open(knobs));
        ASSERT_TRUE(LoadFlash(16));
        ASSERT_TRUE(link.EraseFlash(kFlashBase));
        link.m_nBufferSize = 2048;
        link.SetProgressMode(ProgressMode::kFlash);
        observer.Clear();
    }
};

TEST_F(TrapBoardTest, LoadStartsTheHandlerThroughTheVectorBlock) {
    ASSERT_TRUE(Open());
    PlantVectors();
    const auto image = test::HandlerImage({"TrapHandler.bin"});
    ASSERT_TRUE(test::LoadImage(link, image));
    EXPECT_EQ(link.Program(), TargetProgram::General());
    EXPECT_TRUE(link.m_bVectorsSaved);
    EXPECT_EQ(Backdoor(test::kTrapEntry, image.size()), image);
    EXPECT_EQ(Backdoor(kTrapVectorAddr, 16), TrapBlock());
    EXPECT_EQ(std::vector<uint8_t>(link.m_savedVectors, link.m_savedVectors + 16),
              PlantedVectors());
    EXPECT_EQ(link.m_nSlotCommand, kTrapParams);
    EXPECT_EQ(link.m_nSlotAccessData, kTrapParams + 96);
    EXPECT_EQ(link.m_nSlotFlashStatus, kTrapParams + 132);
    EXPECT_EQ(link.m_nSlotParam[8], kTrapParams + 172);
    EXPECT_EQ(Slot(0), 0u);  // readiness answered
    EXPECT_EQ(DcuStatus(), kDcuTrapRunning);
    // The window shows the status the load last read, from the snapshot's image of 0x3004.
    EXPECT_EQ(link.m_dcuSnapshot[1], kDcuTrapRunning);
    EXPECT_TRUE(observer.calls.empty());
}

TEST_F(TrapBoardTest, SecondLoadOnARunningHandlerNeitherStartsNorWaits) {
    ASSERT_TRUE(Open(",keep-running"));
    PlantVectors();
    uint64_t before = board().Clocks();
    ASSERT_TRUE(LoadGeneral());
    const uint64_t first = board().Clocks() - before;
    before = board().Clocks();
    // Waiting would time out here: a handler that was not started never announces itself.
    ASSERT_TRUE(Load({"TrapHandler.bin", "Flash0Bus16.bin"}));
    const uint64_t second = board().Clocks() - before;
    EXPECT_EQ(link.m_dcuSnapshot[1], kDcuTrapRunning);
    EXPECT_LT(second, first + 256 * 40);  // one extra 256-byte message at most, no polls
    // The board's own block stays saved, not the first handler's.
    EXPECT_EQ(std::vector<uint8_t>(link.m_savedVectors, link.m_savedVectors + 16),
              PlantedVectors());
    EXPECT_TRUE(observer.calls.empty());
}

TEST_F(TrapBoardTest, ReadinessOnTheLastPollAndTimeOutOneLater) {
    // The knob counts the reads that still see the old word: 63 means a 1 on the 64th. Each
    // poll reads once here, as on a cable known clean.
    ASSERT_TRUE(Open(",ready-polls=63"));
    link.SetReadCheck(false);
    EXPECT_TRUE(LoadGeneral());

    ASSERT_TRUE(Open(",ready-polls=64"));
    link.SetReadCheck(false);
    EXPECT_FALSE(LoadGeneral());
    EXPECT_FALSE(link.HandlerRunning());
    EXPECT_EQ(observer.calls, std::vector<std::string>{kNotReady});
    // One more read lets the handler announce itself; nobody clears the word then.
    uint8_t word[4];
    ASSERT_TRUE(link.ReadMemory(kTrapParams, 4, word));
    EXPECT_EQ(Slot(0), 1u);
}

TEST_F(TrapBoardTest, ImagesThatNeverRunFailTheLoad) {
    ASSERT_TRUE(Open());
    const std::vector<uint8_t> junk(512, 0x00);
    EXPECT_FALSE(test::LoadImage(link, junk));
    EXPECT_EQ(observer.calls,
              std::vector<std::string>{"ShowStatus(Erreur Trap non initialis\xC3\xA9)"});

    ASSERT_TRUE(Open(",handler-dead"));
    observer.Clear();
    EXPECT_FALSE(LoadGeneral());
    EXPECT_EQ(observer.calls, std::vector<std::string>{kNotReady});

    ASSERT_TRUE(Open());
    observer.Clear();
    ASSERT_TRUE(link.BeginSession());
    EXPECT_FALSE(link.LoadTrapHandler(nullptr, 512, 0));
    link.EndSession();
    EXPECT_EQ(observer.calls,
              std::vector<std::string>{"ShowStatus(Erreur Allocation m\xC3\xA9moire)"});
}

TEST_F(TrapBoardTest, WidthAccessesThroughTheHandler) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(LoadGeneral());
    board().WriteWord(kScratch, 0xA1B2C3D4);
    ASSERT_TRUE(link.BeginSession());
    uint32_t out = 0;
    EXPECT_TRUE(link.TrapAccess(kScratch, 0, &out, kTrapRead8));
    EXPECT_EQ(out, 0xD4u);
    EXPECT_TRUE(link.TrapAccess(kScratch, 0, &out, kTrapRead16));
    EXPECT_EQ(out, 0xC3D4u);
    EXPECT_TRUE(link.TrapAccess(kScratch, 0, &out, kTrapRead32));
    EXPECT_EQ(out, 0xA1B2C3D4u);

    EXPECT_TRUE(link.TrapAccess(kScratch + 4, 0x01020304, nullptr, kTrapWrite32));
    EXPECT_TRUE(link.TrapAccess(kScratch + 8, 0xBEEF, nullptr, kTrapWrite16));
    EXPECT_TRUE(link.TrapAccess(kScratch + 12, 0x5A, nullptr, kTrapWrite8));
    link.EndSession();
    EXPECT_EQ(board().ReadWord(kScratch + 4), 0x01020304u);
    EXPECT_EQ(board().ReadWord(kScratch + 8) & 0xFFFF, 0xBEEFu);
    EXPECT_EQ(board().ReadWord(kScratch + 12) & 0xFF, 0x5Au);
    EXPECT_EQ(board().ReadWord(kScratch), 0xA1B2C3D4u);
    EXPECT_TRUE(observer.calls.empty());
}

TEST_F(TrapBoardTest, ZeroWriteValueLeavesAccessDataAsItWas) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(LoadGeneral());
    board().WriteWord(kTrapParams + 96, 0x000000AB);
    board().WriteWord(kScratch, 0xFFFFFFFF);
    ASSERT_TRUE(link.BeginSession());
    EXPECT_TRUE(link.TrapAccess(kScratch, 0, nullptr, kTrapWrite8));
    link.EndSession();
    EXPECT_EQ(Slot(96), 0xABu);
    EXPECT_EQ(Slot(92), kScratch);
    EXPECT_EQ(board().ReadWord(kScratch), 0xFFFFFFABu);  // the handler wrote the slot's value
}

TEST_F(TrapBoardTest, AccessRefusedWhenNotInTrapModeOrWithAnUnknownCommand) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(LoadGeneral());
    board().WriteWord(kTrapParams + 92, 0x12345678);
    board().WriteWord(kTrapParams + 96, 0x9ABCDEF0);
    ASSERT_TRUE(link.BeginSession());
    EXPECT_FALSE(link.TrapAccess(kScratch, 5, nullptr, 0x300));
    link.EndSession();
    EXPECT_EQ(observer.calls,
              std::vector<std::string>{"ShowStatus(Erreur Commande Trap invalide)"});
    EXPECT_EQ(Slot(92), 0x12345678u);
    EXPECT_EQ(Slot(96), 0x9ABCDEF0u);
    EXPECT_EQ(Slot(0), 0u);

    // After a reboot the status shows 0xC00000: not exactly 0x60000.
    ASSERT_TRUE(link.Reboot());
    observer.Clear();
    ASSERT_TRUE(link.BeginSession());
    uint32_t out = 7;
    EXPECT_FALSE(link.TrapAccess(kScratch, 0, &out, kTrapRead32));
    link.EndSession();
    EXPECT_EQ(out, 7u);
    EXPECT_EQ(Slot(92), 0x12345678u);
    EXPECT_EQ(observer.calls,
              std::vector<std::string>{"ShowStatus(Erreur Trap non initialis\xC3\xA9)"});
}

TEST_F(TrapBoardTest, CommandThatNeverCompletesLeavesTheTimeOutPendingAndTheHandlerUntrusted) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(LoadGeneral());
    board().mutable_options().readyPolls = 1000;
    uint32_t start = 0x42;
    EXPECT_FALSE(link.ReadMemStart(start));
    EXPECT_EQ(start, 0x42u);
    EXPECT_EQ(link.m_nError, kErrTrapNotReady);
    EXPECT_TRUE(observer.calls.empty());
    // A late answer would pass for the next command's: nothing more goes to this handler.
    EXPECT_FALSE(link.HandlerRunning());
    const uint64_t clocks = board().Clocks();
    EXPECT_FALSE(link.ReadProcId(start));
    EXPECT_EQ(link.m_nError, kErrTrapNotRunning);
    EXPECT_EQ(board().Clocks(), clocks);
}

// --- Flash ---

TEST_F(TrapBoardTest, FlashIdentificationWidth12ActsAs16AndFailureKeepsOldCodes) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(LoadGeneral());
    uint32_t maker = 0;
    uint32_t device = 0;
    EXPECT_TRUE(link.ReadFlashId(kFlashBase, 12, maker, device, test::StraightChip(16).m_commands));
    EXPECT_EQ(maker, 0x20u);
    EXPECT_EQ(device, 0xD7u);

    board().mutable_options().readyPolls = 1000;  // a step that never completes
    maker = 0x1111;
    device = 0x2222;
    EXPECT_FALSE(
        link.ReadFlashId(kFlashBase, 16, maker, device, test::StraightChip(16).m_commands));
    EXPECT_EQ(maker, 0x1111u);
    EXPECT_EQ(device, 0x2222u);
}

TEST_F(TrapBoardTest, FlashParametersLandInTheirSlots) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Load({"TrapHandler.bin", "Flash0Bus16.bin"}));
    FlashCommandSet cmd;
    for (uint32_t i = 0; i < 11; ++i) cmd[i] = 0xC0DE00 + i;
    EXPECT_TRUE(link.SetFlashParameters(16, 0x100000, 7, 1, 1, cmd));
    EXPECT_EQ(Slot(112), 0x100000u);
    EXPECT_EQ(Slot(116), 16u);
    EXPECT_EQ(Slot(120), 7u);
    EXPECT_EQ(Slot(124), 1u);
    EXPECT_EQ(Slot(128), 1u);
    const uint32_t expected[9] = {0, 1, 3, 5, 6, 7, 9, 10, 8};  // Param0..Param8
    for (uint32_t p = 0; p < 9; ++p) EXPECT_EQ(Slot(140 + 4 * p), cmd[expected[p]]) << p;
}

// --- EEPROM ---

TEST_F(TrapBoardTest, EepromSetupFollowsTheProcessor) {
    const std::pair<std::string, uint32_t> cases[] = {{",procid=0x0D415041", 2},
                                                      {",procid=0xFD415041", 2},
                                                      {",procid=0x0D402041", 2},
                                                      {",procid=0x0D4C9041", 4},
                                                      {",procid=0x0D415042", 4}};
    for (const auto& [knobs, param7] : cases) {
        ASSERT_TRUE(Open(knobs));
        ASSERT_TRUE(Load({"TrapHandler.bin", "I2C_2Cycles.bin"}));
        EXPECT_TRUE(link.SetupEeprom(test::kBoardScc, test::kBoardPio)) << knobs;
        EXPECT_EQ(Slot(140 + 4 * 6), 1u);
        EXPECT_EQ(Slot(140 + 4 * 7), param7) << knobs;
        EXPECT_EQ(Slot(140 + 4 * 4), test::kBoardScc);
        EXPECT_EQ(Slot(140 + 4 * 5), test::kBoardPio);
    }
}

}  // namespace
