// The MISC. page through the main window against the virtual board.
#include "support/TrapSupport.h"
#include "support/WindowFixture.h"
#include "ui/MiscPage.h"

namespace {

class MiscPage : public test::PagesWindow {
  protected:
    CMiscPage& misc() { return dlg.m_tab.m_miscPage; }
    std::vector<bool> Buttons() {
        return {misc().IsWindowEnabled(CMiscPage::kIdMemStart),
                misc().IsWindowEnabled(CMiscPage::kIdProcId),
                misc().IsWindowEnabled(CMiscPage::kIdReboot)};
    }
    std::string Data() { return misc().GetDlgItemText(CMiscPage::kIdData); }
    const std::vector<bool> kOff{false, false, false}, kOn{true, true, true};
};

TEST_F(MiscPage, CommandsNeedARunningHandlerAndRebootTakesThemAway) {
    sim::Board& b = Start(",procid=0x3D4C9041");
    ShowTab(3);
    EXPECT_EQ(Buttons(), kOff);
    CpuIdAndLoad(false);
    EXPECT_EQ(Buttons(), kOff);
    ASSERT_TRUE(dlg.Press(kLoad));
    EXPECT_EQ(Buttons(), kOn);

    ASSERT_TRUE(misc().Press(CMiscPage::kIdMemStart));
    EXPECT_EQ(Status(), "Instruction MemStartVal");
    EXPECT_EQ(Data(), "C0000000");
    EXPECT_EQ(Buttons(), kOn);
    ASSERT_TRUE(misc().Press(CMiscPage::kIdProcId));
    EXPECT_EQ(Data(), "3D4C9041");
    EXPECT_TRUE(
        Logged("Instruction -->      MemStartVal : C0000000\n"
               "Instruction -->      ProcID : 3D4C9041\n"));

    ASSERT_TRUE(misc().Press(CMiscPage::kIdReboot));
    EXPECT_TRUE(b.Rebooted());
    EXPECT_EQ(Status(), "Instruction Reboot");
    EXPECT_EQ(Result(), "*** Reboot ***");
    EXPECT_TRUE(Logged("Instruction -->      Reboot\n"));
    EXPECT_FALSE(g_cpuIdentified || g_trapRunning || g_flashTrapLoaded);
    EXPECT_EQ(Data(), "3D4C9041");  // kept until the next MemStart or ProcID
    EXPECT_EQ(Buttons(), kOff);
    EXPECT_TRUE(dlg.IsWindowEnabled(kCpuId));
    EXPECT_FALSE(dlg.IsWindowEnabled(kLoad));
    EXPECT_TRUE(dlg.IsWindowEnabled(CMainDlg::kIdExit));
    EXPECT_FALSE(dlg.m_tab.m_memoryPage.IsWindowEnabled(1007));

    ASSERT_TRUE(dlg.Press(kCpuId));
    EXPECT_EQ(Buttons(), kOff);  // until a handler is loaded again
    ASSERT_TRUE(dlg.Press(kLoad));
    EXPECT_EQ(Buttons(), kOn);
}

TEST_F(MiscPage, AValueTheHandlerNeverDeliveredIsNotShown) {
    sim::Board& b = Start();
    ShowTab(3);
    CpuIdAndLoad();
    ASSERT_TRUE(misc().Press(CMiscPage::kIdMemStart));
    ASSERT_EQ(Data(), "C0000000");
    b.mutable_options().readyPolls = 1000;  // longer than the 64 polls a command may take
    ASSERT_TRUE(misc().Press(CMiscPage::kIdProcId));
    EXPECT_EQ(Data(), CMiscPage::kNoValue);
    EXPECT_EQ(Result(), "!!! Error !!!");
    EXPECT_NE(Status(), "Instruction ProcID");  // the link's own error text
    EXPECT_TRUE(Logged("Instruction -->      ProcID : no value\n"));
    EXPECT_EQ(Buttons(), kOn);
}

}  // namespace
