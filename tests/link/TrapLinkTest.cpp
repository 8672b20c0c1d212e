// Trap commands refused before they reach the wire: bad trap buffer sizes, no handler
// loaded in this run, and Close/ExitTrap with nothing to leave.
#include <gtest/gtest.h>

#include <vector>

#include "link/LinkErrors.h"
#include "support/SimLinkFixture.h"
#include "tests/link/ScriptedLink.h"

namespace {

const char kBufferText[] = "ShowStatus(Erreur Taille tampon Trap invalide)";
const char kNotLoadedText[] =
    "ShowStatus(Erreur Trap non initialis\xC3\xA9"
    ")";

TEST_F(ScriptedLinkTest, TrapBufferSizeZeroOrUnalignedIsRefusedBeforeAnyTransfer) {
    std::vector<uint8_t> data(100, 0x5A);
    for (uint32_t size : {0u, 6u, 2050u}) {
        link.m_nBufferSize = size;
        link.m_nBufferAddr = 0x80000200;
        link.SetProgressMode(ProgressMode::kAll);
        link.m_nLastCount = 77;
        observer.Clear();
        link.m_nError = 0;
        EXPECT_FALSE(link.ProgramFlash(0x7FF00000, 100, data.data())) << size;
        EXPECT_EQ(link.m_nLastCount, 0u);
        link.m_nError = 0;
        EXPECT_FALSE(link.WriteEeprom(0, 100, data.data())) << size;
        link.m_nError = 0;
        EXPECT_FALSE(link.ReadEeprom(0, 100, data.data())) << size;
        EXPECT_EQ(data, std::vector<uint8_t>(100, 0x5A));
        EXPECT_EQ(observer.calls, std::vector<std::string>(3, kBufferText)) << size;
        EXPECT_EQ(link.m_nError, kErrShown);
        EXPECT_TRUE(wire->requests.empty()) << size;
    }
}

TEST_F(ScriptedLinkTest, DeviceCommandsWithoutALoadedHandlerTouchNothing) {
    link.m_nBufferSize = 0x800;
    uint32_t value = 0xDEADBEEF;
    uint32_t maker = 1;
    uint32_t device = 2;
    const FlashCommandSet cmd{};

    // The quiet ones leave the error pending for the caller.
    EXPECT_FALSE(link.ReadMemStart(value));
    EXPECT_EQ(link.m_nError, kErrTrapNotRunning);
    EXPECT_FALSE(link.ReadProcId(value));
    EXPECT_FALSE(link.Reboot());
    EXPECT_FALSE(link.Go(0xC0000000));
    EXPECT_FALSE(link.ReadFlashId(0x7FF00000, 16, maker, device, cmd));
    EXPECT_EQ(value, 0xDEADBEEFu);
    EXPECT_EQ(maker, 1u);
    EXPECT_EQ(device, 2u);
    EXPECT_TRUE(observer.calls.empty());

    // The others show it.
    link.m_nError = 0;
    EXPECT_FALSE(link.EraseFlash(0x7FF00000));
    link.m_nError = 0;
    EXPECT_FALSE(link.SetFlashParameters(16, 1u << 20, 0, 1, 1, cmd));
    link.m_nError = 0;
    EXPECT_FALSE(link.SetupEeprom(0x20009000, 0x2000D000));
    EXPECT_EQ(observer.calls, std::vector<std::string>(3, kNotLoadedText));
    EXPECT_TRUE(wire->requests.empty());
}

TEST_F(ScriptedLinkTest, ExitTrapWithoutALoadSendsNothing) {
    EXPECT_TRUE(link.ExitTrap());
    EXPECT_TRUE(wire->requests.empty());
    EXPECT_TRUE(observer.calls.empty());
}

// The completion wait on a plain RAM word, with no handler behind it.
class WaitReadyTest : public test::SimLinkFixture {
  protected:
    static constexpr uint32_t kWord = 0x80002000;
    uint64_t ClocksOfWait(uint32_t polls, bool& result) {
        const uint64_t before = board().Clocks();
        result = link.WaitTrapReady(polls);
        return board().Clocks() - before;
    }
};

TEST_F(WaitReadyTest, TimeOutAfterExactlyThePollCountLeavesTheWord) {
    ASSERT_TRUE(OpenBoard());
    link.m_nSlotCommand = kWord;
    board().WriteWord(kWord, 0x4000);
    ASSERT_TRUE(link.BeginSession());
    bool ok = true;
    const uint64_t one = ClocksOfWait(1, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(link.m_nError, kErrTrapNotReady);
    link.m_nError = 0;  // a pending error would fail the next transfer
    const uint64_t many = ClocksOfWait(64, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(link.m_nError, kErrTrapNotReady);
    EXPECT_GT(one, 0u);
    EXPECT_EQ(many, 64 * one);  // every poll is the same one-word peek
    link.m_nError = 0;
    EXPECT_EQ(ClocksOfWait(0, ok), 0u);
    EXPECT_FALSE(ok);
    link.EndSession();
    EXPECT_EQ(board().ReadWord(kWord), 0x4000u);
    EXPECT_TRUE(observer.calls.empty());  // pending, not shown
}

// A word the target never sent is not a word read.
TEST_F(WaitReadyTest, FailedPeekIsNoValue) {
    ASSERT_TRUE(OpenBoard(",bad-header"));
    ASSERT_TRUE(link.BeginSession());
    uint32_t value = 0x5A5A5A5A;
    EXPECT_FALSE(link.PeekWord(kWord, value));
    EXPECT_EQ(value, 0x5A5A5A5Au);
    link.EndSession();
}

}  // namespace
