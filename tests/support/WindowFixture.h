// The main window on a UI host (in memory, or real widgets) against a fresh virtual board:
// files in a scratch folder, the log there, handlers from the source tree, and the settings
// the window changes put back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config/Settings.h"
#include "link/TargetLink.h"
#include "port/DriverTable.h"
#include "port/PortTalk.h"
#include "port/SimPortDriver.h"
#include "support/SimLinkFixture.h"
#include "ui/AppState.h"
#include "ui/MainDlg.h"
#include "ui/MemoryUiHost.h"

namespace test {

namespace fs = std::filesystem;

template <class Host>
class WindowFixture : public ::testing::Test {
  protected:
    enum : int { kCpuId = 1000, kLoad = 1022, kStatus = 1016, kResult = 1020, kTab = 1054 };

    void SetUp() override {
        SetUiHost(&host);
        port::SetPortMessageStream(quiet);
        SetLinkSleepFunction(NoSleep);
        savedDuts = g_settings.m_duts;
        savedProcs = g_settings.m_procs;
        savedWorkDir = g_settings.m_workDir;
        savedSelections = {g_settings.m_nTabNum, g_settings.m_nLptNum, g_settings.m_nFlashNum,
                           g_settings.m_nDutNum};
        g_settings.m_nTabNum = g_settings.m_nLptNum = g_settings.m_nFlashNum = 0;
        g_settings.m_nDutNum = 0;
        const char* src = std::getenv("TAPWRIGHT_SOURCE_DIR");
        g_settings.m_workDir = src != nullptr ? src : "..";
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        tmp = fs::temp_directory_path() /
              (std::string("tapwright-pages-") + info->test_suite_name() + "-" + info->name());
        fs::remove_all(tmp);
        fs::create_directories(tmp);
        SetLogTarget((tmp / "log.txt").string(), false);
    }
    void TearDown() override {
        if (dlg.IsWindow()) {
            dlg.OnCancel();
            dlg.DestroyWindow();
        }
        port::SelectPortDriver(nullptr);
        SetLinkSleepFunction(nullptr);
        SetUiHost(nullptr);
        port::SetPortMessageStream(stdout);
        SetLogTarget("log.txt", false);
        g_settings.m_duts = savedDuts;
        g_settings.m_nDutCount = static_cast<uint32_t>(savedDuts.size());
        g_settings.m_procs = savedProcs;
        g_settings.m_nProcCount = static_cast<uint32_t>(savedProcs.size());
        g_settings.m_workDir = savedWorkDir;
        // The window stores its selections (the tab shown) into the settings: put them back.
        g_settings.m_nTabNum = savedSelections[0];
        g_settings.m_nLptNum = savedSelections[1];
        g_settings.m_nFlashNum = savedSelections[2];
        g_settings.m_nDutNum = savedSelections[3];
        g_currentDut = 0;
        fs::remove_all(tmp);
        if (quiet != nullptr) std::fclose(quiet);
    }

    // A fresh board with these knobs behind the port seam.
    sim::Board& Board(const std::string& knobs = "") {
        sim::Options options;
        std::string error;
        EXPECT_TRUE(sim::ParseOptions(knobs, options, error)) << error;
        auto driver = std::make_unique<port::SimPortDriver>(options);
        board = &driver->board();
        port::SelectPortDriver(std::move(driver));
        return *board;
    }
    // A driver whose device never opens.
    void NoDriver() {
        std::string error;
        auto driver = port::CreatePortDriver("remote-bitbang:127.0.0.1:1", error);
        ASSERT_NE(driver, nullptr) << error;
        port::SelectPortDriver(std::move(driver));
    }
    // A fresh board, then the window on it.
    sim::Board& Start(const std::string& knobs = "") {
        Board(knobs);
        EXPECT_TRUE(dlg.Create(nullptr));
        dlg.ShowWindow(true);
        return *board;
    }
    // CPU ID, then (when asked) the main window's LOAD, each expected to succeed.
    void CpuIdAndLoad(bool load = true) {
        ASSERT_TRUE(dlg.Press(kCpuId));
        ASSERT_EQ(Result(), "Ok");
        if (!load) return;
        ASSERT_TRUE(dlg.Press(kLoad));
        ASSERT_EQ(Result(), "Ok");
    }
    void ShowTab(int index) { ASSERT_TRUE(dlg.Select(kTab, index)); }

    std::string Status() const { return dlg.GetDlgItemText(kStatus); }
    std::string Result() const { return dlg.GetDlgItemText(kResult); }
    std::string LogText() const { return ReadText(tmp / "log.txt"); }
    bool Logged(const std::string& line) const { return LogText().find(line) != std::string::npos; }

    std::string Path(const std::string& name) const { return (tmp / name).string(); }
    static std::string ReadText(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static std::vector<uint8_t> ReadBytes(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    static void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    static std::vector<uint8_t> Pattern(size_t n, uint8_t seed) { return test::Pattern(n, seed); }

    Host host;
    std::FILE* quiet = std::tmpfile();
    CMainDlg dlg;
    sim::Board* board = nullptr;
    std::vector<DutProfile> savedDuts;
    std::vector<ProcessorEntry> savedProcs;
    std::string savedWorkDir;
    std::array<uint32_t, 4> savedSelections{};
    fs::path tmp;
};

using PagesWindow = WindowFixture<CMemoryUiHost>;

}  // namespace test
