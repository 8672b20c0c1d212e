// The MEMORY page through the main window against the virtual board.
#include <cstring>

#include "support/WindowFixture.h"
#include "ui/MemoryPage.h"

namespace {

using Ids = CMemoryPage;

class MemoryPage : public test::PagesWindow {
  protected:
    CMemoryPage& mem() { return dlg.m_tab.m_memoryPage; }
    void Fields(const std::string& start, const std::string& size) {
        ASSERT_TRUE(mem().Type(Ids::kIdStart, start));
        ASSERT_TRUE(mem().Type(Ids::kIdSize, size));
    }
    // An SDRAM image: header fields as given, the rest a pattern.
    static std::vector<uint8_t> Image(const char* tag, uint32_t length, uint32_t address,
                                      uint32_t word20 = 0, size_t fileLength = 0) {
        std::vector<uint8_t> v = Pattern(fileLength != 0 ? fileLength : length, 0x31);
        auto put = [&](size_t at, uint32_t w) {
            for (int i = 0; i < 4 && at + i < v.size(); ++i) v[at + i] = uint8_t(w >> (8 * i));
        };
        std::memcpy(v.data(), tag, std::min<size_t>(8, v.size()));
        put(8, length);
        put(12, address);
        put(20, word20);
        return v;
    }
    void Load(const std::vector<uint8_t>& image) {
        WriteBytes(tmp / "image.rom", image);
        host.QueueFileAnswer(Path("image.rom"));
        ASSERT_TRUE(mem().Press(Ids::kIdLoad));
    }
};

TEST_F(MemoryPage, ReadAndWriteMoveTheFieldsRangeAndLogIt) {
    sim::Board& b = Start();
    ShowTab(2);
    EXPECT_FALSE(mem().IsWindowEnabled(Ids::kIdRead));
    CpuIdAndLoad(false);
    EXPECT_TRUE(mem().IsWindowEnabled(Ids::kIdRead));
    EXPECT_FALSE(mem().IsWindowEnabled(Ids::kIdGo));

    const std::vector<uint8_t> data = Pattern(0x1000, 5);
    WriteBytes(tmp / "in.rom", data);
    Fields("C0000000", "1000");
    host.QueueFileAnswer(Path("in.rom"));
    ASSERT_TRUE(mem().Press(Ids::kIdWrite));
    EXPECT_EQ(Status(), "Write Memory Data");
    EXPECT_EQ(g_settings.m_nMemStart, 0xC0000000u);
    EXPECT_EQ(g_settings.m_nMemSize, 0x1000u);
    EXPECT_STREQ(g_settings.m_szMemFile, "Memory.bin");  // stored before the dialog
    EXPECT_EQ(mem().GetDlgItemText(Ids::kIdFile), "in.rom");

    host.QueueFileAnswer(Path("out"));  // the default extension is added
    ASSERT_TRUE(mem().Press(Ids::kIdRead));
    EXPECT_EQ(ReadBytes(tmp / "out.rom"), data);
    ASSERT_EQ(host.Prompts().size(), 2u);
    EXPECT_FALSE(host.Prompts()[1].request.open);
    EXPECT_EQ(host.Prompts()[1].request.filter,
              "Rom File (*.rom)|*.rom|Binary File (*.bin)|*.bin||");
    EXPECT_EQ(host.Prompts()[1].request.initialName, "in.rom");
    EXPECT_TRUE(
        Logged("Writing Memory -->   From : C0000000 Length : 00001000 bytes\n"
               "Reading Memory -->   From : C0000000 Length : 00001000 bytes\n"));

    // A file shorter than Size writes only its bytes; an unaligned odd range reads exactly.
    WriteBytes(tmp / "short.rom", std::vector<uint8_t>(5, 0xEE));
    Fields("C0000003", "10");
    host.QueueFileAnswer(Path("short.rom"));
    ASSERT_TRUE(mem().Press(Ids::kIdWrite));
    std::vector<uint8_t> got(16);
    b.ReadBytes(0xC0000000, got.data(), got.size());
    std::vector<uint8_t> want(data.begin(), data.begin() + 16);
    std::fill(want.begin() + 3, want.begin() + 8, 0xEE);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(Logged("Writing Memory -->   From : C0000003 Length : 00000010 bytes\n"));
    Fields("C0000002", "7");
    host.QueueFileAnswer(Path("odd.bin"));
    ASSERT_TRUE(mem().Press(Ids::kIdRead));
    EXPECT_EQ(ReadBytes(tmp / "odd.bin"), std::vector<uint8_t>(want.begin() + 2, want.begin() + 9));

    // A cancelled dialog still logs; the controls come back.
    host.QueueFileAnswer("");
    ASSERT_TRUE(mem().Press(Ids::kIdRead));
    EXPECT_TRUE(
        Logged("Reading Memory -->   From : C0000002 Length : 00000007 bytes\n"
               "Reading Memory -->   From : C0000002 Length : 00000007 bytes\n"));
    EXPECT_TRUE(mem().IsWindowEnabled(Ids::kIdRead));
}

TEST_F(MemoryPage, FilesThatCannotBeUsedAndAFailedReadAreReported) {
    sim::Board& b = Start();
    ShowTab(2);
    CpuIdAndLoad(false);
    Fields("C0000000", "20");
    host.QueueFileAnswer(Path("no-such-dir/out.rom"));
    ASSERT_TRUE(mem().Press(Ids::kIdRead));
    EXPECT_NE(Status().find("Cannot create"), std::string::npos);
    EXPECT_EQ(Result(), "*** Error ***");
    EXPECT_TRUE(mem().IsWindowEnabled(Ids::kIdRead));

    host.QueueFileAnswer(Path("missing.rom"));
    ASSERT_TRUE(mem().Press(Ids::kIdWrite));
    EXPECT_NE(Status().find("Cannot open"), std::string::npos);
    EXPECT_TRUE(Logged("Writing Memory -->   From : C0000000 Length : 00000020 bytes\n"));

    // What a failed read did not fill reaches the file as zeros.
    b.mutable_options().badHeader = true;
    host.QueueFileAnswer(Path("zeros.rom"));
    ASSERT_TRUE(mem().Press(Ids::kIdRead));
    EXPECT_EQ(ReadBytes(tmp / "zeros.rom"), std::vector<uint8_t>(0x20, 0));
}

TEST_F(MemoryPage, SdramImagesAreCheckedRuleByRule) {
    sim::Board& b = Start();
    ShowTab(2);
    CpuIdAndLoad(false);
    struct Case {
        std::vector<uint8_t> image;
        bool accepted;
        const char* what;
    };
    const Case cases[] = {
        {Image("main1000", 0x1000, 0xC0000000), true, "main1000"},
        {Image("TSVR2000", 0x1000, 0xC0100000), true, "TSVR2000"},
        {Image("tsvr2000", 0x1000, 0xC0200000), false, "tag in lower case"},
        {Image("main1000", 0x1004, 0xC0200000, 0, 0x1000), false, "length not the file's"},
        {Image("main1000", 0x1000, 0xBFFFF000), false, "below SDRAM"},
        {Image("main1000", 0x1000, 0xC07FF000), true, "ends at the window's end"},
        {Image("main1000", 0x1004, 0xC07FF000), false, "ends past the window"},
        {Image("main1000", 0x1000, 0xC0300000, 1), false, "word at offset 20"},
        {Image("main1000", 0x100, 0xC0400000, 0, 0xFF), false, "shorter than the header"},
        {Image("main1000", 0x10, 0xC0500000, 0, 0x10), false, "sixteen bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint32_t address = 0, length = 0;
        std::memcpy(&length, c.image.data() + 8, 4);
        std::memcpy(&address, c.image.data() + 12, 4);
        const bool inSdram = address >= 0xC0000000 && address < 0xC0800000;
        if (inSdram) b.WriteBytes(address, std::vector<uint8_t>(8, 0).data(), 8);
        const size_t logBefore = LogText().size();
        Load(c.image);
        EXPECT_EQ(Status(), "Load File in SDRAM Memory");
        // The fields follow the header either way.
        EXPECT_EQ(mem().GetDlgItemText(Ids::kIdStart), Hex8(address));
        EXPECT_EQ(mem().GetDlgItemText(Ids::kIdSize), Hex8(length));
        EXPECT_EQ(mem().IsWindowEnabled(Ids::kIdGo), c.accepted);
        const std::string line = LogText().substr(logBefore);
        if (c.accepted) {
            EXPECT_EQ(line, "Load Memory -->      From : " + Hex8(address) +
                                " Length : " + Hex8(length) + " bytes\n");
            std::vector<uint8_t> back(length);
            b.ReadBytes(address, back.data(), back.size());
            EXPECT_EQ(back, c.image);
        } else {
            EXPECT_EQ(line, "Load Memory -->      File not conform");
            EXPECT_EQ(Result(), "*** Error ***");
            if (inSdram) {
                uint8_t first[8] = {};
                b.ReadBytes(address, first, 8);
                EXPECT_NE(std::memcmp(first, c.image.data(), 8), 0) << "memory was written";
            }
        }
    }
    // A cancelled LOAD logs nothing.
    const size_t logBefore = LogText().size();
    host.QueueFileAnswer("");
    ASSERT_TRUE(mem().Press(Ids::kIdLoad));
    EXPECT_EQ(LogText().size(), logBefore);
}

TEST_F(MemoryPage, GoAfterLoadEntersAtTheLastTwoBytesAndLeavesEveryPageDisabled) {
    sim::Board& b = Start();
    ShowTab(2);
    CpuIdAndLoad();
    Load(Image("main1000", 0x1000, 0xC0000000));
    ASSERT_TRUE(mem().IsWindowEnabled(Ids::kIdGo));
    ASSERT_TRUE(mem().Press(Ids::kIdGo));
    EXPECT_EQ(b.GoAddress(), 0xC0000FFEu);
    EXPECT_EQ(Status(), "Running from SDRAM");
    EXPECT_EQ(Result(), "C0000FFE");
    EXPECT_TRUE(Logged("Instruction -->      Go from SDRAM\n"));
    EXPECT_FALSE(g_cpuIdentified || g_trapRunning || g_flashTrapLoaded);
    EXPECT_EQ(g_settings.m_nMemStart, 0xC0000000u);
    EXPECT_EQ(g_settings.m_nMemSize, 0x1000u);
    EXPECT_TRUE(dlg.IsWindowEnabled(kCpuId));
    EXPECT_FALSE(dlg.IsWindowEnabled(kLoad));
    for (CPage* page : dlg.m_tab.m_pages) {
        for (const ControlState& c : page->Controls()) {
            if (c.kind == ControlKind::PushButton) {
                EXPECT_FALSE(c.enabled) << c.text;
            }
        }
    }
}

}  // namespace
