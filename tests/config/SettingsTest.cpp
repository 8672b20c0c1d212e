#include "config/Settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/config/ConfigTestUtil.h"

namespace {

using SettingsTest = SettingsFileTest;

TEST_F(SettingsTest, FirstRunCreatesTheFileWithEveryDefault) {
    auto s = Load();
    EXPECT_TRUE(s->m_bFileMissing);
    EXPECT_EQ(m_warnings, "");
    ASSERT_TRUE(s->Save());
    EXPECT_EQ(Read(), Corpus("first_run.ini"));

    // The never-written keys are not there, yet read back as their defaults.
    auto again = Load();
    EXPECT_FALSE(again->m_bFileMissing);
    const DutProfile& d = again->m_duts.at(0);
    EXPECT_EQ(d.m_nE2pScc, 0x20009000u);
    EXPECT_EQ(d.m_nE2pPio, 0x2000D000u);
    for (uint8_t i = 0; i < 16; ++i) EXPECT_EQ(d.m_banks.at(0).m_dataMap[i], i);
    EXPECT_EQ(d.m_nTrapIptr, 0x80000A00u);
    EXPECT_EQ(again->m_szTrapDir, "\\TrapHandlers\\");

    // A second run rewrites nothing: same text.
    ASSERT_TRUE(again->Save());
    EXPECT_EQ(Read(), Corpus("first_run.ini"));
}

TEST_F(SettingsTest, SelectionsOutOfRangeFallBackToZero) {
    auto s = LoadText("[DUT]\nNB=3\n[SETTINGS]\nDUT_NUM=3\nLPT_NUM=7\nFLASH_NUM=-1\n");
    EXPECT_EQ(s->m_nDutNum, 0u);
    EXPECT_EQ(s->m_nLptNum, 0u);
    EXPECT_EQ(s->m_nFlashNum, 0xFFFFFFFFu);
    EXPECT_NE(m_warnings.find("3 is not a profile (0 to 2); using 0"), std::string::npos);
    EXPECT_NE(m_warnings.find("LPT_NUM"), std::string::npos);

    s = LoadText("[DUT]\nNB=3\n[SETTINGS]\nDUT_NUM=-1\nLPT_NUM=2\n");
    EXPECT_EQ(s->m_nDutNum, 0u);
    EXPECT_EQ(s->m_nLptNum, 2u);
    s = LoadText("[DUT]\nNB=3\n[SETTINGS]\nDUT_NUM=2\n");
    EXPECT_EQ(s->m_nDutNum, 2u);
}

TEST_F(SettingsTest, OnlyAProfileNamedExactlyPersoIsSaved) {
    for (const char* name : {"perso", "PERSO2"}) {
        const std::string dut = std::string("[DUT0]\nName=") + name + "\nTRAP_Size=0x400\n";
        Write(dut);
        auto s = Load();
        s->m_duts[0].m_nTrapSize = 0x1000;
        s->m_nTabNum = 2;
        s->m_nMemSize = 0x20;
        ASSERT_TRUE(s->Save());
        EXPECT_EQ(Read(), dut +
                              "[SETTINGS]\nLPT_NUM= 0\nDUT_NUM= 0\nFLASH_NUM= 0\nTAB_NUM= 2\n"
                              "[MEMORY]\nStart= 0x7FF00000\nSize= 0x00000020\nFile= Memory.bin\n")
            << name;
    }
}

TEST_F(SettingsTest, SavesTheProfileOfTheCurrentDut) {
    auto s = LoadText("[DUT]\nNB=2\n[DUT0]\nName=Preset\n[DUT1]\nName=PERSO\n");
    s->m_duts[1].m_banks[0].m_nBase = 0x40000000;
    s->m_duts[0].m_banks[0].m_nBase = 0x50000000;
    g_currentDut = 1;
    ASSERT_TRUE(s->Save());
    const std::string text = Read();
    EXPECT_NE(text.find("[DUT1]\nName= PERSO\nFLASH_Nb= 1\nFLASH0_Name= Flash0\nFLASH0_Base= "
                        "0x40000000\n"),
              std::string::npos);
    EXPECT_EQ(text.find("0x50000000"), std::string::npos);

    // An index beyond the profiles saves no profile and does not crash.
    ASSERT_TRUE(s->Save(2));
    ASSERT_TRUE(s->Save(7));
}

TEST_F(SettingsTest, EepromTypeVariants) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"CYCLES_2", 0}, {"3", 1}, {"CYCLES_3", 1}, {"cycles_2", 1}, {" CYCLES_2 ", 0}};
    for (const auto& [text, cycles] : cases) {
        Write(std::string("[DUT0]\nE2P_Type=") + text + "\n");
        auto s = Load();
        EXPECT_EQ(s->m_duts[0].m_nE2pCycles, cycles) << text;
        ASSERT_TRUE(s->Save());
        EXPECT_NE(Read().find(cycles ? "E2P_Type= CYCLES_3\n" : "E2P_Type= CYCLES_2\n"),
                  std::string::npos)
            << text;
    }
}

TEST_F(SettingsTest, DataLineMap) {
    // Org 8 with the default list: its first eight numbers land in entries 7 down to 0.
    auto s = LoadText("[DUT0]\nFLASH0_Org=8\n");
    for (uint8_t i = 0; i < 8; ++i) EXPECT_EQ(s->m_duts[0].m_banks[0].m_dataMap[i], i + 8);
    EXPECT_EQ(m_warnings, "");

    // Numbers beyond Org are ignored.
    s = LoadText("[DUT0]\nFLASH0_Org=8\nFLASH0_Data=7 6 5 4 3 2 1 0 15 14\n");
    for (uint8_t i = 0; i < 8; ++i) EXPECT_EQ(s->m_duts[0].m_banks[0].m_dataMap[i], i);
    EXPECT_EQ(m_warnings, "");

    // A swapped byte order over 16 lines, with a run of blanks in the list.
    s = LoadText("[DUT0]\nFLASH0_Data=7 6 5 4 3 2 1 0  15 14 13 12 11 10 9 8\n");
    const uint8_t* map = s->m_duts[0].m_banks[0].m_dataMap;
    EXPECT_EQ(map[15], 7);
    EXPECT_EQ(map[8], 0);
    EXPECT_EQ(map[7], 15);
    EXPECT_EQ(map[0], 8);

    // Too few numbers: the lines below keep their own position.
    s = LoadText("[DUT0]\nFLASH0_Org=8\nFLASH0_Data=3 2\n");
    map = s->m_duts[0].m_banks[0].m_dataMap;
    EXPECT_EQ(map[7], 3);
    EXPECT_EQ(map[6], 2);
    for (uint8_t i = 0; i < 6; ++i) EXPECT_EQ(map[i], i);
    EXPECT_NE(m_warnings.find("FLASH0_Data"), std::string::npos);

    // A bit number that a 32-bit word cannot hold, or no number at all.
    s = LoadText("[DUT0]\nFLASH0_Org=5\nFLASH0_Data=31 40 x -1 0\n");
    map = s->m_duts[0].m_banks[0].m_dataMap;
    EXPECT_EQ(map[4], 31);
    EXPECT_EQ(map[3], 3);
    EXPECT_EQ(map[2], 2);
    EXPECT_EQ(map[1], 1);
    EXPECT_EQ(map[0], 0);
    EXPECT_NE(m_warnings.find("\"40\""), std::string::npos);
}

TEST_F(SettingsTest, ListedButAbsentProfileHasEveryDefault) {
    auto s = LoadText("[DUT]\nNB=2\n[DUT0]\nName=Preset\nFLASH_Nb=2\nTRAP_Size=0x400\n");
    ASSERT_EQ(s->m_duts.size(), 2u);
    EXPECT_EQ(s->m_duts[0].m_banks.size(), 2u);
    const DutProfile& d = s->m_duts[1];
    EXPECT_STREQ(d.m_szName, "PERSO");
    EXPECT_EQ(d.m_banks.size(), 1u);
    EXPECT_STREQ(d.m_banks[0].m_szName, "Flash0");
    EXPECT_EQ(d.m_banks[0].m_nOrg, 16u);
    EXPECT_EQ(d.m_nTrapSize, 0x800u);
    EXPECT_EQ(d.m_emi[4], 0x2F91u);
    EXPECT_EQ(d.m_emi[14], 0x4005u);
}

TEST_F(SettingsTest, HexValuesKeepAll32Bits) {
    auto s = LoadText("[DUT0]\nTRAP_Iptr= 0x80000A00\nE2P_Base=0xFFFFFFFF\n[MEMORY]\nStart=-1\n");
    EXPECT_EQ(s->m_duts[0].m_nTrapIptr, 0x80000A00u);
    EXPECT_EQ(s->m_duts[0].m_nE2pStart, 0xFFFFFFFFu);
    EXPECT_EQ(s->m_nMemStart, 0xFFFFFFFFu);
    s->m_duts[0].m_nTrapWptr = 0x80000001;
    s->m_nTabNum = 0x80000000;
    ASSERT_TRUE(s->Save());
    EXPECT_NE(Read().find("TRAP_Iptr= 0x80000A00\n"), std::string::npos);
    EXPECT_NE(Read().find("TAB_NUM= -2147483648\n"), std::string::npos);
    auto t = Load();
    EXPECT_EQ(t->m_duts[0].m_nTrapIptr, 0x80000A00u);
    EXPECT_EQ(t->m_duts[0].m_nTrapWptr, 0x80000001u);
    EXPECT_EQ(t->m_nMemStart, 0xFFFFFFFFu);
    EXPECT_EQ(t->m_nTabNum, 0x80000000u);
}

TEST_F(SettingsTest, HandEditsOutsideThePersoProfileSurvive) {
    const std::string preset =
        "[DUT1]\nName=Board A\nFLASH_Nb=1\nFLASH0_Base=0x40000000\nE2P_SCC=0x1\n";
    const std::string rest =
        "[FILES]\nTRAP_DIR=\\Handlers\\\n[DUT]\nNB=2\n[PROC_ST]\nNB=2\nNUM0=D4C9041 Mine\n"
        "NUM1=0x0D4C9041 STi-5508\n";
    auto s = LoadText(preset + rest);
    s->m_duts[1].m_banks[0].m_nBase = 0x1234;
    s->m_duts[1].m_nE2pScc = 0x2;
    ASSERT_TRUE(s->Save());
    const std::string text = Read();
    EXPECT_EQ(text.substr(0, preset.size() + rest.size()), preset + rest);

    // SCC and PIO changes hold for the run only.
    s->m_duts[0].m_nE2pPio = 0x77;
    ASSERT_TRUE(s->Save());
    EXPECT_EQ(Load()->m_duts[0].m_nE2pPio, 0x2000D000u);
}

TEST_F(SettingsTest, CommentsAndCrlfSurviveByteForByte) {
    const std::string original = Corpus("first_run.ini");
    // The same file as a hand-kept Windows file: CRLF, comments, blank lines, odd lines.
    std::string crlf;
    for (char c : original) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    crlf.insert(0, "; Bench 3 settings\r\n\r\n");
    crlf.replace(crlf.find("[MEMORY]"), 8, "; last used\r\n[MEMORY]");
    crlf.replace(crlf.find("[FILES]"), 7, "\r\n[FILES]");
    crlf += "\r\n[NOTES]\r\nunparsed text here\r\n";
    Write(crlf);

    auto s = Load();
    EXPECT_FALSE(s->m_bFileMissing);
    s->m_nLptNum = 1;
    ASSERT_TRUE(s->Save());
    std::string expected = crlf;
    expected.replace(expected.find("LPT_NUM= 0"), 10, "LPT_NUM= 1");
    EXPECT_EQ(Read(), expected);
}

TEST_F(SettingsTest, SaveKeepsEditsMadeWhileRunning) {
    auto s = LoadText("[SETTINGS]\nLPT_NUM=1\n");
    Write("; edited by hand while the program ran\n[DUT]\nNB=4\n");
    ASSERT_TRUE(s->Save());
    EXPECT_EQ(Read().rfind("; edited by hand while the program ran\n[DUT]\nNB=4\n", 0), 0u);
}

TEST_F(SettingsTest, FailedSaveLeavesTheOldFileAndSaysSo) {
    Write("[SETTINGS]\nLPT_NUM=1\n");
    auto s = Load();
    s->m_nLptNum = 2;
    std::filesystem::create_directory(File("Tapwright.ini.tmp"));
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(s->Save());
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("not saved"), std::string::npos);
    EXPECT_EQ(err.find('\n'), err.size() - 1);
    EXPECT_EQ(Read(), "[SETTINGS]\nLPT_NUM=1\n");
}

TEST_F(SettingsTest, BadCountsAreBounded) {
    auto s = LoadText("[DUT]\nNB=0\n");
    EXPECT_EQ(s->m_duts.size(), 1u);
    EXPECT_EQ(s->m_nDutCount, 1u);
    EXPECT_NE(m_warnings.find("[DUT] NB"), std::string::npos);

    s = LoadText("[DUT]\nNB=-1\n[PROC_ST]\nNB=100000\n");
    EXPECT_EQ(s->m_duts.size(), CSettings::kMaxCount);
    EXPECT_EQ(s->m_procs.size(), CSettings::kMaxCount);
    EXPECT_EQ(s->m_nProcCount, CSettings::kMaxCount);

    s = LoadText("[DUT0]\nFLASH_Nb=0\n[DUT]\nNB=2\n[DUT1]\nFLASH_Nb=4000000000\n");
    EXPECT_EQ(s->m_duts[0].m_banks.size(), 1u);
    EXPECT_EQ(s->m_duts[0].m_nFlashCount, 1u);
    EXPECT_EQ(s->m_duts[1].m_banks.size(), CSettings::kMaxBanks);
    EXPECT_NE(m_warnings.find("[DUT0] FLASH_Nb"), std::string::npos);
    EXPECT_NE(m_warnings.find("[DUT1] FLASH_Nb"), std::string::npos);
}

TEST_F(SettingsTest, BadProfileValuesGetSoundOnes) {
    auto s = LoadText(
        "[DUT]\nNB=3\n"
        "[DUT0]\nFLASH0_Org=0\nTRAP_Size=0\n"
        "[DUT1]\nFLASH0_Org=33\nTRAP_Size=0x803\n"
        "[DUT2]\nName=0123456789012345678901234567890123456789\nTRAP_Size=2\n");
    EXPECT_EQ(s->m_duts[0].m_banks[0].m_nOrg, 16u);
    EXPECT_EQ(s->m_duts[1].m_banks[0].m_nOrg, 16u);
    EXPECT_EQ(s->m_duts[0].m_nTrapSize, 0x800u);
    EXPECT_EQ(s->m_duts[1].m_nTrapSize, 0x800u);
    EXPECT_EQ(s->m_duts[2].m_nTrapSize, 0x800u);
    EXPECT_STREQ(s->m_duts[2].m_szName, "0123456789012345678901234567890");
    for (const char* key : {"[DUT0] FLASH0_Org", "[DUT1] FLASH0_Org", "[DUT0] TRAP_Size",
                            "[DUT1] TRAP_Size", "[DUT2] TRAP_Size", "[DUT2] Name"})
        EXPECT_NE(m_warnings.find(key), std::string::npos) << key;
}

TEST_F(SettingsTest, TrapHandlerPathReadsBackslashesAsSeparators) {
    auto s = Load();
#ifdef _WIN32
    const std::string expected = m_dir + "\\TrapHandlers\\Flash0Bus16.bin";
#else
    const std::string expected = m_dir + "/TrapHandlers/Flash0Bus16.bin";
#endif
    EXPECT_EQ(TrapHandlerPath(*s, "Flash0Bus16.bin"), expected);
    EXPECT_EQ(s->m_szTrapDir, "\\TrapHandlers\\");
    EXPECT_EQ(s->FilePath(), File());
}

TEST_F(SettingsTest, ReportShowsProfilesAndTables) {
    auto s = LoadText(
        "[DUT]\nNB=2\n[DUT1]\nName=Board A\nFLASH_Nb=2\nFLASH1_Name=Boot\n"
        "[SETTINGS]\nDUT_NUM=1\n");
    const std::string report = FormatSettingsReport(*s);
    for (const char* part :
         {"DUT profiles: 2", "DUT0 \"PERSO\"", "* DUT1 \"Board A\" (selected)",
          "FLASH1 \"Boot\": Base 0x7FF00000  Org 16", "EEPROM \"AT24C02\"", "SCC 0x20009000",
          "Iptr 0x80000A00", "EMI bank 1: 0x00002F91 0x0000D0E0 0x000050E0 0x00000001",
          "NUM0 0x0D4C9041 STi-5508", "NUM0 0x0020 STM",
          "NUM0 0x00D7 29W800T WORD_MODE 0x00100000 AMD TOP"})
        EXPECT_NE(report.find(part), std::string::npos) << part << "\n" << report;
}

}  // namespace
