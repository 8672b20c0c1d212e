// The FLASH page driven as the operator drives it: main window CPU ID and LOAD, then the
// page's lists, fields and buttons, against the virtual board behind the port seam.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "config/Settings.h"
#include "link/TargetLink.h"
#include "port/PortTalk.h"
#include "port/SimPortDriver.h"
#include "support/SimLinkFixture.h"
#include "ui/AppState.h"
#include "ui/MainDlg.h"
#include "ui/MemoryUiHost.h"

namespace {

namespace fs = std::filesystem;
using P = CFlashPage;

std::string SourceDir() {
    const char* root = std::getenv("TAPWRIGHT_SOURCE_DIR");
    return root != nullptr ? root : "..";
}

std::vector<uint8_t> Bytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((i * 131 + seed * 7) >> 1);
    return out;
}

// Every text the main window's result field shows, in order.
struct ResultRecorder : IUiListener {
    std::vector<std::string> texts;
    void OnControlChanged(CDialog& dialog, int id, ControlChange what) override {
        if (id == CMainDlg::kIdResult && what == ControlChange::Text)
            texts.push_back(dialog.GetDlgItemText(id));
    }
    void OnMessageBox(const std::string&, const std::string&, unsigned, int) override {}
};

class FlashPageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetLinkSleepFunction(test::NoSleep);
        saved_.m_duts = g_settings.m_duts;
        saved_.m_devices = g_settings.m_devices;
        savedDir_ = g_settings.m_szTrapDir;
        savedWork_ = g_settings.m_workDir;
        savedFlashNum_ = g_settings.m_nFlashNum;
        dir_ = fs::temp_directory_path() /
               ("tapwright-flash-" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        g_settings.m_workDir = SourceDir();
        g_settings.m_szTrapDir = "/TrapHandlers/";
        g_settings.m_nDutNum = g_settings.m_nFlashNum = 0;
        SetLogTarget((dir_ / "log.txt").string(), false);
        host_.SetListener(&results_);
        SetUiHost(&host_);
    }

    void TearDown() override {
        if (dlg_) {
            g_link.Close();
            CloseLog();
            dlg_->DestroyWindow();
            dlg_.reset();
        }
        port::SelectPortDriver(nullptr);
        SetUiHost(nullptr);
        SetLinkSleepFunction(nullptr);
        g_settings.m_duts = saved_.m_duts;
        g_settings.m_devices = saved_.m_devices;
        g_settings.m_szTrapDir = savedDir_;
        g_settings.m_workDir = savedWork_;
        g_settings.m_nFlashNum = savedFlashNum_;
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    FlashBank& Bank(size_t i = 0) { return g_settings.m_duts[0].m_banks.at(i); }
    void SetBank(uint32_t org, const std::vector<int>& map = {}) {
        Bank().m_nOrg = org;
        for (uint32_t i = 0; i < 32; ++i) Bank().m_dataMap[i] = static_cast<uint8_t>(i);
        for (size_t i = 0; i < map.size(); ++i) Bank().m_dataMap[i] = static_cast<uint8_t>(map[i]);
    }

    // Builds the board, opens the window, runs CPU ID and LOAD.
    void Open(const std::string& knobs = "") {
        sim::Options options;
        std::string error;
        ASSERT_TRUE(sim::ParseOptions(knobs, options, error)) << error;
        auto driver = std::make_unique<port::SimPortDriver>(options);
        board_ = &driver->board();
        port::SelectPortDriver(std::move(driver));
        dlg_ = std::make_unique<CMainDlg>();
        ASSERT_TRUE(dlg_->Create(nullptr));
        dlg_->ShowWindow(true);
        ASSERT_TRUE(dlg_->Press(CMainDlg::kIdCpuId)) << dlg_->LastRefusal();
        ASSERT_TRUE(dlg_->Press(CMainDlg::kIdLoad)) << dlg_->LastRefusal();
        ASSERT_TRUE(g_trapRunning);
    }
    P& Page() { return dlg_->m_tab.m_flashPage; }
    bool Press(int id) {
        const bool ok = Page().Press(id);
        EXPECT_TRUE(ok) << Page().LastRefusal();
        return ok;
    }
    std::string Field(int id) { return Page().GetDlgItemText(id); }
    const std::string& Result() { return dlg_->m_strResult; }
    const std::string& Status() { return dlg_->m_strStatus; }
    std::string Log() {
        std::ifstream in(LogPath(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // The log after the main window's CPU ID line.
    std::string PageLog() {
        const std::string log = Log();
        return log.substr(log.find('\n') + 1);
    }
    std::string File(const std::string& name) { return (dir_ / name).string(); }
    void WriteFile(const std::string& name, const std::vector<uint8_t>& data) {
        std::ofstream(File(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()),
                   static_cast<std::streamsize>(data.size()));
    }
    std::vector<uint8_t> ReadFile(const std::string& name) {
        std::ifstream in(File(name), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<uint8_t> FlashBytes(uint32_t addr, size_t n) {
        std::vector<uint8_t> out(n);
        board_->ReadBytes(addr, out.data(), n);
        return out;
    }

    CMemoryUiHost host_;
    ResultRecorder results_;
    std::unique_ptr<CMainDlg> dlg_;
    sim::Board* board_ = nullptr;
    fs::path dir_;

  private:
    struct {
        std::vector<DutProfile> m_duts;
        std::vector<FlashDeviceEntry> m_devices;
    } saved_;
    std::string savedDir_, savedWork_;
    uint32_t savedFlashNum_ = 0;
};

constexpr const char* kIdLogAmd16 =
    "Reading FLASH ID --> Manufacturer : STM (0020) 1 x Device : 29W800T (00D7) Size : 00100000 "
    "bytes\n";

TEST_F(FlashPageTest, LoadTrapOnEachBusAndWiring) {
    struct Case {
        const char* knobs;
        uint32_t org;
        std::vector<int> map;
        const char* size;
    } cases[] = {
        {"", 16, {}, "00100000"},
        {",flash-width=8,flash-mode=byte", 8, {}, "00100000"},
        {",flash-width=32", 32, {}, "00200000"},
        {",flash-wiring=reversed",
         16,
         {15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
         "00100000"},
        // Not its own inverse: commands must be routed with the inverse of the read map.
        {",flash-width=8,flash-mode=byte,flash-wiring=rotate",
         8,
         {1, 2, 3, 4, 5, 6, 7, 0},
         "00100000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.knobs);
        TearDown();
        SetUp();
        SetBank(c.org, c.map);
        if (c.org == 8) g_settings.m_devices[0].m_nWordMode = 0;
        Open(c.knobs);
        ASSERT_TRUE(Press(P::kIdLoadTrap));
        EXPECT_EQ(Field(P::kIdIdent), "0020/00D7");
        EXPECT_EQ(Field(P::kIdMaker), "STM");
        EXPECT_EQ(Field(P::kIdDevice), "29W800T");
        EXPECT_EQ(Result(), "Ok");
        EXPECT_TRUE(g_flashTrapLoaded);
        EXPECT_EQ(Field(P::kIdSize), c.size);
        EXPECT_EQ(Field(P::kIdStart), "7FF00000");
        EXPECT_TRUE(Page().IsWindowEnabled(P::kIdWrite));
        // The handler really drives the chip: an erase goes through.
        host_.QueueMessageAnswer(kIdYes);
        ASSERT_TRUE(Press(P::kIdErase));
        EXPECT_EQ(Result(), "Ok");
    }
}

TEST_F(FlashPageTest, IdentificationLogLine) {
    Open();
    ASSERT_TRUE(Press(P::kIdLoadTrap));
    EXPECT_EQ(PageLog(), kIdLogAmd16);
}

TEST_F(FlashPageTest, UnknownChipLoadsNothingAndKeepsFlags) {
    g_settings.m_devices[0].m_nId = 0x22A8;
    Open();
    const uint64_t before = board_->TrapCommandsDone();
    ASSERT_TRUE(Press(P::kIdLoadTrap));
    EXPECT_EQ(Field(P::kIdDevice), "Inconnu");
    EXPECT_EQ(Result(), "");
    EXPECT_TRUE(g_trapRunning);
    EXPECT_FALSE(g_flashTrapLoaded);
    EXPECT_FALSE(Page().IsWindowEnabled(P::kIdRead));
    // Only the nine identification cycles reached the handler.
    EXPECT_EQ(board_->TrapCommandsDone() - before, 9u);

    std::strcpy(g_settings.m_devices[0].m_szName, "inconnu");  // a row so named is no match
    g_settings.m_devices[0].m_nId = 0xD7;
    ASSERT_TRUE(Press(P::kIdLoadTrap));
    EXPECT_FALSE(g_flashTrapLoaded);
    EXPECT_EQ(Result(), "");
}

TEST_F(FlashPageTest, FailedIdentificationClearsBothFlags) {
    Open();
    ASSERT_TRUE(Press(P::kIdLoadTrap));
    board_->mutable_options().tdo = sim::Options::Tdo::StuckHigh;
    ASSERT_TRUE(Press(P::kIdLoadTrap));
    EXPECT_EQ(Result(), "!!! Error !!!");
    EXPECT_FALSE(g_trapRunning);
    EXPECT_FALSE(g_flashTrapLoaded);
    EXPECT_FALSE(Page().IsWindowEnabled(P::kIdRead));
    EXPECT_TRUE(dlg_->IsWindowEnabled(CMainDlg::kIdCpuId));
    EXPECT_EQ(PageLog(), std::string(kIdLogAmd16) + kIdLogAmd16);  // fields as they stood
}

TEST_F(FlashPageTest, MissingHandlerFileIsAFailedLoad) {
    fs::create_directories(dir_ / "handlers");
    fs::copy_file(SourceDir() + "/TrapHandlers/TrapHandler.bin", dir_ / "handlers/TrapHandler.bin");
    Open();
    g_settings.m_workDir = dir_.string();
    g_settings.m_szTrapDir = "/handlers/";
    ASSERT_TRUE(Press(P::kIdLoadTrap));
    EXPECT_EQ(Result(), "!!! Error !!!");
    EXPECT_NE(Status().find("Flash0Bus16.bin"), std::string::npos) << Status();
    EXPECT_FALSE(g_flashTrapLoaded);
    EXPECT_TRUE(g_trapRunning);  // the general handler still runs
    EXPECT_FALSE(Page().IsWindowEnabled(P::kIdErase));
    EXPECT_EQ(board_->ReadWord(0x80000F00 + 112), 0u);  // DeviceSize never written
}

TEST_F(FlashPageTest, CombinedImageIsPaddedToAWord) {
    fs::create_directories(dir_ / "handlers");
    WriteFile("handlers/TrapHandler.bin", Bytes(1001, 1));
    WriteFile("handlers/Flash0Bus16.bin", Bytes(2002, 2));
    Open();
    g_settings.m_workDir = dir_.string();
    g_settings.m_szTrapDir = "/handlers/";
    ASSERT_TRUE(Press(P::kIdLoadTrap));
    std::vector<uint8_t> expected = Bytes(1001, 1);
    const std::vector<uint8_t> flash = Bytes(2002, 2);
    expected.insert(expected.end(), flash.begin(), flash.end());
    expected.push_back(0x20);
    EXPECT_EQ(FlashBytes(0x80000A00, 3004), expected);
    EXPECT_EQ(Result(), "!!! Error !!!");  // not a handler: nothing starts
    EXPECT_FALSE(g_trapRunning);
    EXPECT_FALSE(g_flashTrapLoaded);
}

TEST_F(FlashPageTest, WidthTwentyFourUsesTheSixteenBitHandler) {
    SetBank(24);
    Open();
    EXPECT_EQ(Page().GetCurSel(P::kIdBusList), 1);
    ASSERT_TRUE(Press(P::kIdLoadTrap));
    EXPECT_EQ(board_->ReadWord(0x80000F00 + 116), 16u);  // BusWidth slot
    EXPECT_EQ(Page().m_chip.m_nBusWidth, 24u);
}

TEST_F(FlashPageTest, WriteVerifyReadRoundTrip) {
    Open();
    ASSERT_TRUE(Press(P::kIdLoadTrap));
    host_.QueueMessageAnswer(kIdNo);
    ASSERT_TRUE(Press(P::kIdErase));  // No: nothing happens, no log line
    EXPECT_EQ(Result(), "");
    host_.QueueMessageAnswer(kIdYes);
    ASSERT_TRUE(Press(P::kIdErase));

    const std::vector<uint8_t> image = Bytes(6000, 3);
    WriteFile("image.rom", image);
    ASSERT_TRUE(Page().Type(P::kIdSize, "1388"));  // shorter than the file: 5000 bytes
    host_.QueueFileAnswer(File("image.rom"));
    ASSERT_TRUE(Press(P::kIdWrite));
    EXPECT_EQ(Field(P::kIdFile), "image.rom");
    EXPECT_EQ(FlashBytes(0x7FF00000, 5000),
              std::vector<uint8_t>(image.begin(), image.begin() + 5000));
    EXPECT_EQ(FlashBytes(0x7FF00000 + 5000, 2), std::vector<uint8_t>(2, 0xFF));

    host_.QueueFileAnswer(File("image.rom"));
    results_.texts.clear();
    ASSERT_TRUE(Press(P::kIdVerify));
    EXPECT_EQ(results_.texts,
              (std::vector<std::string>{"", "7FF007FF", "7FF00FFF", "7FF01387", "Ok"}));

    ASSERT_TRUE(Page().Type(P::kIdSize, "10"));
    host_.QueueFileAnswer(File("back.rom"));
    ASSERT_TRUE(Press(P::kIdRead));
    EXPECT_EQ(ReadFile("back.rom"), std::vector<uint8_t>(image.begin(), image.begin() + 16));

    EXPECT_NE(Log().find("Erasing Flash -->    Base address 7FF00000\n"
                         "Writing Flash -->    From : 7FF00000 Length : 00001388 bytes\n"
                         "Verifying Flash -->  From : 7FF00000 Length : 00001388 bytes Ok\n"
                         "Reading Flash -->    From : 7FF00000 Length : 00000010 bytes\n"),
              std::string::npos)
        << Log();
}

TEST_F(FlashPageTest, ShorterFileAndSizeParsing) {
    Open();
    ASSERT_TRUE(Press(P::kIdLoadTrap));
    WriteFile("short.bin", Bytes(100, 4));
    ASSERT_TRUE(Page().Type(P::kIdStart, "7FF10000"));
    ASSERT_TRUE(Page().Type(P::kIdSize, "1000"));
    host_.QueueFileAnswer(File("short.bin"));
    ASSERT_TRUE(Press(P::kIdWrite));
    EXPECT_EQ(FlashBytes(0x7FF10000, 100), Bytes(100, 4));
    EXPECT_EQ(FlashBytes(0x7FF10000 + 100, 4), std::vector<uint8_t>(4, 0xFF));

    // A cancelled dialog still logs what the fields said; larger than the bank is clamped
    // and the clamped value stored into the editable profile.
    for (const char* size : {"100000", "0x100000", "", "200000"}) {
        ASSERT_TRUE(Page().Type(P::kIdSize, size));
        host_.QueueFileAnswer("");
        ASSERT_TRUE(Press(P::kIdVerify));
        EXPECT_EQ(Result(), "!!! Error !!!");
    }
    EXPECT_NE(Log().find("Length : 00100000 bytes Ko\n"
                         "Verifying Flash -->  From : 7FF10000 Length : 00000000 bytes Ko\n"
                         "Verifying Flash -->  From : 7FF10000 Length : 00000000 bytes Ko\n"
                         "Verifying Flash -->  From : 7FF10000 Length : 00100000 bytes Ko\n"),
              std::string::npos)
        << Log();
    EXPECT_EQ(Bank().m_nSize, 0x100000u);
    EXPECT_EQ(Bank().m_nStart, 0x7FF10000u);
    EXPECT_STREQ(Bank().m_szFile, "short.bin");
}

TEST_F(FlashPageTest, VerifyFailsOnSizeZeroUnreadableChunkOrZeroBuffer) {
    Open();
    ASSERT_TRUE(Press(P::kIdLoadTrap));
    WriteFile("ff.bin", std::vector<uint8_t>(64, 0xFF));  // what an erased chip holds
    ASSERT_TRUE(Page().Type(P::kIdSize, "40"));
    host_.QueueFileAnswer(File("ff.bin"));
    ASSERT_TRUE(Press(P::kIdVerify));
    EXPECT_EQ(Result(), "Ok");

    ASSERT_TRUE(Page().Type(P::kIdSize, "0"));
    host_.QueueFileAnswer(File("ff.bin"));
    ASSERT_TRUE(Press(P::kIdVerify));
    EXPECT_EQ(Result(), "!!! Error !!!");

    ASSERT_TRUE(Page().Type(P::kIdSize, "40"));
    g_settings.m_duts[0].m_nTrapSize = 0;
    host_.QueueFileAnswer(File("ff.bin"));
    ASSERT_TRUE(Press(P::kIdVerify));
    EXPECT_EQ(Result(), "!!! Error !!!");
    g_settings.m_duts[0].m_nTrapSize = 0x800;

    board_->mutable_options().noAck = true;  // the read fails; the buffer would still match
    host_.QueueFileAnswer(File("ff.bin"));
    ASSERT_TRUE(Press(P::kIdVerify));
    EXPECT_EQ(Result(), "!!! Error !!!");
    EXPECT_NE(Log().find("Length : 00000040 bytes Ok\n"), std::string::npos);
    EXPECT_EQ(Log().find("Length : 00000040 bytes Ok\n"),
              Log().rfind("Length : 00000040 bytes Ok\n"));
}

TEST_F(FlashPageTest, ReadWritesZerosForWhatFailedAndReportsIt) {
    Open();
    ASSERT_TRUE(Press(P::kIdLoadTrap));
    board_->mutable_options().noAck = true;
    ASSERT_TRUE(Page().Type(P::kIdSize, "20"));
    host_.QueueFileAnswer(File("failed.rom"));
    ASSERT_TRUE(Press(P::kIdRead));
    EXPECT_EQ(ReadFile("failed.rom"), std::vector<uint8_t>(32, 0));
    EXPECT_EQ(Result(), "!!! Error !!!");

    host_.QueueFileAnswer((dir_ / "no-such-dir" / "x.rom").string());
    ASSERT_TRUE(Press(P::kIdRead));
    EXPECT_NE(Status().find("no-such-dir"), std::string::npos) << Status();
    EXPECT_NE(Log().rfind("Reading Flash -->    From : 7FF00000 Length : 00000020 bytes\n"),
              Log().find("Reading Flash -->"));
}

TEST_F(FlashPageTest, EraseFailureLogHasNoLineEnd) {
    Open(",erase-fails");
    ASSERT_TRUE(Press(P::kIdLoadTrap));
    host_.QueueMessageAnswer(kIdYes);
    ASSERT_TRUE(Press(P::kIdErase));
    EXPECT_EQ(Result(), "!!! Error !!!");
    ASSERT_EQ(host_.Prompts().size(), 1u);
    EXPECT_EQ(host_.Prompts()[0].text, "Confirmation ?");
    EXPECT_EQ(host_.Prompts()[0].caption, "Effacement de la FLASH");
    host_.QueueFileAnswer("");
    ASSERT_TRUE(Press(P::kIdRead));
    EXPECT_NE(Log().find("Erasing Flash -->    Base address 7FF00000\n"
                         "Erasing Flash -->    ErrorReading Flash -->"),
              std::string::npos)
        << Log();
}

TEST_F(FlashPageTest, PresetProfileIsNotEditableNorStored) {
    std::strcpy(g_settings.m_duts[0].m_szName, "perso");
    g_settings.m_duts[0].m_banks.push_back(Bank());
    std::strcpy(Bank(1).m_szName, "Tables");
    Open();
    EXPECT_FALSE(Page().IsWindowEnabled(P::kIdBase));
    EXPECT_FALSE(Page().IsWindowEnabled(P::kIdBusList));
    EXPECT_TRUE(Page().IsWindowEnabled(P::kIdBankList));
    ASSERT_TRUE(Press(P::kIdLoadTrap));
    ASSERT_TRUE(Page().Type(P::kIdStart, "7FF00010"));
    ASSERT_TRUE(Page().Type(P::kIdSize, "8"));
    host_.QueueFileAnswer(File("preset.rom"));
    ASSERT_TRUE(Press(P::kIdRead));
    EXPECT_EQ(ReadFile("preset.rom").size(), 8u);  // typed values used ...
    EXPECT_EQ(Bank().m_nStart, 0x7FF00000u);       // ... never stored
    EXPECT_STREQ(Bank().m_szFile, "Flash0.rom");

    ASSERT_TRUE(Page().Select(P::kIdBankList, 1));  // another bank: operations off again
    EXPECT_EQ(g_settings.m_nFlashNum, 1u);
    EXPECT_FALSE(Page().IsWindowEnabled(P::kIdRead));
    EXPECT_TRUE(Page().IsWindowEnabled(P::kIdLoadTrap));
}

TEST_F(FlashPageTest, OneBankProfileAndBusChoiceAtNextLoadTrap) {
    SetBank(16);
    g_settings.m_devices[0].m_nWordMode = 0;
    Open(",flash-width=8,flash-mode=byte");
    EXPECT_FALSE(Page().IsWindowEnabled(P::kIdBankList));
    EXPECT_TRUE(Page().IsWindowEnabled(P::kIdBusList));
    ASSERT_TRUE(Press(P::kIdLoadTrap));  // a 16-bit look at an 8-bit bank finds no chip
    EXPECT_FALSE(g_flashTrapLoaded);

    ASSERT_TRUE(Page().Select(P::kIdBusList, 0));
    EXPECT_FALSE(Page().IsWindowEnabled(P::kIdRead));
    EXPECT_EQ(Bank().m_nOrg, 16u);  // reaches the bank at the next read-back
    ASSERT_TRUE(Press(P::kIdLoadTrap));
    EXPECT_TRUE(g_flashTrapLoaded);
    EXPECT_EQ(board_->ReadWord(0x80000F00 + 116), 8u);

    ASSERT_TRUE(Page().Select(P::kIdBusList, 2));  // no effect on the running handler
    EXPECT_TRUE(Page().IsWindowEnabled(P::kIdRead));
    EXPECT_EQ(board_->ReadWord(0x80000F00 + 116), 8u);
    host_.QueueFileAnswer("");
    ASSERT_TRUE(Press(P::kIdVerify));
    EXPECT_EQ(Bank().m_nOrg, 32u);
}

}  // namespace
