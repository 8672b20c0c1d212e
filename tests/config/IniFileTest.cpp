#include "config/IniFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/config/ConfigTestUtil.h"

using config::IniFile;
using config::ParseProfileInt;

TEST(ParseProfileInt, ReadsLikeThePlatformFunction) {
    EXPECT_EQ(ParseProfileInt("0"), 0u);
    EXPECT_EQ(ParseProfileInt("16"), 16u);
    EXPECT_EQ(ParseProfileInt("0x80000A00"), 0x80000A00u);
    EXPECT_EQ(ParseProfileInt("0XffffFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseProfileInt("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseProfileInt("+7"), 7u);
    EXPECT_EQ(ParseProfileInt("12abc"), 12u);
    EXPECT_EQ(ParseProfileInt("0x1G"), 1u);
    EXPECT_EQ(ParseProfileInt("0x"), 0u);
    EXPECT_EQ(ParseProfileInt("abc"), 0u);
    EXPECT_EQ(ParseProfileInt(""), 0u);
    // No "0x": decimal, so hexadecimal letters stop the number.
    EXPECT_EQ(ParseProfileInt("D7"), 0u);
    EXPECT_EQ(ParseProfileInt("4294967297"), 1u);
}

TEST(IniFileRead, SectionsKeysAndValues) {
    IniFile ini;
    ini.Parse(
        "orphan=1\n"
        "[Memory]\n"
        "; Start=0x1\n"
        "  START =   0x7FF00000  \n"
        "File= \"Memory.bin\"\n"
        "Empty=\n"
        "junk line\n"
        "[memory]\n"
        "Start=0x2\n"
        "Size=0x10\n");
    EXPECT_EQ(ini.GetInt("MEMORY", "start", 5), 0x7FF00000u);
    EXPECT_EQ(ini.GetString("memory", "File", "x", 32), "Memory.bin");
    // Only the first of two equal section names is read.
    EXPECT_EQ(ini.GetInt("MEMORY", "Size", 5), 5u);
    EXPECT_EQ(ini.GetString("MEMORY", "Empty", "dflt", 32), "");
    EXPECT_EQ(ini.GetInt("MEMORY", "Empty", 9), 9u);
    EXPECT_EQ(ini.GetString("MEMORY", "junk line", "none", 32), "none");
    EXPECT_EQ(ini.GetString("NOWHERE", "orphan", "none", 32), "none");
    EXPECT_FALSE(ini.HasKey("MEMORY", "; Start"));
    ini.Parse("[Other]\nK=1\n");  // a second text replaces the first
    EXPECT_EQ(ini.GetInt("MEMORY", "start", 5), 5u);
}

TEST(IniFileRead, CrlfAndCutToBuffer) {
    IniFile ini;
    ini.Parse("[A]\r\nName= 0123456789abcdef\r\nLast=3");
    bool cut = false;
    EXPECT_EQ(ini.GetString("A", "Name", "", 11, &cut), "0123456789");
    EXPECT_TRUE(cut);
    EXPECT_EQ(ini.GetString("A", "Name", "", 32, &cut), "0123456789abcdef");
    EXPECT_FALSE(cut);
    EXPECT_EQ(ini.GetString("A", "Absent", "a long default", 5, &cut), "a lo");
    EXPECT_EQ(ini.GetInt("A", "Last", 0), 3u);
}

TEST(IniFileWrite, ReplacesInPlaceAndKeepsEverythingElse) {
    IniFile ini;
    const std::string text =
        "; header comment\n"
        "[S]\n"
        "  Key = old ; trailing\n"
        "other line\n"
        "\n"
        "[T]\n"
        "X=1\n";
    ini.Parse(text);
    ini.WriteString("s", "KEY", " new");
    EXPECT_EQ(ini.Text(), "; header comment\n[S]\n  Key = new\nother line\n\n[T]\nX=1\n");
    ini.WriteString("S", "Added", " 1");
    ini.WriteString("U", "New", " 2");
    EXPECT_EQ(ini.Text(),
              "; header comment\n[S]\n  Key = new\nother line\nAdded= 1\n\n[T]\nX=1\n"
              "[U]\nNew= 2\n");
    EXPECT_EQ(ini.GetString("U", "New", "", 32), "2");

    ini.WriteString("T", "X", " two\r\n[S]\nKey=evil");
    EXPECT_EQ(ini.GetString("T", "X", "", 32), "two");
    EXPECT_EQ(ini.GetString("S", "Key", "", 32), "new");
}

TEST(IniFileWrite, KeepsTheFilesLineEnding) {
    IniFile ini;
    ini.Parse("[S]\r\nA=1\r\n[T]\r\nB=2");
    ini.WriteString("S", "C", " 3");
    ini.WriteString("T", "D", " 4");
    ini.WriteString("V", "E", " 5");
    EXPECT_EQ(ini.Text(), "[S]\r\nA=1\r\nC= 3\r\n[T]\r\nB=2\r\nD= 4\r\n[V]\r\nE= 5\r\n");

    IniFile empty;
    empty.Parse("");
    empty.WriteString("S", "K", " v");
    EXPECT_EQ(empty.GetString("S", "K", "", 32), "v");
}

using IniFileSave = TempDirTest;

TEST_F(IniFileSave, ReplacesTheFileAndLeavesNoTemporary) {
    Write("[S]\nA=1\n");
    IniFile ini;
    ASSERT_TRUE(ini.Load(File()));
    ini.WriteString("S", "A", " 2");
    std::string error;
    ASSERT_TRUE(ini.SaveAtomic(File(), error)) << error;
    EXPECT_EQ(Read(), "[S]\nA= 2\n");
    EXPECT_FALSE(std::filesystem::exists(File("Tapwright.ini.tmp")));
}
