// The EEPROM page through the main window against the virtual board.
#include "support/TrapSupport.h"
#include "support/WindowFixture.h"
#include "ui/EepromPage.h"

namespace {

namespace fs = std::filesystem;
using Ids = CEepromPage;
constexpr uint32_t kParam = test::kTrapParams + kSlotParam0;

class EepromPage : public test::PagesWindow {
  protected:
    CEepromPage& e2p() { return dlg.m_tab.m_eepromPage; }
    DutProfile& profile() { return g_settings.m_duts[0]; }
    // CPU ID, LOAD, then this page's LOAD TRAP.
    void LoadTrap() {
        ShowTab(1);
        CpuIdAndLoad();
        ASSERT_TRUE(e2p().Press(Ids::kIdLoadTrap));
    }
    void Fields(const std::string& start, const std::string& size) {
        ASSERT_TRUE(e2p().Type(Ids::kIdStart, start));
        ASSERT_TRUE(e2p().Type(Ids::kIdSize, size));
    }
    std::vector<uint8_t> Eeprom(uint32_t n) {
        std::vector<uint8_t> v(n);
        board->ReadEeprom(0, v.data(), n);
        return v;
    }
    std::vector<bool> Operations() {
        return {e2p().IsWindowEnabled(Ids::kIdRead), e2p().IsWindowEnabled(Ids::kIdWrite),
                e2p().IsWindowEnabled(Ids::kIdErase), e2p().IsWindowEnabled(Ids::kIdFile)};
    }
};

TEST_F(EepromPage, LoadTrapDownloadsTheI2cHandlerOfTheCyclesAndSetsItUp) {
    sim::Board& b = Start();
    LoadTrap();
    EXPECT_EQ(Status(), "Load Trap Handler with EEPROM management");
    EXPECT_EQ(Result(), "Ok");
    EXPECT_TRUE(g_trapRunning && g_eepromTrapLoaded);
    EXPECT_EQ(Operations(), (std::vector<bool>{true, true, true, true}));
    EXPECT_FALSE(dlg.IsWindowEnabled(CMainDlg::kIdDut));
    EXPECT_FALSE(dlg.m_tab.m_flashPage.IsWindowEnabled(1007));
    EXPECT_TRUE(Logged("Load Trap Handler with EEPROM Management\n"));
    const std::vector<uint8_t> two = test::HandlerImage({"TrapHandler.bin", "I2C_2Cycles.bin"});
    std::vector<uint8_t> loaded(two.size());
    b.ReadBytes(g_link.m_nTrapBase, loaded.data(), loaded.size());
    EXPECT_EQ(loaded, two);
    EXPECT_EQ(b.ReadWord(kParam + 16), test::kBoardScc);
    EXPECT_EQ(b.ReadWord(kParam + 20), test::kBoardPio);
    EXPECT_EQ(b.ReadWord(kParam + 28), 4u);  // STi-5508

    // Radio "3" goes straight into the profile; the next LOAD TRAP takes the other handler.
    ASSERT_TRUE(e2p().Press(Ids::kIdCycles3));
    EXPECT_EQ(profile().m_nE2pCycles, 1u);
    ASSERT_TRUE(e2p().Press(Ids::kIdLoadTrap));
    const std::vector<uint8_t> three = test::HandlerImage({"TrapHandler.bin", "I2C_3Cycles.bin"});
    b.ReadBytes(g_link.m_nTrapBase, loaded.data(), loaded.size());
    EXPECT_EQ(loaded, three);
}

TEST_F(EepromPage, TheImageIsBothFilesPaddedWithBlanks) {
    sim::Board& b = Start();
    std::vector<uint8_t> general = test::HandlerImage({"TrapHandler.bin"});
    std::vector<uint8_t> i2c = test::HandlerImage({"I2C_3Cycles.bin"});
    ASSERT_FALSE(general.empty());
    general.resize(2048, 0x5A);
    i2c.resize(301, 0x6B);
    fs::create_directories(tmp / "TrapHandlers");
    WriteBytes(tmp / "TrapHandlers" / "TrapHandler.bin", general);
    WriteBytes(tmp / "TrapHandlers" / "I2C_3Cycles.bin", i2c);
    g_settings.m_workDir = tmp.string();
    profile().m_nE2pCycles = 1;
    LoadTrap();
    std::vector<uint8_t> want = general;
    want.insert(want.end(), i2c.begin(), i2c.end());
    want.insert(want.end(), 3, 0x20);
    std::vector<uint8_t> loaded(2352 + 1);
    b.ReadBytes(g_link.m_nTrapBase, loaded.data(), loaded.size());
    EXPECT_NE(loaded.back(), 0x20);
    // The running handler keeps its parameter block inside this long image: skip it.
    const size_t block = test::kTrapParams - test::kTrapEntry;
    std::fill(loaded.begin() + block, loaded.begin() + block + 256, 0);
    std::fill(want.begin() + block, want.begin() + block + 256, 0);
    loaded.pop_back();
    EXPECT_EQ(loaded, want);
}

TEST_F(EepromPage, AMissingI2cHandlerIsAFailedLoad) {
    Start();
    fs::create_directories(tmp / "TrapHandlers");
    fs::copy_file(fs::path(test::HandlerDir()) / "TrapHandler.bin",
                  tmp / "TrapHandlers" / "TrapHandler.bin");
    g_settings.m_workDir = tmp.string();
    LoadTrap();
    EXPECT_EQ(Result(), "!!! Error !!!");
    EXPECT_NE(Status().find("I2C_2Cycles.bin"), std::string::npos);
    EXPECT_FALSE(g_eepromTrapLoaded || g_trapRunning);
    EXPECT_EQ(Operations(), (std::vector<bool>{false, false, false, false}));
    EXPECT_TRUE(dlg.IsWindowEnabled(CMainDlg::kIdExit));
    EXPECT_EQ(board->ReadWord(kParam + 16), 0u);  // no set-up
    EXPECT_TRUE(Logged("Load Trap Handler with EEPROM Management\n"));
}

TEST_F(EepromPage, SetUpFollowsTheReportedProcessorAndTheProfileAsItStands) {
    sim::Board& b = Start(",procid=0x3D415041");
    LoadTrap();
    ASSERT_TRUE(e2p().Type(Ids::kIdScc, "20009100"));
    ASSERT_TRUE(e2p().Press(Ids::kIdLoadTrap));
    EXPECT_EQ(b.ReadWord(kParam + 28), 2u);
    EXPECT_EQ(b.ReadWord(kParam + 24), 1u);
    EXPECT_EQ(b.ReadWord(kParam + 16), test::kBoardScc);       // the typed value is not used yet
    EXPECT_EQ(e2p().GetDlgItemText(Ids::kIdScc), "20009000");  // LOAD TRAP shows the profile

    ASSERT_TRUE(e2p().Type(Ids::kIdScc, "20009100"));
    host.QueueFileAnswer("");
    ASSERT_TRUE(e2p().Press(Ids::kIdRead));
    EXPECT_EQ(profile().m_nE2pScc, 0x20009100u);
}

TEST_F(EepromPage, ReadWriteAndEraseOverStartAndSize) {
    sim::Board& b = Start();
    const std::vector<uint8_t> before = Pattern(256, 9);
    b.WriteEeprom(0, before.data(), before.size());
    LoadTrap();

    host.QueueFileAnswer(Path("all"));
    ASSERT_TRUE(e2p().Press(Ids::kIdRead));
    EXPECT_EQ(Status(), "Read EEPROM Data");
    EXPECT_EQ(ReadBytes(tmp / "all.bin"), before);
    EXPECT_EQ(host.Prompts().back().request.filter,
              "Binary File (*.bin)|*.bin|Rom File (*.rom)|*.rom||");
    EXPECT_EQ(e2p().GetDlgItemText(Ids::kIdFile), "all.bin");
    EXPECT_TRUE(Logged("Reading Eeprom -->    From : 00000000 Length : 00000100 bytes\n"));

    // ERASE: 0xFF over Start 10 / Size 20 after the confirmation; No writes and logs nothing.
    Fields("10", "20");
    host.QueueMessageAnswer(kIdNo);
    ASSERT_TRUE(e2p().Press(Ids::kIdErase));
    EXPECT_EQ(Eeprom(256), before);
    EXPECT_FALSE(Logged("Erasing"));
    host.QueueMessageAnswer(kIdYes);
    ASSERT_TRUE(e2p().Press(Ids::kIdErase));
    ASSERT_EQ(host.Prompts().back().caption, "Effacement de lEEPROM");
    EXPECT_EQ(host.Prompts().back().text, "Confirmation ?");
    std::vector<uint8_t> want = before;
    std::fill(want.begin() + 0x10, want.begin() + 0x30, 0xFF);
    EXPECT_EQ(Eeprom(256), want);
    EXPECT_TRUE(Logged("Erasing Eeprom -->    From : 00000010 Length : 00000020 bytes\n"));

    // WRITE: a longer file stops at Size, a shorter one at its end; the log shows Size.
    WriteBytes(tmp / "long.bin", std::vector<uint8_t>(64, 0x11));
    Fields("0", "20");
    host.QueueFileAnswer(Path("long.bin"));
    ASSERT_TRUE(e2p().Press(Ids::kIdWrite));
    std::fill(want.begin(), want.begin() + 0x20, 0x11);
    EXPECT_EQ(Eeprom(256), want);
    WriteBytes(tmp / "short.bin", std::vector<uint8_t>(8, 0x22));
    host.QueueFileAnswer(Path("short.bin"));
    ASSERT_TRUE(e2p().Press(Ids::kIdWrite));
    std::fill(want.begin(), want.begin() + 8, 0x22);
    EXPECT_EQ(Eeprom(256), want);
    EXPECT_TRUE(
        Logged("Writing Eeprom -->    From : 00000000 Length : 00000020 bytes\n"
               "Writing Eeprom -->    From : 00000000 Length : 00000020 bytes\n"));
    EXPECT_EQ(profile().m_nE2pSize, 0x20u);  // PERSO keeps the fields
}

TEST_F(EepromPage, BadInputIsRefusedAndTheControlsComeBack) {
    sim::Board& b = Start();
    LoadTrap();
    const size_t prompts = host.Prompts().size();
    Fields("0", "200001");
    ASSERT_TRUE(e2p().Press(Ids::kIdErase));
    ASSERT_TRUE(e2p().Press(Ids::kIdRead));
    EXPECT_EQ(host.Prompts().size(), prompts);  // refused before any dialog
    EXPECT_NE(Status().find("larger"), std::string::npos);
    EXPECT_EQ(Result(), "!!! Error !!!");
    EXPECT_EQ(Operations(), (std::vector<bool>{true, true, true, true}));

    Fields("0", "10");
    host.QueueFileAnswer(Path("no-such-dir/x.bin"));
    ASSERT_TRUE(e2p().Press(Ids::kIdRead));
    EXPECT_NE(Status().find("Cannot create"), std::string::npos);
    host.QueueFileAnswer(Path("missing.bin"));
    ASSERT_TRUE(e2p().Press(Ids::kIdWrite));
    EXPECT_NE(Status().find("Cannot open"), std::string::npos);
    EXPECT_TRUE(Logged("Writing Eeprom -->    From : 00000000 Length : 00000010 bytes\n"));
    EXPECT_EQ(Operations(), (std::vector<bool>{true, true, true, true}));

    // A read the handler never answers leaves zeros in the file, not stale memory.
    b.mutable_options().readyPolls = 100000;
    host.QueueFileAnswer(Path("zeros.bin"));
    ASSERT_TRUE(e2p().Press(Ids::kIdRead));
    EXPECT_EQ(ReadBytes(tmp / "zeros.bin"), std::vector<uint8_t>(0x10, 0));
}

TEST_F(EepromPage, OnlyPersoMayEditTheProfileFields) {
    std::snprintf(g_settings.m_duts[0].m_szName, 32, "%s", "perso");
    Start();
    EXPECT_FALSE(e2p().IsWindowEnabled(Ids::kIdScc));
    LoadTrap();
    for (int id : {Ids::kIdStart, Ids::kIdSize, Ids::kIdDevice, Ids::kIdScc, Ids::kIdPio,
                   Ids::kIdCycles2, Ids::kIdCycles3})
        EXPECT_FALSE(e2p().IsWindowEnabled(id)) << id;
    ASSERT_TRUE(e2p().Type(Ids::kIdFile, "typed.bin"));
    host.QueueFileAnswer("");
    ASSERT_TRUE(e2p().Press(Ids::kIdRead));
    EXPECT_EQ(host.Prompts().back().request.initialName, "typed.bin");
    EXPECT_STREQ(profile().m_szE2pFile, "Eeprom.bin");
}

}  // namespace
