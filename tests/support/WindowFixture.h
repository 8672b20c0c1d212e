// The main window on a UI host (in memory, or real widgets) against a fresh virtual board:
// default settings, files and the log in a scratch folder, handlers from the source tree.
#pragma once

#include <gtest/gtest.h>

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
#include "support/TestProcess.h"
#include "ui/AppState.h"
#include "ui/MainDlg.h"
#include "ui/MemoryUiHost.h"

namespace test {

namespace fs = std::filesystem;

template <class Host>
class WindowFixture : public ::testing::Test {
  protected:
    enum : int { kCpuId = 1000, kLoad = 1022, kStatus = 1016, kResult = 1020, kTab = 1054 };

    // Every test starts from the default settings, with the handlers of the source tree.
    void SetUp() override {
        SetUiHost(&host);
        port::SetPortMessageStream(quiet);
        SetLinkSleepFunction(NoSleep);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        tmp = ScratchDir() / (std::string(info->test_suite_name()) + "-" + info->name());
        fs::create_directories(tmp);
        g_settings.Load(tmp.string());
        const char* src = std::getenv("TAPWRIGHT_SOURCE_DIR");
        g_settings.m_workDir = src != nullptr ? src : "..";
        g_currentDut = 0;
        SetLogTarget((tmp / "log.txt").string(), false);
    }
    void TearDown() override {
        if (dlg.IsWindow()) {
            dlg.OnCancel();
            dlg.DestroyWindow();
        }
        port::SelectPortDriver(nullptr);
        SetStartDriverSpec("");
        SetLinkSleepFunction(nullptr);
        SetUiHost(nullptr);
        port::SetPortMessageStream(stdout);
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
    fs::path tmp;
};

using PagesWindow = WindowFixture<MemoryUiHost>;

}  // namespace test
