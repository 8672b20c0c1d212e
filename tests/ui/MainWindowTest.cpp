// The main window, its page container, the About box and the two target commands, through
// the in-memory host, against the virtual board behind the port seam.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <vector>

#include "flash/TrapImage.h"
#include "support/WindowFixture.h"
#include "ui/AboutDlg.h"
#include "ui/MainApp.h"

namespace fs = std::filesystem;

namespace {

// The window is created but not shown, as the application does before its modal run.
class MainWindow : public test::PagesWindow {
  protected:
    void Create() { ASSERT_TRUE(dlg.Create(nullptr)); }

    // The enabled state of the main window's controls the state tables name.
    std::map<std::string, bool> MainState() {
        return {{"cpuid", dlg.IsWindowEnabled(1000)},    {"load", dlg.IsWindowEnabled(1022)},
                {"progress", dlg.IsWindowEnabled(1011)}, {"lpt", dlg.IsWindowEnabled(1025)},
                {"dut", dlg.IsWindowEnabled(1033)},      {"fin", dlg.IsWindowEnabled(2)}};
    }
    static std::map<std::string, bool> State(bool cpuid, bool load, bool progress, bool lpt,
                                             bool dut, bool fin) {
        return {{"cpuid", cpuid}, {"load", load}, {"progress", progress},
                {"lpt", lpt},     {"dut", dut},   {"fin", fin}};
    }
    void HandlerFile(const std::vector<uint8_t>& bytes) {
        fs::create_directories(tmp / "TrapHandlers");
        WriteBytes(tmp / "TrapHandlers" / "TrapHandler.bin", bytes);
        g_settings.m_workDir = tmp.string();
    }
    std::vector<uint8_t> RealHandler() {
        return ReadBytes(fs::path(g_settings.m_workDir) / "TrapHandlers" / "TrapHandler.bin");
    }
};

// Board (knobs; none: no port driver until the cable comes) or handler file, then CPU ID and
// LOAD presses: after each, the enabled controls (CPU ID, LOAD, progress, port, DUT, Fin), a
// piece of the status, the result and a piece of the log.
TEST_F(MainWindow, StartUpCpuIdAndLoadOnEveryBoardAndHandlerFile) {
    struct Press {
        int id;  // 0: start-up; -1: the cable comes
        std::string state, status, result, log;
    };
    const std::string cpu = "Read CPU ID Code", err = "!!! Error !!!",
                      load = "Load Trap Handler without FLASH management";
    const Press id{1000, "011011", cpu, "Ok", "Processor STi-5508 Rev 0 (0D4C9041) Ok\n"};
    const Press loaded{1022, "011011", load, "Ok", ""};
    // Failures first: the window object is reused and keeps its fields.
    const std::vector<std::pair<std::string, std::vector<Press>>> rows = {
        {",no-target",
         {{1000, "100111", cpu, err, "Processor Erreur ou Inconnu (FFFFFFFF)"},
          {1022, "100111", load, "", ""}}},  // no session: nothing else changes
        {"missing", {id, {1022, "011011", "TrapHandler.bin", err, ""}}},
        {"oversized", {id, {1022, "011011", "too large", err, ""}}},
        {"none",
         {{0, "100111", "tapwright-sim --listen", err, ""},
          {1000, "100111", "", err, ""},
          {-1, "", "", "", ""},
          {1000, "011011", cpu, "Ok", ""}}},
        {"",
         {{0, "100111", "Load Service Port Talk and Init JTAG", "Ok", ""},
          id,
          {1000, "011011", cpu, "Ok", ""},  // once identified, a click does nothing
          loaded}},
        {",idcode=0x3D4C9041",
         {{1000, "011011", cpu, "Ok", "Processor STi-5508 Rev 3 (3D4C9041) Ok\n"}, loaded}},
    };
    const std::string handlers = g_settings.m_workDir;
    for (const auto& [knobs, presses] : rows) {
        SCOPED_TRACE(knobs);
        g_settings.Load(tmp.string());
        g_settings.m_workDir = knobs == "missing" ? (tmp / "none").string() : handlers;
        if (knobs == "oversized") HandlerFile(std::vector<uint8_t>(kMaxTrapImage + 1, 0x11));
        if (knobs == "none") {
            NoDriver();
            SetLogTarget((tmp / "no-such-dir" / "log.txt").string(), false);  // no log either
        } else {
            Board(knobs[0] == ',' ? knobs : "");
        }
        g_cpuIdentified = true;
        Create();
        EXPECT_FALSE(g_cpuIdentified || g_link.HandlerRunning());
        EXPECT_EQ(g_link.m_nTrapBase, g_settings.m_duts[0].m_nTrapIptr);
        EXPECT_EQ(dlg.m_tab.m_eepromPage.GetDlgItemText(1045),
                  Hex8(g_settings.m_duts[0].m_nE2pScc));
        EXPECT_TRUE(knobs != "none" || host.Prompts().back().text == Status());
        EXPECT_EQ(dlg.SystemMenu().back().text, "&A propos de Tapwright...");
        EXPECT_EQ(dlg.GetIcon(), 128);
        EXPECT_EQ(dlg.GetLBText(1033, dlg.GetCurSel(1033)), g_settings.m_duts[0].m_szName);
        EXPECT_EQ(dlg.m_tab.m_flashPage.GetDlgItemText(1039),
                  Hex8(g_settings.m_duts[0].m_banks[0].m_nBase));
        for (const Press& p : presses) {
            SCOPED_TRACE(p.id);
            if (p.id < 0) {
                Board();
                continue;
            }
            const size_t logged = LogText().size();
            const auto pumps = host.PumpCount();
            const bool again = p.id == 1000 && g_cpuIdentified;
            if (again) dlg.EnableWindow(1000, true);
            if (p.id == 1022 && !g_cpuIdentified) {
                dlg.OnLoadTrap();
            } else if (p.id != 0) {
                ASSERT_TRUE(dlg.Press(p.id));
            }
            EXPECT_TRUE(!again || host.PumpCount() == pumps) << "a second CPU ID did something";
            if (again) dlg.EnableWindow(1000, false);
            std::string state;
            for (int c : {1000, 1022, 1011, 1025, 1033, 2}) state += "01"[dlg.IsWindowEnabled(c)];
            EXPECT_EQ(state, p.state);
            EXPECT_NE(Status().find(p.status), std::string::npos) << Status();
            EXPECT_EQ(Result(), p.result);
            EXPECT_NE(LogText().substr(logged).find(p.log), std::string::npos);
            const std::string shown = dlg.GetDlgItemText(1002) + " (" + dlg.GetDlgItemText(1001);
            EXPECT_TRUE(p.id != 1000 || p.log.find(shown) != std::string::npos || p.log.empty())
                << shown;
            if (p.id != 1022) continue;
            const bool ok = p.result == "Ok";
            EXPECT_EQ(g_link.HandlerRunning(), ok);
            EXPECT_EQ(dlg.m_tab.m_miscPage.IsWindowEnabled(1026), ok);
            if (ok || p.result.empty()) {  // shown once loaded, never without a session
                EXPECT_EQ(dlg.GetDlgItemText(1035),
                          ok ? Hex8(g_settings.m_duts[0].m_nTrapIptr) : "");
            }
            if (!ok) continue;
            EXPECT_EQ(g_link.Program(), TargetProgram::General());
            EXPECT_EQ(dlg.GetDlgItemText(1024) + dlg.GetDlgItemText(1030),
                      Hex8(g_settings.m_duts[0].m_nTrapWptr) + Hex8(g_link.m_dcuSnapshot[1]));
        }
        EXPECT_TRUE(dlg.RequestClose());
        EXPECT_EQ(g_log, nullptr);
        dlg.DestroyWindow();
        SetLogTarget((tmp / "log.txt").string(), false);
    }
    EXPECT_TRUE(CheckTrapImageSize(kMaxTrapImage));
}

TEST_F(MainWindow, TheHandlerIsPaddedWithBlanksToWholeWords) {
    Board();
    std::vector<uint8_t> image = RealHandler();
    ASSERT_GE(image.size(), 16u) << "TrapHandlers/TrapHandler.bin is missing";
    image.resize(1001, 0xA5);  // the header's length keeps the tail out of the handler
    HandlerFile(image);
    Create();
    ASSERT_TRUE(dlg.Press(1000));
    ASSERT_TRUE(dlg.Press(1022));
    ASSERT_EQ(dlg.GetDlgItemText(1020), "Ok");
    uint8_t tail[5] = {};
    board->ReadBytes(g_link.m_nTrapBase + 1000, tail, 5);
    EXPECT_EQ(tail[0], 0xA5);
    EXPECT_EQ(std::vector<uint8_t>(tail + 1, tail + 4), std::vector<uint8_t>(3, 0x20));
    EXPECT_NE(tail[4], 0x20);  // 1004 bytes, no more
}

TEST_F(MainWindow, ProgressDivisorAndSixteenBitPosition) {
    NoDriver();
    Create();
    const ControlState& bar = *dlg.GetDlgItem(1011);
    const std::vector<std::pair<uint32_t, std::pair<uint32_t, int>>> cases = {
        {0xFFFF, {1, 0xFFFF}}, {0x10000, {2, 0x8000}}, {0x100000, {32, 0x8000}}, {0, {1, 0}}};
    for (const auto& [total, expected] : cases) {
        dlg.StartProgress(total);
        EXPECT_EQ(dlg.m_nProgressDivisor, expected.first) << total;
        EXPECT_EQ(bar.rangeMax, expected.second) << total;
    }
    dlg.StartProgress(0x100000);
    dlg.SetProgress(0x0FFFF0);
    EXPECT_EQ(bar.pos, 0x7FFF);
    dlg.StartProgress(0xFFFFFFFF);
    EXPECT_EQ(bar.rangeMax, 0xFFFF);
}

// The port list offers the emulated machine's adapters after the parallel ports; the choice is
// kept in the settings and opens on the next CPU ID; one that is gone is said, never replaced.
TEST_F(MainWindow, PortListOffersTheMachineAndKeepsTheChoice) {
    auto start = [&](const std::string& machine) {
        if (dlg.IsWindow()) dlg.OnCancel(), dlg.DestroyWindow();
        std::string error;
        auto driver = port::CreatePortDriver(machine, error);
        ASSERT_NE(driver, nullptr) << error;
        port::SelectPortDriver(std::move(driver));
        SetStartDriverSpec(machine);
        Create();
    };
    auto list = [&] {
        std::vector<std::string> items;
        for (int i = 0; i < dlg.GetCount(1025); ++i) items.push_back(dlg.GetLBText(1025, i));
        return items;
    };
    const std::string a1 = "FT2232H 0403:6010 A1 A", b2 = "FT2232H 0403:6010 B2 A";
    std::string machine = "ftdi-sim@serial=A1@serial=B2,absent@sim";
    start(machine);
    EXPECT_EQ(list(), (std::vector<std::string>{"0x378", "0x278", "0x3BC", a1, machine}));
    EXPECT_EQ(dlg.GetCurSel(1025), 4);

    machine = "ftdi-sim@serial=A1@serial=B2@sim";
    start(machine);
    EXPECT_EQ(list(), (std::vector<std::string>{"0x378", "0x278", "0x3BC", a1, b2, machine}));
    const int ports[] = {0x378, 0x278, 0x3BC};
    for (int i : {1, 2, 0}) {
        ASSERT_TRUE(dlg.Select(1025, i));
        EXPECT_EQ(g_link.m_nPort, ports[i]);
        EXPECT_EQ(g_settings.m_nLptNum, static_cast<uint32_t>(i));
    }
    ASSERT_TRUE(dlg.Select(1025, 3));
    EXPECT_EQ(g_settings.m_port, "ftdi:0403:6010,serial=A1");
    CpuIdAndLoad(false);  // through A1, the adapter wired to the board

    ASSERT_TRUE(g_settings.Save());
    g_settings.Load(tmp.string());
    start(machine);
    EXPECT_EQ(dlg.GetCurSel(1025), 3);

    start("ftdi-sim@serial=B2@sim");  // A1 unplugged: B2, wired to the board, must not stand in
    EXPECT_EQ(dlg.GetCurSel(1025), -1);
    for (int press = 0; press < 2; ++press) {
        EXPECT_NE(Status().find("ftdi:0403:6010,serial=A1"), std::string::npos) << Status();
        EXPECT_NE(Status().find("plug it in and press CPU ID"), std::string::npos);
        EXPECT_EQ(Result(), "!!! Error !!!");
        ASSERT_TRUE(dlg.Press(1000));
        EXPECT_FALSE(g_cpuIdentified);
    }
    EXPECT_EQ(g_settings.m_port, "ftdi:0403:6010,serial=A1");
}

TEST_F(MainWindow, FlashNumIsResetWhenTheProfileHasFewerBanks) {
    NoDriver();
    DutProfile two = g_settings.m_duts[0];
    two.m_banks.resize(2, two.m_banks[0]);
    two.m_nFlashCount = 2;
    std::snprintf(two.m_szName, sizeof two.m_szName, "TWO");
    DutProfile four = two;
    four.m_banks.resize(4, two.m_banks[0]);
    four.m_nFlashCount = 4;
    std::snprintf(four.m_szName, sizeof four.m_szName, "FOUR");
    g_settings.m_duts = {two, four};
    g_settings.m_nFlashNum = 3;
    Create();
    EXPECT_EQ(g_settings.m_nFlashNum, 0u);
    EXPECT_TRUE(dlg.m_tab.m_flashPage.IsWindowEnabled(1034));   // two banks: a choice
    EXPECT_FALSE(dlg.m_tab.m_flashPage.IsWindowEnabled(1036));  // only "PERSO" edits

    g_settings.m_nFlashNum = 3;
    ASSERT_TRUE(dlg.Select(1033, 1));
    EXPECT_EQ(g_settings.m_nFlashNum, 3u);
    EXPECT_EQ(dlg.m_tab.m_flashPage.GetCurSel(1034), 3);
    EXPECT_EQ(g_settings.m_nDutNum, 1u);
}

TEST_F(MainWindow, SavedTabIsShownAndAnOutOfRangeOneFallsBackToTheFirst) {
    NoDriver();
    g_settings.m_nTabNum = 2;
    Create();
    std::vector<bool> shown;
    for (Page* p : dlg.m_tab.m_pages) shown.push_back(p->IsWindowVisible());
    EXPECT_EQ(shown, (std::vector<bool>{false, false, true, false}));
    ASSERT_TRUE(dlg.Select(1054, 1));
    EXPECT_EQ(g_settings.m_nTabNum, 1u);
    EXPECT_TRUE(dlg.m_tab.m_eepromPage.IsWindowVisible());
    EXPECT_FALSE(dlg.m_tab.m_memoryPage.IsWindowVisible());

    // Pages fill the tab control below its labels, one pixel inside.
    Rect label;
    ASSERT_TRUE(dlg.GetItemRect(1054, 0, label));
    const Rect area = dlg.GetClientRect(1054);
    EXPECT_EQ(dlg.m_tab.m_miscPage.GetWindowRect(),
              (Rect{label.left, label.bottom + 1, area.right - 1, area.bottom - 1}));
    dlg.OnCancel();
    dlg.DestroyWindow();

    g_settings.m_nTabNum = 7;
    CMainDlg again;
    ASSERT_TRUE(again.Create(nullptr));
    EXPECT_TRUE(again.m_tab.m_flashPage.IsWindowVisible());
    EXPECT_EQ(g_settings.m_nTabNum, 0u);
    again.OnCancel();
}

TEST_F(MainWindow, ProfileChangeWithNoTargetStillReachesTheLinkAndThePages) {
    Board(",no-target");
    DutProfile other = g_settings.m_duts[0];
    std::snprintf(other.m_szName, sizeof other.m_szName, "OTHER");
    other.m_nTrapIptr = 0x80001000;
    other.m_nE2pScc = 0x12345678;
    g_settings.m_duts.push_back(other);
    Create();
    ASSERT_TRUE(dlg.Select(1033, 1));
    EXPECT_EQ(g_currentDut, 1u);
    EXPECT_EQ(g_link.m_nTrapBase, 0x80001000u);
    EXPECT_EQ(g_link.m_pEmiConfig, g_settings.m_duts[1].m_emi);
    EXPECT_EQ(dlg.m_tab.m_eepromPage.GetDlgItemText(1045), "12345678");
    EXPECT_FALSE(dlg.m_tab.m_eepromPage.IsWindowEnabled(1045));  // not "PERSO"
    EXPECT_EQ(board->ReadWord(kEmiBase + 16), 0u);               // no EMI word reached the target
    EXPECT_TRUE(host.Prompts().empty());
}

TEST_F(MainWindow, CloseIsRefusedWhileAnOperationRuns) {
    Board();
    Create();
    bool accepted = true;
    host.PostInput([&] { accepted = dlg.RequestClose(); });
    host.PostInput([&] { dlg.Press(2); });  // "Fin" is still enabled during LOAD
    ASSERT_TRUE(dlg.Press(1000));
    EXPECT_FALSE(accepted);
    EXPECT_FALSE(dlg.IsEnded());
    EXPECT_NE(g_log, nullptr);
    ASSERT_TRUE(dlg.Press(1022));
    EXPECT_EQ(dlg.GetDlgItemText(1020), "Ok");  // the link stayed open throughout
    EXPECT_TRUE(dlg.RequestClose());
    EXPECT_EQ(g_log, nullptr);
}

TEST_F(MainWindow, AboutBoxShowsTheVersionAndTheExecutablesDate) {
    NoDriver();
    Create();
    std::string version, date;
    host.SetModalDriver([&](CDialog& about) {
        version = about.GetDlgItemText(1030);
        date = about.GetDlgItemText(1031);
        about.Press(1);
    });
    ASSERT_TRUE(dlg.SystemCommand(kIdmAboutBox));
    EXPECT_EQ(version, "1, 0, 0, 11");
    // dd/mm/yyyy
    const bool shaped = date.size() == 10 && date[2] == '/' && date[5] == '/' &&
                        std::all_of(date.begin(), date.end(),
                                    [](char c) { return c == '/' || (c >= '0' && c <= '9'); });
    EXPECT_TRUE(shaped) << date;

    CAboutDlg::SetExecutablePath((tmp / "absent").string());
    ASSERT_TRUE(dlg.SystemCommand(kIdmAboutBox));
    EXPECT_EQ(date, "???");
    CAboutDlg::SetExecutablePath("/proc/self/exe");
}

TEST_F(MainWindow, TheApplicationRunsTheMainWindowModally) {
    NoDriver();
    bool ran = false;
    host.SetModalDriver([&](CDialog& main) {
        ran = main.IsWindowVisible() && theApp.m_pMainWnd == &main;
        main.RequestClose();
    });
    EXPECT_FALSE(theApp.InitInstance());
    EXPECT_TRUE(ran);
    EXPECT_EQ(theApp.m_pMainWnd, nullptr);
}

}  // namespace
