// Trap commands refused before they reach the wire: bad trap buffer sizes, no handler
// loaded in this run, and Close/ExitTrap with nothing to leave.
#include <gtest/gtest.h>

#include <vector>

#include "link/LinkErrors.h"
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
        link.SetProgressMode(4);
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

}  // namespace
