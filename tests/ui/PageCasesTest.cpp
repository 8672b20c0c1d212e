// Page behaviour the operator sequences do not reach: the profile fields and what is stored
// from them, the handler a choice selects, the file dialogs' requests and the SDRAM header
// rules.
#include <cstring>
#include <filesystem>

#include "support/TestProcess.h"
#include "support/TrapSupport.h"
#include "support/WindowFixture.h"
#include "ui/EepromPage.h"
#include "ui/FlashPage.h"
#include "ui/MemoryPage.h"

namespace {

using F = CFlashPage;
using E = CEepromPage;
using M = CMemoryPage;

class PageCases : public test::PagesWindow {
  protected:
    DutProfile& Profile() { return g_settings.m_duts[0]; }
    CFlashPage& Flash() { return dlg.m_tab.m_flashPage; }
    CEepromPage& Eeprom() { return dlg.m_tab.m_eepromPage; }
    // A straight-wired bank of this bus width, then CPU ID and LOAD.
    void Ready(uint32_t org = 16) {
        FlashBank& bank = Profile().m_banks.at(0);
        bank.m_nOrg = org;
        for (uint8_t i = 0; i < 32; ++i) bank.m_dataMap[i] = i;
        Start(",clock-ns=500000");
        CpuIdAndLoad();
    }
};

TEST_F(PageCases, FlashFieldsOddBusWidthAndDevicesNamedUnknown) {
    Ready(24);
    // An operation reached without the flash handler says why in the status.
    host.QueueMessageAnswer(kIdYes);
    Flash().EnableWindow(F::kIdErase, true);
    ASSERT_TRUE(Flash().Press(F::kIdErase));
    EXPECT_EQ(Status(), "Erreur Trap non initialisé");
    EXPECT_EQ(Result(), "!!! Error !!!");
    EXPECT_EQ(Flash().GetCurSel(F::kIdBusList), 1);  // shown and loaded as 16 bits
    ASSERT_TRUE(Flash().Press(F::kIdLoadTrap));
    EXPECT_EQ(Result(), "Ok");
    EXPECT_EQ(board->ReadWord(test::kTrapParams + kSlotBusWidth), 16u);
    EXPECT_EQ(Flash().m_chip.m_nBusWidth, 24u);

    // Hex digits without a prefix, cut to the chips, kept in the PERSO bank.
    const std::pair<const char*, uint32_t> sizes[] = {
        {"100", 0x100}, {"0x100000", 0}, {"", 0}, {"200000", 0x100000}};
    for (const auto& [typed, stored] : sizes) {
        ASSERT_TRUE(Flash().Type(F::kIdSize, typed));
        host.QueueFileAnswer("");
        ASSERT_TRUE(Flash().Press(F::kIdVerify));
        EXPECT_EQ(Profile().m_banks[0].m_nSize, stored) << typed;
    }

    // A device row named "inconnu" in any case is no match: nothing is loaded and the
    // handler already running keeps serving.
    std::strcpy(g_settings.m_devices[0].m_szName, "INCONNU");
    const uint64_t commands = board->TrapCommandsDone();
    ASSERT_TRUE(Flash().Press(F::kIdLoadTrap));
    EXPECT_EQ(board->TrapCommandsDone() - commands, 9u);  // the identification cycles only
    EXPECT_TRUE(Flash().IsWindowEnabled(F::kIdErase));
}

// A copy the disc refuses only at its close is no copy.
TEST_F(PageCases, AReadWhoseFileFailsAtItsCloseIsNoCopy) {
    Ready();
    ShowTab(2);
    CMemoryPage& memory = dlg.m_tab.m_memoryPage;
    ASSERT_TRUE(memory.Type(M::kIdStart, "C0000000"));
    ASSERT_TRUE(memory.Type(M::kIdSize, "100"));
    const std::string full = (test::ScratchDir() / "full.rom").string();
    std::filesystem::remove(full);
    std::filesystem::create_symlink("/dev/full", full);
    host.QueueFileAnswer(full);
    ASSERT_TRUE(memory.Press(M::kIdRead)) << memory.LastRefusal();
    EXPECT_EQ(Status(), "Cannot write " + full);
    EXPECT_EQ(Result(), "*** Error ***");
}

TEST_F(PageCases, OnlyThePersoProfileIsEditedOrStored) {
    std::strcpy(Profile().m_szName, "perso");
    Ready();
    for (int id : {F::kIdBase, F::kIdBusList, F::kIdBankList})  // one bank: no choice either
        EXPECT_FALSE(Flash().IsWindowEnabled(id)) << id;
    ASSERT_TRUE(Flash().Press(F::kIdLoadTrap));
    ASSERT_TRUE(Flash().Type(F::kIdSize, "8"));
    host.QueueFileAnswer(Path("preset.rom"));
    ASSERT_TRUE(Flash().Press(F::kIdRead));
    EXPECT_EQ(ReadBytes(tmp / "preset.rom").size(), 8u);  // typed values are used ...
    EXPECT_NE(Profile().m_banks[0].m_nSize, 8u);          // ... never stored
    ShowTab(1);
    ASSERT_TRUE(Eeprom().Press(E::kIdLoadTrap));
    for (int id : {E::kIdStart, E::kIdSize, E::kIdDevice, E::kIdScc, E::kIdPio, E::kIdCycles3})
        EXPECT_FALSE(Eeprom().IsWindowEnabled(id)) << id;
}

TEST_F(PageCases, EepromCyclesChooseTheHandler) {
    Ready();
    ShowTab(1);
    ASSERT_TRUE(Eeprom().Press(E::kIdLoadTrap));
    ASSERT_TRUE(Eeprom().Press(E::kIdCycles3));  // into the profile at once
    EXPECT_EQ(Profile().m_nE2pCycles, 1u);
    ASSERT_TRUE(Eeprom().Press(E::kIdLoadTrap));
    const std::vector<uint8_t> three = test::HandlerImage({"TrapHandler.bin", "I2C_3Cycles.bin"});
    EXPECT_EQ(test::Backdoor(*board, g_link.m_nTrapBase, three.size()), three);
}

TEST_F(PageCases, FileDialogsAskAsEachPageSays) {
    Ready();
    const std::string rom = "Rom File (*.rom)|*.rom|Binary File (*.bin)|*.bin||";
    const std::string bin = "Binary File (*.bin)|*.bin|Rom File (*.rom)|*.rom||";
    struct Case {
        int tab, button;
        bool open;
        const char* ext;
        const std::string& filter;
    };
    const Case cases[] = {{0, F::kIdRead, false, "rom", rom},  {0, F::kIdWrite, true, "rom", rom},
                          {0, F::kIdVerify, true, "rom", rom}, {1, E::kIdRead, false, "bin", bin},
                          {1, E::kIdWrite, true, "bin", bin},  {2, M::kIdRead, false, "rom", rom},
                          {2, M::kIdWrite, true, "rom", rom},  {2, M::kIdLoad, true, "rom", rom}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        ShowTab(c.tab);
        CDialog& page = *dlg.m_tab.m_pages[c.tab];
        if (c.button == 1007 && c.tab < 2) {  // READ comes first: load the page's handler
            ASSERT_TRUE(page.Press(1044));
        }
        const std::string name = page.GetDlgItemText(1038);
        host.QueueFileAnswer("");
        ASSERT_TRUE(page.Press(c.button)) << page.LastRefusal();
        const FileDialogRequest& r = host.Prompts().back().request;
        EXPECT_EQ(r.open, c.open);
        EXPECT_EQ(r.mustExist, c.open);
        EXPECT_EQ(r.overwritePrompt, !c.open);
        EXPECT_EQ(r.defaultExt, c.ext);
        EXPECT_EQ(r.filter, c.filter);
        EXPECT_EQ(r.initialName, name);
    }
}

TEST(SdramHeader, AcceptedRuleByRule) {
    struct Case {
        const char* tag;
        uint32_t length, address, word20;
        uint64_t fileLength;
        bool accepted;
    } const cases[] = {
        {"main1000", 0x1000, 0xC0000000, 0, 0x1000, true},
        {"TSVR2000", 0x1000, 0xC0100000, 0, 0x1000, true},
        {"tsvr2000", 0x1000, 0xC0100000, 0, 0x1000, false},          // tag in lower case
        {"main1000", 0x1004, 0xC0200000, 0, 0x1000, false},          // length not the file's
        {"main1000", 0x1000, 0xBFFFF000, 0, 0x1000, false},          // below SDRAM
        {"main1000", 0x1000, 0xC07FF000, 0, 0x1000, true},           // ends at the window's end
        {"main1000", 0x1004, 0xC07FF000, 0, 0x1004, false},          // ends past it
        {"main1000", 0xFFFFF000, 0xC0000000, 0, 0xFFFFF000, false},  // would wrap in 32 bits
        {"main1000", 0x1000, 0xC0300000, 1, 0x1000, false},          // word at offset 20
        {"main1000", 0xFF, 0xC0400000, 0, 0xFF, false},              // shorter than the header
    };
    for (const Case& c : cases) {
        uint8_t header[kSdramHeaderSize] = {};
        std::memcpy(header, c.tag, 8);
        for (int i = 0; i < 4; ++i) {
            header[8 + i] = static_cast<uint8_t>(c.length >> (8 * i));
            header[12 + i] = static_cast<uint8_t>(c.address >> (8 * i));
            header[20 + i] = static_cast<uint8_t>(c.word20 >> (8 * i));
        }
        EXPECT_EQ(SdramHeaderAccepted(header, c.fileLength), c.accepted)
            << c.tag << " " << std::hex << c.length << " at " << c.address;
    }
}

}  // namespace
