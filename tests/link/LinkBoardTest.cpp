// The whole host stack against the virtual board, through the port-device seam.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "link/LinkErrors.h"
#include "support/SimLinkFixture.h"

namespace {

using test::Pattern;

constexpr uint32_t kRam = 0x80000000;
constexpr uint32_t kSdram = 0xC0000000;
constexpr uint32_t kSdramSize = 8u << 20;

class LinkBoardTest : public test::SimLinkFixture {
  protected:
    size_t StatusCount() { return observer.Matching("ShowStatus(").size(); }
};

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

TEST_F(LinkBoardTest, WriteThenReadBackAlignedBlocks) {
    ASSERT_TRUE(OpenBoard());
    for (uint32_t length : {4u, 256u, 260u, 1000u, 4096u}) {
        const auto data = Pattern(length, static_cast<uint8_t>(length));
        ASSERT_TRUE(link.WriteMemory(kRam, length, data.data())) << length;
        EXPECT_EQ(Backdoor(kRam, length), data) << length;
        std::vector<uint8_t> back(length);
        ASSERT_TRUE(link.ReadMemory(kRam, length, back.data())) << length;
        EXPECT_EQ(back, data) << length;
        EXPECT_EQ(link.m_nLastCount, length);
    }
    EXPECT_EQ(board().UnmappedReads(), 0u);
    EXPECT_EQ(board().UnmappedWrites(), 0u);
    EXPECT_TRUE(observer.calls.empty());
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

// Every start offset and short length, and lengths around a chunk: the range gets the
// data, every byte around it keeps its value, and reading back fills exactly the range.
TEST_F(LinkBoardTest, OddLengthsAndUnalignedStartsTouchOnlyTheRange) {
    ASSERT_TRUE(OpenBoard());
    constexpr uint32_t kArea = kRam + 0x1000;
    constexpr size_t kAreaSize = 600;
    const std::vector<uint32_t> lengths = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 255, 257, 259};
    for (uint32_t offset = 0; offset < 4; ++offset) {
        for (uint32_t length : lengths) {
            const auto background = Pattern(kAreaSize, 0xA0);
            board().WriteBytes(kArea, background.data(), kAreaSize);
            const uint32_t start = kArea + 8 + offset;
            const auto data = Pattern(length, static_cast<uint8_t>(offset * 31 + length));
            ASSERT_TRUE(link.WriteMemory(start, length, data.data()))
                << "offset " << offset << " length " << length;
            EXPECT_EQ(link.m_nLastCount, length);
            auto expected = background;
            std::copy(data.begin(), data.end(), expected.begin() + 8 + offset);
            EXPECT_EQ(Backdoor(kArea, kAreaSize), expected)
                << "offset " << offset << " length " << length;

            std::vector<uint8_t> back(length + 8, 0xEE);
            ASSERT_TRUE(link.ReadMemory(start, length, back.data() + 4));
            EXPECT_EQ(link.m_nLastCount, length);
            EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin() + 4))
                << "offset " << offset << " length " << length;
            for (int g = 0; g < 4; ++g) {
                EXPECT_EQ(back[g], 0xEE);
                EXPECT_EQ(back[length + 4 + g], 0xEE);
            }
        }
    }
    EXPECT_TRUE(observer.calls.empty());
}

TEST_F(LinkBoardTest, UnalignedPeekReturnsTheAskedBytesNotTheWordBelow) {
    ASSERT_TRUE(OpenBoard());
    const uint8_t words[8] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
    board().WriteBytes(kRam + 0x200, words, sizeof words);
    uint32_t value = 0;
    link.BeginSession();
    EXPECT_TRUE(link.PeekWord(kRam + 0x202, value));
    link.EndSession();
    EXPECT_EQ(value, 0x15141312u);
}

TEST_F(LinkBoardTest, RandomRoundTripsInSdram) {
    ASSERT_TRUE(OpenBoard());
    std::mt19937 rng(20240611);
    for (int round = 0; round < 24; ++round) {
        const uint32_t length = 1 + rng() % 1500;
        const uint32_t address = kSdram + rng() % (kSdramSize - length);
        std::vector<uint8_t> data(length);
        for (auto& b : data) b = static_cast<uint8_t>(rng());
        const auto before = Backdoor(address - 4, 4);
        const auto after = Backdoor(address + length, 4);
        ASSERT_TRUE(link.WriteMemory(address, length, data.data()))
            << std::hex << address << " " << length;
        std::vector<uint8_t> back(length);
        ASSERT_TRUE(link.ReadMemory(address, length, back.data()));
        EXPECT_EQ(back, data) << std::hex << address << " " << length;
        EXPECT_EQ(Backdoor(address - 4, 4), before);
        EXPECT_EQ(Backdoor(address + length, 4), after);
    }
    EXPECT_EQ(board().UnmappedWrites(), 0u);
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

// The acknowledge delays a host following the link protocol accepts (with the check right
// after the stop bit, -2 too); 15 clocks or more are missed and the byte fails.
TEST_F(LinkBoardTest, AcknowledgeDelays) {
    for (int delay = -9; delay <= 16; ++delay) {
        ASSERT_TRUE(OpenBoard(",ack-delay=" + std::to_string(delay)));
        const auto data = Pattern(12, static_cast<uint8_t>(delay));
        const bool wrote = link.WriteMemory(kRam + 0x300, 12, data.data());
        if (delay <= 14) {
            EXPECT_TRUE(wrote) << delay;
            std::vector<uint8_t> back(12);
            EXPECT_TRUE(link.ReadMemory(kRam + 0x300, 12, back.data())) << delay;
            EXPECT_EQ(back, data) << delay;
            EXPECT_EQ(StatusCount(), 0u) << delay;
        } else {
            EXPECT_FALSE(wrote) << delay;
            EXPECT_EQ(observer.calls.back(),
                      "ShowStatus(Erreur R\xC3\xA9"
                      "ception ACK)");
            EXPECT_EQ(StatusCount(), 1u);
        }
        observer.Clear();
    }
}

struct KnobCase {
    const char* knobs;
    bool write;
    int code;
};

class LinkKnobTest : public LinkBoardTest, public ::testing::WithParamInterface<KnobCase> {};

TEST_P(LinkKnobTest, ErrorShownOnceWithoutHang) {
    const KnobCase& c = GetParam();
    ASSERT_TRUE(OpenBoard(c.knobs));
    uint8_t buffer[64] = {};
    const uint64_t before = board().Clocks();
    const bool ok = c.write ? link.WriteMemory(kRam, sizeof buffer, buffer)
                            : link.ReadMemory(kRam, sizeof buffer, buffer);
    EXPECT_FALSE(ok);
    EXPECT_LT(board().Clocks() - before, 20000u);  // bounded
    if (c.code == kErrLinkBusy) {
        // The session start leaves it pending for the caller's report.
        EXPECT_EQ(link.m_nError, kErrLinkBusy);
        EXPECT_TRUE(observer.calls.empty());
        EXPECT_FALSE(link.ReportError());
    }
    EXPECT_EQ(observer.calls,
              std::vector<std::string>{"ShowStatus(" + LinkErrorText(c.code) + ")"});
    EXPECT_EQ(link.m_nError, -1);
    EXPECT_FALSE(link.ReportError());
    EXPECT_EQ(observer.calls.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Knobs, LinkKnobTest,
                         ::testing::Values(KnobCase{",busy", false, kErrLinkBusy},
                                           KnobCase{",busy", true, kErrLinkBusy},
                                           KnobCase{",no-target", false, kErrLinkBusy},
                                           KnobCase{",no-ack", true, kErrAckReceive},
                                           KnobCase{",no-ack", false, kErrAckReceive},
                                           KnobCase{",ack-delay=40", true, kErrAckReceive},
                                           KnobCase{",bad-header", false, kErrNoPeekReply},
                                           KnobCase{",bad-length", false, kErrPeekLength}));

TEST_F(LinkBoardTest, TargetFallingSilentMidReplyGives104WithPartialCount) {
    ASSERT_TRUE(OpenBoard());
    const auto data = Pattern(256, 9);
    board().WriteBytes(kRam, data.data(), data.size());
    wire().beforeRead = [this](uint64_t reads) {
        if (reads == 1500) board().mutable_options().tdo = sim::Options::Tdo::StuckLow;
    };
    link.SetProgressMode(ProgressMode::kRead);
    std::vector<uint8_t> back(256);
    EXPECT_FALSE(link.ReadMemory(kRam, 256, back.data()));
    wire().beforeRead = nullptr;
    EXPECT_GT(link.m_nLastCount, 0u);
    EXPECT_LT(link.m_nLastCount, 256u);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + link.m_nLastCount, back.begin()));
    EXPECT_EQ(observer.Matching("SetProgress(").back(),
              "SetProgress(" + std::to_string(link.m_nLastCount) + ")");
    EXPECT_EQ(observer.calls.back(), "ShowStatus(Erreur Attente Start)");
    EXPECT_EQ(StatusCount(), 1u);
}

// Sending while the target is still replying: the byte is resynced and resent whole or
// fails; either way the next session drains the line and works.
TEST_F(LinkBoardTest, SendingIntoAReplyResyncsAndTheNextSessionRecovers) {
    ASSERT_TRUE(OpenBoard());
    const auto data = Pattern(16, 5);
    board().WriteBytes(kRam, data.data(), data.size());
    ASSERT_TRUE(link.BeginSession());
    for (uint8_t b : {uint8_t{0x11}, uint8_t{0x00}, uint8_t{0x00}, uint8_t{0x00}, uint8_t{0x80}}) {
        ASSERT_TRUE(link.SendByte(b));
    }
    const uint64_t before = board().Clocks();
    link.SendByte(0x00);  // the 16-byte reply is on its way
    EXPECT_LT(board().Clocks() - before, 200u);
    link.EndSession();
    std::vector<uint8_t> back(16);
    EXPECT_TRUE(link.ReadMemory(kRam, 16, back.data()));
    EXPECT_EQ(back, data);
    EXPECT_EQ(Backdoor(kRam, 16), data);
}

TEST_F(LinkBoardTest, NoisyLinkNeverReturnsWrongDataAsSuccess) {
    for (int seed = 1; seed <= 6; ++seed) {
        ASSERT_TRUE(OpenBoard(",noise=0.5,seed=" + std::to_string(seed)));
        const auto data = Pattern(64, 1);
        board().WriteBytes(kRam, data.data(), data.size());
        std::vector<uint8_t> back(64);
        const bool ok = link.ReadMemory(kRam, 64, back.data());
        EXPECT_TRUE(!ok || back == data) << seed;
        const auto other = Pattern(64, 2);
        if (link.WriteMemory(kRam, 64, other.data())) {
            EXPECT_EQ(Backdoor(kRam, 64), other) << seed;
        }
    }
}

}  // namespace
