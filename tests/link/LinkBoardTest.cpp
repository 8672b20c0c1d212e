// The whole host stack against the virtual board, through the port-device seam.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/LinkErrors.h"
#include "support/SimLinkFixture.h"

namespace {

using test::Pattern;

constexpr uint32_t kRam = 0x80000000;
constexpr uint32_t kSdram = 0xC0000000;

class LinkBoardTest : public test::SimLinkFixture {};

TEST_F(LinkBoardTest, IdCodeThroughTheWholeStack) {
    ASSERT_TRUE(OpenBoard());
    link.m_nError = 107;
    EXPECT_EQ(link.ReadIdCode(), 0x0D4C9041u);
    EXPECT_EQ(link.m_nError, 0);
    ASSERT_TRUE(OpenBoard(",idcode=0x3D4C9041"));
    EXPECT_EQ(link.ReadIdCode(), 0x3D4C9041u);
}

TEST_F(LinkBoardTest, NoTargetReadsAllOnesAndClearsError) {
    ASSERT_TRUE(OpenBoard(",no-target"));
    link.m_nError = -1;
    EXPECT_EQ(link.ReadIdCode(), 0xFFFFFFFFu);
    EXPECT_EQ(link.m_nError, 0);
}

TEST_F(LinkBoardTest, ThousandBytePeekReportsEachChunk) {
    ASSERT_TRUE(OpenBoard());
    const auto data = Pattern(1000, 3);
    board().WriteBytes(kSdram + 0x100, data.data(), data.size());
    link.SetProgressMode(ProgressMode::kRead);
    std::vector<uint8_t> back(1000);
    ASSERT_TRUE(link.ReadMemory(kSdram + 0x100, 1000, back.data()));
    EXPECT_EQ(back, data);
    EXPECT_EQ(
        observer.calls,
        (std::vector<std::string>{
            "StartProgress(1000)", "ShowAddress(C00001FF)", "SetProgress(256)",
            "ShowAddress(C00002FF)", "SetProgress(512)", "ShowAddress(C00003FF)",
            "SetProgress(768)", "ShowAddress(C00004E7)", "SetProgress(1000)", "StartProgress(0)"}));
}

TEST_F(LinkBoardTest, WordsEmiAndSnapshot) {
    ASSERT_TRUE(OpenBoard());
    uint32_t emi[16];
    for (uint32_t i = 0; i < 16; ++i) emi[i] = 0x0A000000u | (i * 0x1111);
    link.m_pEmiConfig = emi;
    ASSERT_TRUE(link.BeginSession());
    link.WriteEmiConfig();
    EXPECT_TRUE(link.PokeWord(kRam + 0x40 * 4, 0xCAFEF00D));
    uint32_t word = 0;
    EXPECT_TRUE(link.PeekWord(kRam + 0x40 * 4, word));
    EXPECT_TRUE(link.SaveDcuSnapshot());
    link.EndSession();
    EXPECT_EQ(word, 0xCAFEF00Du);
    EXPECT_EQ(board().ReadWord(kRam + 0x100), 0xCAFEF00Du);
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(board().ReadWord(0x2000 + 4 * i), emi[i]) << i;
    EXPECT_EQ(link.m_nLastCount, 144u);
    EXPECT_EQ(link.m_dcuSnapshot[0], board().ReadWord(0x3000));
    EXPECT_TRUE(observer.calls.empty());
}

TEST_F(LinkBoardTest, CloseRestoresSavedVectorsAndReleasesReset) {
    ASSERT_TRUE(OpenBoard());
    const auto original = Pattern(16, 0x40);
    board().WriteBytes(0x80000040, original.data(), 16);
    ASSERT_TRUE(link.BeginSession());
    ASSERT_TRUE(link.SaveTrapVectors(link.m_savedVectors));
    const uint8_t block[16] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0, 1, 0, 0x80, 0, 2, 0, 0x80};
    ASSERT_TRUE(link.WriteTrapVectors(block));
    link.EndSession();
    EXPECT_EQ(Backdoor(0x80000040, 16), std::vector<uint8_t>(block, block + 16));
    link.Close();
    EXPECT_EQ(Backdoor(0x80000040, 16), original);
    EXPECT_FALSE(link.m_bVectorsSaved);
    EXPECT_EQ(board().ReadData(), 0x10);
    EXPECT_TRUE(observer.calls.empty());
    const uint64_t clocks = board().Clocks();
    link.Close();
    EXPECT_EQ(board().Clocks(), clocks);
}

}  // namespace
