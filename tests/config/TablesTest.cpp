#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "config/Settings.h"
#include "tests/config/ConfigTestUtil.h"

namespace {

using TablesTest = SettingsFileTest;

TEST_F(TablesTest, ProcessorLookupWithTheDefaultTable) {
    auto s = LoadText("");
    EXPECT_EQ(LookupProcessor(*s, 0x1D4C9041), "STi-5508 Rev 1");
    EXPECT_EQ(LookupProcessor(*s, 0x0D4C9041), "STi-5508 Rev 0");
    EXPECT_EQ(LookupProcessor(*s, 0xFD4C9041), "STi-5508 Rev 15");
    EXPECT_EQ(LookupProcessor(*s, 0x0D4C9040), "");
    EXPECT_EQ(LookupProcessor(*s, 0x0D4C9041 ^ 0x08000000), "");
    EXPECT_EQ(LookupFlashMaker(*s, 0x20), 0);
    EXPECT_EQ(LookupFlashMaker(*s, 0x10020), -1);
    EXPECT_EQ(LookupFlashDevice(*s, 0xD7), 0);
    EXPECT_EQ(LookupFlashDevice(*s, 0xD8), -1);
}

TEST_F(TablesTest, RowsWithAndWithoutHexPrefixAndDuplicates) {
    auto s = LoadText(
        "[PROC_ST]\nNB=3\nNUM0=D4C9041   First\nNUM1=0x0D4C9041 Second\nNUM2=0X1234 Third\n"
        "[FLASH_MAN]\nNB=2\nNUM0=0x0089 INTEL\nNUM1=89 Other\n"
        "[FLASH_DEV]\nNB=2\nNUM0=22C4 29F400 BYTEMODE 80000 INTEL BOTTOM\n"
        "NUM1=0x22C4 Second WORDMODE 0x80000 AMD TOP\n");
    EXPECT_EQ(s->m_procs[0].m_nId, 0x0D4C9041u);
    EXPECT_STREQ(s->m_procs[0].m_szName, "First");
    EXPECT_EQ(s->m_procs[2].m_nId, 0x1234u);
    EXPECT_EQ(LookupProcessor(*s, 0x2D4C9041), "First Rev 2");
    EXPECT_EQ(LookupFlashMaker(*s, 0x89), 0);
    const int dev = LookupFlashDevice(*s, 0x22C4);
    ASSERT_EQ(dev, 0);
    const FlashDeviceEntry& e = s->m_devices[0];
    EXPECT_STREQ(e.m_szName, "29F400");
    EXPECT_EQ(e.m_nWordMode, 0u);
    EXPECT_EQ(e.m_nSize, 0x80000u);
    EXPECT_EQ(e.m_nAlgorithm, 1u);
    EXPECT_EQ(e.m_nTopBoot, 0u);
    EXPECT_EQ(m_warnings, "");
}

TEST_F(TablesTest, KeywordsAreCaseSensitive) {
    auto s = LoadText(
        "[FLASH_DEV]\nNB=3\nNUM0=0x1 a bytemode 0x10 intel bottom\n"
        "NUM1=0x2 b WORD_MODE 0x10 Intel TOP\nNUM2=0x3 c anything 0x10 x y\n");
    for (const FlashDeviceEntry& e : s->m_devices) {
        EXPECT_EQ(e.m_nWordMode, 1u) << e.m_szName;
        EXPECT_EQ(e.m_nAlgorithm, 0u) << e.m_szName;
        EXPECT_EQ(e.m_nTopBoot, 1u) << e.m_szName;
    }
}

TEST_F(TablesTest, CountsZeroAndMissingRows) {
    auto s = LoadText("[PROC_ST]\nNB=0\n[FLASH_MAN]\nNB=3\nNUM0=0x0001 AMD\n[FLASH_DEV]\nNB=0\n");
    EXPECT_TRUE(s->m_procs.empty());
    EXPECT_EQ(s->m_nProcCount, 0u);
    EXPECT_EQ(LookupProcessor(*s, 0x0D4C9041), "");
    EXPECT_EQ(LookupFlashDevice(*s, 0xD7), -1);
    ASSERT_EQ(s->m_makers.size(), 3u);
    EXPECT_STREQ(s->m_makers[0].m_szName, "AMD");
    EXPECT_EQ(s->m_makers[1].m_nId, 0x20u);
    EXPECT_STREQ(s->m_makers[2].m_szName, "STM");
    EXPECT_EQ(LookupFlashMaker(*s, 0x20), 1);
}

TEST_F(TablesTest, RowsWithMissingFieldsTakeTheDefaultRow) {
    auto s = LoadText(
        "[PROC_ST]\nNB=2\nNUM0=0x1234\nNUM1=nothex Name\n"
        "[FLASH_DEV]\nNB=3\nNUM0=0x1 Dev\nNUM1=0x2 Dev2 BYTEMODE zz\nNUM2=\n");
    EXPECT_EQ(s->m_procs[0].m_nId, 0x1234u);
    EXPECT_STREQ(s->m_procs[0].m_szName, "STi-5508");
    EXPECT_EQ(s->m_procs[1].m_nId, 0x0D4C9041u);
    const FlashDeviceEntry& d0 = s->m_devices[0];
    EXPECT_STREQ(d0.m_szName, "Dev");
    EXPECT_EQ(d0.m_nWordMode, 1u);
    EXPECT_EQ(d0.m_nSize, 0x00100000u);
    EXPECT_EQ(d0.m_nAlgorithm, 0u);
    EXPECT_EQ(d0.m_nTopBoot, 1u);
    EXPECT_EQ(s->m_devices[1].m_nWordMode, 0u);
    EXPECT_EQ(s->m_devices[1].m_nSize, 0x00100000u);
    EXPECT_STREQ(s->m_devices[2].m_szName, "29W800T");
    for (const char* key : {"[PROC_ST] NUM0", "[PROC_ST] NUM1", "[FLASH_DEV] NUM0",
                            "[FLASH_DEV] NUM1", "[FLASH_DEV] NUM2"})
        EXPECT_NE(m_warnings.find(key), std::string::npos) << key;
}

TEST_F(TablesTest, LongNamesAndKeywordsAreCut) {
    const std::string longName(40, 'N');
    auto s = LoadText("[FLASH_DEV]\nNUM0=0x1 " + longName +
                      " BYTEMODEBYTEMODEBYTEMODE 0x10 INTELINTELINTELINTEL BOTTOM\n"
                      "[FLASH_MAN]\nNUM0=0x1 " +
                      longName + "\n");
    EXPECT_EQ(std::string(s->m_devices[0].m_szName), std::string(31, 'N'));
    EXPECT_EQ(std::string(s->m_makers[0].m_szName), std::string(31, 'N'));
    // Cut words are not the keywords.
    EXPECT_EQ(s->m_devices[0].m_nWordMode, 1u);
    EXPECT_EQ(s->m_devices[0].m_nAlgorithm, 0u);
    EXPECT_EQ(s->m_devices[0].m_nSize, 0x10u);
    EXPECT_EQ(s->m_devices[0].m_nTopBoot, 0u);
    EXPECT_NE(m_warnings.find("cut"), std::string::npos);

    s = LoadText("[FLASH_MAN]\nNUM0=0x1 " + std::string(31, 'N') + "\n");  // fits exactly
    EXPECT_EQ(std::string(s->m_makers[0].m_szName), std::string(31, 'N'));
    EXPECT_EQ(m_warnings.find("cut"), std::string::npos);
}

TEST_F(TablesTest, TablesAreWrittenOnlyOnTheFirstRun) {
    auto s = LoadText("[PROC_ST]\nNB=2\nNUM0=abc\n");
    ASSERT_TRUE(s->Save(0));
    const std::string text = Read();
    EXPECT_EQ(text.rfind("[PROC_ST]\nNB=2\nNUM0=abc\n", 0), 0u);
    EXPECT_EQ(text.find("FLASH_MAN"), std::string::npos);
}

TEST_F(TablesTest, WideIdsPrintAllTheirDigits) {
    std::filesystem::remove(File());
    auto s = std::make_unique<CSettings>(m_dir);
    s->m_makers[0].m_nId = 0x12345;
    ASSERT_TRUE(s->Save(0));
    EXPECT_NE(Read().find("[FLASH_MAN]\nNB= 1\nNUM0= 0x12345 STM\n"), std::string::npos);
}

}  // namespace
